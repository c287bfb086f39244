#!/usr/bin/env bash
# Builds every preset and runs every test: native, sanitizers, the browser
# engine and the extension in headless Chromium and Firefox, fuzzers, the win64 suite under Wine, and the
# 32-bit checks. Ends with one summary line, "N passed, N failed", over all
# of them; exits non-zero on any failure.
set -u
cd "$(dirname "$0")"
root=$PWD
log=$root/build/logs
mkdir -p "$log"

scripts/install-deps.sh || { echo "test.sh: could not install the build dependencies" >&2; exit 1; }

passed=0 failed=0 broken=()

# count LABEL LOGFILE STATUS: adds a CTest run's totals to the summary.
count() {
  local label=$1 file=$2 status=$3 line total bad
  line=$(grep -E '[0-9]+% tests passed, [0-9]+ tests? failed out of [0-9]+' "$file" | tail -1)
  if [ -z "$line" ]; then
    echo "== $label: no test ran (status $status)"
    failed=$((failed + 1)); broken+=("$label"); return
  fi
  total=$(sed -E 's/.* out of ([0-9]+).*/\1/' <<<"$line")
  bad=$(sed -E 's/.* ([0-9]+) tests? failed.*/\1/' <<<"$line")
  passed=$((passed + total - bad)); failed=$((failed + bad))
  echo "== $label: $line"
  if [ "$bad" -ne 0 ] || [ "$status" -ne 0 ]; then
    broken+=("$label")
    [ "$bad" -eq 0 ] && failed=$((failed + 1))
  fi
}

# count_node LABEL LOGFILE STATUS: adds a node --test run's totals (TAP
# reporter: one test per case) to the summary.
count_node() {
  local label=$1 file=$2 status=$3 pass bad
  pass=$(sed -nE 's/^# pass ([0-9]+)$/\1/p' "$file" | tail -1)
  bad=$(sed -nE 's/^# (fail|cancelled) ([0-9]+)$/\2/p' "$file" | awk '{n += $1} END {print n + 0}')
  if [ -z "$pass" ]; then
    echo "== $label: no test ran (status $status)"
    failed=$((failed + 1)); broken+=("$label"); return
  fi
  passed=$((passed + pass)); failed=$((failed + bad))
  echo "== $label: $pass passed, $bad failed$(sed -nE 's/^# skipped ([1-9][0-9]*)$/, \1 skipped/p' "$file" | tail -1)"
  if [ "$bad" -ne 0 ] || [ "$status" -ne 0 ]; then
    broken+=("$label")
    [ "$bad" -eq 0 ] && failed=$((failed + 1))
  fi
}

# build PRESET: configure and build; a failed build counts as a failed test.
build() {
  local preset=$1
  echo "== building $preset"
  if ! { cmake --preset "$preset" >"$log/configure-$preset.log" 2>&1 &&
         cmake --build --preset "$preset" >"$log/build-$preset.log" 2>&1; }; then
    echo "== $preset: BUILD FAILED (see build/logs/*-$preset.log)"
    tail -30 "$log/configure-$preset.log" "$log/build-$preset.log" 2>/dev/null | grep -v '^\[' | tail -30
    failed=$((failed + 1)); broken+=("build $preset")
    return 1
  fi
}

for preset in native native-asan; do
  if build "$preset"; then
    ASAN_OPTIONS=detect_leaks=1 ctest --preset "$preset" >"$log/test-$preset.log" 2>&1
    count "$preset" "$log/test-$preset.log" $?
  fi
done

# The browser engine (web/, the wasm preset) in headless Chromium and in
# headless Firefox ESR, driven by web/test/ against the native build's
# glintmark: the differential, the live-page checks and the
# Content-Security-Policy fallback. Then the extension (extension/) built
# around it for each browser, through a browsing session compared page by
# page with `glintmark session`. Each suite runs once per browser
# (GLINTMARK_BROWSER); a browser that is not installed is skipped.
if build wasm; then
  if [ ! -x /usr/bin/chromium ] && [ ! -x /usr/bin/firefox-esr ]; then
    echo "== browser, extension: skipped: Chromium and Firefox missing (scripts/install-deps.sh installs them)"
  elif ! scripts/install-web-node.sh 2>"$log/install-web-node.log"; then
    echo "== browser, extension: FAILED: the npm packages of testing/browser could not be installed:"
    tail -5 "$log/install-web-node.log" | sed 's/^/   /'
    failed=$((failed + 2)); broken+=("browser" "extension")
  else
    for browser in chromium firefox; do
      binary=/usr/bin/$browser; [ "$browser" = firefox ] && binary=/usr/bin/firefox-esr
      suffix=; [ "$browser" = firefox ] && suffix=-firefox
      if [ ! -x "$binary" ]; then
        echo "== browser$suffix, extension$suffix: skipped: $binary missing (scripts/install-deps.sh installs it)"
        continue
      fi
      GLINTMARK_BROWSER=$browser node --test --test-reporter=tap web/test/*.test.mjs >"$log/test-browser$suffix.log" 2>&1
      count_node "browser$suffix" "$log/test-browser$suffix.log" $?
      GLINTMARK_BROWSER=$browser node --test --test-reporter=tap extension/test/*.test.mjs \
        >"$log/test-extension$suffix.log" 2>&1
      count_node "extension$suffix" "$log/test-extension$suffix.log" $?
    done
  fi
fi

# Fuzzers: a bounded run of each, from its committed seed corpus.
if build fuzz; then
  for fuzzer in $(find build/fuzz -name '*_fuzz' -type f -perm -u+x | sort); do
    name=$(basename "$fuzzer")
    corpus=$(find . -path ./build -prune -o -type d -name "${name}_corpus" -print | head -1)
    work=build/fuzz/corpus-$name; mkdir -p "$work"
    if "$fuzzer" -max_total_time="${GLINTMARK_FUZZ_SECONDS:-30}" -rss_limit_mb=2048 -timeout=10 \
         "$work" ${corpus:+"$corpus"} >"$log/$name.log" 2>&1; then
      passed=$((passed + 1)); echo "== fuzz $name: $(grep -Eo 'Done [0-9]+ runs' "$log/$name.log" | tail -1)"
    else
      failed=$((failed + 1)); broken+=("fuzz $name"); echo "== fuzz $name: FAILED"; tail -40 "$log/$name.log"
    fi
  done
fi

# Windows builds: the 64-bit suite under Wine, and the same suite on the
# 32-bit build (the product) under 32-bit Wine emulated by qemu-i386, each in
# an Xvfb display of the same size.
# 32-bit Wine is set up before anything of the win32 preset is built, so that
# nothing there can depend on the order of the steps.
for preset in win64 win32; do
  wine=wine wine_ready=1
  if [ "$preset" = win32 ]; then
    wine=$root/cmake/wine32.sh
    if scripts/setup-wine32.sh 2>"$log/setup-wine32.log"; then
      sed 's/^/== /' "$log/setup-wine32.log"
    else
      echo "== win32: 32-bit Wine could not be set up, so the 32-bit suite cannot run:"
      sed 's/^/   /' "$log/setup-wine32.log"
      failed=$((failed + 1)); broken+=("setup-wine32")
      wine_ready=0
    fi
  fi
  if build "$preset"; then
    if [ "$wine_ready" -eq 0 ]; then
      # The static checks of the 32-bit binaries need no Wine.
      ctest --preset win32 -R '^(pe|check_dll)_' >"$log/test-$preset.log" 2>&1
      count "$preset static checks" "$log/test-$preset.log" $?
      continue
    fi
    started=$SECONDS
    xvfb-run -a -s "-screen 0 1280x1024x24" \
      scripts/wine-tests.sh "$root/build/$preset" "$wine" --output-on-failure -j2 --timeout 900 \
      >"$log/test-$preset.log" 2>&1
    count "$preset" "$log/test-$preset.log" $?
    echo "== $preset: $((SECONDS - started)) s under Wine"
  fi
done

for label in "${broken[@]}"; do
  echo "== FAILED: $label (logs in build/logs)"
  grep -E '\*\*\*Failed|\(Failed\)|\(Timeout\)|\(SEGFAULT\)|Exception|^ *not ok' "$log/test-${label}.log" 2>/dev/null | head -20
done
echo "$passed passed, $failed failed"
[ "$failed" -eq 0 ]
