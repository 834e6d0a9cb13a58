// The real wrapper with the recording stand-in placed in odd engine folders: how the engine
// folder from the registry ends up on the command line, and the SysWOW64 adjustment of the
// package path.
#include <gtest/gtest.h>

#include "wrapper_run.h"

namespace {

std::string MainCommandLine(const std::string& engine, const std::string& package,
                            const std::string& optionString) {
  return "\"" + engine + "\" /i \"" + package + "\" " + optionString + " WRAPPER=1";
}

// Creates folder and its missing parents.
void CreateFolders(const std::string& folder) {
  for (size_t at = folder.find('\\', 3); at != std::string::npos; at = folder.find('\\', at + 1)) {
    CreateDirectoryA(folder.substr(0, at).c_str(), nullptr);
  }
  CreateDirectoryA(folder.c_str(), nullptr);
}

// A copy of the stand-in msiexec.exe in folder (created with its parents).
void PlaceStandin(const std::string& folder) {
  CreateFolders(folder);
  ASSERT_TRUE(CopyFileA(StandinEngine().c_str(), (folder + "\\msiexec.exe").c_str(), FALSE))
      << folder << " error " << GetLastError();
}

TEST(EnginePathThroughWrapper, TrailingBackslashGivesTwoOnTheCommandLine) {
  InstallerLocationOverride location(StandinFolder() + "\\");
  StandinRun result = RunWrapperRecording("/vP=1");
  ASSERT_TRUE(Started(result.run));
  EXPECT_EQ(result.run.exitCode, 0) << DescribeBoxes(result.run);
  ASSERT_EQ(result.commandLines.size(), 1u);
  EXPECT_EQ(result.commandLines[0],
            MainCommandLine(StandinFolder() + "\\\\msiexec.exe", StagedPackagePath(), " P=1 "));
}

TEST(EnginePathThroughWrapper, BinaryValueIsReadAsTheFolderName) {
  std::string folder = StandinFolder();  // stored without a terminator
  InstallerLocationOverride location(REG_BINARY, folder.data(), static_cast<DWORD>(folder.size()));
  StandinRun result = RunWrapperRecording("");
  EXPECT_EQ(result.run.exitCode, 0) << DescribeBoxes(result.run);
  ASSERT_EQ(result.commandLines.size(), 1u);
  EXPECT_EQ(result.commandLines[0], ExpectedMainCommandLine(""));
}

TEST(EnginePathThroughWrapper, AbsentValueEndsWithMinus3AfterStaging) {
  InstallerLocationOverride location(REG_SZ, nullptr, 0);
  StandinRun result = RunWrapperRecording("/s P=1");
  ASSERT_TRUE(Started(result.run));
  ASSERT_FALSE(result.run.timedOut);
  EXPECT_EQ(result.run.exitCode, -3) << DescribeBoxes(result.run);
  EXPECT_TRUE(result.commandLines.empty());
  EXPECT_GT(FileSize(StagedPackagePath()), 0) << "the package stays on disk";
  EXPECT_TRUE(result.run.boxes.empty());
}

TEST(EnginePathThroughWrapper, EnginePathOf259CharactersRunsAndOf260IsNotFound) {
  // folder + "\msiexec.exe" must fit the 260-byte engine path buffer with its terminator.
  std::string scratch = MakeScratchFolder("engine-path-length");
  const size_t fileName = std::string("\\msiexec.exe").size();
  for (size_t length : {size_t{259}, size_t{260}}) {
    size_t folderLength = length - fileName;
    // scratch\<padding>\<tail>, each component within the platform's 255 characters.
    std::string folder = scratch + "\\" + std::string(120, 'p') + "\\";
    ASSERT_LT(folder.size(), folderLength);
    folder += std::string(folderLength - folder.size(), 't');
    ASSERT_EQ(folder.size() + fileName, length);
    // Only the registry value matters for the longer one: it is refused before any look.
    if (length == 259) {
      ASSERT_NO_FATAL_FAILURE(PlaceStandin(folder));
    }
    InstallerLocationOverride location(folder);
    StandinRun result = RunWrapperRecording("");
    ASSERT_TRUE(Started(result.run));
    if (length == 259) {
      EXPECT_EQ(result.run.exitCode, 0) << DescribeBoxes(result.run);
      ASSERT_EQ(result.commandLines.size(), 1u);
      EXPECT_EQ(result.commandLines[0],
                MainCommandLine(folder + "\\msiexec.exe", StagedPackagePath(), ""));
    } else {
      EXPECT_EQ(result.run.exitCode, -3) << DescribeBoxes(result.run);
      EXPECT_TRUE(result.commandLines.empty());
      EXPECT_GT(FileSize(StagedPackagePath()), 0) << "the package stays on disk";
    }
  }
}

TEST(PackagePathAdjustment, AUserFolderNamedSystem32IsHandedOnAsItIs) {
  // The package path is named through SysWOW64 only when it begins with the system folder
  // (a service account's profile, which a 32-bit wrapper sees redirected; the 32-bit tier
  // shows that case). A folder of the user's own that is named system32 is no redirection:
  // its SysWOW64 twin would be another folder, one the user could fill.
  std::string scratch = MakeScratchFolder("package-path-adjustment");
  ASSERT_EQ(scratch.find("system32"), std::string::npos);
  ASSERT_EQ(scratch.find("SysWOW64"), std::string::npos);
  const std::string original = LocalLowFolder();
  ASSERT_FALSE(original.empty());
  const std::string package = "\\Orvik\\Zelvan\\kzt1.6.0_32\\kzt1.6.0_32.msi";

  struct Case {
    const char* label;
    const char* engineFolder;  // below scratch
    const char* localLow;      // below scratch
    const char* onCommandLine;  // the LocalLow part of the package path the engine is given
  };
  const Case cases[] = {
      {"SysWOW64 engine", "a\\SysWOW64", "low1\\system32\\y\\system32", "low1\\system32\\y\\system32"},
      {"capital S in the package path", "b\\SysWOW64", "low2\\System32\\y", "low2\\System32\\y"},
      {"engine folder in lower case", "c\\syswow64", "low3\\system32\\y", "low3\\system32\\y"},
      {"engine elsewhere", "d\\engine", "low4\\system32\\y", "low4\\system32\\y"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.label);
    std::string engineFolder = scratch + "\\" + c.engineFolder;
    std::string localLow = scratch + "\\" + c.localLow;
    ASSERT_NO_FATAL_FAILURE(PlaceStandin(engineFolder));
    CreateFolders(localLow);  // Wine ignores a redirection to a folder that does not exist
    ASSERT_TRUE(IsDirectory(localLow));
    {
      LocalLowOverride lowOverride(localLow);
      ASSERT_EQ(LocalLowFolder(), localLow) << "the known folder did not follow the registry";
      InstallerLocationOverride location(engineFolder);
      StandinRun result = RunWrapperRecording("P=1");
      EXPECT_EQ(result.run.exitCode, 0) << DescribeBoxes(result.run);
      ASSERT_EQ(result.commandLines.size(), 1u);
      EXPECT_EQ(result.commandLines[0],
                MainCommandLine(engineFolder + "\\msiexec.exe",
                                scratch + "\\" + c.onCommandLine + package, "P=1 "));
      // The file itself was written before the engine was located, under the real name.
      EXPECT_GT(FileSize(localLow + package), 0);
    }
    EXPECT_EQ(LocalLowFolder(), original) << "the known folder was not restored";
  }
}

}  // namespace
