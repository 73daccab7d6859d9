#!/bin/bash
# Sound through both back-ends under Wine, on a sound device that keeps
# time. A writer-made movie with one sound track is played to its end with
# the player's frame loop (sound_play.exe); the recording must be the
# movie's sound, in order and complete, apart from silence the back-ends
# add: 16-bit stereo and 8-bit mono, packed and raw; and a pause with resume
# in the middle, after which the sound goes on from the lead before the
# pause point (the lead replayed) with nothing else lost.
set -u
BIN=${QUARVEL_WIN32_BIN:?}
TOOL=${QUARVEL_NATIVE_BIN:?}/soundmovie
[ -x "$TOOL" ] || { echo "FAILED: $TOOL is missing (build the native tools first)"; exit 1; }
source "$QUARVEL_ROOT/scripts/wine_env.sh"
trap wine_env_stop EXIT
wine_env_start
cd "$WINE_ENV_DIR" || exit 1
fail=0

play() {  # back-end rate bits channels raw|packed [pause-frame]
  local be=$1 rate=$2 bits=$3 ch=$4 mode=$5 pause=${6:-}
  local what="$be ${rate} Hz ${bits}-bit ${ch}ch $mode${pause:+, paused after frame $pause}"
  local bps=$((rate * bits / 8 * ch))
  "$TOOL" write m.qvl m.pcm "$rate" "$bits" "$ch" "$mode" 24 15 $((bps / 4)) >/dev/null || { echo "FAIL ($what): no movie"; fail=1; return; }
  sound_device_stop
  sound_device_start
  local out rc
  out=$(wine "$BIN/sound_play.exe" m.qvl "$be" $pause 2>wine.err); rc=$?
  sound_device_stop
  if [ "$rc" -ne 0 ] && grep -q "Exec format error" wine.err; then
    echo "SKIPPED: Wine cannot start the test program on this machine"
    exit 77
  fi
  [ "$rc" -eq 0 ] || { echo "FAIL ($what): sound_play.exe exited with $rc: $out"; fail=1; return; }
  set -- $out  # frames N written_at_pause W lead L skips S overflows O
  local landing=-1
  [ -n "$pause" ] && landing=$(awk -v w="$4" -v l="$6" -v b="$bps" 'BEGIN { printf "%.1f", (w - l) * 1000 / b }')
  "$TOOL" measure m.pcm "$rate-$ch-$bits" 15 "$SOUND_FILE" > measured.txt || { echo "FAIL ($what): nothing to measure"; fail=1; return; }
  echo "$what ($8 silence insertions):"
  sed 's/^/  /' measured.txt | grep -v figures
  # Every jump (dropped or repeated) must be the resume's, landing where the
  # lead before the pause point starts, and lose no more than a frame's time
  # (what the device had taken but not played when it was stopped); the
  # recording must reach the end.
  local verdict
  verdict=$(awk -v landing="$landing" -v total="$(($(stat -c %s m.pcm) * 1000 / bps))" '
    /^  (dropped|repeated)/ { jumps++; to = $(NF - 1); if (landing < 0 || to < landing - 3 || to > landing + 3) print "a jump to track " to " ms" }
    /^  dropped/ { if ($2 > 67) print $2 " ms lost at the pause" }
    /^  differs/ { print "sound that is not the movie'"'"'s at " $0 }
    /^figures/ { split($0, f, /reached=/); if (f[2] + 0 < total - 10) print "the recording ends at track " f[2] + 0 " of " total " ms" }
    END { if (landing >= 0 && jumps != 1) print jumps + 0 " jumps where the resume makes one" }' measured.txt)
  if [ -n "$verdict" ]; then
    echo "FAIL ($what): $(echo "$verdict" | paste -sd ';' | sed 's/;/; /g')"; fail=1
  fi
}

play waveout 48000 16 2 packed
play waveout 22050 8 1 raw
play dsound 48000 16 2 packed
play dsound 48000 8 1 raw
play waveout 48000 16 2 packed 10
play dsound 48000 16 2 packed 10
[ "$fail" = 0 ] && echo "PASS: both back-ends play the movie's sound"
exit $fail
