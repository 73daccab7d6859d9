#!/bin/bash
# Sourced by the Win32 tests and the main job: a private X server, Wine
# prefix and sound device per run, and the choice of Wine (32 or 64 bit).
#   wine_env_start [SCREEN]   e.g. 800x600x24 (default) or 640x480x16
#   wine_env_stop
#   sound_device_stop / sound_device_start   (see below)
# After start: DISPLAY, WINEPREFIX, HOME and WINE_ENV_DIR are set, and the
# ALSA default device plays in real time into tests/support/sound_device.py,
# which leaves SOUND_FILE (the WAV it played) and SOUND_LOG (when each stream
# started and how far it had got, by the wall clock) once stopped. A prepared prefix in
# QUARVEL_WINE_TEMPLATE (made by wine_env_template) is copied instead of
# booting a new one, which saves about ten seconds a test.

# Which Windows build the tests run: the 32-bit product where this machine
# can start 32-bit processes (Wine needs that for 32-bit programs), else the
# 64-bit build of the same sources under 64-bit Wine.
wine_bits() {
  if [ -z "${QUARVEL_WINE_BITS:-}" ]; then
    if [ -x /lib/ld-linux.so.2 ] && /lib/ld-linux.so.2 --version >/dev/null 2>&1 && [ -x /usr/lib/wine/wine ]; then
      QUARVEL_WINE_BITS=32
    else
      QUARVEL_WINE_BITS=64
    fi
    export QUARVEL_WINE_BITS
  fi
  echo "$QUARVEL_WINE_BITS"
}

# Puts wrappers first on PATH so that wine, wineserver, wineboot and
# winepath use the Wine that matches wine_bits.
wine_use_bits() {
  local dir=$1
  mkdir -p "$dir"
  if [ "$(wine_bits)" = 64 ]; then
    export WINEARCH=win64
    export WINELOADER=/usr/lib/wine/wine64
    printf '#!/bin/sh\nexec /usr/lib/wine/wine64 "$@"\n' > "$dir/wine"
    printf '#!/bin/sh\nexec /usr/lib/wine/wineserver64 "$@"\n' > "$dir/wineserver"
  else
    printf '#!/bin/sh\nexec /usr/lib/wine/wine "$@"\n' > "$dir/wine"
    printf '#!/bin/sh\nexec /usr/lib/wine/wineserver32 "$@"\n' > "$dir/wineserver"
  fi
  printf '#!/bin/sh\nexec wine wineboot.exe "$@"\n' > "$dir/wineboot"
  printf '#!/bin/sh\nexec wine winepath.exe "$@"\n' > "$dir/winepath"
  chmod +x "$dir"/wine "$dir"/wineserver "$dir"/wineboot "$dir"/winepath
  case ":$PATH:" in *":$dir:"*) ;; *) export PATH="$dir:$PATH" ;; esac
}

# The folder of the Windows programs under test (build/win32/bin or build/win64/bin).
wine_test_bin() {
  local root=${QUARVEL_ROOT:-$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)}
  echo "$root/build/win$(wine_bits)/bin"
}

wine_env_template() {
  local dir=$1
  wine_use_bits "$dir/bin"
  if [ ! -f "$dir/prefix/system.reg" ]; then
    mkdir -p "$dir/home"
    HOME="$dir/home" WINEPREFIX="$dir/prefix" WINEDEBUG=-all DISPLAY= wineboot -i >/dev/null 2>&1 || true
    HOME="$dir/home" WINEPREFIX="$dir/prefix" wineserver -w 2>/dev/null || true
  fi
  export QUARVEL_WINE_TEMPLATE="$dir/prefix"
}

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

wine_env_start() {
  local screen=${1:-800x600x24}
  WINE_ENV_DIR=$(mktemp -d /tmp/quarvel-wine.XXXXXX)
  mkdir -p "$WINE_ENV_DIR/home"
  wine_use_bits "$WINE_ENV_DIR/bin"
  Xvfb -displayfd 5 -screen 0 "$screen" -nolisten tcp 5>"$WINE_ENV_DIR/display" 2>/dev/null &
  XVFB_PID=$!
  for _ in $(seq 100); do [ -s "$WINE_ENV_DIR/display" ] && break; sleep 0.1; done
  export DISPLAY=":$(cat "$WINE_ENV_DIR/display")"
  export HOME="$WINE_ENV_DIR/home"
  export WINEPREFIX="$WINE_ENV_DIR/prefix"
  export WINEDEBUG=${WINEDEBUG:--all}
  export SOUND_FILE="$WINE_ENV_DIR/played.wav" SOUND_LOG="$WINE_ENV_DIR/played.log"
  export SOUND_FIFO="$WINE_ENV_DIR/sound.fifo"
  cat > "$HOME/.asoundrc" <<ASOUND
pcm.!default { type file; slave.pcm "null"; file "$SOUND_FIFO"; format "wav" }
ASOUND
  sound_device_start
  if [ -n "${QUARVEL_WINE_TEMPLATE:-}" ] && [ -d "$QUARVEL_WINE_TEMPLATE" ]; then
    cp -a "$QUARVEL_WINE_TEMPLATE" "$WINEPREFIX"
  else
    wineboot -i >/dev/null 2>&1 || true
  fi
}

wine_env_stop() {
  [ -n "${WINEPREFIX:-}" ] && wineserver -k 2>/dev/null || true
  sound_device_stop
  [ -n "${XVFB_PID:-}" ] && kill "$XVFB_PID" 2>/dev/null || true
  wait "${XVFB_PID:-}" 2>/dev/null || true
  [ -n "${WINE_ENV_DIR:-}" ] && [ -z "${KEEP_WINE_ENV:-}" ] && rm -rf "$WINE_ENV_DIR"
  return 0
}
