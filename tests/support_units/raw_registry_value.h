#pragma once
// Writing a registry value with exactly the bytes given. The platform adds a terminator to a
// string value whose count left it out when the byte after the data is zero (as it is after
// a std::string's data), so the data is copied with a non-zero byte behind it.
#include <windows.h>

#include <string>
#include <vector>

inline bool SetRawRegistryValue(const std::string& key, const std::string& name, DWORD type,
                                const std::string& data) {
  std::vector<char> bytes(data.begin(), data.end());
  bytes.push_back('X');
  HKEY opened = nullptr;
  if (RegCreateKeyExA(HKEY_LOCAL_MACHINE, key.c_str(), 0, nullptr, 0, KEY_WRITE, nullptr, &opened,
                      nullptr) != ERROR_SUCCESS) {
    return false;
  }
  bool ok = RegSetValueExA(opened, name.c_str(), 0, type, reinterpret_cast<const BYTE*>(bytes.data()),
                           static_cast<DWORD>(data.size())) == ERROR_SUCCESS;
  RegCloseKey(opened);
  return ok;
}
