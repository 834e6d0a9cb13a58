#!/bin/bash
# The main job and the smoke test of a release: builds the product (i686; the payload contract
# is checked and the executable checked as a file) and its x86_64 twin around one payload with
# one release identity, runs the twin silently ("/s") under wine64 in a fresh Wine prefix with
# the real msiexec.exe, and reports and checks what it did (tools/smoke-run.sh). Exits 0 when
# every check passed, else non-zero, so a release pipeline can gate on it.
#
#   bash tools/run-sample-install.sh [--payload DIR] [--product-version VERSION]
#        [--build-string TEXT] [--manifest-version NUMBERS] [--build-root DIR] [--guest]
#
# --payload        the payload folder; default: the sample product, built for the identity
# --product-version, --build-string, --manifest-version
#                  the release identity (WRAPPER_PRODUCT_VERSION, ...); default: that of
#                  cmake/release-identity.txt
# --build-root     where the two build trees (i686, x86_64) and the prefix go; default:
#                  build/smoke
# --guest          run the shipped i686 build itself instead, with its own (32-bit) payload,
#                  in the test guest: 32-bit Wine in a 64-bit prefix, as on 64-bit Windows
#                  (tools/guest/smoke-in-guest.sh; the guest is built on first use)
#
# This machine runs no 32-bit code, so without --guest the run is the x86_64 build's. A
# payload of 32-bit packages then writes its registry values to the 32-bit view, which the
# x86_64 build does not read: give such a payload in a 64-bit variant here (as the sample
# builds one), or use --guest. Run as root on Debian 12.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
payload="" version="" build_string="" manifest_version="" build_root=$root/build/smoke guest=0
while [ $# -gt 0 ]; do
  case "$1" in
    --payload) payload=$(cd "${2:?}" && pwd) || exit 2; shift 2 ;;
    --product-version) version=${2?}; shift 2 ;;
    --build-string) build_string=${2?}; shift 2 ;;
    --manifest-version) manifest_version=${2?}; shift 2 ;;
    --build-root) build_root=${2:?}; shift 2 ;;
    --guest) guest=1; shift ;;
    *) sed -n '2,26p' "$0" | sed 's/^# \{0,1\}//' >&2; exit 2 ;;
  esac
done
cd "$root"
bash tools/install-build-dependencies.sh

# Every input on every configure: a tree keeps no value of an earlier run.
settings=(-DCMAKE_BUILD_TYPE=Release -DWRAPPER_BUILD_TESTS=OFF -DWRAPPER_PAYLOAD_DIR="$payload"
  -DWRAPPER_PRODUCT_VERSION="$version" -DWRAPPER_BUILD_STRING="$build_string"
  -DWRAPPER_MANIFEST_VERSION="$manifest_version")
build_tree() {  # build_tree ARCH: configure and build the product executable
  local tree=$build_root/$1
  echo "== Building $tree"
  cmake -S "$root" -B "$tree" -G Ninja -DCMAKE_TOOLCHAIN_FILE="$root/cmake/toolchain-$1.cmake" \
    "${settings[@]}" >"$build_root/configure-$1.log" 2>&1 || {
    cat "$build_root/configure-$1.log" >&2
    return 1
  }
  cmake --build "$tree" --target kzt_wrapper
}
payload_of() {  # payload_of ARCH: the payload folder the tree embedded
  if [ -n "$payload" ]; then echo "$payload"; else echo "$build_root/$1/sample-payload"; fi
}
mkdir -p "$build_root"
build_tree i686
(cd "$build_root/i686" && ctest --output-on-failure -R '^executable_file_checks$')
if [ "$guest" = 1 ]; then
  exec bash "$root/tools/guest/smoke-in-guest.sh" --exe "$build_root/i686/kzt-wrapper.exe" \
    --payload "$(payload_of i686)" --identity "$build_root/i686/kzt-wrapper.identity.txt"
fi
build_tree x86_64

prefix=$build_root/prefix
rm -rf "$prefix"
bash "$root/tools/smoke-run.sh" --wine "$root/tools/run-wine64.sh" --wineserver /usr/lib/wine/wineserver \
  --prefix "$prefix" \
  --exe "$build_root/x86_64/kzt-wrapper.exe" --payload "$(payload_of x86_64)" \
  --identity "$build_root/x86_64/kzt-wrapper.identity.txt"
