#include "command_line.h"

#include <string.h>

#include "../support/text_buffer.h"
#include "transform_language.h"

void ResetWrapperOptions(WrapperOptions* options, uint16_t defaultLanguage) {
  memset(options, 0, sizeof *options);
  options->transformLanguage = defaultLanguage;
}

uint16_t ParseLanguageNumber(const char* text) {
  while (*text == ' ' || (*text >= '\t' && *text <= '\r')) ++text;
  bool negative = false;
  if (*text == '+' || *text == '-') negative = *text++ == '-';
  // Wraps modulo 2^32 like the runtime's conversion; only the low 16 bits matter anyway.
  uint32_t value = 0;
  for (; *text >= '0' && *text <= '9'; ++text) value = value * 10u + static_cast<uint32_t>(*text - '0');
  if (negative) value = 0u - value;
  return static_cast<uint16_t>(value & 0xFFFFu);
}

namespace {

// Appends " " + the first length characters of text + " ".
int AppendFramedPiece(char* optionString, const char* text, size_t length) {
  size_t used = strlen(optionString);
  if (length + 2 >= kOptionCapacity - used) return 0;
  char* end = optionString + used;
  end[0] = ' ';
  memcpy(end + 1, text, length);
  end[length + 1] = ' ';
  end[length + 2] = '\0';
  return 1;
}

// The text after the first "=" of an argument that is known to contain one.
const char* AfterFirstEquals(const char* argument) { return strchr(argument, '=') + 1; }

int ApplyArgument(const char* argument, WrapperOptions* options) {
  if (ContainsText(argument, "/lang=")) {
    uint16_t language = ParseLanguageNumber(AfterFirstEquals(argument));
    if (IsSupportedTransformLanguage(language)) options->transformLanguage = language;
    return 1;
  }
  if (StartsWithText(argument, "/v\"")) {
    size_t length = strlen(argument);
    // The last character (normally the closing quote) is dropped whatever it is.
    return AppendFramedPiece(options->optionString, argument + 3, length > 4 ? length - 4 : 0);
  }
  if (StartsWithText(argument, "/v")) {
    return AppendFramedPiece(options->optionString, argument + 2, strlen(argument + 2));
  }
  if (strcmp(argument, "/s") == 0) {
    options->silent = true;
    return 1;
  }
  if (ContainsText(argument, "/INSTALLDIRPUBRTQ=")) {
    return CopyText(options->runtimeInstallDir, kOptionCapacity, AfterFirstEquals(argument));
  }
  if (ContainsText(argument, "/INSTALLDIRZELVANDB=")) {
    return CopyText(options->databaseInstallDir, kOptionCapacity, AfterFirstEquals(argument));
  }
  if (ContainsText(argument, "ADDLOCAL=")) options->addLocalGiven = true;
  return AppendText(options->optionString, kOptionCapacity, argument) &&
         AppendText(options->optionString, kOptionCapacity, " ");
}

}  // namespace

int ParseCommandLine(int argc, const char* const* argv, WrapperOptions* options) {
  for (int i = 1; i < argc; ++i) {
    if (!ApplyArgument(argv[i], options)) return 0;
  }
  return 1;
}
