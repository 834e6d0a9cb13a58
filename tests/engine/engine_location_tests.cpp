// LocateInstallerEngine against the prefix's registry, on the system version Wine reports by
// default (6.1): the value InstallerLocation decides. Each case restores the value it changed.
#include <gtest/gtest.h>

#include <string.h>

#include "engine/engine_location.h"
#include "test_support.h"

namespace {

constexpr size_t kMaxCapacity = 1024;
constexpr size_t kGuard = 64;
constexpr char kGuardByte = '\x5A';

// A located engine path inside a buffer of `capacity` bytes followed by guard bytes, so that
// a write or a read past the capacity shows. The buffer starts zero-filled, as the callers'
// buffers do, unless another fill byte is given.
struct Located {
  int result;
  std::string path;  // the text up to the terminator, within the capacity
  bool terminated;   // a terminator lies within the capacity
  bool guardIntact;
};

Located Locate(size_t capacity, char fill = '\0') {
  char buffer[kMaxCapacity + kGuard];
  memset(buffer, kGuardByte, sizeof buffer);
  Located located = {0, "", false, false};
  if (capacity > kMaxCapacity) return located;
  memset(buffer, fill, capacity);
  located.result = LocateInstallerEngine(buffer, capacity);
  located.path.assign(buffer, strnlen(buffer, capacity));
  located.terminated = memchr(buffer, '\0', capacity) != nullptr;
  located.guardIntact = true;
  for (size_t i = capacity; i < sizeof buffer; ++i) {
    if (buffer[i] != kGuardByte) located.guardIntact = false;
  }
  return located;
}

// A refusal leaves the empty text, terminated within the capacity: the update-service
// phase uses the buffer without testing the result, so it must never hold a folder that
// could be started as a program, nor bytes without an end.
void ExpectRefused(const Located& located, const std::string& label) {
  EXPECT_EQ(located.result, 0) << label;
  EXPECT_EQ(located.path, "") << label;
  EXPECT_TRUE(located.terminated) << label;
  EXPECT_TRUE(located.guardIntact) << label;
}

TEST(EngineLocation, SystemVersionIsNot52Here) {
  OSVERSIONINFOA version = {};
  version.dwOSVersionInfoSize = sizeof version;
  ASSERT_TRUE(GetVersionExA(&version));
  ASSERT_FALSE(version.dwMajorVersion == 5 && version.dwMinorVersion == 2);
  EXPECT_EQ(IsSystemVersion52(), 0);
}

TEST(EngineLocation, FolderTextIsUsedAsStored) {
  struct Case {
    const char* label;
    DWORD type;
    std::string data;  // bytes stored, terminator included only where given
    const char* expected;
  };
  const Case cases[] = {
      {"plain folder", REG_SZ, std::string("C:\\Engine Folder\0", 17), "C:\\Engine Folder\\msiexec.exe"},
      {"trailing backslash", REG_SZ, std::string("C:\\windows\\system32\\\0", 21),
       "C:\\windows\\system32\\\\msiexec.exe"},
      // Not expanded: the value is copied as it is.
      {"expandable", REG_EXPAND_SZ, std::string("%SystemRoot%\\system32\0", 22),
       "%SystemRoot%\\system32\\msiexec.exe"},
      {"binary with terminator", REG_BINARY, std::string("C:\\Bin Folder\0", 14),
       "C:\\Bin Folder\\msiexec.exe"},
      {"binary without terminator", REG_BINARY, std::string("C:\\Raw"), "C:\\Raw\\msiexec.exe"},
      // A 32-bit number whose bytes read "C:\" followed by a zero byte.
      {"number", REG_DWORD, std::string("C:\\\0", 4), "C:\\\\msiexec.exe"},
  };
  for (const Case& c : cases) {
    InstallerLocationOverride location(c.type, c.data.data(), static_cast<DWORD>(c.data.size()));
    Located located = Locate(260);
    EXPECT_EQ(located.result, 1) << c.label;
    EXPECT_EQ(located.path, c.expected) << c.label;
    EXPECT_TRUE(located.guardIntact) << c.label;
  }
}

TEST(EngineLocation, AbsentValueIsNotFound) {
  InstallerLocationOverride location(REG_SZ, nullptr, 0);
  std::string text;
  ASSERT_FALSE(ReadRegistryString(HKEY_LOCAL_MACHINE, kInstallerKey, "InstallerLocation", &text));
  ASSERT_TRUE(RegistryKeyExists(HKEY_LOCAL_MACHINE, kInstallerKey));
  ExpectRefused(Locate(260), "absent");
  ExpectRefused(Locate(260, 'Q'), "absent, buffer not zero-filled");
}

TEST(EngineLocation, EnginePathMustFitTheCapacity) {
  // Folder of 20 characters: the engine path has 20 + 12 characters and needs 33 bytes.
  const std::string folder = "C:\\twenty-characters";
  ASSERT_EQ(folder.size(), 20u);
  InstallerLocationOverride location(folder);
  struct Case {
    size_t capacity;
    int expected;
  };
  for (Case c : {Case{33, 1}, Case{34, 1}, Case{32, 0}, Case{21, 0}, Case{20, 0}, Case{1, 0}}) {
    Located located = Locate(c.capacity);
    if (c.expected == 1) {
      EXPECT_EQ(located.result, 1) << c.capacity;
      EXPECT_EQ(located.path, folder + "\\msiexec.exe") << c.capacity;
      EXPECT_TRUE(located.guardIntact) << c.capacity;
    } else {
      ExpectRefused(located, std::to_string(c.capacity));
    }
  }
}

TEST(EngineLocation, ValueThatFillsTheBufferWithoutTerminatorIsRefused) {
  // Raw bytes with no zero among them: exactly the capacity, and one byte short of it (which
  // leaves no room for the file name).
  for (size_t length : {size_t{48}, size_t{47}, size_t{49}}) {
    std::string raw(length, 'F');
    raw[0] = 'C';
    raw[1] = ':';
    InstallerLocationOverride location(REG_BINARY, raw.data(), static_cast<DWORD>(raw.size()));
    ExpectRefused(Locate(48), std::to_string(length));
  }
  // The same kind of value with room for the file name works, and ends where its data ends
  // even when the bytes after it in the buffer are not zeros.
  std::string raw(35, 'F');
  InstallerLocationOverride location(REG_BINARY, raw.data(), static_cast<DWORD>(raw.size()));
  for (char fill : {'\0', 'Q'}) {
    Located located = Locate(48, fill);
    EXPECT_EQ(located.result, 1) << static_cast<int>(fill);
    EXPECT_EQ(located.path, raw + "\\msiexec.exe") << static_cast<int>(fill);
    EXPECT_TRUE(located.guardIntact) << static_cast<int>(fill);
  }
}

}  // namespace
