#pragma once
// The folders the payload is staged in lie where other processes of the user may write,
// while the engine reads the staged files with the wrapper's (administrator) rights. So
// - the user data folder is held and resolved once per run: the chain is built where it
//   really lies, and no path handed to the engine passes through a link that could be
//   re-pointed later;
// - every folder of the chain below it is held from the moment it is checked until the
//   process ends (read access, without delete or write sharing: nobody can delete, rename
//   or replace it, nor open it to make it a link), and is refused when it is not a plain
//   folder;
// - each file made in a held folder is checked, through its own handle, to lie in that
//   folder as the platform resolves it.
// Nothing here shows a box: every refusal is a result with the reason as the last error.
#include <windows.h>

// 1 when a file's attributes and reparse tag make it a link: a reparse point whose tag is a
// name surrogate (junction, symbolic link, mount point). Other reparse points (compression,
// deduplication, cloud placeholders) are files or folders in their own right.
int IsLinkReparseTag(DWORD attributes, DWORD reparseTag);

// 1 when the open file or folder is a link in the sense above (read through the handle).
int IsOpenLink(HANDLE file);

// Holds the user data folder named in folder (260 characters at most, terminator included)
// as the run's, and replaces the text with the path where it really lies (exactly in the
// ANSI code page, or in its short form). The empty text (no folder was found) stands for
// the root of the current drive and is taken as it is. Returns 1, or 0 with folder unchanged and the
// reason as the last error: the open's (ERROR_PATH_NOT_FOUND when there is no folder,
// ERROR_SHARING_VIOLATION, ERROR_ACCESS_DENIED, ...), ERROR_PATH_NOT_FOUND for a file,
// ERROR_FILENAME_EXCED_RANGE when the real path does not fit, ERROR_NO_UNICODE_TRANSLATION
// when it has no exact narrow form.
int HoldUserDataFolder(char* folder);

// 1 and the run's held user data folder (its real path) in buffer, once HoldUserDataFolder
// has held one; 0 and buffer untouched before.
int GetRunUserDataFolder(char* buffer);

// Holds one folder of the chain below the user data folder (a trailing backslash makes no
// difference). Returns 1 when it is held (now or by an earlier call for the same folder),
// or 0 with the reason as the last error: ERROR_ACCESS_DENIED when it is a link,
// ERROR_PATH_NOT_FOUND when there is no folder of that name (or a file stands there), or
// the error of the open (ERROR_SHARING_VIOLATION while another process has it open for
// deletion or writing, ...).
int HoldStagingFolder(const char* path);

// 1 when the open file lies, as the platform resolves it, in the held folder of path and
// under path's file name; 0 with ERROR_ACCESS_DENIED when it lies anywhere else (its folder
// was turned into a link between the check and the file's creation). Where the platform
// cannot tell (before version 6), 1.
int LiesInHeldFolder(HANDLE file, const char* path);

// Closes every held folder and forgets the run's user data folder. Only for tests that
// stage more than once in one process.
void ReleaseHeldFoldersForTesting();
