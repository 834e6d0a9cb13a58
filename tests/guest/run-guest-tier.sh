#!/bin/bash
# The 32-bit end-to-end tier: the shipped build/i686/kzt-wrapper.exe, with i686 builds of the
# tests and helpers (preset i686-guest-tests), run in the guest under 32-bit Wine in a 64-bit
# prefix, as on 64-bit Windows. Builds what it runs, boots the guest once (tools/guest), prints
# each suite's output and the tier's duration, and exits non-zero when a suite failed or the
# guest run did not finish (no result is read from an unfinished run). Run as root:
#   bash tests/guest/run-guest-tier.sh [SUITE[:GTEST_FILTER]...]
# for example, one test by hand:
#   bash tests/guest/run-guest-tier.sh 'wow64_standin_tests:ExitCodes.*'
set -uo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
cd "$root"
start=$SECONDS
fail() {
  echo "guest tier: $*" >&2
  echo "guest tier: FAILED after $((SECONDS - start)) s"
  exit 1
}

# The very executable the release build makes, with the sample payload the tests know.
cmake --preset i686 >/dev/null && cmake --build --preset i686 || fail "the i686 product build failed"
payload_dir=$(sed -n 's/^WRAPPER_PAYLOAD_DIR:PATH=//p' build/i686/CMakeCache.txt)
[ -z "$payload_dir" ] ||
  fail "build/i686 carries the payload of $payload_dir; the tier tests the sample product (reconfigure with -DWRAPPER_PAYLOAD_DIR=)"
cmake --preset i686-guest-tests >/dev/null && cmake --build --preset i686-guest-tests ||
  fail "the i686 build of the guest tests failed"

job=$root/build/i686-guest-tests/job
rm -rf "$job"
mkdir -p "$job"
cp -a build/i686-guest-tests/tier "$job/tier"
cp build/i686/kzt-wrapper.exe "$job/tier/kzt-wrapper.exe"
# The payload as the executable carries it, checked against the build's manifest.
/usr/bin/python3 tools/extract-payload.py "$job/tier/kzt-wrapper.exe" --out "$job/tier/payload" >/dev/null ||
  fail "cannot read the payload out of build/i686/kzt-wrapper.exe"
/usr/bin/python3 tools/extract-payload.py "$job/tier/kzt-wrapper.exe" --manifest |
  diff -u build/i686/kzt-wrapper.payload.txt - || fail "the executable does not carry its manifest's payload"
cp tests/guest/tier-in-guest.sh "$job/"

# Of the wine64 tier's install tests, those where the 32-bit view and folders matter: the
# main job's whole road (companions and update service included) and the package's reinstall
# request; the others can be named by hand. Besides, the service account's install through
# SysWOW64 and a user folder outside the code page.
suites=("$@")
if [ ${#suites[@]} -eq 0 ]; then
  suites=(wow64_standin_tests wow64_support_unit_tests
          "wow64_install_tests:ServiceAccountInstall.*:CjkLocalLow.*:SampleInstall.SilentInstallWalksTheWholeRoad:SampleInstall.ReinstallRequestOfThePackageIsAnsweredWithASecondRun")
  bash tests/guest/guest-tool-checks.sh || fail "the guest tools failed their checks"
fi

echo "== booting the guest ($(nproc) cores, emulated): the shipped kzt-wrapper.exe $(sha256sum build/i686/kzt-wrapper.exe | cut -c1-16)"
guest_start=$SECONDS
bash tools/guest/run-in-guest.sh --share "$job" --time-limit 1800 -- bash /job/tier-in-guest.sh "${suites[@]}"
guest_code=$?
[ $guest_code -eq 0 ] ||
  fail "the guest run ended with $guest_code after $((SECONDS - guest_start)) s; its results are not read"

failed=0
for suite in "${suites[@]}"; do
  name=${suite%%:*}
  result=$job/results/$name.result
  echo "=== $name"
  [ -f "$job/results/$name.log" ] && tr -d '\r' <"$job/results/$name.log"
  if ! [ -f "$result" ]; then
    echo "=== $name: no result"
    failed=$((failed + 1))
    continue
  fi
  read -r code seconds <"$result"
  echo "=== $name: exit code $code, $seconds s in the guest"
  [ "$code" = 0 ] || failed=$((failed + 1))
done
echo "guest tier: $((SECONDS - start)) s in all, $((SECONDS - guest_start)) s in the guest"
[ $failed -eq 0 ] || fail "$failed suite(s) failed"
echo "guest tier: passed"
