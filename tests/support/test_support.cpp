#include "test_support.h"

#include <shlobj.h>
#include <stdio.h>
#include <stdlib.h>

#include "message_box_watcher.h"

const char kInstallerKey[] = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Installer";

std::string BuildDir() {
  const char* unixDir = getenv("WRAPPER_TEST_BUILD_DIR");
  std::string dir = unixDir != nullptr ? unixDir : ".";
  if (!dir.empty() && dir[0] == '/') dir = "Z:" + dir;
  for (char& c : dir) {
    if (c == '/') c = '\\';
  }
  return dir;
}

std::string BuildPath(const std::string& relative) {
  std::string path = BuildDir() + "\\" + relative;
  for (char& c : path) {
    if (c == '/') c = '\\';
  }
  return path;
}

std::string MakeScratchFolder(const std::string& name) {
  std::string folder = BuildPath("test-scratch");
  CreateDirectoryA(folder.c_str(), nullptr);
  folder += "\\" + name;
  DeleteTree(folder);
  CreateDirectoryA(folder.c_str(), nullptr);
  return folder;
}

std::string LocalLowFolder() {
  // {A520A1A4-1780-4FF6-BD18-167343C5AF16}
  const GUID localLow = {0xA520A1A4, 0x1780, 0x4FF6, {0xBD, 0x18, 0x16, 0x73, 0x43, 0xC5, 0xAF, 0x16}};
  PWSTR wide = nullptr;
  std::string folder;
  if (SHGetKnownFolderPath(localLow, 0, nullptr, &wide) == S_OK) {
    char narrow[MAX_PATH] = {};
    WideCharToMultiByte(CP_ACP, 0, wide, -1, narrow, sizeof narrow, nullptr, nullptr);
    folder = narrow;
  }
  CoTaskMemFree(wide);
  return folder;
}

std::wstring LocalLowFolderW() {
  const GUID localLow = {0xA520A1A4, 0x1780, 0x4FF6, {0xBD, 0x18, 0x16, 0x73, 0x43, 0xC5, 0xAF, 0x16}};
  PWSTR wide = nullptr;
  std::wstring folder;
  if (SHGetKnownFolderPath(localLow, 0, nullptr, &wide) == S_OK) folder = wide;
  CoTaskMemFree(wide);
  return folder;
}

bool StartChild(const std::string& commandLine, PROCESS_INFORMATION* process, DWORD* error) {
  STARTUPINFOA startup;
  ZeroMemory(&startup, sizeof startup);
  startup.cb = sizeof startup;
  ZeroMemory(process, sizeof *process);
  std::vector<char> writable(commandLine.begin(), commandLine.end());
  writable.push_back('\0');
  if (CreateProcessA(nullptr, writable.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                     &startup, process)) {
    return true;
  }
  DWORD code = GetLastError();
  fprintf(stderr, "StartChild: CreateProcessA failed with error %lu for the command line: %s\n",
          static_cast<unsigned long>(code), commandLine.c_str());
  fflush(stderr);
  if (error != nullptr) *error = code;
  return false;
}

::testing::AssertionResult Started(const ChildRun& run) {
  if (run.started) return ::testing::AssertionSuccess();
  return ::testing::AssertionFailure() << "CreateProcessA failed with error " << run.startError
                                       << " for the command line: " << run.commandLine;
}

namespace {
void WaitForChild(PROCESS_INFORMATION process, DWORD timeoutMs, ChildRun* run);
}  // namespace

ChildRun RunChild(const std::string& commandLine, DWORD timeoutMs) {
  ChildRun run;
  run.commandLine = commandLine;
  PROCESS_INFORMATION process;
  if (!StartChild(commandLine, &process, &run.startError)) return run;
  WaitForChild(process, timeoutMs, &run);
  return run;
}

ChildRun RunChildW(const std::wstring& commandLine, DWORD timeoutMs) {
  ChildRun run;
  run.commandLine = Utf8Of(commandLine);
  STARTUPINFOW startup;
  ZeroMemory(&startup, sizeof startup);
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process;
  ZeroMemory(&process, sizeof process);
  std::vector<wchar_t> writable(commandLine.begin(), commandLine.end());
  writable.push_back(L'\0');
  if (!CreateProcessW(nullptr, writable.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                      &startup, &process)) {
    run.startError = GetLastError();
    fprintf(stderr, "RunChildW: CreateProcessW failed with error %lu for the command line: %s\n",
            static_cast<unsigned long>(run.startError), run.commandLine.c_str());
    fflush(stderr);
    return run;
  }
  WaitForChild(process, timeoutMs, &run);
  return run;
}

namespace {
void WaitForChild(PROCESS_INFORMATION process, DWORD timeoutMs, ChildRun* result) {
  ChildRun& run = *result;
  run.started = true;
  DWORD start = GetTickCount();
  for (;;) {
    if (WaitForSingleObject(process.hProcess, 50) == WAIT_OBJECT_0) break;
    CloseBoxesOfProcess(process.dwProcessId, &run.boxes);
    if (GetTickCount() - start > timeoutMs) {
      run.timedOut = true;
      TerminateProcess(process.hProcess, 0xDEAD);
      WaitForSingleObject(process.hProcess, 5000);
      break;
    }
  }
  DWORD exitCode = 0;
  GetExitCodeProcess(process.hProcess, &exitCode);
  run.exitCode = static_cast<int>(exitCode);
  CloseHandle(process.hProcess);
  CloseHandle(process.hThread);
}
}  // namespace

namespace {
// Everything an open file holds from where it stands; closes it. Empty for no file.
std::string ReadAndClose(HANDLE file) {
  if (file == INVALID_HANDLE_VALUE) return std::string();
  std::string bytes;
  char chunk[65536];
  DWORD read = 0;
  while (ReadFile(file, chunk, sizeof chunk, &read, nullptr) && read > 0) bytes.append(chunk, read);
  CloseHandle(file);
  return bytes;
}
}  // namespace

std::string ReadFileText(const std::string& path) {
  return ReadAndClose(CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                  nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
}

std::string ReadFileTextW(const std::wstring& path) {
  return ReadAndClose(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                  nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
}

bool PathExistsW(const std::wstring& path) {
  return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

bool WriteFileText(const std::string& path, const std::string& bytes) {
  HANDLE file = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  DWORD written = 0;
  bool ok = bytes.empty() ||
            (WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) &&
             written == bytes.size());
  CloseHandle(file);
  return ok;
}

bool PathExists(const std::string& path) {
  return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

bool IsDirectory(const std::string& path) {
  DWORD attributes = GetFileAttributesA(path.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

long long FileSize(const std::string& path) {
  WIN32_FILE_ATTRIBUTE_DATA data;
  if (!GetFileAttributesExA(path.c_str(), GetFileExInfoStandard, &data)) return -1;
  return (static_cast<long long>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
}

// Wide, so that names outside the code page (which a narrow search only sees as "?") go too.
void DeleteTreeW(const std::wstring& path) {
  DWORD attributes = GetFileAttributesW(path.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) return;
  if (attributes & FILE_ATTRIBUTE_DIRECTORY) {
    WIN32_FIND_DATAW found;
    HANDLE search = FindFirstFileW((path + L"\\*").c_str(), &found);
    if (search != INVALID_HANDLE_VALUE) {
      do {
        std::wstring name = found.cFileName;
        if (name != L"." && name != L"..") DeleteTreeW(path + L"\\" + name);
      } while (FindNextFileW(search, &found));
      FindClose(search);
    }
    RemoveDirectoryW(path.c_str());
  } else {
    SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_NORMAL);
    DeleteFileW(path.c_str());
  }
}

void DeleteTree(const std::string& path) { DeleteTreeW(WideOf(path)); }

std::wstring WideOf(const std::string& narrow) {
  int length = MultiByteToWideChar(CP_ACP, 0, narrow.c_str(), -1, nullptr, 0);
  if (length <= 0) return std::wstring();
  std::wstring wide(length, L'\0');
  MultiByteToWideChar(CP_ACP, 0, narrow.c_str(), -1, &wide[0], length);
  wide.resize(length - 1);
  return wide;
}

std::string Utf8Of(const std::wstring& wide) {
  int length = WideCharToMultiByte(CP_UTF8, 0, wide.c_str(), -1, nullptr, 0, nullptr, nullptr);
  if (length <= 0) return std::string();
  std::string text(length, '\0');
  WideCharToMultiByte(CP_UTF8, 0, wide.c_str(), -1, &text[0], length, nullptr, nullptr);
  text.resize(length - 1);
  return text;
}

std::vector<std::string> SplitLines(const std::string& text) {
  std::vector<std::string> lines;
  size_t start = 0;
  while (start < text.size()) {
    size_t end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    std::string line = text.substr(start, end - start);
    if (!line.empty() && line.back() == '\r') line.pop_back();
    lines.push_back(line);
    start = end + 1;
  }
  return lines;
}

bool SetRegistryValue(HKEY root, const std::string& key, const std::string& name, DWORD type,
                      const void* data, DWORD size) {
  HKEY opened = nullptr;
  if (RegCreateKeyExA(root, key.c_str(), 0, nullptr, 0, KEY_WRITE, nullptr, &opened, nullptr) !=
      ERROR_SUCCESS) {
    return false;
  }
  bool ok = RegSetValueExA(opened, name.c_str(), 0, type, static_cast<const BYTE*>(data), size) ==
            ERROR_SUCCESS;
  RegCloseKey(opened);
  return ok;
}

bool SetRegistryString(HKEY root, const std::string& key, const std::string& name,
                       const std::string& text) {
  return SetRegistryValue(root, key, name, REG_SZ, text.c_str(), static_cast<DWORD>(text.size() + 1));
}

bool ReadRegistryString(HKEY root, const std::string& key, const std::string& name,
                        std::string* text) {
  HKEY opened = nullptr;
  if (RegOpenKeyExA(root, key.c_str(), 0, KEY_READ, &opened) != ERROR_SUCCESS) return false;
  char buffer[4096] = {};
  DWORD size = sizeof buffer - 1;
  bool ok = RegQueryValueExA(opened, name.c_str(), nullptr, nullptr,
                             reinterpret_cast<BYTE*>(buffer), &size) == ERROR_SUCCESS;
  RegCloseKey(opened);
  if (ok) *text = buffer;
  return ok;
}

bool RegistryKeyExists(HKEY root, const std::string& key) {
  HKEY opened = nullptr;
  if (RegOpenKeyExA(root, key.c_str(), 0, KEY_READ, &opened) != ERROR_SUCCESS) return false;
  RegCloseKey(opened);
  return true;
}

void DeleteRegistryValue(HKEY root, const std::string& key, const std::string& name) {
  HKEY opened = nullptr;
  if (RegOpenKeyExA(root, key.c_str(), 0, KEY_WRITE, &opened) != ERROR_SUCCESS) return;
  RegDeleteValueA(opened, name.c_str());
  RegCloseKey(opened);
}

void DeleteRegistryTree(HKEY root, const std::string& key) {
  HKEY opened = nullptr;
  if (RegOpenKeyExA(root, key.c_str(), 0, KEY_READ | KEY_WRITE, &opened) != ERROR_SUCCESS) return;
  for (;;) {
    char child[256] = {};
    DWORD size = sizeof child;
    if (RegEnumKeyExA(opened, 0, child, &size, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) {
      break;
    }
    DeleteRegistryTree(opened, child);
  }
  RegCloseKey(opened);
  RegDeleteKeyA(root, key.c_str());
}

InstallerLocationOverride::InstallerLocationOverride(const std::string& folder) {
  Save();
  SetRegistryString(HKEY_LOCAL_MACHINE, kInstallerKey, "InstallerLocation", folder);
}

InstallerLocationOverride::InstallerLocationOverride(DWORD type, const void* data, DWORD size) {
  Save();
  if (data == nullptr) {
    DeleteRegistryValue(HKEY_LOCAL_MACHINE, kInstallerKey, "InstallerLocation");
  } else {
    SetRegistryValue(HKEY_LOCAL_MACHINE, kInstallerKey, "InstallerLocation", type, data, size);
  }
}

void InstallerLocationOverride::Save() {
  HKEY key = nullptr;
  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, kInstallerKey, 0, KEY_READ, &key) != ERROR_SUCCESS) return;
  DWORD size = 0;
  if (RegQueryValueExA(key, "InstallerLocation", nullptr, &type_, nullptr, &size) == ERROR_SUCCESS) {
    data_.resize(size);
    hadValue_ = RegQueryValueExA(key, "InstallerLocation", nullptr, &type_, data_.data(), &size) ==
                ERROR_SUCCESS;
  }
  RegCloseKey(key);
}

InstallerLocationOverride::~InstallerLocationOverride() {
  if (hadValue_) {
    SetRegistryValue(HKEY_LOCAL_MACHINE, kInstallerKey, "InstallerLocation", type_, data_.data(),
                     static_cast<DWORD>(data_.size()));
  } else {
    DeleteRegistryValue(HKEY_LOCAL_MACHINE, kInstallerKey, "InstallerLocation");
  }
}

EnvironmentOverride::EnvironmentOverride(const char* name, const char* value) : name_(name) {
  char old[32768];
  DWORD length = GetEnvironmentVariableA(name, old, sizeof old);
  hadValue_ = length > 0 && length < sizeof old;
  if (hadValue_) old_ = old;
  SetEnvironmentVariableA(name, value);
}

EnvironmentOverride::~EnvironmentOverride() {
  SetEnvironmentVariableA(name_.c_str(), hadValue_ ? old_.c_str() : nullptr);
}

namespace {
const char kUserShellFolders[] = "Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\User Shell Folders";
const char kShellFolders[] = "Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Shell Folders";
const char kLocalLowName[] = "{A520A1A4-1780-4FF6-BD18-167343C5AF16}";
}  // namespace

LocalLowOverride::LocalLowOverride(const std::string& folder) {
  saved_[0].key = kUserShellFolders;
  saved_[1].key = kShellFolders;
  for (Saved& saved : saved_) Save(&saved);
  Point(folder);
}

LocalLowOverride::LocalLowOverride(const std::wstring& folder) {
  saved_[0].key = kUserShellFolders;
  saved_[1].key = kShellFolders;
  for (Saved& saved : saved_) Save(&saved);
  PointWide(folder);
}

LocalLowOverride::~LocalLowOverride() {
  for (Saved& saved : saved_) {
    if (saved.present) {
      SetRegistryValue(HKEY_CURRENT_USER, saved.key, kLocalLowName, saved.type, saved.data.data(),
                       static_cast<DWORD>(saved.data.size()));
    } else {
      DeleteRegistryValue(HKEY_CURRENT_USER, saved.key, kLocalLowName);
    }
  }
}

bool LocalLowOverride::Point(const std::string& folder) {
  return SetRegistryValue(HKEY_CURRENT_USER, kUserShellFolders, kLocalLowName, REG_EXPAND_SZ, folder.c_str(),
                          static_cast<DWORD>(folder.size() + 1));
}

bool LocalLowOverride::PointWide(const std::wstring& folder) {
  HKEY key = nullptr;
  if (RegOpenKeyExA(HKEY_CURRENT_USER, kUserShellFolders, 0, KEY_SET_VALUE, &key) != ERROR_SUCCESS) return false;
  std::wstring name(kLocalLowName, kLocalLowName + sizeof kLocalLowName - 1);
  bool set = RegSetValueExW(key, name.c_str(), 0, REG_EXPAND_SZ, reinterpret_cast<const BYTE*>(folder.c_str()),
                            static_cast<DWORD>((folder.size() + 1) * sizeof(WCHAR))) == ERROR_SUCCESS;
  RegCloseKey(key);
  return set;
}

void LocalLowOverride::Save(Saved* saved) {
  HKEY key = nullptr;
  if (RegOpenKeyExA(HKEY_CURRENT_USER, saved->key, 0, KEY_READ, &key) != ERROR_SUCCESS) return;
  DWORD size = 0;
  if (RegQueryValueExA(key, kLocalLowName, nullptr, &saved->type, nullptr, &size) == ERROR_SUCCESS) {
    saved->data.resize(size);
    saved->present =
        RegQueryValueExA(key, kLocalLowName, nullptr, &saved->type, saved->data.data(), &size) == ERROR_SUCCESS;
  }
  RegCloseKey(key);
}
