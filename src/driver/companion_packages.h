#pragma once
// After a silent install the wrapper installs the companion runtime and database packages
// that the kit put into its home folder (the product installs them itself only in its
// full interface), then deletes their files.
#include <stddef.h>
#include <stdint.h>

#include "command_line.h"

// Capacity of the kit home and of every path and command line built from it.
constexpr size_t kKitTextCapacity = 1024;

// Reads "ZelvanHome" of the kit's registry key into buffer, converted exactly into the code
// page (by the folder's short form where only that converts). Returns 1, else 0 with buffer
// "": no value, or one that no narrow text names exactly.
int ReadKitHome(char* buffer, unsigned long capacity);

// 1 when a directory search finds path (a folder of that name counts), else 0.
int FileExists(const char* path);

// Installs rtq.msi and zelvandb.msi from the kit home when present and deletes them and the
// runtime's two transforms. Changes nothing the caller sees; failures end only their step.
void InstallCompanionPackages(const char* enginePath, uint16_t transformLanguage,
                              const WrapperOptions* options);

// The two command lines. Each returns 1, or 0 when the result would not fit kKitTextCapacity.
int FormatRuntimeCommandLine(char* commandLine, const char* enginePath, const char* packagePath,
                             const char* kitHome, uint16_t transformLanguage,
                             const char* installDir);
int FormatDatabaseCommandLine(char* commandLine, const char* enginePath, const char* packagePath,
                              const char* installDir);
