#pragma once
// The one way a payload failure reaches a person: the system's text for the error in a box
// captioned "Error", then the end of the process with the error code, from whichever thread
// met it. Writing payload is all or nothing for the process.
#include <windows.h>

// Shows "<context> failed with error <code>: <system text>" captioned "Error" and ends the
// process with the thread's last error code. context ends in a blank.
[[noreturn]] void FailWithSystemError(const char* context);

// The same with a given error code.
[[noreturn]] void FailWithError(DWORD error, const char* context);

// Context texts of the error box, one per failing operation.
extern const char kContextCreateFile[];
extern const char kContextWriteFile[];
extern const char kContextCloseHandle[];
extern const char kContextReopenFile[];
extern const char kContextMapFile[];
extern const char kContextReadFile[];
extern const char kContextVerifyFile[];

// The error box text: context + " failed with error " + code + ": " + systemText. The
// capacity holds both texts plus 40 (the format's fixed characters, the number and the
// terminator). Returns 1, or 0 when the capacity is too small.
int FormatErrorBoxText(char* text, size_t capacity, const char* context, int code,
                       const char* systemText);
