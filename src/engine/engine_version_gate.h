#pragma once
// Refuses an installer engine that is too old, by the file version of the system
// directory's msi.dll.

// 1 when system-directory\msi.dll has a file version of at least 2.0.2600.0, else 0 (also
// when the file or its version resource cannot be read).
int CheckInstallerEngineVersion();

// The same test on any library path.
int CheckEngineLibraryVersion(const char* libraryPath);
