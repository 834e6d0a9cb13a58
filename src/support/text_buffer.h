#pragma once
// Bounded text operations over caller-owned fixed buffers. Each one reports whether the
// whole text fit; when it did not, the buffer is left as it was, so a caller can never go
// on with a path or command line that was silently cut into a different one.
#include <stddef.h>

// Largest buffer the formatter handles, terminator included (the platform formatter's limit).
constexpr size_t kFormatLimit = 1024;

// Copies text; returns 1, or 0 with the buffer unchanged when it would not fit.
int CopyText(char* buffer, size_t capacity, const char* text);

// Appends text; returns 1, or 0 with the buffer unchanged when it would not fit.
int AppendText(char* buffer, size_t capacity, const char* text);

// Formats with the placeholders %s (text), %d (signed decimal), %u (unsigned decimal) and
// %%. Arguments may alias the buffer. Returns 1, or 0 with the buffer unchanged when the
// result would not fit (or the capacity exceeds kFormatLimit).
int FormatText(char* buffer, size_t capacity, const char* format, ...);

// Length of a terminated text (a plain strlen, kept here so callers need no other header).
size_t TextLength(const char* text);

// 1 when needle occurs in text, comparing bytes exactly.
int ContainsText(const char* text, const char* needle);

// 1 when text begins with prefix, comparing bytes exactly.
int StartsWithText(const char* text, const char* prefix);
