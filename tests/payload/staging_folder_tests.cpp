// The staging folder: which user data folder the shell's lookups give on each branch of the
// version test, the folder chain below it, and paths that do not fit 259 characters.
// Built twice: staging_folder_tests.exe sees Windows 6.1, staging_folder_v52_tests.exe is
// given 5.2 by the test prefix (Wine's per-program version), so each branch is taken for
// real. The fake shell libraries answer through the environment (fake_shell.cpp).
#include <gtest/gtest.h>
#include <shlobj.h>
#include <string.h>

#include <map>
#include <string>
#include <vector>

#include "import_patch.h"
#include "payload/error_box.h"
#include "payload/held_folders.h"
#include "payload/locked_payload_files.h"
#include "payload/staging_folder.h"
#include "test_support.h"

#ifndef STAGING_TESTS_VERSION_52
#error "STAGING_TESTS_VERSION_52 must say which version this program is given"
#endif

namespace {

const char kChain[] = "\\Orvik\\Zelvan\\kzt1.6.0_32";

// --- The version query, counted at this program's import of GetVersionExA -------------

decltype(&GetVersionExA) realGetVersionEx = nullptr;
int versionQueries = 0;
DWORD versionRecordSize = 0;

BOOL WINAPI CountingGetVersionEx(OSVERSIONINFOA* version) {
  ++versionQueries;
  versionRecordSize = version->dwOSVersionInfoSize;
  return realGetVersionEx(version);
}

// Before main, so that the count covers the first question asked.
const bool versionHooked =
    HookImport("kernel32.dll", "GetVersionExA", &CountingGetVersionEx, &realGetVersionEx);

// --- The substituted folder library loader --------------------------------------------

std::vector<std::string> askedLibraries;
std::map<std::string, std::string> libraryFiles;  // name asked -> file loaded; absent: fails

HMODULE TestLoader(const char* name) {
  askedLibraries.push_back(name);
  auto file = libraryFiles.find(name);
  return file == libraryFiles.end() ? nullptr : LoadLibraryA(file->second.c_str());
}

std::string FakeShell() { return BuildPath("tests/payload/fake_shell.dll"); }
std::string FakeBare() { return BuildPath("tests/payload/fake_bare.dll"); }

const char* const kFakeVariables[] = {"FAKE_SHELL_LOCALLOW", "FAKE_SHELL_LOCALAPPDATA",
                                      "FAKE_SHELL_APPDATA", "FAKE_SHELL_SPECIAL",
                                      "FAKE_SHELL_CALLS"};

std::string Answer(long status, const std::string& path) {
  return std::to_string(status) + "|" + path;
}

std::string FakeCalls() {
  char calls[8192] = {};
  DWORD length = GetEnvironmentVariableA("FAKE_SHELL_CALLS", calls, sizeof calls);
  return length < sizeof calls ? calls : "(too long)";
}

// A path buffer of 260 with guard bytes behind it: nothing may be written past its end.
struct PathBuffer {
  char bytes[260 + 16];
  PathBuffer() {
    memset(bytes, 0, 260);
    memset(bytes + 260, 0x5A, 16);
  }
  char* get() { return bytes; }
  bool GuardIntact() const {
    for (int i = 260; i < 276; ++i) {
      if (bytes[i] != 0x5A) return false;
    }
    return true;
  }
  std::string text() const { return std::string(bytes, strnlen(bytes, 260)); }
};

struct Prepared {
  int result;
  std::string path;
};

Prepared Package(int amd64 = 0) {
  PathBuffer buffer;
  strcpy(buffer.get(), "stale text");
  int result = PreparePackagePath(buffer.get(), amd64);
  EXPECT_TRUE(buffer.GuardIntact());
  return {result, buffer.text()};
}

Prepared Cabinet(const char* name, int amd64 = 0) {
  PathBuffer buffer;
  strcpy(buffer.get(), "stale text");
  int result = PrepareCabinetPath(buffer.get(), name, amd64);
  EXPECT_TRUE(buffer.GuardIntact());
  return {result, buffer.text()};
}

std::string StagingOf(const std::string& base, bool amd64 = false) {
  return base + kChain + (amd64 ? "_x64" : "");
}
std::string PackageOf(const std::string& base, bool amd64 = false) {
  return StagingOf(base, amd64) + "\\kzt1.6.0_32.msi";
}
std::string CabinetOf(const std::string& base, const char* name, bool amd64 = false) {
  return StagingOf(base, amd64) + "\\" + name + ".cab";
}

void ExpectChainExists(const std::string& base, bool amd64 = false) {
  EXPECT_TRUE(IsDirectory(base));
  EXPECT_TRUE(IsDirectory(base + "\\Orvik"));
  EXPECT_TRUE(IsDirectory(base + "\\Orvik\\Zelvan"));
  EXPECT_TRUE(IsDirectory(StagingOf(base, amd64)));
}

// A base of exactly length characters on a drive that does not exist, so that its folders
// are never made and only the path text is at stake.
std::string BaseOfLength(size_t length) {
  std::string base = "Q:\\";
  while (base.size() < length) base += static_cast<char>('a' + base.size() % 26);
  return base;
}

// A folder of exactly length characters below folder, made (the platform makes none of
// more than 247 characters; such a base stays a name only).
std::string ExistingBaseOfLength(const std::string& folder, size_t length) {
  std::string base = folder + "\\";
  while (base.size() < length) base += static_cast<char>('a' + base.size() % 26);
  CreateDirectoryA(base.c_str(), nullptr);
  return base;
}

class StagingFolder : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(versionHooked);
    // An empty base puts the chain at the root of the current drive: keep that inside the
    // test prefix (drive C:), never at the root of the host's file system (drive Z:).
    GetCurrentDirectoryA(sizeof previousDirectory_, previousDirectory_);
    ASSERT_TRUE(SetCurrentDirectoryA("C:\\windows"));
    scratch_ = MakeScratchFolder("staging-folder");
    ReleaseStagedHoldsForTesting();
    askedLibraries.clear();
    libraryFiles.clear();
    for (const char* variable : kFakeVariables) SetEnvironmentVariableA(variable, nullptr);
  }
  void TearDown() override {
    SetCurrentDirectoryA(previousDirectory_);
    SetFolderLibraryLoaderForTesting(nullptr);
    for (const char* variable : kFakeVariables) SetEnvironmentVariableA(variable, nullptr);
    libraryFiles.clear();
  }
  // Each use of other libraries stands for a new run of the wrapper: the user data folder is
  // looked up once per run.
  void UseLibraries(const std::map<std::string, std::string>& files) {
    ReleaseStagedHoldsForTesting();
    libraryFiles = files;
    askedLibraries.clear();
    SetEnvironmentVariableA("FAKE_SHELL_CALLS", nullptr);
    SetFolderLibraryLoaderForTesting(TestLoader);
  }
  // Each library is released before the operation returns.
  void ExpectFakesReleased() {
    EXPECT_EQ(GetModuleHandleA(FakeShell().c_str()), nullptr) << "fake_shell.dll still loaded";
    EXPECT_EQ(GetModuleHandleA(FakeBare().c_str()), nullptr) << "fake_bare.dll still loaded";
  }
  std::string scratch_;
  char previousDirectory_[MAX_PATH] = {};
};

// --- Both programs ----------------------------------------------------------------------

TEST_F(StagingFolder, VersionIsAskedOnceWithTheFullRecord) {
  OSVERSIONINFOA version = {};
  version.dwOSVersionInfoSize = sizeof version;
  ASSERT_TRUE(realGetVersionEx(&version));
#if STAGING_TESTS_VERSION_52
  ASSERT_EQ(version.dwMajorVersion, 5u) << "this program is meant to see Windows 5.2";
  EXPECT_EQ(IsNtVersion6(), 0);
#else
  ASSERT_EQ(version.dwMajorVersion, 6u) << "this program is meant to see Windows 6";
  EXPECT_EQ(IsNtVersion6(), 1);
#endif
  Package();
  Cabinet("ss160320");
  IsNtVersion6();
  EXPECT_EQ(versionQueries, 1);
  EXPECT_EQ(versionRecordSize, 148u);
}

TEST_F(StagingFolder, ProfileFolderFromTheEnvironmentElseTheWindowsFolder) {
  char windows[MAX_PATH] = {};
  GetWindowsDirectoryA(windows, sizeof windows);
  struct Row {
    const char* what;
    bool set;
    std::string value;
    int result;
    std::string expected;
  };
  const Row rows[] = {
      {"set", true, "C:\\users\\someone", 1, "C:\\users\\someone"},
      {"unset", false, "", 1, windows},
      {"259 characters", true, BaseOfLength(259), 1, BaseOfLength(259)},
      {"260 characters", true, BaseOfLength(260), 0, ""},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.what);
    EnvironmentOverride profile("USERPROFILE", row.set ? row.value.c_str() : nullptr);
    PathBuffer buffer;
    EXPECT_EQ(GetProfileFolder(buffer.get()), row.result);
    EXPECT_EQ(buffer.text(), row.expected);
    EXPECT_TRUE(buffer.GuardIntact());
  }
}

#if !STAGING_TESTS_VERSION_52

// --- Version 6: LocalLow ---------------------------------------------------------------


TEST_F(StagingFolder, PackageGoesUnderTheRealLocalLowFolder) {
  std::string localLow = LocalLowFolder();
  ASSERT_FALSE(localLow.empty());
  Prepared package = Package();
  EXPECT_EQ(package.result, 1);
  EXPECT_EQ(package.path, PackageOf(localLow));
  ExpectChainExists(localLow);
  Prepared cabinet = Cabinet("ss160320");
  EXPECT_EQ(cabinet.result, 1);
  EXPECT_EQ(cabinet.path, CabinetOf(localLow, "ss160320"));
}

TEST_F(StagingFolder, LocalLowLookupsDecideTheBase) {
  const std::string low = scratch_ + "\\Known\\LocalLow";
  const std::string local = scratch_ + "\\Known\\Local";
  const std::string wrong = scratch_ + "\\Wrong";
  struct Row {
    const char* what;
    const char* lowAnswer;  // null: the lookup fails
    const char* localAnswer;
    std::string expectedBase;
    std::string expectedCalls;
  };
  const std::string askLow = "SHGetFolderPathEx(LocalAppDataLow,0,null,260);";
  const std::string askLocal = "SHGetFolderPathEx(LocalAppData,0,null,260);";
  const std::string lowOk = Answer(0, low), localOk = Answer(0, local);
  const std::string lowFalse = Answer(1, wrong), localFalse = Answer(1, wrong);
  const Row rows[] = {
      {"LocalLow resolves: taken as it is", lowOk.c_str(), localOk.c_str(), low, askLow},
      {"only LocalAppData resolves: Low appended", nullptr, localOk.c_str(), local + "Low",
       askLow + askLocal},
      {"S_FALSE is no success", lowFalse.c_str(), localOk.c_str(), local + "Low",
       askLow + askLocal},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.what);
    DeleteTree(scratch_ + "\\Known");
    CreateDirectoryA((scratch_ + "\\Known").c_str(), nullptr);
    UseLibraries({{"shell32.dll", FakeShell()}});
    SetEnvironmentVariableA("FAKE_SHELL_LOCALLOW", row.lowAnswer);
    SetEnvironmentVariableA("FAKE_SHELL_LOCALAPPDATA", row.localAnswer);
    Prepared package = Package();
    EXPECT_EQ(package.result, 1);
    EXPECT_EQ(package.path, PackageOf(row.expectedBase));
    ExpectChainExists(row.expectedBase);  // the base itself included
    EXPECT_EQ(FakeCalls(), row.expectedCalls);
    EXPECT_EQ(askedLibraries, std::vector<std::string>{"shell32.dll"});
    ExpectFakesReleased();
  }
}

// With no answer the chain is formed from an empty base: at the root of the current drive,
// C: here (see SetUp). What the test made there is removed.
TEST_F(StagingFolder, NoAnswerLeavesTheBaseEmpty) {
  const bool rootChainExisted = IsDirectory("C:\\Orvik");
  const std::string localFalse = Answer(1, scratch_ + "\\Wrong");
  struct Row {
    const char* what;
    std::map<std::string, std::string> libraries;
    const char* localAnswer;
  };
  const Row rows[] = {
      {"shell32.dll does not load", {}, nullptr},
      {"SHGetFolderPathEx is missing", {{"shell32.dll", FakeBare()}}, nullptr},
      {"both lookups fail", {{"shell32.dll", FakeShell()}}, nullptr},
      {"both lookups say S_FALSE", {{"shell32.dll", FakeShell()}}, localFalse.c_str()},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.what);
    UseLibraries(row.libraries);
    SetEnvironmentVariableA("FAKE_SHELL_LOCALLOW", row.localAnswer);
    SetEnvironmentVariableA("FAKE_SHELL_LOCALAPPDATA", row.localAnswer);
    PathBuffer kept;
    strcpy(kept.get(), "kept");
    GetUserDataFolder(kept.get());
    EXPECT_EQ(kept.text(), "kept") << "the buffer is left as it was";
    Prepared package = Package();
    EXPECT_EQ(package.result, 1);
    EXPECT_EQ(package.path, PackageOf(""));
    EXPECT_TRUE(IsDirectory(std::string("C:") + kChain));
    Prepared cabinet = Cabinet("sr160320");
    EXPECT_EQ(cabinet.path, CabinetOf("", "sr160320"));
    // Once for the direct call, once in the run, and only in shell32.dll.
    EXPECT_EQ(askedLibraries, std::vector<std::string>(2, "shell32.dll"));
    ExpectFakesReleased();
  }
  if (!rootChainExisted) DeleteTree("C:\\Orvik");
}

TEST_F(StagingFolder, LocalLowThatDoesNotFitIsRefused) {
  // The lookup may return up to 259 characters; "Low" appended must still fit 259.
  struct Row {
    const char* what;
    std::string lowAnswer, localAnswer;
    int result;
    std::string expected;
  };
  const Row rows[] = {
      {"LocalLow of 259", Answer(0, BaseOfLength(259)), "", 1, BaseOfLength(259)},
      {"LocalAppData of 256 + Low", "", Answer(0, BaseOfLength(256)), 1,
       BaseOfLength(256) + "Low"},
      {"LocalAppData of 257 + Low", "", Answer(0, BaseOfLength(257)), 0, ""},
      {"LocalAppData of 259 + Low", "", Answer(0, BaseOfLength(259)), 0, ""},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.what);
    UseLibraries({{"shell32.dll", FakeShell()}});
    SetEnvironmentVariableA("FAKE_SHELL_LOCALLOW",
                            row.lowAnswer.empty() ? nullptr : row.lowAnswer.c_str());
    SetEnvironmentVariableA("FAKE_SHELL_LOCALAPPDATA",
                            row.localAnswer.empty() ? nullptr : row.localAnswer.c_str());
    PathBuffer buffer;
    EXPECT_EQ(GetLocalLowFolder(buffer.get()), row.result);
    EXPECT_EQ(buffer.text(), row.expected);
    EXPECT_TRUE(buffer.GuardIntact());
    ExpectFakesReleased();
  }
}

#else  // STAGING_TESTS_VERSION_52

// --- Version 5.2: roaming application data and its fallbacks ---------------------------

std::string UserDataFolder() {
  PathBuffer buffer;
  GetUserDataFolder(buffer.get());
  EXPECT_TRUE(buffer.GuardIntact());
  return buffer.text();
}

TEST_F(StagingFolder, PackageGoesUnderTheRealRoamingFolder) {
  char appData[MAX_PATH] = {};
  ASSERT_EQ(SHGetFolderPathA(nullptr, CSIDL_APPDATA, nullptr, 0, appData), S_OK);
  Prepared package = Package();
  EXPECT_EQ(package.result, 1);
  EXPECT_EQ(package.path, PackageOf(appData));
  ExpectChainExists(appData);
  EXPECT_EQ(Cabinet("sb160320").path, CabinetOf(appData, "sb160320"));
}

TEST_F(StagingFolder, ShfolderThenShell32ThenTheProfile) {
  char windows[MAX_PATH] = {};
  GetWindowsDirectoryA(windows, sizeof windows);
  const std::string profile = scratch_ + "\\Profile";
  const std::string roaming = scratch_ + "\\Roaming";
  const std::string special = scratch_ + "\\Special";
  const std::string left = scratch_ + "\\LeftByAFailedCall";
  const std::string shfolder = "shfolder.dll", shell32 = "shell32.dll";
  struct Row {
    const char* what;
    std::map<std::string, std::string> libraries;
    const char* variable;  // the fake's answer, when one is consulted
    std::string answer;
    bool profileSet;
    std::string expectedBase;
    std::vector<std::string> expectedAsked;
    std::string expectedCalls;
  };
  const std::string askAppData = "SHGetFolderPathA(null,26,null,0);";
  const std::string askSpecial = "SHGetSpecialFolderPathA(null,26,1);";
  const Row rows[] = {
      {"shfolder answers: roaming folder, not created", {{shfolder, FakeShell()}},
       "FAKE_SHELL_APPDATA", Answer(0, roaming), true, roaming, {shfolder}, askAppData},
      {"shfolder fails: nothing else is asked", {{shfolder, FakeShell()}}, "FAKE_SHELL_APPDATA",
       Answer(0x80004005L, left), true, left, {shfolder}, askAppData},
      {"shfolder lacks the function: profile, shell32 not asked", {{shfolder, FakeBare()}},
       nullptr, "", true, profile, {shfolder}, ""},
      {"shfolder lacks it, no profile: Windows folder", {{shfolder, FakeBare()}}, nullptr, "",
       false, windows, {shfolder}, ""},
      {"no shfolder: shell32's special folder, created", {{shell32, FakeShell()}},
       "FAKE_SHELL_SPECIAL", Answer(1, special), true, special, {shfolder, shell32}, askSpecial},
      {"no shfolder, shell32 lacks it: profile", {{shell32, FakeBare()}}, nullptr, "", true,
       profile, {shfolder, shell32}, ""},
      {"neither loads: profile", {}, nullptr, "", true, profile, {shfolder, shell32}, ""},
      {"neither loads, no profile: Windows folder", {}, nullptr, "", false, windows,
       {shfolder, shell32}, ""},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.what);
    EnvironmentOverride userProfile("USERPROFILE", row.profileSet ? profile.c_str() : nullptr);
    UseLibraries(row.libraries);
    if (row.variable != nullptr) SetEnvironmentVariableA(row.variable, row.answer.c_str());
    EXPECT_EQ(UserDataFolder(), row.expectedBase);
    EXPECT_EQ(askedLibraries, row.expectedAsked);
    EXPECT_EQ(FakeCalls(), row.expectedCalls);
    ExpectFakesReleased();
    if (row.variable != nullptr) SetEnvironmentVariableA(row.variable, nullptr);
  }
}

TEST_F(StagingFolder, ChainBelowTheProfileFolder) {
  const std::string profile = scratch_ + "\\Profile";
  EnvironmentOverride userProfile("USERPROFILE", profile.c_str());
  UseLibraries({{"shfolder.dll", FakeBare()}});
  Prepared package = Package();
  EXPECT_EQ(package.result, 1);
  EXPECT_EQ(package.path, PackageOf(profile));
  ExpectChainExists(profile);
}

#endif  // STAGING_TESTS_VERSION_52

// --- The chain, whatever gave the base (a fake answer on each branch) -------------------

class StagingChain : public StagingFolder {
 protected:
  // Makes the lookups of this program's branch answer base.
  void AnswerBase(const std::string& base) {
#if STAGING_TESTS_VERSION_52
    UseLibraries({{"shfolder.dll", FakeShell()}});
    SetEnvironmentVariableA("FAKE_SHELL_APPDATA", Answer(0, base).c_str());
#else
    UseLibraries({{"shell32.dll", FakeShell()}});
    SetEnvironmentVariableA("FAKE_SHELL_LOCALLOW", Answer(0, base).c_str());
#endif
  }
};

// A folder of the chain is refused as a link only when it is one: a reparse point whose tag
// is a name surrogate. The tags are the platform's published ones; Wine cannot make the
// others, so the rule is shown on the values themselves.
TEST(StagingFolderLinks, OnlyNameSurrogatesCountAsLinks) {
  const DWORD folder = FILE_ATTRIBUTE_DIRECTORY;
  const DWORD reparse = FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT;
  struct {
    const char* what;
    DWORD attributes;
    DWORD tag;
    int link;
  } const cases[] = {
      {"junction", reparse, 0xA0000003, 1},
      {"symbolic link", reparse, 0xA000000C, 1},
      {"deduplicated", reparse, 0x80000013, 0},
      {"cloud placeholder", reparse, 0x9000101A, 0},
      {"compressed (WOF)", reparse, 0x80000017, 0},
      {"plain folder", folder, 0, 0},
      // A tag without the reparse attribute is no reparse point at all.
      {"stale tag", folder, 0xA0000003, 0},
  };
  for (const auto& c : cases) EXPECT_EQ(IsLinkReparseTag(c.attributes, c.tag), c.link) << c.what;
}

TEST_F(StagingChain, Amd64FlagNamesTheX64Folder) {
  const std::string base = scratch_ + "\\Base";
  AnswerBase(base);
  Prepared package = Package(1);
  EXPECT_EQ(package.result, 1);
  EXPECT_EQ(package.path, base + "\\Orvik\\Zelvan\\kzt1.6.0_32_x64\\kzt1.6.0_32.msi");
  ExpectChainExists(base, true);
  Prepared cabinet = Cabinet("ss160320", 1);
  EXPECT_EQ(cabinet.result, 1);
  EXPECT_EQ(cabinet.path, base + "\\Orvik\\Zelvan\\kzt1.6.0_32_x64\\ss160320.cab");
  EXPECT_FALSE(PathExists(StagingOf(base, false)));
}

TEST_F(StagingChain, OnlyThePackageCreatesTheBaseFolder) {
  // A base that cannot be held is no base to build on: the cabinet's preparation, which does
  // not create it, refuses it.
  const std::string base = scratch_ + "\\NotYetThere";
  DeleteTree(base);
  AnswerBase(base);
  Prepared cabinet = Cabinet("sj160320");
  EXPECT_EQ(cabinet.result, 0);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_PATH_NOT_FOUND));
  EXPECT_EQ(cabinet.path, "");
  EXPECT_FALSE(PathExists(base));
  AnswerBase(base);
  Prepared package = Package();
  EXPECT_EQ(package.result, 1);
  ExpectChainExists(base);
}

TEST_F(StagingChain, SevenCabinetPathsShareOneFolderAndKeepWhatIsThere) {
  const std::string base = scratch_ + "\\Base";
  AnswerBase(base);
  ASSERT_EQ(Package().result, 1);
  const std::string staging = StagingOf(base);
  const std::string oldCabinet = staging + "\\ss160320.cab";
  const std::string keptFile = staging + "\\kept\\inside.txt";
  ASSERT_TRUE(WriteFileText(oldCabinet, "an older cabinet"));
  ASSERT_TRUE(CreateDirectoryA((staging + "\\kept").c_str(), nullptr));
  ASSERT_TRUE(WriteFileText(keptFile, "kept"));
  WIN32_FILE_ATTRIBUTE_DATA before = {};
  GetFileAttributesExA(oldCabinet.c_str(), GetFileExInfoStandard, &before);

  const char* names[] = {"ss160320", "st160320", "sj160320", "sp160320",
                         "sz160320", "sb160320", "sr160320"};
  for (const char* name : names) {
    Prepared cabinet = Cabinet(name);
    EXPECT_EQ(cabinet.result, 1) << name;
    EXPECT_EQ(cabinet.path, staging + "\\" + name + ".cab");
  }
  EXPECT_EQ(ReadFileText(oldCabinet), "an older cabinet");
  WIN32_FILE_ATTRIBUTE_DATA after = {};
  GetFileAttributesExA(oldCabinet.c_str(), GetFileExInfoStandard, &after);
  EXPECT_EQ(CompareFileTime(&before.ftLastWriteTime, &after.ftLastWriteTime), 0);
  EXPECT_EQ(ReadFileText(keptFile), "kept");
  // The paths are only named: no file appears for them.
  EXPECT_FALSE(PathExists(staging + "\\st160320.cab"));
  EXPECT_FALSE(PathExists(staging + "\\sr160320.cab"));
}

// The longest base for each path: the chain and the package file name add 41 characters,
// 45 in the _x64 folder; the chain and a cabinet file name add 38 (42).
TEST_F(StagingChain, PathOf259FitsAndOf260IsRefusedWhole) {
  struct Row {
    bool package;
    int amd64;
    size_t baseLength;
    bool fits;
  };
  const Row rows[] = {
      {true, 0, 218, true},  {true, 0, 219, false}, {true, 1, 214, true},
      {true, 1, 215, false}, {false, 0, 221, true}, {false, 0, 222, false},
      {false, 1, 217, true}, {false, 1, 218, false}, {true, 0, 259, false},
      {false, 0, 259, false},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(std::string(row.package ? "package" : "cabinet") + (row.amd64 ? " x64" : "") +
                 ", base of " + std::to_string(row.baseLength));
    // The base is held before anything is built on it, so it must exist.
    const std::string base = ExistingBaseOfLength(scratch_, row.baseLength);
    AnswerBase(base);
    Prepared prepared = row.package ? Package(row.amd64) : Cabinet("ss160320", row.amd64);
    if (row.fits) {
      EXPECT_EQ(prepared.result, 1);
      EXPECT_EQ(prepared.path.size(), 259u);
      EXPECT_EQ(prepared.path, row.package ? PackageOf(base, row.amd64)
                                           : CabinetOf(base, "ss160320", row.amd64));
    } else {
      EXPECT_EQ(prepared.result, 0);
      EXPECT_EQ(prepared.path, "");
    }
    ExpectFakesReleased();
  }
}

}  // namespace
