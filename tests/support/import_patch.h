#pragma once
// Swaps an entry of a module's import address table, so a test can watch (or make fail) the
// platform calls that code linked into that module makes, without touching the code itself.
#include <windows.h>

// Points every slot of module's imports of dll!function at replacement. Returns the address
// the slot held before (the platform's function), or null when the module imports no such
// function.
void* ReplaceImport(HMODULE module, const char* dll, const char* function, void* replacement);

// Typed convenience: replaces and stores the original in *original.
template <typename Function>
bool HookImport(const char* dll, const char* function, Function replacement, Function* original) {
  void* previous = ReplaceImport(GetModuleHandleA(nullptr), dll, function,
                                 reinterpret_cast<void*>(replacement));
  if (previous == nullptr) return false;
  *original = reinterpret_cast<Function>(previous);
  return true;
}
