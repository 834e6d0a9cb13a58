// A child for the runner tests. Its arguments are keywords, in any order and at any position,
// so a command line of any shape (one beginning with a blank, installer-like switches before
// them) still works:
//   code=<n>       exit code, decimal; may be negative or above 2^31 (0 when absent)
//   record=<file>  append the raw command line (GetCommandLineA) and a line feed to file
//   sleep=<ms>     sleep this long before exiting
#include <windows.h>
#include <stdlib.h>
#include <string.h>

int main(int argc, char** argv) {
  long long code = 0;
  for (int i = 0; i < argc; ++i) {
    const char* argument = argv[i];
    if (strncmp(argument, "record=", 7) == 0) {
      HANDLE file = CreateFileA(argument + 7, FILE_APPEND_DATA, FILE_SHARE_READ, nullptr,
                                OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
      if (file != INVALID_HANDLE_VALUE) {
        const char* line = GetCommandLineA();
        DWORD written = 0;
        WriteFile(file, line, lstrlenA(line), &written, nullptr);
        WriteFile(file, "\n", 1, &written, nullptr);
        CloseHandle(file);
      }
    } else if (strncmp(argument, "sleep=", 6) == 0) {
      Sleep(static_cast<DWORD>(strtoul(argument + 6, nullptr, 10)));
    } else if (strncmp(argument, "code=", 5) == 0) {
      code = strtoll(argument + 5, nullptr, 10);
    }
  }
  return static_cast<int>(code);
}
