// A link planted in the folder chain below the user data folder must not redirect the
// wrapper's writes: the wrapper refuses with the writer's box (access denied) and writes
// nothing at the link's target. Under Wine a host symbolic link to a folder is what shows up
// as a reparse point, so the tests plant those.
#include <gtest/gtest.h>

#include <thread>

#include "fault_support.h"
#include "payload/payload_resources.h"
#include "payload/resource_writer.h"
#include "payload/error_box.h"
#include "payload/held_folders.h"
#include "payload/locked_payload_files.h"
#include "payload/staging_folder.h"

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
    RestoreUserDataFolder();
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

  // Undoes UserDataFolderReachedThroughALink's move of the prefix's LocalLow folder.
  static void RestoreUserDataFolder() {
    std::string localLow = UnixPath(LocalLowFolder());
    while (!localLow.empty() && localLow.back() == '/') localLow.pop_back();
    RunHostShell("if [ -L '" + localLow + "' ] && [ -d '" + localLow + ".real' ]; then rm '" + localLow +
                 "' && mv '" + localLow + ".real' '" + localLow + "'; fi");
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

TEST_F(LinkedChain, HeldStagingFolderCannotBeSwappedForALinkBeforeTheWrite) {
  // In this process, as the wrapper's main thread does it: the chain is prepared (and, from
  // then on, held), and between that and the write another process moves the staging folder
  // away and puts a link to a folder of its own in its place.
  HMODULE wrapper = LoadLibraryExA(WrapperPath().c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
  ASSERT_NE(wrapper, nullptr) << GetLastError();
  char package[MAX_PATH] = {};
  ASSERT_EQ(PreparePackagePath(package, 0), 1);
  ASSERT_EQ(std::string(package), StagedPackagePath());
  const std::string staging = StagingFolder();
  DWORD moveError = MoveFileExA(staging.c_str(), (staging + ".moved").c_str(), 0) ? 0 : GetLastError();
  if (moveError == 0) {
    ASSERT_EQ(RunHostShell("ln -s '" + UnixPath(target_) + "' '" + UnixPath(staging) + "'"), 0);
  }
  EXPECT_EQ(ExtractResourceToFile(wrapper, PAYLOAD_ID_PRODUCT_PACKAGE, PAYLOAD_TYPE_INSTALLER, package), 1);
  EXPECT_EQ(moveError, static_cast<DWORD>(ERROR_SHARING_VIOLATION)) << "the staging folder could be moved away";
  EXPECT_TRUE(IsEmptyFolder(target_)) << "the package was written through the link";
  ReleaseStagedHoldsForTesting();
  RemoveHostLink(staging);
  DeleteTree(staging + ".moved");
  FreeLibrary(wrapper);
}

TEST_F(LinkedChain, UserDataFolderThatCannotBeHeldIsRefusedBeforeAnythingIsStaged) {
  // Another process has LocalLow open for deletion, so the wrapper cannot hold it: a path
  // through a folder nobody holds can be re-pointed at any moment.
  InstallerLocationOverride location(StandinFolder());
  EnvironmentOverride recordFile("WRAPPER_STANDIN_RECORD", record_.c_str());
  HANDLE other = CreateFileA(LocalLowFolder().c_str(), DELETE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                             nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  ASSERT_NE(other, INVALID_HANDLE_VALUE) << GetLastError();
  ChildRun run = RunChild(Wrapper(), 60000);
  CloseHandle(other);
  ASSERT_NO_FATAL_FAILURE(ExpectWriterBox(run, "Installer : Wrapper.CreateFile ", ERROR_SHARING_VIOLATION));
  EXPECT_TRUE(SplitLines(ReadFileText(record_)).empty()) << "the engine was started";
  EXPECT_FALSE(PathExists(OrvikFolder())) << "something was staged";
}

TEST_F(LinkedChain, AFileAtALevelOfTheChainIsRefusedAsAMissingFolder) {
  // In this process, as the wrapper's main thread prepares the package path: a file where a
  // folder of the chain belongs could be swapped for a link right after the check, so the
  // chain is refused there, before any path is handed on.
  for (const std::string& level : {OrvikFolder(), ZelvanFolder(), StagingFolder()}) {
    SCOPED_TRACE(level);
    DeleteTree(OrvikFolder());
    for (const std::string& folder : {OrvikFolder(), ZelvanFolder()}) {
      if (folder.size() < level.size()) CreateDirectoryA(folder.c_str(), nullptr);
    }
    ASSERT_TRUE(WriteFileText(level, "a file"));
    char package[MAX_PATH] = "stale";
    EXPECT_EQ(PreparePackagePath(package, 0), 0);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_PATH_NOT_FOUND));
    EXPECT_STREQ(package, "");
    ReleaseStagedHoldsForTesting();
    DeleteFileA(level.c_str());
  }
}

TEST_F(LinkedChain, UserDataFolderIsLookedUpOncePerRun) {
  // In this process, as the wrapper does it: once the package path is prepared, another
  // process points the user's LocalLow setting at a folder of its own. Every later path of
  // the run (the cabinets, the update service) stays where the package is.
  const std::string first = MakeScratchFolder("looked-up-once") + "\\LocalLow";
  const std::string other = MakeScratchFolder("looked-up-later") + "\\LocalLow";
  CreateDirectoryA(first.c_str(), nullptr);
  CreateDirectoryA(other.c_str(), nullptr);
  LocalLowOverride setting(first);
  char package[MAX_PATH] = {};
  ASSERT_EQ(PreparePackagePath(package, 0), 1) << GetLastError();
  const std::string staging = first + "\\Orvik\\Zelvan\\kzt1.6.0_32";
  ASSERT_EQ(std::string(package), staging + "\\kzt1.6.0_32.msi") << "the setting did not take effect";
  ASSERT_TRUE(LocalLowOverride::Point(other));
  for (const char* cabinet : kCabinets) {
    std::string name(cabinet, strlen(cabinet) - 4);
    char path[MAX_PATH] = {};
    EXPECT_EQ(PrepareCabinetPath(path, name.c_str(), 0), 1) << cabinet;
    EXPECT_EQ(std::string(path), staging + "\\" + cabinet);
  }
  char updateService[MAX_PATH] = {};
  EXPECT_EQ(PrepareUpdateServiceFolder(updateService), 1);
  EXPECT_EQ(std::string(updateService), first + "\\Orvik\\Zelvan\\AU\\");
  EXPECT_FALSE(PathExists(other + "\\Orvik")) << "a path of the run was built on the later answer";
  ReleaseStagedHoldsForTesting();
}

TEST_F(LinkedChain, AUserDataFolderOutsideTheCodePageIsUsedByItsShortName) {
  // "Łukasz" has no counterpart in this prefix's code page (1252); its best-fit look-alike
  // "Lukasz" would be another folder, possibly another user's. The folder's short name
  // reaches it exactly.
  const std::string scratch = MakeScratchFolder("outside-code-page");
  std::wstring wideScratch(scratch.begin(), scratch.end());
  const std::wstring wideLocalLow = wideScratch + L"\\\x141ukasz";
  ASSERT_TRUE(CreateDirectoryW(wideLocalLow.c_str(), nullptr) || GetLastError() == ERROR_ALREADY_EXISTS);
  WCHAR shortForm[MAX_PATH] = {};
  ASSERT_GT(GetShortPathNameW(wideLocalLow.c_str(), shortForm, MAX_PATH), 0u);
  char narrowShort[MAX_PATH] = {};
  BOOL usedDefault = FALSE;
  WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, shortForm, -1, narrowShort, MAX_PATH, nullptr, &usedDefault);
  ASSERT_FALSE(usedDefault) << "the short form itself does not convert";
  LocalLowOverride setting(scratch);
  ASSERT_TRUE(LocalLowOverride::PointWide(wideLocalLow));
  char package[MAX_PATH] = {};
  EXPECT_EQ(PreparePackagePath(package, 0), 1) << GetLastError();
  EXPECT_EQ(std::string(package), std::string(narrowShort) + "\\Orvik\\Zelvan\\kzt1.6.0_32\\kzt1.6.0_32.msi");
  EXPECT_TRUE(IsDirectory(std::string(narrowShort) + "\\Orvik\\Zelvan\\kzt1.6.0_32"));
  EXPECT_FALSE(PathExists(scratch + "\\Lukasz")) << "the look-alike folder was made";
  ReleaseStagedHoldsForTesting();
}

TEST_F(LinkedChain, UserDataFolderReachedThroughALinkIsUsedWhereItReallyIs) {
  // A user who moved LocalLow elsewhere and left a link in its place: the wrapper stages where
  // the folder really is, so no path it hands the engine passes through the link, and
  // re-pointing the link while the engine runs changes nothing the engine reads.
  const std::string localLow = LocalLowFolder();
  const std::string unixLocalLow = UnixPath(localLow);
  ASSERT_EQ(RunHostShell("mv '" + unixLocalLow + "' '" + unixLocalLow + ".real' && ln -s '" + unixLocalLow +
                         ".real' '" + unixLocalLow + "'"), 0);
  ASSERT_TRUE(GetFileAttributesA(localLow.c_str()) & FILE_ATTRIBUTE_REPARSE_POINT);
  const std::string real = localLow + ".real";
  // The decoy chain the link is pointed at once the engine runs.
  const std::string decoy = MakeScratchFolder("linked-user-data-decoy");
  const std::string decoyStaging = decoy + "\\Orvik\\Zelvan\\kzt1.6.0_32";
  for (const std::string& folder : {decoy + "\\Orvik", decoy + "\\Orvik\\Zelvan", decoyStaging}) {
    CreateDirectoryA(folder.c_str(), nullptr);
  }
  ASSERT_TRUE(WriteFileText(decoyStaging + "\\kzt1.6.0_32.msi", "decoy"));
  for (const char* cabinet : kCabinets) ASSERT_TRUE(WriteFileText(decoyStaging + "\\" + cabinet, "decoy"));

  const std::string copies = MakeScratchFolder("linked-user-data-reads");
  const std::string events = MakeScratchFolder("linked-user-data-events") + "\\events.txt";
  InstallerLocationOverride location(StandinFolder());
  EnvironmentOverride recordFile("WRAPPER_STANDIN_RECORD", record_.c_str());
  EnvironmentOverride sleep("WRAPPER_STANDIN_SLEEP_MS", "2000");
  EnvironmentOverride eventRecord("WRAPPER_STANDIN_EVENT_RECORD", events.c_str());
  EnvironmentOverride copy("WRAPPER_STANDIN_COPY_DIR", copies.c_str());
  ChildRun run;
  std::thread wrapperRun([&run] { run = RunChild(Wrapper(), 60000); });
  bool engineWaiting = WaitForLine(events, "signalled", 30000);
  int repointed = engineWaiting ? RunHostShell("ln -sfn '" + UnixPath(decoy) + "' '" + unixLocalLow + "'") : -1;
  wrapperRun.join();
  RestoreUserDataFolder();

  ASSERT_TRUE(engineWaiting);
  EXPECT_EQ(repointed, 0);
  EXPECT_TRUE(run.boxes.empty()) << DescribeBoxes(run);
  EXPECT_EQ(run.exitCode, 0);
  std::vector<std::string> lines = SplitLines(ReadFileText(record_));
  ASSERT_EQ(lines.size(), 1u);
  const std::string realPackage = real + "\\Orvik\\Zelvan\\kzt1.6.0_32\\kzt1.6.0_32.msi";
  EXPECT_EQ(lines[0], "\"" + StandinEngine() + "\" /i \"" + realPackage + "\"  WRAPPER=1");
  EXPECT_TRUE(SameBytes(copies + "\\0\\kzt1.6.0_32.msi", PayloadFile("kzt1.6.0_32.msi")));
  for (const char* cabinet : kCabinets) EXPECT_TRUE(SameBytes(copies + "\\0\\" + cabinet, PayloadFile(cabinet)));
}

}  // namespace
