// The wrapper in a prefix whose msi.dll is 1.20.9999.0: the localized box, exit code -2 and
// nothing staged. Run once per user language (LC_ALL of the test process, inherited by the
// wrapper); WRAPPER_TEST_USER_LANGUAGE names the language the run is meant to have.
#include <gtest/gtest.h>

#include <stdlib.h>

#include "engine/engine_version_gate.h"
#include "wrapper_run.h"

namespace {

// What a box shows, read as wide text so that no code page stands between the box and the
// comparison.
ChildRun RunWrapper(const std::string& arguments) {
  return RunChild("\"" + WrapperPath() + "\" " + arguments, 60000);
}

const wchar_t* ExpectedMessage(int language) {
  switch (language) {
    case 1033:
      return L"Zelvan(TM) could not be installed because the Windows Installer 2.0 Engine is not "
             L"installed on this system.  Please download and install Windows Installer 2.0 or "
             L"higher from the Microsoft web site.";
    case 1041:
      return L"Windows Installer 2.0 Engine がこのシステムにインストールされていないため、"
             L"Zelvan(TM) をインストールできませんでした。Windows Installer 2.0 以上を "
             L"Microsoft Web サイトからダウンロードし、インストールしてください。";
  }
  return nullptr;
}

std::string Utf8(const std::wstring& text) {
  std::string bytes(text.size() * 4 + 1, '\0');
  int length = WideCharToMultiByte(CP_UTF8, 0, text.c_str(), static_cast<int>(text.size()),
                                   &bytes[0], static_cast<int>(bytes.size()), nullptr, nullptr);
  bytes.resize(length > 0 ? length : 0);
  return bytes;
}

// The first folder of the staging chain below the user data folder.
std::string VendorFolder() { return LocalLowFolder() + "\\Orvik"; }

TEST(EngineTooOld, BoxInTheUsersLanguageAndNothingStaged) {
  const char* wanted = getenv("WRAPPER_TEST_USER_LANGUAGE");
  ASSERT_NE(wanted, nullptr) << "run through ctest, which sets the user language";
  const int language = atoi(wanted);
  ASSERT_EQ(GetUserDefaultLangID(), language) << "LC_ALL did not reach this process";
  const wchar_t* expected = ExpectedMessage(language);
  ASSERT_NE(expected, nullptr);
  ASSERT_EQ(CheckInstallerEngineVersion(), 0) << "this prefix must hold the old engine library";

  // Switches are parsed before the gate, but neither silent mode nor a transform language
  // changes the box: its language is the user's.
  for (const char* arguments : {"", "/s /lang=2052 P=1", "/v\"/qn\""}) {
    SCOPED_TRACE(arguments);
    std::string vendor = VendorFolder();
    DeleteTree(vendor);
    ASSERT_FALSE(PathExists(vendor));
    ChildRun run = RunWrapper(arguments);
    ASSERT_TRUE(Started(run));
    ASSERT_FALSE(run.timedOut);
    EXPECT_EQ(run.exitCode, -2);
    ASSERT_EQ(run.boxes.size(), 1u);
    const SeenBox& box = run.boxes[0];
    EXPECT_TRUE(box.wideCaption.empty()) << Utf8(box.wideCaption);
    EXPECT_TRUE(box.wideText == expected) << "the box shows: " << Utf8(box.wideText);
    EXPECT_TRUE(box.hasIcon);
    EXPECT_EQ(box.buttons, std::vector<int>{IDOK});
    EXPECT_FALSE(PathExists(vendor)) << "nothing may be staged before the gate";
  }
}

}  // namespace
