#pragma once
// The whole install, from hardening the library search path to the process exit code.
#include <windows.h>

// Runs the install for the process's command line; module is the executable's instance
// handle (every resource lookup goes through it). Returns the exit code.
int RunInstallSequence(HMODULE module);
