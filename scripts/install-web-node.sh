#!/usr/bin/env bash
# Installs the npm packages of the browser tests and benchmark (testing/browser/
# package.json and lock) into build/web-node. Needs node and npm, which
# scripts/install-deps.sh installs. Kept apart from the system packages so
# that a registry out of reach fails the browser suites alone, not the whole
# test run.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)

# puppeteer-core (which never downloads a browser: the tests drive the
# system's Chromium) and mark.js, at the versions of the committed lock file,
# into the build folder, never into the repository. Done again only when the
# lock file changes.
modules=$root/build/web-node
if ! cmp -s "$root/testing/browser/package-lock.json" "$modules/package-lock.json" ||
   [ ! -d "$modules/node_modules/puppeteer-core" ]; then
  echo "install-web-node: installing the npm packages of testing/browser into build/web-node"
  mkdir -p "$modules"
  cp "$root/testing/browser/package.json" "$root/testing/browser/package-lock.json" "$modules/"
  # npm's errors (an unreachable registry, a certificate it cannot check) go
  # to standard error; its progress stays quiet.
  npm ci --prefix "$modules" --no-audit --no-fund --loglevel=error >/dev/null
fi
