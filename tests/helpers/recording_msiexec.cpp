// A recording stand-in for msiexec.exe. Tests point the engine folder at it and read what
// the wrapper asked for. Driven by the environment it inherits from the wrapper:
//   WRAPPER_STANDIN_RECORD       file that receives each raw command line, one per line
//   WRAPPER_STANDIN_PROGRAMS     file that receives, for each call, the full path of the
//                                program that ran (which copy of the stand-in was started)
//   WRAPPER_STANDIN_EXIT_CODES   "0,1603,...": exit code of the 1st, 2nd, ... call (the last
//                                one repeats; default 0)
//   WRAPPER_STANDIN_STATUS       on the first call, store this text as InstallStatus under
//                                HKLM\Software\Halvern, as the product package does
//   WRAPPER_STANDIN_EVENT_RECORD on each call, wait up to 60 s for the ready event and append
//                                "signalled", "timeout" or "absent" to this file
//   WRAPPER_STANDIN_SLEEP_MS     on each call, stay alive this many milliseconds (after the
//                                event wait) so that tests can act while the engine runs
//   WRAPPER_STANDIN_COPY_DIR     on each call, after the sleep, read what an engine would: the
//                                package named after /i and every cabinet beside it, copied
//                                into the folder <this folder>\<call number>
#include <windows.h>
#include <stdlib.h>
#include <string.h>

namespace {

void AppendLine(const char* path, const char* text) {
  HANDLE file = CreateFileA(path, FILE_APPEND_DATA, FILE_SHARE_READ, nullptr, OPEN_ALWAYS,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return;
  DWORD written = 0;
  WriteFile(file, text, lstrlenA(text), &written, nullptr);
  WriteFile(file, "\n", 1, &written, nullptr);
  CloseHandle(file);
}

int CountLines(const char* path) {
  HANDLE file = CreateFileA(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                            OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return 0;
  int lines = 0;
  char chunk[4096];
  DWORD read = 0;
  while (ReadFile(file, chunk, sizeof chunk, &read, nullptr) && read > 0) {
    for (DWORD i = 0; i < read; ++i) lines += chunk[i] == '\n';
  }
  CloseHandle(file);
  return lines;
}

int ExitCodeForCall(int call) {
  char codes[512] = {};
  if (GetEnvironmentVariableA("WRAPPER_STANDIN_EXIT_CODES", codes, sizeof codes) == 0) return 0;
  char* cursor = codes;
  int code = 0;
  for (int i = 0; i <= call && *cursor != '\0'; ++i) {
    code = static_cast<int>(strtol(cursor, &cursor, 10));
    if (*cursor == ',') ++cursor;
  }
  return code;
}

void RecordReadyEvent(const char* path) {
  HANDLE event = nullptr;
  for (int i = 0; i < 50 && event == nullptr; ++i) {
    event = OpenEventA(SYNCHRONIZE, FALSE, "OrvikKZTCabExtractWaitEvent");
    if (event == nullptr) Sleep(20);
  }
  if (event == nullptr) {
    AppendLine(path, "absent");
    return;
  }
  AppendLine(path, WaitForSingleObject(event, 60000) == WAIT_OBJECT_0 ? "signalled" : "timeout");
  CloseHandle(event);
}

// The package of an installer command line: the quoted path after " /i ".
bool PackageOf(const char* commandLine, char* package, size_t capacity) {
  const char* start = strstr(commandLine, " /i \"");
  if (start == nullptr) return false;
  start += 5;
  const char* end = strchr(start, '"');
  if (end == nullptr || static_cast<size_t>(end - start) >= capacity) return false;
  memcpy(package, start, end - start);
  package[end - start] = '\0';
  return true;
}

void CopyWhatTheEngineReads(const char* folder, int call) {
  char package[MAX_PATH] = {};
  if (!PackageOf(GetCommandLineA(), package, sizeof package)) return;
  char target[MAX_PATH] = {};
  wsprintfA(target, "%s\\%d", folder, call);
  CreateDirectoryA(target, nullptr);
  char* name = strrchr(package, '\\');
  if (name == nullptr) return;
  char copy[MAX_PATH] = {};
  wsprintfA(copy, "%s\\%s", target, name + 1);
  CopyFileA(package, copy, FALSE);
  // The cabinets the package reads from its own folder.
  char pattern[MAX_PATH] = {};
  lstrcpynA(pattern, package, static_cast<int>(name - package) + 2);
  lstrcatA(pattern, "*.cab");
  WIN32_FIND_DATAA found;
  HANDLE search = FindFirstFileA(pattern, &found);
  if (search == INVALID_HANDLE_VALUE) return;
  do {
    char source[MAX_PATH] = {};
    lstrcpynA(source, package, static_cast<int>(name - package) + 2);
    lstrcatA(source, found.cFileName);
    wsprintfA(copy, "%s\\%s", target, found.cFileName);
    CopyFileA(source, copy, FALSE);
  } while (FindNextFileA(search, &found));
  FindClose(search);
}

}  // namespace

int main() {
  char record[MAX_PATH] = {};
  int call = 0;
  if (GetEnvironmentVariableA("WRAPPER_STANDIN_RECORD", record, sizeof record) != 0) {
    call = CountLines(record);
    AppendLine(record, GetCommandLineA());
  }
  char programs[MAX_PATH] = {};
  if (GetEnvironmentVariableA("WRAPPER_STANDIN_PROGRAMS", programs, sizeof programs) != 0) {
    char program[MAX_PATH] = {};
    GetModuleFileNameA(nullptr, program, sizeof program);
    AppendLine(programs, program);
  }
  char eventRecord[MAX_PATH] = {};
  if (GetEnvironmentVariableA("WRAPPER_STANDIN_EVENT_RECORD", eventRecord, sizeof eventRecord) != 0) {
    RecordReadyEvent(eventRecord);
  }
  char sleepMs[32] = {};
  if (GetEnvironmentVariableA("WRAPPER_STANDIN_SLEEP_MS", sleepMs, sizeof sleepMs) != 0) {
    Sleep(static_cast<DWORD>(strtoul(sleepMs, nullptr, 10)));
  }
  char copyFolder[MAX_PATH] = {};
  if (GetEnvironmentVariableA("WRAPPER_STANDIN_COPY_DIR", copyFolder, sizeof copyFolder) != 0) {
    CopyWhatTheEngineReads(copyFolder, call);
  }
  char status[512] = {};
  if (call == 0 && GetEnvironmentVariableA("WRAPPER_STANDIN_STATUS", status, sizeof status) != 0) {
    HKEY key = nullptr;
    if (RegCreateKeyExA(HKEY_LOCAL_MACHINE, "Software\\Halvern", 0, nullptr, 0, KEY_WRITE, nullptr,
                        &key, nullptr) == ERROR_SUCCESS) {
      RegSetValueExA(key, "InstallStatus", 0, REG_SZ, reinterpret_cast<const BYTE*>(status),
                     lstrlenA(status) + 1);
      RegCloseKey(key);
    }
  }
  return ExitCodeForCall(call);
}
