#include "install_sequence.h"

#include <stdlib.h>
#include <string.h>

#include "../engine/engine_location.h"
#include "../engine/engine_version_gate.h"
#include "../engine/package_path_adjustment.h"
#include "../engine/process_runner.h"
#include "../payload/build_constants.h"
#include "../payload/cabinet_thread.h"
#include "../payload/payload_resources.h"
#include "../payload/resource_writer.h"
#include "../payload/staging_folder.h"
#include "../support/exit_codes.h"
#include "../support/install_status.h"
#include "../support/library_loading.h"
#include "command_line.h"
#include "command_line_exactness.h"
#include "companion_packages.h"
#include "main_command_line.h"
#include "transform_language.h"
#include "update_service.h"

namespace {

constexpr size_t kStatusCapacity = 512;
constexpr size_t kMessageCapacity = 1024;

// One per process; the companion phase reads it after the main run.
char enginePath[kPathCapacity];
// Large records stay off the main thread's stack.
WrapperOptions options;

void ShowEngineTooOld(HMODULE module) {
  char message[kMessageCapacity] = {};
  LoadStringA(module, STRING_ID_ENGINE_TOO_OLD, message, sizeof message);
  MessageBoxA(nullptr, message, "", MB_ICONERROR | MB_OK);
}

}  // namespace

int RunInstallSequence(HMODULE module) {
  HardenDllSearchPath("");

  ResetWrapperOptions(&options, ChooseTransformLanguage());
  int exitCode = 1;
  int amd64 = 0;

  // An argument the code page cannot hold would reach the engine, or a folder switch, as a
  // look-alike: refused like one that does not fit.
  if (!AreArgumentsExact(__argc, __argv) || !ParseCommandLine(__argc, __argv, &options)) {
    return kExitCommandLineTooLong;
  }
  amd64 = IsAmd64Build();

  if (!CheckInstallerEngineVersion()) {
    ShowEngineTooOld(module);
    return kExitEngineTooOld;
  }

  // The ready event belongs to this run: made by anyone else first, it could be set before a
  // single cabinet is written. Made before anything is staged, so that a second wrapper
  // running at the same time leaves the first one's files alone.
  if (CreateReadyEvent() == nullptr) return kExitAnotherInstallInProgress;

  char packagePath[kPathCapacity] = {};
  int written = PreparePackagePath(packagePath, amd64)
                    ? ExtractResourceToFile(module, PAYLOAD_ID_PRODUCT_PACKAGE, PAYLOAD_TYPE_INSTALLER,
                                            packagePath)
                    : RefuseResourceFile(module, PAYLOAD_ID_PRODUCT_PACKAGE, PAYLOAD_TYPE_INSTALLER,
                                         GetLastError());
  if (!written) return exitCode;

  if (!LocateInstallerEngine(enginePath, sizeof enginePath)) return kExitEngineNotFound;

  char commandLine[kCommandLineCapacity] = {};
  if (!ApplySilentAdditions(&options)) return kExitCommandLineTooLong;
  char systemFolder[kPathCapacity] = {};
  UINT systemLength = GetSystemDirectoryA(systemFolder, sizeof systemFolder);
  if (systemLength == 0 || systemLength >= sizeof systemFolder) systemFolder[0] = '\0';
  AdjustPackagePathForEngine(packagePath, enginePath, systemFolder);
  if (!FormatMainCommandLine(commandLine, sizeof commandLine, enginePath, packagePath,
                             options.transformLanguage, options.optionString)) {
    return kExitCommandLineTooLong;
  }

  // The event is held until the process ends, so it stays signalled through a reinstall run.
  HANDLE cabinetThread = CreateThread(nullptr, 0, ExtractCabinets, module, 0, nullptr);
  // Without a second thread the package would wait for ever: the cabinets are written first.
  if (cabinetThread == nullptr) ExtractCabinets(module);
  exitCode = RunAndWait(commandLine);
  // A cabinet that could not be written or verified ends the process from the cabinet
  // thread, with its box and its code; the engine's result must not overtake it. The package
  // waits on the event, so in every normal run the thread has long ended here.
  if (cabinetThread != nullptr) {
    WaitForSingleObject(cabinetThread, INFINITE);
    CloseHandle(cabinetThread);
  }

  char status[kStatusCapacity] = {};
  ReadInstallStatus(status, sizeof status);
  status[kStatusCapacity - 1] = '\0';  // raw bytes of a non-string value may fill it
  if (strcmp(status, "reinstall") == 0) {
    ClearInstallStatus();
    exitCode = RunAndWait(commandLine);
  }

  if (options.silent) InstallCompanionPackages(enginePath, options.transformLanguage, &options);

  if (exitCode == 0 && IsRuntimeRegistered() && !amd64) InstallUpdateService(module);

  return exitCode;
}
