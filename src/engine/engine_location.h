#pragma once
// Finds msiexec.exe: the folder the registry records in InstallerLocation, or the system
// directory on version 5.2.
#include <stddef.h>

// Fills buffer (capacity in bytes, terminator included) with the engine path. Returns 1, or
// 0 with buffer "" when the folder is not recorded or the path does not fit the buffer.
int LocateInstallerEngine(char* buffer, size_t capacity);

// 1 when the system reports version 5.2; asked anew on each call.
int IsSystemVersion52();
