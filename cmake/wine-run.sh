#!/usr/bin/env bash
# CTest's emulator for the win64 build: runs one Windows program under Wine.
#   wine-run.sh PREFIX PROGRAM [ARGS...]
# Every test of a build folder shares the one prefix given by CMake. test.sh
# starts the wine server before a run and stops it afterwards; run by hand, the
# server starts on demand.
set -u
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
export WINEPREFIX=$1; shift
export WINEDEBUG=${WINEDEBUG:--all}
# No Mono or Gecko installers: the prefix is for our own programs only.
export WINEDLLOVERRIDES=${WINEDLLOVERRIDES:-mscoree,mshtml=}
"$here/wine-prefix.sh" "$WINEPREFIX" wine || exit 1
exec wine "$@"
