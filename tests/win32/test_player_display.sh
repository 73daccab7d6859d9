#!/bin/bash
# The player window and its display on a real X screen: for each case
# player_display_gui.exe opens the window as the player does, draws a
# pattern and two changed rectangles, and compares the screenshots taken
# here (xwd of the root window) with the pattern, pixel for pixel; then
# the palette messages of its window procedure repaint it, or not.
# Cases: types 4 and 5, plain and doubled, window styles and positions, on
# an 800x600 24-bit and a 640x480 16-bit screen. Type 5 on the 16-bit
# screen is drawn through GDI here (0x20: no DirectDraw) but for one case
# doubled interlaced through DirectDraw, repainted with every other line
# black; the direct path has its own test (test_ddraw_path.sh).
set -u
source "$QUARVEL_ROOT/scripts/wine_env.sh"
PROG="$QUARVEL_WIN32_BIN/player_display_gui.exe"
fail=0

# run_case NAME DISPLAYFLAGS WIDTH HEIGHT STRETCHW STRETCHH X Y
run_case() {
  local name=$1; shift
  local dir="$WINE_ENV_DIR/$name"
  mkdir -p "$dir"
  wine "$PROG" "$(winepath -w "$dir")" "$@" &
  local pid=$!
  for n in 1 2 3 4 5; do
    for _ in $(seq 600); do
      [ -f "$dir/ready$n.txt" ] && break
      kill -0 "$pid" 2>/dev/null || break
      sleep 0.1
    done
    [ -f "$dir/ready$n.txt" ] || break
    xwd -root -silent > "$dir/tmp$n.xwd" && mv "$dir/tmp$n.xwd" "$dir/shot$n.xwd"
  done
  wait "$pid"
  local code=$?
  echo "--- $name (exit $code)"
  cat "$dir/result.txt" 2>/dev/null || echo "(no result file)"
  if [ "$code" != 0 ]; then
    fail=1
    [ -f "$dir/shot1.xwd" ] && convert "xwd:$dir/shot1.xwd" "/tmp/quarvel-$name-shot1.png" 2>/dev/null
  fi
}

trap wine_env_stop EXIT

wine_env_start 800x600x24
#        name                 flags   w   h   sw  sh   x   y
run_case t4-24-plain          24      160 120 0   0    -1  -1
run_case t5-24-plain          25      160 120 0   0    -1  -1
run_case t4-24-double-x0y0    24      160 120 320 240  0   0
run_case t5-24-double-bare    0x4219  160 120 320 240  -1  -1
run_case t5-24-odd-thin       0xC039  100 60  0   0    17  9
run_case auto-24-double-thin  0xC200  96  64  192 128  -1  -1
wine_env_stop

wine_env_start 640x480x16
run_case t4-16-plain          24      160 120 0   0    -1  -1
run_case t5-16-plain          0x39    160 120 0   0    -1  -1
run_case t4-16-double         0x218   160 120 320 240  -1  -1
run_case t5-16-double         0x39    160 120 320 240  0   0
run_case t5-16-interlaced     0x99    160 120 320 240  -1  -1
wine_env_stop

[ "$fail" = 0 ] && echo "PASS: every display case"
exit "$fail"
