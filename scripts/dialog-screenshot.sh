#!/usr/bin/env bash
# Captures the options dialog as the user sees it: runs the settings tests'
# screenshot case under Wine, which opens the dialog and holds it open, takes
# the X screen with ImageMagick's import while it is up, and crops the image
# to the dialog's window rectangle.
#   dialog-screenshot.sh WINEPREFIX SETTINGS-TEST-EXE OUTPUT.png
# Needs an X display (run under xvfb-run, like the rest of the Windows suite).
set -u
prefix=$1 exe=$2 out=$3
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
[ -n "${DISPLAY:-}" ] || { echo "dialog-screenshot: no X display (run under xvfb-run)" >&2; exit 1; }
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
signal=$work/dialog
GLINTMARK_SCREENSHOT="Z:$signal" "$here/../cmake/wine-run.sh" "$prefix" "$exe" \
  --gtest_filter=OptionsDialogScreenshot.* --gtest_color=no >"$work/log" 2>&1 &
pid=$!
for _ in $(seq 600); do
  [ -f "$signal.open" ] && break
  kill -0 "$pid" 2>/dev/null || break
  sleep 0.1
done
if [ ! -f "$signal.open" ]; then
  echo "dialog-screenshot: the dialog did not open" >&2
  cat "$work/log" >&2
  wait "$pid"
  exit 1
fi
read -r x y width height < <(tr -d '\r' <"$signal.open")
import -window root -crop "${width}x${height}+$x+$y" +repage "$out"
captured=$?
touch "$signal.taken"
wait "$pid"
status=$?
cat "$work/log"
[ $captured -eq 0 ] && [ $status -eq 0 ] && [ -s "$out" ] && echo "dialog-screenshot: wrote $out"
