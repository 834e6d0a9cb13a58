#pragma once
// The seven cabinets of the product package are written on a second thread while the
// installer engine already runs; the package, started with WRAPPER=1, waits on the named
// ready event before it reads any cabinet.
#include <windows.h>

extern const char kReadyEventName[];  // "OrvikKZTCabExtractWaitEvent"

// Creates (or opens, when it exists) the manual-reset ready event, non-signalled when new.
// Returns its handle, or null.
HANDLE CreateReadyEvent();

// Sets the ready event through a handle of its own, then closes that handle.
void SignalReadyEvent();

// Thread routine; parameter: the module handle. Writes the cabinets in table order into the
// staging folder (absent resources are skipped), signals the ready event, returns 1.
DWORD WINAPI ExtractCabinets(LPVOID module);
