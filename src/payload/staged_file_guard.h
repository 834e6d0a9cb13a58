#pragma once
// What the wrapper promises about the files it stages: the engine, which reads them with the
// wrapper's rights, reads exactly the payload at the paths it is given. The staging folders
// lie where other processes of the user may write, so
// - every folder of the chain below the user data folder is held from the moment it is
//   checked until the process ends (read access without delete sharing: nobody can delete,
//   rename or replace it), and is refused when it is a link;
// - the user data folder is held as well, and the chain is built where it really lies, so no
//   path handed to the engine passes through a link that could be re-pointed later;
// - a name that stands where a payload file goes is removed before a new file is made, and
//   the new file is made only where nothing stands, so no write ever lands in a file that
//   another process put there (a hard link to a file elsewhere keeps that file's bytes);
// - each written file is opened again at once so that others may read it but neither write,
//   rename nor delete it, compared with the payload, and held until the process ends.
// Every refusal ends the process with the writer's box, as a failed write does.
#include <windows.h>

// 1 when a file's attributes and reparse tag make it a link: a reparse point whose tag is a
// name surrogate (junction, symbolic link). Other reparse points (compression, deduplication,
// cloud placeholders) are files or folders in their own right.
int IsLinkReparseTag(DWORD attributes, DWORD reparseTag);

// Holds the user data folder in folder (a path of 260 characters at most, terminator
// included) and, when the path reaches it through a link, replaces the text with the path
// where the folder really is. A folder that cannot be opened is left as it is and not held
// (the chain's own holds and the writes then decide). Returns 1, or 0 with folder unchanged
// and ERROR_FILENAME_EXCED_RANGE as the last error when the real path does not fit.
int HoldUserDataFolder(char* folder);

// Holds one folder of the chain below the user data folder, which the caller has just asked
// to be created (a trailing backslash makes no difference). Returns 1 when it is held (now or
// by an earlier call for the same folder), or
// 0 with the reason as the last error: ERROR_ACCESS_DENIED when it is a link,
// ERROR_PATH_NOT_FOUND when there is no folder of that name, or the error of the open (for
// instance ERROR_SHARING_VIOLATION while another process holds it open for deletion).
int HoldStagingFolder(const char* path);

// Makes room for a new payload file at path: holds the file's folder (unless the staging
// chain holds it already) and removes whatever stands at the name, the name only, never the
// file it leads to. Does not return when the folder cannot be held (a link: 5; missing: 3)
// or the name cannot be removed (a read-only file or a folder: 5; a file in use: 32): the
// writer's box with the create context.
void MakeRoomForPayloadFile(const char* path);

// The copy of a file is about to start (comparingLater: the file's comparison may run on the
// comparer thread while others are copied) and has ended.
void BeginCopying(bool comparingLater, DWORD size);
void EndCopying(bool comparingLater);

// Locks the closed file at path, compares it with bytes (now, or on the comparer thread when
// comparingLater and the file is large) and holds it until the process ends. Does not return
// when the file cannot be locked or differs from bytes.
void GuardWrittenFile(const char* path, const BYTE* bytes, DWORD size, bool comparingLater);

// Returns once every comparison left to the comparer thread has matched.
void AwaitFileComparisons();

// Closes every held file and folder. Only for tests that stage the same files more than once
// in one process; the wrapper holds them until it ends.
void ReleaseStagedHoldsForTesting();
