#!/bin/bash
# The player on a 16-bit 5-6-5 screen: a movie shown at exactly twice its
# size draws through DirectDraw, and the /S summary names the blitter mode
# of the modifiers (/V256 smoothing, /V128 interlacing); /V388 and a 1.5x
# output keep type 5 on GDI, so the summary names plain "DIBSection".
set -u
source "$QUARVEL_ROOT/scripts/wine_env.sh"
source "$(dirname "$0")/play_helpers.sh"
need_tools
fail=0
WORK=$(mktemp -d "${TMPDIR:-/tmp}/quarvel-ddraw-summary.XXXXXX")
trap 'wine_env_stop; rm -rf "$WORK"' EXIT
cd "$WORK" || exit 1
make_movie small.qvl 96 64 6 10 'rgb(30,90,60)' || { echo "FAIL: no movie"; exit 1; }

wine_env_start 640x480x16
cd "$WORK" || exit 1

# summary_display CASE WANT ARGS...: plays with /S and compares the summary's
# last line ("  Display blitter: ...") with WANT (a Python pattern).
summary_display() {
  local name=$1 want=$2; shift 2
  rm -f "$name.box"
  wine "$QUARVEL_WIN32_BIN/boxreader.exe" "$name.box" 1 90000 & local reader=$!
  play /S "$@" small.qvl
  finish 90
  wait "$reader" || { echo "FAIL ($name): no box appeared"; fail=1; return; }
  [ "$PLAYER_CODE" = 0 ] || { echo "FAIL ($name): the player exited with $PLAYER_CODE"; fail=1; }
  python3 - "$name" "$want" <<'PY' || fail=1
import re, sys
name, want = sys.argv[1:3]
text = open(name + ".box", "rb").read().decode("latin-1").rsplit("\nowner: ", 1)[0]
colours = re.search(r"Screen colors: ([0-9]+)", text)
line = text.rsplit("\r\n", 1)[-1]
ok = colours and colours.group(1) == "65536" and re.fullmatch("  Display blitter: " + want, line)
print(("ok (%s): " if ok else "FAIL (%s): ") % name + repr(line), colours.group(1) if colours else "(no colours)")
sys.exit(0 if ok else 1)
PY
}

summary_display double "DIBSection with accelerated blitting \(16-bit 2x( using MMX)?\)" /W192 /H128
summary_display smooth "DIBSection with accelerated blitting \(16-bit 2x Smoothing\)" /V256 /W192 /H128
summary_display interlace "DIBSection with accelerated blitting \(16-bit 2x Interlaced( using MMX)?\)" /V128 /W192 /H128
summary_display same-size "DIBSection with accelerated blitting \(16-bit 1x\)"
summary_display no-direct "DIBSection" /V388 /W192 /H128
summary_display one-and-a-half "DIBSection" /W144 /H96

[ "$fail" = 0 ] && echo "PASS: every summary names its display"
exit "$fail"
