#pragma once
// The runtime splits the narrow command line, which the system made from the wide one with
// best-fit look-alikes: "Łukasz" arrives as "Lukasz", "李雷" as "??". A folder switch or an
// argument handed on so would name another folder, so such a command line is refused.
#include <windows.h>

// 1 when every argument after the program path (argument 0 is never used) is exactly what
// the user gave, else 0 (the caller refuses the command line like one that does not fit).
int AreArgumentsExact(int argc, const char* const* argv);

// The same test on given texts: the narrow and wide command lines and the narrow argument
// vector split from the former. Exact when the whole narrow line reads back as the wide one,
// or when the platform's wide split has as many arguments and each one from 1 on reads back
// as its narrow counterpart (a program path outside the code page alone is no reason to
// refuse). The runtime's and the platform's splitting rules differ for some quotes, so
// neither test alone would do.
int AreArgumentsExactOf(const char* narrowLine, const WCHAR* wideLine, int argc,
                        const char* const* argv);
