#!/usr/bin/env bash
# CTest's emulator for the win32 build: runs one 32-bit Windows program under
# emulated 32-bit Wine (cmake/wine32.sh).
#   wine32-run.sh PREFIX PROGRAM [ARGS...]
# The same contract as wine-run.sh: every test of the build folder shares the
# one prefix given by CMake, here a 32-bit one.
set -u
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
export WINEPREFIX=$1; shift
export WINEDEBUG=${WINEDEBUG:--all}
export WINEDLLOVERRIDES=${WINEDLLOVERRIDES:-mscoree,mshtml=}
"$here/wine-prefix.sh" "$WINEPREFIX" "$here/wine32.sh" || exit 1
exec "$here/wine32.sh" "$@"
