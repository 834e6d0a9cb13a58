#include "staged_file_guard.h"

#include <string.h>

#include "../support/library_loading.h"
#include "../support/text_buffer.h"
#include "resource_writer.h"
#include "staging_folder.h"

namespace {

// --- Held folders ---------------------------------------------------------------------

// Folders held until the process ends, by the path text they were asked for, with the path
// where each really lies. Both threads add to it and read it without a lock: a slot is
// claimed atomically and marked ready only once it is filled. A folder past the last slot
// stays held all the same; it is only opened again when asked for again.
struct HeldFolder {
  char path[kPathCapacity];
  char realPath[kPathCapacity];
  HANDLE handle;
  volatile LONG ready;
};
constexpr LONG kHeldFolderSlots = 16;
HeldFolder heldFolders[kHeldFolderSlots];
volatile LONG heldFolderCount = 0;

// Folders are named without trailing backslashes here (see WithoutTrailingBackslash).
const HeldFolder* FindHeldFolder(const char* name) {
  LONG count = heldFolderCount < kHeldFolderSlots ? heldFolderCount : kHeldFolderSlots;
  for (LONG i = 0; i < count; ++i) {
    if (heldFolders[i].ready && strcmp(heldFolders[i].path, name) == 0) return &heldFolders[i];
  }
  return nullptr;
}

void RememberHeldFolder(const char* name, const char* realPath, HANDLE handle) {
  LONG slot = InterlockedIncrement(&heldFolderCount) - 1;
  if (slot >= kHeldFolderSlots) return;
  HeldFolder& held = heldFolders[slot];
  CopyText(held.path, sizeof held.path, name);
  CopyText(held.realPath, sizeof held.realPath, realPath);
  held.handle = handle;
  InterlockedExchange(&held.ready, 1);
}

// The path without trailing backslashes: asked with one, the platform may look through a
// link at its target (Wine does) and report a plain folder.
void WithoutTrailingBackslash(char* name, const char* path) {
  if (!CopyText(name, kPathCapacity, path)) {
    name[0] = '\0';
    return;
  }
  size_t length = strlen(name);
  while (length > 1 && name[length - 1] == '\\' && name[length - 2] != ':') name[--length] = '\0';
}

// Read access without delete sharing: while the handle is open the folder can be neither
// deleted nor renamed, so nothing else can take its place. (A handle with attribute access
// only would not count in the platform's sharing checks.)
HANDLE OpenFolderToHold(const char* name, DWORD linkFlag) {
  return CreateFileA(name, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                     FILE_FLAG_BACKUP_SEMANTICS | linkFlag, nullptr);
}

// Attributes and reparse tag of an open file. Systems before version 6 tell no tag: a
// reparse point there counts as a link.
void AttributesOf(HANDLE file, DWORD* attributes, DWORD* reparseTag) {
  typedef BOOL(WINAPI * GetInformationByHandleExFunction)(HANDLE, FILE_INFO_BY_HANDLE_CLASS, LPVOID, DWORD);
  auto getInformationEx = LookUpFunction<GetInformationByHandleExFunction>(
      GetModuleHandleA("kernel32.dll"), "GetFileInformationByHandleEx");
  FILE_ATTRIBUTE_TAG_INFO tag;
  BY_HANDLE_FILE_INFORMATION information;
  *attributes = 0;
  *reparseTag = 0;
  if (getInformationEx != nullptr && getInformationEx(file, FileAttributeTagInfo, &tag, sizeof tag)) {
    *attributes = tag.FileAttributes;
    *reparseTag = tag.ReparseTag;
  } else if (GetFileInformationByHandle(file, &information)) {
    *attributes = information.dwFileAttributes;
    *reparseTag = IO_REPARSE_TAG_MOUNT_POINT;
  }
}

// Where an open folder really lies, as a plain path (no "\\?\" prefix): 1 when path holds
// it, 0 when the platform cannot tell (systems before version 6), -1 when it does not fit.
int RealPathOf(HANDLE folder, char* path) {
  typedef DWORD(WINAPI * GetFinalPathFunction)(HANDLE, LPSTR, DWORD, DWORD);
  auto getFinalPath = LookUpFunction<GetFinalPathFunction>(
      GetModuleHandleA("kernel32.dll"), "GetFinalPathNameByHandleA");
  if (getFinalPath == nullptr) return 0;
  char final[kPathCapacity + 8] = {};
  DWORD length = getFinalPath(folder, final, sizeof final, 0 /* FILE_NAME_NORMALIZED, VOLUME_NAME_DOS */);
  if (length == 0) return 0;
  if (length >= sizeof final) return -1;
  int fits;
  if (strncmp(final, "\\\\?\\UNC\\", 8) == 0) {
    fits = FormatText(path, kPathCapacity, "\\\\%s", final + 8);
  } else if (strncmp(final, "\\\\?\\", 4) == 0) {
    fits = CopyText(path, kPathCapacity, final + 4);
  } else {
    fits = CopyText(path, kPathCapacity, final);
  }
  return fits ? 1 : -1;
}

// 1 when realPath differs from name only as the platform's file system redirection makes it
// differ: a 32-bit program on 64-bit Windows that names the system folder reaches SysWOW64.
// That is no link, and the package path adjustment expects the name as given.
int IsRedirectedSystemPath(const char* realPath, const char* name) {
  typedef UINT(WINAPI * GetSystemWow64DirectoryFunction)(LPSTR, UINT);
  auto getSystemWow64Directory = LookUpFunction<GetSystemWow64DirectoryFunction>(
      GetModuleHandleA("kernel32.dll"), "GetSystemWow64DirectoryA");
  char system[kPathCapacity] = {};
  char wow64[kPathCapacity] = {};
  UINT systemLength = GetSystemDirectoryA(system, sizeof system);
  UINT wow64Length = getSystemWow64Directory != nullptr ? getSystemWow64Directory(wow64, sizeof wow64) : 0;
  if (systemLength == 0 || systemLength >= sizeof system || wow64Length == 0 || wow64Length >= sizeof wow64) {
    return 0;
  }
  char start[kPathCapacity] = {};
  if (strlen(name) < systemLength || (name[systemLength] != '\\' && name[systemLength] != '\0')) return 0;
  memcpy(start, name, systemLength);
  if (lstrcmpiA(start, system) != 0) return 0;
  char redirected[kPathCapacity] = {};
  return FormatText(redirected, sizeof redirected, "%s%s", wow64, name + systemLength) &&
         lstrcmpiA(redirected, realPath) == 0;
}

int Refuse(DWORD reason) {
  SetLastError(reason);
  return 0;
}

// --- Locked and compared files ----------------------------------------------------------

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
  DWORD attributes = 0;
  DWORD reparseTag = 0;
  AttributesOf(file, &attributes, &reparseTag);
  if (IsLinkReparseTag(attributes, reparseTag)) FailWithError(ERROR_ACCESS_DENIED, kContextReopenFile);
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

}  // namespace

int IsLinkReparseTag(DWORD attributes, DWORD reparseTag) {
  return (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0 && IsReparseTagNameSurrogate(reparseTag);
}

int HoldUserDataFolder(char* folder) {
  char name[kPathCapacity];
  WithoutTrailingBackslash(name, folder);
  const HeldFolder* held = FindHeldFolder(name);
  if (held != nullptr) return CopyText(folder, kPathCapacity, held->realPath);
  // Opened through any link on the way: a user may have moved the folder. What matters is
  // where it lies now, and that the paths built on it pass through no link.
  HANDLE handle = OpenFolderToHold(name, 0);
  if (handle == INVALID_HANDLE_VALUE) return 1;
  char realPath[kPathCapacity];
  int located = RealPathOf(handle, realPath);
  if (located < 0) {
    CloseHandle(handle);
    return Refuse(ERROR_FILENAME_EXCED_RANGE);
  }
  // Spelt as the platform gave it unless the folder lies elsewhere.
  if (located == 0 || lstrcmpiA(realPath, name) == 0 || IsRedirectedSystemPath(realPath, name)) {
    CopyText(realPath, sizeof realPath, folder);
  }
  RememberHeldFolder(name, realPath, handle);
  return CopyText(folder, kPathCapacity, realPath);
}

int HoldStagingFolder(const char* path) {
  char name[kPathCapacity];
  WithoutTrailingBackslash(name, path);
  if (FindHeldFolder(name) != nullptr) return 1;
  HANDLE handle = OpenFolderToHold(name, FILE_FLAG_OPEN_REPARSE_POINT);
  if (handle == INVALID_HANDLE_VALUE) {
    DWORD error = GetLastError();
    // Not there: the writes into it would find no folder.
    return Refuse(error == ERROR_FILE_NOT_FOUND ? ERROR_PATH_NOT_FOUND : error);
  }
  // Checked through the handle that holds it, so what was checked is what stays.
  DWORD attributes = 0;
  DWORD reparseTag = 0;
  AttributesOf(handle, &attributes, &reparseTag);
  // Wine opens through a folder link whatever the flags say, and only the name shows it: a
  // name that is a reparse point while the folder held is none was a link.
  DWORD nameAttributes = GetFileAttributesA(name);
  int reachedThroughLink = nameAttributes != INVALID_FILE_ATTRIBUTES &&
                           (nameAttributes & FILE_ATTRIBUTE_REPARSE_POINT) &&
                           !(attributes & FILE_ATTRIBUTE_REPARSE_POINT);
  DWORD refusal = ERROR_SUCCESS;
  if (IsLinkReparseTag(attributes, reparseTag) || reachedThroughLink) {
    refusal = ERROR_ACCESS_DENIED;
  } else if (!(attributes & FILE_ATTRIBUTE_DIRECTORY)) {
    refusal = ERROR_PATH_NOT_FOUND;
  }
  if (refusal != ERROR_SUCCESS) {
    CloseHandle(handle);
    return Refuse(refusal);
  }
  RememberHeldFolder(name, name, handle);
  return 1;
}

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
  if (!HoldStagingFolder(folder)) FailWithError(GetLastError(), kContextCreateFile);

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
  LONG folders = heldFolderCount < kHeldFolderSlots ? heldFolderCount : kHeldFolderSlots;
  for (LONG i = 0; i < folders; ++i) {
    if (heldFolders[i].ready) CloseHandle(heldFolders[i].handle);
    heldFolders[i].ready = 0;
  }
  heldFolderCount = 0;
}
