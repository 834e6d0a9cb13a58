#!/bin/bash
# The main job and the smoke test of a release: builds the product (i686; the payload contract
# is checked and the executable checked as a file) and its x86_64 twin around one payload with
# one release identity, runs the twin silently ("/s") under wine64 in a fresh Wine prefix with
# the real msiexec.exe, and reports and checks what it did (tools/smoke-run.sh). Exits 0 when
# every check passed, else non-zero, so a release pipeline can gate on it.
#
#   bash tools/run-sample-install.sh [--payload DIR] [--product-version VERSION]
#        [--build-string TEXT] [--manifest-version NUMBERS] [--update-service yes|no]
#        [--build-root DIR] [--guest]
#   bash tools/run-sample-install.sh --exe EXE [--payload DIR] [--guest]
#
# --payload        the payload folder; default: the sample product, built for the identity
# --product-version, --build-string, --manifest-version, --update-service
#                  the release identity (WRAPPER_PRODUCT_VERSION, ...); default: that of
#                  cmake/release-identity.txt
# --build-root     where the build trees and the prefix go; default: build/smoke
# --guest          run the shipped i686 build itself instead, with its own (32-bit) payload,
#                  in the test guest: 32-bit Wine in a 64-bit prefix, as on 64-bit Windows
#                  (tools/guest/smoke-in-guest.sh; the guest is built on first use)
# --exe            smoke-test this built executable itself (a release's build/i686/kzt-wrapper.exe,
#                  signed or not) instead of building one: its identity is the
#                  kzt-wrapper.identity.txt beside it, its payload the files it carries (checked
#                  against the kzt-wrapper.payload.txt beside it) unless --payload names the
#                  folder; an i686 executable needs --guest
#
# This machine runs no 32-bit code, so without --guest the run is the x86_64 build's, and a
# payload given with --payload must be the 64-bit variant (x64 packages; only the x86_64 twin
# is built then). A 32-bit payload is smoke-tested with --guest; a payload of the other
# architecture is refused before anything is built. Run as root on Debian 12.
# Exit codes: 0 every check passed; 1 a check failed (or a build failed); 2 wrong arguments or
# a payload or executable of the other route's architecture; 124/125 the guest did not finish.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
usage() { sed -n '2,33p' "$0" | sed 's/^# \{0,1\}//' >&2; exit 2; }
payload="" version="" build_string="" manifest_version="" update_service="" exe=""
build_root=$root/build/smoke guest=0
while [ $# -gt 0 ]; do
  case "$1" in
    --payload) payload=$(cd "${2:?}" && pwd) || exit 2; shift 2 ;;
    --product-version) version=${2?}; shift 2 ;;
    --build-string) build_string=${2?}; shift 2 ;;
    --manifest-version) manifest_version=${2?}; shift 2 ;;
    --update-service) update_service=${2?}; shift 2 ;;
    --build-root) build_root=${2:?}; shift 2 ;;
    --exe) exe=$(realpath "${2:?}") || exit 2; shift 2 ;;
    --guest) guest=1; shift ;;
    *) usage ;;
  esac
done
if [ -n "$exe" ] && [ -n "$version$build_string$manifest_version$update_service" ]; then
  echo "run-sample-install: --exe takes the identity of the executable's build; give no identity" >&2
  exit 2
fi
cd "$root"
bash tools/install-build-dependencies.sh
mkdir -p "$build_root"

# The route decides the architecture: the guest runs the i686 build (32-bit packages), this
# machine the x86_64 twin (64-bit packages).
if [ "$guest" = 1 ]; then route_arch=i686; else route_arch=x86_64; fi
wrong_route() {  # wrong_route WHAT-IS-32-BIT(1/0)
  if [ "$1" = 1 ]; then
    echo "run-sample-install: a 32-bit payload or executable runs in the test guest: add --guest" >&2
  else
    echo "run-sample-install: --guest runs the shipped i686 build with a 32-bit payload; this one" \
      "is 64-bit: run without --guest" >&2
  fi
  exit 2
}

smoke_here() {  # smoke_here EXE PAYLOAD IDENTITY: the run under wine64 in a fresh prefix
  local prefix=$build_root/prefix
  rm -rf "$prefix"
  bash "$root/tools/smoke-run.sh" --wine "$root/tools/run-wine64.sh" \
    --wineserver /usr/lib/wine/wineserver --prefix "$prefix" --exe "$1" --payload "$2" --identity "$3"
}

if [ -n "$exe" ]; then
  # The very artifact of a release: nothing is built.
  identity=$(dirname "$exe")/kzt-wrapper.identity.txt
  [ -f "$identity" ] || { echo "run-sample-install: no $identity beside $exe" >&2; exit 2; }
  machine=$(/usr/bin/python3 -c 'import pefile, sys
print({0x14c: "i386", 0x8664: "amd64"}.get(pefile.PE(sys.argv[1], fast_load=True).FILE_HEADER.Machine, "other"))' "$exe")
  if [ "$machine" = i386 ] && [ "$guest" = 0 ]; then wrong_route 1; fi
  if [ "$machine" != i386 ] && [ "$guest" = 1 ]; then wrong_route 0; fi
  if [ -z "$payload" ]; then
    payload=$build_root/artifact-payload
    rm -rf "$payload"
    /usr/bin/python3 tools/extract-payload.py "$exe" --identity "$identity" --out "$payload"
    manifest=$(dirname "$exe")/kzt-wrapper.payload.txt
    if [ -f "$manifest" ]; then
      /usr/bin/python3 tools/extract-payload.py "$exe" --identity "$identity" --manifest |
        diff "$manifest" - >&2 ||
        { echo "run-sample-install: $exe does not carry what $manifest lists" >&2; exit 1; }
      echo "== $exe carries what $manifest lists"
    fi
  fi
  if [ "$guest" = 1 ]; then
    exec bash "$root/tools/guest/smoke-in-guest.sh" --exe "$exe" --payload "$payload" --identity "$identity" \
      --timeline "$build_root/guest-timeline.svg"
  fi
  smoke_here "$exe" "$payload" "$identity"
  exit
fi

# A given payload is checked against the route's architecture before anything is built (the
# whole contract, as the build would: a dry run).
if [ -n "$payload" ]; then
  echo "== Checking $payload for the $route_arch build"
  status=0
  /usr/bin/python3 tools/check-payload-contract.py --dry-run --arch "$route_arch" --payload "$payload" \
    --product-version "$version" --build-string "$build_string" --manifest-version "$manifest_version" \
    ${update_service:+--update-service "$update_service"} >"$build_root/dry-run.log" 2>&1 || status=$?
  cat "$build_root/dry-run.log"
  if [ $status -ne 0 ]; then
    grep -q "Summary Information platform is 'Intel'" "$build_root/dry-run.log" && wrong_route 1
    grep -q "Summary Information platform is 'x64'" "$build_root/dry-run.log" && wrong_route 0
    exit 1
  fi
fi

# Every input on every configure: a tree keeps no value of an earlier run.
settings=(-DCMAKE_BUILD_TYPE=Release -DWRAPPER_BUILD_TESTS=OFF -DWRAPPER_PAYLOAD_DIR="$payload"
  -DWRAPPER_PRODUCT_VERSION="$version" -DWRAPPER_BUILD_STRING="$build_string"
  -DWRAPPER_MANIFEST_VERSION="$manifest_version" -DWRAPPER_UPDATE_SERVICE="$update_service")
build_tree() {  # build_tree ARCH: configure and build the product executable, check it as a file
  local tree=$build_root/$1
  echo "== Building $tree"
  cmake -S "$root" -B "$tree" -G Ninja -DCMAKE_TOOLCHAIN_FILE="$root/cmake/toolchain-$1.cmake" \
    "${settings[@]}" >"$build_root/configure-$1.log" 2>&1 || {
    cat "$build_root/configure-$1.log" >&2
    return 1
  }
  cmake --build "$tree" --target kzt_wrapper
  (cd "$tree" && ctest --output-on-failure -R '^executable_file_checks$')
}
payload_of() {  # payload_of ARCH: the payload folder the tree embedded
  if [ -n "$payload" ]; then echo "$payload"; else echo "$build_root/$1/sample-payload"; fi
}
# The product build of the sample: the i686 one, whichever route runs.
if [ "$guest" = 1 ] || [ -z "$payload" ]; then
  build_tree i686
fi
if [ "$guest" = 1 ]; then
  exec bash "$root/tools/guest/smoke-in-guest.sh" --exe "$build_root/i686/kzt-wrapper.exe" \
    --payload "$(payload_of i686)" --identity "$build_root/i686/kzt-wrapper.identity.txt" \
    --timeline "$build_root/guest-timeline.svg"
fi
build_tree x86_64
smoke_here "$build_root/x86_64/kzt-wrapper.exe" "$(payload_of x86_64)" \
  "$build_root/x86_64/kzt-wrapper.identity.txt"
