// A link planted in the folder chain below the user data folder must not redirect the
// wrapper's writes: the wrapper refuses with the writer's box (access denied) and writes
// nothing at the link's target. Under Wine a host symbolic link to a folder is what shows up
// as a reparse point, so the tests plant those.
#include <gtest/gtest.h>

#include "fault_support.h"

namespace {

const char kRuntimeKey[] = "SOFTWARE\\Halvern\\Zelvan Runtime Environment\\1.6.0_32";

std::string Wrapper() { return "\"" + WrapperPath() + "\""; }
std::string OrvikFolder() { return LocalLowFolder() + "\\Orvik"; }
std::string ZelvanFolder() { return OrvikFolder() + "\\Zelvan"; }
std::string UpdateServiceFolder() { return ZelvanFolder() + "\\AU"; }

bool IsEmptyFolder(const std::string& path) {
  WIN32_FIND_DATAA found;
  HANDLE search = FindFirstFileA((path + "\\*").c_str(), &found);
  if (search == INVALID_HANDLE_VALUE) return false;
  bool empty = true;
  do {
    std::string name = found.cFileName;
    if (name != "." && name != "..") empty = false;
  } while (FindNextFileA(search, &found));
  FindClose(search);
  return empty;
}

class LinkedChain : public ::testing::Test {
 protected:
  void SetUp() override {
    RemoveLinks();
    DeleteTree(OrvikFolder());
    DeleteRegistryTree(HKEY_LOCAL_MACHINE, "SOFTWARE\\Halvern");
    std::string scratch = MakeScratchFolder("linked-chain");
    record_ = scratch + "\\record.txt";
    // The target lies inside the prefix, where a planted link would point.
    target_ = LocalLowFolder() + "\\link-target";
    DeleteTree(target_);
    CreateDirectoryA(target_.c_str(), nullptr);
  }
  void TearDown() override {
    RemoveLinks();  // before any deletion, which would follow them
    DeleteTree(OrvikFolder());
    DeleteTree(target_);
    DeleteRegistryTree(HKEY_LOCAL_MACHINE, "SOFTWARE\\Halvern");
  }
  static void RemoveLinks() {
    for (const std::string& level : {StagingFolder(), UpdateServiceFolder(), ZelvanFolder(), OrvikFolder()}) {
      RemoveHostLink(level);
    }
  }

  // Makes the folders above level, then level itself as a link to the target.
  void PlantLink(const std::string& level) {
    for (const std::string& folder : {OrvikFolder(), ZelvanFolder()}) {
      if (folder.size() < level.size()) CreateDirectoryA(folder.c_str(), nullptr);
    }
    ASSERT_EQ(RunHostShell("ln -s '" + UnixPath(target_) + "' '" + UnixPath(level) + "'"), 0);
    DWORD attributes = GetFileAttributesA(level.c_str());
    ASSERT_NE(attributes, INVALID_FILE_ATTRIBUTES) << level;
    ASSERT_TRUE(attributes & FILE_ATTRIBUTE_REPARSE_POINT) << level << " shows as " << attributes;
  }

  void ExpectRefusedWithAccessDenied(const ChildRun& run) {
    ASSERT_NO_FATAL_FAILURE(ExpectWriterBox(run, "Installer : Wrapper.CreateFile ", ERROR_ACCESS_DENIED));
    EXPECT_TRUE(IsEmptyFolder(target_)) << "something was written through the link";
  }

  std::string record_;
  std::string target_;
};

TEST_F(LinkedChain, LinkInTheStagingChainIsRefusedBeforeAnythingIsWritten) {
  InstallerLocationOverride location(StandinFolder());
  EnvironmentOverride recordFile("WRAPPER_STANDIN_RECORD", record_.c_str());
  for (const std::string& level : {StagingFolder(), ZelvanFolder(), OrvikFolder()}) {
    SCOPED_TRACE(level);
    RemoveLinks();
    DeleteTree(OrvikFolder());
    DeleteFileA(record_.c_str());
    PlantLink(level);
    ChildRun run = RunChild(Wrapper(), 60000);
    ExpectRefusedWithAccessDenied(run);
    EXPECT_TRUE(SplitLines(ReadFileText(record_)).empty()) << "the engine was started";
  }
}

TEST_F(LinkedChain, LinkedUpdateServiceFolderIsRefusedAfterTheMainRun) {
  InstallerLocationOverride location(StandinFolder());
  EnvironmentOverride recordFile("WRAPPER_STANDIN_RECORD", record_.c_str());
  ASSERT_TRUE(SetRegistryString(HKEY_LOCAL_MACHINE, kRuntimeKey, "Home", "C:\\rtq"));
  PlantLink(UpdateServiceFolder());
  ChildRun run = RunChild(Wrapper(), 60000);
  ExpectRefusedWithAccessDenied(run);
  // The main run took place and succeeded; the update service was never started.
  std::vector<std::string> lines = SplitLines(ReadFileText(record_));
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_EQ(lines[0], ExpectedMainCommandLine(""));
  EXPECT_TRUE(SameBytes(StagedPackagePath(), PayloadFile("kzt1.6.0_32.msi")));
}

}  // namespace
