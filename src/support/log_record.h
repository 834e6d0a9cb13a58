#pragma once
// How a diagnostic log record is laid out: "\n" + local time text + ":: " + message, where
// the time text reads like "Tue Dec 08 04:38:16 2026\n" (day with a leading zero). Free of
// platform calls so the exact bytes can be checked anywhere.
#include <stddef.h>
#include <time.h>

// Capacity of the time-stamp part, terminator included.
constexpr size_t kLogStampCapacity = 256;
// Capacity of the log file path, terminator included.
constexpr size_t kLogPathCapacity = 260;
// The log file's name inside the log folder.
extern const char kLogFileName[];

// Writes "\n<time text>:: " for the broken-down local time; returns 1, or 0 with an empty
// stamp when a field is out of range.
int FormatLogStamp(const struct tm* localTime, char* stamp, size_t capacity);

// Forms the log file path: tmpDir + "\\" + "trevask.log" when tmpDir is non-empty (used
// unchanged, so a trailing backslash doubles), else tempPath + "trevask.log". Returns 1, or
// 0 (path empty) when it would not fit or no folder is known.
int FormatLogPath(const char* tmpDir, const char* tempPath, char* path, size_t capacity);
