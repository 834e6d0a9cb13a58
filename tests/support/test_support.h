#pragma once
// Helpers shared by the tests that run under wine64: paths of the build tree, child
// processes with a time-out, files and registry values.
#include <gtest/gtest.h>
#include <limits.h>
#include <windows.h>

#include <string>
#include <vector>

// The build tree as a Windows path (Z:\...), from WRAPPER_TEST_BUILD_DIR.
std::string BuildDir();
// A path inside the build tree, given with forward slashes relative to it.
std::string BuildPath(const std::string& relative);
// The user's low-integrity local application-data folder (LocalLow), as the platform says.
std::string LocalLowFolder();
// The same as the platform holds it, outside the code page too.
std::wstring LocalLowFolderW();
// A fresh, empty scratch folder for one test under the build tree.
std::string MakeScratchFolder(const std::string& name);

// A message box seen in a child process.
struct SeenBox {
  std::string caption;
  std::string text;
  LONG style;  // window style bits of the dialog
  bool hasIcon;  // an icon is shown beside the text
  std::wstring wideCaption;  // the same texts as the platform holds them (any language)
  std::wstring wideText;
  std::vector<int> buttons;  // control identifiers of the visible push buttons
};

// The exit code of a run that never started: no program of the tests returns it.
constexpr int kNeverStarted = INT_MIN;

// The outcome of one child run.
struct ChildRun {
  std::string commandLine;
  bool started = false;
  DWORD startError = 0;  // CreateProcessA's error when it did not start
  bool timedOut = false;
  int exitCode = kNeverStarted;
  std::vector<SeenBox> boxes;  // boxes that appeared, in order; each was closed with OK
};

// Starts a command line and waits up to timeoutMs; message boxes of the child are read and
// closed with OK. A child still running at the time-out is killed.
ChildRun RunChild(const std::string& commandLine, DWORD timeoutMs = 120000);
// The same with a wide command line, for arguments outside the code page (commandLine of the
// result in UTF-8).
ChildRun RunChildW(const std::wstring& commandLine, DWORD timeoutMs = 120000);

// Starts a command line and returns its process information (the caller waits and closes).
// A start that fails is reported on standard error with the error code and the command line,
// and the code is left in *error when given.
bool StartChild(const std::string& commandLine, PROCESS_INFORMATION* process, DWORD* error = nullptr);

// Success when the run started; the failure names CreateProcessA's error and the command line.
::testing::AssertionResult Started(const ChildRun& run);

// Files.
std::string ReadFileText(const std::string& path);  // empty when absent
bool WriteFileText(const std::string& path, const std::string& bytes);
std::string ReadFileTextW(const std::wstring& path);  // by a wide path; empty when absent
bool PathExistsW(const std::wstring& path);
bool PathExists(const std::string& path);
bool IsDirectory(const std::string& path);
long long FileSize(const std::string& path);  // -1 when absent
void DeleteTree(const std::string& path);
void DeleteTreeW(const std::wstring& path);  // also below names outside the code page

// Texts outside the code page: narrow (ANSI code page) to wide, and wide to UTF-8 for
// failure messages.
std::wstring WideOf(const std::string& narrow);
std::string Utf8Of(const std::wstring& wide);
std::vector<std::string> SplitLines(const std::string& text);

// Registry values under HKEY_LOCAL_MACHINE or HKEY_CURRENT_USER (native view).
bool SetRegistryValue(HKEY root, const std::string& key, const std::string& name, DWORD type,
                      const void* data, DWORD size);
bool SetRegistryString(HKEY root, const std::string& key, const std::string& name,
                       const std::string& text);
bool ReadRegistryString(HKEY root, const std::string& key, const std::string& name,
                        std::string* text);
bool RegistryKeyExists(HKEY root, const std::string& key);
void DeleteRegistryValue(HKEY root, const std::string& key, const std::string& name);
void DeleteRegistryTree(HKEY root, const std::string& key);

// Points HKLM\...\Installer\InstallerLocation at a folder for the life of the object and
// restores the value it had.
class InstallerLocationOverride {
 public:
  explicit InstallerLocationOverride(const std::string& folder);
  InstallerLocationOverride(DWORD type, const void* data, DWORD size);
  ~InstallerLocationOverride();
  InstallerLocationOverride(const InstallerLocationOverride&) = delete;
  InstallerLocationOverride& operator=(const InstallerLocationOverride&) = delete;

 private:
  void Save();
  bool hadValue_ = false;
  DWORD type_ = 0;
  std::vector<BYTE> data_;
};

// Points the LocalLow known folder of the current user at another folder for the life of
// the object, as the user's own settings (User Shell Folders) may. Wine resolves it from
// "User Shell Folders" (the folder must exist) and then writes what it found to "Shell
// Folders"; both values are put back.
class LocalLowOverride {
 public:
  explicit LocalLowOverride(const std::string& folder);
  explicit LocalLowOverride(const std::wstring& folder);  // a name outside the code page
  ~LocalLowOverride();
  LocalLowOverride(const LocalLowOverride&) = delete;
  LocalLowOverride& operator=(const LocalLowOverride&) = delete;
  // Points it elsewhere while the object lives (as another process of the user may).
  static bool Point(const std::string& folder);
  static bool PointWide(const std::wstring& folder);

 private:
  struct Saved {
    const char* key = nullptr;
    bool present = false;
    DWORD type = 0;
    std::vector<BYTE> data;
  };
  static void Save(Saved* saved);
  Saved saved_[2];
};

// Sets an environment variable for this process and its children for the life of the
// object (an empty optional value removes it).
class EnvironmentOverride {
 public:
  EnvironmentOverride(const char* name, const char* value);
  ~EnvironmentOverride();
  EnvironmentOverride(const EnvironmentOverride&) = delete;
  EnvironmentOverride& operator=(const EnvironmentOverride&) = delete;

 private:
  std::string name_;
  bool hadValue_ = false;
  std::string old_;
};

extern const char kInstallerKey[];  // SOFTWARE\Microsoft\Windows\CurrentVersion\Installer
