#!/bin/bash
# The DirectDraw path of type 5 (ddraw_gui.exe): on a 16-bit 5-6-5 screen a
# 1x or exactly 2x output draws straight into the primary surface with the
# blitter flags for its modifiers; on a 32-bit screen, with the 0x80 bit or
# at 1.5x, GDI draws. Each case compares screenshots with the computed
# picture and checks the switch to GDI and back with the foreground.
set -u
source "$QUARVEL_ROOT/scripts/wine_env.sh"
PROG="$QUARVEL_WIN32_BIN/ddraw_gui.exe"
fail=0

# run_case NAME FLAGS W H OUTW OUTH WANTBLITFLAGS
run_case() {
  local name=$1; shift
  local dir="$WINE_ENV_DIR/$name"
  mkdir -p "$dir"
  wine "$PROG" "$(winepath -w "$dir")" "$@" &
  local pid=$!
  for n in 1 2 3; do
    for _ in $(seq 600); do
      [ -f "$dir/ready$n.txt" ] && break
      kill -0 "$pid" 2>/dev/null || break
      sleep 0.1
    done
    [ -f "$dir/ready$n.txt" ] || break
    xwd -root -silent > "$dir/tmp$n.xwd" && mv "$dir/tmp$n.xwd" "$dir/shot$n.xwd"
  done
  wait "$pid"
  local code=$?
  echo "--- $name (exit $code)"
  cat "$dir/result.txt" 2>/dev/null || echo "(no result file)"
  if [ "$code" != 0 ]; then
    fail=1
    for n in 1 2 3; do
      [ -f "$dir/shot$n.xwd" ] && cp "$dir/shot$n.xwd" /tmp/h9/ && convert "xwd:$dir/shot$n.xwd" "/tmp/quarvel-ddraw-$name-shot$n.png" 2>/dev/null
    done
  fi
}

trap wine_env_stop EXIT

wine_env_start 640x480x16
#        name            flags  w   h   outw outh want
run_case plain-2x        5      96  64  192  128  0xC0000002
run_case smooth-2x       0x105  96  64  192  128  0xC0000004
run_case interlace-2x    0x205  96  64  192  128  0xC0000008
run_case same-size       5      100 60  100  60   0xC0000001
run_case no-direct-bit   0x85   96  64  192  128  0
run_case one-and-a-half  5      96  64  144  96   0
wine_env_stop

wine_env_start 640x480x24
run_case deep-screen-2x  5      96  64  192  128  0
wine_env_stop

[ "$fail" = 0 ] && echo "PASS: every DirectDraw case"
exit "$fail"
