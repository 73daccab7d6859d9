#!/bin/bash
# The native player's sound, through SDL's ALSA output into a device that
# keeps real time: movies whose sound (a sweep under noise) never repeats,
# played with their frame numbers in the title, each title timed as the X
# server announces it. The device must have been opened at the track's own format (16-bit
# stereo at 22050 Hz packed, 8-bit mono at 11025 Hz raw) and the recording
# must be the decoded track exactly: nothing dropped, repeated, changed or
# inserted, none of the shown frames' sound lost at the end. The frames must
# keep the movie's pace within 1% over the whole movie (the device's own
# waits for a late writer, which a busy machine causes, taken off the clock)
# and stay with their sound. Once more paused with Space for a second and a
# half: no frame and no sound while paused (silence in the recording for
# about that long), then the movie goes on with nothing dropped.
set -u
source "$(dirname "$0")/sdl_helpers.sh"
SOUNDMOVIE=$QUARVEL_NATIVE_BIN/soundmovie
need_tools "$PLAYER" "$SOUNDMOVIE"
fail=0
FPS=15
WORK=$(mktemp -d "${TMPDIR:-/tmp}/quarvel-sdl-sound.XXXXXX")
trap 'x_env_stop; rm -rf "$WORK"' EXIT
cd "$WORK" || exit 1
x_env_start
cd "$WORK" || exit 1

# listen NAME steady|paused RATE BITS CHANNELS raw|packed FRAMES
listen() {
  local what=$1 how=$2 rate=$3 bits=$4 channels=$5 mode=$6 frames=$7
  "$SOUNDMOVIE" write movie.qvl movie.pcm "$rate" "$bits" "$channels" "$mode" "$frames" "$FPS" >/dev/null ||
    { echo "FAIL ($what): no movie"; fail=1; return; }
  sound_device_ready
  WATCH_TIMES=times.txt play --frame-in-title movie.qvl
  local paused_ms=0
  if [ "$how" = paused ]; then
    if wait_line 'Frame: (2[0-9]|3[0-9])$' 30; then
      press space
      local from n
      from=$(date +%s%N)
      sleep 0.4
      n=$(caption_frame)
      sleep 1.1
      [ "$(caption_frame)" = "$n" ] || { echo "FAIL ($what): frames went on while paused"; fail=1; }
      press space
      paused_ms=$(( ($(date +%s%N) - from) / 1000000 ))
    else
      echo "FAIL ($what): the movie did not start"; fail=1
    fi
  fi
  finish 60
  sound_device_done
  [ "$PLAYER_CODE" = 0 ] || { echo "FAIL ($what): the player exited with $PLAYER_CODE: $(head -2 err.txt)"; fail=1; return; }
  "$SOUNDMOVIE" measure movie.pcm "$rate-$channels-$bits" "$FPS" "$SOUND_FILE" "$SOUND_LOG" times.txt > measured.txt ||
    { echo "FAIL ($what): nothing to measure"; fail=1; return; }
  # The pace between the second and the last frame, on the device's clock.
  local pace
  pace=$(awk -v device="$SOUND_LOG" '
    /Frame: / { n = $NF; if (++k == 2) { t1 = $1; n1 = n } tl = $1; nl = n }
    END { while ((getline line < device) > 0) { split(line, f, " ")
            if (f[1] == "stall" && f[2] >= t1 && f[2] <= tl) s += f[3] / 1000 }
          if (k > 2) printf "%.4f %.4f %.0f", (nl - n1) / (tl - t1 - s), (nl - n1) / (tl - t1), s * 1000 }' times.txt)
  echo "$what:"
  grep -v '^figures' measured.txt | sed 's/^/  /'
  echo "  pace on the device's clock: ${pace%% *} frames/s (by the wall clock ${pace#* }, device waits in ms)"
  local verdict
  verdict=$(sed -n 's/^figures //p' measured.txt | tr ' ' '\n' | awk -F= -v how="$how" -v pace="${pace%% *}" \
      -v fps="$FPS" -v paused="$paused_ms" -v format="$(grep -c "^stream 0 .* rate $rate channels $channels bits $bits " "$SOUND_LOG")" \
      -v exact="$(grep -c 'aligned exactly' measured.txt)" '{ v[$1] = $2 } END {
    if (format != 1 || exact != 1) print "the device was not opened at the track format"
    if (v["dropped"] > 0) print "sound dropped"
    if (!("fps" in v)) { print "no frame times"; exit }
    if (v["lost"] > 50) print v["lost"] " ms of the shown frames sound lost at the end"
    if (how == "steady") {
      if (v["repeated"] > 0 || v["differs"] > 0 || v["silence_inside"] > 0) print "sound repeated, changed or silence inserted"
      if (pace == "" || pace < fps * 0.99 || pace > fps * 1.01) print "pace " pace " frames/s"
      if (v["ahead_mean"] > 133 || v["ahead_mean"] < -133) print "frames " v["ahead_mean"] " ms ahead of their sound"
    } else {
      # The resume queues the sound ahead of the picture again from where the
      # picture stopped; what the device still held at the pause played out
      # then, so that much (a fifth of a second or so, not the whole second
      # of sound ahead) is heard again.
      if (v["silence_inside"] < paused * 0.8 || v["silence_inside"] > paused + 500)
        print v["silence_inside"] " ms of silence for a pause of " paused " ms"
      if (v["repeated"] > 400 || v["differs"] > 20) print "sound repeated or changed around the pause"
    } }')
  if [ -n "$verdict" ]; then
    echo "FAIL ($what): $(echo "$verdict" | paste -sd ';' | sed 's/;/; /g')"; fail=1
  else
    echo "ok ($what)"
  fi
}

listen "16-bit stereo" steady 22050 16 2 packed 90
listen "8-bit mono" steady 11025 8 1 raw 60
listen "paused and resumed" paused 22050 16 2 packed 90

[ "$fail" = 0 ] && echo "PASS: the native player plays its movies' sound exactly and keeps their pace"
exit "$fail"
