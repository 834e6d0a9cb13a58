// The install-status value under the real vendor key HKLM\Software\Halvern. Whatever that key
// held before (a product of an earlier test may have left its keys) is saved and put back.
#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "raw_registry_value.h"
#include "support/install_status.h"
#include "test_support.h"

namespace {

const char kVendorKey[] = "Software\\Halvern";

// A registry tree as it was: values with their raw types and bytes, and subkeys.
struct SavedKey {
  struct Value {
    std::string name;
    DWORD type;
    std::vector<BYTE> data;
  };
  std::vector<Value> values;
  std::vector<std::pair<std::string, SavedKey>> subkeys;
};

bool SaveTree(HKEY root, const std::string& path, SavedKey* saved) {
  HKEY key = nullptr;
  if (RegOpenKeyExA(root, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) return false;
  for (DWORD i = 0;; ++i) {
    char name[16384];
    DWORD nameLength = sizeof name;
    DWORD type = 0;
    DWORD size = 0;
    if (RegEnumValueA(key, i, name, &nameLength, nullptr, &type, nullptr, &size) != ERROR_SUCCESS) {
      break;
    }
    SavedKey::Value value{name, type, std::vector<BYTE>(size)};
    DWORD readSize = size;
    RegQueryValueExA(key, name, nullptr, &value.type, value.data.data(), &readSize);
    value.data.resize(readSize);
    saved->values.push_back(value);
  }
  for (DWORD i = 0;; ++i) {
    char name[256];
    DWORD nameLength = sizeof name;
    if (RegEnumKeyExA(key, i, name, &nameLength, nullptr, nullptr, nullptr, nullptr) !=
        ERROR_SUCCESS) {
      break;
    }
    saved->subkeys.emplace_back(name, SavedKey());
    SaveTree(key, name, &saved->subkeys.back().second);
  }
  RegCloseKey(key);
  return true;
}

void RestoreTree(HKEY root, const std::string& path, const SavedKey& saved) {
  HKEY key = nullptr;
  if (RegCreateKeyExA(root, path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr) !=
      ERROR_SUCCESS) {
    return;
  }
  for (const SavedKey::Value& value : saved.values) {
    RegSetValueExA(key, value.name.c_str(), 0, value.type, value.data.data(),
                   static_cast<DWORD>(value.data.size()));
  }
  for (const auto& subkey : saved.subkeys) RestoreTree(key, subkey.first, subkey.second);
  RegCloseKey(key);
}

class InstallStatusTest : public ::testing::Test {
 protected:
  void SetUp() override {
    existed_ = SaveTree(HKEY_LOCAL_MACHINE, kVendorKey, &saved_);
    DeleteRegistryTree(HKEY_LOCAL_MACHINE, kVendorKey);
    ASSERT_FALSE(RegistryKeyExists(HKEY_LOCAL_MACHINE, kVendorKey));
  }
  void TearDown() override {
    DeleteRegistryTree(HKEY_LOCAL_MACHINE, kVendorKey);
    if (existed_) RestoreTree(HKEY_LOCAL_MACHINE, kVendorKey, saved_);
  }

  void SetStatus(DWORD type, const std::string& data) {
    ASSERT_TRUE(SetRawRegistryValue(kVendorKey, "InstallStatus", type, data));
  }
  bool HasValue(const char* name) {
    std::string ignored;
    return ReadRegistryString(HKEY_LOCAL_MACHINE, kVendorKey, name, &ignored);
  }
  void MakeEmptyKey(const char* path) {
    HKEY key = nullptr;
    ASSERT_EQ(RegCreateKeyExA(HKEY_LOCAL_MACHINE, path, 0, nullptr, 0, KEY_WRITE, nullptr, &key,
                              nullptr),
              ERROR_SUCCESS);
    RegCloseKey(key);
  }
  void MakeEmptyVendorKey() { MakeEmptyKey(kVendorKey); }

  bool existed_ = false;
  SavedKey saved_;
};

std::string Bytes(const char* data, size_t size) { return std::string(data, size); }

struct ReadCase {
  const char* what;
  DWORD type;
  std::string stored;
  int result;
  std::string expectedBytes;  // at the start of the buffer afterwards
};

TEST_F(InstallStatusTest, ReadAcceptsOnlyANonEmptyTerminatedString) {
  const std::string longest(511, 'r');
  const ReadCase cases[] = {
      {"reinstall", REG_SZ, Bytes("reinstall\0", 10), 1, Bytes("reinstall\0", 10)},
      {"other text", REG_SZ, Bytes("repair\0", 7), 1, Bytes("repair\0", 7)},
      {"expand string", REG_EXPAND_SZ, Bytes("reinstall\0", 10), 1, Bytes("reinstall\0", 10)},
      {"multi string", REG_MULTI_SZ, Bytes("reinstall\0\0", 11), 1, Bytes("reinstall\0", 10)},
      {"terminator only", REG_SZ, Bytes("\0", 1), 0, Bytes("\0", 1)},
      {"zero bytes", REG_SZ, "", 0, ""},
      {"unterminated", REG_SZ, "reinstall", 0, "reinstall"},
      {"dword keeps raw bytes", REG_DWORD, Bytes("\x72\x65\x69\x00", 4), 0,
       Bytes("\x72\x65\x69\x00", 4)},
      {"fills the capacity", REG_SZ, longest + std::string(1, '\0'), 1,
       longest + std::string(1, '\0')},
      {"over the capacity", REG_SZ, std::string(600, 'r'), 0, ""},
  };
  for (const ReadCase& c : cases) {
    SCOPED_TRACE(c.what);
    SetStatus(c.type, c.stored);
    char buffer[512 + 16];
    memset(buffer, 0x5A, sizeof buffer);
    EXPECT_EQ(ReadInstallStatus(buffer, 512), c.result);
    EXPECT_EQ(std::string(buffer, c.expectedBytes.size()), c.expectedBytes);
    for (size_t i = 512; i < sizeof buffer; ++i) ASSERT_EQ(buffer[i], 0x5A) << "byte " << i;
  }
}

TEST_F(InstallStatusTest, ReadUsesTheCapacityItIsGiven) {
  SetStatus(REG_SZ, Bytes("reinstall\0", 10));
  char buffer[64] = {};
  EXPECT_EQ(ReadInstallStatus(buffer, 10), 1);
  EXPECT_STREQ(buffer, "reinstall");
  memset(buffer, 0, sizeof buffer);
  EXPECT_EQ(ReadInstallStatus(buffer, 9), 0);
}

TEST_F(InstallStatusTest, ReadWithoutValueOrVendorKeyIsZero) {
  char buffer[512] = {};
  EXPECT_EQ(ReadInstallStatus(buffer, sizeof buffer), 0);  // no vendor key
  ASSERT_TRUE(SetRegistryString(HKEY_LOCAL_MACHINE, kVendorKey, "Other", "reinstall"));
  EXPECT_EQ(ReadInstallStatus(buffer, sizeof buffer), 0);  // vendor key, no value
  EXPECT_STREQ(buffer, "");
}

struct ClearCase {
  const char* what;
  bool vendorKey;
  bool status;
  bool otherValue;
  bool subkey;
  bool keyRemains;  // the vendor key afterwards
};

TEST_F(InstallStatusTest, ClearRemovesTheValueAndTheVendorKeyOnlyWhenLeftEmpty) {
  const ClearCase cases[] = {
      {"status only", true, true, false, false, false},
      {"status and another value", true, true, true, false, true},
      {"status and a subkey", true, true, false, true, true},
      {"empty key, no status", true, false, false, false, false},
      {"another value, no status", true, false, true, false, true},
      {"no vendor key", false, false, false, false, false},
  };
  for (const ClearCase& c : cases) {
    SCOPED_TRACE(c.what);
    DeleteRegistryTree(HKEY_LOCAL_MACHINE, kVendorKey);
    if (c.vendorKey) MakeEmptyVendorKey();
    if (c.status) SetStatus(REG_SZ, Bytes("reinstall\0", 10));
    if (c.otherValue) {
      ASSERT_TRUE(SetRegistryString(HKEY_LOCAL_MACHINE, kVendorKey, "Other", "kept"));
    }
    if (c.subkey) MakeEmptyKey("Software\\Halvern\\KZT");

    ClearInstallStatus();

    EXPECT_EQ(RegistryKeyExists(HKEY_LOCAL_MACHINE, kVendorKey), c.keyRemains);
    EXPECT_FALSE(HasValue("InstallStatus"));
    std::string other;
    EXPECT_EQ(ReadRegistryString(HKEY_LOCAL_MACHINE, kVendorKey, "Other", &other), c.otherValue);
    if (c.otherValue) {
      EXPECT_EQ(other, "kept");
    }
    EXPECT_EQ(RegistryKeyExists(HKEY_LOCAL_MACHINE, "Software\\Halvern\\KZT"), c.subkey);
    EXPECT_TRUE(RegistryKeyExists(HKEY_LOCAL_MACHINE, "Software"));
  }
}

TEST_F(InstallStatusTest, ReadThenClearIsTheReinstallRound) {
  SetStatus(REG_SZ, Bytes("reinstall\0", 10));
  char buffer[512] = {};
  ASSERT_EQ(ReadInstallStatus(buffer, sizeof buffer), 1);
  ClearInstallStatus();
  memset(buffer, 0, sizeof buffer);
  EXPECT_EQ(ReadInstallStatus(buffer, sizeof buffer), 0);
  EXPECT_STREQ(buffer, "");
}

}  // namespace
