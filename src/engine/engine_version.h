#pragma once
// The oldest installer engine the wrapper accepts: msi.dll file version 2.0.2600.0.

constexpr unsigned long kMinimumEngineVersionMS = 0x00020000;  // 2.0
constexpr unsigned long kMinimumEngineVersionLS = 0x0A280000;  // 2600.0

// 1 when the file version (most- and least-significant words, compared as one 64-bit number)
// is at least the minimum, else 0.
int IsEngineVersionSufficient(unsigned long versionMS, unsigned long versionLS);
