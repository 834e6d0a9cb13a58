// The installer engine gate: msi.dll file version 2.0.2600.0 or later, the two 32-bit words
// compared as one 64-bit number.
#include "engine/engine_version.h"

#include <gtest/gtest.h>

namespace {

struct Version {
  unsigned major, minor, build, revision;
};

unsigned long MostSignificant(const Version& v) { return (static_cast<unsigned long>(v.major) << 16) | v.minor; }
unsigned long LeastSignificant(const Version& v) { return (static_cast<unsigned long>(v.build) << 16) | v.revision; }

TEST(IsEngineVersionSufficientTest, VersionTable) {
  struct Case {
    Version version;
    int expected;
  };
  const Case cases[] = {
      {{2, 0, 2600, 0}, 1},
      {{2, 0, 2599, 65535}, 0},
      {{2, 0, 2600, 1}, 1},
      {{2, 1, 0, 0}, 1},
      {{3, 0, 0, 0}, 1},
      {{1, 20, 9999, 0}, 0},
      {{2, 0, 0, 0}, 0},
      {{2, 0, 65535, 65535}, 1},
      {{1, 65535, 65535, 65535}, 0},
      {{0, 0, 0, 0}, 0},
      {{4, 5, 6001, 22159}, 1},
      {{5, 0, 0, 0}, 1},
      {{65535, 65535, 65535, 65535}, 1},  // most significant bit set: compared unsigned
      {{32768, 0, 0, 0}, 1},
  };
  for (const Case& c : cases) {
    const Version& v = c.version;
    EXPECT_EQ(c.expected, IsEngineVersionSufficient(MostSignificant(v), LeastSignificant(v)))
        << v.major << "." << v.minor << "." << v.build << "." << v.revision;
  }
}

TEST(IsEngineVersionSufficientTest, WordsOfTheFixedFileVersionRecord) {
  EXPECT_EQ(1, IsEngineVersionSufficient(0x00020000ul, 0x0A280000ul));
  EXPECT_EQ(0, IsEngineVersionSufficient(0x00020000ul, 0x0A27FFFFul));
  EXPECT_EQ(1, IsEngineVersionSufficient(0x00020001ul, 0x00000000ul));
  EXPECT_EQ(0, IsEngineVersionSufficient(0x0001FFFFul, 0xFFFFFFFFul));
  EXPECT_EQ(1, IsEngineVersionSufficient(0x80000000ul, 0x00000000ul));
  EXPECT_EQ(1, IsEngineVersionSufficient(0x00020000ul, 0x80000000ul));
}

}  // namespace
