#pragma once
// What a 32-bit program meets on 64-bit Windows, for the tests that run the shipped i686
// build in the guest's 64-bit prefix: the two registry views, the redirection of system32 to
// SysWOW64, and system files that a test replaces for a while.
#include <windows.h>

#include <string>
#include <vector>

// Registry access in one view: KEY_WOW64_32KEY (where a 32-bit package's values live) or
// KEY_WOW64_64KEY (the native view).
bool SetRegistryStringInView(HKEY root, const std::string& key, const std::string& name,
                             const std::string& text, REGSAM view);
bool ReadRegistryStringInView(HKEY root, const std::string& key, const std::string& name,
                              REGSAM view, std::string* text);
bool RegistryKeyExistsInView(HKEY root, const std::string& key, REGSAM view);
void DeleteRegistryTreeInView(HKEY root, const std::string& key, REGSAM view);

// One registry value in one view, saved when made and put back (or removed again) when the
// object ends, whatever the test did to it meanwhile.
class SavedRegistryValue {
 public:
  SavedRegistryValue(HKEY root, const std::string& key, const std::string& name, REGSAM view);
  ~SavedRegistryValue();
  SavedRegistryValue(const SavedRegistryValue&) = delete;
  SavedRegistryValue& operator=(const SavedRegistryValue&) = delete;

  bool Set(DWORD type, const std::string& bytes);
  bool SetString(const std::string& text);  // REG_SZ with its terminator
  void Remove();

 private:
  HKEY root_;
  std::string key_;
  std::string name_;
  REGSAM view_;
  bool hadValue_ = false;
  DWORD type_ = 0;
  std::vector<BYTE> data_;
};

// LocalLowOverride (test_support.h) points the user's LocalLow elsewhere: the Explorer keys of
// HKCU are the same in both registry views.

// The file system as a 64-bit process sees it: redirection of system32 is off on this
// thread for the life of the object. Nothing but file calls may run meanwhile (a library
// loaded now would come from the 64-bit folder).
class NativeFileSystem {
 public:
  NativeFileSystem();
  ~NativeFileSystem();
  NativeFileSystem(const NativeFileSystem&) = delete;
  NativeFileSystem& operator=(const NativeFileSystem&) = delete;
  bool active() const { return active_; }

 private:
  PVOID previous_ = nullptr;
  bool active_ = false;
};

// Whether a path exists, and a file's bytes, as a 64-bit process sees them.
bool NativePathExists(const std::string& path);
std::string ReadNativeFile(const std::string& path);

// A system file replaced for the life of the object: its bytes are kept and written back.
class ReplacedFile {
 public:
  ReplacedFile(const std::string& path, const std::string& replacement);
  ~ReplacedFile();
  ReplacedFile(const ReplacedFile&) = delete;
  ReplacedFile& operator=(const ReplacedFile&) = delete;
  bool replaced() const { return replaced_; }

 private:
  std::string path_;
  std::string original_;
  bool replaced_ = false;
};

// The 32-bit system folder (C:\windows\syswow64), where system32 leads a 32-bit program.
std::string SystemWow64Folder();

// Creates a folder and its missing parents.
void CreateFolders(const std::string& folder);
