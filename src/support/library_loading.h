#pragma once
// Libraries are only ever loaded by their full path in the system directory, so a planted
// copy beside the installer (a downloads folder) is never picked up.
#include <windows.h>

// The function name of library, or null (also when library is null), as the caller's type.
// Functions that older systems lack are looked up at run time, never imported.
template <typename Function>
Function LookUpFunction(HMODULE library, const char* name) {
  if (library == nullptr) return nullptr;
  return reinterpret_cast<Function>(reinterpret_cast<void*>(GetProcAddress(library, name)));
}

// Loads system-directory\name; returns the module or null. Logs nothing. The caller frees it.
HMODULE LoadSystemLibrary(const char* name);

// The same, with every failure appended to the diagnostic log.
HMODULE RTQ_System_LoadLibrary(const char* name);

// Calls SetDllDirectoryA(directory) through kernel32 looked up at run time; returns 1 when it
// was accepted, else 0 (logged). With "" the current directory leaves the search order.
int HardenDllSearchPath(const char* directory);
