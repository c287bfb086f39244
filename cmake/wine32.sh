#!/usr/bin/env bash
# 32-bit Wine: the i386 loader under qemu-i386, served by the native 64-bit
# wine server. Use it as one uses `wine`:
#   wine32.sh PROGRAM [ARGS...]        (WINEPREFIX as for wine)
# scripts/setup-wine32.sh sets up the loader's private root; a new prefix made
# through this command is a 32-bit one.
set -u
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
root=${GLINTMARK_WINE32_CACHE:-$here/../.cache/wine32}/root
if ! [ -x "$root/usr/lib/wine/wine-preloader" ] || ! [ -x "$root/usr/bin/qemu-i386" ]; then
  echo "wine32.sh: 32-bit Wine is not set up in $root: run scripts/setup-wine32.sh" >&2
  exit 1
fi
# The one wine server serves 32-bit and 64-bit processes alike.
server=${GLINTMARK_WINESERVER64:-/usr/lib/wine/wineserver64}
if ! [ -x "$server" ]; then
  echo "wine32.sh: the 64-bit wine server $server is missing (package wine64; run scripts/install-deps.sh," \
       "or name it in GLINTMARK_WINESERVER64)" >&2
  exit 1
fi
export WINESERVER=$server
export WINEARCH=win32
exec "$root/usr/lib/wine/wine-preloader" "$root/usr/lib/wine/wine" "$@"
