#include "log_record.h"

#include "text_buffer.h"

const char kLogFileName[] = "trevask.log";

namespace {
const char* const kWeekdays[] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
const char* const kMonths[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                               "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};

// Two digits with a leading zero.
void PutTwoDigits(char* out, int value) {
  out[0] = static_cast<char>('0' + value / 10);
  out[1] = static_cast<char>('0' + value % 10);
  out[2] = '\0';
}
}  // namespace

int FormatLogStamp(const struct tm* localTime, char* stamp, size_t capacity) {
  if (capacity > 0) stamp[0] = '\0';
  if (localTime == nullptr) return 0;
  const struct tm& t = *localTime;
  int year = t.tm_year + 1900;
  if (t.tm_wday < 0 || t.tm_wday > 6 || t.tm_mon < 0 || t.tm_mon > 11 || t.tm_mday < 1 ||
      t.tm_mday > 31 || t.tm_hour < 0 || t.tm_hour > 23 || t.tm_min < 0 || t.tm_min > 59 ||
      t.tm_sec < 0 || t.tm_sec > 60 || year < 0 || year > 9999) {
    return 0;
  }
  char day[3], hour[3], minute[3], second[3];
  PutTwoDigits(day, t.tm_mday);
  PutTwoDigits(hour, t.tm_hour);
  PutTwoDigits(minute, t.tm_min);
  PutTwoDigits(second, t.tm_sec);
  char yearText[5];
  yearText[0] = static_cast<char>('0' + year / 1000);
  yearText[1] = static_cast<char>('0' + year / 100 % 10);
  yearText[2] = static_cast<char>('0' + year / 10 % 10);
  yearText[3] = static_cast<char>('0' + year % 10);
  yearText[4] = '\0';
  return FormatText(stamp, capacity, "\n%s %s %s %s:%s:%s %s\n:: ", kWeekdays[t.tm_wday],
                    kMonths[t.tm_mon], day, hour, minute, second, yearText);
}

int FormatLogPath(const char* tmpDir, const char* tempPath, char* path, size_t capacity) {
  if (capacity > 0) path[0] = '\0';
  if (tmpDir != nullptr && tmpDir[0] != '\0') {
    return FormatText(path, capacity, "%s\\%s", tmpDir, kLogFileName);
  }
  if (tempPath == nullptr || tempPath[0] == '\0') return 0;
  return FormatText(path, capacity, "%s%s", tempPath, kLogFileName);
}
