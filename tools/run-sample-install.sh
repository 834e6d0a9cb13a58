#!/bin/bash
# The main job on the built-in sample payload: builds the wrapper, runs it under wine64 with
# "/s" in a fresh Wine prefix, and prints what it did: exit code, staged files, what got
# installed. Run as root on Debian 12: bash tools/run-sample-install.sh
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
bash tools/install-build-dependencies.sh

# The product is the i686 build; this machine runs the x86_64 build of the same sources.
cmake --preset i686 >/dev/null
cmake --build --preset i686
cmake --preset x86_64 >/dev/null
cmake --build --preset x86_64 --target kzt_wrapper

prefix=$root/build/sample-install-prefix
rm -rf "$prefix"
export WINEPREFIX=$prefix WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
wine=$root/tools/run-wine64.sh
echo "== Creating a fresh Wine prefix: $prefix"
"$wine" wineboot -i >/dev/null 2>&1 || true

echo "== Running: kzt-wrapper.exe /s"
start=$(date +%s.%N)
set +e
"$wine" "$root/build/x86_64/kzt-wrapper.exe" /s
code=$?
set -e
end=$(date +%s.%N)
# wine64 reports the Windows exit code modulo 256 to the shell.
printf 'Exit code: %d (%s s)\n' "$code" "$(awk -v a="$start" -v b="$end" 'BEGIN { printf "%.1f", b - a }')"

# The prefix's user folder (Wine names it after the Unix account).
users=$(dirname "$(dirname "$(ls -d "$prefix"/drive_c/users/*/AppData/LocalLow | head -1)")")
staging=$(ls -d "$users"/AppData/LocalLow/Orvik/Zelvan/kzt1.6.0_32 2>/dev/null || true)
echo "== Staged files ($staging)"
[ -n "$staging" ] && ls -l "$staging" | tail -n +2
echo "== Update-service folder"
ls -l "$users"/AppData/LocalLow/Orvik/Zelvan/AU 2>/dev/null | tail -n +2 || echo "(none)"

reg_query() { "$wine" reg query "$1" 2>/dev/null | tr -d '\r' | grep -v '^$' || echo "  (absent) $1"; }
echo "== Registry"
reg_query 'HKLM\SOFTWARE\Halvern\Zelvan Development Kit\1.6.0_32'
reg_query 'HKLM\SOFTWARE\Halvern\Zelvan Runtime Environment\1.6.0_32'
reg_query 'HKLM\SOFTWARE\Halvern\Auto Update'
echo "== Installed products (msiexec's records)"
"$wine" reg query 'HKLM\SOFTWARE\Microsoft\Windows\CurrentVersion\Uninstall' /s 2>/dev/null |
  tr -d '\r' | grep -E 'DisplayName|DisplayVersion' | sed 's/^ */  /' || true
home=$("$wine" reg query 'HKLM\SOFTWARE\Halvern\Zelvan Development Kit\1.6.0_32' /v ZelvanHome 2>/dev/null |
  tr -d '\r' | sed -n 's/.*REG_SZ *//p')
if [ -n "$home" ]; then
  unix_home=$("$wine" winepath -u "$home" 2>/dev/null | tr -d '\r')
  echo "== Kit home: $home"
  ls -lR "$unix_home" | sed 's/^/  /'
fi
common=$prefix/drive_c/Program\ Files/Common\ Files/Zelvan/Zelvan\ Update
echo "== Registration tool calls ($common/dorvane-calls.txt)"
cat "$common/dorvane-calls.txt" 2>/dev/null || echo "(none)"
/usr/lib/wine/wineserver -k 2>/dev/null || true
exit 0
