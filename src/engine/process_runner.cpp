#include "process_runner.h"

#include "../support/exit_codes.h"
#include "../support/text_buffer.h"

namespace {

// CreateProcess may write into its command-line argument, so each run gets its own copy.
int CopyCommandLine(char* copy, const char* commandLine) {
  return CopyText(copy, kCommandLineCapacity, commandLine);
}

// The child's exit code, or fallback when the platform cannot tell it.
int ExitCodeOf(HANDLE process, int fallback) {
  DWORD exitCode = 0;
  if (!GetExitCodeProcess(process, &exitCode)) return fallback;
  return static_cast<int>(exitCode);
}

}  // namespace

int RunAndWait(const char* commandLine) {
  char writable[kCommandLineCapacity];
  if (!CopyCommandLine(writable, commandLine)) return kExitEngineNotStarted;
  STARTUPINFOA startup;
  ZeroMemory(&startup, sizeof startup);
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process;
  ZeroMemory(&process, sizeof process);
  if (!CreateProcessA(nullptr, writable, nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                      &process)) {
    return kExitEngineNotStarted;
  }
  WaitForSingleObject(process.hProcess, INFINITE);
  // A child whose exit code cannot be read has not reported success: the update-service
  // phase runs only after a main run that returned 0.
  int result = ExitCodeOf(process.hProcess, kExitEngineNotStarted);
  CloseHandle(process.hProcess);
  CloseHandle(process.hThread);
  return result;
}

int RunAndPumpMessages(const char* applicationPath, const char* commandLine) {
  char writable[kCommandLineCapacity];
  if (!CopyCommandLine(writable, commandLine)) return ERROR_BAD_LENGTH;
  STARTUPINFOA startup;
  ZeroMemory(&startup, sizeof startup);
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process;
  ZeroMemory(&process, sizeof process);
  if (!CreateProcessA(applicationPath, writable, nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                      &startup, &process)) {
    return static_cast<int>(GetLastError());
  }
  WaitWithMessagePump(process.hProcess);
  int result = ExitCodeOf(process.hProcess, 0);
  CloseHandle(process.hProcess);
  CloseHandle(process.hThread);
  return result;
}

void WaitWithMessagePump(HANDLE handle) {
  for (;;) {
    DWORD wait = MsgWaitForMultipleObjects(1, &handle, FALSE, INFINITE, 0xFF);
    if (wait == WAIT_OBJECT_0) return;
    if (wait != WAIT_OBJECT_0 + 1) return;  // the wait itself failed
    MSG message;
    while (PeekMessageA(&message, nullptr, 0, 0, PM_NOREMOVE)) {
      BOOL unicode = message.hwnd != nullptr && IsWindowUnicode(message.hwnd);
      BOOL got = unicode ? GetMessageW(&message, nullptr, 0, 0) : GetMessageA(&message, nullptr, 0, 0);
      // 0 is a quit message, -1 an error: neither is dispatched, and neither ends the wait.
      if (got > 0) {
        TranslateMessage(&message);
        if (unicode) {
          DispatchMessageW(&message);
        } else {
          DispatchMessageA(&message);
        }
      }
      if (WaitForSingleObject(handle, 0) == WAIT_OBJECT_0) return;
    }
  }
}
