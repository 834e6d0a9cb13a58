// The phases after the main run, through the real wrapper and the recording stand-in for
// msiexec.exe: the reinstall request, the companion packages of a silent install, and the
// update service with its gates. Every command line is checked byte for byte.
#include <gtest/gtest.h>
#include <shlobj.h>

#include "wrapper_run.h"

namespace {

const char kVendorKey[] = "SOFTWARE\\Halvern";
const char kKitKey[] = "SOFTWARE\\Halvern\\Zelvan Development Kit\\1.6.0_32";
const char kRuntimeKey[] = "SOFTWARE\\Halvern\\Zelvan Runtime Environment\\1.6.0_32";
const char kAutoUpdateKey[] = "SOFTWARE\\Halvern\\Auto Update";
const char kRemovalCommandLine[] = " /x {6E2B91C4-3F07-4D58-A1B9-7C04E35D8F21} /qn";

std::string PayloadFile(const std::string& name) {
  std::string path = std::string("Z:") + PAYLOAD_DIR + "/" + name;
  for (char& c : path) {
    if (c == '/') c = '\\';
  }
  return path;
}

std::string CommonFilesFolder() {
  char folder[MAX_PATH] = {};
  SHGetFolderPathA(nullptr, CSIDL_PROGRAM_FILES_COMMON, nullptr, 0, folder);
  return folder;
}

std::string RegistrationToolFolder() { return CommonFilesFolder() + "\\Zelvan\\Zelvan Update"; }
std::string UpdateServiceFolder() { return LocalLowFolder() + "\\Orvik\\Zelvan\\AU"; }

std::string Quoted(const std::string& text) { return "\"" + text + "\""; }

std::string UpdateServiceInstallLine() {
  return Quoted(StandinEngine()) + " /i " + Quoted(UpdateServiceFolder() + "\\au.msi") + " ALLUSERS=1 /qn";
}

std::string RegistrationLine() {
  return Quoted(RegistrationToolFolder() + "\\dorvane.exe") + " -r rtq 1.6.0_32-b05";
}

// Names outside the code page (1252 here) and their best-fit look-alike.
const wchar_t kLukasz[] = L"\u0141ukasz";  // best fit: "Lukasz"
const wchar_t kLiLei[] = L"\u674e\u96f7";   // no counterpart: "??"

bool WriteFileW(const std::wstring& path, const std::string& bytes) {
  HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  DWORD written = 0;
  bool ok = WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) &&
            written == bytes.size();
  CloseHandle(file);
  return ok;
}

bool ExistsW(const std::wstring& path) { return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

bool SetRegistryWide(const char* key, const wchar_t* name, const std::wstring& text) {
  HKEY opened = nullptr;
  if (RegCreateKeyExA(HKEY_LOCAL_MACHINE, key, 0, nullptr, 0, KEY_WRITE, nullptr, &opened, nullptr) !=
      ERROR_SUCCESS) {
    return false;
  }
  bool ok = RegSetValueExW(opened, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(text.c_str()),
                           static_cast<DWORD>((text.size() + 1) * sizeof(wchar_t))) == ERROR_SUCCESS;
  RegCloseKey(opened);
  return ok;
}

// The short form of an existing path, in the code page (it must convert exactly).
std::string ShortFormOf(const std::wstring& path) {
  wchar_t shortPath[MAX_PATH] = {};
  DWORD length = GetShortPathNameW(path.c_str(), shortPath, MAX_PATH);
  EXPECT_GT(length, 0u) << Utf8Of(path);
  char narrow[MAX_PATH] = {};
  BOOL usedDefault = FALSE;
  WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, shortPath, -1, narrow, sizeof narrow, nullptr,
                      &usedDefault);
  EXPECT_FALSE(usedDefault) << Utf8Of(shortPath);
  return narrow;
}

class FollowUpPhases : public ::testing::Test {
 protected:
  void SetUp() override {
    DeleteRegistryTree(HKEY_LOCAL_MACHINE, kVendorKey);
    DeleteTree(UpdateServiceFolder());
    // The registration tool: a copy of the stand-in, so its command line is recorded too.
    DeleteTree(RegistrationToolFolder());
    CreateDirectoryA((CommonFilesFolder() + "\\Zelvan").c_str(), nullptr);
    CreateDirectoryA(RegistrationToolFolder().c_str(), nullptr);
    CopyFileA(StandinEngine().c_str(), (RegistrationToolFolder() + "\\dorvane.exe").c_str(), FALSE);
    kitHome_ = MakeScratchFolder("kit home");
  }
  void TearDown() override {
    DeleteRegistryTree(HKEY_LOCAL_MACHINE, kVendorKey);
    DeleteTree(RegistrationToolFolder());
  }

  void RecordKitHome() { ASSERT_TRUE(SetRegistryString(HKEY_LOCAL_MACHINE, kKitKey, "ZelvanHome", kitHome_)); }
  void PutKitFiles(std::initializer_list<const char*> names) {
    for (const char* name : names) ASSERT_TRUE(WriteFileText(kitHome_ + "\\" + name, name));
  }
  bool KitFileExists(const char* name) { return PathExists(kitHome_ + "\\" + name); }
  void RegisterRuntime() { ASSERT_TRUE(SetRegistryString(HKEY_LOCAL_MACHINE, kRuntimeKey, "Home", "C:\\rtq")); }

  std::string RuntimeLine(const std::string& transform = "") {
    std::string line = Quoted(StandinEngine()) + " /i " + Quoted(kitHome_ + "\\rtq.msi");
    if (!transform.empty()) line += " TRANSFORMS=" + Quoted(kitHome_ + "\\" + transform);
    return line + " /qn ADDLOCAL=ALL SDKSILENT=1";
  }
  std::string DatabaseLine() {
    return Quoted(StandinEngine()) + " /i " + Quoted(kitHome_ + "\\zelvandb.msi") + " /qn";
  }

  std::string kitHome_;
};

TEST_F(FollowUpPhases, ReinstallRequestRunsTheSameCommandLineAgainAndReturnsItsExitCode) {
  EnvironmentOverride status("WRAPPER_STANDIN_STATUS", "reinstall");
  StandinRun result = RunWrapperWithStandin("/v\"P=1\"", "5,7");
  ASSERT_FALSE(result.run.timedOut);
  ASSERT_EQ(result.commandLines.size(), 2u);
  EXPECT_EQ(result.commandLines[0], ExpectedMainCommandLine(" P=1 "));
  EXPECT_EQ(result.commandLines[1], result.commandLines[0]);
  EXPECT_EQ(result.run.exitCode, 7);
  // The value was cleared, and with it the vendor key it was the last content of.
  std::string text;
  EXPECT_FALSE(ReadRegistryString(HKEY_LOCAL_MACHINE, kVendorKey, "InstallStatus", &text));
  EXPECT_FALSE(RegistryKeyExists(HKEY_LOCAL_MACHINE, kVendorKey));
}

TEST_F(FollowUpPhases, ReinstallInAnotherCaseRunsOnceAndIsLeftInPlace) {
  EnvironmentOverride status("WRAPPER_STANDIN_STATUS", "Reinstall");
  StandinRun result = RunWrapperWithStandin("", "5,7");
  ASSERT_EQ(result.commandLines.size(), 1u);
  EXPECT_EQ(result.run.exitCode, 5);
  std::string text;
  ASSERT_TRUE(ReadRegistryString(HKEY_LOCAL_MACHINE, kVendorKey, "InstallStatus", &text));
  EXPECT_EQ(text, "Reinstall");
}

TEST_F(FollowUpPhases, ReinstallKeepsAVendorKeyThatHoldsMore) {
  RecordKitHome();  // a subkey of the vendor key
  EnvironmentOverride status("WRAPPER_STANDIN_STATUS", "reinstall");
  StandinRun result = RunWrapperWithStandin("", "0,0");
  EXPECT_EQ(result.commandLines.size(), 2u);
  std::string text;
  EXPECT_FALSE(ReadRegistryString(HKEY_LOCAL_MACHINE, kVendorKey, "InstallStatus", &text));
  EXPECT_TRUE(RegistryKeyExists(HKEY_LOCAL_MACHINE, kKitKey));
}

TEST_F(FollowUpPhases, SilentInstallWithoutKitHomeRunsOnlyTheMainRun) {
  PutKitFiles({"rtq.msi", "zelvandb.msi"});
  StandinRun result = RunWrapperWithStandin("/s");
  ASSERT_EQ(result.commandLines.size(), 1u);
  EXPECT_EQ(result.commandLines[0],
            ExpectedMainCommandLine(" /qn ADDLOCAL=PublicrtqFeature,ToolsFeature"));
  EXPECT_TRUE(KitFileExists("rtq.msi"));  // nothing is deleted without a kit home
  EXPECT_TRUE(KitFileExists("zelvandb.msi"));
}

TEST_F(FollowUpPhases, KitHomeWithoutPackagesRunsNothingButStillDeletesTheTransforms) {
  RecordKitHome();
  PutKitFiles({"rtq1041.MST", "rtq2052.MST", "other.txt"});
  StandinRun result = RunWrapperWithStandin("/s");
  EXPECT_EQ(result.commandLines.size(), 1u);
  EXPECT_FALSE(KitFileExists("rtq1041.MST"));
  EXPECT_FALSE(KitFileExists("rtq2052.MST"));
  EXPECT_TRUE(KitFileExists("other.txt"));
}

TEST_F(FollowUpPhases, CompanionPackagesInstallInTheUserLanguageAndTheirFilesAreDeleted) {
  struct Case {
    const char* arguments;
    const char* transform;  // "" for none
  } cases[] = {{"/s", ""}, {"/s /lang=1041", "rtq1041.MST"}, {"/s /lang=2052", "rtq2052.MST"}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.arguments);
    RecordKitHome();
    PutKitFiles({"rtq.msi", "zelvandb.msi", "rtq1041.MST", "rtq2052.MST"});
    StandinRun result = RunWrapperWithStandin(c.arguments);
    ASSERT_EQ(result.commandLines.size(), 3u);
    EXPECT_EQ(result.commandLines[1], RuntimeLine(c.transform));
    EXPECT_EQ(result.commandLines[2], DatabaseLine());
    EXPECT_EQ(result.run.exitCode, 0);
    for (const char* name : {"rtq.msi", "zelvandb.msi", "rtq1041.MST", "rtq2052.MST"}) {
      EXPECT_FALSE(KitFileExists(name)) << name;
    }
  }
}

TEST_F(FollowUpPhases, FolderSwitchesAreAppendedAsGivenWithoutQuotes) {
  RecordKitHome();
  PutKitFiles({"rtq.msi", "zelvandb.msi"});
  StandinRun result =
      RunWrapperWithStandin("/s \"/INSTALLDIRPUBRTQ=C:\\Zelvan Runtime\" \"/INSTALLDIRZELVANDB=D:\\Data Base\\\"");
  ASSERT_EQ(result.commandLines.size(), 3u);
  // The switches never reach the main command line.
  EXPECT_EQ(result.commandLines[0],
            ExpectedMainCommandLine(" /qn ADDLOCAL=PublicrtqFeature,ToolsFeature"));
  EXPECT_EQ(result.commandLines[1], RuntimeLine() + " INSTALLDIR=C:\\Zelvan Runtime");
  // The runtime library turns \" into a quote inside the argument; it is kept as it came.
  EXPECT_EQ(result.commandLines[2], DatabaseLine() + " INSTALLDIR=D:\\Data Base\"");
}

// A kit home outside the code page, beside its best-fit look-alike holding the same files:
// the companions are installed from the kit home itself, by its short form; once no exact
// name exists the phase is skipped. The look-alike is never touched.
TEST_F(FollowUpPhases, KitHomeOutsideTheCodePageIsUsedByItsShortFormNeverByItsLookAlike) {
  const std::wstring base = WideOf(MakeScratchFolder("kit homes"));
  const std::wstring home = base + L"\\Kit " + kLukasz;
  const std::wstring lookAlike = base + L"\\Kit Lukasz";
  const char* const files[] = {"rtq.msi", "zelvandb.msi", "rtq1041.MST", "rtq2052.MST"};
  for (const std::wstring& folder : {home, lookAlike}) {
    ASSERT_TRUE(CreateDirectoryW(folder.c_str(), nullptr)) << GetLastError();
    for (const char* name : files) ASSERT_TRUE(WriteFileW(folder + L"\\" + WideOf(name), name));
  }
  ASSERT_TRUE(SetRegistryWide(kKitKey, L"ZelvanHome", home));
  kitHome_ = ShortFormOf(home);

  // A folder switch the code page holds reaches the companion command line byte for byte.
  StandinRun result = RunWrapperWithStandinW(L"/s /lang=1041 \"/INSTALLDIRPUBRTQ=C:\\J\u00fcrgen\"");
  ASSERT_EQ(result.commandLines.size(), 3u) << "exit code " << result.run.exitCode;
  EXPECT_EQ(result.commandLines[1], RuntimeLine("rtq1041.MST") + " INSTALLDIR=C:\\J\xFCrgen");
  EXPECT_EQ(result.commandLines[2], DatabaseLine());
  for (const char* name : files) {
    EXPECT_FALSE(ExistsW(home + L"\\" + WideOf(name))) << name << " left in the kit home";
    EXPECT_TRUE(ExistsW(lookAlike + L"\\" + WideOf(name))) << name << " deleted from the look-alike";
  }

  // Gone, so no short form: nothing is run or deleted, in the look-alike least of all.
  DeleteTreeW(home);
  result = RunWrapperWithStandinW(L"/s");
  EXPECT_EQ(result.commandLines.size(), 1u);
  for (const char* name : files) {
    EXPECT_TRUE(ExistsW(lookAlike + L"\\" + WideOf(name))) << name << " deleted from the look-alike";
  }
}

// The registration tool below a common files folder outside the code page: started by the
// folder's short form; with no exact name the registration is skipped, and a tool in the
// look-alike folder never runs.
TEST_F(FollowUpPhases, RegistrationToolOutsideTheCodePageRunsByItsShortFormOrNotAtAll) {
  const char kCurrentVersion[] = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion";
  std::string saved;
  ASSERT_TRUE(ReadRegistryString(HKEY_LOCAL_MACHINE, kCurrentVersion, "CommonFilesDir", &saved));
  struct Restore {
    const char* key;
    std::string value;
    ~Restore() { SetRegistryString(HKEY_LOCAL_MACHINE, key, "CommonFilesDir", value); }
  } restore{kCurrentVersion, saved};

  const std::wstring base = WideOf(MakeScratchFolder("common files"));
  const std::wstring common = base + L"\\Common " + kLiLei;
  const std::wstring lukasz = base + L"\\Common " + kLukasz;
  const std::wstring lukaszLookAlike = base + L"\\Common Lukasz";
  for (const std::wstring& folder : {common, lukaszLookAlike}) {
    const std::wstring tool = folder + L"\\Zelvan\\Zelvan Update";
    ASSERT_TRUE(CreateDirectoryW(folder.c_str(), nullptr));
    ASSERT_TRUE(CreateDirectoryW((folder + L"\\Zelvan").c_str(), nullptr));
    ASSERT_TRUE(CreateDirectoryW(tool.c_str(), nullptr));
    ASSERT_TRUE(CopyFileW(WideOf(StandinEngine()).c_str(), (tool + L"\\dorvane.exe").c_str(), FALSE));
  }
  RegisterRuntime();

  ASSERT_TRUE(SetRegistryWide(kCurrentVersion, L"CommonFilesDir", common));
  StandinRun result = RunWrapperWithStandin("");
  ASSERT_EQ(result.commandLines.size(), 3u) << "exit code " << result.run.exitCode;
  EXPECT_EQ(result.commandLines[2],
            Quoted(ShortFormOf(common) + "\\Zelvan\\Zelvan Update\\dorvane.exe") + " -r rtq 1.6.0_32-b05");

  // "Common Łukasz" does not exist, its look-alike does: no registration at all.
  ASSERT_TRUE(SetRegistryWide(kCurrentVersion, L"CommonFilesDir", lukasz));
  result = RunWrapperWithStandin("");
  ASSERT_EQ(result.commandLines.size(), 2u) << "exit code " << result.run.exitCode;
  EXPECT_EQ(result.commandLines[1], UpdateServiceInstallLine());
  EXPECT_EQ(result.run.exitCode, 0);
}

TEST_F(FollowUpPhases, OnlyTheRuntimePackageWhenTheDatabaseFeatureWasLeftOut) {
  RecordKitHome();
  PutKitFiles({"rtq.msi"});
  StandinRun result = RunWrapperWithStandin("/s \"/INSTALLDIRZELVANDB=D:\\db\"");
  ASSERT_EQ(result.commandLines.size(), 2u);
  EXPECT_EQ(result.commandLines[1], RuntimeLine());
}

TEST_F(FollowUpPhases, FailedSilentMainRunStillInstallsCompanionsButNotTheUpdateService) {
  RecordKitHome();
  RegisterRuntime();
  PutKitFiles({"rtq.msi", "zelvandb.msi"});
  StandinRun result = RunWrapperWithStandin("/s", "1603,0");
  ASSERT_EQ(result.commandLines.size(), 3u);
  EXPECT_EQ(result.commandLines[1], RuntimeLine());
  EXPECT_EQ(result.commandLines[2], DatabaseLine());
  EXPECT_EQ(result.run.exitCode, 1603);
  EXPECT_FALSE(PathExists(UpdateServiceFolder() + "\\au.msi"));
}

TEST_F(FollowUpPhases, CompanionPackagesOnlyAfterASilentInstall) {
  RecordKitHome();
  PutKitFiles({"rtq.msi", "zelvandb.msi"});
  StandinRun result = RunWrapperWithStandin("/qn");
  EXPECT_EQ(result.commandLines.size(), 1u);
  EXPECT_TRUE(KitFileExists("rtq.msi"));
}

TEST_F(FollowUpPhases, UpdateServiceIsWrittenInstalledForAllUsersAndRegistered) {
  RegisterRuntime();
  StandinRun result = RunWrapperWithStandin("");
  ASSERT_EQ(result.commandLines.size(), 3u);
  EXPECT_EQ(result.commandLines[1], UpdateServiceInstallLine());
  // The tool's path is quoted: unquoted, an elevated process would let the platform try
  // "C:\Program.exe" first.
  EXPECT_EQ(result.commandLines[2], RegistrationLine());
  EXPECT_EQ(result.run.exitCode, 0);
  EXPECT_EQ(ReadFileText(UpdateServiceFolder() + "\\au.msi"), ReadFileText(PayloadFile("au.msi")));
  EXPECT_EQ(ReadFileText(UpdateServiceFolder() + "\\au.cab"), ReadFileText(PayloadFile("au.cab")));
}

TEST_F(FollowUpPhases, OutdatedUpdateServiceIsRemovedFirstByTextualComparison) {
  struct Case {
    const char* version;
    bool removed;
  } cases[] = {{"2.0.7.1", false}, {"2.0.8.0", false}, {"3.0", false},     {"2.0.7", true},
               {"2.0.10.0", true}, {"10.0.0.0", true}, {"", true}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.version);
    RegisterRuntime();
    ASSERT_TRUE(SetRegistryString(HKEY_LOCAL_MACHINE, kAutoUpdateKey, "AUVersion", c.version));
    StandinRun result = RunWrapperWithStandin("");
    std::vector<std::string> expected = {ExpectedMainCommandLine("")};
    if (c.removed) expected.push_back(kRemovalCommandLine);
    expected.push_back(UpdateServiceInstallLine());
    expected.push_back(RegistrationLine());
    EXPECT_EQ(result.commandLines, expected);
    // The removal's command line names no program: the engine must be the one started.
    std::vector<std::string> programs(expected.size() - 1, StandinEngine());
    programs.push_back(RegistrationToolFolder() + "\\dorvane.exe");
    EXPECT_EQ(result.programs, programs);
    EXPECT_EQ(result.run.exitCode, 0);
  }
}

TEST_F(FollowUpPhases, NonStringVersionIsComparedByItsRawBytes) {
  RegisterRuntime();
  // "1" followed by zero bytes: sorts below "2.0.7.1".
  DWORD one = '1';
  ASSERT_TRUE(SetRegistryValue(HKEY_LOCAL_MACHINE, kAutoUpdateKey, "AUVersion", REG_DWORD, &one, sizeof one));
  StandinRun result = RunWrapperWithStandin("");
  ASSERT_EQ(result.commandLines.size(), 4u);
  EXPECT_EQ(result.commandLines[1], kRemovalCommandLine);
  // "3" sorts above it: kept.
  DWORD three = '3';
  ASSERT_TRUE(SetRegistryValue(HKEY_LOCAL_MACHINE, kAutoUpdateKey, "AUVersion", REG_DWORD, &three, sizeof three));
  result = RunWrapperWithStandin("");
  EXPECT_EQ(result.commandLines.size(), 3u);
}

TEST_F(FollowUpPhases, RemovalFailureDoesNotStopTheNewInstall) {
  RegisterRuntime();
  ASSERT_TRUE(SetRegistryString(HKEY_LOCAL_MACHINE, kAutoUpdateKey, "AUVersion", "1.0"));
  StandinRun result = RunWrapperWithStandin("", "0,1605,0,0");
  ASSERT_EQ(result.commandLines.size(), 4u);
  EXPECT_EQ(result.commandLines[2], UpdateServiceInstallLine());
  EXPECT_EQ(result.run.exitCode, 0);
}

TEST_F(FollowUpPhases, UpdateServiceGates) {
  // Main run failed.
  RegisterRuntime();
  StandinRun result = RunWrapperWithStandin("", "3010");
  EXPECT_EQ(result.commandLines.size(), 1u);
  EXPECT_EQ(result.run.exitCode, 3010);
  // Runtime of this version not registered.
  DeleteRegistryTree(HKEY_LOCAL_MACHINE, kRuntimeKey);
  result = RunWrapperWithStandin("");
  EXPECT_EQ(result.commandLines.size(), 1u);
  EXPECT_FALSE(PathExists(UpdateServiceFolder() + "\\au.msi"));
}

TEST_F(FollowUpPhases, Amd64BuildStagesInItsOwnFolderAndSkipsTheUpdateService) {
  RegisterRuntime();
  DeleteTree(StagingFolder(true));
  StandinRun result = RunWrapperWithStandin("", "0", "kzt-wrapper-amd64.exe");
  ASSERT_EQ(result.commandLines.size(), 1u);
  EXPECT_EQ(result.commandLines[0], Quoted(StandinEngine()) + " /i " + Quoted(StagedPackagePath(true)) + "  WRAPPER=1");
  EXPECT_EQ(ReadFileText(StagedPackagePath(true)), ReadFileText(PayloadFile("kzt1.6.0_32.msi")));
  EXPECT_FALSE(PathExists(UpdateServiceFolder() + "\\au.msi"));
}

TEST_F(FollowUpPhases, WithoutTheUpdateServicePackageOnlyItsCabinetIsWritten) {
  RegisterRuntime();
  ASSERT_TRUE(SetRegistryString(HKEY_LOCAL_MACHINE, kAutoUpdateKey, "AUVersion", "1.0"));
  StandinRun result = RunWrapperWithStandin("", "0", "kzt-wrapper-no-update-service.exe");
  EXPECT_EQ(result.commandLines.size(), 1u);
  EXPECT_TRUE(PathExists(UpdateServiceFolder() + "\\au.cab"));
  EXPECT_FALSE(PathExists(UpdateServiceFolder() + "\\au.msi"));
}

}  // namespace
