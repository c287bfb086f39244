#!/usr/bin/env bash
# Compares `glintmark highlight` end to end with the parser alone (gumbo
# parsing the same page: bench/gumbo-parse.c), with the floor (parse + index
# + one scan per keyword + serialise) and with mark.js 8 under Node.js and
# jsdom, on the pages of `glintmark generate-page` of three shapes (text-rich,
# tag-dense, and tag-dense with many links; 100 KB, 1 MB, 10 MB) with 2, 5 and 7 keywords, all in one
# run. jsdom and mark.js come from the npm registry into the build folder,
# never into the repository.
#
#   bench/bench-highlight.sh                 # everything
#   bench/bench-highlight.sh 1M 10M          # only the sizes given
#   bench/bench-highlight.sh --keywords 7 --shapes dense --no-markjs 1M 10M
set -euo pipefail
cd "$(dirname "$0")/.."
work=${GLINTMARK_BENCH_DIR:-build/bench}
mkdir -p "$work"

command -v node >/dev/null || { echo "bench-highlight: Node.js is needed (apt-get install nodejs npm)" >&2; exit 1; }
if [ ! -f "$work/node_modules/mark.js/dist/mark.js" ] || [ ! -d "$work/node_modules/jsdom" ]; then
  echo "bench-highlight: installing jsdom and mark.js 8 into $work" >&2
  npm install --silent --no-audit --no-fund --prefix "$work" jsdom mark.js@8 >/dev/null
fi

cmake --preset native -B "$work/native" >/dev/null
cmake --build "$work/native" -j2 --target glintmark >/dev/null
# The parser's floor, with the flags the native build uses.
cc -O2 -o "$work/gumbo-parse" bench/gumbo-parse.c $(pkg-config --cflags --libs gumbo)
python3 bench/run-bench.py "$work/native/tools/glintmark/glintmark" "$work/gumbo-parse" \
  "$PWD/$work/node_modules" "$work/pages" "$@"
