#!/bin/bash
# Sourced by the tests/sdl scripts: the native player under a private Xvfb
# (SDL's X11 video driver) with SDL's ALSA output into the real-time sound
# device of scripts/x_sound_env.sh, its window's titles followed as the X
# server announces them, and the movie makers, keys and screenshot
# comparators of tests/win32/play_helpers.sh.
# Expects QUARVEL_ROOT and QUARVEL_NATIVE_BIN; everything works in the
# current folder.
source "$QUARVEL_ROOT/scripts/x_sound_env.sh"
QUARVEL_WIN32_BIN=${QUARVEL_WIN32_BIN:-}  # the Windows player is not used here
source "$QUARVEL_ROOT/tests/win32/play_helpers.sh"
PLAYER="$QUARVEL_NATIVE_BIN/quarvplay"
export SDL_VIDEODRIVER=x11 SDL_AUDIODRIVER=alsa
# Under AddressSanitizer the player is checked for memory errors, not for
# leaks: SDL loads dozens of system libraries at run time (X11, GL, sound)
# and unloads them when it quits, so what they keep until exit shows up as
# leaks of no module at all, which no suppression can name.
export ASAN_OPTIONS="${ASAN_OPTIONS:+$ASAN_OPTIONS:}detect_leaks=0"

# bad TEXT: a failed check.
bad() { echo "FAIL ($*)"; fail=1; }

# play ARGS...: starts the player and a watcher that writes each title its
# window takes to watch.txt (and, with WATCH_TIMES=FILE, after its wall-clock
# time to FILE); standard output and error go to out.txt and err.txt.
# PLAYER_PID and WATCH_PID are set; finish waits for both.
play() {
  rm -f watch.txt ${WATCH_TIMES:+"$WATCH_TIMES"}
  (
    id=$(timeout 60 xdotool search --sync --onlyvisible --name '^QuarvPlay' | head -1)
    [ -n "$id" ] && xprop -spy -id "$id" _NET_WM_NAME 2>/dev/null | while IFS= read -r line; do
      at=$EPOCHREALTIME title=${line#*= \"}
      echo "${title%\"}" >> watch.txt
      [ -n "${WATCH_TIMES:-}" ] && echo "$at ${title%\"}" >> "$WATCH_TIMES"
    done
  ) &
  WATCH_PID=$!
  "$PLAYER" "$@" > out.txt 2> err.txt &
  PLAYER_PID=$!
}

# The player window's client area: "W H X Y".
window_area() {
  local WIDTH HEIGHT X Y WINDOW SCREEN
  eval "$(xdotool getwindowgeometry --shell "$(xdotool search --onlyvisible --name '^QuarvPlay' | head -1)")"
  echo "$WIDTH $HEIGHT $X $Y"
}

# sound_device_ready: a new recording, with the device ready before the
# player starts. The reader shrinks its pipe once a writer has opened the
# FIFO, which fails on a pipe already holding more than the new size, and
# SDL writes as soon as it opens the device: so this script opens the FIFO
# first and holds it, idle, until sound_device_done.
sound_device_ready() {
  sound_device_stop
  sound_device_start
  exec 7>"$SOUND_FIFO"
}
sound_device_done() {
  exec 7>&-
  sound_device_stop
}
