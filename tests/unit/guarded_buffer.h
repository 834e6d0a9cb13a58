#pragma once
// A caller buffer of a given capacity with guard bytes behind it. The address sanitizer
// sees reads and writes past a heap block, but not past a buffer inside a larger record or
// on the Windows side at all; the guard catches a write of even one byte too many there.
#include <stddef.h>
#include <string.h>

#include <string>
#include <vector>

class GuardedBuffer {
 public:
  // Filled with 'fill' (default: a byte no test text contains), terminated at the end so a
  // unit that ignores the capacity still stops somewhere.
  explicit GuardedBuffer(size_t capacity, char fill = '#')
      : capacity_(capacity), bytes_(capacity, fill) {
    if (capacity > 0) bytes_[capacity - 1] = '\0';
    bytes_.insert(bytes_.end(), kGuard, kGuardByte);
  }

  char* data() { return bytes_.data(); }
  size_t capacity() const { return capacity_; }

  // Puts a terminated text at the start (it must fit).
  void Set(const std::string& text) { memcpy(bytes_.data(), text.c_str(), text.size() + 1); }

  // The text up to the terminator, or the whole capacity when there is none.
  std::string Text() const { return std::string(bytes_.data(), strnlen(bytes_.data(), capacity_)); }
  bool Terminated() const { return strnlen(bytes_.data(), capacity_) < capacity_; }

  // The first `capacity` bytes, terminator and leftovers included.
  std::string Bytes() const { return std::string(bytes_.data(), capacity_); }

  bool GuardIntact() const {
    for (size_t i = capacity_; i < bytes_.size(); ++i) {
      if (bytes_[i] != kGuardByte) return false;
    }
    return true;
  }

 private:
  static constexpr size_t kGuard = 16;
  static constexpr char kGuardByte = '\x7f';
  size_t capacity_;
  std::vector<char> bytes_;
};
