// Staged files and other processes: a payload file another process holds stops the wrapper
// with the writer's box, and the files the wrapper staged cannot be changed by anyone while
// it runs, so the engine reads exactly the payload. Runs the real wrapper against the
// recording stand-in for msiexec.exe.
#include <gtest/gtest.h>

#include <memory>
#include <thread>

#include "fault_support.h"

namespace {

std::string Wrapper() { return "\"" + WrapperPath() + "\""; }

// Another process opens a folder for writing, as it must to turn an empty folder into a
// mount point: 0 when it could, else the error.
DWORD TryToOpenForWriting(const std::string& folder) {
  HANDLE handle = CreateFileA(folder.c_str(), FILE_WRITE_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                              nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (handle == INVALID_HANDLE_VALUE) return GetLastError();
  CloseHandle(handle);
  return 0;
}

class HeldFiles : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string scratch = MakeScratchFolder("held-files");
    record_ = scratch + "\\record.txt";
    events_ = scratch + "\\events.txt";
    DeleteTree(StagingFolder());
    // What an earlier run's attempts to move folders may have left.
    const std::string orvik = LocalLowFolder() + "\\Orvik";
    for (const std::string& folder : {orvik, orvik + "\\Zelvan", StagingFolder(), orvik + "\\Zelvan\\AU"}) {
      DeleteTree(folder + ".moved");
    }
    location_.reset(new InstallerLocationOverride(StandinFolder()));
    recordFile_.reset(new EnvironmentOverride("WRAPPER_STANDIN_RECORD", record_.c_str()));
  }

  // Makes the staging folder and holds one of its files open without sharing.
  HANDLE HoldWithoutSharing(const std::string& name) {
    CreateDirectoryA((LocalLowFolder() + "\\Orvik").c_str(), nullptr);
    CreateDirectoryA((LocalLowFolder() + "\\Orvik\\Zelvan").c_str(), nullptr);
    CreateDirectoryA(StagingFolder().c_str(), nullptr);
    HANDLE file = CreateFileA((StagingFolder() + "\\" + name).c_str(), GENERIC_WRITE, 0, nullptr,
                              CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    DWORD written = 0;
    WriteFile(file, "held", 4, &written, nullptr);
    return file;
  }

  void ExpectStagedEqualsPayload() {
    EXPECT_TRUE(SameBytes(StagedPackagePath(), PayloadFile("kzt1.6.0_32.msi")));
    for (const char* cabinet : kCabinets) {
      EXPECT_TRUE(SameBytes(StagingFolder() + "\\" + cabinet, PayloadFile(cabinet)));
    }
  }

  std::string record_;
  std::string events_;
  std::unique_ptr<InstallerLocationOverride> location_;
  std::unique_ptr<EnvironmentOverride> recordFile_;
};

TEST_F(HeldFiles, AFileHeldByAnotherProcessStopsTheWrapperWithTheWritersBox) {
  // The package is written before the engine starts; a cabinet while it runs (the engine is
  // kept alive so that the cabinet thread's box is what ends the process, and killed after).
  EnvironmentOverride sleep("WRAPPER_STANDIN_SLEEP_MS", "8000");
  struct Case {
    const char* held;
    bool packageStaged;  // the failure came from the cabinet thread, after the package
  } cases[] = {{"kzt1.6.0_32.msi", false}, {"ss160320.cab", true}, {"sr160320.cab", true}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.held);
    DeleteTree(StagingFolder());
    DeleteFileA(record_.c_str());
    HANDLE held = HoldWithoutSharing(c.held);
    ASSERT_NE(held, INVALID_HANDLE_VALUE);
    TrackedRun tracked = RunTracked(Wrapper(), 60000);
    ChildRun& run = tracked.run;
    for (DWORD engine : EnginesStartedBy(tracked.processId)) {
      HANDLE process = OpenProcess(PROCESS_TERMINATE, FALSE, engine);
      if (process != nullptr) TerminateProcess(process, 0);
      if (process != nullptr) CloseHandle(process);
    }
    CloseHandle(held);
    ASSERT_NO_FATAL_FAILURE(ExpectWriterBox(run, "Installer : Wrapper.CreateFile ", ERROR_SHARING_VIOLATION));
    if (c.packageStaged) {
      EXPECT_TRUE(SameBytes(StagedPackagePath(), PayloadFile("kzt1.6.0_32.msi")));
    } else {
      EXPECT_TRUE(SplitLines(ReadFileText(record_)).empty()) << "the engine was started";
    }
    // The other process's file is left as it was.
    EXPECT_EQ(ReadFileText(StagingFolder() + "\\" + c.held), "held");
  }
}

TEST_F(HeldFiles, AReadyEventMadeFirstByAnotherProcessStopsTheWrapperBeforeAnythingRuns) {
  // Another process of the user makes the event first, set, so that the package would not
  // wait for the wrapper's cabinets, and keeps a cabinet of its own open at the last
  // cabinet's name, which the wrapper then cannot replace.
  for (bool cabinetPlanted : {false, true}) {
    SCOPED_TRACE(cabinetPlanted ? "with a planted cabinet held open" : "event only");
    DeleteTree(StagingFolder());
    DeleteFileA(record_.c_str());
    HANDLE planted = CreateEventA(nullptr, TRUE, TRUE, "OrvikKZTCabExtractWaitEvent");
    ASSERT_NE(planted, nullptr) << GetLastError();
    HANDLE cabinet = INVALID_HANDLE_VALUE;
    if (cabinetPlanted) {
      CloseHandle(HoldWithoutSharing("sr160320.cab"));
      cabinet = CreateFileA((StagingFolder() + "\\sr160320.cab").c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                            OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
      ASSERT_NE(cabinet, INVALID_HANDLE_VALUE) << GetLastError();
    }
    ChildRun run = RunChild(Wrapper(), 60000);
    if (cabinet != INVALID_HANDLE_VALUE) CloseHandle(cabinet);
    CloseHandle(planted);
    ASSERT_TRUE(Started(run));
    ASSERT_FALSE(run.timedOut);
    EXPECT_TRUE(run.boxes.empty()) << DescribeBoxes(run);
    EXPECT_EQ(run.exitCode, 1618);
    EXPECT_TRUE(SplitLines(ReadFileText(record_)).empty()) << "the engine was started";
    EXPECT_FALSE(PathExists(StagedPackagePath())) << "the package was staged";
  }
}

TEST_F(HeldFiles, HardLinksAtPayloadNamesAreReplacedAndTheirTargetsKeepTheirBytes) {
  // Files elsewhere that another process linked into the staging folder under payload names:
  // the elevated wrapper must write new files there, never into the linked ones.
  const std::string victims = MakeScratchFolder("hard-link-targets");
  CreateDirectoryA((LocalLowFolder() + "\\Orvik").c_str(), nullptr);
  CreateDirectoryA((LocalLowFolder() + "\\Orvik\\Zelvan").c_str(), nullptr);
  CreateDirectoryA(StagingFolder().c_str(), nullptr);
  const char* const linked[] = {"kzt1.6.0_32.msi", "ss160320.cab"};
  for (const char* name : linked) {
    ASSERT_TRUE(WriteFileText(victims + "\\" + name, std::string("not yours: ") + name));
    ASSERT_TRUE(CreateHardLinkA((StagingFolder() + "\\" + name).c_str(), (victims + "\\" + name).c_str(),
                                nullptr))
        << name << ": " << GetLastError();
  }
  ChildRun run = RunChild(Wrapper(), 60000);
  ASSERT_TRUE(Started(run));
  ASSERT_FALSE(run.timedOut);
  EXPECT_TRUE(run.boxes.empty()) << DescribeBoxes(run);
  EXPECT_EQ(run.exitCode, 0);
  EXPECT_EQ(SplitLines(ReadFileText(record_)).size(), 1u);
  for (const char* name : linked) {
    std::string bytes = ReadFileText(victims + "\\" + name);
    EXPECT_TRUE(bytes == std::string("not yours: ") + name)
        << "the file linked as " << name << " changed: it holds " << bytes.size() << " bytes now";
  }
  ExpectStagedEqualsPayload();
}

TEST_F(HeldFiles, SecondWrapperWhileTheFirstInstallsFailsCleanlyAndTheFirstCompletes) {
  EnvironmentOverride sleep("WRAPPER_STANDIN_SLEEP_MS", "4000");
  EnvironmentOverride events("WRAPPER_STANDIN_EVENT_RECORD", events_.c_str());
  ChildRun first;
  std::thread firstRun([&first] { first = RunChild(Wrapper(), 60000); });
  // The first wrapper's engine runs once its cabinets are staged and known good.
  bool engineWaiting = WaitForLine(events_, "signalled", 30000);
  ChildRun second = RunChild(Wrapper(), 60000);
  firstRun.join();
  ASSERT_TRUE(engineWaiting);

  // The first wrapper's ready event is there: another installation is in progress.
  ASSERT_TRUE(Started(second));
  ASSERT_FALSE(second.timedOut);
  EXPECT_TRUE(second.boxes.empty()) << DescribeBoxes(second);
  EXPECT_EQ(second.exitCode, 1618);

  ASSERT_FALSE(first.timedOut);
  EXPECT_TRUE(first.boxes.empty()) << DescribeBoxes(first);
  EXPECT_EQ(first.exitCode, 0);
  // One engine run only: the second wrapper stopped before starting one.
  EXPECT_EQ(SplitLines(ReadFileText(record_)).size(), 1u);
  ExpectStagedEqualsPayload();
}

TEST_F(HeldFiles, StagedFilesAndTheirFoldersCannotBeChangedWhileTheEngineRuns) {
  // The update service is installed too (its run is the stand-in's second call), so that the
  // update-service folder is staged while an engine runs as well.
  const std::string runtimeKey = "SOFTWARE\\Halvern\\Zelvan Runtime Environment\\1.6.0_32";
  DeleteRegistryTree(HKEY_LOCAL_MACHINE, "SOFTWARE\\Halvern");
  ASSERT_TRUE(SetRegistryString(HKEY_LOCAL_MACHINE, runtimeKey, "Home", "C:\\rtq"));
  const std::string copies = MakeScratchFolder("held-files-engine-reads");
  const std::string orvik = LocalLowFolder() + "\\Orvik";
  const std::string updateFolder = orvik + "\\Zelvan\\AU";
  const std::string updateInstall = "\"" + StandinEngine() + "\" /i \"" + updateFolder + "\\au.msi\" ALLUSERS=1 /qn";
  std::vector<std::string> stagedNames = {"kzt1.6.0_32.msi"};
  for (const char* cabinet : kCabinets) stagedNames.push_back(cabinet);

  EnvironmentOverride sleep("WRAPPER_STANDIN_SLEEP_MS", "3000");
  EnvironmentOverride events("WRAPPER_STANDIN_EVENT_RECORD", events_.c_str());
  EnvironmentOverride copy("WRAPPER_STANDIN_COPY_DIR", copies.c_str());
  ChildRun run;
  std::thread wrapperRun([&run] { run = RunChild(Wrapper(), 60000); });
  // The main run waits until the cabinets are staged and known good; then it sleeps.
  bool mainRunWaiting = WaitForLine(events_, "signalled", 30000);
  std::vector<std::pair<std::string, TamperCodes>> attempts;
  std::vector<std::pair<std::string, DWORD>> folderAttempts;
  if (mainRunWaiting) {
    for (const std::string& name : stagedNames) {
      attempts.push_back({name, TryToChange(StagingFolder() + "\\" + name)});
    }
    for (const std::string& folder : {StagingFolder(), orvik + "\\Zelvan", orvik}) {
      folderAttempts.push_back({"rename " + folder, TryToRename(folder)});
      folderAttempts.push_back({"open for writing " + folder, TryToOpenForWriting(folder)});
    }
    folderAttempts.push_back({"replace " + StagingFolder(), TryToReplaceFolder(StagingFolder(), stagedNames)});
  }
  bool updateRunStarted = mainRunWaiting && WaitForLine(record_, updateInstall, 30000);
  if (updateRunStarted) {
    attempts.push_back({"au.msi", TryToChange(updateFolder + "\\au.msi")});
    folderAttempts.push_back({"rename " + updateFolder, TryToRename(updateFolder)});
    folderAttempts.push_back({"open for writing " + updateFolder, TryToOpenForWriting(updateFolder)});
    folderAttempts.push_back({"replace " + updateFolder, TryToReplaceFolder(updateFolder, {"au.msi", "au.cab"})});
  }
  wrapperRun.join();
  DeleteRegistryTree(HKEY_LOCAL_MACHINE, "SOFTWARE\\Halvern");
  ASSERT_TRUE(mainRunWaiting);
  ASSERT_TRUE(updateRunStarted) << "record: " << ReadFileText(record_);
  for (const auto& attempt : attempts) {
    EXPECT_TRUE(AllRefused(attempt.second)) << attempt.first << ": " << Describe(attempt.second);
  }
  for (const auto& attempt : folderAttempts) {
    EXPECT_TRUE(Refused(attempt.second)) << attempt.first << ": " << attempt.second;
  }
  EXPECT_TRUE(run.boxes.empty()) << DescribeBoxes(run);
  EXPECT_EQ(run.exitCode, 0);
  ExpectStagedEqualsPayload();
  // What the engine read at the paths it was given, after all that: the payload.
  for (const std::string& name : stagedNames) {
    EXPECT_TRUE(SameBytes(copies + "\\0\\" + name, PayloadFile(name)));
  }
  for (const char* name : {"au.msi", "au.cab"}) {
    EXPECT_TRUE(SameBytes(copies + "\\1\\" + name, PayloadFile(name)));
  }
  // The refusals came from the wrapper's hold, which ends with its process.
  EXPECT_TRUE(DeleteFileA((StagingFolder() + "\\ss160320.cab").c_str())) << GetLastError();
  EXPECT_EQ(TryToRename(StagingFolder()), 0u);
}

}  // namespace
