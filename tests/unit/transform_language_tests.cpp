// Transform language rules of both kinds of build, and the rules this build was compiled
// with. The file is compiled into one test program per set of build constants; the build
// system says which kind of build each program expects.
#include "driver/transform_language.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <set>
#include <string>
#include <vector>

#include "driver/command_line.h"
#include "payload/build_constants.h"
#include "release_identity.h"  // generated

#ifdef _WIN32
#include <windows.h>
#endif

#ifndef UNIT_EXPECTED_DEVELOPMENT_KIT_BUILD
#error "the test program must say which kind of build it checks"
#endif

namespace {

constexpr int kKit = 1;
constexpr int kOther = 0;

struct ChooseCase {
  uint16_t userLanguage;
  uint16_t expected;
};

TEST(ChooseTransformLanguageForTest, DevelopmentKitBuild) {
  const ChooseCase cases[] = {
      {2052, 2052}, {1041, 1041}, {1033, 1033},
      // Portuguese (Brazil) is the other build's only; its low byte 22 is no key here.
      {1046, 1033},
      // Chinese of Hong Kong, Singapore and Taiwan: low byte 4, not Japanese.
      {3076, 1033}, {4100, 1033}, {1028, 1033},
      {1031, 1033}, {2055, 1033}, {1049, 1033}, {0, 1033}, {65535, 1033},
      // The key is the low eight bits: 0x0111 and 0xFF11 are "Japanese" here.
      {0x0111, 1041}, {0xFF11, 1041}, {0x0411, 1041}, {17, 1041},
      {0x0804, 2052}, {0x0C04, 1033}, {0x0416, 1033},
  };
  for (const ChooseCase& c : cases) {
    EXPECT_EQ(c.expected, ChooseTransformLanguageFor(c.userLanguage, kKit)) << c.userLanguage;
  }
}

TEST(ChooseTransformLanguageForTest, OtherBuild) {
  const ChooseCase cases[] = {
      {2052, 2052}, {1041, 1041}, {1033, 1033}, {1028, 1028}, {1031, 1031}, {1034, 1034},
      {1036, 1036}, {1040, 1040}, {1042, 1042}, {1046, 1046}, {1053, 1053},
      {2055, 1031},  // German (Switzerland)
      {2057, 1033},  // English (United Kingdom)
      {3076, 1028}, {4100, 1028}, {5124, 1028},
      {3082, 1034},  // Spanish, modern sort
      {2070, 1033},  // Portuguese (Portugal): low byte 22, no key
      {1049, 1033},  // Russian: low byte 25, no key
      {2077, 1053},  // Swedish (Finland)
      {0x0111, 1041}, {0x0104, 1028}, {0x0109, 1033}, {4, 1028}, {29, 1053},
      // Keys 2052 and 1046 are whole identifiers; an eight-bit value never reaches them.
      {0x0016, 1033}, {0x0004, 1028}, {0, 1033}, {65535, 1033},
  };
  for (const ChooseCase& c : cases) {
    EXPECT_EQ(c.expected, ChooseTransformLanguageFor(c.userLanguage, kOther)) << c.userLanguage;
  }
}

std::set<unsigned> AcceptedLanguages(int developmentKitBuild) {
  std::set<unsigned> accepted;
  for (unsigned v = 0; v <= 0xFFFF; ++v) {
    if (IsSupportedTransformLanguageFor(static_cast<uint16_t>(v), developmentKitBuild)) accepted.insert(v);
  }
  return accepted;
}

TEST(IsSupportedTransformLanguageForTest, ExactlyTheOfferedLanguages) {
  EXPECT_EQ((std::set<unsigned>{1033, 1041, 2052}), AcceptedLanguages(kKit));
  EXPECT_EQ((std::set<unsigned>{1028, 1031, 1033, 1034, 1036, 1040, 1041, 1042, 1046, 1053, 2052}),
            AcceptedLanguages(kOther));
}

TEST(IsSupportedTransformLanguageForTest, PayloadContractCoversEveryKitLanguage) {
  // The build refuses a product package that lacks one of these transforms; a language the
  // kit could choose beyond them would fail only on a user's machine.
  std::set<unsigned> required = {WRAPPER_CONTRACT_TRANSFORM_LANGUAGES};
  required.insert(kNoTransformLanguage);
  EXPECT_EQ(required, AcceptedLanguages(kKit));
}

TEST(ChooseTransformLanguageForTest, DefaultIsAlwaysALanguageTheBuildOffers) {
  // Whatever the user's language, the default can be named on the command line again.
  for (int build : {kKit, kOther}) {
    for (unsigned user = 0; user <= 0xFFFF; ++user) {
      uint16_t chosen = ChooseTransformLanguageFor(static_cast<uint16_t>(user), build);
      ASSERT_EQ(1, IsSupportedTransformLanguageFor(chosen, build)) << "build " << build << ", user " << user;
    }
  }
}

// --- The build these tests were compiled with. -------------------------------------

constexpr int kThisBuild = UNIT_EXPECTED_DEVELOPMENT_KIT_BUILD;

uint16_t LanguageAfter(const std::vector<std::string>& arguments, uint16_t defaultLanguage) {
  std::vector<const char*> argv = {"kzt-wrapper.exe"};
  for (const std::string& argument : arguments) argv.push_back(argument.c_str());
  static WrapperOptions options;
  ResetWrapperOptions(&options, defaultLanguage);
  EXPECT_EQ(1, ParseCommandLine(static_cast<int>(argv.size()), argv.data(), &options));
  EXPECT_STREQ("", options.optionString);
  return options.transformLanguage;
}

TEST(ThisBuildTest, KindOfBuild) { EXPECT_EQ(kThisBuild, IsDevelopmentKitBuild()); }

TEST(ThisBuildTest, IsSupportedTransformLanguageFollowsTheBuildsRules) {
  EXPECT_EQ(AcceptedLanguages(kThisBuild).size(), kThisBuild ? size_t{3} : size_t{11});
  for (unsigned v = 0; v <= 0xFFFF; ++v) {
    ASSERT_EQ(IsSupportedTransformLanguageFor(static_cast<uint16_t>(v), kThisBuild),
              IsSupportedTransformLanguage(static_cast<uint16_t>(v)))
        << v;
  }
}

TEST(ThisBuildTest, LangSwitch) {
  struct Case {
    std::vector<std::string> arguments;
    uint16_t kit;
    uint16_t other;
  };
  const Case cases[] = {
      {{"/lang=1041"}, 1041, 1041},
      {{"/lang=2052"}, 2052, 2052},
      {{"/lang=1031"}, 1033, 1031},
      {{"/lang=1046"}, 1033, 1046},
      {{"/lang=1028"}, 1033, 1028},
      {{"/lang=1053"}, 1033, 1053},
      {{"/lang=1049"}, 1033, 1033},
      {{"/lang=66567"}, 1033, 1031},  // 1031 + 65536
      {{"/lang=1041", "/lang=1031"}, 1041, 1031},
      {{"/lang=1031", "/lang=1049"}, 1033, 1031},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(kThisBuild ? c.kit : c.other, LanguageAfter(c.arguments, 1033)) << c.arguments.back();
  }
}

#ifdef _WIN32
// ctest runs this once per user locale, with the default that locale must give.
TEST(ThisBuildTest, DefaultFromTheUsersLanguage) {
  const char* user = getenv("UNIT_EXPECTED_USER_LANGUAGE");
  const char* expected = getenv("UNIT_EXPECTED_DEFAULT_LANGUAGE");
  if (user == nullptr || expected == nullptr) GTEST_SKIP() << "needs a user locale set by ctest";
  ASSERT_EQ(atoi(user), GetUserDefaultLangID()) << "the locale of this run did not take effect";
  EXPECT_EQ(atoi(expected), ChooseTransformLanguage());
}
#endif

}  // namespace
