#!/bin/bash
# The summary box: its title and its whole text, written out here from the
# report's rules (not taken from the program), and no box when no frame was
# decoded.
set -u
source "$QUARVEL_ROOT/scripts/wine_env.sh"
source "$(dirname "$0")/usage_expected.sh"  # show_diff
wine_env_start 800x600x24
trap wine_env_stop EXIT
cd "$WINE_ENV_DIR"
fail=0

# 915 frames in 61000 ms: 15.0 per second; 4567 / 61000 ms decoding: 7.4%.
{
  printf 'Quarvel Summary\n'
  printf ' Frame rate: 15.0\r\n'
  printf '  Frame rate obtained: 15.0\r\n'
  printf '  Total frames played: 915\r\n'
  printf '  Skipped frames: 2\r\n'
  printf '  Sound skips: 0\r\n'
  printf '  Total playback time: 1 minute 1 second\r\n'
  printf '  Total open time: 1 millisecond\r\n\r\n'
  printf '  Average frame size: 5120\r\n'
  printf '  Highest one second data rate: 98765\r\n'
  printf '  Highest one second data rate start frame: 31\r\n'
  printf '  Speed of playback device: 150000\r\n'
  printf '  Memory used for playback: 345678\r\n'
  printf '  Total extra buffering memory: 65536\r\n'
  printf '  Highest extra buffering memory used: 40000\r\n\n'
  printf '  Percentage spent decompressing: 7.4\r\n'
  printf '  Percentage spent blitting: 2.0\r\n'
  printf '  Percentage spent reading: 1.3\r\n'
  printf '  Percentage spent background reading: 0.1 (when idle)\r\n\n'
  printf '  Slowest frame: 12  Frame rate: 12.5\r\n'
  printf '  Second slowest frame: 200  Frame rate: 14.2\r\n\r\n'
  printf '  Screen colors: 16777216\r\n'
  printf '  Display blitter: DIBSection\n'
  printf 'owner: (none)\n'
} > expected.txt

wine "$QUARVEL_WIN32_BIN/boxreader.exe" boxes.txt 1 60000 &
reader=$!
wine "$QUARVEL_WIN32_BIN/player_summary_gui.exe"
code=$?
wait "$reader"; reader_code=$?
[ "$code" = 0 ] || { echo "FAIL: exit code $code"; fail=1; }
[ "$reader_code" = 0 ] || { echo "FAIL: no summary box read"; fail=1; }
if ! cmp -s expected.txt boxes.txt; then
  echo "FAIL: summary box differs (expected <, got >; CR as ~)"; show_diff expected.txt boxes.txt; fail=1
fi

# Nothing decoded: no box at all.
wine "$QUARVEL_WIN32_BIN/boxreader.exe" none.txt 1 8000 &
reader=$!
wine "$QUARVEL_WIN32_BIN/player_summary_gui.exe" none
wait "$reader"; reader_code=$?
[ "$reader_code" = 1 ] || { echo "FAIL: a box appeared with no frame decoded"; cat none.txt; fail=1; }

[ "$fail" = 0 ] && echo "PASS: summary box text, and none without frames"
exit "$fail"
