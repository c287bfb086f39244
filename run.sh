#!/usr/bin/env bash
# The main job: builds the tool and runs it on sample URLs and on the example
# browsing session (with a Chromium screenshot), then builds Sheenpad.dll for
# 64-bit and 32-bit Windows and registers each under Wine.
set -euo pipefail
cd "$(dirname "$0")"
scripts/install-deps.sh chromium
# 32-bit Wine (for registering the 32-bit library below) is set up first, so
# that no step depends on what a later one installs. Where it cannot be (it
# says why), everything else still runs and the job ends failed at that step.
wine32_ready=true
scripts/setup-wine32.sh || wine32_ready=false
cmake --preset native >/dev/null
cmake --build --preset native >/dev/null
tool=build/native/tools/glintmark/glintmark
for url in \
  'https://search.example/search?hl=en&q=new+york&start=10' \
  'https://search.example/find?query=%22big+cats%22+-dogs' \
  'https://www.example.org/index.html'; do
  "$tool" keywords "$url"
done

# The page pass on a browsing session of one window (examples/session.txt): a
# search results page, a result reached from it, a page one link further on,
# and a typed address. Prints each page's report, writes the highlighted pages
# to build/examples/ and a screenshot of one of them, rendered by Chromium.
echo "== glintmark session examples/session.txt -d build/examples"
rm -rf build/examples
"$tool" session examples/session.txt -d build/examples
profile=$(mktemp -d)
chromium --headless --no-sandbox --disable-gpu --no-first-run --disable-background-networking \
  --disable-component-update --disable-sync --user-data-dir="$profile" --hide-scrollbars \
  --window-size=900,560 --screenshot="$PWD/build/examples/02-leopards.png" \
  "file://$PWD/build/examples/02-leopards.html" >/dev/null 2>&1
rm -rf "$profile"
echo "screenshot of the highlighted result page: build/examples/02-leopards.png"

# The browser extension: the page pass compiled to WebAssembly
# (build/wasm/web/glintmark-worker-engine.js, run by its background) with its
# scripts, options page and the product's icons. For Chromium unpacked in
# build/extension/ (chrome://extensions, "Load unpacked") and zipped as
# build/glintmark-extension.zip; for Firefox in build/extension-firefox/
# (about:debugging, "Load Temporary Add-on") and as build/glintmark-extension.xpi.
cmake --preset wasm >/dev/null
cmake --build --preset wasm >/dev/null
python3 extension/tools/build.py --engine build/wasm/web/glintmark-worker-engine.js build/extension build/glintmark-extension.zip
python3 extension/tools/build.py --engine build/wasm/web/glintmark-worker-engine.js --browser firefox \
  build/extension-firefox build/glintmark-extension.xpi

# The library itself: Sheenpad.dll for 32-bit Windows (build/win32/bho/, the
# file users install) and the 64-bit build of the same sources. Each registers
# itself in a Wine prefix of its own kind, the 64-bit one under wine and the
# 32-bit one under 32-bit Wine emulated by qemu-i386 (scripts/setup-wine32.sh);
# each shows what it wrote and removes it again.
for preset in win64 win32; do
  cmake --preset "$preset" >/dev/null
  cmake --build --preset "$preset" --target Sheenpad >/dev/null
  echo "built build/$preset/bho/Sheenpad.dll"
done
# show_registration WINE PRESET: registers build/PRESET/bho/Sheenpad.dll with
# the regsvr32 of WINE in build/PRESET/wineprefix, prints the registry it
# wrote and unregisters it.
show_registration() (
  wine=$1 preset=$2
  export WINEPREFIX=$PWD/build/$preset/wineprefix WINEDEBUG=-all WINEDLLOVERRIDES=mscoree,mshtml=
  cmake/wine-prefix.sh "$WINEPREFIX" "$wine"
  dll=$("$wine" winepath -w "build/$preset/bho/Sheenpad.dll" </dev/null | tr -d '\r')
  echo "== $wine regsvr32 $dll"
  "$wine" regsvr32 /s "$dll" </dev/null
  clsid='{5A7D3C1D-4E2B-11D5-9F31-0050DA2B7E10}'
  for key in 'HKCR\Sheenpad.Highlighter.1' 'HKCR\Sheenpad.Highlighter' "HKCR\\CLSID\\$clsid" \
             'HKCR\TypeLib\{5A7D3C10-4E2B-11D5-9F31-0050DA2B7E10}' \
             "HKLM\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Browser Helper Objects\\$clsid" \
             'HKLM\SOFTWARE\Microsoft\Internet Explorer\Extensions\{c4e1a9f2-4e2c-11d5-9f3B-0050da2b7e10}'; do
    "$wine" reg query "$key" /s </dev/null | tr -d '\r' | sed '/^$/d'
  done
  echo "== $wine regsvr32 /u $dll"
  "$wine" regsvr32 /u /s "$dll" </dev/null
  if "$wine" reg query "HKCR\\CLSID\\$clsid" </dev/null >/dev/null 2>&1; then
    echo "unregistration left HKCR\\CLSID\\$clsid behind" >&2; exit 1
  fi
  echo "unregistered: the class, its ProgIDs, type library, helper object and button entries are gone"
  wineserver -w
)
show_registration wine win64
if ! $wine32_ready; then
  echo "run.sh: 32-bit Wine could not be set up (see above): build/win32/bho/Sheenpad.dll is built but not registered" >&2
  exit 1
fi
show_registration cmake/wine32.sh win32
