// While Wine's real msiexec.exe installs the sample product from the staged files, another
// process keeps trying to delete, rename, replace and overwrite the package and a cabinet,
// and to rename the staging folder and the two folders above it.
// Every attempt made while the wrapper runs is refused, the install succeeds and installs the
// kit, and the staged files stay the payload. Runs in a Wine prefix of its own, made anew for
// every run.
#include <gtest/gtest.h>

#include <map>

#include "fault_support.h"
#include "message_box_watcher.h"

namespace {

const char kKitKey[] = "SOFTWARE\\Halvern\\Zelvan Development Kit\\1.6.0_32";

bool IsRunning(HANDLE process) { return WaitForSingleObject(process, 0) == WAIT_TIMEOUT; }

TEST(RealEngine, StagedFilesResistChangesWhileTheEngineInstallsFromThem) {
  DeleteTree(LocalLowFolder() + "\\Orvik");
  bool signalled = false;
  std::map<std::string, int> seen;  // "file: codes" -> how often
  int rounds = 0;
  bool allRefused = true;
  ::testing::AssertionResult packageIntact = ::testing::AssertionSuccess();
  ::testing::AssertionResult cabinetIntact = ::testing::AssertionSuccess();
  const std::string targets[] = {StagedPackagePath(), StagingFolder() + "\\ss160320.cab"};
  const std::string folders[] = {StagingFolder(), LocalLowFolder() + "\\Orvik\\Zelvan", LocalLowFolder() + "\\Orvik"};
  std::vector<SeenBox> boxesDuringRounds;  // read and closed here, so the wrapper can end

  TrackedRun tracked = RunTracked("\"" + WrapperPath() + "\" /qn", 600000, [&](HANDLE wrapper) {
    // The files are all locked once the ready event is set: the wrapper sets it only after
    // the last cabinet was compared. Until then a file may be in the short gap between its
    // write and its lock, which the wrapper detects and reports instead.
    HANDLE ready = nullptr;
    for (int i = 0; i < 600 && ready == nullptr && IsRunning(wrapper); ++i) {
      ready = OpenEventA(SYNCHRONIZE, FALSE, "OrvikKZTCabExtractWaitEvent");
      if (ready == nullptr) Sleep(50);
    }
    signalled = ready != nullptr && WaitForSingleObject(ready, 60000) == WAIT_OBJECT_0;
    if (ready != nullptr) CloseHandle(ready);

    // The locks end with the wrapper, so only what happens while it runs counts: each
    // round's outcome is kept only when the wrapper outlived the round, and the files are
    // compared before each round (the comparison covers every earlier round; a last round
    // that the wrapper did not outlive is neither counted nor expected to leave the files
    // alone).
    DWORD start = GetTickCount();
    while (signalled && IsRunning(wrapper) && GetTickCount() - start < 600000) {
      packageIntact = SameBytes(targets[0], PayloadFile("kzt1.6.0_32.msi"));
      cabinetIntact = SameBytes(targets[1], PayloadFile("ss160320.cab"));
      TamperCodes codes[2] = {TryToChange(targets[0]), TryToChange(targets[1])};
      DWORD folderCodes[3] = {TryToRename(folders[0]), TryToRename(folders[1]), TryToRename(folders[2])};
      if (!IsRunning(wrapper)) break;
      for (int i = 0; i < 2; ++i) {
        allRefused = allRefused && AllRefused(codes[i]);
        ++seen[targets[i].substr(targets[i].rfind('\\') + 1) + ": " + Describe(codes[i])];
      }
      for (int i = 0; i < 3; ++i) {
        allRefused = allRefused && Refused(folderCodes[i]);
        ++seen["rename " + folders[i] + ": " + std::to_string(folderCodes[i])];
      }
      ++rounds;
      CloseBoxesOfProcess(GetProcessId(wrapper), &boxesDuringRounds);
      Sleep(20);
    }
  });
  ChildRun run = tracked.run;
  run.boxes.insert(run.boxes.begin(), boxesDuringRounds.begin(), boxesDuringRounds.end());

  ASSERT_TRUE(signalled) << "the ready event was not set";
  for (const auto& entry : seen) std::printf("%s (x%d)\n", entry.first.c_str(), entry.second);
  EXPECT_GT(rounds, 0) << "the install ended before any attempt";
  EXPECT_TRUE(allRefused);
  ASSERT_FALSE(run.timedOut);
  EXPECT_TRUE(run.boxes.empty()) << DescribeBoxes(run);
  EXPECT_EQ(run.exitCode, 0);
  EXPECT_TRUE(packageIntact);
  EXPECT_TRUE(cabinetIntact);
  for (const char* cabinet : kCabinets) {
    if (std::string(cabinet) == "ss160320.cab") continue;
    EXPECT_TRUE(SameBytes(StagingFolder() + "\\" + cabinet, PayloadFile(cabinet)));
  }

  std::string home;
  ASSERT_TRUE(ReadRegistryString(HKEY_LOCAL_MACHINE, kKitKey, "ZelvanHome", &home));
  std::printf("kit home %s, %d rounds of attempts\n", home.c_str(), rounds);
  EXPECT_TRUE(PathExists(home + "\\README.txt"));
}

}  // namespace
