#!/bin/bash
# Start-up as a user and a parent program meet it, with the real player:
#  - the usage box, whole and exact, exit 0: for no arguments, a repeated or
#    unknown switch, a command line longer than its 256-byte buffer;
#  - the self-play area: the tag found once, its text empty as built; filled
#    as a tool would, it is parsed before the command line (a bad switch in
#    it shows the usage box even with a name; its movie name is opened, also
#    with names given; with the command line beyond the area's buffer: usage);
#  - the /# parent protocol: a parent titled "Quarvel for Windows ..." that
#    answers 8995 lets the player go (the box unowned, no banner); another
#    answer keeps it (the parent owns its boxes and gets the banner: data
#    code 4660, byte count = text length + 16); another title is not asked
#    but kept; a handle that names no window is dropped; a parent that takes
#    the player's window down during play ends the player within a second.
set -u
source "$QUARVEL_ROOT/scripts/wine_env.sh"
source "$(dirname "$0")/play_helpers.sh"
need_tools
BANNER='QuarvPlay - V3.1r  Copyright (c) 2026 Quarvel developers'
BANNER_LINE="copydata dwData=4660 cbData=$(( ${#BANNER} + 16 )) text=$BANNER tail=zero"

offset=$(grep -obUa SELFPLAY "$PLAYER" | cut -d: -f1)
check "the tag once" 1 "$(echo "$offset" | wc -w)"
check "its text empty" 0 "$(tail -c +$((offset + 9)) "$PLAYER" | head -c 216 | tr -d '\0' | wc -c)"

wine_env_start
trap wine_env_stop EXIT
cd "$WINE_ENV_DIR" || exit 1
expected_usage_box "(none)" > usage.txt
expected_usage_box "Quarvel for Windows test" > usage-owned.txt
printf 'QuarvPlay\n Error opening file: clip.Qvl.\nowner: Some other program\n' > clip-owned.txt
printf 'QuarvPlay\n Error opening file: :94720.\nowner: (none)\n' > area-name.txt

# run NAME EXPECTED-BOX-FILE EXPECTED-PARENT-LOG|- PROGRAM ARGS...: the one box
# the program shows, its exit code 0, and what a parent (probe parent,
# logging to parent.txt) received.
run() {
  local name=$1 want=$2 log=$3; shift 3
  rm -f parent.txt
  read_boxes box.txt
  wine "$@"
  local code=$?
  boxes_done
  [ "$code" = 0 ] || { echo "FAIL ($name): exit code $code"; fail=1; }
  if cmp -s "$want" box.txt; then echo "ok ($name)"; else echo "FAIL ($name): the box"; show_diff "$want" box.txt; fail=1; fi
  [ "$log" = - ] || check "$name: the parent's log" "$log" "$(paste -sd '|' parent.txt 2>/dev/null)"
}

# area TEXT: self.exe, the player with TEXT in its self-play area.
area() {
  cp "$PLAYER" self.exe
  printf '%s\0' "$1" | dd of=self.exe bs=1 seek=$((offset + 8)) conv=notrunc status=none
}

run "no arguments" usage.txt - "$PLAYER"
run "repeated switch" usage.txt - "$PLAYER" /X10 /X20 a
run "unknown switch" usage.txt - "$PLAYER" /Y5 /% clip
run "overlong command line" usage.txt - "$PLAYER" "$(printf 'n%.0s' $(seq 300))"
area ":94720 /X5 /Y"
run "bad switch in the area" usage.txt - self.exe clip
area ":94720 /W640/I4/J/D2/T1/U2/A2"
run "the area's movie" area-name.txt - self.exe
run "the area's movie before names" area-name.txt - self.exe /L2 /S other.qvl
# 6 bytes left of the area's text + a blank + the command line: 219 bytes
# overflow the joined text (the names alone would fit), 158 do not.
area ":94720 /S"
run "area and command line too long" usage.txt - self.exe "/M$(printf '7%.0s' $(seq 211))" other
run "area and command line that fit" area-name.txt - self.exe "/M$(printf '7%.0s' $(seq 150))" other
run "parent answering 8995" usage.txt 'query 10019|exit 0' \
  "$PROBE" parent parent.txt 8995 "Quarvel for Windows test" quarvplay.exe
run "parent answering 1" usage-owned.txt "query 10019|$BANNER_LINE|exit 0" \
  "$PROBE" parent parent.txt 1 "Quarvel for Windows test" quarvplay.exe
run "parent of another title" clip-owned.txt "$BANNER_LINE|exit 0" \
  "$PROBE" parent parent.txt 8995 "Some other program" quarvplay.exe clip
run "handle of no window" usage.txt - "$PLAYER" /#12345

make_movie loop.qvl 64 48 8 10 || { echo "FAIL: no movie"; exit 1; }
wine "$PROBE" parent --destroy parent.txt 1 "Some other program" quarvplay.exe /L "$(winepath -w loop.qvl)"
check "window taken down during play" "destroyed|$BANNER_LINE|exit 0 after less than a second" \
  "$(sed -E 's/^(exit 0 after) [0-9]{1,3} ms$/\1 less than a second/' parent.txt | paste -sd '|')"

[ "$fail" = 0 ] && echo "PASS: start-up"
exit "$fail"
