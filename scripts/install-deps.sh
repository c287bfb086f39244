#!/usr/bin/env bash
# Installs the Debian packages that the build and the tests need, quietly and
# only when something is missing, then the npm packages of the browser tests
# and the browser benchmark (testing/browser/package-lock.json) into build/web-node.
# Safe to run again and again.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)

packages=(
  cmake ninja-build g++ clang libclang-rt-14-dev pkg-config
  googletest libgtest-dev libgmock-dev libbenchmark-dev
  libgumbo-dev nlohmann-json3-dev libcli11-dev
  mingw-w64 mingw-w64-tools g++-mingw-w64-x86-64-posix g++-mingw-w64-i686-posix
  wine wine64 fonts-wine libwine-dev
  xvfb xauth imagemagick x11-apps chromium firefox-esr
  binutils-mingw-w64-x86-64 binutils-mingw-w64-i686 file python3
  emscripten binaryen ca-certificates unicode-data
)
# Node.js and npm from Debian only where there are none: a machine may have
# another build of Node.js (NodeSource's carries npm and conflicts with
# Debian's npm package).
command -v node >/dev/null || packages+=(nodejs)
command -v npm >/dev/null || packages+=(npm)
# Extra packages a caller asks for, installed with the ones above.
packages+=("$@")

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
if [ ${#missing[@]} -ne 0 ]; then
  echo "install-deps: installing ${missing[*]}"
  if [ "$(id -u)" -ne 0 ]; then
    echo "install-deps: these packages are missing and installing them needs root: ${missing[*]}" >&2
    exit 1
  fi
  export DEBIAN_FRONTEND=noninteractive
  # Another apt run (an unattended upgrade, a second script) may hold the lock:
  # wait for it rather than fail.
  # A mirror in the middle of its sync (or a proxy keeping an old copy)
  # fails the update on one list while the others come: tried three times,
  # a minute apart, then the install goes on with the lists that came (it
  # fails, clearly, if what it needs is not in them).
  for attempt in 1 2 3; do
    apt-get update -qq -o DPkg::Lock::Timeout=600 && break
    echo "install-deps: apt-get update failed (attempt $attempt of 3)" >&2
    [ "$attempt" -eq 3 ] || sleep 60
  done
  apt-get install -y -qq --no-install-recommends -o DPkg::Lock::Timeout=600 "${missing[@]}" >/dev/null
fi
