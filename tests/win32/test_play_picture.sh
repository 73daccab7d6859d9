#!/bin/bash
# What the player shows is the movie's frame, pixel for pixel: a writer-made
# movie is played with /I4 /X0 /Y0 /Q, paused with Space and stepped with
# Enter; the window's client area in a screenshot must then equal
# quarvdump's frame for the caption's frame number (scaled when /W and /H
# stretch it). Standard DIBs (/V3) and DIB sections (/V4), plain and
# doubled, on a 24-bit and on a 16-bit screen (compared in 5-6-5 there).
# Repainting: the paused player's window is hidden, stepped one frame and
# shown again (play_poke.exe), so that only its WM_PAINT can show the new
# frame: through GDI, and doubled interlaced through DirectDraw with every
# other line black.
set -u
source "$QUARVEL_ROOT/scripts/wine_env.sh"
source "$(dirname "$0")/play_helpers.sh"
need_tools
fail=0

# run_case BITS NAME SWITCHES...
run_case() {
  local bits=$1 name=$2; shift 2
  local what="$name on a $bits-bit screen"
  play /I4 /X0 /Y0 /Q "$@" movie.qvl
  if ! wait_line 'Frame: ([4-9]|[1-9][0-9]+)$' 60; then
    echo "FAIL ($what): the movie did not start playing"; fail=1; finish 5; return
  fi
  press space
  sleep 0.6
  local n
  n=$(caption_frame)
  sleep 0.6
  if [ "$(caption_frame)" != "$n" ]; then
    echo "FAIL ($what): frames went on after Space (caption $n, then $(caption_frame))"; fail=1
  fi
  press Return
  if ! wait_line "Frame: $((n + 1))\$" 10; then
    echo "FAIL ($what): Enter did not show frame $((n + 1)) (caption $(caption_frame))"; fail=1
    press Escape; finish 20; return
  fi
  sleep 0.8
  if [ "$(caption_frame)" != "$((n + 1))" ]; then
    echo "FAIL ($what): more than one frame after Enter (caption $(caption_frame))"; fail=1
  fi
  local w h x y
  read -r w h x y < <(tail -1 watch.txt | sed -nE 's/^([0-9]+)x([0-9]+) at (-?[0-9]+),(-?[0-9]+) .*/\1 \2 \3 \4/p')
  screenshot "shot-$name-$bits.xwd"
  local frame
  frame=$(printf 'dump/frame_%05d.ppm' "$n")
  local result
  result=$(compare_area "shot-$name-$bits.xwd" "$x" "$y" "$frame" "$w" "$h" "$bits")
  if [ $? = 0 ]; then
    echo "ok ($what): ${w}x${h} at $x,$y, frame $n: $result"
  else
    echo "FAIL ($what): ${w}x${h} at $x,$y, frame $n: $result"; fail=1
    convert "xwd:shot-$name-$bits.xwd" "/tmp/quarvel-play-$name-$bits.png" 2>/dev/null
  fi
  press Escape
  finish 30
  [ "$PLAYER_CODE" = 0 ] || { echo "FAIL ($what): the player exited with $PLAYER_CODE"; fail=1; }
}

# repaint_case BITS NAME SHOWCOMMAND [interlaced] -- SWITCHES...
repaint_case() {
  local bits=$1 name=$2 show=$3 mode=; shift 3
  [ "$1" = interlaced ] && { mode=interlaced; shift; }
  shift  # --
  local what="$name repainted on a $bits-bit screen"
  # /J: the hidden window has no focus, and the step must not wait for it.
  play /I4 /X0 /Y0 /Q /J "$@" movie.qvl
  if ! wait_line 'Frame: ([4-9]|[1-9][0-9]+)$' 60; then
    echo "FAIL ($what): the movie did not start playing"; fail=1; finish 5; return
  fi
  press space
  sleep 0.6
  local n w h x y result
  n=$(caption_frame)
  read -r w h x y < <(tail -1 watch.txt | sed -nE 's/^([0-9]+)x([0-9]+) at (-?[0-9]+),(-?[0-9]+) .*/\1 \2 \3 \4/p')
  wine "$QUARVEL_WIN32_BIN/play_poke.exe" "$show"
  sleep 0.7
  screenshot "shot-$name-$bits.xwd"
  if result=$(compare_area "shot-$name-$bits.xwd" "$x" "$y" "$(printf 'dump/frame_%05d.ppm' "$n")" "$w" "$h" "$bits" $mode); then
    echo "ok ($what): frame $n: $result"
  else
    echo "FAIL ($what): frame $n: $result"; fail=1
  fi
  press Escape
  finish 30
}

WORK=$(mktemp -d "${TMPDIR:-/tmp}/quarvel-play-picture.XXXXXX")
trap 'wine_env_stop; rm -rf "$WORK"' EXIT
cd "$WORK" || exit 1
make_movie movie.qvl 160 120 300 10 'rgb(30,90,60)' || { echo "FAIL: no movie"; exit 1; }
"$QUARVDUMP" movie.qvl dump >/dev/null 2>&1 || { echo "FAIL: quarvdump"; exit 1; }

wine_env_start 800x600x24
cd "$WORK" || exit 1
run_case 24 standard /V3
run_case 24 dibsection /V4
run_case 24 standard-2x /V3 /W320 /H240
run_case 24 dibsection-2x /V4 /W320 /H240
repaint_case 24 dibsection 8 -- /V4
wine_env_stop

wine_env_start 640x480x16
cd "$WORK" || exit 1
run_case 16 standard /V3
run_case 16 dibsection /V4
run_case 16 standard-2x /V3 /W320 /H240
run_case 16 dibsection-2x /V4 /W320 /H240
repaint_case 16 interlaced-2x 5 interlaced -- /V132 /W320 /H240
wine_env_stop

[ "$fail" = 0 ] && echo "PASS: the player shows the movie's frames"
exit "$fail"
