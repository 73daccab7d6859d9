#!/bin/bash
# Seeds for fuzz_cmdline: a length byte for the self-play text, the text,
# then the command line (its lines also the native player's arguments).
set -e
dir=${1:?corpus directory}
mkdir -p "$dir"
seed() {  # name, self-play text, command line
  local n=${#2}
  { printf "\\x$(printf %02x "$n")"; printf '%s' "$2" "$3"; } > "$dir/$1"
}
seed plain "" '/S /L3 /F-40 /T5 clip "my clip" next.qvl'
seed selfplay ':94720 /W640/I4/J/D2/T1/U2/A2' ''
seed selfplay_args ':94720 /X10 /S' '/L2 /X20 other.qvl'
seed parent "" '/#1234 /V385 /I4 /A2 dir.d\clip , x'
seed bad "" '/X10 /X20 a'
seed quotes "" '"unclosed name /Q /@ /Z /R258'
seed native "" $'--scale=2\n--smooth\n--loop\n3\n--tracks=0,1\n--offset=4096\nmovie.qvl'
