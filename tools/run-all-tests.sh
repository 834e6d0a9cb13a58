#!/bin/bash
# Builds everything and runs all the tests: the executable checks of the i686 product, the
# wine64 tests of the x86_64 build, the sanitized native unit tests with a bounded fuzz run,
# the sample payload's own checks and the release checks. Prints each step's duration and the
# total. Run as root on Debian 12: bash tools/run-all-tests.sh
set -uo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
run_started=$SECONDS
bash tools/install-build-dependencies.sh || exit 1

minutes() { printf '%d min %02d s' $(($1 / 60)) $(($1 % 60)); }

passed=0
failed=0
summary=()
step() {
  local name=$1 began=$SECONDS outcome=passed
  shift
  echo "=== $name"
  if "$@"; then
    passed=$((passed + 1))
  else
    failed=$((failed + 1))
    outcome=FAILED
  fi
  local took=$((SECONDS - began))
  echo "=== $outcome: $name ($(minutes "$took"))"
  summary+=("$(printf '%-6s %12s  %s' "$outcome" "$(minutes "$took")" "$name")")
}

build_and_test() {
  local preset=$1
  cmake --preset "$preset" >/dev/null && cmake --build --preset "$preset" &&
    (cd "build/$preset" && ctest --output-on-failure --timeout 600)
}

step "i686 product build and executable checks" build_and_test i686
step "x86_64 build and wine64 tests" build_and_test x86_64
step "i686 end-to-end tests: the shipped build in the guest's WoW64 prefix" bash tests/guest/run-guest-tier.sh
# The two builds made the sample payload for both architectures; the checks below compare
# fresh builds against these instead of building them again.
export SAMPLE_PAYLOAD_X86=$root/build/i686/sample-payload SAMPLE_PAYLOAD_X64=$root/build/x86_64/sample-payload
if [ -x tests/native/run-native-checks.sh ]; then
  step "native sanitizer tests and fuzzing" tests/native/run-native-checks.sh --fuzz-seconds "${FUZZ_SECONDS:-60}"
fi
if [ -f sample/tests/verify-sample-payload.sh ]; then
  step "sample payload checks" bash sample/tests/verify-sample-payload.sh
fi
for script in tests/release/*.sh; do
  [ -f "$script" ] && step "release check $(basename "$script")" bash "$script"
done

echo "=== durations"
printf '%s\n' "${summary[@]}"
echo "total $(minutes $((SECONDS - run_started))) (package installation included)"
echo "$passed passed, $failed failed"
[ "$failed" -eq 0 ]
