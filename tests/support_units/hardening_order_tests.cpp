// The library search is hardened before the wrapper loads any library but the kernel32.dll
// that the hardening is looked up in. Wine keeps the current directory in the search
// whatever SetDllDirectoryA is told, so the effect cannot be seen here; the order can: the
// install sequence runs in this process, whose imports are watched, up to the product
// package that this program does not carry.
#include <gtest/gtest.h>
#include <windows.h>

#include <algorithm>
#include <string>
#include <vector>

#include "driver/install_sequence.h"
#include "import_patch.h"

namespace {

std::vector<std::string> events;

decltype(&LoadLibraryA) realLoadLibraryA = nullptr;
decltype(&LoadLibraryExA) realLoadLibraryExA = nullptr;
decltype(&GetProcAddress) realGetProcAddress = nullptr;
typedef BOOL(WINAPI* SetDllDirectoryFunction)(LPCSTR);
SetDllDirectoryFunction realSetDllDirectoryA = nullptr;

std::string BaseName(const char* path) {
  std::string name = path != nullptr ? path : "(null)";
  size_t slash = name.find_last_of("\\/");
  name = slash == std::string::npos ? name : name.substr(slash + 1);
  for (char& c : name) c = static_cast<char>(tolower(static_cast<unsigned char>(c)));
  return name;
}

BOOL WINAPI RecordingSetDllDirectoryA(LPCSTR folder) {
  events.push_back(std::string("harden \"") + (folder != nullptr ? folder : "(null)") + "\"");
  return realSetDllDirectoryA(folder);
}

FARPROC WINAPI RecordingGetProcAddress(HMODULE module, LPCSTR name) {
  FARPROC function = realGetProcAddress(module, name);
  if (function != nullptr && HIWORD(reinterpret_cast<ULONG_PTR>(name)) != 0 && strcmp(name, "SetDllDirectoryA") == 0) {
    realSetDllDirectoryA = reinterpret_cast<SetDllDirectoryFunction>(reinterpret_cast<void*>(function));
    return reinterpret_cast<FARPROC>(reinterpret_cast<void*>(&RecordingSetDllDirectoryA));
  }
  return function;
}

HMODULE WINAPI RecordingLoadLibraryA(LPCSTR path) {
  events.push_back("load " + BaseName(path));
  return realLoadLibraryA(path);
}

HMODULE WINAPI RecordingLoadLibraryExA(LPCSTR path, HANDLE file, DWORD flags) {
  events.push_back("load " + BaseName(path));
  return realLoadLibraryExA(path, file, flags);
}

// Every way this program's code loads a library or finds SetDllDirectoryA; a function the
// program does not import cannot be called by the wrapper's code in it either.
bool Watch() {
  bool watched = HookImport("kernel32.dll", "GetProcAddress", &RecordingGetProcAddress, &realGetProcAddress);
  bool loads = HookImport("kernel32.dll", "LoadLibraryA", &RecordingLoadLibraryA, &realLoadLibraryA);
  loads = HookImport("kernel32.dll", "LoadLibraryExA", &RecordingLoadLibraryExA, &realLoadLibraryExA) || loads;
  return watched && loads;
}

std::string Describe(const std::vector<std::string>& lines) {
  std::string text;
  for (const std::string& line : lines) text += "\n  " + line;
  return text;
}

TEST(HardeningOrder, TheSearchIsHardenedBeforeAnyOtherLibraryIsLoaded) {
  ASSERT_TRUE(Watch());
  events.clear();
  // No product package in this program: the sequence stops with 1 once the package's path
  // is prepared, after the engine gate and the folder lookups have loaded their libraries.
  EXPECT_EQ(RunInstallSequence(GetModuleHandleA(nullptr)), 1);
  size_t hardened = events.size();
  for (size_t i = 0; i < events.size() && hardened == events.size(); ++i) {
    if (events[i] == "harden \"\"") hardened = i;
  }
  ASSERT_LT(hardened, events.size()) << "the search was never hardened:" << Describe(events);
  for (size_t i = 0; i < hardened; ++i) {
    EXPECT_EQ(events[i], "load kernel32.dll") << "loaded before the search was hardened:" << Describe(events);
  }
  // The check saw the loads that matter, after the hardening.
  std::vector<std::string> after(events.begin() + static_cast<long>(hardened) + 1, events.end());
  EXPECT_NE(std::find(after.begin(), after.end(), "load version.dll"), after.end()) << Describe(events);
  EXPECT_NE(std::find(after.begin(), after.end(), "load shell32.dll"), after.end()) << Describe(events);
}

}  // namespace
