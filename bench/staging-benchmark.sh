#!/bin/bash
# Staging benchmark: prints ratios measured in one run (not a timed test).
#  1. staging throughput: the cabinet thread's time to write the seven cabinets (~72 MB, the
#     real sizes) over a baseline that writes the same bytes with one write per file;
#  2. latency to engine start: wrapper process creation to engine process creation, over the
#     time of writing the product package alone, and how many cabinets existed by then;
#  3. growth of the staging time from 1 MB to 72 MB to 500 MB of payload.
# The payload is synthetic (cabinet and package headers, random bytes): the wrapper copies
# it without looking inside.
#  4. with --baseline-rev REV: the cabinet thread of this tree against the one of commit REV,
#     alternating on the same 72 MB payload, as a ratio.
# Usage: bash bench/staging-benchmark.sh [repetitions] [--baseline-rev REV]
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
repetitions=${1:-5}
baseline_rev=""
[ "${2:-}" = "--baseline-rev" ] && baseline_rev=${3:?a commit after --baseline-rev}
work=$root/build/bench
mkdir -p "$work"
export WINEPREFIX=$work/prefix WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
wine=$root/tools/run-wine64.sh
[ -f "$WINEPREFIX/system.reg" ] || "$wine" wineboot -i >/dev/null 2>&1 || true

# name size, in the table's order; the real sizes of this build (72,145,323 bytes of cabinets)
cabinets="ss160320 17656920 st160320 29831550 sj160320 13439726 sp160320 29233 sz160320 1638 sb160320 10553851 sr160320 106405"

make_payload() {  # folder, scale factor
  local dir=$1 scale=$2
  [ -f "$dir/done" ] && return 0
  mkdir -p "$dir"
  python3 - "$dir" "$scale" $cabinets <<'PY'
import os, random, sys
folder, scale, rest = sys.argv[1], float(sys.argv[2]), sys.argv[3:]
rng = random.Random(1632)
def write(name, head, size):
    size = max(size, len(head) + 16)
    with open(os.path.join(folder, name), "wb") as f:
        f.write(head + rng.randbytes(size - len(head)))
write("kzt1.6.0_32.msi", bytes.fromhex("d0cf11e0a1b11ae1"), 532992)
for name, size in zip(rest[::2], rest[1::2]):
    write(name + ".cab", b"MSCF", int(int(size) * scale))
PY
  touch "$dir/done"
}

build() {  # folder name, payload folder
  local dir=$work/$1
  cmake -S "$root" -B "$dir" -G Ninja -DCMAKE_TOOLCHAIN_FILE="$root/cmake/toolchain-x86_64.cmake" \
    -DCMAKE_BUILD_TYPE=Release -DWRAPPER_BUILD_TESTS=OFF -DWRAPPER_BUILD_BENCH=ON \
    -DWRAPPER_CHECK_PAYLOAD_CONTRACT=OFF -DWRAPPER_PAYLOAD_DIR="$2" >/dev/null
  cmake --build "$dir" --target staging_bench kzt_wrapper launch_timer timed_msiexec >/dev/null
}

median() { sort -g | awk '{ v[NR] = $1 } END { print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }

run_staging() {  # build folder, repetitions -> prints "thread single package floor" medians
  local results=$work/results-$(basename "$1").txt
  "$wine" "$1/bench/staging-bench.exe" "$2" "$("$wine" winepath -w "$results" 2>/dev/null | tr -d '\r')"
  for mode in thread single package floor; do
    grep "^$mode " "$results" | cut -d' ' -f2 | median
  done | paste -sd' '
}

echo "Payload: synthetic, the real sizes (scale 1) = 72,145,323 bytes of cabinets; $repetitions repetitions"
declare -A thread single package floor
for scale_name in 1MB 72MB 500MB; do
  case $scale_name in
    1MB) scale=0.01386 ;;   # 1,000,000 bytes of cabinets
    72MB) scale=1 ;;
    500MB) scale=6.9305 ;;  # 500,000,000 bytes of cabinets
  esac
  make_payload "$work/payload-$scale_name" "$scale"
  build "build-$scale_name" "$work/payload-$scale_name"
  reps=$repetitions
  [ "$scale_name" = 500MB ] && reps=$(( (repetitions + 1) / 2 ))
  read -r thread[$scale_name] single[$scale_name] package[$scale_name] floor[$scale_name] \
    < <(run_staging "$work/build-$scale_name" "$reps")
done

echo
echo "1. Staging throughput (72 MB): cabinet thread ${thread[72MB]} s, the same files in 8 KB" \
  "writes with no lookups or checks ${floor[72MB]} s, one write per file ${single[72MB]} s"
awk -v t="${thread[72MB]}" -v f="${floor[72MB]}" -v s="${single[72MB]}" 'BEGIN {
  printf "   ratio cabinet thread / 8 KB writes alone = %.3f (goal: at most 1.15)\n", t / f
  printf "   ratio cabinet thread / one write per file = %.3f (the writes of 8 KB cost %.3f of it)\n", t / s, f / s }'

# 2. Latency: the real wrapper against a stand-in engine that records its creation time.
b=$work/build-72MB
engine_folder=$("$wine" winepath -w "$b/bench/engine" 2>/dev/null | tr -d '\r')
"$wine" reg add 'HKLM\SOFTWARE\Microsoft\Windows\CurrentVersion\Installer' /v InstallerLocation \
  /d "$engine_folder" /f >/dev/null
staging_unix=$(ls -d "$WINEPREFIX"/drive_c/users/*/AppData/LocalLow/Orvik/Zelvan/kzt1.6.0_32 | head -1)
export BENCH_STAGING_FOLDER=$("$wine" winepath -w "$staging_unix" 2>/dev/null | tr -d '\r')
engine_record=$work/engine-record.txt
launch_record=$work/launch-record.txt
rm -f "$engine_record" "$launch_record"
export BENCH_ENGINE_RECORD=$("$wine" winepath -w "$engine_record" 2>/dev/null | tr -d '\r')
wrapper=$("$wine" winepath -w "$b/kzt-wrapper.exe" 2>/dev/null | tr -d '\r')
for _ in $(seq "$repetitions"); do
  rm -f "$staging_unix"/*.cab
  "$wine" "$b/bench/launch_timer.exe" "$("$wine" winepath -w "$launch_record" 2>/dev/null | tr -d '\r')" "$wrapper"
done
latency=$(paste -d' ' "$launch_record" "$engine_record" | awk '{ print ($3 - $1) / 1e7 }' | median)
present=$(cut -d' ' -f2 "$engine_record" | paste -sd',')
waiting=$(tr -d '\r' < "$engine_record" | awk '$3 == 0' | wc -l)
echo
echo "2. Latency to engine start: ${latency} s from wrapper creation to engine creation"
awk -v l="$latency" -v p="${package[72MB]}" 'BEGIN {
  printf "   ratio latency / product package write (%.4f s) = %.1f (the rest is starting two processes)\n", p, l / p }'
echo "   the engine started before the cabinets were all written in $waiting of $repetitions runs" \
  "(cabinet files existing at its start: $present of 7)"

echo
echo "3. Growth of the cabinet thread's staging time with payload size"
for scale_name in 1MB 72MB 500MB; do
  echo "   $scale_name: ${thread[$scale_name]} s"
done
awk -v a="${thread[1MB]}" -v b="${thread[72MB]}" -v c="${thread[500MB]}" 'BEGIN {
  printf "   seconds per 100 MB: 1 MB %.3f, 72 MB %.3f, 500 MB %.3f (linear growth keeps these alike for the larger sizes)\n",
    a / 1.0 * 100, b / 72.145 * 100, c / 500.0 * 100 }'

if [ -n "$baseline_rev" ]; then
  # The other commit's sources in a worktree of their own, built around the same payload.
  tree=$work/baseline-source
  git -C "$root" worktree remove --force "$tree" 2>/dev/null || rm -rf "$tree"
  git -C "$root" worktree prune
  git -C "$root" worktree add --detach "$tree" "$baseline_rev" >/dev/null 2>&1
  dir=$work/build-baseline
  cmake -S "$tree" -B "$dir" -G Ninja -DCMAKE_TOOLCHAIN_FILE="$tree/cmake/toolchain-x86_64.cmake" \
    -DCMAKE_BUILD_TYPE=Release -DWRAPPER_BUILD_TESTS=OFF -DWRAPPER_BUILD_BENCH=ON \
    -DWRAPPER_CHECK_PAYLOAD_CONTRACT=OFF -DWRAPPER_PAYLOAD_DIR="$work/payload-72MB" >/dev/null
  cmake --build "$dir" --target staging_bench kzt_wrapper >/dev/null
  rm -f "$work"/ab-*.txt
  for _ in $(seq "$repetitions"); do
    for side in baseline current; do
      tree_dir=$dir
      [ $side = current ] && tree_dir=$work/build-72MB
      one=$work/ab-one.txt
      "$wine" "$tree_dir/bench/staging-bench.exe" 1 "$("$wine" winepath -w "$one" 2>/dev/null | tr -d '\r')"
      grep '^thread ' "$one" | cut -d' ' -f2 >> "$work/ab-$side.txt"
      # The same wrapper start as in section 2, with this side's executable.
      rm -f "$staging_unix"/*.cab "$launch_record" "$engine_record"
      "$wine" "$b/bench/launch_timer.exe" "$("$wine" winepath -w "$launch_record" 2>/dev/null | tr -d '\r')" \
        "$("$wine" winepath -w "$tree_dir/kzt-wrapper.exe" 2>/dev/null | tr -d '\r')"
      paste -d' ' "$launch_record" "$engine_record" | awk '{ print ($3 - $1) / 1e7 }' >> "$work/ab-latency-$side.txt"
    done
  done
  before=$(median < "$work/ab-baseline.txt")
  after=$(median < "$work/ab-current.txt")
  echo
  echo "4. Cabinet thread of $(git -C "$root" rev-parse --short "$baseline_rev") against this tree, alternating: $before s then $after s"
  awk -v a="$after" -v b="$before" 'BEGIN { printf "   ratio this tree / baseline = %.3f (goal: at most 1.05)\n", a / b }'
  before=$(median < "$work/ab-latency-baseline.txt")
  after=$(median < "$work/ab-latency-current.txt")
  echo "   latency to engine start, alternating: $before s then $after s"
  awk -v a="$after" -v b="$before" 'BEGIN { printf "   ratio this tree / baseline = %.3f\n", a / b }'
  git -C "$root" worktree remove --force "$tree" >/dev/null 2>&1 || true
fi
/usr/lib/wine/wineserver -k 2>/dev/null || true
