#pragma once
// After a successful install the wrapper installs the update service it carries (au.msi
// with au.cab), removes an older one first, and runs the service's registration tool.
#include <windows.h>

// 1 when the runtime of this version is registered (its registry key opens), else 0.
int IsRuntimeRegistered();

// Writes the update-service files, removes an outdated service, installs the new one for
// all users and runs the registration tool. Failures end only the step at hand, except a
// payload file that cannot be written, which ends the process like every payload write.
void InstallUpdateService(HMODULE module);

// Removes the installed update service when it is outdated; returns the removal's result,
// or 0 when nothing was removed.
int RemoveOutdatedUpdateService();

// 1 when "AUVersion" was read and sorts below the carried update service's version (its
// ProductVersion, read from au.msi at build time) under lstrcmpA (text, not numbers).
int IsUpdateServiceOutdated();

// Reads "AUVersion" as raw bytes, whatever its type. Returns 1, else 0.
int ReadUpdateServiceVersion(char* buffer, unsigned long capacity);

// Runs the engine with " /x <product code of the carried au.msi> /qn", dispatching
// messages meanwhile. Returns its exit code, or the system error code when it cannot start.
int UninstallUpdateService();

// The registration tool's command line: the tool's path quoted (an elevated process must not
// let the platform try "C:\Program.exe" first), then " -r rtq " and the build string.
// Returns 1, or 0 when it does not fit capacity.
int FormatRegistrationCommandLine(char* commandLine, size_t capacity, const char* commonFilesFolder,
                                  const char* buildString);
