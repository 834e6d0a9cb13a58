#include "update_service.h"

#include <shlobj.h>
#include <string.h>

#include "../engine/engine_location.h"
#include "../engine/process_runner.h"
#include "../payload/build_constants.h"
#include "../payload/payload_resources.h"
#include "../payload/resource_writer.h"
#include "../payload/staging_folder.h"
#include "../support/exact_narrow_path.h"
#include "../support/registry_key.h"
#include "../support/text_buffer.h"
#include "release_identity.h"          // generated
#include "update_service_identity.h"  // generated from au.msi

namespace {
const char kRuntimeKey[] = "SOFTWARE\\Halvern\\Zelvan Runtime Environment\\" WRAPPER_PRODUCT_VERSION;
const char kUpdateServiceKey[] = "SOFTWARE\\Halvern\\Auto Update";
const char kUpdateServiceVersionValue[] = "AUVersion";
// The carried update service's own version and product code, read from the carried au.msi
// when the executable is built: anything that sorts below the version is replaced, and the
// removal names the product the new package installs.
const char kCarriedUpdateServiceVersion[] = WRAPPER_UPDATE_SERVICE_VERSION;
const char kRemovalCommandLine[] = " /x " WRAPPER_UPDATE_SERVICE_PRODUCT_CODE " /qn";
constexpr size_t kVersionCapacity = 1024;
constexpr int kFolderProgramFilesCommon = 43;  // CSIDL_PROGRAM_FILES_COMMON
}  // namespace

int IsRuntimeRegistered() {
  RegistryKey key;
  int opened = key.Open(HKEY_LOCAL_MACHINE, kRuntimeKey, KEY_READ) == ERROR_SUCCESS;
  key.Close();
  return opened;
}

int ReadUpdateServiceVersion(char* buffer, unsigned long capacity) {
  HKEY key = nullptr;
  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, kUpdateServiceKey, 0, KEY_READ, &key) != ERROR_SUCCESS) {
    return 0;
  }
  DWORD byteCount = capacity;
  LONG read = RegQueryValueExA(key, kUpdateServiceVersionValue, nullptr, nullptr,
                               reinterpret_cast<BYTE*>(buffer), &byteCount);
  RegCloseKey(key);
  return read == ERROR_SUCCESS;
}

int IsUpdateServiceOutdated() {
  char version[kVersionCapacity] = {};
  if (!ReadUpdateServiceVersion(version, sizeof version)) return 0;
  // A value that fills the whole buffer has no terminator to stop the comparison: it cannot
  // be judged, so it is left in place.
  if (memchr(version, '\0', sizeof version) == nullptr) return 0;
  return lstrcmpA(version, kCarriedUpdateServiceVersion) < 0;
}

int UninstallUpdateService() {
  char enginePath[kVersionCapacity] = {};
  LocateInstallerEngine(enginePath, sizeof enginePath);
  return RunAndPumpMessages(enginePath, kRemovalCommandLine);
}

int RemoveOutdatedUpdateService() {
  return IsUpdateServiceOutdated() ? UninstallUpdateService() : 0;
}

int FormatRegistrationCommandLine(char* commandLine, size_t capacity, const char* commonFilesFolder,
                                  const char* buildString) {
  return FormatText(commandLine, capacity, "\"%s\\Zelvan\\Zelvan Update\\dorvane.exe\" -r rtq %s",
                    commonFilesFolder, buildString);
}

void InstallUpdateService(HMODULE module) {
  // The main run has already required the engine.
  char enginePath[kPathCapacity] = {};
  LocateInstallerEngine(enginePath, sizeof enginePath);

  char folder[kPathCapacity] = {};
  char packagePath[kPathCapacity] = {};
  char cabinetPath[kPathCapacity] = {};
  if (!PrepareUpdateServiceFolder(folder)) {
    // A path that would not fit is never cut: the phase is skipped. A link in the folder
    // chain fails the writes like every staged file.
    DWORD refusal = GetLastError();
    if (refusal == ERROR_FILENAME_EXCED_RANGE) return;
    RefuseResourceFile(module, PAYLOAD_ID_UPDATE_SERVICE_CABINET, PAYLOAD_TYPE_INSTALLER, refusal);
    RefuseResourceFile(module, PAYLOAD_ID_UPDATE_SERVICE_PACKAGE, PAYLOAD_TYPE_INSTALLER, refusal);
    return;
  }
  if (!FormatText(packagePath, sizeof packagePath, "%sau.msi", folder) ||
      !FormatText(cabinetPath, sizeof cabinetPath, "%sau.cab", folder)) {
    return;
  }

  ExtractResourceToFile(module, PAYLOAD_ID_UPDATE_SERVICE_CABINET, PAYLOAD_TYPE_INSTALLER, cabinetPath);
  if (!ExtractResourceToFile(module, PAYLOAD_ID_UPDATE_SERVICE_PACKAGE, PAYLOAD_TYPE_INSTALLER,
                             packagePath)) {
    return;
  }

  RemoveOutdatedUpdateService();

  char commandLine[kCommandLineCapacity] = {};
  if (FormatText(commandLine, sizeof commandLine, "\"%s\" /i \"%s\" ALLUSERS=1 /qn", enginePath,
                 packagePath)) {
    RunAndWait(commandLine);
  }

  // Asked for as wide text and converted exactly: the narrow lookup would give a best-fit
  // look-alike of a folder outside the code page, and the elevated wrapper would start a
  // tool of that name. No exact name: registration is skipped as when there is no folder.
  WCHAR wideCommonFiles[kPathCapacity] = {};
  if (FAILED(SHGetFolderPathW(nullptr, kFolderProgramFilesCommon, nullptr, 0, wideCommonFiles))) {
    return;
  }
  char commonFiles[kPathCapacity] = {};
  if (!ConvertWidePathExactly(wideCommonFiles, commonFiles, sizeof commonFiles)) return;
  if (FormatRegistrationCommandLine(commandLine, sizeof commandLine, commonFiles, BuildString)) {
    RunAndWait(commandLine);
  }
}
