// Stands in for shell32.dll or shfolder.dll in the staging-folder tests, through the folder
// library loader the tests substitute. What each lookup answers is read from the test
// process's environment at the time of the call, "STATUS|PATH" (STATUS decimal or 0x-hex):
//   FAKE_SHELL_LOCALLOW, FAKE_SHELL_LOCALAPPDATA   SHGetFolderPathEx for the two folders
//   FAKE_SHELL_APPDATA                             SHGetFolderPathA
//   FAKE_SHELL_SPECIAL                             SHGetSpecialFolderPathA (STATUS is the BOOL)
// An unset variable answers E_FAIL (FALSE) and writes nothing. A path that does not fit the
// caller's capacity is refused as the shell refuses it. Every call, with its arguments, is
// appended to FAKE_SHELL_CALLS.
#include <windows.h>
#include <stdlib.h>
#include <string.h>

namespace {

// {A520A1A4-1780-4FF6-BD18-167343C5AF16}
const GUID kLocalAppDataLow = {
    0xA520A1A4, 0x1780, 0x4FF6, {0xBD, 0x18, 0x16, 0x73, 0x43, 0xC5, 0xAF, 0x16}};
// {F1B32785-6FBA-4FCF-9D55-7B8E7F157091}
const GUID kLocalAppData = {
    0xF1B32785, 0x6FBA, 0x4FCF, {0x9D, 0x55, 0x7B, 0x8E, 0x7F, 0x15, 0x70, 0x91}};

constexpr LONG kFailure = static_cast<LONG>(0x80004005);          // E_FAIL
constexpr LONG kBufferTooSmall = static_cast<LONG>(0x8007007A);   // ERROR_INSUFFICIENT_BUFFER

char answerText[4096];

// Returns the status and points *path at the answer's path (null when unset).
LONG ReadAnswer(const char* variable, const char** path) {
  *path = nullptr;
  DWORD length = GetEnvironmentVariableA(variable, answerText, sizeof answerText);
  if (length == 0 || length >= sizeof answerText) return kFailure;
  char* bar = strchr(answerText, '|');
  if (bar == nullptr) return kFailure;
  *bar = '\0';
  *path = bar + 1;
  return static_cast<LONG>(strtoul(answerText, nullptr, 0));
}

void Record(const char* call) {
  static char calls[8192];
  DWORD length = GetEnvironmentVariableA("FAKE_SHELL_CALLS", calls, sizeof calls);
  if (length >= sizeof calls) length = 0;
  if (length + strlen(call) + 2 >= sizeof calls) return;
  calls[length] = '\0';
  strcat(calls, call);
  strcat(calls, ";");
  SetEnvironmentVariableA("FAKE_SHELL_CALLS", calls);
}

const char* Null(const void* pointer) { return pointer == nullptr ? "null" : "set"; }

}  // namespace

extern "C" __declspec(dllexport) HRESULT WINAPI SHGetFolderPathEx(const GUID* folder, DWORD flags,
                                                                  HANDLE token, LPWSTR path,
                                                                  UINT capacity) {
  const char* name = IsEqualGUID(*folder, kLocalAppDataLow) ? "LocalAppDataLow"
                     : IsEqualGUID(*folder, kLocalAppData)  ? "LocalAppData"
                                                            : "other";
  char call[256];
  wsprintfA(call, "SHGetFolderPathEx(%s,%lu,%s,%u)", name, flags, Null(token), capacity);
  Record(call);
  const char* answer = nullptr;
  LONG status = ReadAnswer(IsEqualGUID(*folder, kLocalAppDataLow) ? "FAKE_SHELL_LOCALLOW"
                           : IsEqualGUID(*folder, kLocalAppData) ? "FAKE_SHELL_LOCALAPPDATA"
                                                                  : "FAKE_SHELL_OTHER",
                           &answer);
  if (answer == nullptr) return status;
  if (strlen(answer) + 1 > capacity) return kBufferTooSmall;
  MultiByteToWideChar(CP_ACP, 0, answer, -1, path, static_cast<int>(capacity));
  return status;
}

extern "C" __declspec(dllexport) HRESULT WINAPI SHGetFolderPathA(HWND owner, int folder,
                                                                 HANDLE token, DWORD flags,
                                                                 LPSTR path) {
  char call[256];
  wsprintfA(call, "SHGetFolderPathA(%s,%d,%s,%lu)", Null(owner), folder, Null(token), flags);
  Record(call);
  const char* answer = nullptr;
  LONG status = ReadAnswer("FAKE_SHELL_APPDATA", &answer);
  if (answer == nullptr) return status;
  if (strlen(answer) + 1 > MAX_PATH) return kBufferTooSmall;
  strcpy(path, answer);
  return status;
}

extern "C" __declspec(dllexport) BOOL WINAPI SHGetSpecialFolderPathA(HWND owner, LPSTR path,
                                                                    int folder, BOOL create) {
  char call[256];
  wsprintfA(call, "SHGetSpecialFolderPathA(%s,%d,%d)", Null(owner), folder, create);
  Record(call);
  const char* answer = nullptr;
  LONG result = ReadAnswer("FAKE_SHELL_SPECIAL", &answer);
  if (answer == nullptr) return FALSE;
  if (strlen(answer) + 1 > MAX_PATH) return FALSE;
  strcpy(path, answer);
  return result;
}
