#include "resource_writer.h"

#include <string.h>
#include "../support/text_buffer.h"

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

[[noreturn]] void FailWithError(DWORD error, const char* context) {
  SetLastError(error);
  FailWithSystemError(context);
}

// 1 when the open file is a link itself. Asked by attribute tag where the platform can
// (cheap), else through the full file information (systems before version 6).
int IsOpenedLink(HANDLE file) {
  typedef BOOL(WINAPI * GetInformationByHandleExFunction)(HANDLE, FILE_INFO_BY_HANDLE_CLASS, LPVOID, DWORD);
  GetInformationByHandleExFunction getInformationEx = reinterpret_cast<GetInformationByHandleExFunction>(
      reinterpret_cast<void*>(GetProcAddress(GetModuleHandleA("kernel32.dll"), "GetFileInformationByHandleEx")));
  DWORD attributes = 0;
  FILE_ATTRIBUTE_TAG_INFO tag;
  BY_HANDLE_FILE_INFORMATION information;
  if (getInformationEx != nullptr && getInformationEx(file, FileAttributeTagInfo, &tag, sizeof tag)) {
    attributes = tag.FileAttributes;
  } else if (GetFileInformationByHandle(file, &information)) {
    attributes = information.dwFileAttributes;
  }
  return (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
}

// Opens the closed file again so that nobody can change it any more: others may still read
// it, but neither write, rename nor delete it. The open never follows a link, and one found
// there (swapped in at any moment since the name was checked) is refused.
HANDLE LockWrittenFile(const char* path, DWORD size) {
  HANDLE file = CreateFileA(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                            FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
  if (file == INVALID_HANDLE_VALUE) FailWithSystemError(kContextReopenFile);
  if (IsOpenedLink(file)) FailWithError(ERROR_ACCESS_DENIED, kContextReopenFile);
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

int WriteResourceToFile(HMODULE module, int id, const char* type, const char* path, bool compareLater) {
  HRSRC resource = FindResourceA(module, MAKEINTRESOURCEA(id), type);
  if (resource == nullptr) return 0;
  DWORD size = SizeofResource(module, resource);
  const BYTE* bytes = static_cast<const BYTE*>(LockResource(LoadResource(module, resource)));

  // The wrapper runs elevated in a folder the user's other processes can write to: a link
  // planted at the file's name must not send the write elsewhere.
  if (IsLink(path)) FailWithError(ERROR_ACCESS_DENIED, kContextCreateFile);
  HANDLE file = CreateFileA(path, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                            FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
  if (file == INVALID_HANDLE_VALUE) FailWithSystemError(kContextCreateFile);
  if (compareLater && size >= kCompareByMappingFrom && comparer == nullptr) StartComparer();
  // The comparer may run while the bytes are copied.
  if (compareLater && comparer != nullptr) SetEvent(comparerMayRun);

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
  if (compareLater && comparer != nullptr) ResetEvent(comparerMayRun);
  if (!CloseHandle(file)) FailWithSystemError(kContextCloseHandle);
  HANDLE locked = LockWrittenFile(path, size);
  if (compareLater) {
    CompareLater(locked, bytes, size);
  } else {
    CompareAndHold(locked, bytes, size, false);
  }
  return 1;
}

}  // namespace

int IsLink(const char* path) {
  // Asked without a trailing backslash: with one, the platform may look through a link at
  // its target (Wine does) and report a plain folder.
  char name[MAX_PATH];
  if (CopyText(name, sizeof name, path)) {
    int length = lstrlenA(name);
    while (length > 1 && name[length - 1] == '\\' && name[length - 2] != ':') name[--length] = '\0';
    path = name;
  }
  DWORD attributes = GetFileAttributesA(path);
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_REPARSE_POINT);
}

void ReleaseHeldFilesForTesting() {
  LONG count = heldFileCount < kHeldFileSlots ? heldFileCount : kHeldFileSlots;
  for (LONG i = 0; i < count; ++i) CloseHandle(heldFiles[i]);
  heldFileCount = 0;
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

int RefuseResourceFile(HMODULE module, int id, const char* type, DWORD error) {
  if (FindResourceA(module, MAKEINTRESOURCEA(id), type) == nullptr) return 0;
  FailWithError(error, kContextCreateFile);
}
