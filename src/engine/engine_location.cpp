#include "engine_location.h"

#include <windows.h>
#include <string.h>

#include "../support/text_buffer.h"

namespace {
const char kInstallerKey[] = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Installer";
const char kInstallerLocationValue[] = "InstallerLocation";
const char kEngineFileName[] = "\\msiexec.exe";
}  // namespace

int IsSystemVersion52() {
  OSVERSIONINFOA version;
  ZeroMemory(&version, sizeof version);
  version.dwOSVersionInfoSize = sizeof version;
  GetVersionExA(&version);
  return version.dwMajorVersion == 5 && version.dwMinorVersion == 2;
}

namespace {

// Finds the engine's folder into buffer. Returns 1, or 0 when it is not recorded or does not
// fit; the buffer may then hold anything.
int LocateEngineFolder(char* buffer, size_t capacity) {
  if (IsSystemVersion52()) {
    UINT length = GetSystemDirectoryA(buffer, static_cast<UINT>(capacity));
    return length != 0 && length < capacity;
  }
  HKEY key = nullptr;
  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, kInstallerKey, 0, KEY_READ, &key) != ERROR_SUCCESS) return 0;
  DWORD byteCount = static_cast<DWORD>(capacity);
  // The type is not examined: whatever is stored is used as the folder text.
  LONG read = RegQueryValueExA(key, kInstallerLocationValue, nullptr, nullptr,
                               reinterpret_cast<BYTE*>(buffer), &byteCount);
  RegCloseKey(key);
  if (read != ERROR_SUCCESS) return 0;
  // Data that fills the buffer with no terminator is a folder that does not fit.
  if (memchr(buffer, '\0', byteCount) == nullptr) {
    if (byteCount >= capacity) return 0;
    buffer[byteCount] = '\0';
  }
  return 1;
}

}  // namespace

int LocateInstallerEngine(char* buffer, size_t capacity) {
  if (capacity == 0) return 0;
  // Appended even after a trailing backslash: the engine accepts the doubled one.
  if (LocateEngineFolder(buffer, capacity) && AppendText(buffer, capacity, kEngineFileName)) return 1;
  // Callers that do not test the result (the update-service phase) must find no folder
  // to start, and no text without an end.
  buffer[0] = '\0';
  return 0;
}
