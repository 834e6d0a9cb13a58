#include "library_loading.h"

#include "diagnostic_log.h"
#include "text_buffer.h"

namespace {

constexpr size_t kSystemPathCapacity = 260;
constexpr size_t kMessageCapacity = 1024;

// Logs one message. Every argument is bounded (a path holds at most 259 characters), so
// each message fits its 1023 characters.
void LogFailure(const char* format, int first, int second = 0) {
  char message[kMessageCapacity] = {};
  FormatText(message, sizeof message, format, first, second);
  WriteDiagnosticLog(message);
}

void LogPathFailure(const char* format, const char* path, int error) {
  char message[kMessageCapacity] = {};
  FormatText(message, sizeof message, format, path, error);
  WriteDiagnosticLog(message);
}

// Fills path with system-directory\name. Returns 1, 0 when the directory query failed
// (directoryResult tells how), -1 when the path does not fit 259 characters.
int FormatSystemLibraryPath(const char* name, char* path, UINT* directoryResult) {
  char directory[kSystemPathCapacity] = {};
  *directoryResult = GetSystemDirectoryA(directory, kSystemPathCapacity);
  if (*directoryResult == 0 || *directoryResult > kSystemPathCapacity) return 0;
  if (!FormatText(path, kSystemPathCapacity, "%s\\%s", directory, name)) return -1;
  return 1;
}

}  // namespace

HMODULE LoadSystemLibrary(const char* name) {
  char path[kSystemPathCapacity] = {};
  UINT directoryResult = 0;
  if (FormatSystemLibraryPath(name, path, &directoryResult) != 1) return nullptr;
  return LoadLibraryA(path);
}

HMODULE RTQ_System_LoadLibrary(const char* name) {
  char path[kSystemPathCapacity] = {};
  UINT directoryResult = 0;
  int formed = FormatSystemLibraryPath(name, path, &directoryResult);
  if (formed == 0) {
    DWORD error = GetLastError();
    LogFailure("GetSystemDirectory failed.  Return Code: %d, ErrorCode: %d",
               static_cast<int>(directoryResult), static_cast<int>(error));
    return nullptr;
  }
  if (formed < 0) {
    DWORD error = GetLastError();
    LogFailure("_snprintf failed.  ErrorCode: %d", static_cast<int>(error));
    return nullptr;
  }
  HMODULE module = LoadLibraryA(path);
  if (module == nullptr) {
    DWORD error = GetLastError();
    LogPathFailure("LoadLibrary(%s) failed.  ErrorCode: %d", path, static_cast<int>(error));
  }
  return module;
}

int HardenDllSearchPath(const char* directory) {
  HMODULE kernel = RTQ_System_LoadLibrary("kernel32.dll");
  if (kernel == nullptr) {
    DWORD error = GetLastError();
    LogFailure("RTQ_System_LoadLibrary(kernel32.dll) failed.  ErrorCode: %d",
               static_cast<int>(error));
    return 0;
  }
  typedef BOOL(WINAPI * SetDllDirectoryFunction)(LPCSTR);
  auto setDllDirectory = LookUpFunction<SetDllDirectoryFunction>(kernel, "SetDllDirectoryA");
  if (setDllDirectory == nullptr) {
    DWORD error = GetLastError();
    LogFailure("GetProcAddress(SetDllDirectory) failed.  ErrorCode: %d",
               static_cast<int>(error));
    FreeLibrary(kernel);
    return 0;
  }
  if (setDllDirectory(directory)) {
    FreeLibrary(kernel);
    return 1;
  }
  DWORD error = GetLastError();
  LogFailure("SetDllDirectory() failed.  ErrorCode: %d", static_cast<int>(error));
  FreeLibrary(kernel);
  return 0;
}
