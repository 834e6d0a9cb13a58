#include "command_line_exactness.h"

#include <shellapi.h>

#include "../support/exact_narrow_path.h"

int AreArgumentsExact(int argc, const char* const* argv) {
  return AreArgumentsExactOf(GetCommandLineA(), GetCommandLineW(), argc, argv);
}

int AreArgumentsExactOf(const char* narrowLine, const WCHAR* wideLine, int argc,
                        const char* const* argv) {
  if (IsExactNarrowOf(narrowLine, wideLine)) return 1;
  int wideCount = 0;
  WCHAR** wideArguments = CommandLineToArgvW(wideLine, &wideCount);
  if (wideArguments == nullptr) return 0;
  int exact = wideCount == argc;
  for (int i = 1; exact && i < argc; ++i) exact = IsExactNarrowOf(argv[i], wideArguments[i]);
  LocalFree(wideArguments);
  return exact;
}
