// A library that only carries resources; the cabinet tests hand its module handle to the
// cabinet thread in place of the wrapper's own image.
#include <windows.h>

BOOL WINAPI DllMain(HINSTANCE, DWORD, LPVOID) { return TRUE; }
