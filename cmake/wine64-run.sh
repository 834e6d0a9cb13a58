#!/bin/sh
# Runs a Windows test program under wine64 in the test prefix of the build tree, creating
# the prefix on first use. ctest uses this as the cross-compiling emulator.
set -e
build_dir=${WRAPPER_TEST_BUILD_DIR:-$(pwd)}
export WINEPREFIX=${WINEPREFIX:-$build_dir/wineprefix}
export WINEDEBUG=${WINEDEBUG:--all}
export WINEDLLOVERRIDES=${WINEDLLOVERRIDES:-mscoree,mshtml=}
exec "$(dirname "$0")/../tools/run-wine64.sh" "$@"
