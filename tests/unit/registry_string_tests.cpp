// The type and terminator test a registry string value must pass before its text is used.
// Each value's bytes lie in a heap block of exactly the reported size, so a read before or
// past the data is seen by the address sanitizer in the native build.
#include "support/registry_string.h"

#include <gtest/gtest.h>
#include <string.h>

#include <memory>
#include <string>

#ifdef _WIN32
#include <windows.h>
#endif

namespace {

constexpr unsigned long kRegistryTypeBinary = 3;
constexpr unsigned long kRegistryTypeDword = 4;
constexpr unsigned long kRegistryTypeQword = 11;

struct Case {
  const char* what;
  unsigned long type;
  std::string bytes;  // exactly the bytes the read reported
  int expected;
};

TEST(IsTerminatedStringDataTest, TypeAndTerminatorTable) {
  using std::string;
  const Case cases[] = {
      {"REG_SZ with terminator", kRegistryTypeString, string("reinstall\0", 10), 1},
      {"REG_SZ without terminator", kRegistryTypeString, "reinstall", 0},
      {"REG_SZ of 0 bytes", kRegistryTypeString, "", 0},
      {"REG_SZ holding only the terminator", kRegistryTypeString, string("\0", 1), 1},
      {"REG_SZ with a zero inside but not at the end", kRegistryTypeString, string("ab\0c", 4), 0},
      {"REG_SZ with two terminators", kRegistryTypeString, string("ab\0\0", 4), 1},
      {"REG_EXPAND_SZ with terminator", kRegistryTypeExpandString, string("%TEMP%\0", 7), 1},
      {"REG_EXPAND_SZ without terminator", kRegistryTypeExpandString, "%TEMP%", 0},
      {"REG_EXPAND_SZ of 0 bytes", kRegistryTypeExpandString, "", 0},
      {"REG_MULTI_SZ with two trailing zeros", kRegistryTypeMultiString, string("reinstall\0\0", 11), 1},
      {"REG_MULTI_SZ with one trailing zero", kRegistryTypeMultiString, string("reinstall\0", 10), 0},
      {"REG_MULTI_SZ of two strings", kRegistryTypeMultiString, string("a\0b\0\0", 5), 1},
      {"REG_MULTI_SZ of two strings, one final zero", kRegistryTypeMultiString, string("a\0b\0", 4), 0},
      {"REG_MULTI_SZ of two zeros only", kRegistryTypeMultiString, string("\0\0", 2), 1},
      {"REG_MULTI_SZ of one zero", kRegistryTypeMultiString, string("\0", 1), 0},
      {"REG_MULTI_SZ of 0 bytes", kRegistryTypeMultiString, "", 0},
      {"REG_MULTI_SZ ending in text then zero", kRegistryTypeMultiString, string("\0a\0", 3), 0},
      {"REG_DWORD of zeros", kRegistryTypeDword, string("\0\0\0\0", 4), 0},
      {"REG_DWORD", kRegistryTypeDword, string("\x01\0\0\0", 4), 0},
      {"REG_QWORD", kRegistryTypeQword, string(8, '\0'), 0},
      {"REG_BINARY ending in zero", kRegistryTypeBinary, string("x\0", 2), 0},
      {"REG_NONE ending in zero", kRegistryTypeNone, string("reinstall\0", 10), 0},
      {"REG_NONE of 0 bytes", kRegistryTypeNone, "", 0},
      {"unknown type 1000", 1000, string("x\0\0", 3), 0},
  };
  for (const Case& c : cases) {
    std::unique_ptr<unsigned char[]> data(new unsigned char[c.bytes.size()]);
    memcpy(data.get(), c.bytes.data(), c.bytes.size());
    EXPECT_EQ(c.expected, IsTerminatedStringData(c.type, data.get(), static_cast<unsigned long>(c.bytes.size())))
        << c.what;
  }
}

TEST(IsTerminatedWideStringDataTest, WholeWideCharactersAndAWideTerminator) {
  using std::string;
  const Case cases[] = {
      {"REG_SZ with wide terminator", kRegistryTypeString, string("a\0b\0\0\0", 6), 1},
      {"REG_SZ of the terminator only", kRegistryTypeString, string("\0\0", 2), 1},
      {"REG_SZ without terminator", kRegistryTypeString, string("a\0b\0", 4), 0},
      {"REG_SZ ending in half a terminator", kRegistryTypeString, string("a\0b\0\0", 5), 0},
      {"REG_SZ of one zero byte", kRegistryTypeString, string("\0", 1), 0},
      {"REG_SZ of an odd count ending in zeros", kRegistryTypeString, string("a\0\0\0\0", 5), 0},
      // Only a whole zero character ends the text, not a character with one zero byte.
      {"REG_SZ ending in a character with a zero low byte", kRegistryTypeString, string("a\0\0\x61", 4), 0},
      {"REG_SZ of 0 bytes", kRegistryTypeString, "", 0},
      {"REG_EXPAND_SZ with wide terminator", kRegistryTypeExpandString, string("%\0\0\0", 4), 1},
      {"REG_MULTI_SZ with two wide terminators", kRegistryTypeMultiString, string("a\0\0\0\0\0", 6), 1},
      {"REG_MULTI_SZ with one wide terminator", kRegistryTypeMultiString, string("a\0\0\0", 4), 0},
      {"REG_MULTI_SZ of three zero bytes", kRegistryTypeMultiString, string("\0\0\0", 3), 0},
      {"REG_DWORD of zeros", kRegistryTypeDword, string("\0\0\0\0", 4), 0},
      {"REG_BINARY ending in zeros", kRegistryTypeBinary, string("x\0\0\0", 4), 0},
  };
  for (const Case& c : cases) {
    std::unique_ptr<unsigned char[]> data(new unsigned char[c.bytes.size()]);
    memcpy(data.get(), c.bytes.data(), c.bytes.size());
    EXPECT_EQ(c.expected,
              IsTerminatedWideStringData(c.type, data.get(), static_cast<unsigned long>(c.bytes.size())))
        << c.what;
  }
}

#ifdef _WIN32
TEST(RegistryStringConstantsTest, MatchThePlatformNumbers) {
  EXPECT_EQ(static_cast<long>(ERROR_SUCCESS), kRegistryOk);
  EXPECT_EQ(static_cast<long>(ERROR_INVALID_DATA), kRegistryInvalidData);
  EXPECT_EQ(static_cast<long>(ERROR_MORE_DATA), kRegistryMoreData);
  EXPECT_EQ(static_cast<unsigned long>(REG_NONE), kRegistryTypeNone);
  EXPECT_EQ(static_cast<unsigned long>(REG_SZ), kRegistryTypeString);
  EXPECT_EQ(static_cast<unsigned long>(REG_EXPAND_SZ), kRegistryTypeExpandString);
  EXPECT_EQ(static_cast<unsigned long>(REG_MULTI_SZ), kRegistryTypeMultiString);
  EXPECT_EQ(static_cast<unsigned long>(REG_DWORD), kRegistryTypeDword);
  EXPECT_EQ(static_cast<unsigned long>(REG_BINARY), kRegistryTypeBinary);
  EXPECT_EQ(static_cast<unsigned long>(REG_QWORD), kRegistryTypeQword);
}
#endif

}  // namespace
