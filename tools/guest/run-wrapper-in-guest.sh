#!/bin/bash
# Runs a wrapper executable in the test guest under 32-bit Wine in a fresh 64-bit prefix (as a
# 32-bit program on 64-bit Windows), then a check script of the caller's in the same guest,
# and prints both outputs. Run as root:
#   bash tools/guest/run-wrapper-in-guest.sh [--check SCRIPT] [--time-limit S] EXE [ARG...]
# for example the shipped build on the sample payload, with the report of the sample install:
#   bash tools/guest/run-wrapper-in-guest.sh --check tools/guest/report-sample-install.sh \
#     build/i686/kzt-wrapper.exe /s
# The check script runs under bash in the guest after the wrapper has ended, in the folder that
# holds the copy of EXE, with these variables:
#   WINEPREFIX          the prefix the wrapper ran in (still with its wineserver stopped)
#   WINE, WINE64        /usr/lib/wine/wine (32-bit programs) and /usr/lib/wine/wine64
#   WRAPPER_EXIT_CODE   the wrapper's exit code modulo 256, as Wine hands it to the shell
#   WRAPPER_SECONDS     how long the wrapper ran
# Exit code: the check script's (0 without one), or 124/125 from run-in-guest.sh when the guest
# run did not finish; the wrapper's own exit code is printed, not returned.
set -uo pipefail
here=$(cd "$(dirname "$0")" && pwd)
usage() {
  echo "usage: $0 [--check SCRIPT] [--time-limit SECONDS] EXE [ARG...]" >&2
  exit 2
}
check=""
time_limit=900
while [ $# -gt 0 ]; do
  case $1 in
    --check) check=${2:-}; shift 2 || usage ;;
    --time-limit) time_limit=${2:-}; shift 2 || usage ;;
    --) shift; break ;;
    -*) usage ;;
    *) break ;;
  esac
done
[ $# -ge 1 ] || usage
exe=$1
shift
[ -f "$exe" ] || { echo "no such executable: $exe" >&2; exit 2; }
[ -z "$check" ] || [ -f "$check" ] || { echo "no such check script: $check" >&2; exit 2; }

share=$(mktemp -d /tmp/kzt-guest-wrapper.XXXXXX)
trap 'rm -rf "$share"' EXIT
cp "$exe" "$share/$(basename "$exe")"
[ -n "$check" ] && cp "$check" "$share/check.sh"
cat >"$share/run.sh" <<'EOF'
# In the guest: /job holds the executable and the check script; argument 1 names the
# executable, the rest are its arguments.
set -u
exe=$1
shift
export WINEPREFIX=/tmp/wrapper-prefix WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
export WINE=/usr/lib/wine/wine WINE64=/usr/lib/wine/wine64
# A fresh prefix: the image's under a writable layer (copying its 1.3 GB takes a minute).
modprobe overlay
mkdir -p "$WINEPREFIX" /tmp/wrapper-layer/upper /tmp/wrapper-layer/work
mount -t overlay overlay -o lowerdir=/opt/kzt-wrapper-guest/prefix,upperdir=/tmp/wrapper-layer/upper,workdir=/tmp/wrapper-layer/work "$WINEPREFIX" ||
  { echo "cannot make the prefix" >&2; exit 125; }
mkdir -p /tmp/wrapper && cp "/job/$exe" /tmp/wrapper/ && cd /tmp/wrapper
echo "== Running in the guest (32-bit Wine, 64-bit prefix): $exe $*"
start=$(date +%s.%N)
"$WINE" "./$exe" "$@"
code=$?
end=$(date +%s.%N)
"${WINE%/*}/wineserver" -w
# Wine reports the Windows exit code modulo 256 to the shell (-2 is 254, 1639 is 103).
export WRAPPER_EXIT_CODE=$code
export WRAPPER_SECONDS=$(awk -v a="$start" -v b="$end" 'BEGIN { printf "%.1f", b - a }')
echo "Exit code: $code ($WRAPPER_SECONDS s)"
[ -f /job/check.sh ] || exit 0
bash /job/check.sh
EOF
bash "$here/run-in-guest.sh" --share "$share" --time-limit "$time_limit" -- \
  bash /job/run.sh "$(basename "$exe")" "$@"
