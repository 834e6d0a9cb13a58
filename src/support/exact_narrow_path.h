#pragma once
// The wrapper keeps its texts narrow, in the system's ANSI code page. A path that the system
// hands over as wide text must reach that code page exactly: a best-fit look-alike ("Lukasz"
// for "Łukasz") or a "?" names another folder, possibly another user's, and the elevated
// wrapper would write there or hand it to the engine.
#include <windows.h>

// Converts wide into buffer when every character has an exact counterpart in the ANSI code
// page. Returns 1, or 0 with buffer "" and the reason as the last error:
// ERROR_NO_UNICODE_TRANSLATION when a character would become something else (whatever the
// length), ERROR_FILENAME_EXCED_RANGE when the exact text does not fit capacity (terminator
// included).
int ConvertWideExactly(const WCHAR* wide, char* buffer, size_t capacity);

// As ConvertWideExactly, but a path that does not convert exactly and names something that
// exists is given in its short (8.3) form when that form converts exactly. Returns 1, or 0
// with buffer "" and the last error as above (ERROR_NO_UNICODE_TRANSLATION also when the
// path has no short form that converts).
int ConvertWidePathExactly(const WCHAR* widePath, char* buffer, size_t capacity);

// 1 when narrow, read back from the ANSI code page, is exactly wide: the test for text the
// system converted on its own (the command line of an "A" program).
int IsExactNarrowOf(const char* narrow, const WCHAR* wide);
