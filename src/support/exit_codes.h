#pragma once
// Every exit code of the wrapper process. Deployment scripts depend on these numbers:
// never renumber one.
//
// Besides these, the process exits with
// - the installer engine's own exit code of the main run (or of the reinstall run);
// - a system error code (3 folder missing, 5 access denied, 32 file in use, 112 disk full,
//   206 path too long, 1113 a user data folder with no exact name in the ANSI code page,
//   1392 staged file differs, ...) when a payload file cannot be written or its folder
//   cannot be trusted: the writer shows its "Error" box first.

// The installer engine is older than the wrapper requires; the localized box was shown and
// nothing was staged.
constexpr int kExitEngineTooOld = -2;

// msiexec.exe was not found (or its folder does not fit the engine path); the product
// package has been written and stays on disk.
constexpr int kExitEngineNotFound = -3;

// The product package resource is not in the executable. Also what a run reports when the
// engine cannot be started at all, or its exit code cannot be read.
constexpr int kExitPackageMissing = 1;
constexpr int kExitEngineNotStarted = 1;

// An option, folder switch or the main command line does not fit its buffer, or an argument
// holds a character the code page cannot hold. This is the installer engine's own code for
// an invalid command line; nothing is run with a cut line or a look-alike.
constexpr int kExitCommandLineTooLong = 1639;

// The ready event existed before this run made it: another wrapper is installing (of any
// release), or another process made it to have the package read its cabinets early. Neither
// the cabinet thread nor the engine is started, no box is shown; nothing has been staged.
// The installer engine's own code for "another installation is already in progress", which
// deployment scripts know and retry on.
constexpr int kExitAnotherInstallInProgress = 1618;
