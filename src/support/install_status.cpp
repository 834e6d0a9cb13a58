#include "install_status.h"

#include "registry_key.h"

namespace {
const char kSoftwareKey[] = "Software";
const char kVendorKey[] = "Halvern";
const char kInstallStatusValue[] = "InstallStatus";
}  // namespace

int ReadInstallStatus(char* buffer, unsigned long capacity) {
  RegistryKey software;
  if (software.Open(HKEY_LOCAL_MACHINE, kSoftwareKey, KEY_READ) != ERROR_SUCCESS) return 0;
  RegistryKey vendor;
  if (vendor.Open(software.Handle(), kVendorKey, KEY_READ) != ERROR_SUCCESS) return 0;
  DWORD byteCount = capacity;
  if (vendor.QueryString(buffer, kInstallStatusValue, &byteCount) != ERROR_SUCCESS) return 0;
  if (byteCount == 0 || lstrlenA(buffer) == 0) return 0;
  return 1;
  // Both keys close on every path, the vendor key first (reverse order of construction).
}

void ClearInstallStatus() {
  RegistryKey software;
  if (software.Open(HKEY_LOCAL_MACHINE, kSoftwareKey, KEY_READ) != ERROR_SUCCESS) return;
  RegistryKey vendor;
  if (vendor.Open(software.Handle(), kVendorKey, KEY_READ | KEY_WRITE) != ERROR_SUCCESS) return;
  RegDeleteValueA(vendor.Handle(), kInstallStatusValue);
  DWORD subkeys = 0;
  DWORD values = 0;
  LONG query = RegQueryInfoKeyA(vendor.Handle(), nullptr, nullptr, nullptr, &subkeys, nullptr,
                                nullptr, &values, nullptr, nullptr, nullptr, nullptr);
  if (query == ERROR_SUCCESS && subkeys == 0 && values == 0) {
    RegDeleteKeyA(software.Handle(), kVendorKey);
  }
  vendor.Close();
  software.Close();
}
