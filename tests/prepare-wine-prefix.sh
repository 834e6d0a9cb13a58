#!/bin/bash
# Creates the tests' Wine prefix (once) and gives it the settings the tests rely on. A step
# that fails says which command failed and what Wine printed.
set -euo pipefail
trap 'echo "prepare-wine-prefix: failed (exit $?): $BASH_COMMAND" >&2' ERR
prefix=$1
export WINEPREFIX=$prefix WINEDEBUG=-all
wine=$(cd "$(dirname "$0")/.." && pwd)/tools/run-wine64.sh
if [ ! -f "$prefix/system.reg" ]; then
  # No Mono or Gecko download prompts: this machine has no network and needs neither. Its
  # exit code is not the criterion (it complains about missing 32-bit parts): the registry is.
  log=$(mktemp)
  WINEDLLOVERRIDES="mscoree,mshtml=" "$wine" wineboot -i >"$log" 2>&1 || true
  /usr/lib/wine/wineserver -w || true  # the registry reaches the disk when the server ends
  if [ ! -f "$prefix/system.reg" ]; then
    echo "wineboot -i made no prefix in $prefix; its output:" >&2
    tail -n 30 "$log" >&2
    exit 1
  fi
  rm -f "$log"
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
