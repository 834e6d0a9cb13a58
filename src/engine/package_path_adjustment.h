#pragma once
// When the engine runs from SysWOW64, the package path is named through SysWOW64 as well.

// Overwrites the first occurrence of search in text with replacement when both have the
// same length (case-sensitive); otherwise leaves text as it is. Returns text.
char* ReplaceSameLength(char* text, const char* search, const char* replacement);

// When enginePath contains "SysWOW64", the first "system32" of packagePath becomes "SysWOW64".
void AdjustPackagePathForEngine(char* packagePath, const char* enginePath);
