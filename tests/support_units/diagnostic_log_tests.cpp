// The diagnostic log written for real: where the record lands and its exact bytes.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "log_file.h"
#include "support/diagnostic_log.h"
#include "support/log_record.h"
#include "test_support.h"

namespace {

// Writes one record and reports the local time just before and after.
void WriteTimed(const char* message, SYSTEMTIME* before, SYSTEMTIME* after) {
  GetLocalTime(before);
  WriteDiagnosticLog(message);
  GetLocalTime(after);
}

std::string TempFolderLog() {
  char temp[MAX_PATH + 1] = {};
  DWORD length = GetTempPathA(sizeof temp, temp);
  EXPECT_GT(length, 0u);
  return std::string(temp) + "trevask.log";
}

// Puts the platform's temporary-folder log back as it was: the tests append to a file other
// programs of the prefix share.
class TempLogRestorer {
 public:
  TempLogRestorer() : path_(TempFolderLog()), size_(FileSize(path_)) {}
  ~TempLogRestorer() {
    if (size_ < 0) {
      DeleteFileA(path_.c_str());
      return;
    }
    HANDLE file = CreateFileA(path_.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                              nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return;
    LARGE_INTEGER at;
    at.QuadPart = size_;
    SetFilePointerEx(file, at, nullptr, FILE_BEGIN);
    SetEndOfFile(file);
    CloseHandle(file);
  }
  const std::string& path() const { return path_; }
  long long size() const { return size_; }
  // The bytes appended since construction.
  std::string Appended() const {
    std::string bytes = ReadFileText(path_);
    size_t from = size_ < 0 ? 0 : static_cast<size_t>(size_);
    return bytes.size() >= from ? bytes.substr(from) : std::string();
  }

 private:
  std::string path_;
  long long size_;
};

TEST(DiagnosticLog, OneRecordIsLineFeedTimeTextSeparatorAndMessage) {
  std::string folder = MakeScratchFolder("dlog-one");
  EnvironmentOverride tmpdir("TMPDIR", folder.c_str());
  SYSTEMTIME before, after;
  WriteTimed("LoadLibrary(C:\\x.dll) failed.  ErrorCode: 126", &before, &after);

  std::string bytes = ReadFileText(folder + "\\trevask.log");
  std::vector<LogRecord> records;
  ASSERT_TRUE(ParseLogRecords(bytes, &records)) << bytes;
  ASSERT_EQ(records.size(), 1u);
  EXPECT_TRUE(IsTimeTextBetween(records[0].timeText, before, after))
      << records[0].timeText << " vs " << TimeTextOf(before);
  EXPECT_EQ(bytes, "\n" + records[0].timeText + ":: LoadLibrary(C:\\x.dll) failed.  ErrorCode: 126");
}

TEST(DiagnosticLog, SecondRecordFollowsWithoutLineFeedAtTheEnd) {
  std::string folder = MakeScratchFolder("dlog-two");
  EnvironmentOverride tmpdir("TMPDIR", folder.c_str());
  SYSTEMTIME before1, after1, before2, after2;
  WriteTimed("first", &before1, &after1);
  WriteTimed("second", &before2, &after2);

  std::string bytes = ReadFileText(folder + "\\trevask.log");
  std::vector<LogRecord> records;
  ASSERT_TRUE(ParseLogRecords(bytes, &records)) << bytes;
  ASSERT_EQ(records.size(), 2u);
  EXPECT_TRUE(IsTimeTextBetween(records[0].timeText, before1, after1));
  EXPECT_TRUE(IsTimeTextBetween(records[1].timeText, before2, after2));
  EXPECT_EQ(bytes, "\n" + records[0].timeText + ":: first\n" + records[1].timeText + ":: second");
}

TEST(DiagnosticLog, ExistingContentIsKeptAndTheRecordAppended) {
  std::string folder = MakeScratchFolder("dlog-append");
  std::string log = folder + "\\trevask.log";
  ASSERT_TRUE(WriteFileText(log, "earlier run's content"));
  EnvironmentOverride tmpdir("TMPDIR", folder.c_str());
  WriteDiagnosticLog("appended");

  std::string bytes = ReadFileText(log);
  const std::string earlier = "earlier run's content";
  ASSERT_EQ(bytes.compare(0, earlier.size(), earlier), 0) << bytes;
  std::vector<LogRecord> records;
  ASSERT_TRUE(ParseLogRecords(bytes.substr(earlier.size()), &records)) << bytes;
  ASSERT_EQ(records.size(), 1u);
  EXPECT_EQ(records[0].message, "appended");
}

TEST(DiagnosticLog, MessageIsWrittenWholeWhateverItsLength) {
  std::string folder = MakeScratchFolder("dlog-long");
  EnvironmentOverride tmpdir("TMPDIR", folder.c_str());
  std::string message(3000, 'm');
  WriteDiagnosticLog(message.c_str());
  WriteDiagnosticLog("");

  std::vector<LogRecord> records;
  ASSERT_TRUE(ParseLogRecords(ReadFileText(folder + "\\trevask.log"), &records));
  ASSERT_EQ(records.size(), 2u);
  EXPECT_EQ(records[0].message, message);
  EXPECT_EQ(records[1].message, "");
}

TEST(DiagnosticLog, FolderWithTrailingBackslashStillReceivesTheRecord) {
  std::string folder = MakeScratchFolder("dlog-backslash");
  EnvironmentOverride tmpdir("TMPDIR", (folder + "\\").c_str());
  WriteDiagnosticLog("doubled separator");

  std::vector<LogRecord> records;
  ASSERT_TRUE(ParseLogRecords(ReadFileText(folder + "\\trevask.log"), &records));
  ASSERT_EQ(records.size(), 1u);
  EXPECT_EQ(records[0].message, "doubled separator");
}

TEST(DiagnosticLog, UnsetOrEmptyTmpdirUsesThePlatformTemporaryFolder) {
  for (const char* value : {static_cast<const char*>(nullptr), ""}) {
    SCOPED_TRACE(value == nullptr ? "unset" : "empty");
    TempLogRestorer restorer;
    EnvironmentOverride tmpdir("TMPDIR", value);
    char probe[8];
    ASSERT_EQ(GetEnvironmentVariableA("TMPDIR", probe, sizeof probe), 0u);
    SYSTEMTIME before, after;
    WriteTimed("to the temporary folder", &before, &after);

    std::vector<LogRecord> records;
    ASSERT_TRUE(ParseLogRecords(restorer.Appended(), &records)) << restorer.path();
    ASSERT_EQ(records.size(), 1u);
    EXPECT_EQ(records[0].message, "to the temporary folder");
    EXPECT_TRUE(IsTimeTextBetween(records[0].timeText, before, after));
  }
}

TEST(DiagnosticLog, MissingFolderWritesNothingAnywhere) {
  std::string parent = MakeScratchFolder("dlog-missing");
  std::string missing = parent + "\\not-there";
  TempLogRestorer restorer;
  EnvironmentOverride tmpdir("TMPDIR", missing.c_str());
  WriteDiagnosticLog("lost");
  EXPECT_FALSE(PathExists(missing));
  EXPECT_EQ(FileSize(restorer.path()), restorer.size());
}

// The folder, "\\" and "trevask.log" share a 260-byte buffer: a 247-character folder is the
// longest that fits (247 + 1 + 11 + terminator).
TEST(DiagnosticLog, LongestFolderThatFitsIsUsedAndALongerOneIsDropped) {
  std::string base = MakeScratchFolder("dlog-len");
  ASSERT_LT(base.size() + 2, 247u);
  std::string fits = base + "\\" + std::string(247 - base.size() - 1, 'f');
  std::string tooLong = base + "\\" + std::string(248 - base.size() - 1, 'g');
  ASSERT_EQ(fits.size(), 247u);
  ASSERT_EQ(tooLong.size(), 248u);
  ASSERT_TRUE(CreateDirectoryA(fits.c_str(), nullptr)) << GetLastError();
  ASSERT_TRUE(CreateDirectoryA(tooLong.c_str(), nullptr)) << GetLastError();

  TempLogRestorer restorer;
  {
    EnvironmentOverride tmpdir("TMPDIR", fits.c_str());
    WriteDiagnosticLog("fits");
  }
  std::vector<LogRecord> records;
  ASSERT_TRUE(ParseLogRecords(ReadFileText(fits + "\\trevask.log"), &records));
  ASSERT_EQ(records.size(), 1u);
  EXPECT_EQ(records[0].message, "fits");

  {
    EnvironmentOverride tmpdir("TMPDIR", tooLong.c_str());
    WriteDiagnosticLog("too long");
  }
  // Not written under a cut name either.
  WIN32_FIND_DATAA found;
  HANDLE search = FindFirstFileA((tooLong + "\\*").c_str(), &found);
  ASSERT_NE(search, INVALID_HANDLE_VALUE);
  int entries = 0;
  do {
    std::string name = found.cFileName;
    if (name != "." && name != "..") ++entries;
  } while (FindNextFileA(search, &found));
  FindClose(search);
  EXPECT_EQ(entries, 0);
  EXPECT_EQ(FileSize(restorer.path()), restorer.size());
}

TEST(DiagnosticLog, TmpdirBeyondItsBufferIsDroppedSafely) {
  TempLogRestorer restorer;
  for (size_t length : {259u, 260u, 261u, 1000u, 5000u}) {
    std::string value = "C:\\" + std::string(length - 3, 'L');
    EnvironmentOverride tmpdir("TMPDIR", value.c_str());
    WriteDiagnosticLog("dropped");
  }
  EXPECT_EQ(FileSize(restorer.path()), restorer.size());
}

// Sets a variable to wide text for the life of the object (EnvironmentOverride is narrow).
class WideEnvironmentOverride {
 public:
  WideEnvironmentOverride(const wchar_t* name, const std::wstring& value) : name_(name) {
    wchar_t old[1024] = {};
    DWORD length = GetEnvironmentVariableW(name, old, 1024);
    hadValue_ = length > 0 && length < 1024;
    old_ = old;
    SetEnvironmentVariableW(name, value.c_str());
  }
  ~WideEnvironmentOverride() { SetEnvironmentVariableW(name_.c_str(), hadValue_ ? old_.c_str() : nullptr); }
  WideEnvironmentOverride(const WideEnvironmentOverride&) = delete;
  WideEnvironmentOverride& operator=(const WideEnvironmentOverride&) = delete;

 private:
  std::wstring name_;
  bool hadValue_;
  std::wstring old_;
};

std::vector<LogRecord> RecordsIn(const std::wstring& folder) {
  std::string bytes;
  HANDLE file = CreateFileW((folder + L"\\trevask.log").c_str(), GENERIC_READ,
                            FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0, nullptr);
  if (file != INVALID_HANDLE_VALUE) {
    char chunk[4096];
    DWORD read = 0;
    while (ReadFile(file, chunk, sizeof chunk, &read, nullptr) && read > 0) bytes.append(chunk, read);
    CloseHandle(file);
  }
  std::vector<LogRecord> records;
  EXPECT_TRUE(ParseLogRecords(bytes, &records)) << bytes;
  return records;
}

// Log folders outside the code page (1252), through TMPDIR and through the platform's
// temporary folder (TMP): reached by their short form; a missing one drops the record,
// and the best-fit look-alike "Lukasz" of "Łukasz" never receives it.
TEST(DiagnosticLog, FolderOutsideTheCodePageIsReachedByItsShortFormNeverByItsLookAlike) {
  const std::wstring base = WideOf(MakeScratchFolder("dlog-outside"));
  const std::wstring liLei = base + L"\\\u674e\u96f7";
  const std::wstring lukasz = base + L"\\\u0141ukasz";
  const std::wstring lookAlike = base + L"\\Lukasz";
  ASSERT_TRUE(CreateDirectoryW(liLei.c_str(), nullptr));
  ASSERT_TRUE(CreateDirectoryW(lookAlike.c_str(), nullptr));
  TempLogRestorer restorer;
  for (const wchar_t* variable : {L"TMPDIR", L"TMP"}) {
    SCOPED_TRACE(Utf8Of(variable));
    EnvironmentOverride noTmpdir("TMPDIR", nullptr);
    {
      WideEnvironmentOverride folder(variable, liLei);
      WriteDiagnosticLog("outside the code page");
    }
    std::vector<LogRecord> records = RecordsIn(liLei);
    ASSERT_EQ(records.size(), 1u);
    EXPECT_EQ(records[0].message, "outside the code page");
    DeleteFileW((liLei + L"\\trevask.log").c_str());

    // "Łukasz" does not exist: no short form, no record, and none in "Lukasz".
    {
      WideEnvironmentOverride folder(variable, lukasz);
      WriteDiagnosticLog("dropped");
    }
    EXPECT_TRUE(RecordsIn(lookAlike).empty());
  }
  EXPECT_EQ(FileSize(restorer.path()), restorer.size()) << "a record went to the temporary folder";
}

// The log is opened for writing and shared for writing only: another writer may hold it, a
// reader that does not share writing keeps the record out.
TEST(DiagnosticLog, SharesTheFileWithWritersButNotWithReaders) {
  std::string folder = MakeScratchFolder("dlog-share");
  std::string log = folder + "\\trevask.log";
  EnvironmentOverride tmpdir("TMPDIR", folder.c_str());

  HANDLE writer = CreateFileA(log.c_str(), GENERIC_WRITE, FILE_SHARE_WRITE, nullptr, OPEN_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
  ASSERT_NE(writer, INVALID_HANDLE_VALUE);
  WriteDiagnosticLog("beside another writer");
  CloseHandle(writer);
  std::vector<LogRecord> records;
  ASSERT_TRUE(ParseLogRecords(ReadFileText(log), &records));
  ASSERT_EQ(records.size(), 1u);

  HANDLE reader = CreateFileA(log.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                              nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  ASSERT_NE(reader, INVALID_HANDLE_VALUE);
  WriteDiagnosticLog("kept out by a reader");
  CloseHandle(reader);
  ASSERT_TRUE(ParseLogRecords(ReadFileText(log), &records));
  EXPECT_EQ(records.size(), 1u);
}

struct StampCase {
  int year, month, day, weekday, hour, minute, second;
  const char* expected;
};

TEST(DiagnosticLog, StampPadsEveryFieldToTwoDigits) {
  const StampCase cases[] = {
      {2026, 11, 8, 2, 4, 38, 16, "\nTue Dec 08 04:38:16 2026\n:: "},
      {2024, 0, 1, 1, 0, 0, 0, "\nMon Jan 01 00:00:00 2024\n:: "},
      {2031, 6, 31, 4, 23, 59, 59, "\nThu Jul 31 23:59:59 2031\n:: "},
      {1999, 1, 28, 0, 9, 5, 7, "\nSun Feb 28 09:05:07 1999\n:: "},
  };
  for (const StampCase& c : cases) {
    struct tm t = {};
    t.tm_year = c.year - 1900;
    t.tm_mon = c.month;
    t.tm_mday = c.day;
    t.tm_wday = c.weekday;
    t.tm_hour = c.hour;
    t.tm_min = c.minute;
    t.tm_sec = c.second;
    char stamp[kLogStampCapacity];
    EXPECT_EQ(FormatLogStamp(&t, stamp, sizeof stamp), 1);
    EXPECT_STREQ(stamp, c.expected);
  }
  char stamp[kLogStampCapacity] = "stale";
  EXPECT_EQ(FormatLogStamp(nullptr, stamp, sizeof stamp), 0);
  EXPECT_STREQ(stamp, "");  // no time: the record goes out without a stamp
}

}  // namespace
