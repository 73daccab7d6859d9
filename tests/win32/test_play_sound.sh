#!/bin/bash
# The sound of a movie played by the player itself: what the ALSA file
# device recorded must be the movie's sound track, in order and complete
# (apart from whole frames of silence the back-ends add, and a tail no longer
# than the lead that was still queued when the movie closed), with the
# default waveOut driver and with DirectSound (/Z).
set -u
source "$QUARVEL_ROOT/scripts/wine_env.sh"
source "$(dirname "$0")/play_helpers.sh"
SOUNDMOVIE=$QUARVEL_NATIVE_BIN/soundmovie
need_tools "$SOUNDMOVIE"
fail=0
WORK=$(mktemp -d "${TMPDIR:-/tmp}/quarvel-play-sound.XXXXXX")
trap 'wine_env_stop; rm -rf "$WORK"' EXIT
cd "$WORK" || exit 1

# 48000 Hz 16-bit stereo, packed, 45 frames at 15 per second, a quarter of a
# second of lead.
"$SOUNDMOVIE" write movie.qvl movie.pcm 48000 16 2 packed 45 15 48000 >/dev/null || { echo "FAIL: no movie"; exit 1; }
LEAD_FRAMES=$((48000 / 4))

wine_env_start
cd "$WORK" || exit 1
# One raw recording per opening of the device, named by its format.
cat > "$HOME/.asoundrc" <<ASOUND
pcm.!default { type file; slave.pcm "null"; file "$WORK/rec-%r-%c-%b-%f.raw"; format "raw"; truncate false }
ASOUND

listen() {  # description, switches...
  local what=$1; shift
  rm -f rec-*
  play /J "$@" movie.qvl
  finish 120
  [ "$PLAYER_CODE" = 0 ] || { echo "FAIL ($what): the player exited with $PLAYER_CODE"; fail=1; return; }
  local formats
  formats=$(ls rec-* 2>/dev/null | sed -E 's/^rec-(.*)\.raw(\.[0-9]+)?$/\1/' | sort -u)
  [ "$(echo "$formats" | wc -w)" = 1 ] || { echo "FAIL ($what): recorded formats [$formats]"; fail=1; return; }
  ls rec-* | sort -V | xargs cat > all.raw
  local result code
  result=$("$SOUNDMOVIE" check movie.pcm 48000-2-16 "$formats" all.raw); code=$?
  # The movie closes once its last picture has had its time; sound still
  # queued then (at most the lead, which runs ahead of the picture) is cut.
  local got total
  read -r got total < <(echo "$result" | sed -nE 's/.*the recording ends after ([0-9]+) of ([0-9]+) frames.*/\1 \2/p')
  if [ "$code" != 0 ] && [ -n "$got" ] && [ $((total - got)) -le "$LEAD_FRAMES" ]; then
    echo "ok ($what): all but the last $((total - got)) of $total frames, still queued when the movie closed"
  elif [ "$code" = 0 ]; then
    echo "ok ($what): $result"
  else
    echo "FAIL ($what): $result"; fail=1
  fi
}

listen "waveOut"
listen "DirectSound" /Z

[ "$fail" = 0 ] && echo "PASS: the player plays the movie's sound"
exit "$fail"
