// The resource writer, on resources of this test program itself: the file must be the
// resource byte for byte, written straight from the image in chunks of at most 8192 bytes;
// a missing resource touches nothing. Failures end the process, so they are seen through a
// probe child (resource_probe.exe): its box and its exit code, as a person would see them.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "import_patch.h"
#include "message_box_watcher.h"
#include "payload/resource_writer.h"
#include "payload/error_box.h"
#include "payload/held_folders.h"
#include "payload/locked_payload_files.h"
#include "test_support.h"

namespace {

const char kSampleType[] = "WRITER_SAMPLE";

struct Sample {
  int id;
  const char* file;  // generated file the resource was made from
  DWORD size;
};

// Sizes around the chunk of 8192 bytes, and one of many chunks with a short last one.
const Sample kSamples[] = {
    {1, "empty.bin", 0},          {2, "one_byte.bin", 1},       {3, "below_chunk.bin", 8191},
    {4, "one_chunk.bin", 8192},   {5, "chunk_and_one.bin", 8193}, {6, "two_chunks.bin", 16384},
    {7, "large.bin", 1000003},    {8, "two_views.bin", 17825795},
};

std::string SampleBytes(const char* file) {
  return ReadFileText(BuildPath(std::string("tests/payload/samples/") + file));
}

const BYTE* ResourceStart(int id) {
  HMODULE module = GetModuleHandleA(nullptr);
  HRSRC resource = FindResourceA(module, MAKEINTRESOURCEA(id), kSampleType);
  if (resource == nullptr) return nullptr;
  return static_cast<const BYTE*>(LockResource(LoadResource(module, resource)));
}

int Extract(int id, const std::string& path, const char* type = kSampleType) {
  int result = ExtractResourceToFile(GetModuleHandleA(nullptr), id, type, path.c_str());
  // The writer holds each file it wrote until the process ends; these tests write the same
  // files again and clean them up.
  ReleaseStagedHoldsForTesting();
  return result;
}

FILETIME LastWriteTime(const std::string& path) {
  WIN32_FILE_ATTRIBUTE_DATA data = {};
  GetFileAttributesExA(path.c_str(), GetFileExInfoStandard, &data);
  return data.ftLastWriteTime;
}

bool SetOldTimes(const std::string& path) {
  HANDLE file = CreateFileA(path.c_str(), FILE_WRITE_ATTRIBUTES, FILE_SHARE_READ, nullptr,
                            OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  SYSTEMTIME old = {2001, 2, 0, 3, 4, 5, 6, 0};
  FILETIME time;
  SystemTimeToFileTime(&old, &time);
  bool ok = SetFileTime(file, &time, &time, &time) != 0;
  CloseHandle(file);
  return ok;
}

bool SameTime(const FILETIME& a, const FILETIME& b) {
  return a.dwLowDateTime == b.dwLowDateTime && a.dwHighDateTime == b.dwHighDateTime;
}

class ResourceWriter : public ::testing::Test {
 protected:
  void SetUp() override { scratch_ = MakeScratchFolder("resource-writer"); }
  std::string PathOf(const std::string& name) const { return scratch_ + "\\" + name; }
  std::string scratch_;
};

TEST_F(ResourceWriter, FileIsTheResourceByteForByte) {
  for (const Sample& sample : kSamples) {
    SCOPED_TRACE(sample.file);
    std::string expected = SampleBytes(sample.file);
    ASSERT_EQ(expected.size(), sample.size) << "the generated sample has the wrong size";
    std::string path = PathOf(sample.file);
    ASSERT_FALSE(PathExists(path));
    EXPECT_EQ(Extract(sample.id, path), 1);
    EXPECT_EQ(FileSize(path), static_cast<long long>(sample.size));
    EXPECT_TRUE(ReadFileText(path) == expected) << "content differs from the resource";
  }
}

// The cabinet thread's way: large files are compared on a thread of their own, small ones
// at once; either way the file is the resource once the comparisons are awaited.
TEST_F(ResourceWriter, ComparedLaterTheFileIsTheResourceAllTheSame) {
  for (const Sample& sample : kSamples) {
    SCOPED_TRACE(sample.file);
    std::string path = PathOf(std::string("later-") + sample.file);
    EXPECT_EQ(ExtractResourceToFileComparingLater(GetModuleHandleA(nullptr), sample.id, kSampleType,
                                                  path.c_str()),
              1);
    AwaitFileComparisons();
    ReleaseStagedHoldsForTesting();
    EXPECT_TRUE(ReadFileText(path) == SampleBytes(sample.file)) << "content differs from the resource";
  }
  // Several large files queued before one wait, as the cabinet thread does.
  for (int round = 0; round < 3; ++round) {
    std::string path = PathOf("queued-" + std::to_string(round) + ".bin");
    EXPECT_EQ(ExtractResourceToFileComparingLater(GetModuleHandleA(nullptr), 8, kSampleType, path.c_str()), 1);
  }
  AwaitFileComparisons();
  ReleaseStagedHoldsForTesting();
  for (int round = 0; round < 3; ++round) {
    EXPECT_TRUE(ReadFileText(PathOf("queued-" + std::to_string(round) + ".bin")) ==
                SampleBytes("two_views.bin"));
  }
}

TEST_F(ResourceWriter, ExistingFileIsReplacedAndTruncated) {
  // Old content longer than every short sample, so a missing truncation leaves a tail.
  const std::string old(20000, 'o');
  for (int id : {1, 2, 5}) {
    const Sample& sample = kSamples[id - 1];
    SCOPED_TRACE(sample.file);
    std::string path = PathOf("replaced.bin");
    ASSERT_TRUE(WriteFileText(path, old));
    EXPECT_EQ(Extract(sample.id, path), 1);
    EXPECT_EQ(FileSize(path), static_cast<long long>(sample.size));
    EXPECT_TRUE(ReadFileText(path) == SampleBytes(sample.file));
  }
}

TEST_F(ResourceWriter, MissingResourceTouchesNothing) {
  struct Missing {
    int id;
    const char* type;
  };
  const Missing missing[] = {{99, kSampleType}, {1, "NO_SUCH_TYPE"}, {5, "PROBE_DATA"}};
  for (const Missing& m : missing) {
    SCOPED_TRACE(std::string(m.type) + " " + std::to_string(m.id));
    std::string kept = PathOf("kept.bin");
    ASSERT_TRUE(WriteFileText(kept, "earlier content"));
    ASSERT_TRUE(SetOldTimes(kept));
    FILETIME before = LastWriteTime(kept);
    EXPECT_EQ(Extract(m.id, kept, m.type), 0);
    EXPECT_EQ(ReadFileText(kept), "earlier content");
    EXPECT_TRUE(SameTime(LastWriteTime(kept), before)) << "the file was opened for writing";

    std::string absent = PathOf("absent.bin");
    EXPECT_EQ(Extract(m.id, absent, m.type), 0);
    EXPECT_FALSE(PathExists(absent));
  }
}

// --- The writes themselves, seen at this program's import of WriteFile -----------------

struct WriteCall {
  HANDLE file;
  const void* bytes;
  DWORD size;
  DWORD writtenOnEntry;  // the bytes-written value as the caller handed it in
  bool overlapped;
  bool othersLockedOut;  // a second opener was refused while the file was being written
};

decltype(&WriteFile) realWriteFile = nullptr;
std::vector<WriteCall>* recordedWrites = nullptr;
std::string lockProbePath;
DWORD shortWriteLimit = 0;  // 0: write everything asked; else report at most this many bytes

BOOL WINAPI RecordingWriteFile(HANDLE file, LPCVOID bytes, DWORD size, LPDWORD written,
                               LPOVERLAPPED overlapped) {
  if (recordedWrites == nullptr) return realWriteFile(file, bytes, size, written, overlapped);
  WriteCall call = {file, bytes, size, written != nullptr ? *written : 0xFFFFFFFF,
                    overlapped != nullptr, false};
  HANDLE other = CreateFileA(lockProbePath.c_str(), GENERIC_READ,
                             FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                             OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  call.othersLockedOut = other == INVALID_HANDLE_VALUE && GetLastError() == ERROR_SHARING_VIOLATION;
  if (other != INVALID_HANDLE_VALUE) CloseHandle(other);
  recordedWrites->push_back(call);
  DWORD asked = shortWriteLimit != 0 && size > shortWriteLimit ? shortWriteLimit : size;
  return realWriteFile(file, bytes, asked, written, overlapped);
}

class WriterCalls : public ResourceWriter {
 protected:
  void SetUp() override {
    ResourceWriter::SetUp();
    if (realWriteFile == nullptr) {
      ASSERT_TRUE(HookImport("kernel32.dll", "WriteFile", &RecordingWriteFile, &realWriteFile));
    }
  }
  std::vector<WriteCall> Record(int id, const std::string& path, DWORD limit = 0) {
    std::vector<WriteCall> calls;
    lockProbePath = path;
    shortWriteLimit = limit;
    recordedWrites = &calls;
    EXPECT_EQ(Extract(id, path), 1);
    recordedWrites = nullptr;
    shortWriteLimit = 0;
    return calls;
  }
};

TEST_F(WriterCalls, ChunksOfAtMost8192BytesStraightFromTheImage) {
  for (const Sample& sample : kSamples) {
    SCOPED_TRACE(sample.file);
    std::string path = PathOf(sample.file);
    std::vector<WriteCall> calls = Record(sample.id, path);
    const BYTE* start = ResourceStart(sample.id);
    // 0 bytes: no write at all; 8192: one; 8193: 8192 and 1; and so on.
    DWORD expectedCalls = (sample.size + 8191) / 8192;
    ASSERT_EQ(calls.size(), expectedCalls);
    for (size_t i = 0; i < calls.size(); ++i) {
      SCOPED_TRACE("write " + std::to_string(i));
      DWORD offset = static_cast<DWORD>(i) * 8192;
      DWORD left = sample.size - offset;
      EXPECT_EQ(calls[i].size, left < 8192 ? left : 8192u);
      // Read in place: each chunk points into the loaded resource, not into a copy.
      EXPECT_EQ(calls[i].bytes, start + offset);
      EXPECT_EQ(calls[i].file, calls[0].file);
      EXPECT_EQ(calls[i].writtenOnEntry, 0u);
      EXPECT_FALSE(calls[i].overlapped);
      EXPECT_TRUE(calls[i].othersLockedOut) << "the file is shared while it is written";
    }
    EXPECT_TRUE(ReadFileText(path) == SampleBytes(sample.file));
  }
}

TEST_F(WriterCalls, ShortWritesAdvanceByWhatTheSystemReported) {
  // The system writes at most 5000 bytes a call: the writer must go on from where the
  // system stopped, asking each time for the rest up to 8192 bytes.
  struct Row {
    int id;
    std::vector<std::pair<DWORD, DWORD>> offsetAndSize;
  };
  const Row rows[] = {
      {5, {{0, 8192}, {5000, 3193}}},
      {6, {{0, 8192}, {5000, 8192}, {10000, 6384}, {15000, 1384}}},
      {3, {{0, 8191}, {5000, 3191}}},
  };
  for (const Row& row : rows) {
    const Sample& sample = kSamples[row.id - 1];
    SCOPED_TRACE(sample.file);
    std::string path = PathOf(sample.file);
    std::vector<WriteCall> calls = Record(row.id, path, 5000);
    const BYTE* start = ResourceStart(row.id);
    ASSERT_EQ(calls.size(), row.offsetAndSize.size());
    for (size_t i = 0; i < calls.size(); ++i) {
      EXPECT_EQ(calls[i].bytes, start + row.offsetAndSize[i].first) << "write " << i;
      EXPECT_EQ(calls[i].size, row.offsetAndSize[i].second) << "write " << i;
      EXPECT_EQ(calls[i].writtenOnEntry, 0u) << "write " << i << ": bytes-written not cleared";
    }
    EXPECT_TRUE(ReadFileText(path) == SampleBytes(sample.file));
  }
}

// --- Failures, through the probe child ------------------------------------------------

std::string ProbePath() { return BuildPath("tests/payload/resource_probe.exe"); }

std::string SystemText(DWORD code) {
  char* text = nullptr;
  FormatMessageA(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM, nullptr, code,
                 MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT), reinterpret_cast<LPSTR>(&text), 0,
                 nullptr);
  std::string result = text != nullptr ? text : "";
  if (text != nullptr) LocalFree(text);
  return result;
}

// The buttons of each box, read before the box is closed: a box with OK only has one.
using ProbeRun = ChildRun;

ProbeRun RunProbe(const std::string& arguments) {
  return RunChild("\"" + ProbePath() + "\" " + arguments, 60000);
}

const char kCreateContext[] = "Installer : Wrapper.CreateFile ";
const char kWriteContext[] = "Installer : Wrapper.WriteFile (In small chunks) ";
const char kCloseContext[] = "Installer : Wrapper.CloseHandle ";

class WriterFailure : public ResourceWriter {
 protected:
  // One box captioned "Error", OK only and no icon, reading exactly
  // context + " failed with error " + signed code + ": " + the system's text; then the
  // process ends with the code.
  void ExpectFailure(const ProbeRun& run, const char* context, DWORD code) {
    ASSERT_TRUE(Started(run));
    ASSERT_FALSE(run.timedOut);
    EXPECT_EQ(static_cast<DWORD>(run.exitCode), code);
    ASSERT_EQ(run.boxes.size(), 1u);
    EXPECT_EQ(run.boxes[0].caption, "Error");
    EXPECT_EQ(run.boxes[0].text, std::string(context) + " failed with error " +
                                     std::to_string(static_cast<int>(code)) + ": " +
                                     SystemText(code));
    EXPECT_FALSE(run.boxes[0].hasIcon);
    EXPECT_EQ(run.boxes[0].buttons, std::vector<int>{IDOK});
  }
};

TEST_F(WriterFailure, CreationRefusedByTheSystem) {
  {
    SCOPED_TRACE("file held open without sharing");
    std::string path = PathOf("held.bin");
    HANDLE held = CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                              CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(held, INVALID_HANDLE_VALUE);
    ProbeRun run = RunProbe("write \"" + path + "\"");
    CloseHandle(held);
    ExpectFailure(run, kCreateContext, ERROR_SHARING_VIOLATION);
    EXPECT_EQ(FileSize(path), 0);
  }
  {
    SCOPED_TRACE("folder missing");
    std::string path = PathOf("no-such-folder\\file.bin");
    ExpectFailure(RunProbe("write \"" + path + "\""), kCreateContext, ERROR_PATH_NOT_FOUND);
    EXPECT_FALSE(PathExists(PathOf("no-such-folder")));
  }
  {
    SCOPED_TRACE("a folder where the file should be");
    std::string path = PathOf("folder.bin");
    ASSERT_TRUE(CreateDirectoryA(path.c_str(), nullptr));
    ExpectFailure(RunProbe("write \"" + path + "\""), kCreateContext, ERROR_ACCESS_DENIED);
    EXPECT_TRUE(IsDirectory(path));
  }
  {
    // A path refused before any file was made (too long for its buffer, a link in the
    // chain) fails like a refused creation, but only for a resource that exists.
    SCOPED_TRACE("refused path");
    ExpectFailure(RunProbe("refuse 206"), kCreateContext, ERROR_FILENAME_EXCED_RANGE);
    ExpectFailure(RunProbe("refuse 5"), kCreateContext, ERROR_ACCESS_DENIED);
    ProbeRun absent = RunProbe("refuse-missing 206");
    EXPECT_EQ(absent.exitCode, 100);
    EXPECT_TRUE(absent.boxes.empty());
  }
}

TEST_F(WriterFailure, WriteAndCloseFailuresNameTheirCall) {
  {
    // Injected at the probe's import of WriteFile: the second chunk meets a full disk.
    SCOPED_TRACE("second write fails");
    std::string path = PathOf("partial.bin");
    ExpectFailure(RunProbe("write-fails 112 2 \"" + path + "\""), kWriteContext, ERROR_DISK_FULL);
    // The first chunk stays on disk.
    EXPECT_TRUE(ReadFileText(path) == SampleBytes("chunk_and_one.bin").substr(0, 8192));
  }
  {
    SCOPED_TRACE("first write fails");
    std::string path = PathOf("nothing.bin");
    ExpectFailure(RunProbe("write-fails 29 1 \"" + path + "\""), kWriteContext, ERROR_WRITE_FAULT);
    EXPECT_EQ(FileSize(path), 0);
  }
  {
    // A write that reports success without progress would spin for ever; it is a write
    // fault instead.
    SCOPED_TRACE("write without progress");
    ExpectFailure(RunProbe("write-stalls \"" + PathOf("stalled.bin") + "\""), kWriteContext,
                  ERROR_WRITE_FAULT);
  }
  {
    SCOPED_TRACE("close fails");
    std::string path = PathOf("closed.bin");
    ExpectFailure(RunProbe("close-fails 6 \"" + path + "\""), kCloseContext, ERROR_INVALID_HANDLE);
    EXPECT_TRUE(ReadFileText(path) == SampleBytes("chunk_and_one.bin"));
  }
}

TEST_F(WriterFailure, FileChangedOrTakenBeforeTheLockIsAFailedWrite) {
  {
    // Another writer changes the file between the close and the lock: the comparison sees it.
    SCOPED_TRACE("changed");
    ExpectFailure(RunProbe("swapped \"" + PathOf("swapped.bin") + "\""),
                  "Installer : Wrapper.VerifyFile ", ERROR_FILE_CORRUPT);
  }
  {
    // The same for a large file, compared on the comparer thread through two views: a byte
    // changed at the start, in the second view, or as the very last one.
    for (DWORD offset : {0u, 16u * 1024 * 1024 + 5, 17825794u}) {
      SCOPED_TRACE("changed, large, at " + std::to_string(offset));
      ExpectFailure(RunProbe("swapped-later " + std::to_string(offset) + " \"" +
                             PathOf("swapped-large.bin") + "\""),
                    "Installer : Wrapper.VerifyFile ", ERROR_FILE_CORRUPT);
    }
    ProbeRun untouched = RunProbe("write-later \"" + PathOf("large-later.bin") + "\"");
    EXPECT_EQ(untouched.exitCode, 101);
    EXPECT_TRUE(untouched.boxes.empty()) << (untouched.boxes.empty() ? "" : untouched.boxes[0].text);
    EXPECT_TRUE(ReadFileText(PathOf("large-later.bin")) == SampleBytes("two_views.bin"));
  }
  {
    // Another writer holds the file: it cannot be locked for reading.
    SCOPED_TRACE("taken");
    ExpectFailure(RunProbe("taken \"" + PathOf("taken.bin") + "\""),
                  "Installer : Wrapper.CreateFile (Verify) ", ERROR_SHARING_VIOLATION);
  }
}

TEST_F(WriterFailure, CodesWithoutSystemTextKeepTheFormat) {
  // No system text: the same box with the text after ": " empty. The number is signed.
  for (DWORD code : {0x20001234u, 0xE0001234u}) {
    SCOPED_TRACE(code);
    ASSERT_EQ(SystemText(code), "") << "this platform has a text for the code";
    ProbeRun run = RunProbe("fail " + std::to_string(code));
    ExpectFailure(run, kCreateContext, code);
    ASSERT_EQ(run.boxes.size(), 1u);
  }
  EXPECT_EQ(RunProbe("fail 0xE0001234").boxes.at(0).text,
            "Installer : Wrapper.CreateFile  failed with error -536866252: ");
}

TEST_F(WriterFailure, ProbeWritesAndSkipsWithoutABox) {
  // The probe itself, when nothing fails: its resource arrives whole, and a missing one is
  // no error even where the file could not have been created.
  std::string path = PathOf("probe.bin");
  ProbeRun written = RunProbe("write \"" + path + "\"");
  EXPECT_FALSE(written.timedOut);
  EXPECT_EQ(written.exitCode, 101);
  EXPECT_TRUE(written.boxes.empty());
  EXPECT_TRUE(ReadFileText(path) == SampleBytes("chunk_and_one.bin"));

  ProbeRun skipped = RunProbe("write-missing \"" + PathOf("no-such-folder\\x.bin") + "\"");
  EXPECT_FALSE(skipped.timedOut);
  EXPECT_EQ(skipped.exitCode, 100);
  EXPECT_TRUE(skipped.boxes.empty());
}

}  // namespace
