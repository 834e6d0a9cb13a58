#include "wow64_support.h"

#include "test_support.h"

bool SetRegistryStringInView(HKEY root, const std::string& key, const std::string& name,
                             const std::string& text, REGSAM view) {
  HKEY opened = nullptr;
  if (RegCreateKeyExA(root, key.c_str(), 0, nullptr, 0, KEY_WRITE | view, nullptr, &opened,
                      nullptr) != ERROR_SUCCESS) {
    return false;
  }
  bool ok = RegSetValueExA(opened, name.c_str(), 0, REG_SZ, reinterpret_cast<const BYTE*>(text.c_str()),
                           static_cast<DWORD>(text.size() + 1)) == ERROR_SUCCESS;
  RegCloseKey(opened);
  return ok;
}

bool ReadRegistryStringInView(HKEY root, const std::string& key, const std::string& name,
                              REGSAM view, std::string* text) {
  HKEY opened = nullptr;
  if (RegOpenKeyExA(root, key.c_str(), 0, KEY_READ | view, &opened) != ERROR_SUCCESS) return false;
  char buffer[4096] = {};
  DWORD size = sizeof buffer - 1;
  bool ok = RegQueryValueExA(opened, name.c_str(), nullptr, nullptr, reinterpret_cast<BYTE*>(buffer),
                             &size) == ERROR_SUCCESS;
  RegCloseKey(opened);
  if (ok) *text = buffer;
  return ok;
}

bool RegistryKeyExistsInView(HKEY root, const std::string& key, REGSAM view) {
  HKEY opened = nullptr;
  if (RegOpenKeyExA(root, key.c_str(), 0, KEY_READ | view, &opened) != ERROR_SUCCESS) return false;
  RegCloseKey(opened);
  return true;
}

void DeleteRegistryTreeInView(HKEY root, const std::string& key, REGSAM view) {
  HKEY opened = nullptr;
  if (RegOpenKeyExA(root, key.c_str(), 0, KEY_READ | KEY_WRITE | view, &opened) != ERROR_SUCCESS) {
    return;
  }
  for (;;) {
    char child[256] = {};
    DWORD size = sizeof child;
    if (RegEnumKeyExA(opened, 0, child, &size, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) {
      break;
    }
    DeleteRegistryTreeInView(root, key + "\\" + child, view);
  }
  RegCloseKey(opened);
  RegDeleteKeyExA(root, key.c_str(), view, 0);
}

SavedRegistryValue::SavedRegistryValue(HKEY root, const std::string& key, const std::string& name,
                                       REGSAM view)
    : root_(root), key_(key), name_(name), view_(view) {
  HKEY opened = nullptr;
  if (RegOpenKeyExA(root_, key_.c_str(), 0, KEY_READ | view_, &opened) != ERROR_SUCCESS) return;
  DWORD size = 0;
  if (RegQueryValueExA(opened, name_.c_str(), nullptr, &type_, nullptr, &size) == ERROR_SUCCESS) {
    data_.resize(size);
    hadValue_ = RegQueryValueExA(opened, name_.c_str(), nullptr, &type_, data_.data(), &size) ==
                ERROR_SUCCESS;
    data_.resize(size);
  }
  RegCloseKey(opened);
}

SavedRegistryValue::~SavedRegistryValue() {
  if (hadValue_) {
    Set(type_, std::string(data_.begin(), data_.end()));
  } else {
    Remove();
  }
}

bool SavedRegistryValue::Set(DWORD type, const std::string& bytes) {
  HKEY opened = nullptr;
  if (RegCreateKeyExA(root_, key_.c_str(), 0, nullptr, 0, KEY_WRITE | view_, nullptr, &opened,
                      nullptr) != ERROR_SUCCESS) {
    return false;
  }
  bool ok = RegSetValueExA(opened, name_.c_str(), 0, type, reinterpret_cast<const BYTE*>(bytes.data()),
                           static_cast<DWORD>(bytes.size())) == ERROR_SUCCESS;
  RegCloseKey(opened);
  return ok;
}

bool SavedRegistryValue::SetString(const std::string& text) {
  return Set(REG_SZ, std::string(text.c_str(), text.size() + 1));
}

void SavedRegistryValue::Remove() {
  HKEY opened = nullptr;
  if (RegOpenKeyExA(root_, key_.c_str(), 0, KEY_WRITE | view_, &opened) != ERROR_SUCCESS) return;
  RegDeleteValueA(opened, name_.c_str());
  RegCloseKey(opened);
}

NativeFileSystem::NativeFileSystem() { active_ = Wow64DisableWow64FsRedirection(&previous_) != 0; }

NativeFileSystem::~NativeFileSystem() {
  if (active_) Wow64RevertWow64FsRedirection(previous_);
}

bool NativePathExists(const std::string& path) {
  NativeFileSystem native;
  return native.active() && GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

std::string ReadNativeFile(const std::string& path) {
  NativeFileSystem native;
  return native.active() ? ReadFileText(path) : std::string();
}

ReplacedFile::ReplacedFile(const std::string& path, const std::string& replacement)
    : path_(path), original_(ReadFileText(path)) {
  std::string bytes = ReadFileText(replacement);
  replaced_ = !original_.empty() && !bytes.empty() && WriteFileText(path_, bytes);
}

ReplacedFile::~ReplacedFile() {
  if (replaced_) WriteFileText(path_, original_);
}

std::string SystemWow64Folder() {
  char folder[MAX_PATH] = {};
  UINT length = GetSystemWow64DirectoryA(folder, sizeof folder);
  return length > 0 && length < sizeof folder ? folder : "";
}

void CreateFolders(const std::string& folder) {
  for (size_t at = folder.find('\\', 3); at != std::string::npos; at = folder.find('\\', at + 1)) {
    CreateDirectoryA(folder.substr(0, at).c_str(), nullptr);
  }
  CreateDirectoryA(folder.c_str(), nullptr);
}
