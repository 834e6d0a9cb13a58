// A disk that fills up while the cabinet thread writes: the wrapper ends with the writer's
// box from that thread, and the engine it started is left running, its ready event never
// set. The user data folder is a small tmpfs mounted for the test (not the staging folder:
// Wine reports a mount point as a reparse point, which the wrapper refuses as a link); the
// wrapper carries a cabinet larger than the room left after the package.
#include <gtest/gtest.h>

#include "fault_support.h"

namespace {

const char kPaddedWrapper[] = "kzt-wrapper-padded.exe";

class FullDisk : public ::testing::Test {
 protected:
  void SetUp() override {
    DeleteTree(StagingFolder());
    mountPoint_ = UnixPath(LocalLowFolder());
    ASSERT_FALSE(mountPoint_.empty());
    // Room for the package (about 400 KB) but not for the 3 MB cabinet that follows.
    int status = RunHostShell("mount -t tmpfs -o size=2m tmpfs '" + mountPoint_ + "'");
    if (status != 0) GTEST_SKIP() << "cannot mount a tmpfs here (status " << status << "): run as root";
    mounted_ = true;
  }
  void TearDown() override {
    if (mounted_) {
      EXPECT_EQ(RunHostShell("umount -l '" + mountPoint_ + "'"), 0);
    }
  }
  std::string mountPoint_;
  bool mounted_ = false;
};

TEST_F(FullDisk, CabinetThreadStopsTheWrapperAndLeavesTheEngineWaiting) {
  std::string scratch = MakeScratchFolder("full-disk");
  std::string record = scratch + "\\record.txt";
  std::string events = scratch + "\\events.txt";
  InstallerLocationOverride location(StandinFolder());
  EnvironmentOverride recordFile("WRAPPER_STANDIN_RECORD", record.c_str());
  EnvironmentOverride eventRecord("WRAPPER_STANDIN_EVENT_RECORD", events.c_str());

  // The wrapper's box holds it until it is closed; before that, the engine must have started,
  // and the event is held here too, so that it outlives the wrapper whatever the timing.
  HANDLE ready = nullptr;
  bool engineStarted = false;
  TrackedRun tracked = RunTracked("\"" + WrapperPath(kPaddedWrapper) + "\"", 60000, [&](HANDLE) {
    for (int i = 0; i < 600 && (ready == nullptr || !engineStarted); ++i) {
      if (ready == nullptr) ready = OpenEventA(SYNCHRONIZE, FALSE, "OrvikKZTCabExtractWaitEvent");
      engineStarted = !ReadFileText(record).empty();
      Sleep(50);
    }
  });
  EXPECT_NE(ready, nullptr) << "the wrapper made no ready event";
  EXPECT_TRUE(engineStarted);
  std::vector<DWORD> engines = EnginesStartedBy(tracked.processId);
  std::vector<HANDLE> running;
  for (DWORD engine : engines) {
    HANDLE process = OpenProcess(SYNCHRONIZE | PROCESS_TERMINATE, FALSE, engine);
    if (process != nullptr && WaitForSingleObject(process, 0) == WAIT_TIMEOUT) running.push_back(process);
  }
  // The ready event was never set: the engine is still waiting for it.
  DWORD readyState = ready != nullptr ? WaitForSingleObject(ready, 0) : WAIT_FAILED;
  if (ready != nullptr) CloseHandle(ready);
  std::string eventsSeen = ReadFileText(events);
  for (HANDLE process : running) {
    TerminateProcess(process, 0);
    CloseHandle(process);
  }

  ASSERT_NO_FATAL_FAILURE(
      ExpectWriterBox(tracked.run, "Installer : Wrapper.WriteFile (In small chunks) ", ERROR_DISK_FULL));

  EXPECT_EQ(SplitLines(ReadFileText(record)).size(), 1u) << "one engine run";
  EXPECT_EQ(engines.size(), 1u);
  EXPECT_EQ(running.size(), 1u) << "the engine did not outlive the wrapper";
  EXPECT_EQ(readyState, static_cast<DWORD>(WAIT_TIMEOUT));
  EXPECT_EQ(eventsSeen, "");
  // The package fitted and is whole; the cabinet stays as far as it got.
  EXPECT_TRUE(SameBytes(StagedPackagePath(), PayloadFile("kzt1.6.0_32.msi")));
  long long partial = FileSize(StagingFolder() + "\\ss160320.cab");
  EXPECT_GT(partial, 0);
  EXPECT_LT(partial, FileSize(PADDED_CABINET));
}

}  // namespace
