// LocateInstallerEngine on a system that reports version 5.2: the prefix gives that version
// to a program of this very name (engine_location_v52_tests.exe), and there the system
// directory is the engine folder whatever the registry says.
#include <gtest/gtest.h>

#include <string.h>

#include "engine/engine_location.h"
#include "test_support.h"

namespace {

std::string SystemDirectory() {
  char system[MAX_PATH] = {};
  UINT length = GetSystemDirectoryA(system, sizeof system);
  return std::string(system, length < sizeof system ? length : 0);
}

TEST(EngineLocationOn52, SystemReportsVersion52) {
  OSVERSIONINFOA version = {};
  version.dwOSVersionInfoSize = sizeof version;
  ASSERT_TRUE(GetVersionExA(&version));
  ASSERT_EQ(version.dwMajorVersion, 5u) << "the prefix set-up must register this program's name";
  ASSERT_EQ(version.dwMinorVersion, 2u);
  EXPECT_EQ(IsSystemVersion52(), 1);
}

TEST(EngineLocationOn52, RegistryIsIgnored) {
  const std::string expected = SystemDirectory() + "\\msiexec.exe";
  ASSERT_GT(expected.size(), 12u);
  const std::string elsewhere = "C:\\elsewhere\\";
  struct Case {
    const char* label;
    DWORD type;
    const void* data;
    DWORD size;
  };
  const Case cases[] = {
      {"another folder", REG_SZ, elsewhere.c_str(), static_cast<DWORD>(elsewhere.size() + 1)},
      {"value absent", REG_SZ, nullptr, 0},
      {"binary value", REG_BINARY, "\x01\x02\x03", 3},
  };
  for (const Case& c : cases) {
    InstallerLocationOverride location(c.type, c.data, c.size);
    char buffer[260] = {};
    EXPECT_EQ(LocateInstallerEngine(buffer, sizeof buffer), 1) << c.label;
    EXPECT_EQ(std::string(buffer), expected) << c.label;
  }
}

TEST(EngineLocationOn52, SystemDirectoryThatDoesNotFitIsRefused) {
  const std::string expected = SystemDirectory() + "\\msiexec.exe";
  InstallerLocationOverride location("C:\\x");  // short: would fit if it were read
  for (size_t capacity : {expected.size() + 1, expected.size(), size_t{8}}) {
    std::vector<char> buffer(capacity + 32, '\x5A');
    memset(buffer.data(), 0, capacity);
    int result = LocateInstallerEngine(buffer.data(), capacity);
    EXPECT_EQ(result, capacity == expected.size() + 1 ? 1 : 0) << capacity;
    if (result == 1) {
      EXPECT_EQ(std::string(buffer.data()), expected);
    }
    for (size_t i = capacity; i < buffer.size(); ++i) {
      ASSERT_EQ(buffer[i], '\x5A') << "written past the capacity " << capacity;
    }
  }
}

}  // namespace
