#!/bin/bash
# The library and the player's inside as Windows programs under Wine
# (probe.exe's self-checking subcommands):
#  - exports: the fourteen decorated names in the export table; the code
#    that repairs the image before anything runs holds one absolute address
#    and calls nothing outside itself; another program that only loads the
#    executable (as Wine leaves it: moved, unrelocated, unbound; as Windows
#    does: relocated, unbound, here a copy marked as a library) calls each
#    export correctly, first through any of them and from 14 threads at once;
#  - kernels: every blitter kernel of every variant (MMX registers in the
#    32-bit build) against the plain one; decode: the conformance movies;
#  - fullscreen: the full-screen types' requests to a stand-in driver
#    window; mode: /D's display-mode calls to a recorder; keys: the system
#    menu and the codes of keys typed with Shift, Ctrl and Alt held.
set -u
source "$QUARVEL_ROOT/scripts/wine_env.sh"
source "$(dirname "$0")/play_helpers.sh"
EXE="$QUARVEL_WIN32_BIN/quarvplay.exe"

table=$(x86_64-w64-mingw32-objdump -p "$EXE")  # reads both the 32-bit and the 64-bit format
check "exported names" 14 "$(grep -cE '^[[:space:]]*\[ *[0-9]+\] _Quarv(Blit(Open@4|SetPalette@12|SetFlags@8|String@8|@44|Trans@48|Mask@52|Merge@52|Clear@32|Close@4)|BufferToBuffer(@32|Trans@36|Mask@40|Merge@40))$' <<<"$table")"
obj=$(find "$QUARVEL_WIN32_BIN/.." -path '*quarvplay.dir*' -name 'image_repair_win32.cpp.obj' | head -1)
relocs=$(x86_64-w64-mingw32-objdump -r "$obj" | awk '/^RELOCATION RECORDS FOR \[/ {code = ($4 ~ /^\[\.text/)} code && NF == 3 && $1 ~ /^[0-9a-f]+$/')
check "the image repair's absolute addresses" 1 "$(grep -cE ' (dir32|IMAGE_REL_AMD64_ADDR64|IMAGE_REL_AMD64_ADDR32) ' <<<"$relocs")"
check "what else the image repair refers to" "" "$(awk '$3 !~ /^\./ && $3 !~ /^_*(ImageBase|RUNTIME_PSEUDO_RELOC_LIST(_END)?__)$/' <<<"$relocs")"

wine_env_start 640x480x16
trap wine_env_stop EXIT
cd "$WINE_ENV_DIR" || exit 1
cp "$EXE" asdll.exe  # IMAGE_FILE_DLL set in the file header's flags
lfanew=$(od -An -tu4 -j60 -N4 "$EXE" | tr -d ' ')
flags=$(( $(od -An -tu2 -j$((lfanew + 22)) -N2 "$EXE" | tr -d ' ') | 0x2000 ))
printf "\\x$(printf %02x $((flags & 255)))\\x$(printf %02x $((flags >> 8)))" | dd of=asdll.exe bs=1 seek=$((lfanew + 22)) conv=notrunc status=none

# probe_run NAME ARGS...: the subcommand's output; it must end "N checks, 0 failed".
probe_run() {
  local name=$1; shift
  out=$(wine "$PROBE" "$@" 2>wine.err | tr -d '\r')
  echo "$out" | grep -v '^round' | sed "s/^/  $name: /"
  grep -qE '^[1-9][0-9]* checks, 0 failed$' <<<"$out" || { echo "FAIL ($name)"; tail -3 wine.err; fail=1; }
}
probe_run exports exports "$(winepath -w "$EXE")"
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
[ "$fail" = 0 ] && echo "PASS: library and player inside"
exit "$fail"
