#!/bin/bash
# Sourced by the Windows tests (after scripts/wine_env.sh): movies made with
# soundmovie, the real player started under Wine with probe.exe watching its
# window and reading its boxes, keys typed into it, and screenshots compared
# with quarvdump's frames. Expects QUARVEL_WIN32_BIN and QUARVEL_NATIVE_BIN;
# the functions that run programs need a running wine_env, and all work in
# the current folder.

PLAYER="$QUARVEL_WIN32_BIN/quarvplay.exe"
PROBE="$QUARVEL_WIN32_BIN/probe.exe"
QUARVMAKE="$QUARVEL_NATIVE_BIN/quarvmake"
QUARVDUMP="$QUARVEL_NATIVE_BIN/quarvdump"
QUARVSELFPLAY="$QUARVEL_NATIVE_BIN/quarvselfplay"
SOUNDMOVIE="$QUARVEL_NATIVE_BIN/soundmovie"
fail=0

need_tools() {
  local t
  for t in "$SOUNDMOVIE" "$QUARVDUMP" "$@"; do
    [ -x "$t" ] || { echo "FAIL: $t is missing (build the native tools first)"; exit 1; }
  done
}

# check DESCRIPTION EXPECTED GOT
check() {
  if [ "$2" = "$3" ]; then echo "ok ($1): $3"; else echo "FAIL ($1): expected [$2], got [$3]"; fail=1; fi
}

# make_movie OUT.qvl WIDTH HEIGHT FRAMES FPS: a silent movie whose every
# frame differs (soundmovie's pictures); movies of other sizes are told apart.
make_movie() {
  "$SOUNDMOVIE" write "$1" "$1.pcm" 0 8 1 raw "$4" "$5" -1 "$2x$3" >/dev/null && rm -f "$1.pcm"
}

# play ARGS...: starts the player ($PLAYER) with probe.exe logging its window
# to watch.txt (and, with WATCH_TIMES=FILE, each line with its wall-clock
# time to FILE); PLAYER_PID and WATCH_PID are set.
play() {
  rm -f watch.txt
  wine "$PROBE" watch watch.txt ${WATCH_TIMES:-} &
  WATCH_PID=$!
  wine "$PLAYER" "$@" &
  PLAYER_PID=$!
}

# stop_after PID TENTHS: waits at most that many tenths of a second for the
# process to end, then stops it; its exit code (124 when it had to be stopped).
stop_after() {
  local i
  for i in $(seq "$2"); do kill -0 "$1" 2>/dev/null || { wait "$1"; return; }; sleep 0.1; done
  kill "$1" 2>/dev/null
  wait "$1" 2>/dev/null
  return 124
}

# finish [TIMEOUT_S]: waits for the player and the watcher (which ends when
# the window goes; one that never saw a window is stopped); PLAYER_CODE is
# the player's exit code (124 when it had to be stopped).
finish() {
  stop_after "$PLAYER_PID" $((${1:-90} * 10))
  PLAYER_CODE=$?
  stop_after "$WATCH_PID" 20
}

# read_boxes FILE [COUNT]: reads the boxes that come up into FILE until
# boxes_done; BOXES_PID is set.
read_boxes() {
  rm -f "$1"
  wine "$PROBE" boxes "$1" "${2:-1}" >/dev/null &
  BOXES_PID=$!
}
boxes_done() { stop_after "$BOXES_PID" 30; }

# wait_line PATTERN [TIMEOUT_S]: waits until the watcher's latest line matches.
wait_line() {
  local pattern=$1 limit=${2:-60} i
  for i in $(seq $((limit * 20))); do
    [ -f watch.txt ] && tail -1 watch.txt | grep -Eq -- "$pattern" && return 0
    kill -0 "$PLAYER_PID" 2>/dev/null || return 1
    sleep 0.05
  done
  return 1
}

# The frame number of the player's /Q caption in the watcher's latest line.
caption_frame() { tail -1 watch.txt | sed -nE 's/.*Frame: ([0-9]+)$/\1/p'; }

# press KEY...: gives the player window the keyboard focus and types the
# keys. A modifier (MOD+KEY) is held down on its own first: the window reads
# its state when the key arrives, and a combined press can deliver both at once.
press() {
  local window key
  window=$(xdotool search --name '^QuarvPlay' 2>/dev/null | head -1)
  [ -n "$window" ] && xdotool windowfocus --sync "$window" 2>/dev/null
  for key in "$@"; do
    if [[ $key == ?*+?* ]]; then
      xdotool keydown "${key%%+*}"; sleep 0.3; xdotool key "${key#*+}"; sleep 0.3; xdotool keyup "${key%%+*}"
    else
      xdotool key "$key"
    fi
    sleep 0.15
  done
}

# The movie sizes in the order the window showed them (repeats folded).
size_trace() { sed -E 's/ at .*//' watch.txt | uniq | tr '\n' ' ' | sed 's/ $//'; }

# The frames a /Q caption showed, in order (repeats folded).
frame_trace() { sed -nE 's/.*Frame: ([0-9]+)$/\1/p' watch.txt | uniq | tr '\n' ' ' | sed 's/ $//'; }

# How often the /Q caption went back to a lower frame (the movie wrapped),
# and the last frame shown: "WRAPS LAST". Robust against captions the
# watcher missed on a busy machine.
wraps_and_last() {
  frame_trace | tr ' ' '\n' | awk 'NF { if (seen && $1 < last) w++; last = $1; seen = 1 } END { print w + 0, last }'
}

# screenshot OUT.xwd
screenshot() { xwd -root -silent > "$1.part" && mv "$1.part" "$1"; }

# compare_area SHOT.xwd X Y FRAME.ppm OUTW OUTH BITS [MODE]: whether the
# area of the screenshot at X,Y of OUTW x OUTH pixels is FRAME scaled to that
# size (nearest pixel), exactly (BITS 24), in the screen's 5-6-5 colours
# (BITS 16), or in 5-6-5 precision on a 24-bit screen (BITS 565: the top
# bits of each component, however the screen widened them to 8 bits). MODE interlaced: every odd line of the area black instead;
# smoothed: FRAME doubled by the blitter's smoothing rule (each pixel the
# lower right of a 2x2 block whose other three are midpoints towards its
# left and upper neighbours, or itself at the edges); covered: the top left
# quarter is left out and must not show FRAME.
compare_area() {
  python3 - "$@" <<'PY'
import re, struct, sys
shot, frame, mode = sys.argv[1], sys.argv[4], (sys.argv[8:] or [''])[0]
x0, y0, ow, oh, bits = (int(sys.argv[i]) for i in (2, 3, 5, 6, 7))
data = open(frame, 'rb').read()
m = re.match(rb'P6\s+(\d+)\s+(\d+)\s+\d+\s', data)
fw, fh, f = int(m[1]), int(m[2]), data[m.end():]
# xwd: a big-endian header, the window name, the colour map, then the pixels.
# On a 16-bit X screen xwd labels the root image as 24-bit (masks and pixel
# size) while the values are the screen's own 5-6-5 pixels.
data = open(shot, 'rb').read()
h = struct.unpack('>25I', data[:100])
sw, sh, msb, n, line, masks = h[4], h[5], h[7], h[11] // 8, h[12], [h[14], h[15], h[16]]
if bits == 16 and masks == [0xFF0000, 0xFF00, 0xFF]:
    masks = [0xF800, 0x07E0, 0x001F]
pixels = data[h[0] + h[19] * 12:]
def pixel(x, y):  # each component widened to 8 bits (low bits zero)
    v = int.from_bytes(pixels[y * line + x * n: y * line + x * n + n], 'big' if msb else 'little')
    return [((v & m) >> (m & -m).bit_length() - 1 << 8) >> bin(m).count('1') for m in masks]
if x0 < 0 or y0 < 0 or x0 + ow > sw or y0 + oh > sh:
    print("area %dx%d at %d,%d is not on the %dx%d screen" % (ow, oh, x0, y0, sw, sh)); sys.exit(1)
mask = (0xF8, 0xFC, 0xF8) if bits in (16, 565) else (0xFF, 0xFF, 0xFF)
at = lambda x, y: tuple(f[(y * fw + x) * 3:(y * fw + x) * 3 + 3])
mid = lambda a, b: tuple(((p & 0xFE) + (q & 0xFE)) >> 1 for p, q in zip(a, b))
bad, covered, first = 0, 0, []
for y in range(oh):
    for x in range(ow):
        fx, fy = x * fw // ow, y * fh // oh
        want = at(fx, fy)
        if mode == 'interlaced' and y % 2:
            want = (0, 0, 0)
        elif mode == 'smoothed':
            left, up = at(fx - 1, fy) if fx else want, at(fx, fy - 1) if fy else want
            want = [[mid(left, up), mid(want, up)], [mid(want, left), want]][y % 2][x % 2]
        s = pixel(x0 + x, y0 + y)
        same = all(s[c] & mask[c] == want[c] & mask[c] for c in range(3))
        if mode == 'covered' and x < ow // 2 and y < oh // 2:
            covered += same
        elif not same:
            bad += 1
            if len(first) < 5: first.append("(%d,%d) screen %s wanted %s" % (x, y, tuple(s), want))
if bad or covered > ow * oh // 64:
    print("%d of %d pixels differ, first: %s; %d covered pixels show the frame" % (bad, ow * oh, "; ".join(first), covered)); sys.exit(1)
print("all %d pixels equal" % (ow * oh))
PY
}

# check_box FILE TITLE OWNER PATTERN: the boxes read into FILE have this
# title (of the first) and owner (of the last) exactly, and their whole text
# matches the pattern (Perl syntax, \r and \n as written).
check_box() {
  if grep -Pzq "\\A\\Q$2\\E\\n$4\\nowner: \\Q$3\\E\\n\\z" "$1" 2>/dev/null; then echo "ok ($1)"
  else echo "FAIL ($1): title [$2] owner [$3]; got:"; tr '\r' '~' < "$1" 2>&1 | sed 's/^/  /'; fail=1; fi
}

# work_in NAME: works in a new folder, removed (and Wine stopped) on exit.
work_in() {
  WORK=$(mktemp -d "${TMPDIR:-/tmp}/quarvel-$1.XXXXXX") && trap 'wine_env_stop; rm -rf "$WORK"' EXIT && cd "$WORK" || exit 1
}

# verdict TEXT: "PASS: TEXT" when no check failed; exits with the result.
verdict() { [ "$fail" = 0 ] && echo "PASS: $1"; exit "$fail"; }
