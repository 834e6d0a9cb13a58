#include "locked_payload_files.h"

#include <string.h>

#include "../support/library_loading.h"
#include "../support/text_buffer.h"
#include "error_box.h"
#include "held_folders.h"
#include "staging_folder.h"

namespace {

// Written files are compared through views of this size, small enough for a 32-bit process,
// a piece at a time; smaller files are read into a buffer of the read size.
constexpr DWORD kVerifyViewSize = 16 * 1024 * 1024;
constexpr DWORD kComparePieceSize = 1024 * 1024;
constexpr DWORD kCompareByMappingFrom = 1024 * 1024;
constexpr DWORD kReadPieceSize = 32 * 1024;

// Handles held on written files until the process ends. Both threads add to it; a slot is
// claimed atomically, so no lock is needed. Files past the last slot stay held all the same.
constexpr LONG kHeldFileSlots = 16;
HANDLE heldFiles[kHeldFileSlots];
volatile LONG heldFileCount = 0;

void HoldFile(HANDLE file) {
  LONG slot = InterlockedIncrement(&heldFileCount) - 1;
  if (slot < kHeldFileSlots) heldFiles[slot] = file;
}

// Opens the closed file again so that nobody can change it any more: others may still read
// it, but neither write, rename nor delete it. The open never follows a link, and one found
// there (swapped in at any moment since the file was closed) is refused.
HANDLE LockWrittenFile(const char* path, DWORD size) {
  HANDLE file = CreateFileA(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                            FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
  if (file == INVALID_HANDLE_VALUE) FailWithSystemError(kContextReopenFile);
  if (IsOpenLink(file)) FailWithError(ERROR_ACCESS_DENIED, kContextReopenFile);
  // The file must be the one in its held folder: had that folder been turned into a link
  // before the file was made, the file lies elsewhere and the name leads nowhere once the
  // link is gone again.
  if (!LiesInHeldFolder(file, path)) FailWithSystemError(kContextReopenFile);
  LARGE_INTEGER fileSize;
  if (!GetFileSizeEx(file, &fileSize)) FailWithSystemError(kContextReopenFile);
  if (fileSize.QuadPart != size) FailWithError(ERROR_FILE_CORRUPT, kContextVerifyFile);
  return file;
}

// The comparer thread's pause: it compares only while this event is set, that is while the
// cabinet thread copies bytes or waits for it. The cabinet thread's other steps (folder
// lookups, opens, closes) are calls into the system; measured under Wine, a busy second core
// made them twice as slow, which cost more than comparing alongside them gained.
HANDLE comparerMayRun = nullptr;

// Compares the locked file with the resource's bytes (another process of the user may have
// replaced it between the close and the lock). A large file is read through views of a
// mapping, no copy and no read calls; between pieces the comparer thread waits for its turn.
void CompareByMapping(HANDLE file, const BYTE* bytes, DWORD size, bool onComparer) {
  HANDLE mapping = CreateFileMappingA(file, nullptr, PAGE_READONLY, 0, 0, nullptr);
  if (mapping == nullptr) FailWithSystemError(kContextMapFile);
  for (DWORD offset = 0; offset < size; offset += kVerifyViewSize) {
    DWORD length = size - offset < kVerifyViewSize ? size - offset : kVerifyViewSize;
    const BYTE* view = static_cast<const BYTE*>(MapViewOfFile(mapping, FILE_MAP_READ, 0, offset, length));
    if (view == nullptr) FailWithSystemError(kContextMapFile);
    int same = 1;
    for (DWORD at = 0; at < length && same; at += kComparePieceSize) {
      if (onComparer) WaitForSingleObject(comparerMayRun, INFINITE);
      DWORD piece = length - at < kComparePieceSize ? length - at : kComparePieceSize;
      same = memcmp(view + at, bytes + offset + at, piece) == 0;
    }
    UnmapViewOfFile(view);
    if (!same) FailWithError(ERROR_FILE_CORRUPT, kContextVerifyFile);
  }
  CloseHandle(mapping);
}

// A small file costs less to read into a buffer than to map.
void CompareByReading(HANDLE file, const BYTE* bytes, DWORD size) {
  BYTE buffer[kReadPieceSize];
  for (DWORD offset = 0; offset < size;) {
    DWORD wanted = size - offset < kReadPieceSize ? size - offset : kReadPieceSize;
    DWORD got = 0;
    if (!ReadFile(file, buffer, wanted, &got, nullptr)) FailWithSystemError(kContextReadFile);
    if (got != wanted || memcmp(buffer, bytes + offset, got) != 0) {
      FailWithError(ERROR_FILE_CORRUPT, kContextVerifyFile);
    }
    offset += got;
  }
}

// Compares, then holds the file until the process ends.
void CompareAndHold(HANDLE file, const BYTE* bytes, DWORD size, bool onComparer) {
  if (size >= kCompareByMappingFrom) {
    CompareByMapping(file, bytes, size, onComparer);
  } else if (size > 0) {
    CompareByReading(file, bytes, size);
  }
  HoldFile(file);
}

// Comparisons running beside the cabinet thread, their only user: comparing a file costs a
// good part of writing it, and the second core is idle while the engine waits. One thread
// takes the large files in the order they were written; the semaphore counts the files
// waiting, and an entry without a file tells the thread to end. It reports the end through
// an event: waiting for a thread to exit costs as long as starting one.
struct Comparison {
  HANDLE file;
  const BYTE* bytes;
  DWORD size;
};
constexpr int kComparisonSlots = 16;
Comparison comparisons[kComparisonSlots];
int comparisonCount = 0;
HANDLE comparisonsWaiting = nullptr;
HANDLE comparisonsDone = nullptr;
HANDLE comparer = nullptr;

DWORD WINAPI CompareInOrder(LPVOID) {
  for (int next = 0;; ++next) {
    WaitForSingleObject(comparisonsWaiting, INFINITE);
    const Comparison& comparison = comparisons[next];
    if (comparison.file == nullptr) break;
    CompareAndHold(comparison.file, comparison.bytes, comparison.size, true);
  }
  SetEvent(comparisonsDone);
  return 0;
}

void CloseIfOpen(HANDLE* handle) {
  if (*handle != nullptr) CloseHandle(*handle);
  *handle = nullptr;
}

// Started as the first large file is opened, so that the thread is up by the time that
// file is written. Without a thread the files are compared on the caller's.
void StartComparer() {
  comparisonsWaiting = CreateSemaphoreA(nullptr, 0, kComparisonSlots, nullptr);
  comparisonsDone = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  comparerMayRun = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  if (comparisonsWaiting != nullptr && comparisonsDone != nullptr && comparerMayRun != nullptr) {
    comparer = CreateThread(nullptr, 0, CompareInOrder, nullptr, 0, nullptr);
  }
  if (comparer == nullptr) {
    CloseIfOpen(&comparisonsWaiting);
    CloseIfOpen(&comparisonsDone);
    CloseIfOpen(&comparerMayRun);
  }
}

void CompareLater(HANDLE file, const BYTE* bytes, DWORD size) {
  // The last slot is kept for the end marker.
  if (comparer != nullptr && size >= kCompareByMappingFrom && comparisonCount < kComparisonSlots - 1) {
    comparisons[comparisonCount++] = {file, bytes, size};
    ReleaseSemaphore(comparisonsWaiting, 1, nullptr);
    return;
  }
  CompareAndHold(file, bytes, size, false);
}

// Moves the name that the open handle stands for to a name of its own in the same folder,
// so that the payload's name is free at once even when the removal has to wait: a file
// that a scanner still has open when its name is removed stays "delete pending", and a new
// file of that name cannot be made until the scanner lets go. Returns 1 when it moved.
int MoveOutOfTheWay(HANDLE existing, const char* path) {
  typedef BOOL(WINAPI * SetInformationByHandleFunction)(HANDLE, FILE_INFO_BY_HANDLE_CLASS, LPVOID, DWORD);
  auto setInformation = LookUpFunction<SetInformationByHandleFunction>(GetModuleHandleA("kernel32.dll"),
                                                                       "SetFileInformationByHandle");
  if (setInformation == nullptr) return 0;
  static volatile LONG moved = 0;
  char aside[kPathCapacity];
  if (!FormatText(aside, sizeof aside, "%s.%u-%u.removed", path, static_cast<unsigned>(GetCurrentProcessId()),
                  static_cast<unsigned>(InterlockedIncrement(&moved)))) {
    return 0;
  }
  struct {
    FILE_RENAME_INFO info;
    WCHAR room[kPathCapacity];
  } rename = {};
  int length = MultiByteToWideChar(CP_ACP, 0, aside, -1, rename.info.FileName, kPathCapacity);
  if (length == 0) return 0;
  rename.info.ReplaceIfExists = FALSE;
  rename.info.RootDirectory = nullptr;
  rename.info.FileNameLength = static_cast<DWORD>((length - 1) * sizeof(WCHAR));
  return setInformation(existing, FileRenameInfo, &rename, sizeof rename) ? 1 : 0;
}

}  // namespace

void MakeRoomForPayloadFile(const char* path) {
  // The file goes into a held folder only: its own folder is held now unless the staging
  // chain holds it already.
  char folder[kPathCapacity];
  if (!CopyText(folder, sizeof folder, path)) FailWithError(ERROR_FILENAME_EXCED_RANGE, kContextCreateFile);
  char* last = strrchr(folder, '\\');
  if (last == nullptr) {
    CopyText(folder, sizeof folder, ".");
  } else if (last == folder || last[-1] == ':') {
    last[1] = '\0';  // a root keeps its backslash
  } else {
    *last = '\0';
  }
  if (!HoldStagingFolder(folder)) FailWithSystemError(kContextCreateFile);

  // The link itself, never its target; a hard link's other names keep the file. Shared with
  // nobody, so a file that anyone has open stays (in use: 32), and the name is gone once
  // this handle closes. A read-only file or a folder cannot be opened this way (5).
  HANDLE existing = CreateFileA(path, DELETE, 0, nullptr, OPEN_EXISTING,
                                FILE_FLAG_DELETE_ON_CLOSE | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
  if (existing == INVALID_HANDLE_VALUE) {
    DWORD error = GetLastError();
    if (error == ERROR_FILE_NOT_FOUND) return;
    FailWithError(error, kContextCreateFile);
  }
  // Where it cannot move, it is removed in place as before.
  MoveOutOfTheWay(existing, path);
  CloseHandle(existing);
}

void BeginCopying(bool comparingLater, DWORD size) {
  if (comparingLater && size >= kCompareByMappingFrom && comparer == nullptr) StartComparer();
  // The comparer may run while the bytes are copied.
  if (comparingLater && comparer != nullptr) SetEvent(comparerMayRun);
}

void EndCopying(bool comparingLater) {
  if (comparingLater && comparer != nullptr) ResetEvent(comparerMayRun);
}

void GuardWrittenFile(const char* path, const BYTE* bytes, DWORD size, bool comparingLater) {
  HANDLE locked = LockWrittenFile(path, size);
  if (comparingLater) {
    CompareLater(locked, bytes, size);
  } else {
    CompareAndHold(locked, bytes, size, false);
  }
}

void AwaitFileComparisons() {
  if (comparer != nullptr) {
    comparisons[comparisonCount] = {nullptr, nullptr, 0};
    ReleaseSemaphore(comparisonsWaiting, 1, nullptr);
    SetEvent(comparerMayRun);  // nothing left to slow down
    WaitForSingleObject(comparisonsDone, INFINITE);
  }
  // The comparer touches none of these once it has reported its end.
  CloseIfOpen(&comparer);
  CloseIfOpen(&comparisonsWaiting);
  CloseIfOpen(&comparisonsDone);
  CloseIfOpen(&comparerMayRun);
  comparisonCount = 0;
}

void ReleaseStagedHoldsForTesting() {
  LONG files = heldFileCount < kHeldFileSlots ? heldFileCount : kHeldFileSlots;
  for (LONG i = 0; i < files; ++i) CloseHandle(heldFiles[i]);
  heldFileCount = 0;
  ReleaseHeldFoldersForTesting();
}
