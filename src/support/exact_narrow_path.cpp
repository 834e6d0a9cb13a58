#include "exact_narrow_path.h"

namespace {

constexpr int kLongestPath = 32768;

int Refuse(char* buffer, size_t capacity, DWORD reason) {
  if (capacity > 0) buffer[0] = '\0';
  SetLastError(reason);
  return 0;
}

// Compares wide with narrow read back through the code page, character for character.
// Catches what the "default character used" flag cannot: code pages for which the platform
// takes no such flag (UTF-8) and mappings that do not come back as they went.
int ReadsBackAs(const char* narrow, const WCHAR* wide) {
  int length = MultiByteToWideChar(CP_ACP, MB_ERR_INVALID_CHARS, narrow, -1, nullptr, 0);
  if (length <= 0 || length > kLongestPath) return 0;
  WCHAR* readBack = static_cast<WCHAR*>(LocalAlloc(LMEM_ZEROINIT, length * sizeof(WCHAR)));
  if (readBack == nullptr) return 0;
  int same = MultiByteToWideChar(CP_ACP, MB_ERR_INVALID_CHARS, narrow, -1, readBack, length) == length &&
             lstrcmpW(readBack, wide) == 0;
  LocalFree(readBack);
  return same;
}

// Converts into buffer and checks the result: 1, or 0 with the platform's error
// (ERROR_INSUFFICIENT_BUFFER when it does not fit) or ERROR_NO_UNICODE_TRANSLATION.
int ConvertAndCheck(const WCHAR* wide, char* buffer, int capacity) {
  // UTF-8 as the ANSI code page takes neither flag: every character converts there anyway,
  // and the read-back below catches the rest.
  bool utf8 = GetACP() == CP_UTF8;
  BOOL usedDefault = FALSE;
  int written = WideCharToMultiByte(CP_ACP, utf8 ? 0 : WC_NO_BEST_FIT_CHARS, wide, -1, buffer,
                                    capacity, nullptr, utf8 ? nullptr : &usedDefault);
  if (written == 0) {
    if (GetLastError() != ERROR_INSUFFICIENT_BUFFER) SetLastError(ERROR_NO_UNICODE_TRANSLATION);
    return 0;
  }
  if (usedDefault || !ReadsBackAs(buffer, wide)) {
    SetLastError(ERROR_NO_UNICODE_TRANSLATION);
    return 0;
  }
  return 1;
}

// 1 when text too long for the caller's buffer would still convert exactly: the platform
// reports the length before the characters, and a path whose short form fits must not be
// taken for one that is merely long.
int ConvertsExactly(const WCHAR* wide) {
  int needed = WideCharToMultiByte(CP_ACP, 0, wide, -1, nullptr, 0, nullptr, nullptr);
  if (needed <= 0 || needed > 2 * kLongestPath) return 0;
  char* narrow = static_cast<char*>(LocalAlloc(LMEM_ZEROINIT, needed));
  if (narrow == nullptr) return 0;
  int exact = ConvertAndCheck(wide, narrow, needed);
  LocalFree(narrow);
  return exact;
}

}  // namespace

int ConvertWideExactly(const WCHAR* wide, char* buffer, size_t capacity) {
  if (capacity == 0 || capacity > kLongestPath) return Refuse(buffer, capacity, ERROR_FILENAME_EXCED_RANGE);
  if (ConvertAndCheck(wide, buffer, static_cast<int>(capacity))) return 1;
  if (GetLastError() != ERROR_INSUFFICIENT_BUFFER) return Refuse(buffer, capacity, ERROR_NO_UNICODE_TRANSLATION);
  return Refuse(buffer, capacity,
                ConvertsExactly(wide) ? ERROR_FILENAME_EXCED_RANGE : ERROR_NO_UNICODE_TRANSLATION);
}

int ConvertWidePathExactly(const WCHAR* widePath, char* buffer, size_t capacity) {
  if (ConvertWideExactly(widePath, buffer, capacity)) return 1;
  DWORD reason = GetLastError();
  if (reason != ERROR_NO_UNICODE_TRANSLATION) return 0;
  DWORD length = GetShortPathNameW(widePath, nullptr, 0);
  if (length == 0 || length > kLongestPath) return Refuse(buffer, capacity, reason);
  WCHAR* shortPath = static_cast<WCHAR*>(LocalAlloc(LMEM_ZEROINIT, length * sizeof(WCHAR)));
  if (shortPath == nullptr) return Refuse(buffer, capacity, reason);
  DWORD got = GetShortPathNameW(widePath, shortPath, length);
  int converted = got != 0 && got < length && ConvertWideExactly(shortPath, buffer, capacity);
  DWORD error = converted ? ERROR_SUCCESS : GetLastError();
  LocalFree(shortPath);
  if (converted) return 1;
  // A short form too long for the buffer says more than "does not translate".
  return Refuse(buffer, capacity, error == ERROR_FILENAME_EXCED_RANGE ? error : reason);
}

int IsExactNarrowOf(const char* narrow, const WCHAR* wide) { return ReadsBackAs(narrow, wide); }
