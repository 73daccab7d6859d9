#!/bin/bash
# Keys, the loop rules, the boxes and self-playing copies with the real
# player: which movies play, in which order, is read from the window's size
# (each movie has its own) and the /Q caption as probe.exe watched them, the
# boxes as probe.exe read them from the screen.
#  - "." skips to the next name; Escape, Alt+F4 and the system menu's Close
#    end everything; /U4 ignores them all (the movie plays to its end);
#  - two names with /L2 play A, B, A, B; one name with /L2 plays twice
#    without being reopened (the summary counts both passes);
#  - the /S summary: every label in order with its line breaks, the figures
#    known in advance; a one-frame movie has no second-slowest line, /F reads
#    "As fast as possible."; no summary when no movie was opened;
#  - "Error opening file: " with the name as opened (a missing second of
#    three names plays no third), "Error opening graphics buffer." for /V1
#    (Wine has no full-screen driver);
#  - a self-playing copy made by quarvselfplay plays its own movie with its
#    built-in switches (640 wide, height doubled), alone, before named
#    movies, and with the default switches, under the title "QuarvPlay".
set -u
source "$QUARVEL_ROOT/scripts/wine_env.sh"
source "$(dirname "$0")/play_helpers.sh"
need_tools "$QUARVSELFPLAY"
work_in play
A=160x120 B=96x64 C=128x96 IN=640x240 OTHER=640x128  # /W640 /A2 of a and b
{ make_movie a.qvl 160 120 20 10 && make_movie b.qvl 96 64 15 10 &&
  make_movie c.qvl 128 96 10 5 && make_movie one.qvl 64 48 1 10 &&
  "$QUARVSELFPLAY" --switches "/W640/I4/J/D2/T1/U2/A2/Q/S/N" "$PLAYER" a.qvl self.exe >/dev/null &&
  "$QUARVSELFPLAY" "$PLAYER" a.qvl plain.exe >/dev/null; } || { echo "FAIL: no movies"; exit 1; }
wine_env_start
cd "$WORK" || exit 1

# play_case ID EXPECTED ACTION ARGS...: plays with the boxes read into
# ID.box; ACTION (a command, or nothing) runs once the first movie shows
# frame 4 or later. EXPECTED: the exit code and the sizes shown.
play_case() {
  local id=$1 want=$2 action=$3; shift 3
  read_boxes "$id.box" 2
  play "$@"
  [ -n "$action" ] && wait_line 'Frame: [4-9]$' 60 && eval "$action" >/dev/null
  finish 90
  boxes_done
  check "$id" "$want" "$(echo "$PLAYER_CODE $(size_trace)" | sed 's/ $//')"
  echo "  ($SECONDS s; frames shown: $(frame_trace))"
}
last_frame_of() { grep "^$1 " watch.txt | sed -nE 's/.*Frame: ([0-9]+)$/\1/p' | sort -n | tail -1; }
frames_played() { tr -d '\r' < "$1" | sed -nE 's/^ *Total frames played: ([0-9]+)$/\1/p'; }
N='[0-9]+' R='[0-9]+\.[0-9]' DURATION='[0-9]+ (milliseconds?|seconds?|minutes? [0-9]+ seconds?)'
summary_pattern() {  # FRAMERATE FRAMES SECOND-SLOWEST-LINE
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

play_case period "0 $A $B $C" "press period" /Q a.qvl b.qvl c.qvl
check "period: a cut short" 1 "$(( $(last_frame_of $A) < 20 ))"
play_case escape "0 $A" "press Escape" /Q /L3 a.qvl b.qvl
check "escape: a cut short" 1 "$(( $(last_frame_of $A) < 20 ))"
play_case alt-f4 "0 $A" "press alt+F4" /Q a.qvl b.qvl
play_case menu-close "0 $A" 'wine "$PROBE" window post:0x112:0xF060' /Q a.qvl b.qvl
play_case u4 "0 $A" 'press Escape alt+F4 Escape; wine "$PROBE" window post:0x10:0 post:0x112:0xF060' /Q /U4 /N /S a.qvl
check_box u4.box "Quarvel Summary" "(none)" "$(summary_pattern '10\.0' 20 '\r\n  Second slowest frame: '"$N"'  Frame rate: '"$R")"
play_case two-names-l2 "0 $A $B $A $B" "" /Q /L2 a.qvl b.qvl
play_case one-name-l2 "0 $C" "" /Q /L2 /N /S c.qvl
check "one name, /L2: one wrap, one opening" "1 20" "$(wraps_and_last | cut -d' ' -f1) $(frames_played one-name-l2.box)"
play_case missing-second "0 $A" "" /Q a.qvl missing.qvl c.qvl
check_box missing-second.box QuarvPlay "QuarvPlay - Frame: 20" ' Error opening file: missing\.qvl\.'
# A one-frame movie at /F has its window up for a few milliseconds, which
# the watcher's poll can miss on a busy machine: only the exit code here.
read_boxes one-frame.box 2; play /S /F one.qvl; finish 90; boxes_done
check one-frame 0 "$PLAYER_CODE"
check_box one-frame.box "Quarvel Summary" "(none)" "$(summary_pattern 'As fast as possible\.' 1 '')"
play_case missing-file "0" "" /S nothing
check_box missing-file.box QuarvPlay "(none)" ' Error opening file: nothing\.Qvl\.'
play_case no-full-screen "0" "" /V1 a.qvl
check_box no-full-screen.box QuarvPlay "(none)" ' Error opening graphics buffer\.'
PLAYER=$WORK/self.exe play_case self "0 $IN" ""
check "self: every frame once" "0 20" "$(wraps_and_last | cut -d' ' -f1) $(frames_played self.box)"
PLAYER=$WORK/self.exe play_case self-and-name "0 $IN $OTHER $IN $OTHER" "" /L2 /S /N b.qvl
check "self and a name: the summary of b" "Quarvel Summary 15" "$(head -1 self-and-name.box) $(frames_played self-and-name.box)"
PLAYER=$WORK/plain.exe play_case plain "0 $IN" ""
check "plain: the title" "QuarvPlay" "$(sed 's/.* | //' watch.txt | sort -u | paste -sd ,)"

verdict "keys, loops, boxes and self-playing copies"
