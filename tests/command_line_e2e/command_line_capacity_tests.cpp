// Input that does not fit the wrapper's fixed buffers is refused with 1639 (the engine's own
// code for an invalid command line), never cut. Where it is refused tells the cases apart:
// while parsing nothing has been staged yet; at the command line the package is on disk.
#include <gtest/gtest.h>

#include "wrapper_run.h"

namespace {

constexpr int kRefused = 1639;

enum class Outcome {
  kRuns,             // the engine runs with the expected command line
  kRefusedParsing,   // 1639, no engine, no staging folder
  kRefusedFormatting  // 1639, no engine, the package on disk
};

struct CapacityCase {
  std::string label;
  std::string arguments;
  Outcome outcome;
  std::string optionString;  // for kRuns
};

void ExpectOutcomes(const std::vector<CapacityCase>& cases) {
  for (const CapacityCase& c : cases) {
    SCOPED_TRACE(c.label);
    // Delete the whole chain below the user data folder: a refusal while parsing must not
    // create any of it.
    const std::string vendor = LocalLowFolder() + "\\Orvik";
    DeleteTree(vendor);
    ASSERT_FALSE(PathExists(vendor));
    StandinRun result = RunWrapperWithStandin(c.arguments);
    ASSERT_TRUE(Started(result.run));
    ASSERT_FALSE(result.run.timedOut);
    EXPECT_TRUE(result.run.boxes.empty()) << DescribeBoxes(result.run);
    switch (c.outcome) {
      case Outcome::kRuns:
        EXPECT_EQ(result.run.exitCode, 0) << DescribeBoxes(result.run);
        ASSERT_EQ(result.commandLines.size(), 1u);
        EXPECT_EQ(result.commandLines[0], ExpectedMainCommandLine(c.optionString));
        break;
      case Outcome::kRefusedParsing:
        EXPECT_EQ(result.run.exitCode, kRefused);
        EXPECT_TRUE(result.commandLines.empty());
        EXPECT_FALSE(PathExists(vendor)) << "staged before the command line was accepted";
        break;
      case Outcome::kRefusedFormatting:
        EXPECT_EQ(result.run.exitCode, kRefused);
        EXPECT_TRUE(result.commandLines.empty());
        EXPECT_GT(FileSize(StagedPackagePath()), 0) << "the package is written before";
        break;
    }
  }
}

std::string Filled(const std::string& head, size_t length) {
  return head + std::string(length - head.size(), 'x');
}

TEST(CommandLineCapacity, OptionStringHolds1023Characters) {
  // A passed-through argument adds itself and a blank; a "/v" piece adds two blanks. The
  // option string alone at 1023 characters is accepted, but no main command line can then
  // hold it, so these runs end at the formatting step with the package on disk.
  ExpectOutcomes({
      {"passed through, 1023", Filled("P=", 1022), Outcome::kRefusedFormatting, ""},
      {"passed through, 1024", Filled("P=", 1023), Outcome::kRefusedParsing, ""},
      {"/v piece, 1023", Filled("/vP=", 1023), Outcome::kRefusedFormatting, ""},
      {"/v piece, 1024", Filled("/vP=", 1024), Outcome::kRefusedParsing, ""},
      {"quoted /v piece, 1024", "\"/v\\\"" + Filled("P=", 1022) + "\\\"\"",
       Outcome::kRefusedParsing, ""},
      {"two arguments, 1024", Filled("A=", 511) + " " + Filled("B=", 511),
       Outcome::kRefusedParsing, ""},
      // Refused before the version gate and the staging: a "/lang=" later on changes nothing.
      {"refused before later switches", Filled("P=", 1023) + " /lang=1041 /s",
       Outcome::kRefusedParsing, ""},
  });
}

TEST(CommandLineCapacity, FolderSwitchHolds1023Characters) {
  const std::string runtime = "/INSTALLDIRPUBRTQ=";
  const std::string database = "/INSTALLDIRZELVANDB=";
  ExpectOutcomes({
      {"runtime folder, 1023", runtime + Filled("C:\\", 1023), Outcome::kRuns, ""},
      {"runtime folder, 1024", runtime + Filled("C:\\", 1024), Outcome::kRefusedParsing, ""},
      {"database folder, 1023", database + Filled("C:\\", 1023) + " P=1", Outcome::kRuns, "P=1 "},
      {"database folder, 1024", database + Filled("C:\\", 1024), Outcome::kRefusedParsing, ""},
      // After an earlier "=", the folder is everything after that one: the switch counts.
      {"folder after an earlier =, 1023", "X=" + database + Filled("C:\\", 1023 - database.size()),
       Outcome::kRuns, ""},
      {"folder after an earlier =, 1024", "X=" + database + Filled("C:\\", 1024 - database.size()),
       Outcome::kRefusedParsing, ""},
  });
}

TEST(CommandLineCapacity, MainCommandLineHolds1023Characters) {
  // The fixed part of the command line on this machine: quoted engine and package paths,
  // " /i ", the blanks around the option string and "WRAPPER=1".
  const size_t fixed = ExpectedMainCommandLine("").size();
  ASSERT_LT(fixed + 2, 1023u);
  // An argument of n characters makes an option string of n + 1.
  const size_t fits = 1023 - fixed - 1;
  ASSERT_EQ(ExpectedMainCommandLine(Filled("P=", fits) + " ").size(), 1023u);
  ExpectOutcomes({
      {"1023 characters", Filled("P=", fits), Outcome::kRuns, Filled("P=", fits) + " "},
      {"1024 characters", Filled("P=", fits + 1), Outcome::kRefusedFormatting, ""},
      {"1022 characters", Filled("P=", fits - 1), Outcome::kRuns, Filled("P=", fits - 1) + " "},
  });
  // With a transform the line is longer by "TRANSFORMS=:1041 ".
  const size_t transform = std::string("TRANSFORMS=:1041 ").size();
  ExpectOutcomes({
      {"1024 with a transform", "/lang=1041 " + Filled("P=", fits + 1 - transform),
       Outcome::kRefusedFormatting, ""},
  });
  StandinRun result = RunWrapperWithStandin("/lang=1041 " + Filled("P=", fits - transform));
  EXPECT_EQ(result.run.exitCode, 0) << DescribeBoxes(result.run);
  ASSERT_EQ(result.commandLines.size(), 1u);
  EXPECT_EQ(result.commandLines[0].size(), 1023u);
  EXPECT_EQ(result.commandLines[0],
            ExpectedMainCommandLine(Filled("P=", fits - transform) + " ", 1041));
}

// An argument the code page cannot hold reaches the wrapper's narrow arguments as a best-fit
// look-alike ("Lukasz", "??"): refused as one that does not fit, before anything is staged.
TEST(CommandLineCapacity, ArgumentOutsideTheCodePageIsRefusedLikeOneThatDoesNotFit) {
  ASSERT_EQ(GetACP(), 1252u) << "these cases are written for the code page 1252";
  const std::wstring vendor = WideOf(LocalLowFolder() + "\\Orvik");
  struct Case {
    const wchar_t* arguments;
    int exitCode;
    std::string optionString;  // when it runs
  };
  const Case cases[] = {
      {L"/s \"/INSTALLDIRPUBRTQ=C:\\Program Files\\\u0141ukasz\"", kRefused, ""},
      {L"/INSTALLDIRZELVANDB=D:\\\u674e\u96f7", kRefused, ""},
      {L"/s TARGETDIR=C:\\\u674e\u96f7", kRefused, ""},
      {L"\"/v\\\"INSTALLDIR=C:\\\u0141ukasz\\\"\"", kRefused, ""},
      // Best fit makes a blank of the ideographic space: one argument would become two.
      {L"/lang=1041 P=a\u3000b", kRefused, ""},
      // What the code page holds is handed on byte for byte.
      {L"P=J\u00fcrgen", 0, "P=J\xFCrgen "},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(Utf8Of(c.arguments));
    DeleteTreeW(vendor);
    StandinRun result = RunWrapperWithStandinW(c.arguments);
    ASSERT_TRUE(Started(result.run));
    ASSERT_FALSE(result.run.timedOut);
    EXPECT_TRUE(result.run.boxes.empty()) << DescribeBoxes(result.run);
    EXPECT_EQ(result.run.exitCode, c.exitCode);
    if (c.exitCode == 0) {
      ASSERT_EQ(result.commandLines.size(), 1u);
      EXPECT_EQ(result.commandLines[0], ExpectedMainCommandLine(c.optionString));
    } else {
      EXPECT_TRUE(result.commandLines.empty());
      EXPECT_EQ(GetFileAttributesW(vendor.c_str()), INVALID_FILE_ATTRIBUTES)
          << "staged before the command line was accepted";
    }
  }
}

// The program's own path is never used: a wrapper saved below a folder outside the code page
// (the user's own downloads) runs as anywhere else.
TEST(CommandLineCapacity, ProgramPathOutsideTheCodePageIsNoReasonToRefuse) {
  const std::wstring folder = WideOf(MakeScratchFolder("program-path")) + L"\\\u674e\u96f7";
  ASSERT_TRUE(CreateDirectoryW(folder.c_str(), nullptr)) << GetLastError();
  const std::wstring wrapper = folder + L"\\kzt-wrapper.exe";
  ASSERT_TRUE(CopyFileW(WideOf(WrapperPath()).c_str(), wrapper.c_str(), FALSE)) << GetLastError();
  StandinRun result = RunWrapperWithStandinW(L"P=1", "0", wrapper);
  ASSERT_TRUE(Started(result.run));
  EXPECT_EQ(result.run.exitCode, 0) << DescribeBoxes(result.run);
  ASSERT_EQ(result.commandLines.size(), 1u);
  EXPECT_EQ(result.commandLines[0], ExpectedMainCommandLine("P=1 "));
}

// A silent run whose additions overflow the option string is refused with the same 1639 as a
// main command line that does not fit, and any option string long enough for the first is too
// long for the second, so no run of the executable can tell the two refusals apart; the unit
// tests of the silent additions do, to the last character.

}  // namespace
