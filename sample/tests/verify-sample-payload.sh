#!/usr/bin/env bash
# End-to-end check of the sample payload: builds it (x64 twice to prove the
# bytes are reproducible, x86 once), inspects both with msiitools/gcab, then
# installs the x64 variant with the real msiexec under wine64 in a fresh
# prefix. Prints one line per check and exits non-zero if any failed.
#
# usage: verify-sample-payload.sh [--keep]   (--keep leaves the temp dir)
set -euo pipefail

here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
sample="$(cd "$here/.." && pwd)"
keep=0
[ "${1:-}" = "--keep" ] && keep=1

tmp="$(mktemp -d "${TMPDIR:-/tmp}/sample-verify.XXXXXX")"
prefix="$tmp/prefix"
export WINEPREFIX="$prefix" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
wine="$sample/../tools/run-wine64.sh"
cleanup() {
    /usr/lib/wine/wineserver -k 2>/dev/null || true
    /usr/lib/wine/wineserver -w 2>/dev/null || true
    if [ "$keep" = 1 ]; then echo "kept $tmp"; else rm -rf "$tmp"; fi
}
trap cleanup EXIT

passed=0
failed=0
ok() { passed=$((passed + 1)); echo "ok   - $*"; }
bad() { failed=$((failed + 1)); echo "FAIL - $*"; }
check() {  # DESCRIPTION COMMAND...
    local what="$1"
    shift
    if "$@"; then ok "$what"; else bad "$what"; fi
}
equals() {  # DESCRIPTION EXPECTED ACTUAL
    if [ "$2" = "$3" ]; then ok "$1"; else bad "$1 (expected '$2', got '$3')"; fi
}

KIT_PRODUCT="{3A7C2E91-5B04-4F6D-9E28-71C5D0B4A632}"
RTQ_PRODUCT="{5F9B3C2D-8E14-4A67-B0D3-29E6F1A7C845}"
AU_PRODUCT="{6E2B91C4-3F07-4D58-A1B9-7C04E35D8F21}"
KIT_KEY='HKLM\SOFTWARE\Halvern\Zelvan Development Kit\1.6.0_32'
RTQ_KEY='HKLM\SOFTWARE\Halvern\Zelvan Runtime Environment\1.6.0_32'
DB_KEY='HKLM\SOFTWARE\Halvern\Zelvan Database\1.6.0_32'
outputs=(kzt1.6.0_32.msi ss160320.cab st160320.cab sj160320.cab sp160320.cab
         sz160320.cab sb160320.cab sr160320.cab au.msi au.cab)

# --------------------------------------------------------------- build
started=$SECONDS
echo "# building (wine prefix $prefix)"
$wine wineboot -i >"$tmp/wineboot.log" 2>&1
/usr/lib/wine/wineserver -p 2>/dev/null || true   # one server for the whole run
# The builds share the prefix and run side by side. A payload that a product build already
# made (SAMPLE_PAYLOAD_X64, SAMPLE_PAYLOAD_X86: its folder) is taken instead of building
# it again; the x64 payload is always built once here, to compare with the other.
builds=("x64 x64-again")
for arch in x64 x86; do
    var=SAMPLE_PAYLOAD_${arch^^}
    given=${!var:-}
    if [ -n "$given" ] && [ -f "$given/kzt1.6.0_32.msi" ]; then
        cp -a "$given" "$tmp/$arch"
        ok "$arch payload taken from $given"
    else
        builds+=("$arch $arch")
    fi
done
pids=()
for b in "${builds[@]}"; do
    set -- $b
    SAMPLE_WINEPREFIX="$prefix" "$sample/build-sample-payload.sh" --arch "$1" --out "$tmp/$2" \
        >"$tmp/build-$2.log" 2>&1 &
    pids+=($!)
done
build_failed=0
for i in "${!builds[@]}"; do
    set -- ${builds[$i]}
    if wait "${pids[$i]}"; then
        ok "build --arch $1 into $2"
    else
        bad "build --arch $1 into $2 (log follows)"
        cat "$tmp/build-$2.log"
        build_failed=1
    fi
done
[ "$build_failed" = 0 ] || exit 1

for f in "${outputs[@]}"; do
    check "x64 $f is byte-identical across two builds" cmp -s "$tmp/x64/$f" "$tmp/x64-again/$f"
done

# ------------------------------------------------------ static inspection
magic() { head -c "$2" "$1" | od -An -tx1 | tr -d ' \n'; }
pe_machine() {  # FILE -> machine field of the PE header, hex
    local off
    off=$(od -An -tu4 -j 60 -N 4 "$1" | tr -d ' ')
    od -An -tx2 -j $((off + 4)) -N 2 "$1" | tr -d ' '
}
inspect() {  # ARCH DIR
    local arch="$1" dir="$2" f names
    names="$(cd "$dir" && ls | sort | tr '\n' ' ')"
    equals "$arch: output folder holds exactly the ten payload files" \
        "$(printf '%s\n' "${outputs[@]}" | sort | tr '\n' ' ')" "$names"
    for f in "${outputs[@]}"; do
        case "$f" in
            *.msi) equals "$arch: $f starts with the compound-file signature" d0cf11e0a1b11ae1 "$(magic "$dir/$f" 8)" ;;
            *.cab) equals "$arch: $f starts with MSCF" 4d534346 "$(magic "$dir/$f" 4)" ;;
        esac
    done

    local pkg="$dir/kzt1.6.0_32.msi" listing cab expected actual
    listing="$(/usr/bin/python3 "$here/payload_files.py" "$pkg")" || { bad "$arch: File/Media tables consistent"; return; }
    equals "$arch: Media rows name the seven cabinets in order" \
        "ss160320.cab st160320.cab sj160320.cab sp160320.cab sz160320.cab sb160320.cab sr160320.cab" \
        "$(msiinfo export "$pkg" Media | tail -n +4 | cut -f4 | tr -d '\r' | tr '\n' ' ' | sed 's/ $//')"
    for cab in ss st sj sp sz sb sr; do
        cab="${cab}160320.cab"
        # What the File table puts on this medium must be exactly what the
        # cabinet holds, in the same order and with the same sizes.
        expected="$(awk -F'\t' -v c="$cab" '$2 == c { print $1 " " $4 }' <<<"$listing")"
        actual="$(gcab -l "$dir/$cab" | awk '{ print $1 " " $2 }')"
        if [ -n "$expected" ] && [ "$expected" = "$actual" ]; then
            ok "$arch: $cab holds the $(wc -l <<<"$expected") file(s) the package expects on its medium"
        else
            bad "$arch: $cab content differs from the package's File/Media rows"
            diff <(echo "$expected") <(echo "$actual") || true
        fi
    done
    equals "$arch: wait action is a stored exe run before InstallValidate when WRAPPER=1" \
        "SampleCabWait 2 CabWait" \
        "$(msiinfo export "$pkg" CustomAction | awk -F'\t' '$1 == "SampleCabWait" { print $1, $2, $3 }')"
    equals "$arch: wait action scheduled right after CostFinalize" \
        'WRAPPER="1" AND NOT Installed 1001' \
        "$(msiinfo export "$pkg" InstallExecuteSequence | tr -d '\r' | awk -F'\t' '$1 == "SampleCabWait" { print $2, $3 }')"
    equals "$arch: au.msi product code and version" \
        "$AU_PRODUCT 2.0.7.1" \
        "$(msiinfo export "$dir/au.msi" Property | tr -d '\r' | awk -F'\t' '$1 == "ProductCode" { c = $2 } $1 == "ProductVersion" { v = $2 } END { print c, v }')"

    local want_machine want_template
    if [ "$arch" = x64 ]; then want_machine=8664; want_template=x64; else want_machine=014c; want_template=Intel; fi
    equals "$arch: package template platform" "$want_template;1033" \
        "$(msiinfo suminfo "$pkg" | sed -n 's/^Template: //p')"
    msiinfo extract "$pkg" Binary.CabWait >"$tmp/cabwait-$arch.exe"
    equals "$arch: stored wait action exe has the package's architecture" "$want_machine" \
        "$(pe_machine "$tmp/cabwait-$arch.exe")"
    mkdir -p "$tmp/au-$arch" && (cd "$tmp/au-$arch" && gcab -x "$dir/au.cab")
    equals "$arch: dorvane.exe in au.cab has the package's architecture" "$want_machine" \
        "$(pe_machine "$tmp/au-$arch/dorvane_exe")"
}
echo "# inspecting ($((SECONDS - started)) s)"
inspect x64 "$tmp/x64"
inspect x86 "$tmp/x86"

# ------------------------------------------------------------ under wine
echo "# installing the x64 payload under wine64 ($((SECONDS - started)) s)"
drive="$prefix/drive_c"
kit_home_win='C:\Program Files\Halvern\Zelvan Development Kit 1.6.0_32'
kit_home="$drive/Program Files/Halvern/Zelvan Development Kit 1.6.0_32"
mkdir -p "$drive/stage" "$drive/cabsrc" "$tmp/extracted"
cp "$tmp/x64/"*160320.cab "$drive/cabsrc/"
cp "$tmp/x64/kzt1.6.0_32.msi" "$drive/stage/"
x86_64-w64-mingw32-g++ -std=c++17 -O2 -Wall -Wextra -Werror -static -s \
    "$here/gate.cpp" -o "$drive/gate.exe"
for cab in "$tmp/x64/"*160320.cab; do (cd "$tmp/extracted" && gcab -x "$cab"); done
listing="$(/usr/bin/python3 "$here/payload_files.py" "$tmp/x64/kzt1.6.0_32.msi")"

regval() {  # KEY NAME -> value, empty when missing
    { $wine reg query "$1" /v "$2" 2>/dev/null || true; } | tr -d '\r' |
        sed -n "s/^    $2    REG_SZ    //p"
}
msiexec() { $wine msiexec "$@" >/dev/null 2>&1; }
installed_keys() {  # FILE_KEY... -> each key whose file is installed with its cabinet bytes
    local key path
    for key in "$@"; do
        path="$(awk -F'\t' -v k="$key" '$1 == k { print $5 }' <<<"$listing" | tr '\\' '/')"
        cmp -s "$tmp/extracted/$key" "$kit_home/$path" && echo "$key"
    done
    return 0
}
all_keys=($(cut -f1 <<<"$listing"))
kit_files_left() { find "$kit_home" -type f 2>/dev/null | wc -l; }

# 1. Full install through the event hand-over, cabinets written while waiting.
out="$($wine 'C:\gate.exe' early 3000 'C:\cabsrc' 'C:\stage' \
    'msiexec /i C:\stage\kzt1.6.0_32.msi /qn WRAPPER=1' 2>&1 | tr -d '\r')" && rc=0 || rc=$?
echo "$out" | grep '^gate: before signal\|^gate: installer' | sed 's/^/     /'
equals "WRAPPER=1 install: installer blocked until the event, then exit 0" 0 "$rc"
record="$(tr -d '\r' <"$drive/stage/sample-wait-record.txt" 2>/dev/null || true)"
expected_record="$(for c in ss st sj sp sz sb sr; do
    echo "${c}160320.cab $(stat -c %s "$tmp/x64/${c}160320.cab")"; done)"
equals "wait record lists every cabinet complete at the moment the wait returned" \
    "$expected_record" "$record"
equals "every file of every cabinet installed with its cabinet bytes" \
    "${all_keys[*]}" "$(installed_keys "${all_keys[@]}" | tr '\n' ' ' | sed 's/ $//')"
equals "ZelvanHome is the kit home without trailing backslash" "$kit_home_win" \
    "$(regval "$KIT_KEY" ZelvanHome)"
equals "no InstallStatus without SAMPLE_REQUEST_REINSTALL" "" "$(regval 'HKLM\SOFTWARE\Halvern' InstallStatus)"

# 2. The runtime package from the kit home, as the wrapper runs it.
msiexec /i "$kit_home_win\\rtq.msi" /qn ADDLOCAL=ALL SDKSILENT=1 'INSTALLDIR=C:\Zelvan RTQ' \
    "TRANSFORMS=$kit_home_win\\rtq1041.MST" && rc=0 || rc=$?
equals "rtq.msi with INSTALLDIR and rtq1041.MST: exit 0" 0 "$rc"
check "rtq.msi files installed into INSTALLDIR" test -f "$drive/Zelvan RTQ/rtqcore.dat"
equals "rtq.msi registers its home" 'C:\Zelvan RTQ\' "$(regval "$RTQ_KEY" Home)"
equals "rtq1041.MST applied (ProductLanguage)" 1041 "$(regval "$RTQ_KEY" Language)"

# 3. Uninstall, then a plain install while the runtime is present.
msiexec /x "$KIT_PRODUCT" /qn && rc=0 || rc=$?
equals "kit uninstall: exit 0" 0 "$rc"
equals "kit uninstall removes every kit file" 0 "$(kit_files_left)"
equals "kit uninstall removes ZelvanHome" "" "$(regval "$KIT_KEY" ZelvanHome)"
rm -f "$drive/stage/sample-wait-record.txt"
cp "$drive/cabsrc/"*.cab "$drive/stage/"
msiexec /i 'C:\stage\kzt1.6.0_32.msi' /qn && rc=0 || rc=$?
equals "install without WRAPPER (no event): exit 0" 0 "$rc"
check "without WRAPPER the wait action does not run" test ! -e "$drive/stage/sample-wait-record.txt"
equals "runtime already present: PublicrtqFeature not installed" "" \
    "$(installed_keys rtq_msi rtq_mst1041 rtq_mst2052)"
equals "runtime already present: other features still installed" "kit_readme db_msi tools_pack" \
    "$(installed_keys kit_readme db_msi tools_pack | tr '\n' ' ' | sed 's/ $//')"
msiexec /x "$KIT_PRODUCT" /qn && msiexec /x "$RTQ_PRODUCT" /qn && rc=0 || rc=$?
equals "kit and runtime uninstall: exit 0" 0 "$rc"
equals "runtime uninstall removes its key" "" "$(regval "$RTQ_KEY" Home)"
check "runtime uninstall removes its files from the chosen INSTALLDIR" \
    test ! -e "$drive/Zelvan RTQ/rtqcore.dat"

# 4. The wrapper's feature choice, reinstall request and embedded transform;
#    the event is created only after msiexec started.
rm -f "$drive/stage/"*.cab
out="$($wine 'C:\gate.exe' late 2000 'C:\cabsrc' 'C:\stage' \
    'msiexec /i C:\stage\kzt1.6.0_32.msi /qn WRAPPER=1 ADDLOCAL=PublicrtqFeature,ToolsFeature SAMPLE_REQUEST_REINSTALL=1 TRANSFORMS=:1041' \
    2>&1 | tr -d '\r')" && rc=0 || rc=$?
echo "$out" | grep '^gate: before signal\|^gate: installer' | sed 's/^/     /'
equals "ADDLOCAL=PublicrtqFeature,ToolsFeature with a late event: exit 0" 0 "$rc"
without_db=($(grep -v '^db_msi' <<<"$listing" | cut -f1))
equals "ADDLOCAL: kit, runtime package and tool files installed" "${without_db[*]}" \
    "$(installed_keys "${without_db[@]}" | tr '\n' ' ' | sed 's/ $//')"
check "ADDLOCAL: zelvandb.msi left out" test ! -e "$kit_home/zelvandb.msi"
equals "ADDLOCAL: ZelvanHome recorded" "$kit_home_win" "$(regval "$KIT_KEY" ZelvanHome)"
equals "SAMPLE_REQUEST_REINSTALL=1 writes InstallStatus" reinstall \
    "$(regval 'HKLM\SOFTWARE\Halvern' InstallStatus)"
equals "TRANSFORMS=:1041 applied (ProductLanguage)" 1041 "$(regval "$KIT_KEY" Language)"
msiexec /x "$KIT_PRODUCT" /qn && rc=0 || rc=$?
equals "uninstall after the reinstall request removes InstallStatus" "0 " \
    "$rc $(regval 'HKLM\SOFTWARE\Halvern' InstallStatus)"

# 5. Nobody signals: the wait action gives up and the install fails.
t0=$SECONDS
msiexec /i 'C:\stage\kzt1.6.0_32.msi' /qn WRAPPER=1 SAMPLE_CAB_WAIT_SECONDS=2 && rc=0 || rc=$?
check "no event within the time-out: install fails (exit $rc)" test "$rc" -ne 0
equals "failed install leaves no kit behind" "0 " "$(kit_files_left) $(regval "$KIT_KEY" ZelvanHome)"
check "time-out waited about 2 s ($((SECONDS - t0)) s)" test $((SECONDS - t0)) -ge 2

# 6. The database package on its own.
cp "$tmp/extracted/db_msi" "$drive/zelvandb.msi"
msiexec /i 'C:\zelvandb.msi' /qn 'INSTALLDIR=C:\Zelvan DB' && rc=0 || rc=$?
equals "zelvandb.msi with INSTALLDIR: exit 0" 0 "$rc"
check "zelvandb.msi file installed into INSTALLDIR" test -f "$drive/Zelvan DB/zelvandb.dat"
equals "zelvandb.msi registers its home" 'C:\Zelvan DB\' "$(regval "$DB_KEY" Home)"

# 7. Auto update package and its registration tool.
mkdir -p "$drive/au"
cp "$tmp/x64/au.msi" "$tmp/x64/au.cab" "$drive/au/"
msiexec /i 'C:\au\au.msi' ALLUSERS=1 /qn && rc=0 || rc=$?
equals "au.msi ALLUSERS=1: exit 0" 0 "$rc"
equals "au.msi writes AUVersion" 2.0.7.1 "$(regval 'HKLM\SOFTWARE\Halvern\Auto Update' AUVersion)"
update_dir="$drive/Program Files/Common Files/Zelvan/Zelvan Update"
check "dorvane.exe installed under Common Files\\Zelvan\\Zelvan Update" test -f "$update_dir/dorvane.exe"
dorvane='C:\Program Files\Common Files\Zelvan\Zelvan Update\dorvane.exe'
calls_file="$update_dir/dorvane-calls.txt"
run_dorvane() {  # ARGS... ; dorvane itself always exits 0 after appending
    $wine "$dorvane" "$@"
}
run_dorvane -r rtq 1.6.0_32-b05 && rc=0 || rc=$?
run_dorvane -u "two words" && rc2=0 || rc2=$?
equals "dorvane.exe exits 0" "0 0" "$rc $rc2"
calls="$(tr -d '\r' <"$calls_file" 2>/dev/null || true)"
equals "dorvane-calls.txt has one line per run" 2 "$(wc -l <<<"$calls")"
equals "dorvane records its arguments" "-r|rtq|1.6.0_32-b05" \
    "$(head -1 <<<"$calls" | cut -f2- | tr '\t' '|')"
equals "dorvane keeps an argument with a blank whole" "-u|two words" \
    "$(sed -n 2p <<<"$calls" | cut -f2- | tr '\t' '|')"
check "dorvane records its raw command line" grep -q 'dorvane.exe.* -r rtq 1.6.0_32-b05	' <<<"$(head -1 <<<"$calls")"

echo "# $((SECONDS - started)) s"
echo "$passed passed, $failed failed"
[ "$failed" -eq 0 ]
