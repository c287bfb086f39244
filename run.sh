#!/usr/bin/env bash
# The main job: builds the tool and runs it on sample URLs.
set -euo pipefail
cd "$(dirname "$0")"
scripts/install-deps.sh
cmake --preset native >/dev/null
cmake --build --preset native >/dev/null
tool=build/native/tools/glintmark/glintmark
for url in \
  'https://search.example/search?hl=en&q=new+york&start=10' \
  'https://search.example/find?query=%22big+cats%22+-dogs' \
  'https://www.example.org/index.html'; do
  "$tool" keywords "$url"
done
