// The silent additions and the main command line, from parsed arguments to the exact text
// the installer engine is started with.
#include "driver/main_command_line.h"

#include <gtest/gtest.h>
#include <string.h>

#include <memory>
#include <string>
#include <vector>

#include "guarded_buffer.h"

namespace {

const char kDefaultFeatures[] = " ADDLOCAL=PublicrtqFeature,ToolsFeature";
const char kEngine[] = "C:\\Windows\\system32\\msiexec.exe";
const char kPackage[] = "C:\\Users\\Ann\\AppData\\LocalLow\\Orvik\\Zelvan\\kzt1.6.0_32\\kzt1.6.0_32.msi";

std::unique_ptr<WrapperOptions> Parsed(const std::vector<std::string>& arguments) {
  std::vector<const char*> argv = {"kzt-wrapper.exe"};
  for (const std::string& argument : arguments) argv.push_back(argument.c_str());
  std::unique_ptr<WrapperOptions> options(new WrapperOptions);
  ResetWrapperOptions(options.get(), 1033);
  EXPECT_EQ(1, ParseCommandLine(static_cast<int>(argv.size()), argv.data(), options.get()));
  return options;
}

std::unique_ptr<WrapperOptions> WithOptionString(const std::string& text, bool silent,
                                                 bool addLocalGiven) {
  std::unique_ptr<WrapperOptions> options(new WrapperOptions);
  ResetWrapperOptions(options.get(), 1033);
  memcpy(options->optionString, text.c_str(), text.size() + 1);
  options->silent = silent;
  options->addLocalGiven = addLocalGiven;
  return options;
}

struct SilentCase {
  std::vector<std::string> arguments;
  std::string optionString;
};

TEST(ApplySilentAdditionsTest, FromArgumentsToTheFinalOptionString) {
  const std::string features = kDefaultFeatures;
  const SilentCase cases[] = {
      {{}, ""},
      {{"P=1"}, "P=1 "},
      {{"/s"}, " /qn" + features},
      {{"/s", "P=1"}, "P=1  /qn" + features},
      {{"P=1", "/s"}, "P=1  /qn" + features},
      // "/qn" already present anywhere, case-sensitively, is not added again.
      {{"/s", "/v\"/qn\""}, " /qn " + features},
      {{"/s", "/v/qn"}, " /qn " + features},
      {{"/s", "/qn"}, "/qn " + features},
      {{"/s", "/qn+"}, "/qn+ " + features},
      {{"/s", "X=a/qnb"}, "X=a/qnb " + features},
      {{"/s", "/QN"}, "/QN  /qn" + features},
      {{"/s", "/q"}, "/q  /qn" + features},
      {{"/s", "/qb"}, "/qb  /qn" + features},
      // ADDLOCAL= from a passed-through argument keeps the default features away; from a
      // "/v" argument it does not.
      {{"/s", "ADDLOCAL=ALL"}, "ADDLOCAL=ALL  /qn"},
      {{"/s", "/qn", "ADDLOCAL=ALL"}, "/qn ADDLOCAL=ALL "},
      {{"/s", "/vADDLOCAL=ALL"}, " ADDLOCAL=ALL  /qn" + features},
      {{"/s", "/v\"ADDLOCAL=ALL /qn\""}, " ADDLOCAL=ALL /qn " + features},
      // Without "/s" nothing is added, whatever the options hold.
      {{"/S"}, "/S "},
      {{"/vADDLOCAL=ALL"}, " ADDLOCAL=ALL "},
  };
  for (const SilentCase& c : cases) {
    std::string described;
    for (const std::string& argument : c.arguments) described += "[" + argument + "]";
    SCOPED_TRACE(described);
    std::unique_ptr<WrapperOptions> options = Parsed(c.arguments);
    EXPECT_EQ(1, ApplySilentAdditions(options.get()));
    EXPECT_EQ(c.optionString, options->optionString);
  }
}

TEST(ApplySilentAdditionsTest, EachAdditionUpToTheLastCharacterOfTheOptionString) {
  const size_t featuresLength = strlen(kDefaultFeatures);

  // " /qn" alone (features given): 1019 + 4 = 1023 fits, 1020 + 4 does not.
  std::unique_ptr<WrapperOptions> qnFits = WithOptionString(std::string(1019, 'a'), true, true);
  EXPECT_EQ(1, ApplySilentAdditions(qnFits.get()));
  EXPECT_EQ(std::string(1019, 'a') + " /qn", qnFits->optionString);
  std::unique_ptr<WrapperOptions> qnRefused = WithOptionString(std::string(1020, 'a'), true, true);
  EXPECT_EQ(0, ApplySilentAdditions(qnRefused.get()));
  EXPECT_LT(strnlen(qnRefused->optionString, kOptionCapacity), kOptionCapacity);
  EXPECT_TRUE(qnRefused->silent);
  EXPECT_TRUE(qnRefused->addLocalGiven);
  EXPECT_STREQ("", qnRefused->runtimeInstallDir);

  // The feature list alone ("/qn" present).
  std::string head = "/qn" + std::string(1023 - featuresLength - 3, 'b');
  std::unique_ptr<WrapperOptions> featuresFit = WithOptionString(head, true, false);
  EXPECT_EQ(1, ApplySilentAdditions(featuresFit.get()));
  EXPECT_EQ(head + kDefaultFeatures, featuresFit->optionString);
  EXPECT_EQ(size_t{1023}, strlen(featuresFit->optionString));
  std::unique_ptr<WrapperOptions> featuresRefused = WithOptionString(head + "b", true, false);
  EXPECT_EQ(0, ApplySilentAdditions(featuresRefused.get()));
  EXPECT_LT(strnlen(featuresRefused->optionString, kOptionCapacity), kOptionCapacity);
  EXPECT_TRUE(featuresRefused->silent);
  EXPECT_FALSE(featuresRefused->addLocalGiven);
  EXPECT_STREQ("", featuresRefused->runtimeInstallDir);

  // Both: 1023 - 4 - features fits exactly.
  std::string both(1023 - 4 - featuresLength, 'c');
  std::unique_ptr<WrapperOptions> bothFit = WithOptionString(both, true, false);
  EXPECT_EQ(1, ApplySilentAdditions(bothFit.get()));
  EXPECT_EQ(both + " /qn" + kDefaultFeatures, bothFit->optionString);
  std::unique_ptr<WrapperOptions> bothRefused = WithOptionString(both + "c", true, false);
  EXPECT_EQ(0, ApplySilentAdditions(bothRefused.get()));
  EXPECT_LT(strnlen(bothRefused->optionString, kOptionCapacity), kOptionCapacity);

  // Not silent: a full option string is left alone and accepted.
  std::unique_ptr<WrapperOptions> full = WithOptionString(std::string(1023, 'd'), false, false);
  EXPECT_EQ(1, ApplySilentAdditions(full.get()));
  EXPECT_EQ(std::string(1023, 'd'), full->optionString);
}

struct FormatCase {
  uint16_t language;
  std::string optionString;
  std::string expected;
};

TEST(FormatMainCommandLineTest, ExactTextWithAndWithoutTransform) {
  const std::string engine = std::string("\"") + kEngine + "\" /i \"" + kPackage + "\" ";
  const FormatCase cases[] = {
      {1033, "", engine + " WRAPPER=1"},
      {1033, "P=1 ", engine + "P=1  WRAPPER=1"},
      {1033, " Q=2 ", engine + " Q=2  WRAPPER=1"},
      {1041, "", engine + "TRANSFORMS=:1041  WRAPPER=1"},
      {2052, "P=1 ", engine + "TRANSFORMS=:2052 P=1  WRAPPER=1"},
      {1031, "/qn ", engine + "TRANSFORMS=:1031 /qn  WRAPPER=1"},
      {0, "", engine + "TRANSFORMS=:0  WRAPPER=1"},
      {65535, "", engine + "TRANSFORMS=:65535  WRAPPER=1"},
      {32768, "", engine + "TRANSFORMS=:32768  WRAPPER=1"},
      // Placeholders inside the inserted texts are copied, not interpreted.
      {1033, "X=%s%d ", engine + "X=%s%d  WRAPPER=1"},
  };
  for (const FormatCase& c : cases) {
    GuardedBuffer line(1024);
    ASSERT_EQ(1, FormatMainCommandLine(line.data(), line.capacity(), kEngine, kPackage, c.language,
                                       c.optionString.c_str()))
        << c.language << " [" << c.optionString << "]";
    EXPECT_EQ(c.expected, line.Text());
    EXPECT_TRUE(line.GuardIntact());
  }
}

TEST(FormatMainCommandLineTest, SilentRunWithOneProperty) {
  // "/s" and P=1, no transform.
  std::unique_ptr<WrapperOptions> options = Parsed({"/s", "P=1"});
  ASSERT_EQ(1, ApplySilentAdditions(options.get()));
  char line[1024];
  ASSERT_EQ(1, FormatMainCommandLine(line, sizeof line, "C:\\Windows\\system32\\msiexec.exe",
                                     "C:\\Stage\\kzt1.6.0_32.msi", options->transformLanguage,
                                     options->optionString));
  EXPECT_STREQ(
      "\"C:\\Windows\\system32\\msiexec.exe\" /i \"C:\\Stage\\kzt1.6.0_32.msi\" P=1  /qn "
      "ADDLOCAL=PublicrtqFeature,ToolsFeature WRAPPER=1",
      line);
}

TEST(FormatMainCommandLineTest, UpToTheLastCharacterOfTheBuffer) {
  for (uint16_t language : {uint16_t{1033}, uint16_t{1041}}) {
    GuardedBuffer probe(1024);
    ASSERT_EQ(1, FormatMainCommandLine(probe.data(), probe.capacity(), kEngine, kPackage, language, ""));
    const size_t fixedLength = probe.Text().size();
    const std::string option(1023 - fixedLength, 'o');

    GuardedBuffer fits(1024);
    ASSERT_EQ(1, FormatMainCommandLine(fits.data(), fits.capacity(), kEngine, kPackage, language,
                                       option.c_str()))
        << language;
    EXPECT_EQ(size_t{1023}, fits.Text().size());
    EXPECT_EQ(" WRAPPER=1", fits.Text().substr(1013));
    EXPECT_TRUE(fits.GuardIntact());

    GuardedBuffer refused(1024);
    refused.Set("before");
    const std::string before = refused.Bytes();
    EXPECT_EQ(0, FormatMainCommandLine(refused.data(), refused.capacity(), kEngine, kPackage,
                                       language, (option + "o").c_str()))
        << language;
    EXPECT_EQ(before, refused.Bytes());
    EXPECT_TRUE(refused.GuardIntact());
  }
}

TEST(FormatMainCommandLineTest, SmallerCapacityIsHonoured) {
  const std::string expected = "\"e\" /i \"p\"  WRAPPER=1";
  GuardedBuffer fits(expected.size() + 1);
  EXPECT_EQ(1, FormatMainCommandLine(fits.data(), fits.capacity(), "e", "p", 1033, ""));
  EXPECT_EQ(expected, fits.Text());
  EXPECT_TRUE(fits.GuardIntact());
  GuardedBuffer refused(expected.size());
  EXPECT_EQ(0, FormatMainCommandLine(refused.data(), refused.capacity(), "e", "p", 1033, ""));
  EXPECT_TRUE(refused.GuardIntact());
}

}  // namespace
