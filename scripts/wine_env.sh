#!/bin/bash
# Sourced by the Win32 tests and the main job: a private X server, Wine
# prefix and sound device per run, and the choice of Wine (32 or 64 bit).
# The X server and the sound device are scripts/x_sound_env.sh's.
#   wine_env_start [SCREEN]   e.g. 800x600x24 (default) or 640x480x16
#   wine_env_stop
#   sound_device_stop / sound_device_start   (see below)
# After start: DISPLAY, WINEPREFIX, HOME and WINE_ENV_DIR are set, and the
# ALSA default device plays in real time into tests/support/sound_device.py,
# which leaves SOUND_FILE (the WAV it played) and SOUND_LOG (when each stream
# started and how far it had got, by the wall clock) once stopped. A prepared prefix in
# QUARVEL_WINE_TEMPLATE (made by wine_env_template) is copied instead of
# booting a new one, which saves about ten seconds a test.
source "$(dirname "${BASH_SOURCE[0]}")/x_sound_env.sh"

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
  x_env_start "$@"
  WINE_ENV_DIR=$X_ENV_DIR
  wine_use_bits "$WINE_ENV_DIR/bin"
  export WINEPREFIX="$WINE_ENV_DIR/prefix"
  export WINEDEBUG=${WINEDEBUG:--all}
  if [ -n "${QUARVEL_WINE_TEMPLATE:-}" ] && [ -d "$QUARVEL_WINE_TEMPLATE" ]; then
    cp -a "$QUARVEL_WINE_TEMPLATE" "$WINEPREFIX"
  else
    wineboot -i >/dev/null 2>&1 || true
  fi
}

wine_env_stop() {
  [ -n "${WINEPREFIX:-}" ] && wineserver -k 2>/dev/null || true
  x_env_stop
}
