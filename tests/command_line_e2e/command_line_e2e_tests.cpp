// Raw command lines, as a person or a script types them, through the runtime's argument
// splitting and the wrapper's switches, to the exact command line the engine receives.
#include <gtest/gtest.h>

#include "wrapper_run.h"

namespace {

constexpr const char* kFeatures = " ADDLOCAL=PublicrtqFeature,ToolsFeature";

struct CommandLineCase {
  const char* arguments;  // raw text after the wrapper's quoted path
  std::string optionString;
  int transformLanguage;
};

// Runs each case and compares the one engine command line byte for byte. The user language
// of this run is 1033 (no LC_ALL), so only "/lang=" selects a transform.
void ExpectCommandLines(const std::vector<CommandLineCase>& cases) {
  ASSERT_EQ(GetUserDefaultLangID(), 1033) << "these cases assume an English user";
  for (const CommandLineCase& c : cases) {
    SCOPED_TRACE(std::string("arguments: ") + c.arguments);
    StandinRun result = RunWrapperWithStandin(c.arguments);
    ASSERT_TRUE(Started(result.run));
    ASSERT_FALSE(result.run.timedOut);
    EXPECT_EQ(result.run.exitCode, 0) << DescribeBoxes(result.run);
    EXPECT_TRUE(result.run.boxes.empty()) << DescribeBoxes(result.run);
    ASSERT_EQ(result.commandLines.size(), 1u);
    EXPECT_EQ(result.commandLines[0], ExpectedMainCommandLine(c.optionString, c.transformLanguage));
  }
}

TEST(CommandLineEndToEnd, SilentModeAndPassedThroughArguments) {
  ExpectCommandLines({
      {"", "", 1033},
      {"/s P=1", std::string("P=1  /qn") + kFeatures, 1033},
      {"/s", std::string(" /qn") + kFeatures, 1033},
      {"P=1 Q=2", "P=1 Q=2 ", 1033},
      // Only the lower-case switches are the wrapper's: capitals reach the engine.
      {"/S", "/S ", 1033},
      {"/V", "/V ", 1033},
      {"/S /VP=1", "/S /VP=1 ", 1033},
      // A /qn of its own, from "/v": no second one; the features are still added.
      {"/s /v/qn", std::string(" /qn ") + kFeatures, 1033},
      {"/s /qn", std::string("/qn ") + kFeatures, 1033},
      // Any text holding /qn counts, also inside another word.
      {"/s LOG=/qnx", std::string("LOG=/qnx ") + kFeatures, 1033},
      // ADDLOCAL= in a passed-through argument keeps the wrapper's features out...
      {"/s ADDLOCAL=Mine", "ADDLOCAL=Mine  /qn", 1033},
      {"/s XADDLOCAL=Mine", "XADDLOCAL=Mine  /qn", 1033},
      // ...inside a "/v" argument it does not.
      {"/s /vADDLOCAL=Mine", std::string(" ADDLOCAL=Mine  /qn") + kFeatures, 1033},
      // Without /s nothing is added.
      {"ADDLOCAL=Mine /v/qn", "ADDLOCAL=Mine  /qn ", 1033},
  });
}

TEST(CommandLineEndToEnd, VSwitchInBothForms) {
  ExpectCommandLines({
      // The splitter turns \" into a quote: the argument is /v"ALLUSERS=1 FOO=2" and the
      // wrapper drops the first three characters and the last one.
      {R"("/v\"ALLUSERS=1 FOO=2\"")", " ALLUSERS=1 FOO=2 ", 1033},
      // Typed without escapes, the splitter removes the quotes: /vALLUSERS=1 FOO=2.
      {R"(/v"ALLUSERS=1 FOO=2")", " ALLUSERS=1 FOO=2 ", 1033},
      {"/vP=1", " P=1 ", 1033},
      {"/v", "  ", 1033},
      {R"(/v\")", "  ", 1033},        // /v" alone: nothing between the frames
      {R"(/v\"x)", "  ", 1033},       // the last character goes whatever it is
      {R"(/v\"xy)", " x ", 1033},
      {"/vP=1 /vQ=2", " P=1  Q=2 ", 1033},
      {"A=1 /vB=2 C=3", "A=1  B=2 C=3 ", 1033},
  });
}

TEST(CommandLineEndToEnd, LanguageSwitch) {
  ExpectCommandLines({
      {"/lang=1041", "", 1041},
      {"/lang=2052", "", 2052},
      {"/lang=1033", "", 1033},
      {"/lang=1031", "", 1033},          // not offered by the development kit
      {"/lang=1046", "", 1033},
      {"/lang=0x411", "", 1033},         // reads as 0
      {"/lang=2052xyz", "", 2052},       // digits up to the first other character
      {"/lang=66577", "", 1041},         // 1041 + 65536
      {"/lang=-63484", "", 2052},        // 2052 - 65536
      {"/lang=4294968337", "", 1041},    // 1041 + 2^32: wraps, does not saturate
      {"\"/lang= 1041\"", "", 1041},     // white space before the number
      {"/lang=", "", 1033},
      {"/lang=1041 /lang=1031", "", 1041},  // a rejected value does not undo an accepted one
      {"/lang=1041 /lang=2052", "", 2052},
      // Consumed wherever it stands in the argument, and never handed on; the number is read
      // after the argument's first "=", which need not be the one of "/lang=".
      {"X/lang=1041 P=1", "P=1 ", 1041},
      {"PROP=/lang=1041 P=1", "P=1 ", 1033},
      {"PROP=2052/lang=1041", "", 2052},
      {"/LANG=1041", "/LANG=1041 ", 1033},
      {"/s /lang=2052 P=1", std::string("P=1  /qn") + kFeatures, 2052},
  });
}

TEST(CommandLineEndToEnd, FolderSwitchesAreConsumed) {
  ExpectCommandLines({
      {R"(/INSTALLDIRPUBRTQ=C:\rt /INSTALLDIRZELVANDB=C:\db P=1)", "P=1 ", 1033},
      {R"("/INSTALLDIRPUBRTQ=C:\Program Files\rt" P=1)", "P=1 ", 1033},
      {"/INSTALLDIRPUBRTQ= /INSTALLDIRZELVANDB=", "", 1033},
      {R"(X=1/INSTALLDIRZELVANDB=C:\db)", "", 1033},
      // Case-sensitive: a lower-case spelling is an ordinary argument.
      {R"(/installdirpubrtq=C:\rt)", R"(/installdirpubrtq=C:\rt )", 1033},
      {R"(/s /INSTALLDIRPUBRTQ=C:\rt)", std::string(" /qn") + kFeatures, 1033},
  });
}

TEST(CommandLineEndToEnd, QuotesAndBackslashesOfTheSplitter) {
  ExpectCommandLines({
      {R"("INSTALLDIR=C:\Program Files\Kit")", R"(INSTALLDIR=C:\Program Files\Kit )", 1033},
      {R"(INSTALLDIR="C:\Program Files\Kit")", R"(INSTALLDIR=C:\Program Files\Kit )", 1033},
      // Backslashes stay unless they precede a quote; two before a quote become one.
      {R"(TARGET=C:\a\\b\)", R"(TARGET=C:\a\\b\ )", 1033},
      {R"(TARGET="C:\Dir With Space\\")", R"(TARGET=C:\Dir With Space\ )", 1033},
      {R"(NAME=\"quoted\")", R"(NAME="quoted" )", 1033},
      {R"("")", " ", 1033},  // an empty argument still gets its space
      {"  P=1\t Q=2  ", "P=1 Q=2 ", 1033},
  });
}

}  // namespace
