#!/bin/bash
# Every script and test starts wine64 through tools/run-wine64.sh, which keeps the host from
# placing a Wine process's heap where Windows needs its shared user data (see there): a direct
# start of /usr/lib/wine/wine64 fails about one start in 4,000. Lists the lines that start it
# directly; comments may name it. The guest's scripts (tools/guest, tests/guest) are exempt:
# the guest's init starts every job without randomization.
set -uo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
found=$(grep -rnI --exclude-dir=build --exclude-dir=.git -e '/usr/lib/wine/wine64' "$root" |
  grep -v -e '^[^:]*/tools/run-wine64\.sh:' -e '^[^:]*/tools/guest/' -e '^[^:]*/tests/guest/' -e '^[^:]*/tests/check-wine-launcher\.sh:' -e '^[^:]*\.md:' |
  grep -v -E '^[^:]*:[0-9]+:[[:space:]]*(#|//)')
if [ -n "$found" ]; then
  echo "These lines start wine64 directly; start it through tools/run-wine64.sh:"
  echo "$found"
  exit 1
fi
# The launcher itself works on this host (the kernel may refuse the personality change).
setarch "$(uname -m)" --addr-no-randomize true || { echo "setarch --addr-no-randomize fails here"; exit 1; }
echo "every wine64 start goes through tools/run-wine64.sh"
