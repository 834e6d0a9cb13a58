#include "package_path_adjustment.h"

#include <string.h>

namespace {

char LowerAscii(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

// 1 when text begins with prefix, ASCII letters compared without regard to case (the file
// system's view of the system folder's name, which is ASCII).
int StartsWithIgnoringCase(const char* text, const char* prefix) {
  for (; *prefix != '\0'; ++text, ++prefix) {
    if (*text == '\0' || LowerAscii(*text) != LowerAscii(*prefix)) return 0;
  }
  return 1;
}

}  // namespace

char* ReplaceSameLength(char* text, const char* search, const char* replacement) {
  size_t length = strlen(search);
  if (length != strlen(replacement)) return text;
  char* found = strstr(text, search);
  if (found == nullptr) return text;
  memcpy(found, replacement, length);  // no terminator: the rest of the text stays
  return text;
}

void AdjustPackagePathForEngine(char* packagePath, const char* enginePath, const char* systemFolder) {
  if (strstr(enginePath, "SysWOW64") == nullptr) return;
  size_t systemLength = strlen(systemFolder);
  if (systemLength == 0 || !StartsWithIgnoringCase(packagePath, systemFolder) ||
      packagePath[systemLength] != '\\') {
    return;
  }
  // Only the system folder's own name is replaced: cut the text there for the search.
  char kept = packagePath[systemLength];
  packagePath[systemLength] = '\0';
  ReplaceSameLength(packagePath, "system32", "SysWOW64");
  packagePath[systemLength] = kept;
}
