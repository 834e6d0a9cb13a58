// Starts a command line and prints, to the result file, the wrapper's creation time as the
// kernel recorded it (100 ns units) and its exit code: "<creation> <exit code>".
// Usage: launch_timer.exe <result file> <command line...>
#include <windows.h>
#include <stdio.h>
#include <string.h>

int main(int argc, char** argv) {
  if (argc < 3) return 2;
  const char* commandLine = strstr(GetCommandLineA(), argv[2]);
  char writable[32768] = {};
  lstrcpynA(writable, commandLine, sizeof writable);
  STARTUPINFOA startup = {};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process = {};
  if (!CreateProcessA(nullptr, writable, nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &process)) {
    fprintf(stderr, "launch_timer: CreateProcessA failed with error %lu for: %s\n", GetLastError(), writable);
    return 3;
  }
  WaitForSingleObject(process.hProcess, INFINITE);
  FILETIME creation, exit, kernel, user;
  GetProcessTimes(process.hProcess, &creation, &exit, &kernel, &user);
  DWORD code = 0;
  GetExitCodeProcess(process.hProcess, &code);
  FILE* results = fopen(argv[1], "a");
  if (results == nullptr) return 4;
  fprintf(results, "%llu %lu\n",
          (static_cast<unsigned long long>(creation.dwHighDateTime) << 32) | creation.dwLowDateTime, code);
  fclose(results);
  return 0;
}
