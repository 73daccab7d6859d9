#!/bin/bash
# The real player on a sound device that keeps time, with each sound
# back-end: a 4-second movie at 15 frames per second whose sound (a sweep
# under noise) never repeats, played with /Q while a watcher times every
# frame. From the recording, the device's log and the frame times: the pace
# obtained, silence inserted and sound dropped or repeated (and where), how
# far each frame was ahead of the sound heard with it, and how much of the
# shown frames' sound was lost at the end. The limits leave room for a busy
# machine yet fail a player that crawls or races, drops or repeats sound,
# drifts away from its sound, or cuts the last frames' sound off. Once more
# with the device held up for half a second mid-movie, after which waveOut's
# estimated position runs ahead of the device: the end must still wait for
# the device to play the shown frames' sound.
set -u
source "$QUARVEL_ROOT/scripts/wine_env.sh"
source "$(dirname "$0")/play_helpers.sh"
SOUNDMOVIE=$QUARVEL_NATIVE_BIN/soundmovie
need_tools "$SOUNDMOVIE"
fail=0
WORK=$(mktemp -d "${TMPDIR:-/tmp}/quarvel-play-sound.XXXXXX")
trap 'wine_env_stop; rm -rf "$WORK"' EXIT
cd "$WORK" || exit 1

# 22050 Hz 16-bit stereo as the shipped movie has it, packed; the writer's
# lead of about a second.
"$SOUNDMOVIE" write movie.qvl movie.pcm 22050 16 2 packed 60 15 >/dev/null || { echo "FAIL: no movie"; exit 1; }
wine_env_start
cd "$WORK" || exit 1

listen() {  # back-end name, held|steady, switches...
  local what=$1 held=$2; shift 2
  sound_device_stop
  sound_device_start
  WATCH_TIMES=times.txt play /Q /J "$@" movie.qvl
  if [ "$held" = held ] && wait_line 'Frame: (2[0-9]|[3-9][0-9])$' 30; then
    kill -USR1 "$SOUND_DEVICE_PID"
  fi
  finish 60
  sound_device_stop
  [ "$PLAYER_CODE" = 0 ] || { echo "FAIL ($what): the player exited with $PLAYER_CODE"; fail=1; return; }
  "$SOUNDMOVIE" measure movie.pcm 22050-2-16 15 "$SOUND_FILE" "$SOUND_LOG" times.txt > measured.txt ||
    { echo "FAIL ($what): nothing to measure"; fail=1; return; }
  echo "$what:"
  grep -v '^figures' measured.txt | sed 's/^/  /'
  local figures verdict
  figures=$(sed -n 's/^figures //p' measured.txt)
  # fps: within 10% of 15; sound: nothing dropped, repeated or different,
  # at most 200 ms of silence after the start; each frame on average within
  # two frame times of its sound; at most 50 ms of the shown frames' sound lost.
  verdict=$(echo "$figures" | tr ' ' '\n' | awk -F= -v held="$held" '{ v[$1] = $2 } END {
    if (!("fps" in v)) { print "no frame times"; exit }
    if (held == "held") { v["fps"] = 15; v["ahead_mean"] = 0; v["silence_inside"] = 0 }
    if (v["fps"] < 13.5 || v["fps"] > 16.5) print "pace " v["fps"] " frames/s"
    if (v["dropped"] > 0 || v["repeated"] > 0 || v["differs"] > 0) print "sound dropped, repeated or different"
    if (v["silence_inside"] > 200) print v["silence_inside"] " ms of silence inserted after the start"
    if (v["ahead_mean"] > 133 || v["ahead_mean"] < -133) print "frames " v["ahead_mean"] " ms ahead of their sound"
    if (v["lost"] > 50) print v["lost"] " ms of the shown frames sound lost at the end" }')
  if [ -n "$verdict" ]; then
    echo "FAIL ($what): $(echo "$verdict" | paste -sd ';' | sed 's/;/; /g')"; fail=1
  else
    echo "ok ($what)"
  fi
}

listen "waveOut" steady
listen "DirectSound" steady /Z
listen "waveOut, the device held up" held

[ "$fail" = 0 ] && echo "PASS: the player keeps its movie's pace and sound"
exit "$fail"
