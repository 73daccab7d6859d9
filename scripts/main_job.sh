#!/bin/bash
# Builds both targets and runs what exists of the player under Wine (today:
# the program showing its usage box, which is read, photographed and closed).
# Leaves out/screenshot.png and the captured sound (out/sound.wav, or a note
# in out/sound.txt when nothing was played). Exits 0 on success.
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
OUT="$ROOT/out"
mkdir -p "$OUT"
rm -f "$OUT/screenshot.png" "$OUT/sound.wav" "$OUT/sound.txt" "$OUT/box.txt"

wine_env_start 800x600x24
trap wine_env_stop EXIT
cd "$WINE_ENV_DIR"

wine "$BIN/quarvplay.exe" &
player=$!

# Wait for the usage box to be on the screen, then let it paint.
box=""
for _ in $(seq 600); do
  box=$(xdotool search --onlyvisible --name '^QuarvPlay  V 3\.1r' 2>/dev/null | head -1 || true)
  [ -n "$box" ] && break
  sleep 0.1
done
if [ -z "$box" ]; then
  echo "main_job: the usage box did not appear" >&2
  exit 1
fi
sleep 1
xwd -root -silent -display "$DISPLAY" > shot.xwd
convert xwd:shot.xwd "$OUT/screenshot.png"

# Read the box's title and text, and press its OK button.
wine "$BIN/boxreader.exe" "$OUT/box.txt" 1 30000
status=0
wait "$player" || status=$?
if [ "$status" != 0 ]; then
  echo "main_job: quarvplay.exe exited with $status" >&2
  exit 1
fi

if [ -s "$SOUND_FILE" ]; then
  cp "$SOUND_FILE" "$OUT/sound.wav"
else
  echo "No sound was played: the player only showed its usage box." > "$OUT/sound.txt"
fi

echo "main_job: quarvplay.exe showed its usage box and exited with 0. Left in out/:"
ls -l "$OUT"
echo "--- the box (title, text, owner):"
tr -d '\r' < "$OUT/box.txt"
