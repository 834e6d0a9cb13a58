#include "cabinet_thread.h"

#include "../support/text_buffer.h"
#include "build_constants.h"
#include "payload_resources.h"
#include "resource_writer.h"
#include "staged_file_guard.h"
#include "staging_folder.h"

const char kReadyEventName[] = "OrvikKZTCabExtractWaitEvent";

namespace {

struct CabinetEntry {
  const char* nameFormat;
  const char* type;
  int id;
};

// Write order; deliberately not the order of the identifiers.
const CabinetEntry kCabinets[] = {
    {"ss%s%s%s%s0", PAYLOAD_TYPE_CAB9, PAYLOAD_ID_CAB9},
    {"st%s%s%s%s0", PAYLOAD_TYPE_CAB10, PAYLOAD_ID_CAB10},
    {"sj%s%s%s%s0", PAYLOAD_TYPE_CAB7, PAYLOAD_ID_CAB7},
    {"sp%s%s%s%s0", PAYLOAD_TYPE_CAB8, PAYLOAD_ID_CAB8},
    {"sz%s%s%s%s0", PAYLOAD_TYPE_CAB11, PAYLOAD_ID_CAB11},
    {"sb%s%s%s%s0", PAYLOAD_TYPE_CAB12, PAYLOAD_ID_CAB12},
    {"sr%s%s%s%s0", PAYLOAD_TYPE_CAB13, PAYLOAD_ID_CAB13},
};

}  // namespace

HANDLE CreateReadyEvent() { return CreateEventA(nullptr, TRUE, FALSE, kReadyEventName); }

void SignalReadyEvent() {
  HANDLE event = CreateReadyEvent();
  if (event == nullptr) return;
  SetEvent(event);
  CloseHandle(event);
}

DWORD WINAPI ExtractCabinets(LPVOID parameter) {
  HMODULE module = static_cast<HMODULE>(parameter);
  int amd64 = IsAmd64Build();
  for (const CabinetEntry& cabinet : kCabinets) {
    char name[kPathCapacity] = {};
    char path[kPathCapacity] = {};
    FormatText(name, sizeof name, cabinet.nameFormat, MajorVersionText, MinorVersionText,
               MicroVersionText, UpdateVersionText);
    if (PrepareCabinetPath(path, name, amd64)) {
      ExtractResourceToFileComparingLater(module, cabinet.id, cabinet.type, path);
    } else {
      RefuseResourceFile(module, cabinet.id, cabinet.type, GetLastError());
    }
  }
  // The package reads the cabinets once the event is set: every one must be known good.
  AwaitFileComparisons();
  SignalReadyEvent();
  return 1;
}
