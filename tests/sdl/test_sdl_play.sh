#!/bin/bash
# The native player as a person meets it. Frames (compared in the 5-6-5
# colours of the player's texture): a movie whose palette changes twice
# mid-movie is played, paused with Space and stepped with Enter; the window
# must then hold quarvdump's frame for the title's frame number, pixel for
# pixel, at 1x and at 2x plain, interlaced (every other line black) and
# smoothed (in-between colours, as the whole frame smooths); a window made
# larger shows the frame scaled. Options and errors: a table of command
# lines with the exit code and the one-line message or the summary each
# must give.
set -u
source "$(dirname "$0")/sdl_helpers.sh"
need_tools "$PLAYER" "$QUARVMAKE"
fail=0
FRAMES=30
WORK=$(mktemp -d "${TMPDIR:-/tmp}/quarvel-sdl-play.XXXXXX")
trap 'x_env_stop; rm -rf "$WORK"' EXIT
cd "$WORK" || exit 1

# Three runs of ten frames, each in colours of its own, as palette PNGs: the
# movie carries a new palette at frames 10 and 20. Bars move a step a frame.
make_palette_movie() {
  local i runs=("rgb(30,90,60) rgb(250,240,20) rgb(200,30,160)" "rgb(140,20,30) rgb(20,200,230) rgb(250,250,250)"
                "rgb(20,30,150) rgb(240,120,40) rgb(90,200,90)")
  mkdir -p frames
  for i in $(seq 0 $((FRAMES - 1))); do
    set -- ${runs[$((i / 10))]}
    convert -size 96x64 "xc:$1" -fill "$2" -draw "rectangle $((i * 3)),0 $((i * 3 + 7)),63" -fill "$3" \
      -draw "rectangle 0,$((i * 2)) 95,$((i * 2 + 3))" -draw "circle 60,40 66,44" "PNG8:frames/$(printf '%04d' "$i").png" || return 1
  done
  "$QUARVMAKE" --quiet --fps 10 movie.qvl frames >/dev/null
}

# shown NAME FRAME.ppm W H [MODE]: whether the W x H area at the
# window's x, y holds FRAME (compare_area) in the player's 5-6-5 colours.
shown() {
  local name=$1 result; shift
  screenshot shot.xwd
  if result=$(compare_area shot.xwd "$x" "$y" "$1" "$2" "$3" 565 "${@:4}"); then
    echo "ok ($name): $2x$3 at $x,$y, $1: $result"
  else bad "$name: $2x$3 at $x,$y, $1: $result"; fi
}

# step_case NAME plain|interlaced|smoothed OPTIONS...
step_case() {
  local name=$1 mode=$2 n next w h x y frame; shift 2
  play --frame-in-title --no-sound --loop=0 "$@" movie.qvl
  if ! wait_line 'Frame: (1[3-9]|2[0-9])$' 60; then
    bad "$name: the movie did not play into its second palette ($(tail -1 watch.txt 2>/dev/null); $(head -2 err.txt))"
    finish 5; return
  fi
  press space; sleep 0.5; n=$(caption_frame); sleep 0.5
  [ "$(caption_frame)" = "$n" ] || bad "$name: frames went on after Space ($n, then $(caption_frame))"
  next=$((n % FRAMES + 1))
  press Return
  if wait_line "Frame: $next\$" 10; then
    sleep 0.5
    [ "$(caption_frame)" = "$next" ] || bad "$name: more than one frame after Enter"
    read -r w h x y < <(window_area)
    frame=$(printf 'dump/frame_%05d.ppm' $((next - 1)))
    shown "$name" "$frame" "$w" "$h" ${mode#plain}
    if [ "$name" = 1x ]; then
      # The window made twice as large: the same frame, scaled by the renderer.
      xdotool windowsize --sync "$(xdotool search --onlyvisible --name '^QuarvPlay' | head -1)" $((2 * w)) $((2 * h))
      sleep 0.5; shown "1x resized" "$frame" $((2 * w)) $((2 * h))
    fi
  else bad "$name: Enter did not show frame $next (title at $(caption_frame))"; fi
  press Escape; finish 20
  [ "$PLAYER_CODE" = 0 ] || bad "$name: the player exited with $PLAYER_CODE: $(head -3 err.txt)"
}

# check_run CODE OUT ERR ARGS...: the player's exit code, its standard output
# (matches the pattern OUT, or is empty) and its standard error (one line
# that matches ERR, or nothing).
check_run() {
  local code=$1 out=$2 err=$3 rc problem=; shift 3
  timeout 60 "$PLAYER" "$@" > out.txt 2> err.txt
  rc=$?
  [ "$rc" = "$code" ] || problem="exit code $rc, not $code;"
  { [ -z "$out" ] && [ ! -s out.txt ]; } || { [ -n "$out" ] && grep -Eq -- "$out" out.txt; } ||
    problem="$problem stdout: $(head -2 out.txt);"
  { [ -z "$err" ] && [ ! -s err.txt ]; } || { [ "$(wc -l < err.txt)" = 1 ] && grep -Eq -- "$err" err.txt; } ||
    problem="$problem stderr: $(head -3 err.txt);"
  if [ -n "$problem" ]; then bad "quarvplay $*: $problem"; else echo "ok (quarvplay $*)"; fi
}

make_palette_movie || { echo "FAIL (no movie)"; exit 1; }
"$QUARVDUMP" movie.qvl dump >/dev/null 2>&1 || { echo "FAIL (quarvdump)"; exit 1; }
echo "these are notes, not a movie" > notes.txt
head -c 4096 /dev/urandom > bundle.bin
cat movie.qvl >> bundle.bin

x_env_start 640x480x24
cd "$WORK" || exit 1
step_case 1x plain
step_case 2x plain --scale=2
step_case 2x-interlaced interlaced --interlace
step_case 2x-smooth smoothed --smooth

while IFS='|' read -r code out err args; do
  # shellcheck disable=SC2086
  check_run "$code" "$out" "$err" $args
done <<'TABLE'
0|^Usage: quarvplay ||--help
0|^quarvplay [0-9]||--version
2||^quarvplay: unknown option '--bogus' \(see --help\)$|--bogus movie.qvl
2||^quarvplay: --scale must be 1 or 2, not '3'|--scale=3 movie.qvl
2||^quarvplay: --loop needs a number, not 'x'|--loop x movie.qvl
2||^quarvplay: --tracks needs track numbers|--tracks=7 movie.qvl
2||^quarvplay: option '--fps' needs a value|movie.qvl --fps
2||^quarvplay: no movie given|--summary
1||^quarvplay: missing.qvl: No such file or directory$|missing.qvl
1||^quarvplay: notes.txt: not a Quarvel movie$|notes.txt
1||^quarvplay: movie.qvl: no Quarvel movie at byte 4096$|--offset=4096 movie.qvl
0|Frame rate: As fast as possible||--no-sound --fps=0 --summary movie.qvl
0|Total frames played: 60$||--no-sound --fps=0 --summary --loop=2 movie.qvl
0|Total frames played: 30$||--no-sound --fps=0 --summary --offset=4096 bundle.bin
1|Total frames played: 30$|^quarvplay: missing.qvl: No such file or directory$|--no-sound --fps=0 --summary movie.qvl missing.qvl
TABLE

[ "$fail" = 0 ] && echo "PASS: the native player shows the movie's frames and answers its command line"
exit "$fail"
