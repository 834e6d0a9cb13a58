#pragma once
// A silent install with Wine's real msiexec.exe whose user data folder lies outside the code
// page, and the proof that the payload went to that user's own folder and nowhere else: the
// staged files, the package's wait record beside them, and the package path the engine got.
#include <string>

#include "test_support.h"

// Removes the sample's four products (kit, runtime, database, update service) with the
// real engine.
void RemoveSampleProducts();

// Removes the sample products, their registry values and the staged payload below localLow.
void RemoveSampleInstall(const std::wstring& localLow);

// Runs the wrapper with "/s" and the engine's log (verbose properties) in a scratch folder.
struct LoggedInstall {
  ChildRun run;
  std::string engineLog;  // the log's bytes (narrow, as the engine writes it)
};
LoggedInstall RunSilentInstall(const std::string& scratchName);

// Checks that the run installed from localLow\Orvik\Zelvan\kzt1.6.0_32: exit code 0 and no
// box, the package and its seven cabinets there byte for byte, the package's wait record
// there (the engine's package lay in that folder), and the engine's package path an exact
// narrow text (a short form where needed) of that very package.
void ExpectInstalledFrom(const std::wstring& localLow, const LoggedInstall& install);

// Every file found below folder (relative paths, UTF-8), for "nothing was written there".
std::string ListFilesBelow(const std::wstring& folder);
