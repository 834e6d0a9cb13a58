#include "text_buffer.h"

#include <stdarg.h>
#include <string.h>

int CopyText(char* buffer, size_t capacity, const char* text) {
  size_t length = strlen(text);
  if (capacity == 0 || length >= capacity) return 0;
  memmove(buffer, text, length + 1);
  return 1;
}

int AppendText(char* buffer, size_t capacity, const char* text) {
  size_t used = strnlen(buffer, capacity);
  size_t length = strlen(text);
  if (used >= capacity || length >= capacity - used) return 0;
  memmove(buffer + used, text, length + 1);
  return 1;
}

namespace {

// Writes one piece into the scratch text; returns 0 once the scratch is full.
int Put(char* scratch, size_t limit, size_t* used, const char* piece, size_t length) {
  if (length >= limit - *used) return 0;
  memcpy(scratch + *used, piece, length);
  *used += length;
  return 1;
}

int PutUnsigned(char* scratch, size_t limit, size_t* used, unsigned long long value, int negative) {
  char digits[24];
  size_t count = 0;
  do {
    digits[sizeof digits - 1 - count] = static_cast<char>('0' + value % 10);
    value /= 10;
    ++count;
  } while (value != 0);
  if (negative) {
    digits[sizeof digits - 1 - count] = '-';
    ++count;
  }
  return Put(scratch, limit, used, digits + sizeof digits - count, count);
}

}  // namespace

int FormatText(char* buffer, size_t capacity, const char* format, ...) {
  if (capacity == 0 || capacity > kFormatLimit) return 0;
  // Formatted into scratch first: arguments may be the buffer itself ("%s\\Orvik\\").
  char scratch[kFormatLimit];
  size_t used = 0;
  int fits = 1;
  va_list arguments;
  va_start(arguments, format);
  for (const char* p = format; *p != '\0' && fits; ++p) {
    if (*p != '%') {
      fits = Put(scratch, capacity, &used, p, 1);
      continue;
    }
    ++p;
    if (*p == 's') {
      const char* text = va_arg(arguments, const char*);
      fits = Put(scratch, capacity, &used, text, strlen(text));
    } else if (*p == 'd') {
      long long value = va_arg(arguments, int);
      fits = value < 0 ? PutUnsigned(scratch, capacity, &used, static_cast<unsigned long long>(-value), 1)
                       : PutUnsigned(scratch, capacity, &used, static_cast<unsigned long long>(value), 0);
    } else if (*p == 'u') {
      fits = PutUnsigned(scratch, capacity, &used, va_arg(arguments, unsigned int), 0);
    } else if (*p == '%') {
      fits = Put(scratch, capacity, &used, "%", 1);
    } else {
      fits = 0;  // an unknown placeholder is a programming error; refuse rather than guess
    }
    if (*p == '\0') break;
  }
  va_end(arguments);
  if (!fits) return 0;
  memcpy(buffer, scratch, used);
  buffer[used] = '\0';
  return 1;
}

size_t TextLength(const char* text) { return strlen(text); }

int ContainsText(const char* text, const char* needle) { return strstr(text, needle) != nullptr; }

int StartsWithText(const char* text, const char* prefix) {
  return strncmp(text, prefix, strlen(prefix)) == 0;
}
