#!/bin/bash
# Start-up as a user and a parent program meet it, with the real player:
#  - the usage box, whole and exact, exit 0: for no arguments and for a
#    command line longer than its 256-byte buffer (which switches and joined
#    texts are refused is the native start-up tests' concern);
#  - the self-play area: the tag found once, its text empty as built; filled
#    as a tool would, it is read from the file and its movie name opened
#    before the names given;
#  - the /# parent protocol: a parent titled "Quarvel for Windows ..." that
#    answers 8995 lets the player go (the box unowned, no banner); another
#    answer keeps it (the parent owns its boxes and gets the banner: data
#    code 4660, byte count = text length + 16); another title is not asked
#    but kept; a handle that names no window is dropped; a parent that takes
#    the player's window down during play ends the player within a second.
# The library and the player's inside as Windows programs under Wine
# (probe.exe's self-checking subcommands), on a 16-bit screen:
#  - exports: the code that repairs the image before anything runs holds
#    one absolute address
#    and calls nothing outside itself; another program that only loads the
#    executable (as Wine leaves it: moved, unrelocated, unbound; as Windows
#    does: relocated, unbound, here a copy marked as a library) finds the
#    fourteen decorated names and each gives what the library gives, first
#    called through any of them and from 14 threads at once;
#  - kernels: every blitter kernel of every variant (MMX registers in the
#    32-bit build) against the plain one; decode: the conformance movies;
#  - fullscreen: the full-screen types' requests to a stand-in driver
#    window; mode: /D's display-mode calls to a recorder; keys: the system
#    menu and the codes of keys typed with Shift, Ctrl and Alt held.
set -u
source "$QUARVEL_ROOT/scripts/wine_env.sh"
source "$(dirname "$0")/play_helpers.sh"
need_tools

obj=$(find "$QUARVEL_WIN32_BIN/.." -path '*quarvplay.dir*' -name 'image_repair_win32.cpp.obj' | head -1)
relocs=$(x86_64-w64-mingw32-objdump -r "$obj" | awk '/^RELOCATION RECORDS FOR \[/ {code = ($4 ~ /^\[\.text/)} code && NF == 3 && $1 ~ /^[0-9a-f]+$/')
check "the image repair's absolute addresses" 1 "$(grep -cE ' (dir32|IMAGE_REL_AMD64_ADDR64|IMAGE_REL_AMD64_ADDR32) ' <<<"$relocs")"
check "what else the image repair refers to" "" "$(awk '$3 !~ /^\./ && $3 !~ /^_*(ImageBase|RUNTIME_PSEUDO_RELOC_LIST(_END)?__)$/' <<<"$relocs")"

offset=$(grep -obUa SELFPLAY "$PLAYER" | cut -d: -f1)
check "the tag once" 1 "$(echo "$offset" | wc -w)"
check "its text empty" 0 "$(tail -c +$((offset + 9)) "$PLAYER" | head -c 216 | tr -d '\0' | wc -c)"

wine_env_start 640x480x16
trap wine_env_stop EXIT
cd "$WINE_ENV_DIR" || exit 1
# The player's own usage title, banner and usage text (lines joined by CR
# LF); the usage box's pattern: its lines literal, the first blank dropped.
texts=$(wine "$PROBE" texts | tr -d '\r')
USAGE_TITLE=$(sed -n 1p <<<"$texts") BANNER=$(sed -n 2p <<<"$texts")
USAGE=$(sed -n '3,$p' <<<"$texts" | awk '{ printf("%s\\Q%s\\E", (NR > 1 ? "\\r\\n" : ""), (NR > 1 ? $0 : substr($0, 2))) }')
BANNER_LINE="copydata dwData=4660 cbData=$(( ${#BANNER} + 16 )) text=$BANNER tail=zero"
cp "$PLAYER" asdll.exe  # IMAGE_FILE_DLL set in the file header's flags
lfanew=$(od -An -tu4 -j60 -N4 "$PLAYER" | tr -d ' ')
flags=$(( $(od -An -tu2 -j$((lfanew + 22)) -N2 "$PLAYER" | tr -d ' ') | 0x2000 ))
printf "\\x$(printf %02x $((flags & 255)))\\x$(printf %02x $((flags >> 8)))" | dd of=asdll.exe bs=1 seek=$((lfanew + 22)) conv=notrunc status=none

# probe_run NAME ARGS...: the subcommand's output; it must end "N checks, 0 failed".
probe_run() {
  local name=$1; shift
  out=$(wine "$PROBE" "$@" 2>wine.err | tr -d '\r')
  echo "$out" | grep -v '^round' | sed "s/^/  $name: /"
  grep -qE '^[1-9][0-9]* checks, 0 failed$' <<<"$out" || { echo "FAIL ($name)"; tail -3 wine.err; fail=1; }
}
probe_run exports exports "$(winepath -w "$PLAYER")"
probe_run exports-relocated exports "$(winepath -w asdll.exe)" relocated
probe_run kernels kernels
[ "$(wine_bits)" = 64 ] || check "MMX kernels ran" 1 "$(grep -c '^variant mmx' <<<"$out")"
probe_run decode decode "Z:$(cd "$QUARVEL_ROOT/../shared/conformance" && pwd)"
probe_run fullscreen fullscreen
probe_run mode mode
(for _ in $(seq 300); do [ -f keys.ready ] && break; sleep 0.1; done; sleep 0.5
 press shift+F1 ctrl+F2 shift+Tab alt+F4 space period Return Escape) &
typist=$!
probe_run keys keys
wait "$typist"
# The usage box, unowned; the box of the self-play area's movie name.
U=("$USAGE_TITLE" "(none)" "$USAGE") AREA=(QuarvPlay "(none)" ' Error opening file: :94720\.')

# run NAME TITLE OWNER PATTERN EXPECTED-PARENT-LOG|- PROGRAM ARGS...: the one
# box the program shows (check_box), its exit code 0, and what a parent
# (probe parent, logging to parent.txt) received.
run() {
  local name=$1 log=$5 code; shift
  rm -f parent.txt
  read_boxes "$name.box"
  wine "${@:5}"
  code=$?
  boxes_done
  check "$name: exit code" 0 "$code"
  check_box "$name.box" "$1" "$2" "$3"
  [ "$log" = - ] || check "$name: the parent's log" "$log" "$(paste -sd '|' parent.txt 2>/dev/null)"
}

# area TEXT: self.exe, the player with TEXT in its self-play area.
area() {
  cp "$PLAYER" self.exe
  printf '%s\0' "$1" | dd of=self.exe bs=1 seek=$((offset + 8)) conv=notrunc status=none
}

run "no arguments" "${U[@]}" - "$PLAYER"
run "overlong command line" "${U[@]}" - "$PLAYER" "$(printf 'n%.0s' $(seq 300))"
area ":94720 /W640/I4/J/D2/T1/U2/A2"
run "the area's movie before names" "${AREA[@]}" - self.exe /L2 /S other.qvl
run "parent answering 8995" "${U[@]}" 'query 10019|exit 0' \
  "$PROBE" parent parent.txt 8995 "Quarvel for Windows test" quarvplay.exe
run "parent answering 1" "$USAGE_TITLE" "Quarvel for Windows test" "$USAGE" "query 10019|$BANNER_LINE|exit 0" \
  "$PROBE" parent parent.txt 1 "Quarvel for Windows test" quarvplay.exe
run "parent of another title" QuarvPlay "Some other program" ' Error opening file: clip\.Qvl\.' "$BANNER_LINE|exit 0" \
  "$PROBE" parent parent.txt 8995 "Some other program" quarvplay.exe clip
run "handle of no window" "${U[@]}" - "$PLAYER" /#12345

make_movie loop.qvl 64 48 8 10 || { echo "FAIL: no movie"; exit 1; }
wine "$PROBE" parent --destroy parent.txt 1 "Some other program" quarvplay.exe /L "$(winepath -w loop.qvl)"
check "window taken down during play" "destroyed|$BANNER_LINE|exit 0 after less than a second" \
  "$(sed -E 's/^(exit 0 after) [0-9]{1,3} ms$/\1 less than a second/' parent.txt | paste -sd '|')"

verdict "start-up, library and player inside"
