#pragma once
// Shared by the fault tests: the build's payload files, the writer's box text as this
// system words it, native commands of the Wine host, attempts to change staged files, and a
// wrapper run whose process id is known (to find the engine it left running).
#include <gtest/gtest.h>
#include <windows.h>

#include <functional>
#include <string>
#include <vector>

#include "wrapper_run.h"

// The seven cabinets in the wrapper's write order.
extern const char* const kCabinets[7];

// A file of the payload the build put into kzt-wrapper.exe, as a Windows path.
std::string PayloadFile(const std::string& name);

// Success when both files exist and hold the same bytes; a failure names sizes, not bytes.
::testing::AssertionResult SameBytes(const std::string& path, const std::string& expectedPath);

// "<context> failed with error <code>: <system text>" with this system's text for the code;
// the context ends in a blank, so two blanks stand before "failed".
std::string ExpectedBoxText(const std::string& context, DWORD code);

// The writer's failure as a person sees it: the run ended after exactly one box, captioned
// "Error", without an icon, reading the text above, and its exit code is the code. Call it
// through ASSERT_NO_FATAL_FAILURE where the test cannot go on without that box.
void ExpectWriterBox(const ChildRun& run, const std::string& context, DWORD code);

// The host path of a Windows path (Wine's own conversion); empty when it has none.
std::string UnixPath(const std::string& windowsPath);

// Runs a /bin/sh command on the host (Wine starts native programs) and returns its exit
// status, or -1 when it did not report one within the time-out. Wine gives no usable
// process handle for a native program, so the command reports through a status file.
int RunHostShell(const std::string& command, DWORD timeoutMs = 20000);

// Removes a host symbolic link itself (never what it points at); no-op for anything else.
void RemoveHostLink(const std::string& windowsPath);

// What became of attempts to change a file: 0 when the attempt succeeded, else its error.
struct TamperCodes {
  DWORD remove;     // DeleteFileA
  DWORD rename;     // MoveFileExA to a new name
  DWORD replace;    // MoveFileExA of another file onto it
  DWORD overwrite;  // opening it for writing, then writing over its start
};
TamperCodes TryToChange(const std::string& path);
std::string Describe(const TamperCodes& codes);
bool AllRefused(const TamperCodes& codes);  // every code is 5 or 32

// Another process tries to put a folder of its own making in the place of folder: it moves
// the folder away and makes a new one of the same name holding decoys ("decoy") of the named
// files. Returns 0 when that worked (the decoy stays), else the move's error.
DWORD TryToReplaceFolder(const std::string& folder, const std::vector<std::string>& names);
// Moves a folder away and back: 0 when that worked, else the move's error.
DWORD TryToRename(const std::string& folder);
// True for the codes of a refused change: a sharing violation or access denied.
bool Refused(DWORD code);

// A run of a command line with its boxes read and closed, keeping the process id.
struct TrackedRun {
  ChildRun run;
  DWORD processId = 0;
};
TrackedRun RunTracked(const std::string& commandLine, DWORD timeoutMs = 120000);
// The same, with a step that runs once the child has started and before any of its boxes is
// closed (a child that shows a box cannot end until then); it gets the child's process handle.
TrackedRun RunTracked(const std::string& commandLine, DWORD timeoutMs,
                      const std::function<void(HANDLE process)>& whileItRuns);

// Process ids of running msiexec.exe processes whose parent was the given process.
std::vector<DWORD> EnginesStartedBy(DWORD parentId);

// Waits until a file holds a line equal to text; false at the time-out.
bool WaitForLine(const std::string& path, const std::string& text, DWORD timeoutMs);
