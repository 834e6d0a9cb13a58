#pragma once
// The seven cabinets of the product package are written on a second thread while the
// installer engine already runs; the package, started with WRAPPER=1, waits on the named
// ready event before it reads any cabinet.
#include <windows.h>

extern const char kReadyEventName[];  // "OrvikKZTCabExtractWaitEvent"

// Creates the manual-reset ready event, not signalled, as this run's own: anybody may wait
// on it, but only administrators and the system may set it (an elevated wrapper is both;
// the user's other processes are neither). Returns its handle, or null when it could not be
// made new, with the reason as the last error: ERROR_ALREADY_EXISTS when it existed (another
// process made it first: another wrapper, or one that wants the package to read its cabinets
// early), or the creation's error (an object of that name the wrapper may not open).
HANDLE CreateReadyEvent();

// Sets the run's ready event through a handle of its own (a duplicate of the one
// CreateReadyEvent made in this process), then closes that handle. In a process that made
// none, the event is opened by name.
void SignalReadyEvent();

// Thread routine; parameter: the module handle. Writes the cabinets in table order into the
// staging folder (absent resources are skipped), signals the ready event, returns 1.
DWORD WINAPI ExtractCabinets(LPVOID module);
