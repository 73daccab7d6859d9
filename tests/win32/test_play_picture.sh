#!/bin/bash
# What the player shows is the movie's frame, pixel for pixel: a writer-made
# movie is played with /Q /J, paused with Space, then stepped with Enter or
# acted on by probe.exe; the window's client area in a screenshot must then
# equal quarvdump's frame for the caption's frame number (scaled when /W /H
# stretch it; in 5-6-5 on a 16-bit screen). Standard DIBs (/V3), DIB
# sections (/V4) and the default type, plain and doubled, with window
# styles and positions. On the 16-bit screen the default type doubles
# through DirectDraw: plain, smoothed, interlaced (every other line black).
# Repaints: a step while the window is hidden shows only through WM_PAINT
# (a covered window keeps its pixels under Wine); a step while another window
# covers part of it and has the foreground goes through GDI and leaves that
# window whole, and the whole frame is back when it has gone.
set -u
source "$QUARVEL_ROOT/scripts/wine_env.sh"
source "$(dirname "$0")/play_helpers.sh"
need_tools

# shot_case BITS NAME STEP MODE SWITCHES...: STEP "enter" presses Enter (one
# frame on, and no more), else it is probe.exe window actions (char:13 steps).
# MODE: compare_area's mode.
shot_case() {
  local bits=$1 name=$2 step=$3 mode=$4; shift 4
  local what="$name on a $bits-bit screen" n w h x y frame result probe=
  play /Q /J "$@" movie.qvl
  if ! wait_line 'Frame: ([4-9]|[1-9][0-9]+)$' 60; then
    echo "FAIL ($what): the movie did not start playing"; fail=1; finish 5; return
  fi
  press space
  sleep 0.6
  n=$(caption_frame)
  read -r w h x y < <(tail -1 watch.txt | sed -nE 's/^([0-9]+)x([0-9]+) at (-?[0-9]+),(-?[0-9]+) .*/\1 \2 \3 \4/p')
  if [ "$step" = enter ]; then
    sleep 0.6
    check "$what: paused" "$n" "$(caption_frame)"
    press Return
    wait_line "Frame: $((n + 1))\$" 10
    sleep 0.8
    check "$what: one frame on" "$((n + 1))" "$(caption_frame)"
  else  # in the background: a covering window lives as long as probe.exe
    wine "$PROBE" window $step &
    probe=$!
    sleep 3.5
  fi
  [[ $step == *enter* || $step == *char:13* ]] && n=$((n + 1))
  frame=$(printf 'dump/frame_%05d.ppm' $((n - 1)))
  screenshot "$name-$bits.xwd"
  if result=$(compare_area "$name-$bits.xwd" "$x" "$y" "$frame" "$w" "$h" "$bits" $mode); then
    echo "ok ($what): ${w}x${h} at $x,$y, frame $n: $result"
  else
    echo "FAIL ($what): ${w}x${h} at $x,$y, frame $n: $result"; fail=1
  fi
  [ -n "$probe" ] && wait "$probe"
  wine "$PROBE" window char:27
  finish 30
  check "$what: exit code" 0 "$PLAYER_CODE"
}

WORK=$(mktemp -d "${TMPDIR:-/tmp}/quarvel-play-picture.XXXXXX")
trap 'wine_env_stop; rm -rf "$WORK"' EXIT
cd "$WORK" || exit 1
make_movie movie.qvl 160 120 300 10 || { echo "FAIL: no movie"; exit 1; }
"$QUARVDUMP" movie.qvl dump >/dev/null 2>&1 || { echo "FAIL: quarvdump"; exit 1; }
#   bits name          step                       mode        switches
ROWS="24 standard      enter                      -           /I4 /X0 /Y0 /V3
24 dibsection          enter                      -           /I4 /X0 /Y0 /V4
24 standard-2x         enter                      -           /I4 /X0 /Y0 /V3 /W320 /H240
24 dibsection-2x       enter                      -           /I4 /X0 /Y0 /V4 /W320 /H240
24 thin-border-at      enter                      -           /I1 /X17 /Y9
24 no-caption-2x       enter                      -           /I3 /W320 /H240
24 hidden              hide,wait:300,char:13,wait:1000,show:8,wait:300  -  /I4 /X0 /Y0 /V4
16 standard            enter                      -           /I4 /X0 /Y0 /V3
16 dibsection-2x       enter                      -           /I4 /X0 /Y0 /V4 /W320 /H240
16 direct-2x           enter                      -           /I4 /X0 /Y0 /W320 /H240
16 direct-smoothed     enter                      smoothed    /I4 /X0 /Y0 /V261 /W320 /H240
16 direct-interlaced   hide,wait:300,char:13,wait:1000,show:5,wait:300  interlaced  /I4 /X0 /Y0 /V132 /W320 /H240
16 direct-covered      cover,wait:500,char:13,wait:4000  covered  /I4 /X0 /Y0 /W320 /H240
16 direct-uncovered    cover,wait:500,uncover,wait:1000  -    /I4 /X0 /Y0 /W320 /H240"
for bits in 24 16; do
  wine_env_start 640x480x$bits
  cd "$WORK" || exit 1
  while read -r b name step mode switches; do
    [ "$b" = "$bits" ] || continue
    [ "$mode" = - ] && mode=
    shot_case "$bits" "$name" "${step//,/ }" "$mode" $switches
  done <<<"$ROWS"
  wine_env_stop
done
[ "$fail" = 0 ] && echo "PASS: the player shows the movie's frames"
exit "$fail"
