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

class HeldFiles : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string scratch = MakeScratchFolder("held-files");
    record_ = scratch + "\\record.txt";
    events_ = scratch + "\\events.txt";
    DeleteTree(StagingFolder());
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

  ASSERT_NO_FATAL_FAILURE(ExpectWriterBox(second, "Installer : Wrapper.CreateFile ", ERROR_SHARING_VIOLATION));

  ASSERT_FALSE(first.timedOut);
  EXPECT_TRUE(first.boxes.empty()) << DescribeBoxes(first);
  EXPECT_EQ(first.exitCode, 0);
  // One engine run only: the second wrapper stopped before starting one.
  EXPECT_EQ(SplitLines(ReadFileText(record_)).size(), 1u);
  ExpectStagedEqualsPayload();
}

TEST_F(HeldFiles, StagedFilesCannotBeChangedWhileTheEngineRuns) {
  EnvironmentOverride sleep("WRAPPER_STANDIN_SLEEP_MS", "3000");
  EnvironmentOverride events("WRAPPER_STANDIN_EVENT_RECORD", events_.c_str());
  ChildRun run;
  std::thread wrapperRun([&run] { run = RunChild(Wrapper(), 60000); });
  bool engineWaiting = WaitForLine(events_, "signalled", 30000);
  std::vector<std::pair<std::string, TamperCodes>> attempts;
  if (engineWaiting) {
    attempts.push_back({"kzt1.6.0_32.msi", TryToChange(StagedPackagePath())});
    for (const char* cabinet : kCabinets) {
      attempts.push_back({cabinet, TryToChange(StagingFolder() + "\\" + cabinet)});
    }
  }
  wrapperRun.join();
  ASSERT_TRUE(engineWaiting);
  for (const auto& attempt : attempts) {
    std::printf("%s: %s\n", attempt.first.c_str(), Describe(attempt.second).c_str());
    EXPECT_TRUE(AllRefused(attempt.second)) << attempt.first << ": " << Describe(attempt.second);
  }
  EXPECT_TRUE(run.boxes.empty()) << DescribeBoxes(run);
  EXPECT_EQ(run.exitCode, 0);
  ExpectStagedEqualsPayload();
  // The refusals came from the wrapper's hold, which ends with its process.
  EXPECT_TRUE(DeleteFileA((StagingFolder() + "\\ss160320.cab").c_str())) << GetLastError();
}

}  // namespace
