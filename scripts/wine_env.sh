#!/bin/bash
# Sourced by the Win32 tests and the main job: a private X server, Wine
# prefix and ALSA file device per run, and the choice of Wine (32 or 64 bit).
#   wine_env_start [SCREEN]   e.g. 800x600x24 (default) or 640x480x16
#   wine_env_stop
# After start: DISPLAY, WINEPREFIX, HOME, WINE_ENV_DIR and SOUND_FILE (the WAV that
# the ALSA default device records) are set. A prepared prefix in
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
  export SOUND_FILE="$WINE_ENV_DIR/played.wav"
  cat > "$HOME/.asoundrc" <<ASOUND
pcm.!default { type file; slave.pcm "null"; file "$SOUND_FILE"; format "wav" }
ASOUND
  if [ -n "${QUARVEL_WINE_TEMPLATE:-}" ] && [ -d "$QUARVEL_WINE_TEMPLATE" ]; then
    cp -a "$QUARVEL_WINE_TEMPLATE" "$WINEPREFIX"
  else
    wineboot -i >/dev/null 2>&1 || true
  fi
}

wine_env_stop() {
  [ -n "${WINEPREFIX:-}" ] && wineserver -k 2>/dev/null || true
  [ -n "${XVFB_PID:-}" ] && kill "$XVFB_PID" 2>/dev/null || true
  wait "${XVFB_PID:-}" 2>/dev/null || true
  [ -n "${WINE_ENV_DIR:-}" ] && [ -z "${KEEP_WINE_ENV:-}" ] && rm -rf "$WINE_ENV_DIR"
  return 0
}
