#!/bin/bash
# Runs every test: native unit tests, the same under ASan+UBSan, the Win32
# tests under Wine and Xvfb, the browser page's tests in headless chromium,
# and the fuzz targets for a fixed time.
# Ends with the line "N passed, N failed"; exits non-zero on any failure.
set -uo pipefail
ROOT=$(cd "$(dirname "$0")/.." && pwd)
cd "$ROOT"
FUZZ_SECONDS=${FUZZ_SECONDS:-60}
LOGS="$ROOT/build/test-logs"

bash scripts/setup.sh || { echo "0 passed, 1 failed"; exit 1; }
mkdir -p "$LOGS"

passed=0
failed=0

# Adds the counts of one ctest run (from its summary line) to the totals.
count_ctest() {
  local log=$1 line total nfail
  line=$(grep -E "tests passed, [0-9]+ tests? failed out of [0-9]+" "$log" | tail -1)
  if [ -z "$line" ]; then
    if grep -q "No tests were found" "$log"; then return 0; fi
    failed=$((failed + 1)); return 0
  fi
  nfail=$(echo "$line" | sed -E 's/.* ([0-9]+) tests? failed out of ([0-9]+).*/\1/')
  total=$(echo "$line" | sed -E 's/.* failed out of ([0-9]+).*/\1/')
  passed=$((passed + total - nfail))
  failed=$((failed + nfail))
}

run_suite() {  # name, build dir, [ctest args...]
  local name=$1 dir=$2; shift 2
  echo "=== $name"
  ctest --test-dir "$dir" --output-on-failure "$@" > "$LOGS/$name.log" 2>&1
  grep -E "^(The following tests FAILED|[[:space:]]+[0-9]+ - )|tests passed" "$LOGS/$name.log" | tail -40
  count_ctest "$LOGS/$name.log"
}

# The project uses no general-purpose media framework or codec library,
# installed directly or pulled in by another package (Debian's pulseaudio,
# for one, depends on libasound2-plugins, which brings libavcodec). Wine
# needs GStreamer's core libraries, which decode nothing without plugins;
# the plugins themselves are refused.
echo "=== dependencies"
media=$(dpkg-query -W -f='${binary:Package} ${Status}\n' ffmpeg 'libavcodec*' 'libavformat*' 'libavfilter*' \
          'libavdevice*' 'libavutil*' 'libswscale*' 'libswresample*' 'libpostproc*' 'gstreamer1.0-*' \
          'vlc' 'vlc-*' 'libvlc*' 'mpv' 'libmpv*' pulseaudio libasound2-plugins 2>/dev/null |
        awk '/ install ok installed$/ { print $1 }' | paste -sd ' ')
if [ -z "$media" ]; then
  echo "no media framework or codec library installed"; passed=$((passed + 1))
else
  echo "FAILED: media framework or codec packages installed: $media"; failed=$((failed + 1))
fi

echo "=== line count"
if bash scripts/line_count.sh; then passed=$((passed + 1)); else failed=$((failed + 1)); fi

source scripts/wine_env.sh
WINE_BITS=$(wine_bits)
configs="native asan win32 wasm fuzz"
# This machine cannot start 32-bit processes: the Windows tests run the 64-bit
# build of the same sources (the 32-bit product is still built and checked).
[ "$WINE_BITS" = 64 ] && configs="native asan win32 win64 wasm fuzz"
echo "Windows tests run the ${WINE_BITS}-bit build under Wine"

build_ok=1
for cfg in $configs; do
  if ! bash scripts/build.sh "$cfg" > "$LOGS/build-$cfg.log" 2>&1; then
    echo "build $cfg FAILED:"; tail -30 "$LOGS/build-$cfg.log"
    failed=$((failed + 1)); build_ok=0
    eval "built_$cfg=0"
  else
    eval "built_$cfg=1"
  fi
done

[ "$built_native" = 1 ] && run_suite native build/native -j "$(nproc)"
[ "$built_asan" = 1 ] && ASAN_OPTIONS=detect_leaks=1 run_suite asan build/asan -j "$(nproc)"

if [ "$(eval echo \${built_win$WINE_BITS:-0})" = 1 ]; then
  wine_env_template "$ROOT/build/wine-template-$WINE_BITS"
  run_suite "win$WINE_BITS" "build/win$WINE_BITS" -j 2
fi

if [ "$built_wasm" = 1 ] && [ "$built_native" = 1 ]; then
  echo "=== web"
  bash tests/web/run.sh > "$LOGS/web.log" 2>&1
  grep -E "^(FAIL|     )" "$LOGS/web.log"
  line=$(grep -E "^[0-9]+ passed, [0-9]+ failed$" "$LOGS/web.log" | tail -1)
  if [ -n "$line" ]; then
    passed=$((passed + ${line%% passed*})); n=${line#*, }; failed=$((failed + ${n%% failed}))
  else
    tail -20 "$LOGS/web.log"; failed=$((failed + 1))
  fi
fi

if [ "$built_fuzz" = 1 ] && [ "$built_native" = 1 ]; then
  echo "=== fuzz (${FUZZ_SECONDS}s per target)"
  if bash scripts/fuzz.sh "$FUZZ_SECONDS" > "$LOGS/fuzz.log" 2>&1; then
    n=$(grep -c '^fuzz ok' "$LOGS/fuzz.log"); passed=$((passed + n))
  else
    tail -40 "$LOGS/fuzz.log"
    n=$(grep -c '^fuzz ok' "$LOGS/fuzz.log"); passed=$((passed + n))
    failed=$((failed + 1))
  fi
  grep '^fuzz ' "$LOGS/fuzz.log"
fi

echo "$passed passed, $failed failed"
[ "$failed" -eq 0 ]
