// The child process runners with real children (exit_with.exe), and the message pump with
// real windows of this thread.
#include <gtest/gtest.h>

#include <limits.h>

#include <string>
#include <vector>

#include "engine/process_runner.h"
#include "import_patch.h"
#include "test_support.h"

namespace {

std::string ExitWith() { return BuildPath("tests/exit_with.exe"); }
std::string Quoted(const std::string& text) { return "\"" + text + "\""; }

// --- RunAndWait ------------------------------------------------------------------------

TEST(RunAndWait, ReturnsTheChildsExitCodeAsASigned32BitValue) {
  struct {
    const char* code;
    int expected;
  } const cases[] = {
      {"0", 0},
      {"1", 1},
      {"2", 2},
      {"42", 42},
      {"1603", 1603},
      {"-5", -5},
      {"3221225477", static_cast<int>(0xC0000005u)},  // an access-violation status
      {"2147483648", INT_MIN},
      {"4294967295", -1},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(RunAndWait((Quoted(ExitWith()) + " code=" + c.code).c_str()), c.expected) << c.code;
  }
  EXPECT_LT(RunAndWait((Quoted(ExitWith()) + " code=3221225477").c_str()), 0);
}

// A platform that cannot tell the exit code, and writes a 0 where the code would go.
decltype(&GetExitCodeProcess) realGetExitCodeProcess = nullptr;
BOOL WINAPI FailingGetExitCodeProcess(HANDLE, LPDWORD code) {
  *code = 0;
  SetLastError(ERROR_ACCESS_DENIED);
  return FALSE;
}

TEST(RunAndWait, ExitCodeThatCannotBeReadGivesOneNotSuccess) {
  ASSERT_TRUE(HookImport("kernel32.dll", "GetExitCodeProcess", &FailingGetExitCodeProcess,
                         &realGetExitCodeProcess));
  int result = RunAndWait((Quoted(ExitWith()) + " code=0").c_str());
  decltype(&GetExitCodeProcess) hook = nullptr;
  HookImport("kernel32.dll", "GetExitCodeProcess", realGetExitCodeProcess, &hook);
  EXPECT_EQ(result, 1);
  EXPECT_EQ(RunAndWait((Quoted(ExitWith()) + " code=0").c_str()), 0);
}

TEST(RunAndWait, ProgramThatCannotStartGivesOneAtOnce) {
  std::string missing = MakeScratchFolder("runner-missing") + "\\absent.exe";
  for (const std::string& commandLine :
       {Quoted(missing) + " code=42", missing, std::string("no-such-program-anywhere.exe /x"),
        std::string("")}) {
    DWORD start = GetTickCount();
    EXPECT_EQ(RunAndWait(commandLine.c_str()), 1) << commandLine;
    EXPECT_LT(GetTickCount() - start, 5000u) << commandLine;
  }
}

TEST(RunAndWait, WaitsForTheEndAndHandsOverTheWholeCommandLine) {
  std::string folder = MakeScratchFolder("runner-wait");
  // A program folder with a blank, quoted as the engine path is.
  std::string programFolder = folder + "\\Program Folder";
  ASSERT_TRUE(CreateDirectoryA(programFolder.c_str(), nullptr));
  std::string program = programFolder + "\\exit_with.exe";
  ASSERT_TRUE(CopyFileA(ExitWith().c_str(), program.c_str(), FALSE));
  std::string record = folder + "\\record.txt";

  std::string commandLine = Quoted(program) + " /i \"C:\\a b\\p.msi\"  WRAPPER=1 sleep=600 code=9 record=" + record;
  DWORD start = GetTickCount();
  EXPECT_EQ(RunAndWait(commandLine.c_str()), 9);
  EXPECT_GE(GetTickCount() - start, 550u);
  EXPECT_EQ(ReadFileText(record), commandLine + "\n");

  // The longest line a caller's 1024-byte buffer holds.
  std::string longest = Quoted(program) + " code=3 record=" + record + " pad=";
  longest += std::string(1023 - longest.size(), 'p');
  ASSERT_EQ(longest.size(), 1023u);
  DeleteFileA(record.c_str());
  EXPECT_EQ(RunAndWait(longest.c_str()), 3);
  EXPECT_EQ(ReadFileText(record), longest + "\n");
}

TEST(RunAndWait, ChildrenStartInTheCallersCurrentDirectory) {
  std::string folder = MakeScratchFolder("runner-cwd");
  char previous[MAX_PATH] = {};
  GetCurrentDirectoryA(sizeof previous, previous);
  ASSERT_TRUE(SetCurrentDirectoryA(folder.c_str()));
  int waited = RunAndWait((Quoted(ExitWith()) + " record=waited.txt").c_str());
  int pumped = RunAndPumpMessages(ExitWith().c_str(), " record=pumped.txt");
  SetCurrentDirectoryA(previous);
  EXPECT_EQ(waited, 0);
  EXPECT_EQ(pumped, 0);
  EXPECT_TRUE(PathExists(folder + "\\waited.txt"));
  EXPECT_TRUE(PathExists(folder + "\\pumped.txt"));
}

// --- Windows of this thread, for the pump ------------------------------------------------

// What the window procedures saw.
struct Seen {
  std::vector<UINT> wide;  // messages that reached the Unicode window
  std::vector<UINT> narrow;
  WPARAM wideChar = 0;
  WPARAM narrowChar = 0;
  bool quitDispatched = false;
  int reposts = 0;
  DWORD repostUntil = 0;  // the self-reposting message stops here at the latest
};
Seen g_seen;

const UINT kPlain = WM_APP + 1;
const UINT kAskQuit = WM_APP + 2;   // the procedure posts a quit message on the thread
const UINT kRepost = WM_APP + 3;    // the procedure posts it again: the queue never empties

LRESULT HandleCommon(HWND window, UINT message, WPARAM wParam) {
  if (message == WM_QUIT) g_seen.quitDispatched = true;
  if (message == kAskQuit) PostQuitMessage(0);
  if (message == kRepost) {
    ++g_seen.reposts;
    if (GetTickCount() < g_seen.repostUntil) PostMessageW(window, kRepost, wParam, 0);
  }
  return 0;
}

LRESULT CALLBACK WideProcedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message >= WM_APP || message == WM_CHAR || message == WM_QUIT) {
    g_seen.wide.push_back(message);
    if (message == WM_CHAR) g_seen.wideChar = wParam;
    return HandleCommon(window, message, wParam);
  }
  return DefWindowProcW(window, message, wParam, lParam);
}

LRESULT CALLBACK NarrowProcedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message >= WM_APP || message == WM_CHAR || message == WM_QUIT) {
    g_seen.narrow.push_back(message);
    if (message == WM_CHAR) g_seen.narrowChar = wParam;
    return HandleCommon(window, message, wParam);
  }
  return DefWindowProcA(window, message, wParam, lParam);
}

class PumpTest : public ::testing::Test {
 protected:
  void SetUp() override {
    static bool registered = false;
    if (!registered) {
      WNDCLASSW wideClass = {};
      wideClass.lpfnWndProc = WideProcedure;
      wideClass.hInstance = GetModuleHandleW(nullptr);
      wideClass.lpszClassName = L"RunnerTestsWide";
      ASSERT_NE(RegisterClassW(&wideClass), 0);
      WNDCLASSA narrowClass = {};
      narrowClass.lpfnWndProc = NarrowProcedure;
      narrowClass.hInstance = GetModuleHandleA(nullptr);
      narrowClass.lpszClassName = "RunnerTestsNarrow";
      ASSERT_NE(RegisterClassA(&narrowClass), 0);
      registered = true;
    }
    wide_ = CreateWindowExW(0, L"RunnerTestsWide", L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                            GetModuleHandleW(nullptr), nullptr);
    narrow_ = CreateWindowExA(0, "RunnerTestsNarrow", "", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                              GetModuleHandleA(nullptr), nullptr);
    ASSERT_NE(wide_, nullptr);
    ASSERT_NE(narrow_, nullptr);
    ASSERT_TRUE(IsWindowUnicode(wide_));
    ASSERT_FALSE(IsWindowUnicode(narrow_));
    Drain();
    g_seen = Seen();
    folder_ = MakeScratchFolder(std::string("runner-") +
                                ::testing::UnitTest::GetInstance()->current_test_info()->name());
  }
  void TearDown() override {
    g_seen.repostUntil = 0;
    Drain();
    DestroyWindow(wide_);
    DestroyWindow(narrow_);
    Drain();
  }
  static void Drain() {
    MSG message;
    while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
    }
  }
  // Finds a queued message without taking it.
  static bool Queued(HWND window, UINT message) {
    MSG found;
    return PeekMessageW(&found, window, message, message, PM_NOREMOVE) != 0;
  }
  std::string Child(const std::string& arguments) const {
    return Quoted(ExitWith()) + " " + arguments;
  }

  HWND wide_ = nullptr;
  HWND narrow_ = nullptr;
  std::string folder_;
};

// Posts a list of messages from another thread after a delay, while this thread waits.
struct Post {
  HWND window;  // null: a thread message to the target thread
  UINT message;
  WPARAM wParam;
  bool wideCall;
};
struct Poster {
  DWORD delayMs;
  DWORD targetThread;
  std::vector<Post> posts;
};

DWORD WINAPI PostLater(void* argument) {
  const Poster* poster = static_cast<const Poster*>(argument);
  Sleep(poster->delayMs);
  for (const Post& post : poster->posts) {
    if (post.window == nullptr) {
      if (post.wideCall) {
        PostThreadMessageW(poster->targetThread, post.message, post.wParam, 0);
      } else {
        PostThreadMessageA(poster->targetThread, post.message, post.wParam, 0);
      }
    } else if (post.wideCall) {
      PostMessageW(post.window, post.message, post.wParam, 0);
    } else {
      PostMessageA(post.window, post.message, post.wParam, 0);
    }
  }
  return 0;
}

// Runs the child with RunAndPumpMessages while the poster posts; returns the result.
int RunWhilePosting(const std::string& commandLine, const Poster& poster, DWORD* elapsedMs) {
  HANDLE thread = CreateThread(nullptr, 0, PostLater, const_cast<Poster*>(&poster), 0, nullptr);
  EXPECT_NE(thread, nullptr);
  DWORD start = GetTickCount();
  int result = RunAndPumpMessages(ExitWith().c_str(), commandLine.c_str());
  *elapsedMs = GetTickCount() - start;
  WaitForSingleObject(thread, INFINITE);
  CloseHandle(thread);
  return result;
}

// --- RunAndPumpMessages ------------------------------------------------------------------

TEST_F(PumpTest, ChildReceivesACommandLineBeginningWithABlankUnchanged) {
  std::string record = folder_ + "\\record.txt";
  std::string commandLine =
      " /x {6E2B91C4-3F07-4D58-A1B9-7C04E35D8F21} /qn code=1605 record=" + record;
  EXPECT_EQ(RunAndPumpMessages(ExitWith().c_str(), commandLine.c_str()), 1605);
  EXPECT_EQ(ReadFileText(record), commandLine + "\n");

  // A constant text, as the removal command line is.
  DeleteFileA(record.c_str());
  static const char kConstantLine[] = " code=-7";
  EXPECT_EQ(RunAndPumpMessages(ExitWith().c_str(), kConstantLine), -7);
}

TEST_F(PumpTest, ProgramThatCannotStartGivesTheSystemCode) {
  std::string record = folder_ + "\\record.txt";
  // The command line names a real program: only the application path may be used.
  std::string commandLine = Child("code=5 record=" + record);
  struct {
    std::string application;
    DWORD expected;
  } const cases[] = {
      {folder_ + "\\absent.exe", ERROR_FILE_NOT_FOUND},
      {folder_ + "\\no-folder\\absent.exe", ERROR_PATH_NOT_FOUND},
      {"", 0},  // whatever this platform says, see below
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.application);
    DWORD expected = c.expected;
    if (expected == 0) {
      STARTUPINFOA startup = {};
      startup.cb = sizeof startup;
      PROCESS_INFORMATION process = {};
      std::vector<char> writable(commandLine.begin(), commandLine.end());
      writable.push_back('\0');
      ASSERT_FALSE(CreateProcessA(c.application.c_str(), writable.data(), nullptr, nullptr, FALSE,
                                  0, nullptr, nullptr, &startup, &process));
      expected = GetLastError();
      ASSERT_NE(expected, 0u);
    }
    SetLastError(0);
    DWORD start = GetTickCount();
    EXPECT_EQ(RunAndPumpMessages(c.application.c_str(), commandLine.c_str()),
              static_cast<int>(expected));
    EXPECT_LT(GetTickCount() - start, 5000u);
  }
  EXPECT_FALSE(PathExists(record));
}

TEST_F(PumpTest, QuitMessagesAreTakenOffButNotDispatchedAndTheWaitGoesOn) {
  Poster poster{150, GetCurrentThreadId(),
                {{nullptr, WM_QUIT, 0, false},
                 {wide_, kAskQuit, 0, true},  // PostQuitMessage from inside the pump
                 {wide_, WM_QUIT, 0, true},   // a quit message addressed to a window
                 {narrow_, WM_QUIT, 0, false},
                 {narrow_, kPlain, 0, false}}};
  DWORD elapsed = 0;
  EXPECT_EQ(RunWhilePosting(Child("sleep=1200 code=77"), poster, &elapsed), 77);
  EXPECT_GE(elapsed, 1100u);
  EXPECT_FALSE(g_seen.quitDispatched);
  EXPECT_EQ(g_seen.wide, std::vector<UINT>{kAskQuit});
  EXPECT_EQ(g_seen.narrow, std::vector<UINT>{kPlain});
  EXPECT_FALSE(Queued(nullptr, WM_QUIT));
}

TEST_F(PumpTest, UnicodeWindowsGetTheWideCallsAndNarrowWindowsTheNarrowOnes) {
  // U+263A has no character in the ANSI code page: fetched or dispatched narrow, it would
  // arrive as a substitute.
  const WPARAM kSmiley = 0x263A;
  Poster poster{150, GetCurrentThreadId(),
                {{wide_, WM_CHAR, kSmiley, true},
                 {wide_, kPlain, 0, true},
                 {narrow_, WM_CHAR, 'q', false},
                 {narrow_, kPlain, 0, false},
                 {nullptr, kPlain, 0, false}}};
  DWORD elapsed = 0;
  EXPECT_EQ(RunWhilePosting(Child("sleep=800 code=0"), poster, &elapsed), 0);
  EXPECT_EQ(g_seen.wide, (std::vector<UINT>{WM_CHAR, kPlain}));
  EXPECT_EQ(g_seen.wideChar, kSmiley);
  EXPECT_EQ(g_seen.narrow, (std::vector<UINT>{WM_CHAR, kPlain}));
  EXPECT_EQ(g_seen.narrowChar, static_cast<WPARAM>('q'));
  // The thread message was taken off the queue as well.
  EXPECT_FALSE(Queued(nullptr, kPlain));
}

TEST_F(PumpTest, ChildEndIsNoticedWhileMessagesKeepComing) {
  g_seen.repostUntil = GetTickCount() + 15000;
  PostMessageW(wide_, kRepost, 0, 0);
  DWORD start = GetTickCount();
  EXPECT_EQ(RunAndPumpMessages(ExitWith().c_str(), Child("sleep=400 code=12").c_str()), 12);
  DWORD elapsed = GetTickCount() - start;
  EXPECT_LT(elapsed, 8000u);
  EXPECT_GT(g_seen.reposts, 1);
  EXPECT_TRUE(Queued(wide_, kRepost));  // the queue was never empty
}

TEST_F(PumpTest, RunAndWaitDispatchesNothing) {
  PostMessageW(wide_, kPlain, 0, 0);
  PostMessageA(narrow_, kPlain, 0, 0);
  EXPECT_EQ(RunAndWait(Child("sleep=300 code=4").c_str()), 4);
  EXPECT_TRUE(g_seen.wide.empty());
  EXPECT_TRUE(g_seen.narrow.empty());
  EXPECT_TRUE(Queued(wide_, kPlain));
  EXPECT_TRUE(Queued(narrow_, kPlain));
}

// --- WaitWithMessagePump on its own --------------------------------------------------------

DWORD WINAPI PumpOn(void* handle) {
  WaitWithMessagePump(static_cast<HANDLE>(handle));
  return 0;
}

// Runs the pump on a thread of its own so that a pump that never returns fails the test.
bool PumpReturnsWithin(HANDLE handle, DWORD timeoutMs) {
  HANDLE thread = CreateThread(nullptr, 0, PumpOn, handle, 0, nullptr);
  if (thread == nullptr) return false;
  bool returned = WaitForSingleObject(thread, timeoutMs) == WAIT_OBJECT_0;
  if (!returned) TerminateThread(thread, 1);
  CloseHandle(thread);
  return returned;
}

TEST(WaitWithMessagePump, ReturnsForASignalledHandleAndForAFailedWait) {
  HANDLE signalled = CreateEventA(nullptr, TRUE, TRUE, nullptr);
  ASSERT_NE(signalled, nullptr);
  EXPECT_TRUE(PumpReturnsWithin(signalled, 5000));

  // No handle at all: the wait fails, and the pump must neither block nor spin.
  EXPECT_TRUE(PumpReturnsWithin(nullptr, 5000));

  HANDLE unsignalled = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  EXPECT_FALSE(PumpReturnsWithin(unsignalled, 300));
  CloseHandle(unsignalled);
  CloseHandle(signalled);
}

}  // namespace
