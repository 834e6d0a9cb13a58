#pragma once
// Copies one resource of the wrapper's own image into a file. Writing payload is all or
// nothing for the process: any file-system failure shows the system's text in an "Error"
// box and ends the process with the system error code, from whichever thread met it
// (error_box.h).
#include <windows.h>

// Returns 1 when the resource was written completely into a new file, closed, and handed to
// locked_payload_files.h (which locks, checks, compares and holds it), and 0 when the module has no
// such resource (no file is created or touched). Whatever stood at the name is removed
// first, never written through. Does not return when the file cannot be created, written,
// closed or verified.
int ExtractResourceToFile(HMODULE module, int id, const char* type, const char* path);

// The same, but the read-back comparison of a large file (1 MB or more) runs on a thread of
// its own while the caller goes on writing (the file is locked before this returns). Used by
// the cabinet thread, whose files the engine reads only after the ready event; it waits with
// AwaitFileComparisons (locked_payload_files.h).
int ExtractResourceToFileComparingLater(HMODULE module, int id, const char* type, const char* path);

// For a file whose path was refused before any file was made (too long for its buffer, or a
// staging folder that is a link or cannot be held): when the resource exists, fails as a
// refused creation with that error code; returns 0 when it does not.
int RefuseResourceFile(HMODULE module, int id, const char* type, DWORD error);
