#pragma once
// The test a registry string value must pass before its text is used: a string type and a
// terminator inside the data that was read. Free of platform calls so it can be checked on
// its own.

// Result codes, the platform's own numbers.
constexpr long kRegistryOk = 0;             // ERROR_SUCCESS
constexpr long kRegistryInvalidData = 13;   // ERROR_INVALID_DATA
constexpr long kRegistryMoreData = 234;     // ERROR_MORE_DATA

// Registry value types that matter here.
constexpr unsigned long kRegistryTypeNone = 0;
constexpr unsigned long kRegistryTypeString = 1;
constexpr unsigned long kRegistryTypeExpandString = 2;
constexpr unsigned long kRegistryTypeMultiString = 7;

// 1 when data of this type and byte count holds a properly terminated string value:
// REG_SZ and REG_EXPAND_SZ end in one zero byte, REG_MULTI_SZ in two; every other type fails.
// count is the byte count the read reported; it never exceeds the buffer that data points to.
int IsTerminatedStringData(unsigned long type, const unsigned char* data, unsigned long count);

// The same test for data read as wide text: a whole number of two-byte characters, ending in
// one zero character (two for REG_MULTI_SZ).
int IsTerminatedWideStringData(unsigned long type, const unsigned char* data, unsigned long count);
