#include "log_file.h"

#include <stdio.h>

namespace {
const size_t kTimeTextLength = 25;  // "Tue Dec 08 04:38:16 2026\n"
}

bool ParseLogRecords(const std::string& bytes, std::vector<LogRecord>* records) {
  records->clear();
  size_t at = 0;
  while (at < bytes.size()) {
    if (bytes[at] != '\n') return false;
    ++at;
    if (bytes.size() - at < kTimeTextLength + 3) return false;
    LogRecord record;
    record.timeText = bytes.substr(at, kTimeTextLength);
    if (record.timeText.back() != '\n') return false;
    at += kTimeTextLength;
    if (bytes.compare(at, 3, ":: ") != 0) return false;
    at += 3;
    size_t end = bytes.find('\n', at);
    if (end == std::string::npos) end = bytes.size();
    record.message = bytes.substr(at, end - at);
    at = end;
    records->push_back(record);
  }
  return true;
}

std::string TimeTextOf(const SYSTEMTIME& time) {
  static const char* const kDays[] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
  static const char* const kMonths[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                        "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
  char text[64];
  snprintf(text, sizeof text, "%s %s %02u %02u:%02u:%02u %04u\n", kDays[time.wDayOfWeek % 7],
           kMonths[(time.wMonth + 11) % 12], time.wDay, time.wHour, time.wMinute, time.wSecond,
           time.wYear);
  return text;
}

bool IsTimeTextBetween(const std::string& timeText, const SYSTEMTIME& before,
                       const SYSTEMTIME& after) {
  return timeText == TimeTextOf(before) || timeText == TimeTextOf(after);
}
