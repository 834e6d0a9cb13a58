// A child for the runner tests: "exit_with.exe <code> [record-file]" appends its raw command
// line to record-file (when given) and exits with <code> (decimal, may be negative).
#include <windows.h>
#include <stdlib.h>

int main(int argc, char** argv) {
  if (argc >= 3) {
    HANDLE file = CreateFileA(argv[2], FILE_APPEND_DATA, FILE_SHARE_READ, nullptr, OPEN_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file != INVALID_HANDLE_VALUE) {
      const char* line = GetCommandLineA();
      DWORD written = 0;
      WriteFile(file, line, lstrlenA(line), &written, nullptr);
      WriteFile(file, "\n", 1, &written, nullptr);
      CloseHandle(file);
    }
  }
  return argc >= 2 ? static_cast<int>(strtoll(argv[1], nullptr, 10)) : 0;
}
