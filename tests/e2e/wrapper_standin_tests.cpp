// The real wrapper executable against the recording stand-in for msiexec.exe: the exact
// command line the engine receives, and the exit code that comes back.
#include <gtest/gtest.h>

#include "wrapper_run.h"

TEST(WrapperWithStandin, NoArgumentsRunsTheEngineOnceWithTheBareCommandLine) {
  StandinRun result = RunWrapperWithStandin("");
  ASSERT_TRUE(Started(result.run));
  ASSERT_FALSE(result.run.timedOut);
  EXPECT_EQ(result.run.exitCode, 0);
  ASSERT_EQ(result.commandLines.size(), 1u);
  // Two spaces before WRAPPER=1: the empty option string stands between them.
  EXPECT_EQ(result.commandLines[0],
            "\"" + StandinEngine() + "\" /i \"" + StagedPackagePath() + "\"  WRAPPER=1");
  EXPECT_TRUE(result.run.boxes.empty());
}

TEST(WrapperWithStandin, ExitCodeIsTheEngines) {
  for (const char* code : {"0", "2", "42", "1603", "-5"}) {
    StandinRun result = RunWrapperWithStandin("", code);
    ASSERT_FALSE(result.run.timedOut);
    EXPECT_EQ(result.run.exitCode, atoi(code)) << code;
    EXPECT_EQ(result.commandLines.size(), 1u);
  }
}

TEST(WrapperWithStandin, MissingProductPackageExitsWithOneAndRunsNothing) {
  StandinRun result = RunWrapperWithStandin("/s", "0", "kzt-wrapper-no-package.exe");
  ASSERT_FALSE(result.run.timedOut);
  EXPECT_EQ(result.run.exitCode, 1);
  EXPECT_TRUE(result.commandLines.empty());
  EXPECT_TRUE(result.run.boxes.empty());
  EXPECT_FALSE(PathExists(StagedPackagePath()));
}

TEST(WrapperWithStandin, MissingCabinetIsSkippedAndTheReadyEventIsStillSignalled) {
  std::string scratch = MakeScratchFolder("event-record");
  std::string eventRecord = scratch + "\\event.txt";
  EnvironmentOverride record("WRAPPER_STANDIN_EVENT_RECORD", eventRecord.c_str());
  StandinRun result = RunWrapperWithStandin("", "0", "kzt-wrapper-no-sz-cabinet.exe");
  EXPECT_EQ(result.run.exitCode, 0);
  EXPECT_EQ(SplitLines(ReadFileText(eventRecord)), std::vector<std::string>{"signalled"});
  EXPECT_FALSE(PathExists(StagingFolder() + "\\sz160320.cab"));
  for (const char* name : {"ss", "st", "sj", "sp", "sb", "sr"}) {
    EXPECT_TRUE(PathExists(StagingFolder() + "\\" + name + "160320.cab")) << name;
  }
}
