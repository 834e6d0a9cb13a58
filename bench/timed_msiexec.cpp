// Stands in for msiexec.exe in the latency benchmark: appends its own creation time (100 ns
// units, as the kernel recorded it), how many staged cabinet files existed and whether the
// ready event was already signalled when it started, to the file named by
// BENCH_ENGINE_RECORD, then exits 0 at once.
#include <windows.h>
#include <stdio.h>
#include <stdlib.h>

int main() {
  FILETIME creation, exit, kernel, user;
  GetProcessTimes(GetCurrentProcess(), &creation, &exit, &kernel, &user);
  const char* record = getenv("BENCH_ENGINE_RECORD");
  const char* staging = getenv("BENCH_STAGING_FOLDER");
  if (record == nullptr) return 0;
  int present = 0;
  if (staging != nullptr) {
    const char* names[] = {"ss", "st", "sj", "sp", "sz", "sb", "sr"};
    for (const char* name : names) {
      char path[MAX_PATH];
      snprintf(path, sizeof path, "%s\\%s160320.cab", staging, name);
      present += GetFileAttributesA(path) != INVALID_FILE_ATTRIBUTES;
    }
  }
  HANDLE ready = OpenEventA(SYNCHRONIZE, FALSE, "OrvikKZTCabExtractWaitEvent");
  int signalled = ready != nullptr && WaitForSingleObject(ready, 0) == WAIT_OBJECT_0;
  FILE* file = fopen(record, "a");
  if (file == nullptr) return 0;
  fprintf(file, "%llu %d %d\n",
          (static_cast<unsigned long long>(creation.dwHighDateTime) << 32) | creation.dwLowDateTime, present,
          signalled);
  fclose(file);
  return 0;
}
