#!/bin/bash
# Sound through both back-ends under Wine. A writer-made movie with one sound
# track is played to its end with the player's frame loop (sound_play.exe);
# what the ALSA file device recorded must be the movie's sound, in order and
# complete, apart from silence the back-ends add by design. 16-bit stereo and
# 8-bit mono, packed and raw, and a pause with resume in the middle (the lead
# replayed).
set -u
BIN=${QUARVEL_WIN32_BIN:?}
TOOL=${QUARVEL_NATIVE_BIN:?}/soundmovie
[ -x "$TOOL" ] || { echo "FAILED: $TOOL is missing (build the native tools first)"; exit 1; }
source "$QUARVEL_ROOT/scripts/wine_env.sh"
trap wine_env_stop EXIT
wine_env_start
# One raw recording per opening of the device (a pause closes it), named by
# the format the device was opened with.
cat > "$HOME/.asoundrc" <<ASOUND
pcm.!default { type file; slave.pcm "null"; file "$WINE_ENV_DIR/rec-%r-%c-%b-%f.raw"; format "raw"; truncate false }
ASOUND
cd "$WINE_ENV_DIR" || exit 1
fail=0

play() {  # back-end rate bits channels raw|packed [pause-frame]
  local be=$1 rate=$2 bits=$3 ch=$4 mode=$5 pause=${6:-}
  local what="$be ${rate} Hz ${bits}-bit ${ch}ch $mode${pause:+, paused after frame $pause}"
  local lead=$((rate * bits / 8 * ch / 4))  # a quarter of a second
  "$TOOL" write m.qvl m.pcm "$rate" "$bits" "$ch" "$mode" 45 15 "$lead" >/dev/null || { echo "FAIL ($what): no movie"; fail=1; return; }
  rm -f rec-*
  local out rc
  out=$(wine "$BIN/sound_play.exe" m.qvl "$be" $pause 2>wine.err); rc=$?
  if [ "$rc" -ne 0 ] && grep -q "Exec format error" wine.err; then
    echo "SKIPPED: Wine cannot start the test program on this machine"
    exit 77
  fi
  [ "$rc" -eq 0 ] || { echo "FAIL ($what): sound_play.exe exited with $rc: $out"; fail=1; return; }
  local formats
  formats=$(ls rec-* 2>/dev/null | sed -E 's/^rec-(.*)\.raw(\.[0-9]+)?$/\1/' | sort -u)
  [ "$(echo "$formats" | wc -w)" = 1 ] || { echo "FAIL ($what): recorded formats [$formats]"; fail=1; return; }
  ls rec-* | sort -V | xargs cat > all.raw
  set -- $out  # frames N written_at_pause W lead L skips S overflows O
  local check
  if [ -n "$pause" ]; then
    check=$("$TOOL" check m.pcm "$rate-$ch-$bits" "$formats" all.raw "$4" "$6")
  else
    check=$("$TOOL" check m.pcm "$rate-$ch-$bits" "$formats" all.raw)
  fi
  local ok=$?
  echo "$what ($formats, $(ls rec-* | wc -l) opening(s), ${8} silence insertions): $check"
  [ "$ok" -eq 0 ] || fail=1
}

play waveout 48000 16 2 packed
play waveout 22050 8 1 raw
play dsound 48000 16 2 packed
play dsound 48000 8 1 raw
play waveout 48000 16 2 packed 20
play dsound 48000 16 2 packed 20
exit $fail
