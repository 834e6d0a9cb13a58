// The shipped 32-bit wrapper in a 64-bit prefix (Wine's WoW64 layer, as on 64-bit Windows),
// with the 32-bit recording stand-in for msiexec.exe: the registry view it reads, system32
// redirected to SysWOW64 where the package-path adjustment meets it, the engine gate on the
// 32-bit msi.dll, the reinstall handshake, the follow-up phases' values and the exit codes.
// Values a 32-bit package writes land in the 32-bit view; each case also puts a decoy in the
// native (64-bit) view, which the wrapper must not see.
#include <gtest/gtest.h>
#include <shlobj.h>

#include "engine/engine_version_gate.h"
#include "wow64_support.h"
#include "wrapper_run.h"

namespace {

const REGSAM kView32 = KEY_WOW64_32KEY;
const REGSAM kView64 = KEY_WOW64_64KEY;
const char kVendorKey[] = "Software\\Halvern";
const char kKitKey[] = "SOFTWARE\\Halvern\\Zelvan Development Kit\\1.6.0_32";
const char kRuntimeKey[] = "SOFTWARE\\Halvern\\Zelvan Runtime Environment\\1.6.0_32";
const char* const kCabinets[] = {"ss160320.cab", "st160320.cab", "sj160320.cab", "sp160320.cab",
                                 "sz160320.cab", "sb160320.cab", "sr160320.cab"};

std::string Quoted(const std::string& text) { return "\"" + text + "\""; }
std::string PayloadFile(const std::string& name) { return BuildPath("payload/" + name); }

std::string WindowsFolder() {
  char folder[MAX_PATH] = {};
  GetWindowsDirectoryA(folder, sizeof folder);
  return folder;
}

void ClearVendorKeys() {
  DeleteRegistryTreeInView(HKEY_LOCAL_MACHINE, kVendorKey, kView32);
  DeleteRegistryTreeInView(HKEY_LOCAL_MACHINE, kVendorKey, kView64);
}

// The shipped wrapper started as a deployment script starts it, with the stand-in recording.
StandinRun RunShippedWrapper(const std::string& arguments, const std::string& exitCodes = "0") {
  std::string record = MakeScratchFolder("shipped-run") + "\\record.txt";
  EnvironmentOverride recordFile("WRAPPER_STANDIN_RECORD", record.c_str());
  EnvironmentOverride codes("WRAPPER_STANDIN_EXIT_CODES", exitCodes.c_str());
  StandinRun result;
  result.run = RunChild(Quoted(WrapperPath()) + (arguments.empty() ? "" : " " + arguments));
  result.commandLines = SplitLines(ReadFileText(record));
  return result;
}

TEST(Wow64Layer, TheShippedExecutableRunsAsA32BitProgramOn64BitWindows) {
  EXPECT_EQ(sizeof(void*), 4u) << "the tests themselves are 32-bit programs";
  BOOL wow64 = FALSE;
  ASSERT_TRUE(IsWow64Process(GetCurrentProcess(), &wow64));
  EXPECT_TRUE(wow64) << "the prefix must be a 64-bit one";
  EXPECT_FALSE(SystemWow64Folder().empty());
  // system32 leads a 32-bit program to SysWOW64; with redirection off it is the 64-bit folder.
  const std::string msi = WindowsFolder() + "\\system32\\msi.dll";
  ASSERT_GT(FileSize(msi), 0);
  {
    NativeFileSystem native;
    ASSERT_TRUE(native.active());
  }
  EXPECT_EQ(ReadFileText(msi), ReadFileText(SystemWow64Folder() + "\\msi.dll"));
  EXPECT_NE(ReadNativeFile(msi), ReadFileText(msi));
  DWORD type = 99;
  ASSERT_TRUE(GetBinaryTypeA(WrapperPath().c_str(), &type)) << WrapperPath();
  EXPECT_EQ(type, static_cast<DWORD>(SCS_32BIT_BINARY));
  EXPECT_EQ(GetUserDefaultLangID(), 1033) << "the guest runs the tests with LC_ALL=C.UTF-8";
}

TEST(EngineLocationIn32BitView, InstallerLocationIsTheOneOfThe32BitView) {
  std::string nativeEngine = MakeScratchFolder("native-view-engine");
  ASSERT_TRUE(CopyFileA(StandinEngine().c_str(), (nativeEngine + "\\msiexec.exe").c_str(), FALSE));
  SavedRegistryValue location32(HKEY_LOCAL_MACHINE, kInstallerKey, "InstallerLocation", kView32);
  SavedRegistryValue location64(HKEY_LOCAL_MACHINE, kInstallerKey, "InstallerLocation", kView64);
  ASSERT_TRUE(location64.SetString(nativeEngine));
  ASSERT_TRUE(location32.SetString(StandinFolder()));
  std::string seen;
  ASSERT_TRUE(ReadRegistryStringInView(HKEY_LOCAL_MACHINE, kInstallerKey, "InstallerLocation", kView64, &seen));
  ASSERT_EQ(seen, nativeEngine) << "the platform keeps one value for both views";

  StandinRun result = RunWrapperRecording("");
  EXPECT_EQ(result.run.exitCode, 0) << DescribeBoxes(result.run);
  ASSERT_EQ(result.commandLines.size(), 1u);
  EXPECT_EQ(result.commandLines[0], ExpectedMainCommandLine(""));

  // Recorded in the native view only: not found, after the package was staged.
  location32.Remove();
  result = RunWrapperRecording("/s");
  EXPECT_EQ(result.run.exitCode, -3) << DescribeBoxes(result.run);
  EXPECT_TRUE(result.commandLines.empty());
  EXPECT_GT(FileSize(StagedPackagePath()), 0) << "the package stays staged";
  EXPECT_TRUE(result.run.boxes.empty());

  // A folder without msiexec.exe: the engine cannot be started.
  ASSERT_TRUE(location32.SetString(MakeScratchFolder("no-engine-here")));
  result = RunWrapperRecording("");
  EXPECT_EQ(result.run.exitCode, 1) << DescribeBoxes(result.run);
  EXPECT_TRUE(result.commandLines.empty());
}

TEST(ExitCodes, TheEnginesCodeComesBackWhole) {
  for (const char* code : {"1603", "3010", "-5"}) {
    StandinRun result = RunWrapperWithStandin("", code);
    ASSERT_FALSE(result.run.timedOut);
    EXPECT_EQ(result.run.exitCode, atoi(code)) << code;
    EXPECT_EQ(result.commandLines.size(), 1u) << code;
  }
}

TEST(ExitCodes, AnOptionStringBeyondItsBufferIs1639BeforeAnythingIsStaged) {
  const std::string vendor = LocalLowFolder() + "\\Orvik";
  DeleteTree(vendor);
  StandinRun result = RunWrapperWithStandin("/v\"" + std::string(1100, 'x') + "\"");
  EXPECT_EQ(result.run.exitCode, 1639) << DescribeBoxes(result.run);
  EXPECT_TRUE(result.commandLines.empty());
  EXPECT_FALSE(PathExists(vendor));
}

TEST(ExitCodes, APackageThatCannotBeWrittenIsTheSystemsCodeAfterTheErrorBox) {
  InstallerLocationOverride location(StandinFolder());
  DeleteTree(StagingFolder());
  CreateFolders(StagedPackagePath());  // a folder where the package file goes
  ASSERT_TRUE(IsDirectory(StagedPackagePath()));
  StandinRun result = RunShippedWrapper("/s");
  DeleteTree(StagingFolder());
  ASSERT_FALSE(result.run.timedOut);
  EXPECT_EQ(result.run.exitCode, ERROR_ACCESS_DENIED) << DescribeBoxes(result.run);
  ASSERT_EQ(result.run.boxes.size(), 1u);
  EXPECT_EQ(result.run.boxes[0].caption, "Error");
  EXPECT_TRUE(result.commandLines.empty());
}

TEST(ReinstallIn32BitView, ThePackagesRequestIsAnsweredAndClearedThere) {
  ClearVendorKeys();
  {
    EnvironmentOverride status("WRAPPER_STANDIN_STATUS", "reinstall");
    StandinRun result = RunWrapperWithStandin("/v\"P=1\"", "5,7");
    ASSERT_EQ(result.commandLines.size(), 2u);
    EXPECT_EQ(result.commandLines[0], ExpectedMainCommandLine(" P=1 "));
    EXPECT_EQ(result.commandLines[1], result.commandLines[0]);
    EXPECT_EQ(result.run.exitCode, 7);
    EXPECT_FALSE(RegistryKeyExistsInView(HKEY_LOCAL_MACHINE, kVendorKey, kView32));
    EXPECT_FALSE(RegistryKeyExistsInView(HKEY_LOCAL_MACHINE, kVendorKey, kView64));
  }
  {
    // Not the request: left where the 32-bit stand-in wrote it, the 32-bit view.
    EnvironmentOverride status("WRAPPER_STANDIN_STATUS", "Reinstall");
    StandinRun result = RunWrapperWithStandin("", "5,7");
    EXPECT_EQ(result.commandLines.size(), 1u);
    EXPECT_EQ(result.run.exitCode, 5);
    std::string text;
    EXPECT_TRUE(ReadRegistryStringInView(HKEY_LOCAL_MACHINE, kVendorKey, "InstallStatus", kView32, &text));
    EXPECT_EQ(text, "Reinstall");
    EXPECT_FALSE(RegistryKeyExistsInView(HKEY_LOCAL_MACHINE, kVendorKey, kView64));
  }
  ClearVendorKeys();
  // A request in the native view is no 32-bit package's: one run, the value stays.
  ASSERT_TRUE(SetRegistryStringInView(HKEY_LOCAL_MACHINE, kVendorKey, "InstallStatus", "reinstall", kView64));
  StandinRun result = RunWrapperWithStandin("", "5,7");
  EXPECT_EQ(result.commandLines.size(), 1u);
  EXPECT_EQ(result.run.exitCode, 5);
  std::string text;
  EXPECT_TRUE(ReadRegistryStringInView(HKEY_LOCAL_MACHINE, kVendorKey, "InstallStatus", kView64, &text));
  EXPECT_EQ(text, "reinstall");
  ClearVendorKeys();
}

// Kit home (companion packages) and runtime key (update service) as the 32-bit kit and runtime
// packages record them, and the registration tool under Program Files (x86)\Common Files.
TEST(FollowUpPhasesIn32BitView, KitHomeAndRuntimeAreReadFromThe32BitView) {
  char commonFiles[MAX_PATH] = {};
  ASSERT_TRUE(SUCCEEDED(SHGetFolderPathA(nullptr, CSIDL_PROGRAM_FILES_COMMON, nullptr, 0, commonFiles)));
  EXPECT_NE(std::string(commonFiles).find("Program Files (x86)"), std::string::npos) << commonFiles;
  const std::string toolFolder = std::string(commonFiles) + "\\Zelvan\\Zelvan Update";
  CreateFolders(toolFolder);
  ASSERT_TRUE(CopyFileA(StandinEngine().c_str(), (toolFolder + "\\dorvane.exe").c_str(), FALSE));
  const std::string home = MakeScratchFolder("kit home");
  const std::string updateFolder = LocalLowFolder() + "\\Orvik\\Zelvan\\AU";

  struct Case {
    const char* label;
    REGSAM view;
    std::vector<std::string> expected;
  } cases[] = {
      {"native view only", kView64,
       {ExpectedMainCommandLine(" /qn ADDLOCAL=PublicrtqFeature,ToolsFeature")}},
      {"32-bit view", kView32,
       {ExpectedMainCommandLine(" /qn ADDLOCAL=PublicrtqFeature,ToolsFeature"),
        Quoted(StandinEngine()) + " /i " + Quoted(home + "\\rtq.msi") + " /qn ADDLOCAL=ALL SDKSILENT=1",
        Quoted(StandinEngine()) + " /i " + Quoted(updateFolder + "\\au.msi") + " ALLUSERS=1 /qn",
        Quoted(toolFolder + "\\dorvane.exe") + " -r rtq 1.6.0_32-b05"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.label);
    ClearVendorKeys();
    DeleteTree(updateFolder);
    ASSERT_TRUE(WriteFileText(home + "\\rtq.msi", "rtq"));
    ASSERT_TRUE(SetRegistryStringInView(HKEY_LOCAL_MACHINE, kKitKey, "ZelvanHome", home, c.view));
    ASSERT_TRUE(SetRegistryStringInView(HKEY_LOCAL_MACHINE, kRuntimeKey, "Home", "C:\\rtq", c.view));
    StandinRun result = RunWrapperWithStandin("/s");
    EXPECT_EQ(result.run.exitCode, 0) << DescribeBoxes(result.run);
    EXPECT_EQ(result.commandLines, c.expected);
    EXPECT_EQ(PathExists(home + "\\rtq.msi"), c.view == kView64) << "deleted only after its install";
  }
  ClearVendorKeys();
  DeleteTree(std::string(commonFiles) + "\\Zelvan");
}

// A service account's LocalLow lies below C:\Windows\system32\config\systemprofile, which a
// 32-bit program reaches in SysWOW64; the engine of the 32-bit view is in SysWOW64 as well.
// The package path on the engine's command line names SysWOW64, the folder the files are in
// for every process: a 64-bit engine service given the unadjusted path would find nothing.
TEST(PackagePathAdjustment, ServiceAccountFolderBelowSystem32MeetsTheEngineInSysWOW64) {
  const std::string localLow = WindowsFolder() + "\\system32\\config\\systemprofile\\AppData\\LocalLow";
  const std::string adjustedLocalLow = WindowsFolder() + "\\SysWOW64\\config\\systemprofile\\AppData\\LocalLow";
  const std::string staging = "\\Orvik\\Zelvan\\kzt1.6.0_32";
  const std::string package = staging + "\\kzt1.6.0_32.msi";
  CreateFolders(localLow);
  DeleteTree(localLow + "\\Orvik");
  {
    LocalLowOverride low(localLow);
    ASSERT_EQ(LocalLowFolder(), localLow) << "the known folder did not follow the registry";
    ReplacedFile engine(SystemWow64Folder() + "\\msiexec.exe", StandinEngine());
    ASSERT_TRUE(engine.replaced());
    SavedRegistryValue location(HKEY_LOCAL_MACHINE, kInstallerKey, "InstallerLocation", kView32);
    ASSERT_TRUE(location.SetString("C:\\Windows\\SysWOW64"));
    // The stand-in waits for the ready event, so every cabinet is on disk when it returns.
    std::string events = MakeScratchFolder("service-account") + "\\events.txt";
    EnvironmentOverride eventRecord("WRAPPER_STANDIN_EVENT_RECORD", events.c_str());
    StandinRun result = RunShippedWrapper("P=1");

    EXPECT_EQ(result.run.exitCode, 0) << DescribeBoxes(result.run);
    ASSERT_EQ(result.commandLines.size(), 1u);
    EXPECT_EQ(result.commandLines[0], Quoted("C:\\Windows\\SysWOW64\\msiexec.exe") + " /i " +
                                          Quoted(adjustedLocalLow + package) + " P=1  WRAPPER=1");
    EXPECT_EQ(SplitLines(ReadFileText(events)), std::vector<std::string>{"signalled"});
  }
  // As a 64-bit process sees the disk: everything under SysWOW64, nothing under system32.
  EXPECT_EQ(ReadNativeFile(adjustedLocalLow + package), ReadFileText(PayloadFile("kzt1.6.0_32.msi")));
  for (const char* cabinet : kCabinets) {
    EXPECT_EQ(ReadNativeFile(adjustedLocalLow + staging + "\\" + cabinet), ReadFileText(PayloadFile(cabinet)))
        << cabinet;
  }
  EXPECT_FALSE(NativePathExists(localLow + "\\Orvik"));
  DeleteTree(localLow + "\\Orvik");
}

// The gate reads system32\msi.dll, which for a 32-bit program is SysWOW64's: a 64-bit msi.dll
// that would pass does not count. Wine reads the version of a file on disk only when the
// library is set to load natively.
TEST(EngineGateIn32BitView, TheVersionOfThe32BitMsiDllDecides) {
  std::string scratch = MakeScratchFolder("engine-gate");
  std::string nativeCopy = scratch + "\\native-msi.dll";
  ASSERT_TRUE(WriteFileText(nativeCopy, ReadNativeFile(WindowsFolder() + "\\system32\\msi.dll")));
  SavedRegistryValue loadOrder(HKEY_CURRENT_USER, "Software\\Wine\\DllOverrides", "msi", 0);
  ASSERT_TRUE(loadOrder.SetString("native"));
  ASSERT_EQ(CheckEngineLibraryVersion(nativeCopy.c_str()), 1) << "the 64-bit msi.dll is new enough";
  const std::string msi32 = SystemWow64Folder() + "\\msi.dll";
  const std::string vendor = LocalLowFolder() + "\\Orvik";
  {
    ReplacedFile old(msi32, BuildPath("tests/engine/libraries/engine-1.20.9999.0.dll"));
    ASSERT_TRUE(old.replaced());
    ASSERT_EQ(CheckInstallerEngineVersion(), 0);
    DeleteTree(vendor);
    StandinRun result = RunWrapperWithStandin("/s");
    EXPECT_EQ(result.run.exitCode, -2) << DescribeBoxes(result.run);
    ASSERT_EQ(result.run.boxes.size(), 1u);
    const SeenBox& box = result.run.boxes[0];
    EXPECT_EQ(box.caption, "");
    EXPECT_EQ(box.text,
              "Zelvan(TM) could not be installed because the Windows Installer 2.0 Engine is not "
              "installed on this system.  Please download and install Windows Installer 2.0 or "
              "higher from the Microsoft web site.");
    EXPECT_TRUE(box.hasIcon);
    EXPECT_EQ(box.buttons, std::vector<int>{IDOK});
    EXPECT_TRUE(result.commandLines.empty());
    EXPECT_FALSE(PathExists(vendor)) << "nothing may be staged before the gate";
  }
  {
    ReplacedFile fit(msi32, BuildPath("tests/engine/libraries/engine-2.0.2600.0.dll"));
    ASSERT_TRUE(fit.replaced());
    StandinRun result = RunWrapperWithStandin("");
    EXPECT_EQ(result.run.exitCode, 0) << DescribeBoxes(result.run);
    EXPECT_EQ(result.commandLines.size(), 1u);
  }
}

// The shipped wrapper hardens its library search first (SetDllDirectoryA, looked up at run
// time: a 32-bit call through a pointer of the wrong convention would unbalance the stack
// here) and logs only failures: a run that has none leaves no record.
TEST(LibraryLoading, TheShippedWrapperHardensItsSearchWithoutALogRecord) {
  const std::string logFolder = MakeScratchFolder("diagnostic-log");
  EnvironmentOverride tmpdir("TMPDIR", logFolder.c_str());
  StandinRun result = RunWrapperWithStandin("");
  EXPECT_EQ(result.run.exitCode, 0) << DescribeBoxes(result.run);
  EXPECT_EQ(result.commandLines.size(), 1u);
  EXPECT_FALSE(PathExists(logFolder + "\\trevask.log")) << ReadFileText(logFolder + "\\trevask.log");
}

}  // namespace
