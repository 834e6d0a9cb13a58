#!/bin/bash
# The smoke test of tools/smoke-run.sh on a shipped i686 build, in the test guest: 32-bit Wine
# in a fresh 64-bit prefix, the WoW64 layer of 64-bit Windows, with the real msiexec.exe. The
# payload is the one the executable carries (32-bit packages), whose registry values land in
# the 32-bit view, where the 32-bit reg.exe of the checks reads them. Prints the smoke run's
# report; exits with its exit code (0: every check passed), or 124/125 when the guest did not
# finish the job (tools/guest/run-in-guest.sh). The run's timeline picture goes to --timeline
# (default: smoke-timeline.svg in the current folder). Run as root:
#   bash tools/guest/smoke-in-guest.sh --exe EXE --payload DIR --identity FILE [--timeline FILE]
set -uo pipefail
here=$(cd "$(dirname "$0")" && pwd)
exe="" payload="" identity="" timeline=$PWD/smoke-timeline.svg
while [ $# -gt 0 ]; do
  case $1 in
    --exe) exe=${2:-}; shift 2 ;;
    --payload) payload=${2:-}; shift 2 ;;
    --identity) identity=${2:-}; shift 2 ;;
    --timeline) timeline=${2:-}; shift 2 ;;
    *) sed -n '2,10p' "$0" | sed 's/^# \{0,1\}//' >&2; exit 2 ;;
  esac
done
[ -f "$exe" ] && [ -d "$payload" ] && [ -f "$identity" ] ||
  { echo "smoke-in-guest: needs --exe FILE --payload DIR --identity FILE" >&2; exit 2; }

share=$(mktemp -d /tmp/kzt-guest-smoke.XXXXXX)
trap 'rm -rf "$share"' EXIT
cp "$exe" "$share/kzt-wrapper.exe"
cp -r "$payload" "$share/payload"
cp "$identity" "$share/identity.txt"
cp "$here/../smoke-run.sh" "$here/../smoke-trace.awk" "$here/../smoke-timeline.awk" "$share/"
cat >"$share/job.sh" <<'EOF'
# In the guest: a fresh prefix is the image's under a writable layer of its own (a copy of its
# 1.3 GB takes a minute under emulation); the run and its checks work on the guest's disk.
set -u
modprobe overlay
prefix=/tmp/smoke-prefix
mkdir -p "$prefix" /tmp/smoke-layer/upper /tmp/smoke-layer/work
mount -t overlay overlay \
  -o lowerdir=/opt/kzt-wrapper-guest/prefix,upperdir=/tmp/smoke-layer/upper,workdir=/tmp/smoke-layer/work \
  "$prefix" || { echo "cannot make the prefix" >&2; exit 125; }
mkdir -p /tmp/smoke && cp -r /job/kzt-wrapper.exe /job/payload /job/identity.txt /tmp/smoke/
bash /job/smoke-run.sh --wine /usr/lib/wine/wine --wineserver /usr/lib/wine/wineserver \
  --prefix "$prefix" --exe /tmp/smoke/kzt-wrapper.exe --payload /tmp/smoke/payload \
  --identity /tmp/smoke/identity.txt --out /tmp/smoke/out
code=$?
cp /tmp/smoke/out/timeline.svg /job/ 2>/dev/null
exit $code
EOF
bash "$here/run-in-guest.sh" --share "$share" --time-limit 900 --progress "smoke test in the guest" \
  -- bash /job/job.sh
code=$?
if [ -f "$share/timeline.svg" ]; then
  cp "$share/timeline.svg" "$timeline"
  echo "== Timeline of the run, copied out of the guest: $timeline"
fi
exit $code
