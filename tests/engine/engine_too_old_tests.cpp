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
struct WideBox {
  std::wstring caption;
  std::wstring text;
  bool hasIcon = false;
  std::vector<int> buttons;  // control identifiers of the push buttons
};

struct BoxSearch {
  DWORD processId;
  HWND box;
};

BOOL CALLBACK FindBox(HWND window, LPARAM parameter) {
  BoxSearch* search = reinterpret_cast<BoxSearch*>(parameter);
  DWORD owner = 0;
  GetWindowThreadProcessId(window, &owner);
  wchar_t className[64] = {};
  GetClassNameW(window, className, 64);
  if (owner == search->processId && lstrcmpW(className, L"#32770") == 0) {
    search->box = window;
    return FALSE;
  }
  return TRUE;
}

BOOL CALLBACK ReadControl(HWND child, LPARAM parameter) {
  WideBox* box = reinterpret_cast<WideBox*>(parameter);
  wchar_t className[64] = {};
  GetClassNameW(child, className, 64);
  LONG style = GetWindowLongW(child, GWL_STYLE);
  if (lstrcmpiW(className, L"Static") == 0 && (style & SS_TYPEMASK) == SS_ICON &&
      SendMessageW(child, STM_GETICON, 0, 0) != 0) {
    box->hasIcon = true;
  }
  if (lstrcmpiW(className, L"Button") == 0 && (style & WS_VISIBLE)) {
    box->buttons.push_back(GetDlgCtrlID(child));
  }
  return TRUE;
}

struct WrapperRun {
  bool started = false;
  bool timedOut = false;
  int exitCode = 0;
  std::vector<WideBox> boxes;
};

WrapperRun RunWrapper(const std::string& arguments) {
  WrapperRun run;
  PROCESS_INFORMATION process;
  if (!StartChild("\"" + WrapperPath() + "\" " + arguments, &process)) return run;
  run.started = true;
  DWORD start = GetTickCount();
  while (WaitForSingleObject(process.hProcess, 50) != WAIT_OBJECT_0) {
    if (GetTickCount() - start > 60000) {
      run.timedOut = true;
      TerminateProcess(process.hProcess, 0xDEAD);
      WaitForSingleObject(process.hProcess, 5000);
      break;
    }
    BoxSearch search{process.dwProcessId, nullptr};
    EnumWindows(FindBox, reinterpret_cast<LPARAM>(&search));
    if (search.box == nullptr || GetDlgItem(search.box, 0xFFFF) == nullptr) continue;
    Sleep(200);  // let the dialog finish laying out its buttons
    WideBox box;
    std::vector<wchar_t> text(4096);
    GetWindowTextW(search.box, text.data(), static_cast<int>(text.size()));
    box.caption = text.data();
    GetDlgItemTextW(search.box, 0xFFFF, text.data(), static_cast<int>(text.size()));
    box.text = text.data();
    EnumChildWindows(search.box, ReadControl, reinterpret_cast<LPARAM>(&box));
    run.boxes.push_back(box);
    SendMessageW(search.box, WM_COMMAND, IDOK, 0);
  }
  DWORD exitCode = 0;
  GetExitCodeProcess(process.hProcess, &exitCode);
  run.exitCode = static_cast<int>(exitCode);
  CloseHandle(process.hProcess);
  CloseHandle(process.hThread);
  return run;
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
    WrapperRun run = RunWrapper(arguments);
    ASSERT_TRUE(run.started);
    ASSERT_FALSE(run.timedOut);
    EXPECT_EQ(run.exitCode, -2);
    ASSERT_EQ(run.boxes.size(), 1u);
    const WideBox& box = run.boxes[0];
    EXPECT_TRUE(box.caption.empty()) << Utf8(box.caption);
    EXPECT_TRUE(box.text == expected) << "the box shows: " << Utf8(box.text);
    EXPECT_TRUE(box.hasIcon);
    EXPECT_EQ(box.buttons, std::vector<int>{IDOK});
    EXPECT_FALSE(PathExists(vendor)) << "nothing may be staged before the gate";
  }
}

}  // namespace
