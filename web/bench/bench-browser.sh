#!/usr/bin/env bash
# The browser benchmark: the engine (WebAssembly and JavaScript paths) against
# mark.js 8.11 in headless Chromium, on the pages of `glintmark generate-page`
# of both shapes (100 KB, 1 MB, 10 MB) with 2, 5 and 7 of its keywords.
# Builds the tool (native preset) and the engine (wasm preset), installs the
# npm packages into build/web-node, then runs bench-browser.mjs with the
# arguments given. Never run by the tests.
#
#   web/bench/bench-browser.sh                          # everything
#   web/bench/bench-browser.sh --keywords 7 --shapes text 1M
set -euo pipefail
cd "$(dirname "$0")/../.."
scripts/install-deps.sh
scripts/install-web-node.sh
cmake --preset native >/dev/null
cmake --build --preset native --target glintmark >/dev/null
cmake --preset wasm >/dev/null
cmake --build --preset wasm >/dev/null
exec node web/bench/bench-browser.mjs "$@"
