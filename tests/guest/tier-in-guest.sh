#!/bin/bash
# Runs in the guest (tools/guest/run-in-guest.sh): the 32-bit end-to-end tier. /job/tier holds
# the shipped wrapper, its payload and the 32-bit test programs; each suite runs in a fresh
# 64-bit prefix made from the image's, where 32-bit programs run through Wine's WoW64 layer.
# Each suite leaves results/<suite>.log and results/<suite>.result ("<exit code> <seconds>").
#   bash /job/tier-in-guest.sh SUITE[:GTEST_FILTER]...
set -uo pipefail
export WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
export WRAPPER_TEST_BUILD_DIR=/tmp/tier
wine=/usr/lib/wine/wine
results=/job/results
rm -rf "$results" /tmp/tier
mkdir -p "$results"
# A local copy: the staging and the engine then work on the guest's own disk.
cp -a /job/tier /tmp/tier
modprobe overlay

run_suite() {
  local name=${1%%:*} filter="" start=$SECONDS code
  [[ $1 == *:* ]] && filter=--gtest_filter=${1#*:}
  local prefix=/tmp/prefix-$name layer=/tmp/layer-$name
  # A fresh prefix in no time: the image's prefix under a writable layer of its own (a copy
  # of its 1.3 GB takes a minute under emulation).
  mkdir -p "$prefix" "$layer/upper" "$layer/work"
  mount -t overlay overlay -o "lowerdir=/opt/kzt-wrapper-guest/prefix,upperdir=$layer/upper,workdir=$layer/work" \
    "$prefix" || { echo "cannot make the prefix of $name" >&2; return 1; }
  echo "== $name ${filter}"
  # The user language of every program of the suite: 1033, code page 1252. C.UTF-8 rather
  # than en_US.UTF-8, which gives the same but is no glibc locale of the guest: without one,
  # Wine makes no file name outside ASCII (seen: CreateDirectoryW of a CJK name fails with 2).
  WINEPREFIX=$prefix LC_ALL=C.UTF-8 timeout -k 10 900 "$wine" "/tmp/tier/tests/$name.exe" $filter \
    >"$results/$name.log" 2>&1 </dev/null
  code=$?
  # Whatever the suite left running (a box nobody closed, an engine) ends with its prefix.
  WINEPREFIX=$prefix /usr/lib/wine/wineserver -k 2>/dev/null
  WINEPREFIX=$prefix /usr/lib/wine/wineserver -w 2>/dev/null
  umount "$prefix"
  rm -rf "$prefix" "$layer"
  echo "$code $((SECONDS - start))" >"$results/$name.result"
  echo "== $name: exit code $code after $((SECONDS - start)) s"
}

for suite in "$@"; do
  run_suite "$suite"
done
