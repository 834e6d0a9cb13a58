// The shipped wrapper with Wine's real 32-bit msiexec.exe, run as a service account would run
// it on 64-bit Windows: its LocalLow below C:\Windows\system32\config\systemprofile (which a
// 32-bit program reaches in SysWOW64) and the engine of the 32-bit view in SysWOW64. The
// engine is handed the package path through SysWOW64 and installs the kit from it.
#include <gtest/gtest.h>

#include "user_folder_install.h"
#include "wow64_support.h"
#include "wrapper_run.h"

namespace {

const char kKitKey[] = "SOFTWARE\\Halvern\\Zelvan Development Kit\\1.6.0_32";
const char* const kCabinets[] = {"ss160320.cab", "st160320.cab", "sj160320.cab", "sp160320.cab",
                                 "sz160320.cab", "sb160320.cab", "sr160320.cab"};

std::string WindowsFolder() {
  char folder[MAX_PATH] = {};
  GetWindowsDirectoryA(folder, sizeof folder);
  return folder;
}

TEST(ServiceAccountInstall, TheEngineInSysWOW64InstallsFromThePathThroughSysWOW64) {
  RemoveSampleProducts();
  DeleteRegistryTreeInView(HKEY_LOCAL_MACHINE, "SOFTWARE\\Halvern", KEY_WOW64_32KEY);
  const std::string localLow = WindowsFolder() + "\\system32\\config\\systemprofile\\AppData\\LocalLow";
  const std::string adjustedStaging =
      WindowsFolder() + "\\SysWOW64\\config\\systemprofile\\AppData\\LocalLow\\Orvik\\Zelvan\\kzt1.6.0_32";
  CreateFolders(localLow);
  DeleteTree(localLow + "\\Orvik");
  LocalLowOverride low(localLow);
  ASSERT_EQ(LocalLowFolder(), localLow) << "the known folder did not follow the registry";
  SavedRegistryValue location(HKEY_LOCAL_MACHINE, kInstallerKey, "InstallerLocation", KEY_WOW64_32KEY);
  ASSERT_TRUE(location.SetString("C:\\Windows\\SysWOW64"));

  ChildRun run = RunChild("\"" + WrapperPath() + "\" /qn", 600000);
  ASSERT_FALSE(run.timedOut);
  EXPECT_TRUE(run.boxes.empty()) << DescribeBoxes(run);
  EXPECT_EQ(run.exitCode, 0);
  std::string home;
  EXPECT_TRUE(ReadRegistryStringInView(HKEY_LOCAL_MACHINE, kKitKey, "ZelvanHome", KEY_WOW64_32KEY, &home));
  EXPECT_TRUE(PathExists(home + "\\README.txt")) << home;
  // The package's wait record lies in the folder of the package path the engine opened; it
  // lists every cabinet complete. A 64-bit process finds it there, under SysWOW64.
  std::vector<std::string> waitRecord =
      SplitLines(ReadNativeFile(adjustedStaging + "\\sample-wait-record.txt"));
  ASSERT_EQ(waitRecord.size(), 7u) << "no wait record in " << adjustedStaging;
  for (size_t i = 0; i < 7; ++i) {
    EXPECT_EQ(waitRecord[i], std::string(kCabinets[i]) + " " +
                                 std::to_string(FileSize(BuildPath("payload/") + kCabinets[i])));
  }
  DeleteTree(localLow + "\\Orvik");
}

// The shipped build for a user whose LocalLow lies in a folder outside the code page (1252),
// pointed there through User Shell Folders (a new user's prefix costs minutes here): the
// payload is staged there, by its short form, and the engine installs from it.
TEST(CjkLocalLow, ShippedBuildStagesBelowAUserFolderOutsideTheCodePage) {
  ASSERT_EQ(GetACP(), 1252u) << "this case is written for the code page 1252";
  wchar_t profile[MAX_PATH] = {};
  ASSERT_GT(GetEnvironmentVariableW(L"USERPROFILE", profile, MAX_PATH), 0u);
  const std::wstring appData = std::wstring(profile) + L"\\AppData";
  const std::wstring localLow = appData + L"\\\u674e\u96f7 LocalLow";
  CreateDirectoryW(appData.c_str(), nullptr);
  ASSERT_TRUE(CreateDirectoryW(localLow.c_str(), nullptr) || GetLastError() == ERROR_ALREADY_EXISTS);
  LocalLowOverride low(localLow);
  ASSERT_EQ(LocalLowFolderW(), localLow) << "the known folder did not follow the registry";
  RemoveSampleInstall(localLow);

  LoggedInstall install = RunSilentInstall("cjk-locallow");
  ExpectInstalledFrom(localLow, install);
  RemoveSampleInstall(localLow);
}

}  // namespace
