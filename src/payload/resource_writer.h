#pragma once
// Copies one resource of the wrapper's own image into a file. Writing payload is all or
// nothing for the process: any file-system failure shows the system's text in an "Error"
// box and ends the process with the system error code, from whichever thread met it.
#include <windows.h>

// Returns 1 when the resource was written completely and closed, 0 when the module has no
// such resource (no file is created or touched). An empty path stands for a path that did
// not fit its buffer: it fails like a creation refused with ERROR_FILENAME_EXCED_RANGE.
// Does not return when the file cannot be created, written or closed.
int ExtractResourceToFile(HMODULE module, int id, const char* type, const char* path);

// Shows "<context> failed with error <code>: <system text>" captioned "Error" and ends the
// process with the thread's last error code. context ends in a blank.
[[noreturn]] void FailWithSystemError(const char* context);

// Context texts of the error box, one per failing operation.
extern const char kContextCreateFile[];
extern const char kContextWriteFile[];
extern const char kContextCloseHandle[];

// The error box text: context + " failed with error " + code + ": " + systemText. The
// capacity holds both texts plus 40 (the format's fixed characters, the number and the
// terminator). Returns 1, or 0 when the capacity is too small.
int FormatErrorBoxText(char* text, size_t capacity, const char* context, int code,
                       const char* systemText);
