// Layout of a diagnostic log record and where the log file goes. The stamp must read like
// the platform runtime's local time text, with a two-digit day, byte for byte.
#include "support/log_record.h"

#include <gtest/gtest.h>
#include <string.h>
#include <time.h>

#include <string>

#include "guarded_buffer.h"

namespace {

struct tm MakeTime(int year, int month, int day, int hour, int minute, int second, int weekday) {
  struct tm t;
  memset(&t, 0, sizeof t);
  t.tm_year = year - 1900;
  t.tm_mon = month - 1;
  t.tm_mday = day;
  t.tm_hour = hour;
  t.tm_min = minute;
  t.tm_sec = second;
  t.tm_wday = weekday;
  return t;
}

std::string Stamp(const struct tm& t, size_t capacity = kLogStampCapacity) {
  GuardedBuffer stamp(capacity);
  int result = FormatLogStamp(&t, stamp.data(), capacity);
  EXPECT_TRUE(stamp.GuardIntact());
  EXPECT_TRUE(stamp.Terminated());
  if (!result) {
    EXPECT_EQ(std::string(), stamp.Text()) << "a refused stamp must be empty";
    return "<refused>";
  }
  return stamp.Text();
}

TEST(FormatLogStampTest, ExactBytes) {
  struct Case {
    struct tm time;
    const char* expected;
  };
  const Case cases[] = {
      {MakeTime(2026, 12, 8, 4, 38, 16, 2), "\nTue Dec 08 04:38:16 2026\n:: "},
      {MakeTime(2000, 1, 1, 9, 7, 5, 6), "\nSat Jan 01 09:07:05 2000\n:: "},
      {MakeTime(2024, 2, 29, 0, 0, 0, 4), "\nThu Feb 29 00:00:00 2024\n:: "},
      {MakeTime(9999, 12, 31, 23, 59, 59, 5), "\nFri Dec 31 23:59:59 9999\n:: "},
      {MakeTime(2016, 12, 31, 23, 59, 60, 6), "\nSat Dec 31 23:59:60 2016\n:: "},
      {MakeTime(1900, 1, 10, 10, 10, 10, 3), "\nWed Jan 10 10:10:10 1900\n:: "},
  };
  for (const Case& c : cases) EXPECT_EQ(c.expected, Stamp(c.time));
}

TEST(FormatLogStampTest, AgreesWithTheCLibraryOverTwoCenturies) {
  // strftime in the "C" locale writes the same fields, the day with a leading zero.
  const time_t step = 313717;  // about 3.6 days and an odd number of seconds
  int compared = 0;
  for (time_t t = 0; t < static_cast<time_t>(20000) * step; t += step) {
    const struct tm* broken = gmtime(&t);
    ASSERT_NE(nullptr, broken);
    struct tm copy = *broken;
    char expected[64];
    ASSERT_NE(size_t{0}, strftime(expected, sizeof expected, "%a %b %d %H:%M:%S %Y", &copy));
    ASSERT_EQ(std::string("\n") + expected + "\n:: ", Stamp(copy)) << "time " << static_cast<long long>(t);
    ++compared;
  }
  EXPECT_EQ(20000, compared);
}

TEST(FormatLogStampTest, FieldsOutOfRangeGiveAnEmptyStamp) {
  struct Case {
    const char* what;
    struct tm time;
  };
  const Case cases[] = {
      {"weekday 7", MakeTime(2026, 12, 8, 4, 38, 16, 7)},
      {"weekday -1", MakeTime(2026, 12, 8, 4, 38, 16, -1)},
      {"month 13", MakeTime(2026, 13, 8, 4, 38, 16, 2)},
      {"month 0", MakeTime(2026, 0, 8, 4, 38, 16, 2)},
      {"day 0", MakeTime(2026, 12, 0, 4, 38, 16, 2)},
      {"day 32", MakeTime(2026, 12, 32, 4, 38, 16, 2)},
      {"hour 24", MakeTime(2026, 12, 8, 24, 38, 16, 2)},
      {"hour -1", MakeTime(2026, 12, 8, -1, 38, 16, 2)},
      {"minute 60", MakeTime(2026, 12, 8, 4, 60, 16, 2)},
      {"second 61", MakeTime(2026, 12, 8, 4, 38, 61, 2)},
      {"second -1", MakeTime(2026, 12, 8, 4, 38, -1, 2)},
      {"year 10000", MakeTime(10000, 12, 8, 4, 38, 16, 2)},
      {"year -1", MakeTime(-1, 12, 8, 4, 38, 16, 2)},
  };
  for (const Case& c : cases) EXPECT_EQ("<refused>", Stamp(c.time)) << c.what;

  GuardedBuffer stamp(kLogStampCapacity);
  stamp.Set("old");
  EXPECT_EQ(0, FormatLogStamp(nullptr, stamp.data(), stamp.capacity()));
  EXPECT_EQ(std::string(), stamp.Text());
}

TEST(FormatLogStampTest, CapacityOfTheStamp) {
  // "\n" + 24 characters + "\n:: " is 29 characters.
  const struct tm t = MakeTime(2026, 12, 8, 4, 38, 16, 2);
  EXPECT_EQ("\nTue Dec 08 04:38:16 2026\n:: ", Stamp(t, 30));
  EXPECT_EQ("<refused>", Stamp(t, 29));
}

struct PathCase {
  const char* tmpDir;
  const char* tempPath;
  std::string expected;  // "" when refused
};

TEST(FormatLogPathTest, TmpDirThenTemporaryFolder) {
  const PathCase cases[] = {
      {"C:\\Logs", "C:\\Temp\\", "C:\\Logs\\trevask.log"},
      {"C:\\Logs\\", "C:\\Temp\\", "C:\\Logs\\\\trevask.log"},
      {"logs", "C:\\Temp\\", "logs\\trevask.log"},
      {"C:\\My Logs", nullptr, "C:\\My Logs\\trevask.log"},
      {"", "C:\\Users\\Ann\\AppData\\Local\\Temp\\", "C:\\Users\\Ann\\AppData\\Local\\Temp\\trevask.log"},
      {nullptr, "C:\\Temp\\", "C:\\Temp\\trevask.log"},
      {"", "", ""},
      {nullptr, nullptr, ""},
      {"", nullptr, ""},
  };
  for (const PathCase& c : cases) {
    GuardedBuffer path(kLogPathCapacity);
    path.Set("old");
    int result = FormatLogPath(c.tmpDir, c.tempPath, path.data(), path.capacity());
    EXPECT_EQ(c.expected.empty() ? 0 : 1, result)
        << (c.tmpDir ? c.tmpDir : "<none>") << " / " << (c.tempPath ? c.tempPath : "<none>");
    EXPECT_EQ(c.expected, path.Text());
    EXPECT_TRUE(path.GuardIntact());
  }
}

TEST(FormatLogPathTest, PathOfTwoHundredFiftyNineCharactersFitsOneMoreIsRefused) {
  const size_t nameLength = strlen("trevask.log");
  ASSERT_EQ(size_t{260}, kLogPathCapacity);

  // TMPDIR + "\" + name.
  const std::string tmpDir(259 - 1 - nameLength, 'd');
  GuardedBuffer fits(260);
  EXPECT_EQ(1, FormatLogPath(tmpDir.c_str(), "C:\\Temp\\", fits.data(), fits.capacity()));
  EXPECT_EQ(tmpDir + "\\trevask.log", fits.Text());
  EXPECT_EQ(size_t{259}, fits.Text().size());

  GuardedBuffer refused(260);
  refused.Set("old");
  EXPECT_EQ(0, FormatLogPath((tmpDir + "d").c_str(), "C:\\Temp\\", refused.data(), refused.capacity()));
  EXPECT_EQ(std::string(), refused.Text());
  EXPECT_TRUE(refused.GuardIntact());

  // Temporary folder (ends in its own backslash) + name.
  const std::string tempPath = std::string(259 - nameLength - 1, 't') + "\\";
  GuardedBuffer tempFits(260);
  EXPECT_EQ(1, FormatLogPath("", tempPath.c_str(), tempFits.data(), tempFits.capacity()));
  EXPECT_EQ(tempPath + "trevask.log", tempFits.Text());

  GuardedBuffer tempRefused(260);
  tempRefused.Set("old");
  EXPECT_EQ(0, FormatLogPath(nullptr, ("t" + tempPath).c_str(), tempRefused.data(), tempRefused.capacity()));
  EXPECT_EQ(std::string(), tempRefused.Text());
  EXPECT_TRUE(tempRefused.GuardIntact());
}

}  // namespace
