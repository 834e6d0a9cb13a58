// A library that loads but offers none of the shell's folder functions: the staging-folder
// tests load it in place of shell32.dll or shfolder.dll to reach the fallbacks taken when a
// function is missing.
#include <windows.h>

extern "C" __declspec(dllexport) int WINAPI FakeBareMarker() { return 1; }
