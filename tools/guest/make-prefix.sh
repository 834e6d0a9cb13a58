#!/bin/bash
# Runs once in the guest while its image is built: makes the 64-bit Wine prefix that every job
# copies (its first wineboot takes minutes under emulation, a copy seconds). 32-bit programs
# run in it through Wine's WoW64 layer, as on 64-bit Windows.
set -euo pipefail
prefix=/opt/kzt-wrapper-guest/prefix
export WINEPREFIX=$prefix WINEARCH=win64 WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
rm -rf "$prefix"
mkdir -p "$(dirname "$prefix")"
start=$SECONDS
wine64=/usr/lib/wine/wine64
wineserver=/usr/lib/wine/wineserver
# No Mono or Gecko download prompts (WINEDLLOVERRIDES): the guest has no network.
set +e
"$wine64" wineboot -i >"$prefix.log" 2>&1
code=$?
# The registry reaches its files when the prefix's server ends.
"$wineserver" -w
set -e
if [ $code -ne 0 ] || ! [ -f "$prefix/system.reg" ]; then
  echo "wineboot (exit code $code) made no prefix in $prefix:" >&2
  tail -n 30 "$prefix.log" >&2
  exit 1
fi
# Message boxes become real dialogs that programs can find and close without a display.
"$wine64" reg add 'HKCU\Software\Wine\Drivers' /v Graphics /d null /f >/dev/null
"$wineserver" -w
echo "prefix made in $((SECONDS - start)) s: $prefix"

# The prefix must run a 32-bit program from SysWOW64 and hand back its exit code.
set +e
/usr/lib/wine/wine 'C:\windows\syswow64\cmd.exe' /c exit 7 >/dev/null 2>&1
code=$?
set -e
"$wineserver" -w || true
[ "$code" -eq 7 ] || { echo "a 32-bit program in the prefix exited with $code, not 7" >&2; exit 1; }
[ -d "$prefix/drive_c/Program Files (x86)" ] || { echo "no Program Files (x86) in the prefix" >&2; exit 1; }
echo "32-bit programs run in the prefix ($(ls "$prefix/drive_c/windows/syswow64" | wc -l) files in syswow64)"
