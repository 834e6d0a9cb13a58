#!/bin/bash
# Checks of the guest tools (tools/guest) on bad input: an image whose record is missing or
# does not match its files is not used; a guest that does not boot within its limit, a job
# that does not finish within its limit and a guest that does not power off are stopped and
# reported with the console's tail, and nothing of theirs is handed back as a result; a job
# that finishes hands back its output and exit code. Boots the guest four times (about two minutes).
# Run as root: bash tests/guest/guest-tool-checks.sh
set -uo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
# shellcheck source=../../tools/guest/guest-lib.bash
. "$root/tools/guest/guest-lib.bash"
run_in_guest=$root/tools/guest/run-in-guest.sh
scratch=$(mktemp -d /tmp/kzt-guest-checks.XXXXXX)
trap 'rm -rf "$scratch"' EXIT
failures=0
pass() { echo "ok: $1"; }
fail() {
  echo "FAILED: $1"
  failures=$((failures + 1))
}

# --- The image record, on small stand-in images --------------------------------------------
fake_image() {
  local dir=$scratch/images/$1 file
  mkdir -p "$dir"
  for file in $guest_image_files; do head -c 65536 /dev/urandom >"$dir/$file"; done
  (cd "$dir" && sha256sum $guest_image_files >image.sha256)
  echo "$dir"
}
expect_intact() {
  if guest_image_intact "$2"; then pass "$1: used"; else fail "$1: refused"; fi
}
expect_refused() {
  if guest_image_intact "$2"; then fail "$1: used"; else pass "$1: refused"; fi
}

dir=$(fake_image complete)
expect_intact "a complete image" "$dir"
expect_intact "the same image once its state is recorded" "$dir"
# One byte changed in place, size and modification time put back: only the change time tells.
mtime=$(stat -c %.9Y "$dir/disk.img")
printf 'x' | dd of="$dir/disk.img" bs=1 seek=1000 conv=notrunc status=none
touch -d "@$mtime" "$dir/disk.img"
expect_refused "an image with one byte changed" "$dir"
dir=$(fake_image truncated)
truncate -s 1000 "$dir/disk.img"
expect_refused "a truncated disk" "$dir"
dir=$(fake_image no-record)
rm "$dir/image.sha256"
expect_refused "an image without its record (a build that stopped)" "$dir"
dir=$(fake_image no-kernel)
rm "$dir/vmlinuz"
expect_refused "an image without its kernel" "$dir"
dir=$(fake_image short-record)
sed -i '/initrd.img/d' "$dir/image.sha256"
expect_refused "a record that leaves a file out" "$dir"

# --- Boots of the real image ----------------------------------------------------------------
bash "$root/tools/guest/guest-image.sh" >/dev/null || { fail "no guest image"; exit 1; }
share=$scratch/share
mkdir -p "$share"

# run_case LABEL EXPECTED_CODE STDERR_PATTERN [ENV=VALUE...] -- ARGS of run-in-guest.sh
run_case() {
  local label=$1 expected=$2 pattern=$3
  shift 3
  local environment=()
  while [ "$1" != -- ]; do environment+=("$1"); shift; done
  shift
  local start=$SECONDS code
  env "${environment[@]}" bash "$run_in_guest" --share "$share" "$@" >"$scratch/out" 2>"$scratch/err"
  code=$?
  local problems=""
  [ "$code" = "$expected" ] || problems+=" exit code $code, expected $expected;"
  grep -q -- "$pattern" "$scratch/err" || problems+=" no \"$pattern\" on stderr;"
  if [ -z "$problems" ]; then
    pass "$label ($((SECONDS - start)) s)"
  else
    fail "$label:$problems"
    sed 's/^/    stderr: /' "$scratch/err"
    sed 's/^/    stdout: /' "$scratch/out"
  fi
}

run_case "a finished job hands back its output and exit code" 7 "^to stderr$" -- \
  -- bash -c 'echo to stdout; echo to stderr >&2; exit 7'
[ "$(cat "$scratch/out")" = "to stdout" ] && pass "its standard output, alone" ||
  fail "its standard output reads \"$(head -c 200 "$scratch/out")\""

run_case "a guest that does not boot in its limit" 125 "did not boot within 5 s" -- \
  --boot-limit 5 -- true
grep -q "last lines of the guest console" "$scratch/err" && pass "... shows the console's tail" ||
  fail "no console tail for a guest that did not boot"

# The limit leaves the boot (20 s, 35 s while other work runs) ample time to start the job.
run_case "a job that does not finish in its limit" 124 "did not finish within its time limit of 75 s" -- \
  --time-limit 75 -- bash -c 'echo begun; sleep 600; echo done'
[ -s "$scratch/out" ] && fail "the unfinished job's output was handed back as its result" ||
  pass "... hands back nothing as the job's output"
grep -q "unfinished job so far" "$scratch/err" && grep -q "begun" "$scratch/err" &&
  pass "... shows what the job had written, marked unfinished" ||
  fail "the unfinished job's partial output is not shown"
grep -q "last lines of the guest console" "$scratch/err" && pass "... shows the console's tail" ||
  fail "no console tail for a job that did not finish"

# The job writes its own result and then keeps the guest from powering off.
run_case "a guest that does not power off" 125 "did not power off within 10 s" \
  KZT_GUEST_POWER_OFF_LIMIT=10 -- \
  -- bash -c 'echo "$(cat /run/kzt-guest/job-id) 0" >/run/kzt-guest/result; sleep 600'

if pgrep -f "qemu-system-x86_64.*$scratch" >/dev/null; then
  fail "a guest of these checks is still running"
fi
echo "guest tool checks: $failures failed"
[ $failures -eq 0 ]
