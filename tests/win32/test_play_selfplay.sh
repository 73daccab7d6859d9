#!/bin/bash
# A self-playing copy made by quarvselfplay plays the movie it carries:
#  - with no arguments, with its built-in switches (the default ones plus
#    /Q /S /N, so that the frames can be followed and counted): 640 wide,
#    height doubled, every frame;
#  - with "/L2 /S other.qvl": the built-in movie, other.qvl, both again, then
#    the summary of other.qvl;
#  - a copy with the default switches alone plays and ends by itself.
set -u
source "$QUARVEL_ROOT/scripts/wine_env.sh"
source "$(dirname "$0")/play_helpers.sh"
need_tools "$QUARVSELFPLAY"
fail=0
WORK=$(mktemp -d "${TMPDIR:-/tmp}/quarvel-play-selfplay.XXXXXX")
trap 'wine_env_stop; rm -rf "$WORK"' EXIT
cd "$WORK" || exit 1

check() {  # description, expected, got
  if [ "$2" = "$3" ]; then
    echo "ok ($1): $3"
  else
    echo "FAIL ($1): expected [$2], got [$3]"; fail=1
  fi
}

make_movie inside.qvl 160 120 12 10 'rgb(30,90,60)' &&
  make_movie other.qvl 96 64 8 10 'rgb(90,30,60)' || { echo "FAIL: no movies"; exit 1; }
"$QUARVSELFPLAY" --switches "/W640/I4/J/D2/T1/U2/A2/Q/S/N" "$PLAYER" inside.qvl self.exe >/dev/null ||
  { echo "FAIL: quarvselfplay"; exit 1; }
"$QUARVSELFPLAY" "$PLAYER" inside.qvl plain.exe >/dev/null || { echo "FAIL: quarvselfplay"; exit 1; }
PLAYER="$WORK/self.exe"

wine_env_start
cd "$WORK" || exit 1

# /A2 doubles the height, /W640 stretches the width: 640 x 240 and 640 x 128.
IN=640x240 OTHER=640x128

total_frames() { tr -d '\r' < boxes.txt | sed -nE 's/^ *Total frames played: ([0-9]+)$/\1/p'; }

rm -f boxes.txt
wine "$QUARVEL_WIN32_BIN/boxreader.exe" boxes.txt 1 90000 & reader=$!
play
finish 90
wait "$reader"
check "no arguments" "0 $IN 0 12" "$PLAYER_CODE $(size_trace) $(wraps_and_last | cut -d' ' -f1) $(total_frames)"

rm -f boxes.txt
wine "$QUARVEL_WIN32_BIN/boxreader.exe" boxes.txt 1 90000 & reader=$!
play /L2 /S /N other.qvl
finish 120
wait "$reader"
check "/L2 /S other.qvl" "0 $IN $OTHER $IN $OTHER" "$PLAYER_CODE $(size_trace)"
check "its summary" "Quarvel Summary|8" "$(head -1 boxes.txt)|$(total_frames)"

PLAYER="$WORK/plain.exe"
play
finish 90
check "default switches" "0 $IN" "$PLAYER_CODE $(size_trace)"

[ "$fail" = 0 ] && echo "PASS: self-playing copies"
exit "$fail"
