#include "registry_key.h"

#include "registry_string.h"

RegistryKey::~RegistryKey() { Close(); }

LONG RegistryKey::Open(HKEY parent, const char* name, REGSAM access) {
  HKEY opened = nullptr;
  LONG result = RegOpenKeyExA(parent, name, 0, access, &opened);
  if (result != ERROR_SUCCESS) return result;
  // Release the old key only once the new one is open.
  LONG closed = Close();
  key_ = opened;
  return closed;
}

LONG RegistryKey::Close() {
  if (key_ == nullptr) return ERROR_SUCCESS;
  LONG result = RegCloseKey(key_);
  key_ = nullptr;
  return result;
}

LONG RegistryKey::QueryString(char* buffer, const char* valueName, DWORD* byteCount) {
  DWORD type = REG_NONE;
  LONG result = RegQueryValueExA(key_, valueName, nullptr, &type,
                                 reinterpret_cast<BYTE*>(buffer), byteCount);
  if (result == ERROR_MORE_DATA) return result;
  // A failed read may report any count; only trust it after a successful one.
  DWORD count = result == ERROR_SUCCESS ? *byteCount : 0;
  if (!IsTerminatedStringData(type, reinterpret_cast<const unsigned char*>(buffer), count)) {
    return kRegistryInvalidData;
  }
  return result;
}

LONG RegistryKey::QueryWideString(WCHAR* buffer, const WCHAR* valueName, DWORD* byteCount) {
  DWORD type = REG_NONE;
  LONG result = RegQueryValueExW(key_, valueName, nullptr, &type, reinterpret_cast<BYTE*>(buffer),
                                 byteCount);
  if (result == ERROR_MORE_DATA) return result;
  DWORD count = result == ERROR_SUCCESS ? *byteCount : 0;
  if (!IsTerminatedWideStringData(type, reinterpret_cast<const unsigned char*>(buffer), count)) {
    return kRegistryInvalidData;
  }
  return result;
}
