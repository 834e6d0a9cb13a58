#include "main_command_line.h"

#include "../support/text_buffer.h"
#include "transform_language.h"

int ApplySilentAdditions(WrapperOptions* options) {
  if (!options->silent) return 1;
  if (!ContainsText(options->optionString, "/qn") &&
      !AppendText(options->optionString, kOptionCapacity, " /qn")) {
    return 0;
  }
  if (!options->addLocalGiven &&
      !AppendText(options->optionString, kOptionCapacity, " ADDLOCAL=PublicrtqFeature,ToolsFeature")) {
    return 0;
  }
  return 1;
}

int FormatMainCommandLine(char* commandLine, size_t capacity, const char* enginePath,
                          const char* packagePath, uint16_t transformLanguage,
                          const char* optionString) {
  // WRAPPER=1 tells the package to wait on the ready event before it reads a cabinet; the
  // colon in TRANSFORMS=: names a transform stored inside the package.
  if (transformLanguage == kNoTransformLanguage) {
    return FormatText(commandLine, capacity, "\"%s\" /i \"%s\" %s WRAPPER=1", enginePath,
                      packagePath, optionString);
  }
  return FormatText(commandLine, capacity, "\"%s\" /i \"%s\" TRANSFORMS=:%u %s WRAPPER=1",
                    enginePath, packagePath, static_cast<unsigned int>(transformLanguage),
                    optionString);
}
