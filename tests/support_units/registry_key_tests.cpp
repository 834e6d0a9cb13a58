// RegistryKey against real registry values of every type, written raw under a scratch key.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "raw_registry_value.h"
#include "support/registry_key.h"
#include "test_support.h"

namespace {

const char kScratchKey[] = "Software\\WrapperTests\\RegistryKey";

std::string Bytes(const char* data, size_t size) { return std::string(data, size); }

class RegistryKeyTest : public ::testing::Test {
 protected:
  void SetUp() override {
    DeleteRegistryTree(HKEY_LOCAL_MACHINE, kScratchKey);
    HKEY created = nullptr;
    ASSERT_EQ(RegCreateKeyExA(HKEY_LOCAL_MACHINE, kScratchKey, 0, nullptr, 0, KEY_WRITE, nullptr,
                              &created, nullptr),
              ERROR_SUCCESS);
    RegCloseKey(created);
  }
  void TearDown() override { DeleteRegistryTree(HKEY_LOCAL_MACHINE, kScratchKey); }

  void SetRaw(const char* name, DWORD type, const std::string& data) {
    ASSERT_TRUE(SetRawRegistryValue(kScratchKey, name, type, data)) << name;
  }
};

struct QueryCase {
  const char* name;
  DWORD type;
  std::string stored;
  DWORD capacity;
  LONG result;
  // Bytes expected at the start of the buffer (checked unless the result is 234).
  std::string expectedBytes;
};

TEST_F(RegistryKeyTest, QueryStringTestsTypeAndTerminators) {
  const std::string exact(511, 'x');
  const std::string over(512, 'y');
  const QueryCase cases[] = {
      {"sz", REG_SZ, Bytes("abc\0", 4), 512, 0, Bytes("abc\0", 4)},
      {"sz_unterminated", REG_SZ, "abc", 512, 13, "abc"},
      {"sz_zero_bytes", REG_SZ, "", 512, 13, ""},
      {"sz_terminator_only", REG_SZ, Bytes("\0", 1), 512, 0, Bytes("\0", 1)},
      // Only the last byte counts: an inner zero neither passes nor spoils the test.
      {"sz_inner_zero_unterminated", REG_SZ, Bytes("ab\0cd", 5), 512, 13, Bytes("ab\0cd", 5)},
      {"sz_inner_zero_terminated", REG_SZ, Bytes("ab\0cd\0", 6), 512, 0, Bytes("ab\0cd\0", 6)},
      {"expand_sz_unexpanded", REG_EXPAND_SZ, Bytes("%SystemRoot%\\x\0", 15), 512, 0,
       Bytes("%SystemRoot%\\x\0", 15)},
      {"expand_sz_unterminated", REG_EXPAND_SZ, "%TEMP%", 512, 13, "%TEMP%"},
      {"multi_sz", REG_MULTI_SZ, Bytes("reinstall\0\0", 11), 512, 0, Bytes("reinstall\0\0", 11)},
      {"multi_sz_two_strings", REG_MULTI_SZ, Bytes("a\0bc\0\0", 6), 512, 0, Bytes("a\0bc\0\0", 6)},
      {"multi_sz_single_trailing_zero", REG_MULTI_SZ, Bytes("reinstall\0", 10), 512, 13,
       Bytes("reinstall\0", 10)},
      {"multi_sz_zero_then_char_then_zero", REG_MULTI_SZ, Bytes("ab\0c\0", 5), 512, 13,
       Bytes("ab\0c\0", 5)},
      {"dword", REG_DWORD, Bytes("\x44\x33\x22\x11", 4), 512, 13, Bytes("\x44\x33\x22\x11", 4)},
      {"binary_with_terminator", REG_BINARY, Bytes("ab\0", 3), 512, 13, Bytes("ab\0", 3)},
      {"none_with_terminator", REG_NONE, Bytes("ab\0", 3), 512, 13, Bytes("ab\0", 3)},
      {"sz_exactly_capacity", REG_SZ, exact + std::string(1, '\0'), 512, 0,
       exact + std::string(1, '\0')},
      {"sz_one_over_capacity", REG_SZ, over + std::string(1, '\0'), 512, 234, ""},
      {"dword_over_capacity", REG_DWORD, Bytes("\x01\x02\x03\x04", 4), 3, 234, ""},
  };
  for (const QueryCase& c : cases) SetRaw(c.name, c.type, c.stored);

  RegistryKey key;
  ASSERT_EQ(key.Open(HKEY_LOCAL_MACHINE, kScratchKey, KEY_READ), ERROR_SUCCESS);
  for (const QueryCase& c : cases) {
    SCOPED_TRACE(c.name);
    const char kFill = '\xAA';
    std::vector<char> buffer(c.capacity + 64, kFill);
    DWORD count = c.capacity;
    EXPECT_EQ(key.QueryString(buffer.data(), c.name, &count), c.result);
    EXPECT_EQ(count, c.stored.size());  // the value's own size, whatever the outcome
    if (c.result != ERROR_MORE_DATA) {
      EXPECT_EQ(std::string(buffer.data(), c.expectedBytes.size()), c.expectedBytes);
    }
    // Nothing lands beyond the capacity that was passed.
    for (size_t i = c.capacity; i < buffer.size(); ++i) {
      ASSERT_EQ(buffer[i], kFill) << "byte " << i;
    }
  }
}

// Wide reads: the text as the system holds it, outside the code page too. Data is given as
// bytes; a wide character is two.
TEST_F(RegistryKeyTest, QueryWideStringTestsTypeAndTerminatorsInWideCharacters) {
  const std::wstring liLei = L"C:\\\u674e\u96f7";
  const std::string liLeiBytes(reinterpret_cast<const char*>(liLei.c_str()), (liLei.size() + 1) * 2);
  const QueryCase cases[] = {
      {"w_sz", REG_SZ, Bytes("a\0b\0c\0\0\0", 8), 512, 0, Bytes("a\0b\0c\0\0\0", 8)},
      {"w_outside_code_page", REG_SZ, liLeiBytes, 512, 0, liLeiBytes},
      {"w_sz_unterminated", REG_SZ, Bytes("a\0b\0c\0", 6), 512, 13, Bytes("a\0b\0c\0", 6)},
      // One zero byte ends no wide text, and half a character is no text.
      {"w_sz_half_terminator", REG_SZ, Bytes("a\0b\0c\0\0", 7), 512, 13, Bytes("a\0b\0c\0\0", 7)},
      {"w_sz_zero_then_odd", REG_SZ, Bytes("a\0\0\0\0", 5), 512, 13, Bytes("a\0\0\0\0", 5)},
      {"w_expand_sz", REG_EXPAND_SZ, Bytes("%\0T\0%\0\0\0", 8), 512, 0, Bytes("%\0T\0%\0\0\0", 8)},
      {"w_multi_sz", REG_MULTI_SZ, Bytes("a\0\0\0\0\0", 6), 512, 0, Bytes("a\0\0\0\0\0", 6)},
      {"w_multi_sz_one_terminator", REG_MULTI_SZ, Bytes("a\0\0\0", 4), 512, 13, Bytes("a\0\0\0", 4)},
      {"w_dword", REG_DWORD, Bytes("\0\0\0\0", 4), 512, 13, Bytes("\0\0\0\0", 4)},
      {"w_sz_one_over_capacity", REG_SZ, std::string(512, 'x') + Bytes("\0\0", 2), 512, 234, ""},
  };
  HKEY opened = nullptr;
  ASSERT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, kScratchKey, 0, KEY_WRITE, &opened), ERROR_SUCCESS);
  for (const QueryCase& c : cases) {
    // Non-zero bytes behind the data, so the platform adds no terminator of its own.
    std::string data = c.stored + "XX";
    std::wstring wideName = WideOf(c.name);
    ASSERT_EQ(RegSetValueExW(opened, wideName.c_str(), 0, c.type,
                             reinterpret_cast<const BYTE*>(data.data()), static_cast<DWORD>(c.stored.size())),
              ERROR_SUCCESS);
  }
  RegCloseKey(opened);

  RegistryKey key;
  ASSERT_EQ(key.Open(HKEY_LOCAL_MACHINE, kScratchKey, KEY_READ), ERROR_SUCCESS);
  for (const QueryCase& c : cases) {
    SCOPED_TRACE(c.name);
    const char kFill = '\xAA';
    std::vector<char> buffer(c.capacity + 64, kFill);
    DWORD count = c.capacity;
    std::wstring wideName = WideOf(c.name);
    EXPECT_EQ(key.QueryWideString(reinterpret_cast<WCHAR*>(buffer.data()), wideName.c_str(), &count),
              c.result);
    EXPECT_EQ(count, c.stored.size());
    if (c.result != ERROR_MORE_DATA) {
      EXPECT_EQ(std::string(buffer.data(), c.expectedBytes.size()), c.expectedBytes);
    }
    for (size_t i = c.capacity; i < buffer.size(); ++i) ASSERT_EQ(buffer[i], kFill) << "byte " << i;
  }

  // A value written as narrow text is read back as the system converted it.
  SetRaw("narrow", REG_SZ, Bytes("J\xFCrgen\0", 7));
  wchar_t text[16] = {};
  DWORD count = sizeof text;
  EXPECT_EQ(key.QueryWideString(text, L"narrow", &count), 0);
  EXPECT_EQ(std::wstring(text), L"J\u00fcrgen");
  count = sizeof text;
  EXPECT_EQ(key.QueryWideString(text, L"NoSuchValue", &count), 13);
}

TEST_F(RegistryKeyTest, AbsentValueIsInvalidDataNotNotFound) {
  RegistryKey key;
  ASSERT_EQ(key.Open(HKEY_LOCAL_MACHINE, kScratchKey, KEY_READ), ERROR_SUCCESS);
  char buffer[64] = {};
  DWORD count = sizeof buffer;
  EXPECT_EQ(key.QueryString(buffer, "NoSuchValue", &count), 13);
}

TEST_F(RegistryKeyTest, OpenReturnsThePlatformCodeAndHoldsNothingWhenEmpty) {
  RegistryKey key;
  EXPECT_EQ(key.Open(HKEY_LOCAL_MACHINE, "Software\\WrapperTests\\NoSuchKey", KEY_READ),
            ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(key.Handle(), nullptr);
}

TEST_F(RegistryKeyTest, FailedOpenKeepsTheHeldKeyOpenAndUsable) {
  SetRaw("which", REG_SZ, Bytes("outer\0", 6));
  RegistryKey key;
  ASSERT_EQ(key.Open(HKEY_LOCAL_MACHINE, kScratchKey, KEY_READ), ERROR_SUCCESS);
  HKEY held = key.Handle();
  ASSERT_NE(held, nullptr);

  EXPECT_EQ(key.Open(HKEY_LOCAL_MACHINE, "Software\\WrapperTests\\RegistryKey\\Missing", KEY_READ),
            ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(key.Handle(), held);
  char buffer[64] = {};
  DWORD count = sizeof buffer;
  EXPECT_EQ(key.QueryString(buffer, "which", &count), 0);
  EXPECT_STREQ(buffer, "outer");
}

TEST_F(RegistryKeyTest, SecondOpenUsesTheNewKeyAndReleasesTheFirst) {
  std::string first = std::string(kScratchKey) + "\\First";
  std::string second = std::string(kScratchKey) + "\\Second";
  ASSERT_TRUE(SetRegistryString(HKEY_LOCAL_MACHINE, first, "which", "first"));
  ASSERT_TRUE(SetRegistryString(HKEY_LOCAL_MACHINE, second, "which", "second"));

  RegistryKey key;
  ASSERT_EQ(key.Open(HKEY_LOCAL_MACHINE, first.c_str(), KEY_READ), ERROR_SUCCESS);
  HKEY old = key.Handle();
  ASSERT_EQ(key.Open(HKEY_LOCAL_MACHINE, second.c_str(), KEY_READ), ERROR_SUCCESS);
  EXPECT_NE(key.Handle(), old);
  char buffer[64] = {};
  DWORD count = sizeof buffer;
  EXPECT_EQ(key.QueryString(buffer, "which", &count), 0);
  EXPECT_STREQ(buffer, "second");
  // The first handle has already been closed by the object.
  EXPECT_EQ(RegCloseKey(old), ERROR_INVALID_HANDLE);
}

TEST_F(RegistryKeyTest, CloseReleasesOnceAndMayBeRepeated) {
  RegistryKey key;
  EXPECT_EQ(key.Close(), 0);  // nothing held yet
  ASSERT_EQ(key.Open(HKEY_LOCAL_MACHINE, kScratchKey, KEY_READ), ERROR_SUCCESS);
  HKEY held = key.Handle();
  EXPECT_EQ(key.Close(), 0);
  EXPECT_EQ(key.Handle(), nullptr);
  EXPECT_EQ(key.Close(), 0);
  EXPECT_EQ(key.Handle(), nullptr);
  EXPECT_EQ(RegCloseKey(held), ERROR_INVALID_HANDLE);
}

TEST_F(RegistryKeyTest, DestructionClosesTheHeldKey) {
  HKEY held = nullptr;
  {
    RegistryKey key;
    ASSERT_EQ(key.Open(HKEY_LOCAL_MACHINE, kScratchKey, KEY_READ), ERROR_SUCCESS);
    held = key.Handle();
  }
  EXPECT_EQ(RegCloseKey(held), ERROR_INVALID_HANDLE);
}

TEST_F(RegistryKeyTest, OpensUnderAnotherKeysHandleWithTheAccessAsked) {
  ASSERT_TRUE(SetRegistryString(HKEY_LOCAL_MACHINE, std::string(kScratchKey) + "\\Child", "v", "x"));
  RegistryKey parent;
  ASSERT_EQ(parent.Open(HKEY_LOCAL_MACHINE, kScratchKey, KEY_READ), ERROR_SUCCESS);

  RegistryKey readOnly;
  ASSERT_EQ(readOnly.Open(parent.Handle(), "Child", KEY_READ), ERROR_SUCCESS);
  const BYTE data[] = "y";
  EXPECT_EQ(RegSetValueExA(readOnly.Handle(), "v", 0, REG_SZ, data, sizeof data),
            ERROR_ACCESS_DENIED);

  RegistryKey writable;
  ASSERT_EQ(writable.Open(parent.Handle(), "Child", KEY_READ | KEY_WRITE), ERROR_SUCCESS);
  EXPECT_EQ(RegSetValueExA(writable.Handle(), "v", 0, REG_SZ, data, sizeof data), ERROR_SUCCESS);
  char buffer[16] = {};
  DWORD count = sizeof buffer;
  EXPECT_EQ(writable.QueryString(buffer, "v", &count), 0);
  EXPECT_STREQ(buffer, "y");
}

}  // namespace
