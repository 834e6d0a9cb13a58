#include "engine_version_gate.h"

#include <windows.h>

#include "../support/library_loading.h"
#include "../support/text_buffer.h"
#include "engine_version.h"

namespace {
constexpr size_t kLibraryPathCapacity = 1024;
constexpr DWORD kVersionBlockSize = 1024;

typedef BOOL(WINAPI* GetFileVersionInfoFunction)(LPCSTR, DWORD, DWORD, LPVOID);
typedef BOOL(WINAPI* VerQueryValueFunction)(LPCVOID, LPCSTR, LPVOID*, PUINT);
}  // namespace

int CheckEngineLibraryVersion(const char* libraryPath) {
  // version.dll is loaded from the system directory at run time, never imported: an
  // installer started from a downloads folder must not pick up a planted copy.
  HMODULE versionLibrary = LoadSystemLibrary("version.dll");
  if (versionLibrary == nullptr) return 0;
  auto getFileVersionInfo = LookUpFunction<GetFileVersionInfoFunction>(
      versionLibrary, "GetFileVersionInfoA");
  auto verQueryValue = LookUpFunction<VerQueryValueFunction>(versionLibrary, "VerQueryValueA");
  int sufficient = 0;
  // Aligned: the fixed record inside is read as 32-bit words.
  DWORD block[kVersionBlockSize / sizeof(DWORD)] = {};
  VS_FIXEDFILEINFO* fixed = nullptr;
  UINT length = 0;
  if (getFileVersionInfo != nullptr && verQueryValue != nullptr &&
      getFileVersionInfo(libraryPath, 0, kVersionBlockSize, block) &&
      verQueryValue(block, "\\", reinterpret_cast<LPVOID*>(&fixed), &length) && fixed != nullptr) {
    sufficient = IsEngineVersionSufficient(fixed->dwFileVersionMS, fixed->dwFileVersionLS);
  }
  FreeLibrary(versionLibrary);
  return sufficient;
}

int CheckInstallerEngineVersion() {
  char path[kLibraryPathCapacity] = {};
  UINT length = GetSystemDirectoryA(path, kLibraryPathCapacity);
  if (length == 0 || length >= kLibraryPathCapacity) return 0;
  if (!AppendText(path, sizeof path, "\\msi.dll")) return 0;
  return CheckEngineLibraryVersion(path);
}
