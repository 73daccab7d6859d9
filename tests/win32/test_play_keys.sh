#!/bin/bash
# Keys and the loop rules with the real player: which movies play, in which
# order, is read from the window's size (each movie has its own) and the /Q
# caption, as play_watch.exe logged them.
#  - "." skips to the next name; Escape and Alt+F4 (the close code) end
#    everything; /U4 ignores both;
#  - two names with /L2 play A, B, A, B; one name with /L2 plays twice
#    without being reopened (the summary counts both passes);
#  - a missing second name of three: its error box, and no third movie.
set -u
source "$QUARVEL_ROOT/scripts/wine_env.sh"
source "$(dirname "$0")/play_helpers.sh"
need_tools
fail=0
WORK=$(mktemp -d "${TMPDIR:-/tmp}/quarvel-play-keys.XXXXXX")
trap 'wine_env_stop; rm -rf "$WORK"' EXIT
cd "$WORK" || exit 1

A=160x120 B=96x64 C=128x96
make_movie a.qvl 160 120 20 10 'rgb(30,90,60)' &&
  make_movie b.qvl 96 64 15 10 'rgb(90,30,60)' &&
  make_movie c.qvl 128 96 10 5 'rgb(60,60,120)' || { echo "FAIL: no movies"; exit 1; }

wine_env_start
cd "$WORK" || exit 1

check() {  # description, expected, got
  if [ "$2" = "$3" ]; then
    echo "ok ($1): $3"
  else
    echo "FAIL ($1): expected [$2], got [$3]"; fail=1
  fi
}

# The highest frame the caption showed while the window had SIZE.
last_frame_of() { grep "^$1 " watch.txt | sed -nE 's/.*Frame: ([0-9]+)$/\1/p' | sort -n | tail -1; }

# "." in the middle of the first of three names.
play /Q a.qvl b.qvl c.qvl
wait_line "^$A .*Frame: [4-9]\$" 60 && press period
finish 90
check "period skips" "0 $A $B $C" "$PLAYER_CODE $(size_trace)"
[ "$(last_frame_of $A)" -lt 20 ] 2>/dev/null || { echo "FAIL (period skips): a ran to frame $(last_frame_of $A)"; fail=1; }

# Escape in the first of two: nothing more.
play /Q /L3 a.qvl b.qvl
wait_line "^$A .*Frame: [4-9]\$" 60 && press Escape
finish 60
check "Escape ends everything" "0 $A" "$PLAYER_CODE $(size_trace)"
[ "$(last_frame_of $A)" -lt 20 ] 2>/dev/null || { echo "FAIL (Escape): a ran to frame $(last_frame_of $A)"; fail=1; }

# Alt+F4 arrives as the close code and quits the same way.
play /Q a.qvl b.qvl
wait_line "^$A .*Frame: [4-9]\$" 60 && press alt+F4
finish 60
check "Alt+F4 ends everything" "0 $A" "$PLAYER_CODE $(size_trace)"

# /U4: Escape and Alt+F4 do nothing; the movie plays to its end, as the
# summary of a never-skipping run counts.
rm -f boxes.txt
wine "$QUARVEL_WIN32_BIN/boxreader.exe" boxes.txt 1 90000 & reader=$!
play /Q /U4 /N /S a.qvl
wait_line "^$A .*Frame: [4-9]\$" 60 && press Escape alt+F4 Escape
finish 60
wait "$reader"
check "/U4 ignores Escape and closing" "0 $A 20" \
  "$PLAYER_CODE $(size_trace) $(tr -d '\r' < boxes.txt | sed -nE 's/^ *Total frames played: ([0-9]+)$/\1/p')"

# Two names, /L2.
play /Q /L2 a.qvl b.qvl
finish 90
check "two names with /L2" "0 $A $B $A $B" "$PLAYER_CODE $(size_trace)"

# One name, /L2, never skipping: the frames run through twice, and the
# summary of the one opening counts 20 frames.
rm -f boxes.txt
wine "$QUARVEL_WIN32_BIN/boxreader.exe" boxes.txt 1 90000 & reader=$!
play /Q /L2 /N /S c.qvl
finish 90
wait "$reader"
check "one name with /L2 wraps once" "0 1" "$PLAYER_CODE $(wraps_and_last | cut -d' ' -f1)"
frames=$(tr -d '\r' < boxes.txt | sed -nE 's/^ *Total frames played: ([0-9]+)$/\1/p')
check "one name with /L2 is opened once" "20" "$frames"

# A missing second name of three.
rm -f boxes.txt
wine "$QUARVEL_WIN32_BIN/boxreader.exe" boxes.txt 1 90000 & reader=$!
play /Q a.qvl missing.qvl c.qvl
finish 90
wait "$reader"
check "missing second name" "0 $A" "$PLAYER_CODE $(size_trace)"
check "its box" "QuarvPlay| Error opening file: missing.qvl." "$(head -2 boxes.txt | tr -d '\r' | paste -sd '|')"

[ "$fail" = 0 ] && echo "PASS: keys and loop rules"
exit "$fail"
