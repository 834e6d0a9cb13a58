// While Wine's real msiexec.exe installs the sample product from the staged files, another
// process keeps trying to delete, rename, replace and overwrite the package and a cabinet.
// Every attempt is refused, the install succeeds and installs the kit, and the staged files
// stay the payload. Runs in a Wine prefix of its own, made anew for every run.
#include <gtest/gtest.h>

#include <map>
#include <thread>

#include "fault_support.h"

namespace {

const char kKitKey[] = "SOFTWARE\\Halvern\\Zelvan Development Kit\\1.6.0_32";

TEST(RealEngine, StagedFilesResistChangesWhileTheEngineInstallsFromThem) {
  DeleteTree(LocalLowFolder() + "\\Orvik");
  ChildRun run;
  bool finished = false;
  std::thread wrapperRun([&run, &finished] {
    run = RunChild("\"" + WrapperPath() + "\" /qn", 600000);
    finished = true;
  });

  // The files are all locked once the ready event is set: the wrapper sets it only after the
  // last cabinet was compared. Until then a file may be in the short gap between its write
  // and its lock, which the wrapper detects and reports instead.
  HANDLE ready = nullptr;
  for (int i = 0; i < 600 && ready == nullptr && !finished; ++i) {
    ready = OpenEventA(SYNCHRONIZE, FALSE, "OrvikKZTCabExtractWaitEvent");
    if (ready == nullptr) Sleep(50);
  }
  bool signalled = ready != nullptr && WaitForSingleObject(ready, 60000) == WAIT_OBJECT_0;
  if (ready != nullptr) CloseHandle(ready);

  std::map<std::string, int> seen;  // "file: codes" -> how often
  int rounds = 0;
  bool allRefused = true;
  const std::string targets[] = {StagedPackagePath(), StagingFolder() + "\\ss160320.cab"};
  while (signalled && !finished) {
    for (const std::string& target : targets) {
      TamperCodes codes = TryToChange(target);
      allRefused = allRefused && AllRefused(codes);
      ++seen[target.substr(target.rfind('\\') + 1) + ": " + Describe(codes)];
    }
    ++rounds;
    Sleep(20);
  }
  wrapperRun.join();

  ASSERT_TRUE(signalled) << "the ready event was not set";
  for (const auto& entry : seen) std::printf("%s (x%d)\n", entry.first.c_str(), entry.second);
  EXPECT_GT(rounds, 0) << "the install ended before any attempt";
  EXPECT_TRUE(allRefused);
  ASSERT_FALSE(run.timedOut);
  EXPECT_TRUE(run.boxes.empty()) << DescribeBoxes(run);
  EXPECT_EQ(run.exitCode, 0);

  std::string home;
  ASSERT_TRUE(ReadRegistryString(HKEY_LOCAL_MACHINE, kKitKey, "ZelvanHome", &home));
  std::printf("kit home %s, %d rounds of attempts\n", home.c_str(), rounds);
  EXPECT_TRUE(PathExists(home + "\\README.txt"));
  EXPECT_TRUE(SameBytes(StagedPackagePath(), PayloadFile("kzt1.6.0_32.msi")));
  for (const char* cabinet : kCabinets) {
    EXPECT_TRUE(SameBytes(StagingFolder() + "\\" + cabinet, PayloadFile(cabinet)));
  }
}

}  // namespace
