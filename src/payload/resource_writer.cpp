#include "resource_writer.h"

#include <string.h>

#include "../support/text_buffer.h"
#include "staged_file_guard.h"

const char kContextCreateFile[] = "Installer : Wrapper.CreateFile ";
const char kContextWriteFile[] = "Installer : Wrapper.WriteFile (In small chunks) ";
const char kContextCloseHandle[] = "Installer : Wrapper.CloseHandle ";
const char kContextReopenFile[] = "Installer : Wrapper.CreateFile (Verify) ";
const char kContextMapFile[] = "Installer : Wrapper.MapViewOfFile (Verify) ";
const char kContextReadFile[] = "Installer : Wrapper.ReadFile (Verify) ";
const char kContextVerifyFile[] = "Installer : Wrapper.VerifyFile ";

namespace {

// The largest amount handed to one write.
constexpr DWORD kChunkSize = 8192;

int WriteResourceToFile(HMODULE module, int id, const char* type, const char* path, bool compareLater) {
  HRSRC resource = FindResourceA(module, MAKEINTRESOURCEA(id), type);
  if (resource == nullptr) return 0;
  DWORD size = SizeofResource(module, resource);
  const BYTE* bytes = static_cast<const BYTE*>(LockResource(LoadResource(module, resource)));

  // The wrapper runs elevated in a folder the user's other processes can write to: whatever
  // stands at the name goes first, and the file is made only where nothing stands, so the
  // write can never land in a file another process put there.
  MakeRoomForPayloadFile(path);
  HANDLE file = CreateFileA(path, GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                            FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
  if (file == INVALID_HANDLE_VALUE) FailWithSystemError(kContextCreateFile);
  BeginCopying(compareLater, size);

  // Straight from the loaded image, in chunks, no copy of our own.
  DWORD done = 0;
  while (done < size) {
    DWORD chunk = size - done < kChunkSize ? size - done : kChunkSize;
    DWORD written = 0;
    if (!WriteFile(file, bytes + done, chunk, &written, nullptr)) {
      FailWithSystemError(kContextWriteFile);
    }
    if (written == 0) {
      // A write that reports success without progress would loop for ever; treat it as the
      // disk refusing the data.
      SetLastError(ERROR_WRITE_FAULT);
      FailWithSystemError(kContextWriteFile);
    }
    done += written;
  }
  EndCopying(compareLater);
  if (!CloseHandle(file)) FailWithSystemError(kContextCloseHandle);
  GuardWrittenFile(path, bytes, size, compareLater);
  return 1;
}

}  // namespace

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

int ExtractResourceToFile(HMODULE module, int id, const char* type, const char* path) {
  return WriteResourceToFile(module, id, type, path, false);
}

int ExtractResourceToFileComparingLater(HMODULE module, int id, const char* type, const char* path) {
  return WriteResourceToFile(module, id, type, path, true);
}

int RefuseResourceFile(HMODULE module, int id, const char* type, DWORD error) {
  if (FindResourceA(module, MAKEINTRESOURCEA(id), type) == nullptr) return 0;
  FailWithError(error, kContextCreateFile);
}
