#pragma once
// Copies one resource of the wrapper's own image into a file. Writing payload is all or
// nothing for the process: any file-system failure shows the system's text in an "Error"
// box and ends the process with the system error code, from whichever thread met it.
#include <windows.h>

// Returns 1 when the resource was written completely, closed, read back equal through a
// handle that is then held until the process ends (others may read the file but neither
// write, rename nor delete it, so the installer engine reads exactly these bytes), and 0 when
// the module has no such resource (no file is created or touched). A path that is a link
// (junction or symbolic link) is refused with access denied. Does not return when the file
// cannot be created, written, closed or verified.
int ExtractResourceToFile(HMODULE module, int id, const char* type, const char* path);

// The same, but the read-back comparison of a large file (1 MB or more) runs on a thread of
// its own while the caller goes on writing (the file is locked before this returns). Used by the cabinet thread, whose
// files the engine reads only after the ready event.
int ExtractResourceToFileComparingLater(HMODULE module, int id, const char* type, const char* path);

// Returns once every comparison started by ExtractResourceToFileComparingLater has matched;
// a mismatch ends the process like any failed write.
void AwaitFileComparisons();

// For a file whose path was refused before any file was made (too long for its buffer, or a
// link in the staging folder chain): when the resource exists, fails as a refused creation
// with that error code; returns 0 when it does not.
int RefuseResourceFile(HMODULE module, int id, const char* type, DWORD error);

// Closes the handles held on written files. Only for tests that write the same file more
// than once in one process; the wrapper holds its files until it ends.
void ReleaseHeldFilesForTesting();

// Shows "<context> failed with error <code>: <system text>" captioned "Error" and ends the
// process with the thread's last error code. context ends in a blank.
[[noreturn]] void FailWithSystemError(const char* context);

// Context texts of the error box, one per failing operation.
extern const char kContextCreateFile[];
extern const char kContextWriteFile[];
extern const char kContextCloseHandle[];
extern const char kContextReopenFile[];
extern const char kContextMapFile[];
extern const char kContextReadFile[];
extern const char kContextVerifyFile[];

// 1 when path names a link: a junction, a symbolic link or another reparse point.
int IsLink(const char* path);

// The error box text: context + " failed with error " + code + ": " + systemText. The
// capacity holds both texts plus 40 (the format's fixed characters, the number and the
// terminator). Returns 1, or 0 when the capacity is too small.
int FormatErrorBoxText(char* text, size_t capacity, const char* context, int code,
                       const char* systemText);
