// The wrapper installing the sample product with Wine's real msiexec.exe: what a person or a
// deployment script gets, from the staged payload to the installed kit, the companion
// runtime and the update service.
#include <gtest/gtest.h>
#include <shlobj.h>

#include <algorithm>

#include "user_folder_install.h"
#include "wrapper_run.h"

namespace {

const char kKitKey[] = "SOFTWARE\\Halvern\\Zelvan Development Kit\\1.6.0_32";
const char kRuntimeKey[] = "SOFTWARE\\Halvern\\Zelvan Runtime Environment\\1.6.0_32";
const char kDatabaseKey[] = "SOFTWARE\\Halvern\\Zelvan Database\\1.6.0_32";
const char kAutoUpdateKey[] = "SOFTWARE\\Halvern\\Auto Update";
const char* const kCabinets[] = {"ss160320.cab", "st160320.cab", "sj160320.cab", "sp160320.cab",
                                 "sz160320.cab", "sb160320.cab", "sr160320.cab"};
// The kit's files, by cabinet; rtq.msi, its transforms and zelvandb.msi are the companions.
const char* const kKitFiles[] = {"README.txt", "bin\\kztcore.dat", "bin\\kzt.cfg", "lib\\rtlib.dat",
                                 "release", "src\\index.txt"};
const char* const kToolFiles[] = {"tools\\kztpack.dat", "tools\\kztlint.dat"};
const char* const kCompanionFiles[] = {"rtq.msi", "rtq1041.MST", "rtq2052.MST"};

std::string PayloadFile(const std::string& name) {
  std::string path = std::string("Z:") + PAYLOAD_DIR + "/" + name;
  std::replace(path.begin(), path.end(), '/', '\\');
  return path;
}

std::string Wrapper() { return "\"" + WrapperPath() + "\""; }

FILETIME LastWriteTime(const std::string& path) {
  WIN32_FILE_ATTRIBUTE_DATA data = {};
  GetFileAttributesExA(path.c_str(), GetFileExInfoStandard, &data);
  return data.ftLastWriteTime;
}

std::string KitHome() {
  std::string home;
  ReadRegistryString(HKEY_LOCAL_MACHINE, kKitKey, "ZelvanHome", &home);
  return home;
}

std::string CommonFilesFolder() {
  char folder[MAX_PATH] = {};
  SHGetFolderPathA(nullptr, CSIDL_PROGRAM_FILES_COMMON, nullptr, 0, folder);
  return folder;
}

#ifndef _WIN64
// The i686 build of these tests runs the shipped wrapper in the guest's 64-bit prefix.
bool KeyInNativeView(const char* key) {
  HKEY opened = nullptr;
  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, key, 0, KEY_READ | KEY_WOW64_64KEY, &opened) != ERROR_SUCCESS) {
    return false;
  }
  RegCloseKey(opened);
  return true;
}
#endif

// Every test starts from a machine without the sample products and without staged files.
class SampleInstall : public ::testing::Test {
 protected:
  void SetUp() override {
    RemoveSampleProducts();
    DeleteRegistryTree(HKEY_LOCAL_MACHINE, "SOFTWARE\\Halvern");
    DeleteTree(LocalLowFolder() + "\\Orvik");
    // What the registration tool recorded of an earlier install in the same prefix (the
    // 32-bit tier runs every install case in one); removing the products leaves it.
    DeleteFileA((CommonFilesFolder() + "\\Zelvan\\Zelvan Update\\dorvane-calls.txt").c_str());
  }
};

TEST_F(SampleInstall, SilentInstallWalksTheWholeRoad) {
  ChildRun run = RunChild(Wrapper() + " /s", 600000);
  ASSERT_TRUE(Started(run));
  ASSERT_FALSE(run.timedOut);
  EXPECT_TRUE(run.boxes.empty());
  EXPECT_EQ(run.exitCode, 0);

  // The payload staged byte for byte, the cabinets beside the package in their write order.
  EXPECT_EQ(ReadFileText(StagedPackagePath()), ReadFileText(PayloadFile("kzt1.6.0_32.msi")));
  FILETIME previous = LastWriteTime(StagedPackagePath());
  for (const char* cabinet : kCabinets) {
    SCOPED_TRACE(cabinet);
    std::string staged = StagingFolder() + "\\" + cabinet;
    EXPECT_EQ(ReadFileText(staged), ReadFileText(PayloadFile(cabinet)));
    FILETIME written = LastWriteTime(staged);
    EXPECT_GE(CompareFileTime(&written, &previous), 0);
    previous = written;
  }
  // The package's wait returned only once every cabinet was complete.
  std::vector<std::string> waitRecord = SplitLines(ReadFileText(StagingFolder() + "\\sample-wait-record.txt"));
  ASSERT_EQ(waitRecord.size(), 7u);
  for (size_t i = 0; i < 7; ++i) {
    EXPECT_EQ(waitRecord[i], std::string(kCabinets[i]) + " " +
                                 std::to_string(FileSize(PayloadFile(kCabinets[i]))));
  }

  // The kit with the silent default features, which leave the database out: its package
  // never reached the kit home, so the database product was not installed (the wrapper
  // deletes the package file either way; only the product's own key tells).
  std::string home = KitHome();
  ASSERT_FALSE(home.empty());
  for (const char* file : kKitFiles) EXPECT_TRUE(PathExists(home + "\\" + file)) << file;
  for (const char* file : kToolFiles) EXPECT_TRUE(PathExists(home + "\\" + file)) << file;
  EXPECT_FALSE(RegistryKeyExists(HKEY_LOCAL_MACHINE, kDatabaseKey));
  std::string status;
  EXPECT_FALSE(ReadRegistryString(HKEY_LOCAL_MACHINE, "SOFTWARE\\Halvern", "InstallStatus", &status));

  // The companion runtime was installed from the kit home, then its files were deleted.
  EXPECT_TRUE(RegistryKeyExists(HKEY_LOCAL_MACHINE, kRuntimeKey));
  for (const char* file : kCompanionFiles) EXPECT_FALSE(PathExists(home + "\\" + file)) << file;

  // The update service: written to its folder, installed for all users, registered.
  std::string updateFolder = LocalLowFolder() + "\\Orvik\\Zelvan\\AU";
  EXPECT_EQ(ReadFileText(updateFolder + "\\au.msi"), ReadFileText(PayloadFile("au.msi")));
  EXPECT_EQ(ReadFileText(updateFolder + "\\au.cab"), ReadFileText(PayloadFile("au.cab")));
  std::string version;
  EXPECT_TRUE(ReadRegistryString(HKEY_LOCAL_MACHINE, kAutoUpdateKey, "AUVersion", &version));
  EXPECT_EQ(version, "2.0.7.1");
  std::string toolFolder = CommonFilesFolder() + "\\Zelvan\\Zelvan Update";
  std::vector<std::string> calls = SplitLines(ReadFileText(toolFolder + "\\dorvane-calls.txt"));
  ASSERT_EQ(calls.size(), 1u);
  EXPECT_EQ(calls[0], "\"" + toolFolder + "\\dorvane.exe\" -r rtq 1.6.0_32-b05\t-r\trtq\t1.6.0_32-b05");

#ifndef _WIN64
  // On 64-bit Windows the 32-bit packages keep their values in the 32-bit view (read above, and
  // where the wrapper found the kit home and the runtime) and their files in the 32-bit folders.
  for (const char* key : {kKitKey, kRuntimeKey, kAutoUpdateKey}) {
    EXPECT_FALSE(KeyInNativeView(key)) << key << " is in the 64-bit view";
  }
  EXPECT_NE(home.find("\\Program Files (x86)\\"), std::string::npos) << home;
  EXPECT_NE(toolFolder.find("\\Program Files (x86)\\"), std::string::npos) << toolFolder;
#endif
}

TEST_F(SampleInstall, FullInstallPassingQuietThroughInstallsEveryFileOfEveryCabinet) {
  ChildRun run = RunChild(Wrapper() + " /qn", 600000);
  ASSERT_FALSE(run.timedOut);
  EXPECT_EQ(run.exitCode, 0);
  std::string home = KitHome();
  ASSERT_FALSE(home.empty());
  for (const char* file : kKitFiles) EXPECT_TRUE(PathExists(home + "\\" + file)) << file;
  for (const char* file : kToolFiles) EXPECT_TRUE(PathExists(home + "\\" + file)) << file;
  // Not a silent install: the companion files stay for the kit's own installs.
  for (const char* file : kCompanionFiles) EXPECT_TRUE(PathExists(home + "\\" + file)) << file;
  EXPECT_TRUE(PathExists(home + "\\zelvandb.msi"));
  // No runtime registered, so no update service.
  EXPECT_FALSE(RegistryKeyExists(HKEY_LOCAL_MACHINE, kAutoUpdateKey));
}

TEST_F(SampleInstall, ReinstallRequestOfThePackageIsAnsweredWithASecondRun) {
  // The engine's log is appended to by both runs.
  std::string log = MakeScratchFolder("reinstall") + "\\engine.log";
  ChildRun run = RunChild(Wrapper() + " /qn SAMPLE_REQUEST_REINSTALL=1 /l*+ \"" + log + "\"", 600000);
  ASSERT_FALSE(run.timedOut);
  EXPECT_EQ(run.exitCode, 0);
  EXPECT_TRUE(run.boxes.empty());
  EXPECT_FALSE(KitHome().empty());
  // The second run found the product the first one installed.
  EXPECT_NE(ReadFileText(log).find("Installed = 1"), std::string::npos);
}

TEST_F(SampleInstall, WithoutARequestTheEngineRunsOnce) {
  std::string log = MakeScratchFolder("single-run") + "\\engine.log";
  ChildRun run = RunChild(Wrapper() + " /qn /l*+ \"" + log + "\"", 600000);
  ASSERT_FALSE(run.timedOut);
  EXPECT_EQ(run.exitCode, 0);
  std::string text = ReadFileText(log);
  EXPECT_NE(text.find("INSTALL"), std::string::npos);
  EXPECT_EQ(text.find("Installed = 1"), std::string::npos);
}

}  // namespace
