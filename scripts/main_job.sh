#!/bin/bash
# Builds both targets, makes the demo movie and a self-playing player that
# carries it, and plays that under Wine on an 800x600 24-bit screen. Leaves in
# out/: demo.qvl, quarvdemo.exe (the self-playing program), screenshot.png and
# shot-N.png taken during playback, and sound.wav (what the sound device
# recorded). Exits 0 on success.
set -euo pipefail
ROOT=$(cd "$(dirname "$0")/.." && pwd)
cd "$ROOT"

bash scripts/setup.sh
source scripts/wine_env.sh
# The 32-bit program is the product; where this machine cannot start 32-bit
# processes, Wine runs the 64-bit build of the same sources instead.
if [ "$(wine_bits)" = 64 ]; then
  bash scripts/build.sh native win32 win64
  echo "main_job: this machine cannot run 32-bit programs; playing with the 64-bit build"
else
  bash scripts/build.sh native win32
fi

BIN=${QUARVEL_WIN32_BIN:-$(wine_test_bin)}
NATIVE=${QUARVEL_NATIVE_BIN:-$ROOT/build/native/bin}
OUT="$ROOT/out"
mkdir -p "$OUT"
rm -f "$OUT"/screenshot.png "$OUT"/shot-*.png "$OUT"/sound.wav "$OUT"/sound.txt "$OUT"/box.txt \
      "$OUT"/demo.qvl "$OUT"/quarvdemo.exe

"$NATIVE/quarvmake" --quiet --demo "$OUT/demo.qvl"
# The default switches: 640 wide, borderless, 640x480 screen, track 0, no
# skip key, doubled height (the demo is 320 x 240, so 640 x 480 on screen).
"$NATIVE/quarvselfplay" "$BIN/quarvplay.exe" "$OUT/demo.qvl" "$OUT/quarvdemo.exe"

wine_env_start 800x600x24
trap wine_env_stop EXIT
cd "$WINE_ENV_DIR"

# /Z on the command line adds DirectSound to the built-in switches: under
# Wine the waveOut device hands its blocks back late enough to starve the
# movie's pace, while DirectSound keeps it (the recording device here takes
# sound faster than real time, so the picture runs somewhat fast).
wine "$OUT/quarvdemo.exe" /Z &
player=$!

window=""
for _ in $(seq 600); do
  window=$(xdotool search --onlyvisible --name '^QuarvPlay$' 2>/dev/null | head -1 || true)
  [ -n "$window" ] && break
  kill -0 "$player" 2>/dev/null || break
  sleep 0.1
done
if [ -z "$window" ]; then
  echo "main_job: the player window did not appear" >&2
  exit 1
fi
eval "$(xdotool getwindowgeometry --shell "$window")"
echo "main_job: player window ${WIDTH}x${HEIGHT} at ${X},${Y}"

# A few pictures while it plays (it runs fast here, see above); the second
# is the screenshot.
for n in 1 2 3 4; do
  sleep 0.7
  kill -0 "$player" 2>/dev/null || break
  xwd -root -silent -display "$DISPLAY" > shot.xwd
  convert xwd:shot.xwd "$OUT/shot-$n.png"
done
if [ -f "$OUT/shot-2.png" ]; then cp "$OUT/shot-2.png" "$OUT/screenshot.png"
elif [ -f "$OUT/shot-1.png" ]; then cp "$OUT/shot-1.png" "$OUT/screenshot.png"
else
  echo "main_job: the movie ended before a screenshot could be taken" >&2
  exit 1
fi

# Let the movie finish; Escape ends it if it is still going after a minute.
for _ in $(seq 600); do kill -0 "$player" 2>/dev/null || break; sleep 0.1; done
if kill -0 "$player" 2>/dev/null; then
  xdotool windowactivate "$window" 2>/dev/null || true
  xdotool key --window "$window" Escape 2>/dev/null || true
fi
status=0
wait "$player" || status=$?
if [ "$status" != 0 ]; then
  echo "main_job: quarvdemo.exe exited with $status" >&2
  exit 1
fi

if [ ! -s "$SOUND_FILE" ]; then
  echo "main_job: no sound was recorded" >&2
  exit 1
fi
cp "$SOUND_FILE" "$OUT/sound.wav"

echo "main_job: quarvdemo.exe played the demo movie in a ${WIDTH}x${HEIGHT} borderless window and exited with 0."
echo "Left in out/:"
ls -l "$OUT"
