#!/bin/bash
# The self-play area is found in the executable by its tag and filled after
# the build, as a tool would; the program then parses that text first.
#  - a bad switch in it: the usage box even with a name on the command line;
#  - a name in it: that name is opened (no movie is appended here, so its
#    error box names it), exit 0, with or without arguments;
#  - its text and the command line together beyond their buffer: the usage box.
#    (a command line that fits beside it plays)
set -u
source "$QUARVEL_ROOT/scripts/wine_env.sh"
source "$(dirname "$0")/usage_expected.sh"
EXE="$QUARVEL_WIN32_BIN/quarvplay.exe"
fail=0

offset=$(grep -obUa SELFPLAY "$EXE" | cut -d: -f1)
[ "$(echo "$offset" | wc -w)" = 1 ] || { echo "FAIL: tag found at [$offset]"; exit 1; }

wine_env_start
trap wine_env_stop EXIT
cd "$WINE_ENV_DIR"
expected_usage_box "(none)" > expected.txt

make_selfplay() {  # configuration text -> self.exe
  cp "$EXE" self.exe
  printf '%s\0' "$1" | dd of=self.exe bs=1 seek=$((offset + 8)) conv=notrunc status=none
}

expect_usage() {  # description, arguments...
  local what=$1; shift
  rm -f boxes.txt
  wine "$QUARVEL_WIN32_BIN/boxreader.exe" boxes.txt 1 60000 & local reader=$!
  wine self.exe "$@"; local code=$?
  wait "$reader"
  [ "$code" = 0 ] || { echo "FAIL ($what): exit code $code"; fail=1; }
  cmp -s expected.txt boxes.txt || { echo "FAIL ($what): no usage box"; show_diff expected.txt boxes.txt; fail=1; }
}

expect_no_box() {  # description, arguments...: the area's name is opened, no usage box
  local what=$1; shift
  rm -f boxes.txt
  wine "$QUARVEL_WIN32_BIN/boxreader.exe" boxes.txt 1 60000 & local reader=$!
  wine self.exe "$@"; local code=$?
  wait "$reader"
  [ "$code" = 0 ] || { echo "FAIL ($what): exit code $code"; fail=1; }
  printf 'QuarvPlay\n Error opening file: :94720.\nowner: (none)\n' > opened.txt
  cmp -s opened.txt boxes.txt || { echo "FAIL ($what): not the open error of :94720:"; cat boxes.txt; fail=1; }
}

make_selfplay ":94720 /X5 /Y"
expect_usage "bad switch in the area" clip

make_selfplay ":94720 /W640/I4/J/D2/T1/U2/A2"
expect_no_box "built-in movie alone"
expect_no_box "built-in movie and a name" /L2 /S other.qvl

# 6 bytes left of the area's text + a blank + 219 bytes of command line: the
# names alone would fit their list, the joined text does not fit the area.
make_selfplay ":94720 /S"
expect_usage "area text plus command line too long" "/M$(printf '7%.0s' $(seq 211))" other
expect_no_box "area text plus command line that fits" "/M$(printf '7%.0s' $(seq 150))" other

[ "$fail" = 0 ] && echo "PASS: self-play area"
exit "$fail"
