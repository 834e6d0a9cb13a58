#include "diagnostic_log.h"

#include <windows.h>
#include <time.h>

#include "log_record.h"

void WriteDiagnosticLog(const char* message) {
  char stamp[kLogStampCapacity] = {};
  time_t now = time(nullptr);
  FormatLogStamp(localtime(&now), stamp, sizeof stamp);

  char tmpDir[kLogPathCapacity] = {};
  char tempPath[kLogPathCapacity] = {};
  DWORD tmpDirLength = GetEnvironmentVariableA("TMPDIR", tmpDir, sizeof tmpDir);
  if (tmpDirLength >= sizeof tmpDir) return;  // too long for the path: drop the record
  if (tmpDirLength == 0) {
    tmpDir[0] = '\0';
    DWORD tempLength = GetTempPathA(sizeof tempPath, tempPath);
    if (tempLength == 0 || tempLength >= sizeof tempPath) return;
  }
  char path[kLogPathCapacity];
  if (!FormatLogPath(tmpDir, tempPath, path, sizeof path)) return;

  HANDLE file = CreateFileA(path, GENERIC_WRITE, FILE_SHARE_WRITE, nullptr, OPEN_ALWAYS,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return;
  SetFilePointer(file, 0, nullptr, FILE_END);
  DWORD written = 0;
  WriteFile(file, stamp, lstrlenA(stamp), &written, nullptr);
  WriteFile(file, message, lstrlenA(message), &written, nullptr);
  CloseHandle(file);
}
