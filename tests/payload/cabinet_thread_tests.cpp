// The cabinet thread and the ready event, on cabinet resources of this test program (a few
// hundred KB each). Seen three ways: the platform calls the thread makes (at this program's
// import table), the staging folder and the event as another process would see them while
// the thread runs, and the files left afterwards. The staging folder is the real LocalLow
// chain of the test prefix, shared with the end-to-end tests: these tests run serially.
#include <gtest/gtest.h>
#include <shlobj.h>

#include <stdio.h>

#include <string>
#include <vector>

#include "import_patch.h"
#include "payload/cabinet_thread.h"
#include "payload/resource_writer.h"
#include "payload/error_box.h"
#include "payload/held_folders.h"
#include "payload/locked_payload_files.h"
#include "test_support.h"

#ifndef CABINET_TESTS_AMD64
#define CABINET_TESTS_AMD64 0
#endif

namespace {

const char kEventName[] = "OrvikKZTCabExtractWaitEvent";

struct Cabinet {
  const char* file;    // in the staging folder
  const char* sample;  // generated file the resource was made from
};

// Write order, which is not the order of the resource identifiers.
const Cabinet kCabinets[] = {
    {"ss160320.cab", "ss.cab"}, {"st160320.cab", "st.cab"}, {"sj160320.cab", "sj.cab"},
    {"sp160320.cab", "sp.cab"}, {"sz160320.cab", "sz.cab"}, {"sb160320.cab", "sb.cab"},
    {"sr160320.cab", "sr.cab"},
};
constexpr int kCabinetCount = 7;


std::string StagingFolder(bool amd64) {
  return LocalLowFolder() + "\\Orvik\\Zelvan\\kzt1.6.0_32" + (amd64 ? "_x64" : "");
}
// Where this build's thread must write, and the folder it must leave alone.
std::string Staging() { return StagingFolder(CABINET_TESTS_AMD64); }
std::string OtherStaging() { return StagingFolder(!CABINET_TESTS_AMD64); }
std::string CabinetPath(int index) { return Staging() + "\\" + kCabinets[index].file; }

// The chain as a first run leaves it, for tests that put something into it beforehand.
void MakeStagingChain() {
  std::string folder = LocalLowFolder();
  const char* staging = CABINET_TESTS_AMD64 ? "\\kzt1.6.0_32_x64" : "\\kzt1.6.0_32";
  for (const char* level : {"\\Orvik", "\\Zelvan", staging}) {
    folder += level;
    CreateDirectoryA(folder.c_str(), nullptr);
  }
}

std::string SampleBytes(const char* sample) {
  return ReadFileText(BuildPath(std::string("tests/payload/samples/") + sample));
}

// --- Calls of the cabinet thread, at this program's import table ----------------------

struct Call {
  DWORD thread;
  std::string what;
  HANDLE handle;
  DWORD size;
  HANDLE of;  // the file a mapping was made of
};

CRITICAL_SECTION traceLock;
std::vector<Call>* trace = nullptr;

void Trace(const std::string& what, HANDLE handle, DWORD size = 0, HANDLE of = nullptr) {
  EnterCriticalSection(&traceLock);
  if (trace != nullptr) trace->push_back({GetCurrentThreadId(), what, handle, size, of});
  LeaveCriticalSection(&traceLock);
}

decltype(&CreateFileA) realCreateFile = nullptr;
decltype(&CreateFileMappingA) realCreateFileMapping = nullptr;
decltype(&WriteFile) realWriteFile = nullptr;
decltype(&CloseHandle) realCloseHandle = nullptr;
decltype(&CreateEventA) realCreateEvent = nullptr;
decltype(&SetEvent) realSetEvent = nullptr;
decltype(&DuplicateHandle) realDuplicateHandle = nullptr;
decltype(&ResetEvent) realResetEvent = nullptr;

HANDLE WINAPI TracedCreateFile(LPCSTR path, DWORD access, DWORD share,
                               LPSECURITY_ATTRIBUTES security, DWORD disposition, DWORD flags,
                               HANDLE templateFile) {
  HANDLE file = realCreateFile(path, access, share, security, disposition, flags, templateFile);
  // What the open is for: writing a file, clearing its name first, holding a folder, or
  // locking a written file.
  const char* purpose = (access & GENERIC_WRITE)                 ? "CreateFileA "
                        : access == DELETE                       ? "ClearFileA "
                        : (flags & FILE_FLAG_BACKUP_SEMANTICS) ? "HoldFolderA "
                                                                 : "ReopenFileA ";
  Trace(purpose + std::string(path), file);
  return file;
}

// A slower disk for the watching test, so that the watcher sees the thread at work even
// when this machine is busy. Only the timing changes, never what is written.
DWORD writeDelayMs = 0;

HANDLE WINAPI TracedCreateFileMapping(HANDLE file, LPSECURITY_ATTRIBUTES security, DWORD protect,
                                      DWORD sizeHigh, DWORD sizeLow, LPCSTR name) {
  HANDLE mapping = realCreateFileMapping(file, security, protect, sizeHigh, sizeLow, name);
  Trace("CreateFileMappingA", mapping, 0, file);
  return mapping;
}

BOOL WINAPI TracedWriteFile(HANDLE file, LPCVOID bytes, DWORD size, LPDWORD written,
                            LPOVERLAPPED overlapped) {
  Trace("WriteFile", file, size);
  if (writeDelayMs != 0) Sleep(writeDelayMs);
  return realWriteFile(file, bytes, size, written, overlapped);
}

BOOL WINAPI TracedCloseHandle(HANDLE handle) {
  Trace("CloseHandle", handle);
  return realCloseHandle(handle);
}

HANDLE WINAPI TracedCreateEvent(LPSECURITY_ATTRIBUTES security, BOOL manualReset,
                                BOOL initialState, LPCSTR name) {
  HANDLE event = realCreateEvent(security, manualReset, initialState, name);
  char what[256];
  wsprintfA(what, "CreateEventA security=%s manual=%d initial=%d name=%s",
            security == nullptr ? "null" : "set", manualReset, initialState,
            name == nullptr ? "(none)" : name);
  Trace(what, event);
  return event;
}

BOOL WINAPI TracedDuplicateHandle(HANDLE sourceProcess, HANDLE source, HANDLE targetProcess, LPHANDLE target,
                                  DWORD access, BOOL inherit, DWORD options) {
  BOOL duplicated = realDuplicateHandle(sourceProcess, source, targetProcess, target, access, inherit, options);
  Trace("DuplicateHandle", duplicated ? *target : nullptr, access);
  return duplicated;
}

BOOL WINAPI TracedSetEvent(HANDLE event) {
  Trace("SetEvent", event);
  return realSetEvent(event);
}

BOOL WINAPI TracedResetEvent(HANDLE event) {
  Trace("ResetEvent", event);
  return realResetEvent(event);
}

bool InstallTracing() {
  InitializeCriticalSection(&traceLock);
  return HookImport("kernel32.dll", "CreateFileA", &TracedCreateFile, &realCreateFile) &&
         HookImport("kernel32.dll", "WriteFile", &TracedWriteFile, &realWriteFile) &&
         HookImport("kernel32.dll", "CreateFileMappingA", &TracedCreateFileMapping,
                    &realCreateFileMapping) &&
         HookImport("kernel32.dll", "CloseHandle", &TracedCloseHandle, &realCloseHandle) &&
         HookImport("kernel32.dll", "CreateEventA", &TracedCreateEvent, &realCreateEvent) &&
         HookImport("kernel32.dll", "DuplicateHandle", &TracedDuplicateHandle, &realDuplicateHandle) &&
         HookImport("kernel32.dll", "SetEvent", &TracedSetEvent, &realSetEvent) &&
         HookImport("kernel32.dll", "ResetEvent", &TracedResetEvent, &realResetEvent);
}

// The calls of one thread in words: consecutive writes to one file become one line with
// their count and total, and handles are named by what they were opened as.
std::vector<std::string> Summarize(const std::vector<Call>& calls, DWORD thread) {
  std::vector<std::string> lines;
  std::vector<std::pair<HANDLE, std::string>> names;
  auto nameOf = [&names](HANDLE handle) -> std::string {
    for (auto it = names.rbegin(); it != names.rend(); ++it) {
      if (it->first == handle) return it->second;
    }
    return "unknown handle";
  };
  DWORD writes = 0, bytes = 0;
  HANDLE writing = nullptr;
  auto flushWrites = [&]() {
    if (writes == 0) return;
    lines.push_back("write " + nameOf(writing) + ": " + std::to_string(writes) + " calls, " +
                    std::to_string(bytes) + " bytes");
    writes = bytes = 0;
  };
  for (const Call& call : calls) {
    if (call.thread != thread) continue;
    if (call.what == "WriteFile" && (writes == 0 || call.handle == writing)) {
      writing = call.handle;
      ++writes;
      bytes += call.size;
      continue;
    }
    flushWrites();
    if (call.what.rfind("CreateFileA ", 0) == 0) {
      std::string path = call.what.substr(12);
      names.push_back({call.handle, path.substr(path.rfind('\\') + 1)});
      lines.push_back("create " + path);
    } else if (call.what.rfind("ClearFileA ", 0) == 0) {
      lines.push_back("clear " + call.what.substr(11));
    } else if (call.what.rfind("HoldFolderA ", 0) == 0) {
      lines.push_back("hold " + call.what.substr(12));
    } else if (call.what.rfind("ReopenFileA ", 0) == 0) {
      std::string path = call.what.substr(12);
      names.push_back({call.handle, path.substr(path.rfind('\\') + 1)});
      lines.push_back("reopen " + path);
    } else if (call.what == "CreateFileMappingA") {
      names.push_back({call.handle, "the mapping of " + nameOf(call.of)});
      lines.push_back("map " + nameOf(call.of));
    } else if (call.what == "DuplicateHandle") {
      names.push_back({call.handle, "the event"});
      lines.push_back("duplicate the run's event for " + std::string(call.size == EVENT_MODIFY_STATE ? "setting" : "more"));
    } else if (call.what.rfind("CreateEventA ", 0) == 0) {
      names.push_back({call.handle, "the event"});
      lines.push_back(call.what);
    } else if (call.what == "WriteFile") {
      writing = call.handle;
      writes = 1;
      bytes = call.size;
    } else if (call.what == "CloseHandle") {
      lines.push_back("close " + nameOf(call.handle));
    } else {
      lines.push_back(call.what + " " + nameOf(call.handle));
    }
  }
  flushWrites();
  return lines;
}

// --- Fixture ------------------------------------------------------------------------------

HANDLE OpenReadyEvent() { return OpenEventA(SYNCHRONIZE | EVENT_MODIFY_STATE, FALSE, kEventName); }

bool IsSignalled(HANDLE event) { return WaitForSingleObject(event, 0) == WAIT_OBJECT_0; }

class CabinetThread : public ::testing::Test {
 protected:
  void SetUp() override {
    static const bool traced = InstallTracing();
    ASSERT_TRUE(traced);
    // Should a path ever lose its base, it lands in the test prefix (drive C:), not at the
    // root of the host's file system (drive Z:).
    ASSERT_TRUE(SetCurrentDirectoryA("C:\\windows"));
    // The writer holds what it wrote until the process ends; earlier tests' files go first.
    ReleaseStagedHoldsForTesting();
    for (bool amd64 : {false, true}) {
      for (const Cabinet& cabinet : kCabinets) {
        DeleteFileA((StagingFolder(amd64) + "\\" + cabinet.file).c_str());
      }
    }
    // Every handle of an earlier test is closed, so each test starts without the event.
    HANDLE left = OpenReadyEvent();
    ASSERT_EQ(left, nullptr) << "the ready event outlived the previous test";
  }

  // Runs ExtractCabinets on its own thread with module as parameter; returns its exit code.
  DWORD RunThread(HMODULE module, DWORD* threadId = nullptr) {
    DWORD id = 0;
    HANDLE thread = CreateThread(nullptr, 0, ExtractCabinets, module, 0, &id);
    EXPECT_NE(thread, nullptr);
    if (thread == nullptr) return 0;
    EXPECT_EQ(WaitForSingleObject(thread, 120000), WAIT_OBJECT_0);
    DWORD exitCode = 0;
    GetExitCodeThread(thread, &exitCode);
    CloseHandle(thread);
    if (threadId != nullptr) *threadId = id;
    return exitCode;
  }

  void ExpectAllCabinetsWritten() {
    for (const Cabinet& cabinet : kCabinets) {
      std::string path = Staging() + "\\" + cabinet.file;
      EXPECT_TRUE(ReadFileText(path) == SampleBytes(cabinet.sample)) << cabinet.file;
    }
  }
};

TEST_F(CabinetThread, WritesEachCabinetInOrderThenSignals) {
  HANDLE mainHandle = CreateReadyEvent();
  ASSERT_NE(mainHandle, nullptr);
  EXPECT_FALSE(IsSignalled(mainHandle)) << "the event starts signalled";

  std::vector<Call> calls;
  trace = &calls;
  DWORD threadId = 0;
  EXPECT_EQ(RunThread(GetModuleHandleA(nullptr), &threadId), 1u);
  EnterCriticalSection(&traceLock);
  trace = nullptr;
  LeaveCriticalSection(&traceLock);

  // The user data folder and the chain below it are held from the first cabinet on (the
  // tests before this one released what they held); later cabinets find them held.
  std::vector<std::string> expected = {"hold " + LocalLowFolder(), "hold " + LocalLowFolder() + "\\Orvik",
                                       "hold " + LocalLowFolder() + "\\Orvik\\Zelvan", "hold " + Staging()};
  for (int i = 0; i < kCabinetCount; ++i) {
    const std::string bytes = SampleBytes(kCabinets[i].sample);
    ASSERT_GT(bytes.size(), 200000u);
    // Whatever stood at the name goes first (nothing did), and the file is made new.
    expected.push_back("clear " + CabinetPath(i));
    expected.push_back("create " + CabinetPath(i));
    expected.push_back("write " + std::string(kCabinets[i].file) + ": " +
                       std::to_string((bytes.size() + 8191) / 8192) + " calls, " +
                       std::to_string(bytes.size()) + " bytes");
    expected.push_back("close " + std::string(kCabinets[i].file));
    // Read back through a handle that is then held (never closed), so nobody can change
    // the file any more.
    expected.push_back("reopen " + CabinetPath(i));
    // Files this small are compared on the cabinet thread itself, read through that handle
    // (no mapping, no thread of its own).
  }
  // Signalled only after the seventh file is closed, through a handle of its own to the
  // run's event (never one found by its name, which anybody could have made).
  expected.push_back("duplicate the run's event for setting");
  expected.push_back("SetEvent the event");
  expected.push_back("close the event");
  EXPECT_EQ(Summarize(calls, threadId), expected);

  ExpectAllCabinetsWritten();
  EXPECT_TRUE(IsSignalled(mainHandle));
  HANDLE byName = OpenReadyEvent();
  ASSERT_NE(byName, nullptr);
  EXPECT_TRUE(IsSignalled(byName));
  CloseHandle(byName);
  CloseHandle(mainHandle);
  for (const Cabinet& cabinet : kCabinets) {
    EXPECT_FALSE(PathExists(OtherStaging() + "\\" + cabinet.file)) << cabinet.file;
  }
}

// Watched from outside while it runs, the way the package and a person see it: files appear
// one after the other in table order, each complete before the next one exists, and the
// event is never seen set before all seven are complete.
TEST_F(CabinetThread, SeenFromOutsideWhileItRuns) {
  long long expectedSize[kCabinetCount];
  std::string paths[kCabinetCount];
  for (int i = 0; i < kCabinetCount; ++i) {
    expectedSize[i] = static_cast<long long>(SampleBytes(kCabinets[i].sample).size());
    paths[i] = CabinetPath(i);
  }
  HANDLE mainHandle = CreateReadyEvent();
  ASSERT_NE(mainHandle, nullptr);
  HANDLE observer = OpenReadyEvent();
  ASSERT_NE(observer, nullptr);
  ASSERT_FALSE(IsSignalled(observer));

  struct Snapshot {
    bool signalled;
    long long sizes[kCabinetCount];  // -1: absent
  };
  std::vector<Snapshot> snapshots;
  snapshots.reserve(100000);
  writeDelayMs = 1;
  HANDLE thread = CreateThread(nullptr, 0, ExtractCabinets, GetModuleHandleA(nullptr), 0, nullptr);
  ASSERT_NE(thread, nullptr);
  DWORD start = GetTickCount();
  for (;;) {
    bool ended = WaitForSingleObject(thread, 0) == WAIT_OBJECT_0;
    Snapshot snapshot;
    // The event first, then the files from the last to the first: a file seen later in
    // time is then always one that should have been complete earlier, so a correct thread
    // can never be caught out by the order of these reads.
    snapshot.signalled = IsSignalled(observer);
    for (int i = kCabinetCount - 1; i >= 0; --i) snapshot.sizes[i] = FileSize(paths[i]);
    snapshots.push_back(snapshot);
    if (ended || GetTickCount() - start > 120000) break;
  }
  writeDelayMs = 0;
  DWORD exitCode = 0;
  GetExitCodeThread(thread, &exitCode);
  CloseHandle(thread);
  EXPECT_EQ(exitCode, 1u);

  int inProgress = 0, partial = 0, distinct = 0;
  std::string previousState;
  for (size_t s = 0; s < snapshots.size(); ++s) {
    const Snapshot& snapshot = snapshots[s];
    std::string state = snapshot.signalled ? "S" : "-";
    bool anyPresent = false;
    for (int i = 0; i < kCabinetCount; ++i) {
      state += " " + std::to_string(snapshot.sizes[i]);
      if (snapshot.sizes[i] < 0) continue;
      anyPresent = true;
      if (snapshot.sizes[i] < expectedSize[i]) ++partial;
      for (int earlier = 0; earlier < i; ++earlier) {
        EXPECT_EQ(snapshot.sizes[earlier], expectedSize[earlier])
            << kCabinets[i].file << " exists while " << kCabinets[earlier].file
            << " is not complete (observation " << s << ")";
      }
    }
    if (snapshot.signalled) {
      for (int i = 0; i < kCabinetCount; ++i) {
        EXPECT_EQ(snapshot.sizes[i], expectedSize[i])
            << "event set while " << kCabinets[i].file << " is not complete (observation " << s
            << ")";
      }
    } else if (anyPresent) {
      ++inProgress;
    }
    if (state != previousState) ++distinct;
    previousState = state;
  }
  printf("%zu observations, %d distinct, %d while writing and not signalled, %d of a file "
         "part-written\n",
         snapshots.size(), distinct, inProgress, partial);
  EXPECT_GT(inProgress, 0) << "never saw the thread at work before the event was set";
  ASSERT_FALSE(snapshots.empty());
  EXPECT_TRUE(snapshots.back().signalled);
  ExpectAllCabinetsWritten();
  EXPECT_TRUE(IsSignalled(mainHandle));
  CloseHandle(observer);
  CloseHandle(mainHandle);
}

TEST_F(CabinetThread, MissingCabinetResourceIsSkipped) {
  // An image without ZELVAN_CAB11: sz160320.cab is not written (an older file of that name
  // stays as it was); the others are, and the event is set all the same.
  HMODULE module = LoadLibraryA(BuildPath("tests/payload/cabinets_without_sz.dll").c_str());
  ASSERT_NE(module, nullptr);
  const std::string sz = CabinetPath(4);
  ASSERT_EQ(std::string(kCabinets[4].file), "sz160320.cab");
  for (bool olderFile : {true, false}) {
    SCOPED_TRACE(olderFile ? "older sz160320.cab present" : "no sz160320.cab before");
    ReleaseStagedHoldsForTesting();
    for (int i = 0; i < kCabinetCount; ++i) DeleteFileA(CabinetPath(i).c_str());
    FILETIME before = {};
    if (olderFile) {
      MakeStagingChain();
      ASSERT_TRUE(WriteFileText(sz, "an older cabinet"));
      HANDLE file = CreateFileA(sz.c_str(), FILE_WRITE_ATTRIBUTES, 0, nullptr, OPEN_EXISTING,
                                FILE_ATTRIBUTE_NORMAL, nullptr);
      ASSERT_NE(file, INVALID_HANDLE_VALUE);
      SYSTEMTIME old = {2002, 3, 0, 4, 5, 6, 7, 0};
      SystemTimeToFileTime(&old, &before);
      SetFileTime(file, &before, &before, &before);
      CloseHandle(file);
    }
    HANDLE mainHandle = CreateReadyEvent();
    ASSERT_NE(mainHandle, nullptr);
    EXPECT_EQ(RunThread(module), 1u);
    for (int i = 0; i < kCabinetCount; ++i) {
      if (i == 4) continue;
      EXPECT_TRUE(ReadFileText(CabinetPath(i)) == SampleBytes(kCabinets[i].sample))
          << kCabinets[i].file;
    }
    if (olderFile) {
      EXPECT_EQ(ReadFileText(sz), "an older cabinet");
      WIN32_FILE_ATTRIBUTE_DATA data = {};
      GetFileAttributesExA(sz.c_str(), GetFileExInfoStandard, &data);
      EXPECT_EQ(CompareFileTime(&data.ftLastWriteTime, &before), 0);
    } else {
      EXPECT_FALSE(PathExists(sz));
    }
    EXPECT_TRUE(IsSignalled(mainHandle));
    CloseHandle(mainHandle);
  }
  FreeLibrary(module);
}

#if !CABINET_TESTS_AMD64
// A cabinet that cannot be created ends the whole process from the cabinet thread, with the
// writer's box; the event is never set. Seen through the probe child, whose main thread
// waits for the cabinet thread and would otherwise exit with 77.
TEST_F(CabinetThread, FailureOnTheThreadEndsTheProcess) {
  HANDLE held = CreateReadyEvent();  // the probe opens this object
  ASSERT_NE(held, nullptr);
  MakeStagingChain();
  const std::string blocked = CabinetPath(1);  // st160320.cab, the second one
  ASSERT_TRUE(CreateDirectoryA(blocked.c_str(), nullptr));
  ChildRun run = RunChild("\"" + BuildPath("tests/payload/resource_probe.exe") + "\" cabinets \"" +
                              BuildPath("tests/payload/cabinets_without_sz.dll") + "\"",
                          60000);
  RemoveDirectoryA(blocked.c_str());
  ASSERT_TRUE(Started(run));
  ASSERT_FALSE(run.timedOut);
  EXPECT_EQ(run.exitCode, ERROR_ACCESS_DENIED);
  ASSERT_EQ(run.boxes.size(), 1u);
  EXPECT_EQ(run.boxes[0].caption, "Error");
  EXPECT_EQ(run.boxes[0].text.rfind("Installer : Wrapper.CreateFile  failed with error 5: ", 0), 0u)
      << run.boxes[0].text;
  EXPECT_TRUE(ReadFileText(CabinetPath(0)) == SampleBytes(kCabinets[0].sample));
  EXPECT_FALSE(PathExists(CabinetPath(2)));
  EXPECT_FALSE(IsSignalled(held));
  CloseHandle(held);
}
#endif

// The ready event is the run's own: made new, or not at all, so that nobody else can have
// set it before the cabinets are written.
TEST_F(CabinetThread, ReadyEventIsMadeNewOrNotAtAll) {
  HANDLE first = CreateReadyEvent();
  ASSERT_NE(first, nullptr);
  EXPECT_FALSE(IsSignalled(first));
  // A second wrapper, or anybody who made it first, finds it existing.
  EXPECT_EQ(CreateReadyEvent(), nullptr);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ALREADY_EXISTS));
  EXPECT_FALSE(IsSignalled(first)) << "the failed attempt changed the event";
  CloseHandle(first);

  HANDLE planted = CreateEventA(nullptr, TRUE, TRUE, kEventName);
  ASSERT_NE(planted, nullptr);
  EXPECT_EQ(CreateReadyEvent(), nullptr);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ALREADY_EXISTS));
  CloseHandle(planted);
}

// Anybody may wait on the run's event, only administrators may set it. Seen through a token
// like an unelevated process's of the same user: the Administrators group for denial only.
TEST_F(CabinetThread, ReadyEventCanBeSetOnlyByAdministrators) {
  HANDLE event = CreateReadyEvent();
  ASSERT_NE(event, nullptr);
  HANDLE token = nullptr;
  ASSERT_TRUE(OpenProcessToken(GetCurrentProcess(), TOKEN_DUPLICATE | TOKEN_QUERY | TOKEN_IMPERSONATE, &token));
  BYTE administrators[SECURITY_MAX_SID_SIZE];
  DWORD sidSize = sizeof administrators;
  ASSERT_TRUE(CreateWellKnownSid(WinBuiltinAdministratorsSid, nullptr, administrators, &sidSize));
  SID_AND_ATTRIBUTES denyOnly = {administrators, 0};
  HANDLE restricted = nullptr;
  ASSERT_TRUE(CreateRestrictedToken(token, 0, 1, &denyOnly, 0, nullptr, 0, nullptr, &restricted)) << GetLastError();
  ASSERT_TRUE(ImpersonateLoggedOnUser(restricted)) << GetLastError();
  HANDLE toSet = OpenEventA(EVENT_MODIFY_STATE, FALSE, kEventName);
  DWORD setError = toSet == nullptr ? GetLastError() : 0;
  HANDLE toWait = OpenEventA(SYNCHRONIZE, FALSE, kEventName);
  DWORD waitError = toWait == nullptr ? GetLastError() : 0;
  RevertToSelf();
  EXPECT_EQ(toSet, nullptr) << "an unelevated process could set the run's event";
  EXPECT_EQ(setError, static_cast<DWORD>(ERROR_ACCESS_DENIED));
  EXPECT_NE(toWait, nullptr) << "the package could not wait on it: " << waitError;
  for (HANDLE handle : {toSet, toWait, restricted, token}) {
    if (handle != nullptr) CloseHandle(handle);
  }
  // Administrators may: the package run by the elevated wrapper's engine, and the wrapper.
  HANDLE asAdministrator = OpenEventA(EVENT_MODIFY_STATE | SYNCHRONIZE, FALSE, kEventName);
  EXPECT_NE(asAdministrator, nullptr) << GetLastError();
  if (asAdministrator != nullptr) CloseHandle(asAdministrator);
  CloseHandle(event);
}

TEST_F(CabinetThread, SignalReadyEventSetsItForGood) {
  HANDLE held = CreateReadyEvent();
  ASSERT_NE(held, nullptr);
  ASSERT_FALSE(IsSignalled(held));
  SignalReadyEvent();
  EXPECT_TRUE(IsSignalled(held));
  EXPECT_TRUE(IsSignalled(held));
  SignalReadyEvent();
  EXPECT_TRUE(IsSignalled(held));
  CloseHandle(held);
  // SignalReadyEvent closed its own handles: with ours closed the object is gone.
  HANDLE left = OpenReadyEvent();
  EXPECT_EQ(left, nullptr);
  if (left != nullptr) CloseHandle(left);
}

}  // namespace
