// A library found nowhere on the default search path: the loading tests place copies of it
// where a planted library would lie.
#include <windows.h>

extern "C" __declspec(dllexport) int WrapperProbe() { return 1; }
