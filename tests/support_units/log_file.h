#pragma once
// Reading the diagnostic log back: its records and the time text they must carry.
#include <windows.h>

#include <string>
#include <vector>

// One record: "\n" + time text + ":: " + message.
struct LogRecord {
  std::string timeText;  // "Www Mmm dd hh:mm:ss yyyy\n"
  std::string message;
};

// Splits log bytes into records; false when the bytes are not exactly a run of records
// (a missing line feed, a time text of the wrong length, no ":: ").
bool ParseLogRecords(const std::string& bytes, std::vector<LogRecord>* records);

// The time text for a local time, computed independently of the code under test.
std::string TimeTextOf(const SYSTEMTIME& time);

// True when timeText is the local time text of either moment (the clock may tick between).
bool IsTimeTextBetween(const std::string& timeText, const SYSTEMTIME& before,
                       const SYSTEMTIME& after);
