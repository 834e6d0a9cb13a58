#include "staging_folder.h"

#include <shlobj.h>
#include <string.h>
#include <wchar.h>

#include "../support/exact_narrow_path.h"
#include "../support/library_loading.h"
#include "../support/text_buffer.h"
#include "build_constants.h"
#include "held_folders.h"

namespace {

int versionTested = 0;
int versionIsNt6 = 0;
FolderLibraryLoader folderLibraryLoader = LoadSystemLibrary;

constexpr int kFolderAppData = 26;  // CSIDL_APPDATA

// {A520A1A4-1780-4FF6-BD18-167343C5AF16}
const GUID kFolderLocalAppDataLow = {
    0xA520A1A4, 0x1780, 0x4FF6, {0xBD, 0x18, 0x16, 0x73, 0x43, 0xC5, 0xAF, 0x16}};
// {F1B32785-6FBA-4FCF-9D55-7B8E7F157091}
const GUID kFolderLocalAppData = {
    0xF1B32785, 0x6FBA, 0x4FCF, {0x9D, 0x55, 0x7B, 0x8E, 0x7F, 0x15, 0x70, 0x91}};

typedef HRESULT(WINAPI* GetKnownFolderPathFunction)(const GUID&, DWORD, HANDLE, PWSTR, UINT);
typedef HRESULT(WINAPI* GetFolderPathFunction)(HWND, int, HANDLE, DWORD, LPSTR);
typedef BOOL(WINAPI* GetSpecialFolderPathFunction)(HWND, LPSTR, int, BOOL);
typedef HRESULT(WINAPI* GetFolderPathWideFunction)(HWND, int, HANDLE, DWORD, LPWSTR);
typedef BOOL(WINAPI* GetSpecialFolderPathWideFunction)(HWND, LPWSTR, int, BOOL);

// The lookups below write at most 260 bytes; a result without a terminator inside the
// buffer would be a path cut short, so it counts as one that does not fit.
int EndsInsideBuffer(char* buffer) {
  if (memchr(buffer, '\0', kPathCapacity) != nullptr) return 1;
  buffer[0] = '\0';
  SetLastError(ERROR_FILENAME_EXCED_RANGE);
  return 0;
}

// A folder the system gave as wide text (terminated within wideCapacity), into buffer
// exactly or by its short name: the "A" lookups would hand over a best-fit look-alike,
// possibly another user's folder. An empty answer leaves buffer as it was.
int TakeWideFolder(const WCHAR* wide, size_t wideCapacity, char* buffer) {
  if (wmemchr(wide, L'\0', wideCapacity) == nullptr) {
    buffer[0] = '\0';
    SetLastError(ERROR_FILENAME_EXCED_RANGE);
    return 0;
  }
  if (wide[0] == L'\0') return 1;
  // Converted into the buffer itself: it fits kPathCapacity or is refused and left "".
  return ConvertWidePathExactly(wide, buffer, kPathCapacity);
}

// Ends a preparation: the buffer is emptied and the reason left as the last error.
int Refuse(char* buffer, DWORD reason = ERROR_FILENAME_EXCED_RANGE) {
  buffer[0] = '\0';
  SetLastError(reason);
  return 0;
}

// Creates one level below the user data folder and holds it until the process ends, so that
// nothing can take its place. An existing folder is simply kept. A level that is a link, a
// file, missing or that cannot be held is refused: the wrapper runs elevated, and another
// process of the user could otherwise point its writes, and the engine's reads, anywhere.
int HoldChainFolder(char* buffer) {
  return HoldStagingFolder(buffer) ? 1 : Refuse(buffer, GetLastError());
}

int CreateChainFolder(char* buffer) {
  CreateDirectoryA(buffer, nullptr);
  return HoldChainFolder(buffer);
}

// The run's user data folder, held, where it really lies. It is looked up once per run, by
// the first preparation (the package's, on the main thread before the cabinet thread
// starts); every later path of the run is built on that answer, so a lookup that answers
// otherwise later in the run (a changed User Shell Folders value) changes nothing.
int GetHeldUserDataFolder(char* buffer, bool create) {
  if (GetRunUserDataFolder(buffer)) return 1;
  buffer[0] = '\0';
  if (!GetUserDataFolder(buffer)) return Refuse(buffer, GetLastError());
  // The user data folder may be anything the platform returns.
  if (create) CreateDirectoryA(buffer, nullptr);
  return HoldUserDataFolder(buffer) ? 1 : Refuse(buffer, GetLastError());
}

// Levels 2 to 4 below the user data folder in buffer; leaves the staging folder in buffer.
int CreateStagingChain(char* buffer, const char* suffix) {
  if (!FormatText(buffer, kPathCapacity, "%s\\Orvik\\", buffer)) return Refuse(buffer);
  if (!CreateChainFolder(buffer)) return 0;
  if (!FormatText(buffer, kPathCapacity, "%sZelvan\\", buffer)) return Refuse(buffer);
  if (!CreateChainFolder(buffer)) return 0;
  if (!FormatText(buffer, kPathCapacity, "%s%s%s%s", buffer, ProductKind, ProductVersion, suffix)) {
    return Refuse(buffer);
  }
  return CreateChainFolder(buffer);
}

}  // namespace

void SetFolderLibraryLoaderForTesting(FolderLibraryLoader loader) {
  folderLibraryLoader = loader != nullptr ? loader : LoadSystemLibrary;
}

int IsNtVersion6() {
  if (versionTested) return versionIsNt6;
  OSVERSIONINFOA version;
  ZeroMemory(&version, sizeof version);
  version.dwOSVersionInfoSize = sizeof version;
  GetVersionExA(&version);
  versionIsNt6 = version.dwPlatformId == VER_PLATFORM_WIN32_NT && version.dwMajorVersion == 6;
  versionTested = 1;
  return versionIsNt6;
}

int GetLocalLowFolder(char* buffer) {
  HMODULE shell = folderLibraryLoader("shell32.dll");
  if (shell == nullptr) return 1;
  GetKnownFolderPathFunction getKnownFolderPath =
      LookUpFunction<GetKnownFolderPathFunction>(shell, "SHGetFolderPathEx");
  if (getKnownFolderPath == nullptr) {
    FreeLibrary(shell);
    return 1;
  }
  // Room for the 260 characters the lookup may return plus the appended "Low".
  WCHAR wide[kPathCapacity + 3] = {};
  if (getKnownFolderPath(kFolderLocalAppDataLow, 0, nullptr, wide, kPathCapacity) != S_OK) {
    if (getKnownFolderPath(kFolderLocalAppData, 0, nullptr, wide, kPathCapacity) != S_OK) {
      FreeLibrary(shell);
      return 1;
    }
    lstrcatW(wide, L"Low");
  }
  FreeLibrary(shell);
  return TakeWideFolder(wide, sizeof wide / sizeof wide[0], buffer);
}

int GetProfileFolder(char* buffer) {
  if (buffer == nullptr) return 1;
  WCHAR wide[kPathCapacity] = {};
  DWORD length = GetEnvironmentVariableW(L"USERPROFILE", wide, kPathCapacity);
  if (length >= kPathCapacity) return Refuse(buffer);
  if (length == 0) {
    length = GetWindowsDirectoryW(wide, kPathCapacity);
    if (length >= kPathCapacity) return Refuse(buffer);
  }
  return TakeWideFolder(wide, kPathCapacity, buffer);
}

int GetUserDataFolder(char* buffer) {
  if (IsNtVersion6()) return GetLocalLowFolder(buffer);

  int fits = 1;
  // The wide form of each lookup where the library has it, so that the answer converts
  // exactly; the narrow one otherwise.
  WCHAR wide[kPathCapacity] = {};
  HMODULE loaded = folderLibraryLoader("shfolder.dll");
  if (loaded != nullptr) {
    auto getFolderPathWide = LookUpFunction<GetFolderPathWideFunction>(loaded, "SHGetFolderPathW");
    auto getFolderPath = LookUpFunction<GetFolderPathFunction>(loaded, "SHGetFolderPathA");
    if (getFolderPathWide != nullptr) {
      getFolderPathWide(nullptr, kFolderAppData, nullptr, 0, wide);
      fits = TakeWideFolder(wide, kPathCapacity, buffer);
    } else if (getFolderPath != nullptr) {
      getFolderPath(nullptr, kFolderAppData, nullptr, 0, buffer);
      fits = EndsInsideBuffer(buffer);
    } else {
      fits = GetProfileFolder(buffer);  // shell32.dll is not tried in this case
    }
  } else {
    loaded = folderLibraryLoader("shell32.dll");
    auto getSpecialFolderPathWide =
        LookUpFunction<GetSpecialFolderPathWideFunction>(loaded, "SHGetSpecialFolderPathW");
    GetSpecialFolderPathFunction getSpecialFolderPath =
        LookUpFunction<GetSpecialFolderPathFunction>(loaded, "SHGetSpecialFolderPathA");
    if (getSpecialFolderPathWide != nullptr) {
      getSpecialFolderPathWide(nullptr, wide, kFolderAppData, TRUE);
      fits = TakeWideFolder(wide, kPathCapacity, buffer);
    } else if (getSpecialFolderPath != nullptr) {
      getSpecialFolderPath(nullptr, buffer, kFolderAppData, TRUE);
      fits = EndsInsideBuffer(buffer);
    } else {
      fits = GetProfileFolder(buffer);
    }
  }
  if (loaded != nullptr) FreeLibrary(loaded);
  return fits;
}

int PreparePackagePath(char* buffer, int amd64) {
  if (!GetHeldUserDataFolder(buffer, true)) return 0;
  if (!CreateStagingChain(buffer, amd64 ? X64Suffix : "")) return 0;
  if (!FormatText(buffer, kPathCapacity, "%s\\%s%s.msi", buffer, ProductKind, ProductVersion)) {
    return Refuse(buffer);
  }
  return 1;
}

int PrepareCabinetPath(char* buffer, const char* cabinetName, int amd64) {
  if (!GetHeldUserDataFolder(buffer, false)) return 0;
  if (!CreateStagingChain(buffer, amd64 ? X64Suffix : "")) return 0;
  if (!FormatText(buffer, kPathCapacity, "%s\\%s.cab", buffer, cabinetName)) return Refuse(buffer);
  return 1;
}

int PrepareUpdateServiceFolder(char* buffer) {
  if (!GetHeldUserDataFolder(buffer, false)) return 0;
  // Only the last level is created here; the two above it, made by the package's
  // preparation, are held all the same.
  if (!FormatText(buffer, kPathCapacity, "%s\\Orvik\\", buffer)) return Refuse(buffer);
  if (!HoldChainFolder(buffer)) return 0;
  if (!FormatText(buffer, kPathCapacity, "%sZelvan\\", buffer)) return Refuse(buffer);
  if (!HoldChainFolder(buffer)) return 0;
  if (!FormatText(buffer, kPathCapacity, "%sAU\\", buffer)) return Refuse(buffer);
  return CreateChainFolder(buffer);
}
