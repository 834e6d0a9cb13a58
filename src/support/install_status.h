#pragma once
// The install-status value "InstallStatus" under HKLM\Software\Halvern: the product package
// leaves "reinstall" there to ask the wrapper for a second run. The wrapper never writes it.

// 1 when a non-empty install-status text was read into buffer (capacity in bytes), else 0.
// On failure the buffer keeps whatever the read stored in it.
int ReadInstallStatus(char* buffer, unsigned long capacity);

// Deletes the value, then the vendor key when that has become empty. Failures are silent.
void ClearInstallStatus();
