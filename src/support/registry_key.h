#pragma once
// An owning handle of one open registry key. The key is closed by Close, by a later Open
// that succeeds, and on destruction; a failed Open keeps the key held before.
#include <windows.h>

class RegistryKey {
 public:
  RegistryKey() = default;
  ~RegistryKey();
  RegistryKey(const RegistryKey&) = delete;
  RegistryKey& operator=(const RegistryKey&) = delete;

  // Opens name under parent; returns the platform's error code (0 on success).
  LONG Open(HKEY parent, const char* name, REGSAM access);

  // Returns RegCloseKey's result, or 0 when nothing was held; afterwards nothing is held.
  LONG Close();

  // Reads a string value into buffer. byteCount is the capacity in and the value's size out.
  // Returns 0, 13 when the value is not a terminated string (absent values included), 234
  // when it is larger than the buffer, or another platform code.
  LONG QueryString(char* buffer, const char* valueName, DWORD* byteCount);

  // The same for wide text, as the system holds it: no conversion to the code page on the
  // way, so the caller can convert exactly or refuse. byteCount counts bytes, not characters.
  LONG QueryWideString(WCHAR* buffer, const WCHAR* valueName, DWORD* byteCount);

  HKEY Handle() const { return key_; }

 private:
  HKEY key_ = nullptr;
};
