#include "diagnostic_log.h"

#include <windows.h>
#include <time.h>

#include "exact_narrow_path.h"
#include "log_record.h"

void WriteDiagnosticLog(const char* message) {
  char stamp[kLogStampCapacity] = {};
  time_t now = time(nullptr);
  FormatLogStamp(localtime(&now), stamp, sizeof stamp);

  // Both folders are read as wide text and converted exactly: a best-fit look-alike of a
  // folder outside the code page would put the record into another folder. A folder that no
  // narrow text names exactly, or one too long for the path, drops the record.
  WCHAR wideFolder[kLogPathCapacity] = {};
  char tmpDir[kLogPathCapacity] = {};
  char tempPath[kLogPathCapacity] = {};
  DWORD tmpDirLength = GetEnvironmentVariableW(L"TMPDIR", wideFolder, kLogPathCapacity);
  if (tmpDirLength >= kLogPathCapacity) return;
  if (tmpDirLength > 0) {
    if (!ConvertWidePathExactly(wideFolder, tmpDir, sizeof tmpDir)) return;
  } else {
    DWORD tempLength = GetTempPathW(kLogPathCapacity, wideFolder);
    if (tempLength == 0 || tempLength >= kLogPathCapacity) return;
    if (!ConvertWidePathExactly(wideFolder, tempPath, sizeof tempPath)) return;
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
