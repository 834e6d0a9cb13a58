// A child the writer tests start. It writes its own resource the way the wrapper writes a
// payload file, so a failure ends this process, with its box, instead of the test.
//   resource_probe write PATH                  exit 100 + the writer's result
//   resource_probe write-missing PATH          the same for a resource the probe lacks
//   resource_probe write-fails CODE N PATH     the Nth write fails with CODE
//   resource_probe write-stalls PATH           every write succeeds with 0 bytes written
//   resource_probe close-fails CODE PATH       closing the file fails with CODE
//   resource_probe swapped PATH                right after the written file is closed, another
//                                              writer changes its first byte
//   resource_probe taken PATH                  right after it is closed, another writer opens
//                                              it without sharing and keeps it
//   resource_probe write-later PATH            the large resource, compared on the comparer
//                                              thread, then awaited; exit 100 + the result
//   resource_probe swapped-later OFFSET PATH   the same, and right after the close another
//                                              writer changes the byte at OFFSET
//   resource_probe fail CODE                   last error CODE, then the create-file failure
//   resource_probe refuse CODE                 a refused path for the probe's resource
//   resource_probe refuse-missing CODE         the same for a resource the probe lacks
//   resource_probe cabinets MODULE             the cabinet thread on the resources of the
//                                              library MODULE, as the wrapper starts it; exit
//                                              77 when the thread ends
// CODE is decimal or 0x-hexadecimal. Failures are injected at this program's import table;
// the writer's code is the wrapper's own.
#include <windows.h>
#include <stdlib.h>
#include <string.h>

#include "import_patch.h"
#include "payload/cabinet_thread.h"
#include "payload/resource_writer.h"
#include "payload/error_box.h"
#include "payload/held_folders.h"
#include "payload/locked_payload_files.h"

namespace {

constexpr int kProbeResource = 7;
constexpr int kAbsentResource = 8;
constexpr int kLargeResource = 9;
const char kProbeType[] = "PROBE_DATA";

decltype(&WriteFile) realWriteFile = nullptr;
decltype(&CloseHandle) realCloseHandle = nullptr;
DWORD injectedCode = 0;
DWORD failingWrite = 0;
DWORD writeCalls = 0;

BOOL WINAPI FailingWriteFile(HANDLE file, LPCVOID bytes, DWORD size, LPDWORD written,
                             LPOVERLAPPED overlapped) {
  if (++writeCalls >= failingWrite) {
    SetLastError(injectedCode);
    return FALSE;
  }
  return realWriteFile(file, bytes, size, written, overlapped);
}

BOOL WINAPI StallingWriteFile(HANDLE, LPCVOID, DWORD, LPDWORD written, LPOVERLAPPED) {
  if (written != nullptr) *written = 0;
  return TRUE;
}

BOOL WINAPI FailingCloseHandle(HANDLE handle) {
  realCloseHandle(handle);
  SetLastError(injectedCode);
  return FALSE;
}

// What "another process" does in the moment between the writer's close and its lock.
const char* tamperedPath = nullptr;
bool tamperWithContent = false;
LONG tamperOffset = 0;
bool tampered = false;

decltype(&CreateFileA) realCreateFile = nullptr;
HANDLE writtenFile = INVALID_HANDLE_VALUE;

// Notes the handle the writer writes the file through, so that the tampering follows its
// close and no other.
HANDLE WINAPI NotingCreateFile(LPCSTR path, DWORD access, DWORD share, LPSECURITY_ATTRIBUTES security,
                               DWORD disposition, DWORD flags, HANDLE templateFile) {
  HANDLE file = realCreateFile(path, access, share, security, disposition, flags, templateFile);
  if ((access & GENERIC_WRITE) && tamperedPath != nullptr && lstrcmpiA(path, tamperedPath) == 0) {
    writtenFile = file;
  }
  return file;
}

BOOL WINAPI TamperingCloseHandle(HANDLE handle) {
  BOOL closed = realCloseHandle(handle);
  if (tamperedPath == nullptr || tampered || handle != writtenFile) return closed;
  tampered = true;
  HANDLE other = CreateFileA(tamperedPath, GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                             FILE_ATTRIBUTE_NORMAL, nullptr);
  if (tamperWithContent && other != INVALID_HANDLE_VALUE) {
    // The byte becomes its complement, so it differs whatever it was.
    BYTE changed = 0;
    DWORD count = 0;
    HANDLE reader = CreateFileA(tamperedPath, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    SetFilePointer(reader, tamperOffset, nullptr, FILE_BEGIN);
    ReadFile(reader, &changed, 1, &count, nullptr);
    realCloseHandle(reader);
    changed = static_cast<BYTE>(~changed);
    SetFilePointer(other, tamperOffset, nullptr, FILE_BEGIN);
    WriteFile(other, &changed, 1, &count, nullptr);
    realCloseHandle(other);
  }
  return closed;  // when taken, the other handle stays open
}

DWORD ParseCode(const char* text) { return static_cast<DWORD>(strtoul(text, nullptr, 0)); }

int Write(int id, const char* path) {
  return 100 + ExtractResourceToFile(GetModuleHandleA(nullptr), id, kProbeType, path);
}

int WriteLater(const char* path) {
  int result = ExtractResourceToFileComparingLater(GetModuleHandleA(nullptr), kLargeResource, kProbeType, path);
  AwaitFileComparisons();
  return 100 + result;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 3) return 2;
  const char* mode = argv[1];
  if (strcmp(mode, "write") == 0) return Write(kProbeResource, argv[2]);
  if (strcmp(mode, "refuse") == 0) {
    return 100 + RefuseResourceFile(GetModuleHandleA(nullptr), kProbeResource, kProbeType, ParseCode(argv[2]));
  }
  if (strcmp(mode, "refuse-missing") == 0) {
    return 100 + RefuseResourceFile(GetModuleHandleA(nullptr), kAbsentResource, kProbeType, ParseCode(argv[2]));
  }
  if (strcmp(mode, "write-missing") == 0) return Write(kAbsentResource, argv[2]);
  if (strcmp(mode, "write-fails") == 0 && argc >= 5) {
    injectedCode = ParseCode(argv[2]);
    failingWrite = ParseCode(argv[3]);
    if (!HookImport("kernel32.dll", "WriteFile", &FailingWriteFile, &realWriteFile)) return 3;
    return Write(kProbeResource, argv[4]);
  }
  if (strcmp(mode, "write-stalls") == 0) {
    if (!HookImport("kernel32.dll", "WriteFile", &StallingWriteFile, &realWriteFile)) return 3;
    return Write(kProbeResource, argv[2]);
  }
  if (strcmp(mode, "swapped") == 0 || strcmp(mode, "taken") == 0) {
    tamperedPath = argv[2];
    tamperWithContent = strcmp(mode, "swapped") == 0;
    if (!HookImport("kernel32.dll", "CloseHandle", &TamperingCloseHandle, &realCloseHandle) ||
        !HookImport("kernel32.dll", "CreateFileA", &NotingCreateFile, &realCreateFile)) {
      return 3;
    }
    return Write(kProbeResource, argv[2]);
  }
  if (strcmp(mode, "write-later") == 0) return WriteLater(argv[2]);
  if (strcmp(mode, "swapped-later") == 0 && argc >= 4) {
    tamperedPath = argv[3];
    tamperWithContent = true;
    tamperOffset = static_cast<LONG>(ParseCode(argv[2]));
    if (!HookImport("kernel32.dll", "CloseHandle", &TamperingCloseHandle, &realCloseHandle) ||
        !HookImport("kernel32.dll", "CreateFileA", &NotingCreateFile, &realCreateFile)) {
      return 3;
    }
    return WriteLater(argv[3]);
  }
  if (strcmp(mode, "close-fails") == 0 && argc >= 4) {
    injectedCode = ParseCode(argv[2]);
    if (!HookImport("kernel32.dll", "CloseHandle", &FailingCloseHandle, &realCloseHandle)) return 3;
    return Write(kProbeResource, argv[3]);
  }
  if (strcmp(mode, "cabinets") == 0) {
    HMODULE module = LoadLibraryA(argv[2]);
    if (module == nullptr) return 4;
    CreateReadyEvent();
    HANDLE thread = CreateThread(nullptr, 0, ExtractCabinets, module, 0, nullptr);
    if (thread == nullptr) return 5;
    WaitForSingleObject(thread, INFINITE);
    return 77;
  }
  if (strcmp(mode, "fail") == 0) {
    SetLastError(ParseCode(argv[2]));
    FailWithSystemError("Installer : Wrapper.CreateFile ");
  }
  return 2;
}
