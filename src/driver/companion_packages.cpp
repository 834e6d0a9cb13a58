#include "companion_packages.h"

#include <windows.h>

#include "../engine/process_runner.h"
#include "../support/exact_narrow_path.h"
#include "../support/registry_key.h"
#include "../support/text_buffer.h"
#include "release_identity.h"  // generated
#include "transform_language.h"

namespace {
const char kKitKey[] = "SOFTWARE\\Halvern\\Zelvan Development Kit\\" WRAPPER_PRODUCT_VERSION;
const WCHAR kKitHomeValue[] = L"ZelvanHome";

// The folder is appended as given, without quotes: the product's own installer did so, and
// deployment scripts pass it already in the form the engine expects.
int AppendInstallDir(char* commandLine, const char* installDir) {
  if (installDir[0] == '\0') return 1;
  return AppendText(commandLine, kKitTextCapacity, " INSTALLDIR=") &&
         AppendText(commandLine, kKitTextCapacity, installDir);
}

void DeleteKitFile(const char* kitHome, const char* fileName) {
  char path[kKitTextCapacity] = {};
  if (FormatText(path, sizeof path, "%s\\%s", kitHome, fileName)) DeleteFileA(path);
}
}  // namespace

int ReadKitHome(char* buffer, unsigned long capacity) {
  if (capacity > 0) buffer[0] = '\0';
  RegistryKey key;
  if (key.Open(HKEY_LOCAL_MACHINE, kKitKey, KEY_READ) != ERROR_SUCCESS) return 0;
  // Read as the system holds it: the narrow read would give a best-fit look-alike of a
  // folder outside the code page, and the engine would install from another folder.
  WCHAR wide[kKitTextCapacity] = {};
  DWORD byteCount = sizeof wide;
  int read = key.QueryWideString(wide, kKitHomeValue, &byteCount) == ERROR_SUCCESS;
  key.Close();
  return read && ConvertWidePathExactly(wide, buffer, capacity);
}

int FileExists(const char* path) {
  WIN32_FIND_DATAA found;
  HANDLE search = FindFirstFileA(path, &found);
  if (search == INVALID_HANDLE_VALUE) return 0;
  FindClose(search);
  return 1;
}

int FormatRuntimeCommandLine(char* commandLine, const char* enginePath, const char* packagePath,
                             const char* kitHome, uint16_t transformLanguage,
                             const char* installDir) {
  int fits;
  if (transformLanguage == kNoTransformLanguage) {
    fits = FormatText(commandLine, kKitTextCapacity, "\"%s\" /i \"%s\" /qn ADDLOCAL=ALL SDKSILENT=1",
                      enginePath, packagePath);
  } else {
    // A transform file in the kit home, not one embedded in the package.
    char transformPath[kKitTextCapacity] = {};
    fits = FormatText(transformPath, sizeof transformPath, "%s\\rtq%u.MST", kitHome,
                      static_cast<unsigned int>(transformLanguage)) &&
           FormatText(commandLine, kKitTextCapacity,
                      "\"%s\" /i \"%s\" TRANSFORMS=\"%s\" /qn ADDLOCAL=ALL SDKSILENT=1", enginePath,
                      packagePath, transformPath);
  }
  return fits && AppendInstallDir(commandLine, installDir);
}

int FormatDatabaseCommandLine(char* commandLine, const char* enginePath, const char* packagePath,
                              const char* installDir) {
  return FormatText(commandLine, kKitTextCapacity, "\"%s\" /i \"%s\" /qn", enginePath, packagePath) &&
         AppendInstallDir(commandLine, installDir);
}

void InstallCompanionPackages(const char* enginePath, uint16_t transformLanguage,
                              const WrapperOptions* options) {
  char kitHome[kKitTextCapacity] = {};
  if (!ReadKitHome(kitHome, sizeof kitHome)) return;

  // A path or command line that would not fit is never run cut short: that step is skipped.
  char runtimePackage[kKitTextCapacity] = {};
  int runtimePathFits = FormatText(runtimePackage, sizeof runtimePackage, "%s\\rtq.msi", kitHome);
  if (runtimePathFits && FileExists(runtimePackage)) {
    char commandLine[kKitTextCapacity] = {};
    if (FormatRuntimeCommandLine(commandLine, enginePath, runtimePackage, kitHome,
                                 transformLanguage, options->runtimeInstallDir)) {
      RunAndWait(commandLine);
    }
  }

  char databasePackage[kKitTextCapacity] = {};
  int databasePathFits =
      FormatText(databasePackage, sizeof databasePackage, "%s\\zelvandb.msi", kitHome);
  if (databasePathFits && FileExists(databasePackage)) {
    char commandLine[kKitTextCapacity] = {};
    if (FormatDatabaseCommandLine(commandLine, enginePath, databasePackage,
                                  options->databaseInstallDir)) {
      RunAndWait(commandLine);
    }
  }

  if (runtimePathFits) DeleteFileA(runtimePackage);
  if (databasePathFits) DeleteFileA(databasePackage);
  DeleteKitFile(kitHome, "rtq2052.MST");
  DeleteKitFile(kitHome, "rtq1041.MST");
}
