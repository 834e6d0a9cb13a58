#!/bin/bash
# Runs one built wrapper silently ("/s") in a fresh Wine prefix with the real msiexec.exe and
# checks what it did; prints a report and exits 0 when every check passed, 1 when one failed,
# 2 on wrong arguments. Needs only bash, coreutils, findutils, cmp, awk and Wine, so it runs
# wherever the wrapper runs: here with /usr/lib/wine/wine64 and the x86_64 build, or in a
# guest with /usr/lib/wine/wine (32-bit) and the i686 build.
#
#   smoke-run.sh --wine LOADER --prefix DIR --exe EXE --payload DIR --identity FILE
#                [--wineserver SERVER] [--out DIR] [--timeout SECONDS]
#
# LOADER  the Wine loader that runs EXE, or a launcher of it (tools/run-wine64.sh)
# SERVER  its wineserver (default: the wineserver beside LOADER)
# DIR     the Wine prefix: created when it does not exist; an existing one must be unused
#         (a copy of a fresh one), since the checks read what the run left in it
# FILE    the build's kzt-wrapper.identity.txt: the names the run must use
# --out   where the server trace, the lists and the timeline picture (timeline.svg, drawn by
#         smoke-timeline.awk) are kept (default: DIR/smoke)
#
# Checks: the exit code; every staged file byte-identical to the payload; the engine started
# before the last cabinet was written, the package waited on the ready event and read no
# cabinet before that wait ended (from the Wine server's request trace, which orders the
# requests of all processes); the kit, runtime and update-service keys and the installed
# products; the companion packages installed from the kit home and their files removed from
# it; the update service installed at its version and registered with the build string. A
# check passes only on what the run was seen to do, never on the absence of an error.
# An executable whose architecture is not that of its payload's packages (PAYLOAD_PLATFORM
# in FILE) is refused before anything runs (exit code 2). Long steps say every 30 s that they
# still run.
set -uo pipefail

usage() { sed -n '2,28p' "$0" | sed 's/^# \{0,1\}//' >&2; exit 2; }
wine="" wineserver="" prefix="" exe="" payload="" identity_file="" out="" limit=600
while [ $# -gt 0 ]; do
  case "$1" in
    --wine) wine=${2:-}; shift 2 ;;
    --wineserver) wineserver=${2:-}; shift 2 ;;
    --prefix) prefix=${2:-}; shift 2 ;;
    --exe) exe=${2:-}; shift 2 ;;
    --payload) payload=${2:-}; shift 2 ;;
    --identity) identity_file=${2:-}; shift 2 ;;
    --out) out=${2:-}; shift 2 ;;
    --timeout) limit=${2:-}; shift 2 ;;
    *) usage ;;
  esac
done
[ -n "$wine" ] && [ -n "$prefix" ] && [ -n "$exe" ] && [ -n "$payload" ] && [ -n "$identity_file" ] ||
  usage
for file in "$wine" "$exe" "$identity_file"; do
  [ -f "$file" ] || { echo "smoke-run: not found: $file" >&2; exit 2; }
done
[ -d "$payload" ] || { echo "smoke-run: payload folder not found: $payload" >&2; exit 2; }
here=$(cd "$(dirname "$0")" && pwd)
wineserver=${wineserver:-$(dirname "$wine")/wineserver}
prefix=$(mkdir -p "$prefix" && cd "$prefix" && pwd)
out=${out:-$prefix/smoke}
mkdir -p "$out"

declare -A identity=()
while IFS= read -r line; do
  case "$line" in \#*|"") continue ;; esac
  identity[${line%%=*}]=${line#*=}
done <"$identity_file"
for key in PRODUCT_VERSION BUILD_STRING PRODUCT_PACKAGE STAGING_FOLDER CABINETS KIT_KEY RUNTIME_KEY; do
  [ -n "${identity[$key]:-}" ] || { echo "smoke-run: $identity_file has no $key" >&2; exit 2; }
done
read -r -a cabinets <<<"${identity[CABINETS]}"
event=OrvikKZTCabExtractWaitEvent

# The executable's machine (PE header) against its payload's platform: a 32-bit payload in a
# 64-bit wrapper installs into the registry view and folders that wrapper does not read.
pe_machine() {  # pe_machine EXE: i386, amd64 or the number
  local at machine
  at=$(od -An -tu4 -j 60 -N 4 "$1" | tr -d ' ')
  machine=$(od -An -tx2 -j $((at + 4)) -N 2 "$1" | tr -d ' ')
  case $machine in 014c) echo i386 ;; 8664) echo amd64 ;; *) echo "0x$machine" ;; esac
}
machine=$(pe_machine "$exe")
case ${identity[PAYLOAD_PLATFORM]:-} in
  Intel) needed=i386 ;;
  x64 | AMD64) needed=amd64 ;;
  *) needed=$machine ;;  # a payload not checked by the contract: nothing to compare
esac
if [ "$machine" != "$needed" ]; then
  echo "smoke-run: $exe is an $machine executable, but its payload's packages are built for" \
    "${identity[PAYLOAD_PLATFORM]} ($identity_file): nothing was run" >&2
  exit 2
fi

# with_progress LABEL COMMAND...: runs the command and says every 30 s on the report (file
# descriptor 3, whatever the command's output is redirected to) that it still runs, with
# what progress_detail prints; its exit code.
exec 3>&1
progress_detail() { :; }
with_progress() {
  local label=$1 began=$SECONDS next pid
  shift
  "$@" &
  pid=$!
  next=$((SECONDS + 30))
  while kill -0 "$pid" 2>/dev/null; do
    sleep 1
    if [ $SECONDS -ge $next ] && kill -0 "$pid" 2>/dev/null; then
      next=$((next + 30))
      echo "   ... $label: still running after $((SECONDS - began)) s$(progress_detail)" >&3
    fi
  done
  wait "$pid"
}

checks=0
failures=0
check() {  # check DESCRIPTION COMMAND...
  local what=$1
  shift
  checks=$((checks + 1))
  if "$@"; then
    echo "  ok      $what"
  else
    failures=$((failures + 1))
    echo "  FAILED  $what"
  fi
}
section() { printf '== %s\n' "$*"; }
earlier() { [ -n "$1" ] && [ -n "$2" ] && [ "$1" -lt "$2" ]; }  # earlier LINE LINE

export WINEPREFIX=$prefix WINEDLLOVERRIDES="mscoree,mshtml=" WINEDEBUG=-all
# Nothing of this prefix stays running: not the wrapper's children after a time-out, not the
# server of the registry queries.
trap '"$wineserver" -k 2>/dev/null; "$wineserver" -w 2>/dev/null' EXIT
run_wine() { "$wine" "$@" 2>/dev/null | tr -d '\r'; }
# A Windows path on drive C: of the prefix, as a path here.
unix_path() {
  local path=${1//\\//}
  case "$path" in
    [Cc]:/*) printf '%s/drive_c/%s' "$prefix" "${path:3}" ;;
    *) printf '%s' "$path" ;;
  esac
}

section "Wrapper $exe, release ${identity[PRODUCT_VERSION]} (${identity[BUILD_STRING]}), prefix $prefix"
if [ ! -d "$prefix/drive_c" ]; then
  echo "   creating the prefix"
  with_progress "creating the prefix" "$wine" wineboot -i >"$out/wineboot.log" 2>&1
fi
# The server must start anew so that it traces this run: end the prefix's own one (and only
# that one: a server belongs to one prefix).
"$wineserver" -k 2>/dev/null
"$wineserver" -w 2>/dev/null

trace=$out/server-trace.txt
# The run's progress: the processes it has started so far, from the growing trace.
progress_detail() {
  printf '; %s processes started so far' "$(grep -c '^[0-9a-f]*: new_process() = ' "$trace" 2>/dev/null)"
}
start=$(date +%s.%N)
with_progress "the wrapper's run (time-out $limit s)" env WINEDEBUG=+server \
  timeout --kill-after=10 "$limit" "$wine" "$exe" /s 2>"$trace"
code=$?
progress_detail() { :; }
end=$(date +%s.%N)
# After a time-out the engine may still run: end it before waiting for the server.
if [ "$code" -eq 124 ] || [ "$code" -eq 137 ]; then "$wineserver" -k 2>/dev/null; fi
"$wineserver" -w 2>/dev/null
seconds=$(awk -v a="$start" -v b="$end" 'BEGIN { printf "%.1f", b - a }')
if [ "$code" -eq 124 ] || [ "$code" -eq 137 ]; then
  section "The run did not end within $limit s and was stopped (exit code $code of timeout)"
else
  section "Exit code $code after $seconds s (wine reports the Windows exit code modulo 256)"
fi
check "the wrapper exits with 0" test "$code" -eq 0

# --- Staged files ----------------------------------------------------------------------
same_as_payload() {  # same_as_payload STAGED_FOLDER NAME
  cmp -s "$1/$2" "$payload/$2"
}
# The user folder is named after the account Wine runs as; the wrapper's chain is in one.
local_low=$(find "$prefix/drive_c/users" -mindepth 4 -maxdepth 4 -path '*/AppData/LocalLow/Orvik' \
  2>/dev/null | head -n 1)
local_low=${local_low%/Orvik}
staging=$local_low/Orvik/Zelvan/${identity[STAGING_FOLDER]}
update_folder=$local_low/Orvik/Zelvan/AU
section "Staged files ($staging)"
ls -l "$staging" 2>/dev/null | tail -n +2 | sed 's/^/   /'
for name in "${identity[PRODUCT_PACKAGE]}" "${cabinets[@]}"; do
  [ -f "$payload/$name" ] && check "$name staged byte-identical to the payload" same_as_payload "$staging" "$name"
done
section "Update-service folder ($update_folder)"
ls -l "$update_folder" 2>/dev/null | tail -n +2 | sed 's/^/   /'
for name in au.msi au.cab; do
  [ -f "$payload/$name" ] && check "$name staged byte-identical to the payload" same_as_payload "$update_folder" "$name"
done

# --- The run, from the server's request trace --------------------------------------------
facts=$out/trace-facts.txt
awk -v package="${identity[PRODUCT_PACKAGE]}" -v cabinets="${identity[CABINETS]}" -v event="$event" \
  -f "$here/smoke-trace.awk" "$trace" >"$facts"
engine_line="" engine_exit="" last_cabinet="" last_cabinet_line=0 set_line="" read_line=""
declare -a runs=()
declare -A cabinet_line=()
while read -r kind rest; do
  case "$kind" in
    cabinet)
      read -r name line <<<"$rest"
      cabinet_line[$name]=$line
      if [ "$line" -gt "$last_cabinet_line" ]; then last_cabinet=$name last_cabinet_line=$line; fi ;;
    run)
      runs+=("$rest")
      read -r line _ exit_code cmdline <<<"$rest"
      if [ -z "$engine_line" ] && [[ "$cmdline" == *"WRAPPER=1"* ]]; then
        engine_line=$line engine_exit=$exit_code
      fi ;;
    event_set) set_line=$rest ;;
    cabinet_read) read -r read_line read_pid read_name <<<"$rest" ;;
  esac
done <"$facts"
section "Processes the wrapper started (trace line, exit code it read, command line)"
for entry in "${runs[@]}"; do
  read -r line _ exit_code cmdline <<<"$entry"
  printf '   %-8s exit %-4s %s\n' "$line" "$exit_code" "$cmdline"
done
section "Cabinets, the engine and the ready event (server trace $trace)"
before=0
for name in "${cabinets[@]}"; do
  line=${cabinet_line[$name]:-}
  if [ -n "$line" ] && [ -n "$engine_line" ] && [ "$line" -lt "$engine_line" ]; then
    before=$((before + 1))
  fi
done
printf '   engine started at line %s, %d of %d cabinets created before; last cabinet %s at line %s\n' \
  "${engine_line:-(never)}" "$before" "${#cabinets[@]}" "${last_cabinet:-(none)}" "$last_cabinet_line"
printf '   ready event set at line %s; first cabinet read by another process at line %s (%s)\n' \
  "${set_line:-(never)}" "${read_line:-(never)}" "${read_name:-}"
check "the wrapper created all ${#cabinets[@]} cabinets" test "${#cabinet_line[@]}" -eq "${#cabinets[@]}"
check "the engine ran the product package with WRAPPER=1 and ended with 0" \
  test -n "$engine_line" -a "$engine_exit" = 0
check "the engine was started before the last cabinet ($last_cabinet) was written" \
  earlier "$engine_line" "$last_cabinet_line"
check "the wrapper set the ready event after the last cabinet" earlier "$last_cabinet_line" "$set_line"
# The waits of the package: the event ended one of them, and no cabinet was read before.
ended_line=""
while read -r kind wait_pid begin ended status index; do
  [ "$kind" = wait ] || continue
  if [ "$status" = "$index" ] && [ -z "$ended_line" ]; then
    ended_line=$ended
    if [ -n "$set_line" ] && [ "$begin" -lt "$set_line" ]; then
      echo "   process $wait_pid waited on the ready event from line $begin, before it was set, until line $ended"
    else
      echo "   process $wait_pid waited on the ready event at line $begin, already set; it ended at line $ended"
    fi
  fi
done <"$facts"
check "the package waited on the ready event and the event ended that wait" \
  earlier "$set_line" "$ended_line"
check "the engine read a cabinet only after that wait had ended" earlier "$ended_line" "$read_line"

# --- What got installed ------------------------------------------------------------------
reg_value() {  # reg_value KEY NAME: the value's data, empty when absent
  run_wine reg query "HKLM\\$1" /v "$2" | sed -n "s/^ *$2 *REG_[A-Z_]* *//p" | head -n 1
}
section "Registry under HKLM\\SOFTWARE\\Halvern"
run_wine reg query 'HKLM\SOFTWARE\Halvern' /s | grep -v '^$' | sed 's/^/   /'
section "Installed products (code, name, version)"
run_wine reg query 'HKLM\SOFTWARE\Microsoft\Windows\CurrentVersion\Uninstall' /s |
  awk '/^HKEY_/ { n = split($0, p, "\\"); code = p[n] }
       $1 == "DisplayName" { sub(/^ *DisplayName *REG_SZ */, ""); name[code] = $0 }
       $1 == "DisplayVersion" { version[code] = $3 }
       END { for (c in name) printf "   %s  %s  %s\n", c, name[c], version[c] }' | sort -k2

home=$(reg_value "${identity[KIT_KEY]}" ZelvanHome)
check "the kit's key names its home (${identity[KIT_KEY]}: ZelvanHome = ${home:-none})" test -n "$home"
unix_home=$(unix_path "$home")
check "the kit home exists" test -n "$home" -a -d "$unix_home"
if [ -n "$home" ]; then
  section "Kit home $home"
  (cd "$unix_home" 2>/dev/null && find . -type f | sort | sed 's/^/   /')
fi
# The companion packages: installed from the kit home, their files deleted after. "Gone"
# counts only where they were seen to be there: the engine ran the runtime's package, which
# /s chooses (PublicrtqFeature) and a fresh prefix lacks. The database package comes only with
# its feature, which /s does not choose: its run is reported, not required.
companion_exit() {  # companion_exit NAME: the exit code of the engine's run of NAME, or none
  local entry exit_code cmdline found=none
  for entry in "${runs[@]}"; do
    read -r _ _ exit_code cmdline <<<"$entry"
    [[ "$cmdline" == *"\\$1\" /qn"* ]] && found=$exit_code
  done
  echo "$found"
}
runtime_exit=$(companion_exit rtq.msi)
echo "   the engine's run of zelvandb.msi from the kit home: exit code $(companion_exit zelvandb.msi)"
check "the wrapper installed the runtime package rtq.msi from the kit home, exit code $runtime_exit" \
  test "$runtime_exit" = 0
leftover=""
for name in rtq.msi zelvandb.msi rtq1041.MST rtq2052.MST; do
  [ -n "$home" ] && [ -e "$unix_home/$name" ] && leftover+=" $name"
done
check "the companion package files are gone from the kit home${leftover:+ (left:$leftover)}" \
  test -n "$home" -a -d "$unix_home" -a -z "$leftover" -a "$runtime_exit" = 0
# reg prints its "unable to find" on standard output: only its exit code says whether the
# key is there.
runtime_key() { run_wine reg query "HKLM\\${identity[RUNTIME_KEY]}" >/dev/null; }
check "the runtime of this version is registered (${identity[RUNTIME_KEY]})" runtime_key

service_version=${identity[UPDATE_SERVICE_VERSION]:-}
service_code=${identity[UPDATE_SERVICE_PRODUCT_CODE]:-}
if [ -n "$service_version" ] && [ -f "$payload/au.msi" ]; then
  installed=$(reg_value 'SOFTWARE\Halvern\Auto Update' AUVersion)
  check "the update service records its version (AUVersion = ${installed:-none}, carried $service_version)" \
    test "$installed" = "$service_version"
  product=$(reg_value "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\$service_code" DisplayVersion)
  check "the update service is installed as $service_code, version ${product:-none}" \
    test "$product" = "$service_version"
  install_run="" registration="" registration_exit=""
  for entry in "${runs[@]}"; do
    read -r _ _ exit_code cmdline <<<"$entry"
    [[ "$cmdline" == *'\AU\au.msi" ALLUSERS=1 /qn' ]] && install_run=$exit_code
    if [[ "$cmdline" == *'\dorvane.exe" -r rtq '"${identity[BUILD_STRING]}" ]]; then
      registration=$cmdline registration_exit=$exit_code
    fi
  done
  check "the wrapper installed au.msi for all users, with exit code ${install_run:-none}" test "$install_run" = 0
  check "the registration tool ran with -r rtq ${identity[BUILD_STRING]}, exit code ${registration_exit:-none}" \
    test "$registration_exit" = 0
  tool=${registration%%\" -r rtq*}
  tool=$(unix_path "${tool#\"}")
  check "the registration tool is installed where it ran from" test -n "$registration" -a -f "$tool"
  calls=$(dirname "$tool")/dorvane-calls.txt
  if [ -f "$calls" ]; then
    section "Calls the sample's registration tool recorded ($calls)"
    tr -d '\r' <"$calls" | sed 's/^/   /'
  fi
else
  echo "   (the payload carries no update service: its checks are skipped)"
fi

# The picture of what was checked, beside the trace: the same layout for every run.
awk -v title="Smoke run of $(basename "$exe"), release ${identity[PRODUCT_VERSION]} (${identity[BUILD_STRING]}), exit code $code, $failures of $checks checks failed" \
  -f "$here/smoke-timeline.awk" "$facts" >"$out/timeline.svg"
section "Timeline of the run: $out/timeline.svg"
section "smoke test: $checks checks, $failures failed"
[ "$failures" -eq 0 ]
