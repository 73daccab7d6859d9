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
# The /S summary on the 16-bit screen names the blitter mode a movie shown
# at 1x or exactly twice its size draws with through DirectDraw (with /V256
# smoothing, /V128 interlacing); /V388 and a 1.5x output keep type 5 on GDI,
# so the summary names plain "DIBSection".
set -u
source "$QUARVEL_ROOT/scripts/wine_env.sh"
source "$(dirname "$0")/play_helpers.sh"
need_tools

# shot_case BITS NAME STEP MODE SWITCHES...: STEP "enter" presses Enter (one
# frame on, and no more), else it is probe.exe window actions (char:13 steps).
# MODE: compare_area's mode.
shot_case() {
  local bits=$1 name=$2 step=$3 mode=$4; shift 4
  local what="$name on a $bits-bit screen" n w h x y probe=
  play /Q /J "$@" movie.qvl
  wait_line 'Frame: ([4-9]|[1-9][0-9]+)$' 60 || { echo "FAIL ($what): the movie did not start playing"; fail=1; finish 5; return; }
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
  else  # probe.exe acts, then holds (a cover lives as long as it) until the shot is taken
    rm -f ready
    wine "$PROBE" window $step ready &
    probe=$!
    for _ in $(seq 600); do [ -f ready ] && break; sleep 0.1; done
  fi
  [[ $step == *enter* || $step == *char:13* ]] && n=$((n + 1))
  screenshot "$name-$bits.xwd"
  check "$what: ${w}x${h} at $x,$y, frame $n" "all $((w * h)) pixels equal" \
    "$(compare_area "$name-$bits.xwd" "$x" "$y" "$(printf 'dump/frame_%05d.ppm' $((n - 1)))" "$w" "$h" "$bits" $mode)"
  [ -n "$probe" ] && rm -f ready && wait "$probe"
  wine "$PROBE" window char:27
  finish 30
  check "$what: exit code" 0 "$PLAYER_CODE"
}

work_in play-picture
{ make_movie movie.qvl 160 120 300 10 && make_movie small.qvl 96 64 6 10; } || { echo "FAIL: no movie"; exit 1; }
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
16 direct-covered      cover,wait:500,char:13,wait:1500  covered  /I4 /X0 /Y0 /W320 /H240
16 direct-uncovered    cover,wait:500,uncover,wait:1000  -    /I4 /X0 /Y0 /W320 /H240"
A='DIBSection with accelerated blitting'
for bits in 24 16; do
  wine_env_start 640x480x$bits
  cd "$WORK" || exit 1
  while read -r b name step mode switches; do
    [ "$b" = "$bits" ] || continue
    [ "$mode" = - ] && mode=
    shot_case "$bits" "$name" "${step//,/ }" "$mode" $switches
  done <<<"$ROWS"
  [ "$bits" = 24 ] || while IFS='|' read -r name want switches; do
    read_boxes "$name.box"
    play /S $switches small.qvl
    finish 90
    boxes_done
    check "$name: exit code, colours, display" "0 65536 1" "$PLAYER_CODE $(grep -aoE 'Screen colors: [0-9]+' "$name.box" | cut -d' ' -f3) $(
      sed -n '/^owner: /{x;p};h' "$name.box" | grep -cxE "  Display blitter: $want")"
  done <<EOF2
double|$A \(16-bit 2x( using MMX)?\)|/W192 /H128
smooth|$A \(16-bit 2x Smoothing\)|/V256 /W192 /H128
interlace|$A \(16-bit 2x Interlaced( using MMX)?\)|/V128 /W192 /H128
same-size|$A \(16-bit 1x\)|
no-direct|DIBSection|/V388 /W192 /H128
one-and-a-half|DIBSection|/W144 /H96
EOF2
  wine_env_stop
done
verdict "the player shows the movie's frames and names its display"
