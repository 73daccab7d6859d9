#!/bin/bash
# The player on a 16-bit 5-6-5 screen: a movie shown at 1x or exactly twice
# its size draws through DirectDraw, and the /S summary names the blitter
# mode of the modifiers (/V256 smoothing, /V128 interlacing); /V388 and a
# 1.5x output keep type 5 on GDI, so the summary names plain "DIBSection".
set -u
source "$QUARVEL_ROOT/scripts/wine_env.sh"
source "$(dirname "$0")/play_helpers.sh"
need_tools
WORK=$(mktemp -d "${TMPDIR:-/tmp}/quarvel-ddraw-summary.XXXXXX")
trap 'wine_env_stop; rm -rf "$WORK"' EXIT
cd "$WORK" || exit 1
make_movie small.qvl 96 64 6 10 || { echo "FAIL: no movie"; exit 1; }
wine_env_start 640x480x16
cd "$WORK" || exit 1
A='DIBSection with accelerated blitting'
while IFS='|' read -r name want switches; do
  read_boxes "$name.box"
  play /S $switches small.qvl
  finish 90
  boxes_done
  check "$name: exit code, colours, display" "0 65536 1" "$PLAYER_CODE $(grep -aoE 'Screen colors: [0-9]+' "$name.box" | cut -d' ' -f3) $(
    sed -n '/^owner: /{x;p};h' "$name.box" | grep -cxE "  Display blitter: $want")"
done <<EOF2
double|$A \(16-bit 2x( using MMX)?\)|/W192 /H128
smooth|$A \(16-bit 2x Smoothing\)|/V256 /W192 /H128
interlace|$A \(16-bit 2x Interlaced( using MMX)?\)|/V128 /W192 /H128
same-size|$A \(16-bit 1x\)|
no-direct|DIBSection|/V388 /W192 /H128
one-and-a-half|DIBSection|/W144 /H96
EOF2
[ "$fail" = 0 ] && echo "PASS: every summary names its display"
exit "$fail"
