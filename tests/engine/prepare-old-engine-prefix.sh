#!/bin/bash
# A prefix of its own whose installer engine library is too old for the wrapper: the shared
# prefix's settings (null graphics driver, ...), then the given library copied over
# C:\windows\system32\msi.dll. Wine's own programs never load msi.dll at start, so the
# prefix keeps working; only the file's version resource changes.
# Wine reads the version resource of a system library from its built-in copy unless the
# library is set to load natively: msi=native makes GetFileVersionInfo read the file on disk.
#   prepare-old-engine-prefix.sh <prefix> <library>
set -euo pipefail
prefix=$1
library=$2
here=$(cd "$(dirname "$0")" && pwd)
bash "$here/../prepare-wine-prefix.sh" "$prefix"
target="$prefix/drive_c/windows/system32/msi.dll"
[ -f "$target" ] || { echo "no msi.dll in $prefix" >&2; exit 1; }
cp -f "$library" "$target"
"$here/../../tools/run-wine64.sh" reg add 'HKCU\Software\Wine\DllOverrides' /v msi /d native /f >/dev/null
# Programs still start after the swap (set -e stops here if not).
WINEPREFIX=$prefix WINEDEBUG=-all "$here/../../tools/run-wine64.sh" cmd /c exit 0
echo "old engine prefix ready: $prefix"
