#!/bin/bash
# Creates the tests' Wine prefix (once) and gives it the settings the tests rely on.
set -euo pipefail
prefix=$1
export WINEPREFIX=$prefix WINEDEBUG=-all
wine=$(cd "$(dirname "$0")/.." && pwd)/tools/run-wine64.sh
if [ ! -f "$prefix/system.reg" ]; then
  # No Mono or Gecko download prompts: this machine has no network and needs neither.
  WINEDLLOVERRIDES="mscoree,mshtml=" "$wine" wineboot -i >/dev/null 2>&1 || true
fi
# Message boxes become real dialogs that tests can read and close without a display.
"$wine" reg add 'HKCU\Software\Wine\Drivers' /v Graphics /d null /f >/dev/null
# Programs that must see an older system: the version is chosen per executable name.
for name in staging_folder_v52_tests.exe engine_location_v52_tests.exe kzt-wrapper-v52.exe; do
  "$wine" reg add "HKCU\\Software\\Wine\\AppDefaults\\$name" /v Version /d win2003 /f >/dev/null
done
# The settings take effect once the prefix's server restarts.
/usr/lib/wine/wineserver -k || true
/usr/lib/wine/wineserver -w || true
echo "wine prefix ready: $prefix"
