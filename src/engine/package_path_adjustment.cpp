#include "package_path_adjustment.h"

#include <string.h>

char* ReplaceSameLength(char* text, const char* search, const char* replacement) {
  size_t length = strlen(search);
  if (length != strlen(replacement)) return text;
  char* found = strstr(text, search);
  if (found == nullptr) return text;
  memcpy(found, replacement, length);  // no terminator: the rest of the text stays
  return text;
}

void AdjustPackagePathForEngine(char* packagePath, const char* enginePath) {
  if (strstr(enginePath, "SysWOW64") != nullptr) {
    ReplaceSameLength(packagePath, "system32", "SysWOW64");
  }
}
