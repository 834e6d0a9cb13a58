#pragma once
// Child processes: every installer run and the registration tool. The wrapper waits for
// each to end before it goes on.
#include <windows.h>

// Command lines handed to the runners never exceed this, terminator included.
constexpr size_t kCommandLineCapacity = 1024;

// Starts a complete command line (its first token names the program) and waits without
// dispatching messages. Returns the child's exit code, or 1 when it cannot be started or its
// exit code cannot be read.
int RunAndWait(const char* commandLine);

// Starts applicationPath with commandLine handed to the child unchanged, dispatching the
// thread's window messages while it waits. Returns the child's exit code (0 when it cannot
// be read), or the system error code when it cannot be started.
int RunAndPumpMessages(const char* applicationPath, const char* commandLine);

// Returns once handle is signalled or the wait fails, dispatching messages meanwhile.
void WaitWithMessagePump(HANDLE handle);
