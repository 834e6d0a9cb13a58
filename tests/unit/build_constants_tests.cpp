// The compile-time identity of a build. Compiled once per set of build constants; the
// build system says what each program expects.
#include "payload/build_constants.h"

#include <gtest/gtest.h>

#include <string>

#if !defined(UNIT_EXPECTED_DEVELOPMENT_KIT_BUILD) || !defined(UNIT_EXPECTED_AMD64_BUILD)
#error "the test program must say which kind of build it checks"
#endif

namespace {

TEST(BuildConstantsTest, KindAndArchitectureCompareIgnoringCase) {
  EXPECT_EQ(UNIT_EXPECTED_DEVELOPMENT_KIT_BUILD, IsDevelopmentKitBuild()) << ProductKind;
  EXPECT_EQ(UNIT_EXPECTED_AMD64_BUILD, IsAmd64Build()) << ArchitectureName;
}

TEST(BuildConstantsTest, VersionTextsDescribeOneVersion) {
  // The cabinet names are built from the four texts, the package name from the version.
  EXPECT_EQ(std::string(ProductVersion),
            std::string(MajorVersionText) + "." + MinorVersionText + "." + MicroVersionText + "_" +
                UpdateVersionText);
  EXPECT_EQ(std::string("ss") + MajorVersionText + MinorVersionText + MicroVersionText +
                UpdateVersionText + "0.cab",
            "ss160320.cab");
  EXPECT_EQ(std::string(DevelopmentKitKind) + ProductVersion + ".msi", "kzt1.6.0_32.msi");
  EXPECT_EQ(0u, std::string(BuildString).find(std::string(ProductVersion) + "-b"));
  EXPECT_STREQ("_x64", X64Suffix);
  EXPECT_STREQ("amd64", Amd64ArchitectureName);
}

}  // namespace
