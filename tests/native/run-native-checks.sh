#!/bin/bash
# Builds the platform-free units for the host with the address and undefined-behaviour
# sanitizers, runs their unit tests, then fuzzes the command line for a while.
#
#   tests/native/run-native-checks.sh [--fuzz-seconds N] [--build-dir DIR]
#
# N defaults to 60 (0 skips the fuzz run); DIR defaults to build/native in the repository.
# Installs nothing: it names the Debian package when a tool is missing.
set -euo pipefail

here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
repository=$(cd "$here/../.." && pwd)
fuzz_seconds=60
build_dir=$repository/build/native

usage() {
  sed -n '5,8p' "${BASH_SOURCE[0]}" | sed 's/^# \{0,1\}//'
  exit "${1:-0}"
}

while [ $# -gt 0 ]; do
  case $1 in
    --fuzz-seconds) fuzz_seconds=${2:?--fuzz-seconds needs a number}; shift 2 ;;
    --fuzz-seconds=*) fuzz_seconds=${1#*=}; shift ;;
    --build-dir) build_dir=${2:?--build-dir needs a folder}; shift 2 ;;
    --build-dir=*) build_dir=${1#*=}; shift ;;
    -h|--help) usage 0 ;;
    *) echo "unknown argument: $1" >&2; usage 2 >&2 ;;
  esac
done
case $fuzz_seconds in
  ''|*[!0-9]*) echo "--fuzz-seconds wants a whole number of seconds, not '$fuzz_seconds'" >&2; exit 2 ;;
esac

# --- What this needs, and from which Debian package. ----------------------------------
missing=0
need() {  # need <command> <package>
  if ! command -v "$1" > /dev/null 2>&1; then
    echo "missing: $1 (Debian package: $2)" >&2
    missing=1
  fi
}
need clang++ "clang-14 (or clang)"
need clang "clang-14 (or clang)"
need cmake cmake
need ninja ninja-build
need ctest cmake
if [ ! -f /usr/src/googletest/CMakeLists.txt ]; then
  echo "missing: /usr/src/googletest (Debian package: googletest)" >&2
  missing=1
fi
[ $missing -eq 0 ] || exit 3

# The sanitizer and fuzzer runtimes come separately from the compiler on Debian 12.
probe=$(mktemp -d)
trap 'rm -rf "$probe"' EXIT
printf 'int main() { return 0; }\n' > "$probe/main.cpp"
printf 'extern "C" int LLVMFuzzerTestOneInput(const unsigned char*, unsigned long) { return 0; }\n' \
  > "$probe/fuzz.cpp"
if ! clang++ -fsanitize=address,undefined "$probe/main.cpp" -o "$probe/main" > "$probe/log" 2>&1; then
  cat "$probe/log" >&2
  echo "clang++ cannot link with -fsanitize=address,undefined: install the Debian package libclang-rt-14-dev" >&2
  exit 3
fi
if ! clang++ -fsanitize=fuzzer,address,undefined "$probe/fuzz.cpp" -o "$probe/fuzz" > "$probe/log" 2>&1; then
  cat "$probe/log" >&2
  echo "clang++ cannot link with -fsanitize=fuzzer: install the Debian package libclang-rt-14-dev" >&2
  exit 3
fi

# --- Build and unit tests. --------------------------------------------------------------
echo "== configure ($build_dir)"
cmake -S "$here" -B "$build_dir" -G Ninja -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ > /dev/null
echo "== build"
cmake --build "$build_dir" -j2
echo "== sanitized unit tests"
(cd "$build_dir" && ctest --output-on-failure)

# --- Fuzzing. ---------------------------------------------------------------------------
if [ "$fuzz_seconds" -eq 0 ]; then
  echo "== fuzzing skipped (--fuzz-seconds 0)"
  exit 0
fi
echo "== fuzzing the command line for $fuzz_seconds s"
# New inputs go to a folder in the build tree; the seeds in the repository are only read.
work_corpus=$build_dir/corpus-work
mkdir -p "$work_corpus"
fuzz_log=$build_dir/fuzz.log
status=0
# Full length from the start (the capacity edges lie past 1000 bytes), and comparison
# values as coverage, so inputs one character short of a capacity are kept and grown.
"$build_dir/command_line_fuzzer" -max_total_time="$fuzz_seconds" -max_len=4096 -len_control=0 \
  -use_value_profile=1 -print_final_stats=1 \
  -dict="$here/command_line.dict" -artifact_prefix="$build_dir/" \
  "$work_corpus" "$here/corpus" > "$fuzz_log" 2>&1 || status=$?
runs=$(grep -Eo 'Done [0-9]+ runs' "$fuzz_log" | tail -n 1 | grep -Eo '[0-9]+' || true)
if [ $status -ne 0 ]; then
  tail -n 40 "$fuzz_log" >&2
  echo "fuzzer FAILED (exit $status); crashing input and log in $build_dir" >&2
  exit 1
fi
grep -E '^(Done|stat::number_of_executed_units|stat::peak_rss_mb)' "$fuzz_log" || true
echo "fuzzer: ${runs:-?} executions in $fuzz_seconds s, no invariant broken"
