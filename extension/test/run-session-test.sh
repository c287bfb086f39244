#!/usr/bin/env bash
# Builds the extension around the engine and runs the browsing session test
# (session_test.mjs) in headless Chromium; its output ends with
# "N passed, N failed". Exit 77 when /usr/bin/chromium is missing.
#
#   extension/test/run-session-test.sh [ENGINE.js]   (default build/wasm/web/glintmark-engine.js)
#
# Needs the native build's glintmark tool (the comparison) and puppeteer-core
# in build/web-node (installed here when missing).
set -euo pipefail
cd "$(dirname "$0")/../.."
engine=${1:-build/wasm/web/glintmark-engine.js}
if [ ! -x /usr/bin/chromium ]; then
  echo "SKIPPED: /usr/bin/chromium is missing (scripts/install-deps.sh chromium installs it)"
  exit 77
fi
command -v node >/dev/null || scripts/install-deps.sh nodejs
if [ ! -d build/web-node/node_modules/puppeteer-core ]; then
  command -v npm >/dev/null || scripts/install-deps.sh npm
  mkdir -p build/web-node
  npm install --prefix build/web-node --no-audit --no-fund --silent puppeteer-core@24.43.1
fi
python3 extension/build.py --engine "$engine" build/extension build/glintmark-extension.zip
mkdir -p build/extension-test/screenshots
node extension/test/session_test.mjs build/extension build/native/tools/glintmark/glintmark \
  build/extension-test/work "${GLINTMARK_SCREENSHOTS:-build/extension-test/screenshots}"
