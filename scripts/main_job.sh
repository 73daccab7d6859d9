#!/bin/bash
# Builds both targets, makes the demo movie and a self-playing player that
# carries it, and plays that under Wine on an 800x600 24-bit screen as a
# person would see and hear it: its own switches, the default sound back-end,
# a sound device that keeps real time. Leaves in out/: demo.qvl,
# quarvdemo.exe, shot-N.png (and screenshot.png) taken at known times,
# sound.wav (what the device played, in real time) with sound.log,
# summary.txt (the player's /S summary box), frames.txt (when each frame
# appeared) and measured.txt; prints the frame rate obtained against the
# movie's. Exits 0 on success.
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
rm -f "$OUT"/screenshot.png "$OUT"/shot-*.png "$OUT"/sound.wav "$OUT"/sound.log "$OUT"/sound.txt "$OUT"/box.txt \
      "$OUT"/summary.txt "$OUT"/frames.txt "$OUT"/measured.txt "$OUT"/demo.qvl "$OUT"/quarvdemo.exe

"$NATIVE/quarvmake" --quiet --demo "$OUT/demo.qvl"
# The default switches: 640 wide, borderless, 640x480 screen, track 0, no
# skip key, doubled height (the demo is 320 x 240, so 640 x 480 on screen).
"$NATIVE/quarvselfplay" "$BIN/quarvplay.exe" "$OUT/demo.qvl" "$OUT/quarvdemo.exe"

WORK=$(mktemp -d /tmp/quarvel-main-job.XXXXXX)
wine_env_start 800x600x24
trap 'wine_env_stop; rm -rf "$WORK"' EXIT
# The movie's sound as decoded, to compare the recording with.
"$NATIVE/quarvdump" "$OUT/demo.qvl" "$WORK/dump" >/dev/null
cd "$WINE_ENV_DIR"

# Added to the program's own switches: /S for the summary box, which
# probe.exe reads and closes; /Q names the frame in the caption (not shown
# by the borderless window), which probe.exe times.
wine "$BIN/probe.exe" watch watch.txt frames.txt &
watcher=$!
wine "$BIN/probe.exe" boxes summary.txt 1 >/dev/null &
boxes=$!
wine "$OUT/quarvdemo.exe" /S /Q &
player=$!

window=""
for _ in $(seq 600); do
  window=$(xdotool search --onlyvisible --name '^QuarvPlay' 2>/dev/null | head -1 || true)
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

# Pictures at known times from the first frame, turned into PNG files only
# after playback so that the conversion takes no time from the player.
for _ in $(seq 100); do grep -q 'Frame: ' frames.txt 2>/dev/null && break; sleep 0.05; done
started=$(date +%s.%N)
n=0
for at in 2 5 8 11; do
  sleep "$(awk -v s="$started" -v a="$at" -v now="$(date +%s.%N)" 'BEGIN { d = s + a - now; print (d > 0 ? d : 0) }')"
  kill -0 "$player" 2>/dev/null || break
  frame=$(tail -1 watch.txt | sed -nE 's/.*Frame: ([0-9]+)$/\1/p')
  n=$((n + 1))
  xwd -root -silent -display "$DISPLAY" > "$WORK/shot-$n.xwd"
  echo "main_job: shot-$n.png at ${at} s, frame ${frame:-?}"
done

# The movie ends by itself; Escape ends it if it is still going after three minutes.
for _ in $(seq 1800); do kill -0 "$player" 2>/dev/null || break; sleep 0.1; done
if kill -0 "$player" 2>/dev/null; then
  xdotool windowactivate "$window" 2>/dev/null || true
  xdotool key --window "$window" Escape 2>/dev/null || true
fi
status=0
wait "$player" || status=$?
wait "$boxes" || true
wait "$watcher" || true
if [ "$status" != 0 ]; then
  echo "main_job: quarvdemo.exe exited with $status" >&2
  exit 1
fi
sound_device_stop
if [ ! -s "$SOUND_FILE" ] || [ ! -s summary.txt ]; then
  echo "main_job: no sound was recorded or no summary was shown" >&2
  exit 1
fi
for shot in "$WORK"/shot-*.xwd; do
  [ -f "$shot" ] && convert "xwd:$shot" "$OUT/$(basename "$shot" .xwd).png"
done
if [ -f "$OUT/shot-2.png" ]; then cp "$OUT/shot-2.png" "$OUT/screenshot.png"
else
  echo "main_job: the movie ended before the screenshots could be taken" >&2
  exit 1
fi
cp "$SOUND_FILE" "$OUT/sound.wav"
cp "$SOUND_LOG" "$OUT/sound.log"
tr -d '\r' < summary.txt > "$OUT/summary.txt"
cp frames.txt "$OUT/frames.txt"
"$NATIVE/soundmovie" measure "$WORK/dump/track_0.wav" 22050-2-16 15 "$OUT/sound.wav" "$OUT/sound.log" \
  "$OUT/frames.txt" > "$OUT/measured.txt"

echo "main_job: quarvdemo.exe played the demo movie in a ${WIDTH}x${HEIGHT} borderless window and exited with 0."
echo "main_job: its summary box:"
sed -n '2,6p' "$OUT/summary.txt"
echo "main_job: measured from the frames' times and the sound device:"
grep -v '^figures' "$OUT/measured.txt" | sed 's/^/  /'
fps=$(sed -nE 's/.*fps=([0-9.]+).*/\1/p' "$OUT/measured.txt")
echo "main_job: frame rate obtained ${fps:-?} frames/s against the movie's 15.000"
echo "Left in out/:"
ls -l "$OUT"
