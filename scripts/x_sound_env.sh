#!/bin/bash
# Sourced by the tests that open windows and play sound (the Windows tests
# through scripts/wine_env.sh, the native player's tests) and by the main
# job: a private X server and a sound device that keeps real time, per run.
#   x_env_start [SCREEN]   e.g. 800x600x24 (default) or 640x480x16
#   x_env_stop
#   sound_device_stop / sound_device_start   (see below)
# After start: DISPLAY, HOME and X_ENV_DIR are set, and the ALSA default
# device plays in real time into tests/support/sound_device.py, which leaves
# SOUND_FILE (the WAV it played) and SOUND_LOG (when each stream started and
# how far it had got, by the wall clock) once stopped.

# The sound device: ALSA's file plugin writes into a FIFO that the reader
# drains at the stream's byte rate, so programs are paced as by a real
# device. sound_device_stop ends the reader and writes SOUND_FILE and
# SOUND_LOG; sound_device_start begins a new recording (the old one is
# removed), e.g. between two plays of one test.
sound_device_start() {
  local root=${QUARVEL_ROOT:-$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)}
  rm -f "$SOUND_FILE" "$SOUND_LOG"
  [ -p "$SOUND_FIFO" ] || mkfifo "$SOUND_FIFO"
  python3 "$root/tests/support/sound_device.py" "$SOUND_FIFO" "$SOUND_FILE" "$SOUND_LOG" &
  SOUND_DEVICE_PID=$!
}

sound_device_stop() {
  [ -n "${SOUND_DEVICE_PID:-}" ] || return 0
  kill -TERM "$SOUND_DEVICE_PID" 2>/dev/null
  wait "$SOUND_DEVICE_PID" 2>/dev/null
  SOUND_DEVICE_PID=
  return 0
}

x_env_start() {
  local screen=${1:-800x600x24}
  X_ENV_DIR=$(mktemp -d /tmp/quarvel-x.XXXXXX)
  mkdir -p "$X_ENV_DIR/home"
  Xvfb -displayfd 5 -screen 0 "$screen" -nolisten tcp 5>"$X_ENV_DIR/display" 2>/dev/null &
  XVFB_PID=$!
  for _ in $(seq 100); do [ -s "$X_ENV_DIR/display" ] && break; sleep 0.1; done
  export DISPLAY=":$(cat "$X_ENV_DIR/display")"
  export HOME="$X_ENV_DIR/home"
  export SOUND_FILE="$X_ENV_DIR/played.wav" SOUND_LOG="$X_ENV_DIR/played.log"
  export SOUND_FIFO="$X_ENV_DIR/sound.fifo"
  cat > "$HOME/.asoundrc" <<ASOUND
pcm.!default { type file; slave.pcm "null"; file "$SOUND_FIFO"; format "wav" }
ASOUND
  sound_device_start
}

# KEEP_X_ENV (or KEEP_WINE_ENV) keeps the run's folder for a look.
x_env_stop() {
  sound_device_stop
  [ -n "${XVFB_PID:-}" ] && kill "$XVFB_PID" 2>/dev/null || true
  wait "${XVFB_PID:-}" 2>/dev/null || true
  XVFB_PID=
  [ -n "${X_ENV_DIR:-}" ] && [ -z "${KEEP_X_ENV:-}${KEEP_WINE_ENV:-}" ] && rm -rf "$X_ENV_DIR"
  return 0
}
