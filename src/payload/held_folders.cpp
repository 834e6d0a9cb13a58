#include "held_folders.h"

#include <string.h>

#include "../support/exact_narrow_path.h"
#include "../support/library_loading.h"
#include "../support/text_buffer.h"
#include "staging_folder.h"

namespace {

// The platform's real path of a folder, as wide text: long names, so it can be longer than
// the narrow path that reached the folder by short names.
constexpr DWORD kRealPathCapacity = 1024;

// Folders held until the process ends, by the path text they were asked for, with the path
// where each really lies. Both threads add to it and read it without a lock: a slot is
// claimed atomically and marked ready only once it is filled. A folder past the last slot
// stays held all the same; it is only opened again when asked for again.
struct HeldFolder {
  char path[kPathCapacity];
  char realPath[kPathCapacity];
  WCHAR finalPath[kRealPathCapacity];  // "" where the platform cannot tell
  HANDLE handle;
  volatile LONG ready;
};
constexpr LONG kHeldFolderSlots = 16;
HeldFolder heldFolders[kHeldFolderSlots];
volatile LONG heldFolderCount = 0;
// The run's user data folder, once resolved: set on the main thread before the cabinet
// thread starts, read by both.
char runUserDataFolder[kPathCapacity];
volatile LONG runUserDataResolved = 0;

int ResolveRunUserDataFolder(char* folder, const char* realPath) {
  if (!CopyText(runUserDataFolder, sizeof runUserDataFolder, realPath)) return 0;
  InterlockedExchange(&runUserDataResolved, 1);
  return CopyText(folder, kPathCapacity, realPath);
}

// Folders are named without trailing backslashes here (see WithoutTrailingBackslash).
const HeldFolder* FindHeldFolder(const char* name) {
  LONG count = heldFolderCount < kHeldFolderSlots ? heldFolderCount : kHeldFolderSlots;
  for (LONG i = 0; i < count; ++i) {
    if (heldFolders[i].ready && strcmp(heldFolders[i].path, name) == 0) return &heldFolders[i];
  }
  return nullptr;
}

void RememberHeldFolder(const char* name, const char* realPath, const WCHAR* finalPath, HANDLE handle) {
  LONG slot = InterlockedIncrement(&heldFolderCount) - 1;
  if (slot >= kHeldFolderSlots) return;
  HeldFolder& held = heldFolders[slot];
  CopyText(held.path, sizeof held.path, name);
  CopyText(held.realPath, sizeof held.realPath, realPath);
  lstrcpynW(held.finalPath, finalPath, kRealPathCapacity);
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
// only would not count in the platform's sharing checks.) Folders of the chain also deny
// write sharing: an empty folder opened for writing can be made a mount point. Making a file
// inside a folder needs no handle to the folder, so the wrapper's own writes are unaffected.
HANDLE OpenFolderToHold(const char* name, DWORD linkFlag, DWORD share) {
  return CreateFileA(name, GENERIC_READ, share, nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS | linkFlag,
                     nullptr);
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

// Where an open file really lies, as the platform tells it, without the "\\?\" prefix (a
// share keeps "\\" in front): 1 when finalPath holds it, 0 when the platform cannot tell
// (systems before version 6), -1 when it does not fit.
int FinalPathOf(HANDLE file, WCHAR* finalPath) {
  typedef DWORD(WINAPI * GetFinalPathFunction)(HANDLE, LPWSTR, DWORD, DWORD);
  auto getFinalPath = LookUpFunction<GetFinalPathFunction>(GetModuleHandleA("kernel32.dll"),
                                                          "GetFinalPathNameByHandleW");
  finalPath[0] = L'\0';
  if (getFinalPath == nullptr) return 0;
  WCHAR final[kRealPathCapacity + 8] = {};
  DWORD length = getFinalPath(file, final, kRealPathCapacity + 8, 0 /* FILE_NAME_NORMALIZED, VOLUME_NAME_DOS */);
  if (length == 0) return 0;
  if (length >= kRealPathCapacity + 8) return -1;
  const WCHAR* start = final;
  if (wcsncmp(final, L"\\\\?\\UNC\\", 8) == 0) {
    start = final + 6;  // keeps "\\" before the server name
    final[6] = L'\\';
  } else if (wcsncmp(final, L"\\\\?\\", 4) == 0) {
    start = final + 4;
  }
  if (lstrlenW(start) >= static_cast<int>(kRealPathCapacity)) return -1;
  lstrcpynW(finalPath, start, kRealPathCapacity);
  return 1;
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

int RefuseAndClose(HANDLE handle, DWORD reason) {
  CloseHandle(handle);
  return Refuse(reason);
}

DWORD OpenError() {
  DWORD error = GetLastError();
  return error == ERROR_FILE_NOT_FOUND ? ERROR_PATH_NOT_FOUND : error;
}

}  // namespace

int IsLinkReparseTag(DWORD attributes, DWORD reparseTag) {
  return (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0 && IsReparseTagNameSurrogate(reparseTag);
}

int IsOpenLink(HANDLE file) {
  DWORD attributes = 0;
  DWORD reparseTag = 0;
  AttributesOf(file, &attributes, &reparseTag);
  return IsLinkReparseTag(attributes, reparseTag);
}

int HoldUserDataFolder(char* folder) {
  char name[kPathCapacity];
  WithoutTrailingBackslash(name, folder);
  const HeldFolder* held = FindHeldFolder(name);
  if (held != nullptr) return ResolveRunUserDataFolder(folder, held->realPath);
  // No folder at all: the chain lies at the root of the current drive, which no process of
  // the user can turn into anything else.
  if (name[0] == '\0') return ResolveRunUserDataFolder(folder, "");
  // Opened through any link on the way: a user may have moved the folder. What matters is
  // where it lies now, and that the paths built on it pass through no link. A folder that
  // cannot be opened cannot be held, and a path through it could be re-pointed at any time.
  HANDLE handle = OpenFolderToHold(name, 0, FILE_SHARE_READ | FILE_SHARE_WRITE);
  if (handle == INVALID_HANDLE_VALUE) return Refuse(OpenError());
  DWORD attributes = 0;
  DWORD reparseTag = 0;
  AttributesOf(handle, &attributes, &reparseTag);
  if (!(attributes & FILE_ATTRIBUTE_DIRECTORY)) return RefuseAndClose(handle, ERROR_PATH_NOT_FOUND);
  WCHAR finalPath[kRealPathCapacity];
  char realPath[kPathCapacity];
  int located = FinalPathOf(handle, finalPath);
  if (located < 0) return RefuseAndClose(handle, ERROR_FILENAME_EXCED_RANGE);
  if (located > 0 && !ConvertWidePathExactly(finalPath, realPath, sizeof realPath)) {
    return RefuseAndClose(handle, GetLastError());
  }
  // Spelt as the platform gave it unless the folder lies elsewhere.
  if (located == 0 || lstrcmpiA(realPath, name) == 0 || IsRedirectedSystemPath(realPath, name)) {
    CopyText(realPath, sizeof realPath, name);
  }
  RememberHeldFolder(name, realPath, finalPath, handle);
  return ResolveRunUserDataFolder(folder, realPath);
}

int GetRunUserDataFolder(char* buffer) {
  if (!runUserDataResolved) return 0;
  return CopyText(buffer, kPathCapacity, runUserDataFolder);
}

int HoldStagingFolder(const char* path) {
  char name[kPathCapacity];
  WithoutTrailingBackslash(name, path);
  if (FindHeldFolder(name) != nullptr) return 1;
  HANDLE handle = OpenFolderToHold(name, FILE_FLAG_OPEN_REPARSE_POINT, FILE_SHARE_READ);
  if (handle == INVALID_HANDLE_VALUE) return Refuse(OpenError());
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
  if (IsLinkReparseTag(attributes, reparseTag) || reachedThroughLink) {
    return RefuseAndClose(handle, ERROR_ACCESS_DENIED);
  }
  if (!(attributes & FILE_ATTRIBUTE_DIRECTORY)) return RefuseAndClose(handle, ERROR_PATH_NOT_FOUND);
  WCHAR finalPath[kRealPathCapacity];
  if (FinalPathOf(handle, finalPath) < 0) finalPath[0] = L'\0';
  RememberHeldFolder(name, name, finalPath, handle);
  return 1;
}

int LiesInHeldFolder(HANDLE file, const char* path) {
  char folder[kPathCapacity];
  WithoutTrailingBackslash(folder, path);
  char* last = strrchr(folder, '\\');
  if (last == nullptr) return 1;
  const char* fileName = last + 1;
  *last = '\0';
  const HeldFolder* held = FindHeldFolder(folder);
  if (held == nullptr || held->finalPath[0] == L'\0') return 1;
  WCHAR expected[kRealPathCapacity + kPathCapacity];
  WCHAR wideName[kPathCapacity];
  if (MultiByteToWideChar(CP_ACP, 0, fileName, -1, wideName, kPathCapacity) == 0) return Refuse(ERROR_ACCESS_DENIED);
  lstrcpyW(expected, held->finalPath);
  lstrcatW(expected, L"\\");
  lstrcatW(expected, wideName);
  WCHAR actual[kRealPathCapacity];
  if (FinalPathOf(file, actual) <= 0) return Refuse(ERROR_ACCESS_DENIED);
  return lstrcmpiW(actual, expected) == 0 ? 1 : Refuse(ERROR_ACCESS_DENIED);
}

void ReleaseHeldFoldersForTesting() {
  LONG folders = heldFolderCount < kHeldFolderSlots ? heldFolderCount : kHeldFolderSlots;
  for (LONG i = 0; i < folders; ++i) {
    if (heldFolders[i].ready) CloseHandle(heldFolders[i].handle);
    heldFolders[i].ready = 0;
  }
  heldFolderCount = 0;
  runUserDataResolved = 0;
}
