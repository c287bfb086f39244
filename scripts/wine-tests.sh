#!/usr/bin/env bash
# Runs the CTest suite of one Windows build folder under Wine, inside the X
# display that the caller provides (xvfb-run): one prefix and one wine server
# for the whole run, the server stopped at the end.
#   wine-tests.sh BUILD-DIR WINE-COMMAND [ctest args...]
set -u
build=$1 wine=$2; shift 2
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
export WINEPREFIX=$build/wineprefix WINEDEBUG=-all
export WINEDLLOVERRIDES=${WINEDLLOVERRIDES:-mscoree,mshtml=}
"$here/../cmake/wine-prefix.sh" "$WINEPREFIX" "$wine" || exit 1
# The server must not hold CTest's pipes: no standard streams of ours.
wineserver -p </dev/null >/dev/null 2>&1 &
# Start the prefix's own services now, with no streams of ours: started by the
# first test instead, they would inherit its pipes and CTest would wait on them.
"$wine" wineboot </dev/null >/dev/null 2>&1
ctest --test-dir "$build" "$@"
status=$?
wineserver -k </dev/null >/dev/null 2>&1
wait 2>/dev/null
exit $status
