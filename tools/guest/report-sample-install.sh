#!/bin/bash
# Check script for tools/guest/run-wrapper-in-guest.sh: what a run of the wrapper on the sample
# payload left in the guest's prefix, as tools/run-sample-install.sh reports it on this machine:
# staged files, the update-service folder, the products' registry values (32-bit view), the
# installed products, the kit home and the registration tool's calls.
set -u
: "${WINEPREFIX:?run by run-wrapper-in-guest.sh}" "${WINE:?}" "${WINE64:?}"
low=$(ls -d "$WINEPREFIX"/drive_c/users/*/AppData/LocalLow 2>/dev/null | head -1)
staging=$low/Orvik/Zelvan/kzt1.6.0_32
echo "== Staged files ($staging)"
ls -l "$staging" 2>/dev/null | tail -n +2 || echo "(none)"
echo "== Update-service folder"
ls -l "$low/Orvik/Zelvan/AU" 2>/dev/null | tail -n +2 || echo "(none)"

# The 32-bit reg.exe reads the 32-bit view, where 32-bit packages write; wine64's reads the
# native view, where they must not be.
reg_query() {  # WINE_OR_WINE64 KEY
  local text
  if text=$("$1" reg query "$2" /s 2>/dev/null); then
    printf '%s\n' "$text" | tr -d '\r' | grep -v '^$'
  else
    echo "  (absent) $2"
  fi
}
echo "== Registry, 32-bit view (HKLM\\Software\\Wow6432Node on 64-bit Windows)"
reg_query "$WINE" 'HKLM\SOFTWARE\Halvern\Zelvan Development Kit\1.6.0_32'
reg_query "$WINE" 'HKLM\SOFTWARE\Halvern\Zelvan Runtime Environment\1.6.0_32'
reg_query "$WINE" 'HKLM\SOFTWARE\Halvern\Auto Update'
echo "== Registry, native view"
reg_query "$WINE64" 'HKLM\SOFTWARE\Halvern'
echo "== Installed products (msiexec's records)"
"$WINE" reg query 'HKLM\SOFTWARE\Microsoft\Windows\CurrentVersion\Uninstall' /s 2>/dev/null |
  tr -d '\r' | grep -E 'DisplayName|DisplayVersion' | sed 's/^ */  /' || echo "  (none)"
home=$("$WINE" reg query 'HKLM\SOFTWARE\Halvern\Zelvan Development Kit\1.6.0_32' /v ZelvanHome 2>/dev/null |
  tr -d '\r' | sed -n 's/.*REG_SZ *//p')
if [ -n "$home" ]; then
  unix_home=$("$WINE" winepath -u "$home" 2>/dev/null | tr -d '\r')
  echo "== Kit home: $home"
  ls -lR "$unix_home" | sed 's/^/  /'
fi
tool=$WINEPREFIX/drive_c/Program\ Files\ \(x86\)/Common\ Files/Zelvan/Zelvan\ Update
echo "== Registration tool calls ($tool/dorvane-calls.txt)"
cat "$tool/dorvane-calls.txt" 2>/dev/null || echo "(none)"
"${WINE%/*}/wineserver" -k 2>/dev/null
exit 0
