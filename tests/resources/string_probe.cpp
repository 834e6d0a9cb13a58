// Loads string 4 of a module the way the wrapper does (LoadStringA, so in the ANSI code page
// of the user's locale) and records what it got, for resource_string_tests to compare:
//
//   string_probe MODULE OUTPUT
//
// OUTPUT gets four lines: langid=<GetUserDefaultLangID> uilang=<GetUserDefaultUILanguage>
// acp=<GetACP> bytes=<the loaded text in hex>. ctest starts one probe per locale, each in
// its own Wine process with its own LC_ALL: Wine fixes a process's locale when it starts.
#include <windows.h>
#include <stdio.h>

int main(int argc, char** argv) {
  if (argc != 3) {
    fprintf(stderr, "usage: string_probe MODULE OUTPUT\n");
    return 2;
  }
  HMODULE module = LoadLibraryExA(argv[1], nullptr, LOAD_LIBRARY_AS_DATAFILE);
  if (module == nullptr) {
    fprintf(stderr, "string_probe: cannot load %s (error %lu)\n", argv[1], GetLastError());
    return 3;
  }
  char text[1024];
  int length = LoadStringA(module, 4, text, sizeof text);
  FreeLibrary(module);
  if (length <= 0) {
    fprintf(stderr, "string_probe: string 4 not found (error %lu)\n", GetLastError());
    return 4;
  }

  // The record as text: about 2 hex digits per byte of a 1024-byte string, plus the heading.
  static char record[2 * sizeof text + 128];
  int used = snprintf(record, sizeof record, "langid=%u\nuilang=%u\nacp=%u\nbytes=",
                      static_cast<unsigned>(GetUserDefaultLangID()),
                      static_cast<unsigned>(GetUserDefaultUILanguage()), GetACP());
  for (int i = 0; text[i] != '\0' && used + 3 < static_cast<int>(sizeof record); ++i) {
    used += snprintf(record + used, sizeof record - used, "%02X",
                     static_cast<unsigned char>(text[i]));
  }
  used += snprintf(record + used, sizeof record - used, "\n");

  HANDLE file = CreateFileA(argv[2], GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) {
    fprintf(stderr, "string_probe: cannot create %s (error %lu)\n", argv[2], GetLastError());
    return 5;
  }
  DWORD written = 0;
  BOOL ok = WriteFile(file, record, static_cast<DWORD>(used), &written, nullptr);
  CloseHandle(file);
  if (!ok || written != static_cast<DWORD>(used)) return 6;
  printf("%s", record);
  return 0;
}
