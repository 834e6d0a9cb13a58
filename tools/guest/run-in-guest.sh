#!/bin/bash
# Runs one command in the test guest (Debian 12 under QEMU's emulator, with 32-bit and 64-bit
# Wine) with a folder of this machine shared, and hands back the command's output and exit
# code. Run as root:
#   bash tools/guest/run-in-guest.sh --share DIR [--time-limit S] [--boot-limit S]
#        [--progress LABEL] -- COMMAND [ARG...]
# In the guest, DIR is /job and the command runs there under bash, as root, with nothing on
# its standard input; the guest has no network. A fresh 64-bit Wine prefix is copied with
#   cp -a /opt/kzt-wrapper-guest/prefix <folder>
# (32-bit programs run in it with /usr/lib/wine/wine, 64-bit ones with wine64). Every boot starts
# from the image as it was built; only what the command writes below /job stays.
# The guest image is built first when it is not in the cache (tools/guest/guest-image.sh).
# Exit code: the command's; 124 when it did not finish within the time limit (default 600 s,
# counted from the start of the boot); 125 when the guest could not be built, did not boot
# (default limit 180 s), stopped without finishing the job or did not power off. On 124 and
# 125 no result of the job is read; the reason and the tail of the guest's console are on
# stderr, and whatever the command had written so far follows, marked as unfinished.
# --progress says on stderr every 30 s how long the job has run, with its latest output line.
set -uo pipefail
# shellcheck source=guest-lib.bash
. "$(dirname "$0")/guest-lib.bash"

usage() {
  echo "usage: $0 --share DIR [--time-limit SECONDS] [--boot-limit SECONDS] [--progress LABEL]" \
    "-- COMMAND [ARG...]" >&2
  exit 2
}
share=""
time_limit=600
boot_limit=180
while [ $# -gt 0 ]; do
  case $1 in
    --share) share=${2:-}; shift 2 || usage ;;
    --time-limit) time_limit=${2:-}; shift 2 || usage ;;
    --boot-limit) boot_limit=${2:-}; shift 2 || usage ;;
    --progress) guest_progress_label=${2:-}; shift 2 || usage ;;
    --) shift; break ;;
    *) usage ;;
  esac
done
[ -n "$share" ] && [ $# -gt 0 ] || usage
[ -d "$share" ] || { guest_say "the folder to share does not exist: $share"; exit 2; }
[[ $time_limit =~ ^[1-9][0-9]*$ && $boot_limit =~ ^[1-9][0-9]*$ ]] ||
  { guest_say "time limits are whole seconds"; exit 2; }
share=$(cd "$share" && pwd)

image=$(bash "$guest_tools/guest-image.sh") || { guest_say "no guest image"; exit $guest_code_failure; }
control=$(mktemp -d /tmp/kzt-guest-control.XXXXXX)
cleanup() {
  guest_stop_qemu
  rm -rf "$control"
}
trap cleanup EXIT
trap 'exit 130' INT TERM

# The command, word for word.
{
  printf '%q ' "$@"
  printf '\n'
} >"$control/command.sh"

status=0
guest_boot "$image" "$control" "$share" "$time_limit" "$boot_limit" 0 || status=$?
if [ $status -ne 0 ]; then
  for stream in stdout stderr; do
    if [ -s "$control/$stream" ]; then
      echo "--- $stream of the unfinished job so far:" >&2
      tail -n 60 "$control/$stream" | sed 's/^/    /' >&2
    fi
  done
  exit $status
fi
cat "$control/stdout"
cat "$control/stderr" >&2
exit "$guest_job_code"
