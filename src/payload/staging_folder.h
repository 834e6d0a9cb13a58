#pragma once
// Where the payload is staged: the per-user data folder (LocalLow on Windows version 6,
// roaming application data before it) and below it the chain
//   <user data>\Orvik\Zelvan\<ProductKind><ProductVersion>[_x64]\<files>
// that holds the product package and its cabinets side by side.
#include <windows.h>

// Capacity of every path here, terminator included.
constexpr size_t kPathCapacity = 260;

// 1 when the platform reports an NT system of major version 6; asked once per process.
int IsNtVersion6();

// Fills buffer (holding "") with the user data folder. Returns 1, or 0 (buffer "") with the
// reason as the last error: ERROR_FILENAME_EXCED_RANGE when the folder found does not fit
// 259 characters, ERROR_NO_UNICODE_TRANSLATION when its name has no exact form in the ANSI
// code page (neither long nor short). When no lookup succeeds the buffer stays "".
int GetUserDataFolder(char* buffer);

// The version-6 lookup: LocalAppDataLow, else LocalAppData + "Low", converted exactly (or
// by the folder's short name). Returns as above.
int GetLocalLowFolder(char* buffer);

// USERPROFILE, else the Windows directory. Returns as above.
int GetProfileFolder(char* buffer);

// Creates the chain and leaves the product package path in buffer. The user data folder is
// looked up, held and resolved to where it really lies once per run, by the first
// preparation; every path of the run is built on it. Every level below it is held until the
// process ends (held_folders.h). Returns 1, or 0 with buffer "" and the reason as the
// thread's last error: ERROR_FILENAME_EXCED_RANGE when a path does not fit,
// ERROR_NO_UNICODE_TRANSLATION when the user data folder has no exact narrow name,
// ERROR_ACCESS_DENIED when a level below the user data folder is a link, ERROR_PATH_NOT_FOUND
// when a level is missing or a file, or why a folder could not be opened and held
// (ERROR_SHARING_VIOLATION, ERROR_ACCESS_DENIED, ...).
int PreparePackagePath(char* buffer, int amd64);

// Creates levels 2 to 4 and leaves <staging folder>\<cabinetName>.cab in buffer. Returns as
// PreparePackagePath.
int PrepareCabinetPath(char* buffer, const char* cabinetName, int amd64);

// Creates <user data>\Orvik\Zelvan\AU\ (the levels above it come from PreparePackagePath),
// holds it with the levels above, and leaves it in buffer, ending in a backslash. Returns as
// PreparePackagePath.
int PrepareUpdateServiceFolder(char* buffer);

// Tests substitute the loader of shell32.dll / shfolder.dll to reach fallbacks the real
// platform never takes. Passing null restores the system-directory loader.
typedef HMODULE (*FolderLibraryLoader)(const char* name);
void SetFolderLibraryLoaderForTesting(FolderLibraryLoader loader);
