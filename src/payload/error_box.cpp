#include "error_box.h"

#include "../support/text_buffer.h"

const char kContextCreateFile[] = "Installer : Wrapper.CreateFile ";
const char kContextWriteFile[] = "Installer : Wrapper.WriteFile (In small chunks) ";
const char kContextCloseHandle[] = "Installer : Wrapper.CloseHandle ";
const char kContextReopenFile[] = "Installer : Wrapper.CreateFile (Verify) ";
const char kContextMapFile[] = "Installer : Wrapper.MapViewOfFile (Verify) ";
const char kContextReadFile[] = "Installer : Wrapper.ReadFile (Verify) ";
const char kContextVerifyFile[] = "Installer : Wrapper.VerifyFile ";

void FailWithError(DWORD error, const char* context) {
  SetLastError(error);
  FailWithSystemError(context);
}

int FormatErrorBoxText(char* text, size_t capacity, const char* context, int code,
                       const char* systemText) {
  char number[16];
  if (capacity == 0 || !FormatText(number, sizeof number, "%d", code)) return 0;
  text[0] = '\0';
  return AppendText(text, capacity, context) && AppendText(text, capacity, " failed with error ") &&
         AppendText(text, capacity, number) && AppendText(text, capacity, ": ") &&
         AppendText(text, capacity, systemText);
}

void FailWithSystemError(const char* context) {
  DWORD error = GetLastError();
  char* systemText = nullptr;
  FormatMessageA(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM, nullptr, error,
                 MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT), reinterpret_cast<LPSTR>(&systemText),
                 0, nullptr);
  // No text for the code: the same box with an empty system text.
  const char* shownSystemText = systemText != nullptr ? systemText : "";
  size_t size = lstrlenA(shownSystemText) + lstrlenA(context) + 40;
  char* boxText = static_cast<char*>(LocalAlloc(LMEM_ZEROINIT, size));
  if (boxText != nullptr) {
    FormatErrorBoxText(boxText, size, context, static_cast<int>(error), shownSystemText);
  }
  MessageBoxA(nullptr, boxText != nullptr ? boxText : context, "Error", MB_OK);
  if (systemText != nullptr) LocalFree(systemText);
  if (boxText != nullptr) LocalFree(boxText);
  ExitProcess(error);
}
