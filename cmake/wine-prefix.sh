#!/usr/bin/env bash
# Creates a Wine prefix once (idempotent, safe to call from parallel tests):
#   wine-prefix.sh PREFIX WINE-COMMAND
# Windows get their caption bars drawn by Wine itself, since Xvfb runs no
# window manager; dialogs are then laid out and captured as on Windows.
set -u
prefix=$1 wine=$2
[ -f "$prefix/.glintmark-ready" ] && exit 0
mkdir -p "$prefix"
exec 9>"$prefix.lock"
flock 9
[ -f "$prefix/.glintmark-ready" ] && exit 0
export WINEPREFIX=$prefix WINEDEBUG=-all
export WINEDLLOVERRIDES=${WINEDLLOVERRIDES:-mscoree,mshtml=}
"$wine" wineboot -i </dev/null >/dev/null 2>&1 || { echo "wine-prefix: wineboot failed for $prefix" >&2; exit 1; }
"$wine" reg add 'HKCU\Software\Wine\X11 Driver' /v Decorated /d N /f </dev/null >/dev/null 2>&1
"$wine" reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /d N /f </dev/null >/dev/null 2>&1
# Wine draws the caption's buttons with its Marlett font, which this Wine does
# not find in its data folder: without it the close box shows a letter "r".
if [ -f /usr/share/wine/fonts/marlett.ttf ]; then
  cp /usr/share/wine/fonts/marlett.ttf "$prefix/drive_c/windows/Fonts/" 2>/dev/null
fi
wineserver -w 2>/dev/null || true
touch "$prefix/.glintmark-ready"
