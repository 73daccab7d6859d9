#!/bin/bash
# The /# protocol with a parent window (parent_gui.exe):
#  - titled "Quarvel for Windows ..." and answering 8995: the player runs on
#    its own (its usage box has no owner) and sends no banner;
#  - answering anything else: the parent owns the usage box and gets the
#    banner (data code 4660, byte count = text length + 16);
#  - another title: no query, the handle is kept, the banner is sent;
#  - a handle that names no window: the usage box still appears;
#  - a parent that takes the player's window down during play: the player
#    ends within a second, as a close of the window would end it.
set -u
source "$QUARVEL_ROOT/scripts/wine_env.sh"
source "$(dirname "$0")/usage_expected.sh"
BIN="$QUARVEL_WIN32_BIN"
BANNER='QuarvPlay - V3.1r  Copyright (c) 2026 Quarvel developers'
BANNER_LINE="copydata dwData=4660 cbData=$(( ${#BANNER} + 16 )) text=$BANNER tail=zero"
fail=0

wine_env_start
trap wine_env_stop EXIT
cd "$WINE_ENV_DIR"
cp "$BIN/quarvplay.exe" "$BIN/parent_gui.exe" "$BIN/boxreader.exe" .

expect_file() {  # description, expected file, actual file
  if ! cmp -s "$2" "$3"; then
    echo "FAIL ($1):"; show_diff "$2" "$3"; fail=1
  fi
}

# 1. A parent that lets the player go.
wine boxreader.exe boxes1.txt 1 60000 & reader=$!
wine parent_gui.exe parent1.txt 8995 "Quarvel for Windows test" quarvplay.exe
wait "$reader"
expected_usage_box "(none)" > want1.txt
expect_file "8995: usage box unowned" want1.txt boxes1.txt
printf 'query 10019\nexit 0\n' > want1p.txt
expect_file "8995: queried, no banner" want1p.txt parent1.txt

# 2. A parent that keeps the player.
wine boxreader.exe boxes2.txt 1 60000 & reader=$!
wine parent_gui.exe parent2.txt 1 "Quarvel for Windows test" quarvplay.exe
wait "$reader"
expected_usage_box "Quarvel for Windows test" > want2.txt
expect_file "answer 1: parent owns the usage box" want2.txt boxes2.txt
printf 'query 10019\n%s\nexit 0\n' "$BANNER_LINE" > want2p.txt
expect_file "answer 1: banner" want2p.txt parent2.txt

# 3. A parent of another title, with a name to play (there is no such
# movie: the parent owns the box that says so).
wine boxreader.exe boxes3.txt 1 60000 & reader=$!
wine parent_gui.exe parent3.txt 8995 "Some other program" quarvplay.exe clip
wait "$reader"
printf 'QuarvPlay\n Error opening file: clip.Qvl.\nowner: Some other program\n' > want3.txt
expect_file "other title: the parent owns the box" want3.txt boxes3.txt
printf '%s\nexit 0\n' "$BANNER_LINE" > want3p.txt
expect_file "other title: no query, banner" want3p.txt parent3.txt

# 4. A handle that names no window.
wine boxreader.exe boxes4.txt 1 60000 & reader=$!
wine quarvplay.exe /#12345
code=$?
wait "$reader"
expect_file "dead handle: usage box" want1.txt boxes4.txt
[ "$code" = 0 ] || { echo "FAIL (dead handle): exit code $code"; fail=1; }

# 5. The parent takes the player's window down while a looping movie plays.
if "$QUARVEL_NATIVE_BIN/quarvmake" --quiet --demo demo.qvl >/dev/null; then
  wine parent_gui.exe --destroy parent5.txt 1 "Some other program" quarvplay.exe /L demo.qvl
  sed -E 's/^(exit 0 after) [0-9]{1,3} ms$/\1 less than a second/' parent5.txt > got5.txt
  printf 'destroyed\n%s\nexit 0 after less than a second\n' "$BANNER_LINE" > want5.txt
  expect_file "window taken down: the player ends" want5.txt got5.txt
  echo "window taken down: $(tail -1 parent5.txt)"
else
  echo "FAIL (window taken down): no demo movie"; fail=1
fi

[ "$fail" = 0 ] && echo "PASS: parent window protocol"
exit "$fail"
