#!/bin/bash
# Sourced by the test_play_*.sh scripts: movies made with quarvmake, the
# player started under Wine with play_watch.exe and boxreader.exe beside it,
# keys typed into its window, and screenshots compared with quarvdump's
# frames. Expects QUARVEL_WIN32_BIN and QUARVEL_NATIVE_BIN; the functions
# that run programs need a running wine_env, and all work in the current
# folder.

PLAYER="$QUARVEL_WIN32_BIN/quarvplay.exe"
QUARVMAKE="$QUARVEL_NATIVE_BIN/quarvmake"
QUARVDUMP="$QUARVEL_NATIVE_BIN/quarvdump"
QUARVSELFPLAY="$QUARVEL_NATIVE_BIN/quarvselfplay"

need_tools() {
  local t
  for t in "$QUARVMAKE" "$QUARVDUMP" "$@"; do
    [ -x "$t" ] || { echo "FAIL: $t is missing (build the native tools first)"; exit 1; }
  done
}

# make_movie OUT.qvl WIDTH HEIGHT FRAMES FPS COLOUR: a movie of coloured
# bars that move one step a frame over a background of COLOUR, so that every
# frame differs and movies can be told apart.
make_movie() {
  local out=$1 w=$2 h=$3 n=$4 fps=$5 colour=$6
  local dir
  dir=$(mktemp -d "${TMPDIR:-/tmp}/quarvel-frames.XXXXXX")
  local i
  for i in $(seq 0 $((n - 1))); do
    local x=$(( (i * 4) % w )) y=$(( (i * 4) % h ))
    convert -size "${w}x${h}" "xc:$colour" \
      -fill 'rgb(250,240,20)' -draw "rectangle $x,0 $((x + 7)),$((h - 1))" \
      -fill 'rgb(20,40,230)' -draw "rectangle 0,$y $((w - 1)),$((y + 3))" \
      -fill 'rgb(200,30,160)' -draw "rectangle $((w / 4)),$((h / 4)) $((w / 4 + i % 16)),$((h / 4 + 12))" \
      "$dir/$(printf '%04d' "$i").png" || return 1
  done
  "$QUARVMAKE" --quiet --fps "$fps" "$out" "$dir" >/dev/null || return 1
  rm -rf "$dir"
}

# play ARGS...: starts the player with play_watch.exe logging its window to
# watch.txt (and, with WATCH_TIMES=FILE, each line with its wall-clock time to
# FILE); PLAYER_PID and WATCH_PID are set.
play() {
  rm -f watch.txt
  wine "$QUARVEL_WIN32_BIN/play_watch.exe" watch.txt 120000 ${WATCH_TIMES:-} &
  WATCH_PID=$!
  wine "$PLAYER" "$@" &
  PLAYER_PID=$!
}

# finish [TIMEOUT_S]: waits for the player and the watcher; PLAYER_CODE is the
# player's exit code (124 when it had to be killed).
finish() {
  local limit=${1:-90} i
  for i in $(seq $((limit * 10))); do kill -0 "$PLAYER_PID" 2>/dev/null || break; sleep 0.1; done
  if kill -0 "$PLAYER_PID" 2>/dev/null; then
    kill "$PLAYER_PID" 2>/dev/null
    wait "$PLAYER_PID" 2>/dev/null
    PLAYER_CODE=124
  else
    wait "$PLAYER_PID"
    PLAYER_CODE=$?
  fi
  # The watcher ends when the window goes; one that never saw a window is
  # stopped.
  for i in $(seq 20); do kill -0 "$WATCH_PID" 2>/dev/null || break; sleep 0.1; done
  kill "$WATCH_PID" 2>/dev/null
  wait "$WATCH_PID" 2>/dev/null
}

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

# press KEY...: gives the player window the keyboard focus and types the keys.
press() {
  local window
  window=$(xdotool search --name '^QuarvPlay' 2>/dev/null | head -1)
  [ -n "$window" ] && xdotool windowfocus --sync "$window" 2>/dev/null
  local key
  for key in "$@"; do xdotool key "$key"; sleep 0.15; done
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

# compare_area SHOT.xwd X Y FRAME.ppm OUTW OUTH BITS [interlaced]: whether the
# area of the screenshot at X,Y of OUTW x OUTH pixels is FRAME scaled to that
# size (nearest pixel), exactly (BITS 24) or in the screen's 5-6-5 colours
# (BITS 16); interlaced: every odd line of the area black instead.
compare_area() {
  python3 - "$@" <<'PY'
import struct, sys
def ppm(path):
    data = open(path, 'rb').read()
    fields, pos = [], 0
    while len(fields) < 4:
        while data[pos:pos+1].isspace(): pos += 1
        if data[pos:pos+1] == b'#':
            while data[pos:pos+1] != b'\n': pos += 1
            continue
        start = pos
        while not data[pos:pos+1].isspace(): pos += 1
        fields.append(data[start:pos])
    assert fields[0] == b'P6' and fields[3] == b'255', path
    w, h = int(fields[1]), int(fields[2])
    return w, h, data[pos+1:pos+1+w*h*3]
def xwd(path, bits):
    # A big-endian header, the window name, the colour map, then the pixels.
    # On a 16-bit X screen xwd labels the root image as 24-bit (masks and
    # pixel size) while the values are the screen's own 5-6-5 pixels.
    data = open(path, 'rb').read()
    f = struct.unpack('>25I', data[:100])
    header, w, h, msb, bpp, line, ncolours = f[0], f[4], f[5], f[7], f[11], f[12], f[19]
    masks = [f[14], f[15], f[16]]
    if bits == 16 and masks == [0xFF0000, 0xFF00, 0xFF]:
        masks = [0xF800, 0x07E0, 0x001F]
    pixels = data[header + ncolours * 12:]
    n = bpp // 8
    def rgb(x, y):
        p = pixels[y * line + x * n: y * line + x * n + n]
        v = int.from_bytes(p, 'big' if msb else 'little')
        out = []
        for m in masks:
            value, mask = v & m, m
            while not mask & 1: mask >>= 1; value >>= 1
            width = mask.bit_length()
            out.append(value >> (width - 8) if width >= 8 else value << (8 - width))
        return out
    return w, h, rgb
shot, x0, y0, frame, ow, oh, bits = sys.argv[1], int(sys.argv[2]), int(sys.argv[3]), sys.argv[4], int(sys.argv[5]), int(sys.argv[6]), int(sys.argv[7])
interlaced = sys.argv[8:] == ['interlaced']
sw, sh, pixel = xwd(shot, bits)
fw, fh, f = ppm(frame)
if x0 < 0 or y0 < 0 or x0 + ow > sw or y0 + oh > sh:
    print("area %dx%d at %d,%d is not on the %dx%d screen" % (ow, oh, x0, y0, sw, sh)); sys.exit(1)
mask = (0xF8, 0xFC, 0xF8) if bits == 16 else (0xFF, 0xFF, 0xFF)
bad, first = 0, []
for y in range(oh):
    fy = y * fh // oh
    for x in range(ow):
        fx = x * fw // ow
        s = pixel(x0 + x, y0 + y)
        b = fy * fw * 3 + fx * 3
        want = (0, 0, 0) if interlaced and y % 2 else tuple(f[b:b+3])
        if any(s[c] & mask[c] != want[c] & mask[c] for c in range(3)):
            bad += 1
            if len(first) < 5: first.append("(%d,%d) screen %s wanted %s" % (x, y, tuple(s), want))
if bad:
    print("%d of %d pixels differ, first: %s" % (bad, ow * oh, "; ".join(first))); sys.exit(1)
print("all %d pixels equal" % (ow * oh))
PY
}
