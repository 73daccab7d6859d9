#!/bin/bash
# The player's boxes as boxreader.exe reads them from the screen:
#  - the /S summary after a played movie: every label, in order, with its
#    line breaks, and the figures that are known in advance (frame rate,
#    frames, skips, screen colours, display);
#  - a one-frame movie has no second-slowest line; /F reads "As fast as
#    possible.";
#  - "Error opening file: " with the name as opened, for a missing file;
#  - "Error opening graphics buffer." for /V1, where no full-screen driver
#    exists (Wine has none).
set -u
source "$QUARVEL_ROOT/scripts/wine_env.sh"
source "$(dirname "$0")/play_helpers.sh"
need_tools
fail=0
WORK=$(mktemp -d "${TMPDIR:-/tmp}/quarvel-play-boxes.XXXXXX")
trap 'wine_env_stop; rm -rf "$WORK"' EXIT
cd "$WORK" || exit 1
make_movie twelve.qvl 96 64 12 10 'rgb(30,90,60)' &&
  make_movie one.qvl 64 48 1 10 'rgb(90,30,60)' || { echo "FAIL: no movies"; exit 1; }

wine_env_start 800x600x24
cd "$WORK" || exit 1

# boxes_of CASE ARGS...: plays and reads one box into CASE.box.
boxes_of() {
  local name=$1; shift
  rm -f "$name.box"
  wine "$QUARVEL_WIN32_BIN/boxreader.exe" "$name.box" 1 90000 & local reader=$!
  play "$@"
  finish 90
  wait "$reader" || { echo "FAIL ($name): no box appeared"; fail=1; }
  [ "$PLAYER_CODE" = 0 ] || { echo "FAIL ($name): the player exited with $PLAYER_CODE"; fail=1; }
}

# check_box CASE TITLE OWNER REGEX: the box's title and owner exactly, its
# whole text against the pattern (Python syntax, \r and \n as written).
check_box() {
  python3 - "$@" <<'PY'
import re, sys
name, title, owner, pattern = sys.argv[1:5]
try:
    data = open(name + ".box", "rb").read().decode("latin-1")
except OSError:
    print("FAIL (%s): no box file" % name); sys.exit(1)
got_title, rest = data.split("\n", 1)
text, got_owner = rest.rsplit("\nowner: ", 1)
ok = got_title == title and got_owner.rstrip("\n") == owner and re.fullmatch(pattern, text)
show = text.replace("\r", "<CR>").replace("\n", "<LF>\n")
print(("ok (%s)" if ok else "FAIL (%s)") % name)
if not ok:
    print("  title [%s] owner [%s]\n  text:\n%s" % (got_title, got_owner.rstrip("\n"), show))
sys.exit(0 if ok else 1)
PY
  [ $? = 0 ] || fail=1
}

N='[0-9]+'
R='[0-9]+\.[0-9]'
DURATION='[0-9]+ (milliseconds?|seconds?|minutes? [0-9]+ seconds?)'
summary_pattern() {  # FRAMERATE FRAMES SECOND-SLOWEST-LINES
  printf '%s' " Frame rate: $1"'\r\n  Frame rate obtained: '"$R"'\r\n  Total frames played: '"$2"
  printf '%s' '\r\n  Skipped frames: 0\r\n  Sound skips: 0\r\n  Total playback time: '"$DURATION"
  printf '%s' '\r\n  Total open time: '"$DURATION"'\r\n\r\n  Average frame size: '"$N"
  printf '%s' '\r\n  Highest one second data rate: '"$N"'\r\n  Highest one second data rate start frame: '"$N"
  printf '%s' '\r\n  Speed of playback device: '"$N"'\r\n  Memory used for playback: '"$N"
  printf '%s' '\r\n  Total extra buffering memory: '"$N"'\r\n  Highest extra buffering memory used: '"$N"
  printf '%s' '\r\n\n  Percentage spent decompressing: '"$R"'\r\n  Percentage spent blitting: '"$R"
  printf '%s' '\r\n  Percentage spent reading: '"$R"'\r\n  Percentage spent background reading: '"$R"
  printf '%s' ' \(when idle\)\r\n\n  Slowest frame: '"$N"'  Frame rate: '"$R$3"
  printf '%s' '\r\n\r\n  Screen colors: 16777216\r\n  Display blitter: DIBSection'
}

boxes_of summary /S /N twelve.qvl
check_box summary "Quarvel Summary" "(none)" \
  "$(summary_pattern '10\.0' 12 '\r\n  Second slowest frame: '"$N"'  Frame rate: '"$R")"

boxes_of summary-one-frame /S /F one.qvl
check_box summary-one-frame "Quarvel Summary" "(none)" "$(summary_pattern 'As fast as possible\.' 1 '')"

boxes_of missing-file nothing
check_box missing-file "QuarvPlay" "(none)" ' Error opening file: nothing\.Qvl\.'

boxes_of no-full-screen /V1 twelve.qvl
check_box no-full-screen "QuarvPlay" "(none)" ' Error opening graphics buffer\.'

[ "$fail" = 0 ] && echo "PASS: the player's boxes"
exit "$fail"
