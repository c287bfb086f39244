#!/usr/bin/env bash
# CTest's emulator for the win64 build: runs one Windows program under Wine.
#   wine-run.sh PREFIX PROGRAM [ARGS...]
# Every test of a build folder shares the one prefix given by CMake. test.sh
# starts the wine server before a run and stops it afterwards; run by hand, the
# server starts on demand.
set -u
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
# A 32-bit prefix or a 32-bit program (PE machine 0x14c) needs the emulated
# 32-bit Wine: test scripts that run programs through this script then serve
# the win32 build unchanged.
pe_machine() {
  local at
  at=$(od -An -tu4 -j60 -N4 "$1" 2>/dev/null | tr -d ' ')
  [ -n "$at" ] && od -An -tx2 -j$((at + 4)) -N2 "$1" 2>/dev/null | tr -d ' '
}
if grep -qs '^#arch=win32' "$1/system.reg" || { [ -f "${2:-}" ] && [ "$(pe_machine "$2")" = 014c ]; }; then
  exec "$here/wine32-run.sh" "$@"
fi
export WINEPREFIX=$1; shift
export WINEDEBUG=${WINEDEBUG:--all}
# No Mono or Gecko installers: the prefix is for our own programs only.
export WINEDLLOVERRIDES=${WINEDLLOVERRIDES:-mscoree,mshtml=}
"$here/wine-prefix.sh" "$WINEPREFIX" wine || exit 1
exec wine "$@"
