# Shared by the release checks (sourced, not run): a work folder removed on exit, result
# counting, a synthetic payload and i686/x86_64 build trees of the wrapper.
set -uo pipefail

root=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
python=/usr/bin/python3
extract="$python $root/tools/extract-payload.py"
# Another osslsigncode (for instance the one of a different Debian release) can be tried
# with OSSLSIGNCODE=/path/to/osslsigncode.
osslsigncode=${OSSLSIGNCODE:-osslsigncode}
work=$(mktemp -d "/tmp/release-$(basename "$0" .sh).XXXXXX")
failures=0
started=$SECONDS

cleanup_steps=()
cleanup() {
  local step
  for step in "${cleanup_steps[@]}"; do eval "$step"; done
  rm -rf "$work"
}
trap cleanup EXIT

pass() { echo "ok: $*"; }
fail() {
  echo "FAILED: $*"
  failures=$((failures + 1))
}
# check DESCRIPTION COMMAND...: passes when the command succeeds.
check() {
  local what=$1
  shift
  if "$@"; then pass "$what"; else fail "$what"; fi
}
finish() {
  echo "$(basename "$0"): $failures failure(s), $((SECONDS - started)) s"
  [ "$failures" -eq 0 ]
  exit
}

# The payload table: file, resource type, identifier, in the order of the resource table.
payload_table=(
  "kzt1.6.0_32.msi ZELVAN_INSTALLER 101"
  "ss160320.cab ZELVAN_CAB9 110"
  "st160320.cab ZELVAN_CAB10 111"
  "sj160320.cab ZELVAN_CAB7 108"
  "sp160320.cab ZELVAN_CAB8 109"
  "sz160320.cab ZELVAN_CAB11 112"
  "sb160320.cab ZELVAN_CAB12 113"
  "sr160320.cab ZELVAN_CAB13 114"
  "au.msi ZELVAN_INSTALLER 1119"
  "au.cab ZELVAN_INSTALLER 1120"
)

# make_payload FOLDER [FILE...]: small payload files with the right leading bytes and
# contents of different sizes; all ten files when none are named.
make_payload() {
  local folder=$1
  shift
  local files=("$@") entry i=0
  if [ ${#files[@]} -eq 0 ]; then
    for entry in "${payload_table[@]}"; do files+=("${entry%% *}"); done
  fi
  mkdir -p "$folder"
  for entry in "${files[@]}"; do
    i=$((i + 1))
    case "$entry" in
      *.msi) printf '\xd0\xcf\x11\xe0\xa1\xb1\x1a\xe1' >"$folder/$entry" ;;
      *.cab) printf 'MSCF' >"$folder/$entry" ;;
    esac
    # A distinct body per file, growing with its place, so no two resources are alike.
    head -c $((i * 777)) /dev/zero | tr '\0' "$(printf "\\$(printf '%03o' $((64 + i)))")" \
      >>"$folder/$entry"
    printf ' %s end\n' "$entry" >>"$folder/$entry"
  done
}

# configure ARCH BUILD_DIR SOURCE_DIR [cmake arguments...]: a Release tree of the wrapper.
# The payloads of make_payload are synthetic (leading bytes, no installer databases), so the
# payload contract is not checked.
configure() {
  local arch=$1 build=$2 source=$3
  shift 3
  cmake -S "$source" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release \
    -DCMAKE_TOOLCHAIN_FILE="$source/cmake/toolchain-$arch.cmake" -DWRAPPER_BUILD_TESTS=OFF \
    -DWRAPPER_CHECK_PAYLOAD_CONTRACT=OFF \
    ${OSSLSIGNCODE:+-DWRAPPER_OSSLSIGNCODE=$OSSLSIGNCODE} "$@"
}

# build BUILD_DIR: the product executable and its release steps only.
build() {
  cmake --build "$1" -j2 --target kzt_wrapper
}
