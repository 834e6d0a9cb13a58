// The version gate on real version resources, read through the platform's version library.
#include <gtest/gtest.h>

#include "engine/engine_version_gate.h"
#include "test_support.h"

namespace {

std::string EngineLibrary(const std::string& name) {
  return BuildPath("tests/engine/libraries/" + name + ".dll");
}

struct GateCase {
  const char* library;
  int expected;
};

TEST(EngineVersionGate, OnlyTheFileVersionDecides) {
  // The product versions and FileVersion strings of these libraries contradict their file
  // versions on purpose (see CMakeLists.txt): 2.0.2599.65535 claims product 2.0.2600.0,
  // 1.20.9999.0 claims product 3.0.0.0 and the text "4.5.0.0", 3.0.0.0 the text "1.0.0.0".
  const GateCase cases[] = {
      {"engine-2.0.2600.0", 1},      {"engine-2.0.2599.65535", 0}, {"engine-2.0.2600.1", 1},
      {"engine-2.1.0.0", 1},         {"engine-3.0.0.0", 1},        {"engine-1.20.9999.0", 0},
  };
  for (const GateCase& c : cases) {
    std::string path = EngineLibrary(c.library);
    ASSERT_GT(FileSize(path), 0) << path;
    EXPECT_EQ(CheckEngineLibraryVersion(path.c_str()), c.expected) << c.library;
  }
}

TEST(EngineVersionGate, UnreadableVersionCountsAsTooOld) {
  std::string unversioned = EngineLibrary("engine-unversioned");
  ASSERT_GT(FileSize(unversioned), 0);
  EXPECT_EQ(CheckEngineLibraryVersion(unversioned.c_str()), 0);

  std::string missing = EngineLibrary("engine-absent");
  ASSERT_FALSE(PathExists(missing));
  EXPECT_EQ(CheckEngineLibraryVersion(missing.c_str()), 0);

  std::string scratch = MakeScratchFolder("gate-not-a-library");
  std::string text = scratch + "\\msi.dll";
  ASSERT_TRUE(WriteFileText(text, "MZ but not a library\r\n"));
  EXPECT_EQ(CheckEngineLibraryVersion(text.c_str()), 0);
}

TEST(EngineVersionGate, RealEngineOfThePrefixPasses) {
  char system[MAX_PATH] = {};
  ASSERT_NE(GetSystemDirectoryA(system, sizeof system), 0u);
  std::string msi = std::string(system) + "\\msi.dll";
  ASSERT_TRUE(PathExists(msi)) << msi;
  EXPECT_EQ(CheckEngineLibraryVersion(msi.c_str()), 1);
  EXPECT_EQ(CheckInstallerEngineVersion(), 1);
}

}  // namespace
