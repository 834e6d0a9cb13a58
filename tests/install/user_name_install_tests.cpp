// The wrapper installing the sample product with Wine's real msiexec.exe for users whose
// names lie inside and outside the code page (1252). Each case runs in a prefix of its own,
// made with USER set to the name, which names the profile folder: WRAPPER_TEST_USER_CASE
// says which. The payload must be staged below the user's own LocalLow (by its short form
// where needed), the engine must get those files, and a best-fit look-alike user's folder
// must stay untouched.
#include <gtest/gtest.h>

#include <stdlib.h>

#include "user_folder_install.h"

namespace {

struct UserCase {
  const char* id;
  const wchar_t* name;
};
const UserCase kUsers[] = {
    {"juergen", L"J\u00fcrgen"},  // held by the code page
    {"lukasz", L"\u0141ukasz"},   // best fit: "Lukasz"
    {"lilei", L"\u674e\u96f7"},   // no counterpart: "??"
};

class UserNameInstall : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(GetACP(), 1252u) << "these cases are written for the code page 1252";
    const char* id = getenv("WRAPPER_TEST_USER_CASE");
    ASSERT_NE(id, nullptr) << "WRAPPER_TEST_USER_CASE is not set";
    for (const UserCase& user : kUsers) {
      if (strcmp(user.id, id) == 0) user_ = &user;
    }
    ASSERT_NE(user_, nullptr) << "unknown case " << id;
    wchar_t profile[MAX_PATH] = {};
    ASSERT_GT(GetEnvironmentVariableW(L"USERPROFILE", profile, MAX_PATH), 0u);
    profile_ = profile;
    // The prefix was made for this user: the profile folder bears the name.
    ASSERT_EQ(profile_, L"C:\\users\\" + std::wstring(user_->name)) << Utf8Of(profile_);
    localLow_ = LocalLowFolderW();
    ASSERT_EQ(localLow_, profile_ + L"\\AppData\\LocalLow") << Utf8Of(localLow_);
    RemoveSampleInstall(localLow_);
  }

  const UserCase* user_ = nullptr;
  std::wstring profile_;
  std::wstring localLow_;
};

TEST_F(UserNameInstall, InstallsFromTheUsersOwnLocalLow) {
  // A scratch folder per case: the cases run in prefixes of their own, possibly at once.
  LoggedInstall install = RunSilentInstall(std::string("user-name-install-") + user_->id);
  ExpectInstalledFrom(localLow_, install);
  // Nothing of the payload in a look-alike's profile ("C:\users\Lukasz", "C:\users\??" is no
  // valid name): only this user's profile folder holds a staging chain.
  EXPECT_FALSE(PathExistsW(L"C:\\users\\Lukasz")) << "a look-alike's profile folder was made";
}

// With the look-alike's profile present, as when a user "Lukasz" shares the machine: the
// best-fit path exists, and nothing may be written there.
TEST_F(UserNameInstall, LookAlikeUsersProfileStaysUntouched) {
  ASSERT_STREQ(user_->id, "lukasz") << "only a name with a best-fit look-alike has one";
  const std::wstring lookAlike = L"C:\\users\\Lukasz";
  const std::wstring lookAlikeLocalLow = lookAlike + L"\\AppData\\LocalLow";
  ASSERT_TRUE(CreateDirectoryW(lookAlike.c_str(), nullptr) || GetLastError() == ERROR_ALREADY_EXISTS);
  ASSERT_TRUE(CreateDirectoryW((lookAlike + L"\\AppData").c_str(), nullptr) ||
              GetLastError() == ERROR_ALREADY_EXISTS);
  ASSERT_TRUE(CreateDirectoryW(lookAlikeLocalLow.c_str(), nullptr) ||
              GetLastError() == ERROR_ALREADY_EXISTS);
  DeleteTreeW(lookAlikeLocalLow + L"\\Orvik");

  LoggedInstall install = RunSilentInstall(std::string("look-alike-install-") + user_->id);
  EXPECT_EQ(ListFilesBelow(lookAlike), "") << "written into the look-alike user's profile";
  ExpectInstalledFrom(localLow_, install);
  DeleteTreeW(lookAlike);
}

}  // namespace
