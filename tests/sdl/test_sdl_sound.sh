#!/bin/bash
# The native player's sound, through SDL's ALSA output into a device that
# keeps real time: movies whose sound (a sweep under noise) never repeats,
# played with their frame numbers in the title, each title timed as the X
# server announces it. The device must have been opened at the track's own
# format (16-bit stereo at 22050 Hz packed, 8-bit mono at 11025 Hz raw) and
# the recording must be the decoded track exactly: nothing dropped,
# repeated, changed or inserted, none of the shown frames' sound lost at the
# end. The frames must keep the movie's pace within 1% over the whole movie
# (the device's own waits for a late writer, which a busy machine causes,
# taken off the clock) and stay with their sound. Once more paused with Space
# for a second and a half: no frame and no sound while paused (silence in the
# recording for about that long), then the sound goes on from the paused
# frame's own sound with nothing dropped.
set -u
source "$(dirname "$0")/sdl_helpers.sh"
need_tools "$PLAYER"
fail=0
FPS=15
WORK=$(mktemp -d "${TMPDIR:-/tmp}/quarvel-sdl-sound.XXXXXX")
trap 'x_env_stop; rm -rf "$WORK"' EXIT
cd "$WORK" || exit 1
x_env_start
cd "$WORK" || exit 1

# listen NAME steady|paused RATE BITS CHANNELS raw|packed FRAMES
listen() {
  local what=$1 how=$2 rate=$3 bits=$4 channels=$5 mode=$6 frames=$7 paused_ms=0 from n=0 pace
  "$SOUNDMOVIE" write movie.qvl movie.pcm "$rate" "$bits" "$channels" "$mode" "$frames" "$FPS" >/dev/null ||
    { bad "$what: no movie"; return; }
  sound_device_ready
  WATCH_TIMES=times.txt play --frame-in-title movie.qvl
  if [ "$how" = paused ] && wait_line 'Frame: (2[0-9]|3[0-9])$' 30; then
    press space; from=$(date +%s%N); sleep 0.4; n=$(caption_frame); sleep 1.1
    [ "$(caption_frame)" = "$n" ] || bad "$what: frames went on while paused"
    press space; paused_ms=$(( ($(date +%s%N) - from) / 1000000 ))
  fi
  finish 60
  sound_device_done
  [ "$PLAYER_CODE" = 0 ] || { bad "$what: the player exited with $PLAYER_CODE: $(head -2 err.txt)"; return; }
  "$SOUNDMOVIE" measure movie.pcm "$rate-$channels-$bits" "$FPS" "$SOUND_FILE" "$SOUND_LOG" times.txt > measured.txt ||
    { bad "$what: nothing to measure"; return; }
  grep -q "^stream 0 .* rate $rate channels $channels bits $bits " "$SOUND_LOG" && grep -q 'aligned exactly' measured.txt ||
    bad "$what: the device was not opened at the track format"
  # The pace between the second and the last frame, on the device's clock.
  pace=$(awk -v device="$SOUND_LOG" '
    /Frame: / { n = $NF; if (++k == 2) { t1 = $1; n1 = n } tl = $1; nl = n }
    END { while ((getline line < device) > 0) { split(line, f, " ")
            if (f[1] == "stall" && f[2] >= t1 && f[2] <= tl) s += f[3] / 1000 }
          if (k > 2) printf "%.4f %.4f %.0f", (nl - n1) / (tl - t1 - s), (nl - n1) / (tl - t1), s * 1000 }' times.txt)
  echo "$what:"
  sed 's/^/  /' measured.txt
  echo "  pace on the device's clock: ${pace%% *} frames/s (by the wall clock ${pace#* }, device waits in ms)"
  # Paused: the resume queues the lead again from the frame the picture
  # stopped at, so the one jump lands on that frame's sound; what the device
  # still held at the pause (a fifth of a second or so) is heard again.
  awk -v how="$how" -v pace="${pace%% *}" -v fps="$FPS" -v paused="$paused_ms" -v landing="$(((n - 1) * 1000 / FPS))" '
    /^figures/ { for (i = 2; i <= NF; i++) { split($i, kv, "="); v[kv[1]] = kv[2] } }
    /^(dropped|repeated) / { jumps++; to = $(NF - 1) }
    END {
      if (v["dropped"] > 0) print "sound dropped"
      if (!("fps" in v)) { print "no frame times"; exit }
      if (v["lost"] > 50) print v["lost"] " ms of the shown frames sound lost at the end"
      if (how == "steady") {
        if (v["repeated"] > 0 || v["differs"] > 0 || v["silence_inside"] > 0) print "sound repeated, changed or silence inserted"
        if (pace == "" || pace < fps * 0.99 || pace > fps * 1.01) print "pace " pace " frames/s"
        if (v["ahead_mean"] > 133 || v["ahead_mean"] < -133) print "frames " v["ahead_mean"] " ms ahead of their sound"
      } else {
        if (v["silence_inside"] < paused * 0.8 || v["silence_inside"] > paused + 500)
          print v["silence_inside"] " ms of silence for a pause of " paused " ms"
        if (jumps != 1 || to < landing - 4 || to > landing + 4) print jumps + 0 " jumps, to track " to " ms, not one to " landing
        if (v["repeated"] > 400 || v["differs"] > 20) print "sound repeated or changed around the pause"
      } }' measured.txt > verdict.txt
  if [ -s verdict.txt ]; then bad "$what: $(paste -sd ';' verdict.txt | sed 's/;/; /g')"; else echo "ok ($what)"; fi
}

listen "16-bit stereo" steady 22050 16 2 packed 90
listen "8-bit mono" steady 11025 8 1 raw 60
listen "paused and resumed" paused 22050 16 2 packed 90

[ "$fail" = 0 ] && echo "PASS: the native player plays its movies' sound exactly and keeps their pace"
exit "$fail"
