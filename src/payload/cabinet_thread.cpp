#include "cabinet_thread.h"

#include "../support/text_buffer.h"
#include "build_constants.h"
#include "payload_resources.h"
#include "resource_writer.h"
#include "locked_payload_files.h"
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

namespace {

// The event this process made, set by the cabinet thread through a duplicate.
HANDLE runReadyEvent = nullptr;

// Everyone (S-1-1-0) may wait; the Administrators group (S-1-5-32-544) and the system
// (S-1-5-18) may do anything. An unelevated process of the same user has the Administrators
// group for denial only, so it can neither set nor reset the event, nor change this list:
// the owner of an elevated process's objects is the Administrators group.
struct ReadyEventSecurity {
  SECURITY_DESCRIPTOR descriptor;
  BYTE acl[256];
};

int DescribeReadyEventSecurity(ReadyEventSecurity* security) {
  SID_IDENTIFIER_AUTHORITY world = SECURITY_WORLD_SID_AUTHORITY;
  SID_IDENTIFIER_AUTHORITY nt = SECURITY_NT_AUTHORITY;
  PSID everyone = nullptr;
  PSID administrators = nullptr;
  PSID system = nullptr;
  PACL acl = reinterpret_cast<PACL>(security->acl);
  int described =
      AllocateAndInitializeSid(&world, 1, SECURITY_WORLD_RID, 0, 0, 0, 0, 0, 0, 0, &everyone) &&
      AllocateAndInitializeSid(&nt, 2, SECURITY_BUILTIN_DOMAIN_RID, DOMAIN_ALIAS_RID_ADMINS, 0, 0, 0, 0, 0, 0,
                               &administrators) &&
      AllocateAndInitializeSid(&nt, 1, SECURITY_LOCAL_SYSTEM_RID, 0, 0, 0, 0, 0, 0, 0, &system) &&
      InitializeAcl(acl, sizeof security->acl, ACL_REVISION) &&
      AddAccessAllowedAce(acl, ACL_REVISION, SYNCHRONIZE, everyone) &&
      AddAccessAllowedAce(acl, ACL_REVISION, EVENT_ALL_ACCESS, administrators) &&
      AddAccessAllowedAce(acl, ACL_REVISION, EVENT_ALL_ACCESS, system) &&
      InitializeSecurityDescriptor(&security->descriptor, SECURITY_DESCRIPTOR_REVISION) &&
      SetSecurityDescriptorDacl(&security->descriptor, TRUE, acl, FALSE);
  if (everyone != nullptr) FreeSid(everyone);
  if (administrators != nullptr) FreeSid(administrators);
  if (system != nullptr) FreeSid(system);
  return described;
}

}  // namespace

HANDLE CreateReadyEvent() {
  ReadyEventSecurity security;
  if (!DescribeReadyEventSecurity(&security)) return nullptr;
  SECURITY_ATTRIBUTES attributes = {sizeof attributes, &security.descriptor, FALSE};
  HANDLE event = CreateEventA(&attributes, TRUE, FALSE, kReadyEventName);
  if (event == nullptr) return nullptr;
  if (GetLastError() == ERROR_ALREADY_EXISTS) {
    // Not this run's: whoever made it may have set it already, or may set it at any time.
    CloseHandle(event);
    SetLastError(ERROR_ALREADY_EXISTS);
    return nullptr;
  }
  runReadyEvent = event;
  return event;
}

void SignalReadyEvent() {
  HANDLE event = nullptr;
  if (runReadyEvent != nullptr) {
    DuplicateHandle(GetCurrentProcess(), runReadyEvent, GetCurrentProcess(), &event, EVENT_MODIFY_STATE, FALSE, 0);
  } else {
    event = OpenEventA(EVENT_MODIFY_STATE, FALSE, kReadyEventName);
  }
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
