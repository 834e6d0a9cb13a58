#include "message_box_watcher.h"

#include "test_support.h"

namespace {

struct Search {
  DWORD processId;
  std::vector<HWND> found;
};

BOOL CALLBACK CollectBoxes(HWND window, LPARAM parameter) {
  Search* search = reinterpret_cast<Search*>(parameter);
  DWORD owner = 0;
  GetWindowThreadProcessId(window, &owner);
  char className[64] = {};
  GetClassNameA(window, className, sizeof className);
  if (owner == search->processId && lstrcmpA(className, "#32770") == 0) {
    search->found.push_back(window);
  }
  return TRUE;
}

// The icon of a message box is a static control showing an icon (SS_ICON).
BOOL CALLBACK FindIconControl(HWND child, LPARAM parameter) {
  char className[64] = {};
  GetClassNameA(child, className, sizeof className);
  LONG style = GetWindowLongA(child, GWL_STYLE);
  if (lstrcmpiA(className, "Static") == 0 && (style & SS_TYPEMASK) == SS_ICON &&
      SendMessageA(child, STM_GETICON, 0, 0) != 0) {
    *reinterpret_cast<HICON*>(parameter) = reinterpret_cast<HICON>(SendMessageA(child, STM_GETICON, 0, 0));
    return FALSE;
  }
  return TRUE;
}

BOOL CALLBACK CollectButton(HWND child, LPARAM parameter) {
  char className[64] = {};
  GetClassNameA(child, className, sizeof className);
  if (lstrcmpiA(className, "Button") == 0 && (GetWindowLongA(child, GWL_STYLE) & WS_VISIBLE)) {
    reinterpret_cast<std::vector<int>*>(parameter)->push_back(GetDlgCtrlID(child));
  }
  return TRUE;
}

}  // namespace

void CloseBoxesOfProcess(DWORD processId, std::vector<SeenBox>* boxes) {
  Search search{processId, {}};
  EnumWindows(CollectBoxes, reinterpret_cast<LPARAM>(&search));
  for (HWND box : search.found) {
    // A box can be found while it is still being set up, before its caption and text are
    // set. A sent message is handled only once its thread pumps messages again, that is,
    // once the box is complete and waiting.
    DWORD_PTR ignored = 0;
    if (!SendMessageTimeoutA(box, WM_NULL, 0, 0, SMTO_BLOCK, 5000, &ignored)) continue;
    SeenBox seen;
    char caption[1024] = {};
    GetWindowTextA(box, caption, sizeof caption);
    seen.caption = caption;
    // The text of a message box is the static control 0xFFFF.
    std::vector<char> text(8192);
    GetDlgItemTextA(box, 0xFFFF, text.data(), static_cast<int>(text.size()));
    seen.text = text.data();
    seen.style = GetWindowLongA(box, GWL_STYLE);
    HICON icon = nullptr;
    EnumChildWindows(box, FindIconControl, reinterpret_cast<LPARAM>(&icon));
    seen.hasIcon = icon != nullptr;
    std::vector<wchar_t> wide(8192);
    GetWindowTextW(box, wide.data(), static_cast<int>(wide.size()));
    seen.wideCaption = wide.data();
    GetDlgItemTextW(box, 0xFFFF, wide.data(), static_cast<int>(wide.size()));
    seen.wideText = wide.data();
    EnumChildWindows(box, CollectButton, reinterpret_cast<LPARAM>(&seen.buttons));
    boxes->push_back(seen);
    SendMessageA(box, WM_COMMAND, IDOK, 0);
  }
}
