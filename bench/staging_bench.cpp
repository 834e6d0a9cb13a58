// Times the cabinet thread against the disk's own limit, on the payload this program carries
// (the same resources as the wrapper):
//   thread   ExtractCabinets on its thread, until the ready event is signalled
//   single   the same seven resources written with one WriteFile per file (the disk's limit)
//   floor    the same seven resources in chunks of at most 8192 bytes, the writer's own
//            contract, with no folder lookups and no checks (paths found before timing)
//   package  the product package alone, as the main thread writes it before the engine starts
// Usage: staging-bench.exe <repetitions> <result file>; each line of the result file reads
// "<mode> <seconds>". Modes alternate so that drift of the machine affects them alike.
#include <windows.h>
#include <stdio.h>
#include <stdlib.h>

#include "payload/build_constants.h"
#include "payload/cabinet_thread.h"
#include "payload/payload_resources.h"
#include "payload/resource_writer.h"
#include "payload/error_box.h"
#include "payload/held_folders.h"
#include "payload/locked_payload_files.h"
#include "payload/staging_folder.h"
#include "support/text_buffer.h"

namespace {

struct Cabinet {
  const char* name;
  const char* type;
  int id;
};
const Cabinet kCabinets[] = {
    {"ss160320", PAYLOAD_TYPE_CAB9, PAYLOAD_ID_CAB9},   {"st160320", PAYLOAD_TYPE_CAB10, PAYLOAD_ID_CAB10},
    {"sj160320", PAYLOAD_TYPE_CAB7, PAYLOAD_ID_CAB7},   {"sp160320", PAYLOAD_TYPE_CAB8, PAYLOAD_ID_CAB8},
    {"sz160320", PAYLOAD_TYPE_CAB11, PAYLOAD_ID_CAB11}, {"sb160320", PAYLOAD_TYPE_CAB12, PAYLOAD_ID_CAB12},
    {"sr160320", PAYLOAD_TYPE_CAB13, PAYLOAD_ID_CAB13},
};

double Now() {
  LARGE_INTEGER counter, frequency;
  QueryPerformanceCounter(&counter);
  QueryPerformanceFrequency(&frequency);
  return static_cast<double>(counter.QuadPart) / static_cast<double>(frequency.QuadPart);
}

// The writer holds every file it wrote until the process ends; a benchmark that writes the
// same files again lets go of them first.
void RemoveStagedCabinets() {
  ReleaseStagedHoldsForTesting();
  for (const Cabinet& cabinet : kCabinets) {
    char path[kPathCapacity] = {};
    PrepareCabinetPath(path, cabinet.name, IsAmd64Build());
    DeleteFileA(path);
  }
}

double TimeCabinetThread(HMODULE module, HANDLE readyEvent) {
  ResetEvent(readyEvent);
  double start = Now();
  HANDLE thread = CreateThread(nullptr, 0, ExtractCabinets, module, 0, nullptr);
  WaitForSingleObject(readyEvent, INFINITE);
  double seconds = Now() - start;
  WaitForSingleObject(thread, INFINITE);
  CloseHandle(thread);
  return seconds;
}

double TimeSingleWrites(HMODULE module) {
  double start = Now();
  for (const Cabinet& cabinet : kCabinets) {
    char path[kPathCapacity] = {};
    PrepareCabinetPath(path, cabinet.name, IsAmd64Build());
    HRSRC resource = FindResourceA(module, MAKEINTRESOURCEA(cabinet.id), cabinet.type);
    if (resource == nullptr) continue;
    DWORD size = SizeofResource(module, resource);
    const void* bytes = LockResource(LoadResource(module, resource));
    HANDLE file = CreateFileA(path, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    DWORD written = 0;
    WriteFile(file, bytes, size, &written, nullptr);
    CloseHandle(file);
  }
  return Now() - start;
}

double TimeChunkedWrites(HMODULE module) {
  char paths[7][kPathCapacity] = {};
  for (int i = 0; i < 7; ++i) PrepareCabinetPath(paths[i], kCabinets[i].name, IsAmd64Build());
  double start = Now();
  for (int i = 0; i < 7; ++i) {
    HRSRC resource = FindResourceA(module, MAKEINTRESOURCEA(kCabinets[i].id), kCabinets[i].type);
    if (resource == nullptr) continue;
    DWORD size = SizeofResource(module, resource);
    const BYTE* bytes = static_cast<const BYTE*>(LockResource(LoadResource(module, resource)));
    HANDLE file = CreateFileA(paths[i], GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    for (DWORD done = 0; done < size;) {
      DWORD chunk = size - done < 8192 ? size - done : 8192;
      DWORD written = 0;
      if (!WriteFile(file, bytes + done, chunk, &written, nullptr) || written == 0) break;
      done += written;
    }
    CloseHandle(file);
  }
  return Now() - start;
}

double TimePackage(HMODULE module) {
  char path[kPathCapacity] = {};
  PreparePackagePath(path, IsAmd64Build());
  ReleaseStagedHoldsForTesting();
  double start = Now();
  ExtractResourceToFile(module, PAYLOAD_ID_PRODUCT_PACKAGE, PAYLOAD_TYPE_INSTALLER, path);
  return Now() - start;
}

}  // namespace

int WINAPI WinMain(HINSTANCE module, HINSTANCE, LPSTR, int) {
  if (__argc < 3) return 2;
  int repetitions = atoi(__argv[1]);
  FILE* results = fopen(__argv[2], "w");
  if (results == nullptr) return 3;
  HANDLE readyEvent = CreateReadyEvent();
  // The wrapper imports shell32.dll, so the folder lookups only add to its load count; keep
  // it loaded here too rather than time its loading and unloading seven times a round.
  LoadLibraryA("shell32.dll");
  // One untimed round first, so that every run finds the folders and the image paged in.
  TimeSingleWrites(module);
  for (int i = 0; i < repetitions; ++i) {
    // Each write leaves the disk work to do afterwards, which falls on whatever comes next: the
    // thread and the floor it is measured against take turns in coming first.
    for (int turn = 0; turn < 2; ++turn) {
      RemoveStagedCabinets();
      if ((turn == 0) == (i % 2 == 0)) {
        fprintf(results, "thread %.6f\n", TimeCabinetThread(module, readyEvent));
      } else {
        fprintf(results, "floor %.6f\n", TimeChunkedWrites(module));
      }
    }
    RemoveStagedCabinets();
    fprintf(results, "single %.6f\n", TimeSingleWrites(module));
    fprintf(results, "package %.6f\n", TimePackage(module));
    fflush(results);
  }
  fclose(results);
  return 0;
}
