#pragma once
// The installer command line of the main run (used again unchanged for a reinstall run):
//   "<engine>" /i "<package>" [TRANSFORMS=:<language> ]<option string> WRAPPER=1
#include <stddef.h>
#include <stdint.h>

#include "command_line.h"

// In silent mode: " /qn" unless the option string holds "/qn" already, then
// " ADDLOCAL=PublicrtqFeature,ToolsFeature" unless an argument gave ADDLOCAL=. Returns 1, or
// 0 when the option string would not fit (the command line could not either).
int ApplySilentAdditions(WrapperOptions* options);

// Formats the main command line. Returns 1, or 0 when it does not fit capacity.
int FormatMainCommandLine(char* commandLine, size_t capacity, const char* enginePath,
                          const char* packagePath, uint16_t transformLanguage,
                          const char* optionString);
