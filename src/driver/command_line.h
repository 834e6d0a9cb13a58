#pragma once
// The wrapper's own switches, and the option string: everything else on the command line,
// handed on to the installer engine.
//   /s                       silent install (the engine gets /qn and default features)
//   /v<text>, /v"<text>"     <text> goes to the engine, framed by blanks
//   /lang=<number>           transform language, when this build supports it
//   /INSTALLDIRPUBRTQ=<dir>  folder for the companion runtime package
//   /INSTALLDIRZELVANDB=<dir> folder for the companion database package
#include <stddef.h>
#include <stdint.h>

// Capacity of the option string and of each folder, terminator included.
constexpr size_t kOptionCapacity = 1024;

struct WrapperOptions {
  uint16_t transformLanguage;
  char optionString[kOptionCapacity];
  bool silent;
  bool addLocalGiven;
  char runtimeInstallDir[kOptionCapacity];
  char databaseInstallDir[kOptionCapacity];
};

// Sets every field to its default, with the given default transform language.
void ResetWrapperOptions(WrapperOptions* options, uint16_t defaultLanguage);

// Reads arguments 1 to argc-1 into options. Returns 1, or 0 when the option string or a
// folder would not fit its buffer (the caller refuses the command line; nothing was cut).
int ParseCommandLine(int argc, const char* const* argv, WrapperOptions* options);

// The "/lang=" value: the text after the first "=", converted like atoi (white space, sign,
// digits) and reduced to its low 16 bits.
uint16_t ParseLanguageNumber(const char* text);
