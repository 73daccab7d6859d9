#!/bin/bash
# Installs everything the builds and tests need on Debian 12 (run as root).
# Idempotent: packages already present are not fetched again.
set -euo pipefail

# No general-purpose media framework or codec library may come in, directly
# or through another package: recommends stay out (Wine recommends GStreamer
# plugins), and pulseaudio must not be added (libasound2-plugins brings
# libavcodec). scripts/test_all.sh checks what is installed. libsdl2-dev
# (the native player's window and sound) brings only sound-system client
# libraries along, no codec.
PACKAGES=(
  build-essential cmake ninja-build pkg-config git
  libgtest-dev libgmock-dev googletest libbenchmark-dev
  libpng-dev libimagequant-dev
  clang libclang-rt-14-dev
  g++-mingw-w64-i686 g++-mingw-w64-x86-64-posix mingw-w64-tools
  wine wine32:i386 wine64
  xvfb xauth x11-apps x11-utils xdotool imagemagick
  libsdl2-dev
  python3 cloc
  emscripten node-acorn chromium
)
# npm for the browser tests' driver; the machine's own Node may bring it along.
command -v npm >/dev/null || PACKAGES+=(npm)

missing=()
for p in "${PACKAGES[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$p")
  fi
done

if [ ${#missing[@]} -gt 0 ]; then
  echo "setup: installing ${missing[*]}"
  export DEBIAN_FRONTEND=noninteractive
  if ! dpkg --print-foreign-architectures | grep -qx i386; then
    dpkg --add-architecture i386
  fi
  apt-get update -qq
  apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
fi
echo "setup: all packages present"
