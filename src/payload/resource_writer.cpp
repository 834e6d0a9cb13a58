#include "resource_writer.h"

#include <string.h>

#include "../support/text_buffer.h"
#include "error_box.h"
#include "locked_payload_files.h"

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
