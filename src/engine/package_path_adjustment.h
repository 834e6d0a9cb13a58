#pragma once
// When the engine runs from SysWOW64, a package staged below the system folder is named
// through SysWOW64 as well: a 32-bit wrapper on 64-bit Windows sees the system folder
// redirected there (a service account's profile lies below it), the engine does not.

// Overwrites the first occurrence of search in text with replacement when both have the
// same length (case-sensitive); otherwise leaves text as it is. Returns text.
char* ReplaceSameLength(char* text, const char* search, const char* replacement);

// When enginePath contains "SysWOW64" and packagePath begins with systemFolder (the system
// folder as the wrapper sees it, compared without regard to case) followed by a backslash,
// the first "system32" within that beginning becomes "SysWOW64"; the rest of the path is
// never changed. A folder of the user that merely holds "system32" in its name is no
// redirection, and turning it into "SysWOW64" would hand the engine another folder.
void AdjustPackagePathForEngine(char* packagePath, const char* enginePath, const char* systemFolder);
