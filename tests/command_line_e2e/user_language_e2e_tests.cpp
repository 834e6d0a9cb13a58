// The default transform language from the user's language, through the real platform. ctest
// runs this once per language with LC_ALL set; WRAPPER_TEST_USER_LANGUAGE names the language
// identifier that run is meant to have.
#include <gtest/gtest.h>

#include <stdlib.h>

#include "wrapper_run.h"

namespace {

// The development-kit build: only Japanese and Chinese (Simplified) have transforms.
int ExpectedTransform(int userLanguage) {
  switch (userLanguage) {
    case 1041:
      return 1041;
    case 2052:
      return 2052;
    case 1033:  // English: no transform
    case 1046:  // Portuguese (Brazil): offered only by the other build
    case 1028:  // Chinese (Traditional): low byte 4, not Japanese's 17
      return 1033;
  }
  return -1;
}

class UserLanguage : public ::testing::Test {
 protected:
  void SetUp() override {
    const char* wanted = getenv("WRAPPER_TEST_USER_LANGUAGE");
    ASSERT_NE(wanted, nullptr) << "run through ctest, which sets LC_ALL for each language";
    language_ = atoi(wanted);
    ASSERT_NE(ExpectedTransform(language_), -1) << language_;
    // What a child of this process sees is what the wrapper will see.
    ChildRun probe = RunChild("\"" + BuildPath("tests/command_line_e2e/user_language_probe.exe") + "\"", 30000);
    ASSERT_TRUE(Started(probe));
    ASSERT_EQ(probe.exitCode, language_) << "LC_ALL did not give the child this language";
  }
  int language_ = 0;
};

TEST_F(UserLanguage, DefaultTransformFollowsTheUsersLanguage) {
  StandinRun result = RunWrapperWithStandin("");
  ASSERT_FALSE(result.run.timedOut);
  EXPECT_EQ(result.run.exitCode, 0) << DescribeBoxes(result.run);
  ASSERT_EQ(result.commandLines.size(), 1u);
  EXPECT_EQ(result.commandLines[0], ExpectedMainCommandLine("", ExpectedTransform(language_)));
}

TEST_F(UserLanguage, LangSwitchOverridesOnlyWhenSupported) {
  struct Case {
    const char* arguments;
    int transform;  // -1: the user's default
    std::string optionString;
  };
  const Case cases[] = {
      {"/lang=1033", 1033, ""},
      {"/lang=2052", 2052, ""},
      {"/lang=1041 P=1", 1041, "P=1 "},
      {"/lang=1031", -1, ""},  // rejected: the user's default stays
      {"/lang=1028", -1, ""},
      {"/lang=abc /vX=1", -1, " X=1 "},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.arguments);
    StandinRun result = RunWrapperWithStandin(c.arguments);
    EXPECT_EQ(result.run.exitCode, 0) << DescribeBoxes(result.run);
    ASSERT_EQ(result.commandLines.size(), 1u);
    int transform = c.transform == -1 ? ExpectedTransform(language_) : c.transform;
    EXPECT_EQ(result.commandLines[0], ExpectedMainCommandLine(c.optionString, transform));
  }
}

}  // namespace
