#!/bin/bash
# Builds one or more configurations: native, asan, win32, win64, fuzz, wasm (default: native win32).
#   native -> build/native   (executables in build/native/bin)
#   asan   -> build/asan     (AddressSanitizer + UndefinedBehaviorSanitizer)
#   win32  -> build/win32    (build/win32/bin/quarvplay.exe, the product)
#   win64  -> build/win64    (the same sources as 64-bit Windows programs: the
#                             Windows tests run these where 32-bit processes cannot start)
#   fuzz   -> build/fuzz     (clang, libFuzzer + ASan + UBSan)
#   wasm   -> build/wasm     (emscripten: quarvel_web.js and the page, index.html)
set -euo pipefail
ROOT=$(cd "$(dirname "$0")/.." && pwd)
cd "$ROOT"
JOBS=${JOBS:-$(nproc)}
configs=("$@")
[ ${#configs[@]} -eq 0 ] && configs=(native win32)

for c in "${configs[@]}"; do
  case "$c" in
    native) cmake -S . -B build/native -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null ;;
    asan)   cmake -S . -B build/asan -G Ninja -DCMAKE_BUILD_TYPE=Debug -DQUARVEL_SANITIZE=ON >/dev/null ;;
    win32)  cmake -S . -B build/win32 -G Ninja -DCMAKE_BUILD_TYPE=Release \
              -DCMAKE_TOOLCHAIN_FILE="$ROOT/cmake/mingw-i686.cmake" >/dev/null ;;
    win64)  cmake -S . -B build/win64 -G Ninja -DCMAKE_BUILD_TYPE=Release \
              -DCMAKE_TOOLCHAIN_FILE="$ROOT/cmake/mingw-x86_64.cmake" >/dev/null ;;
    fuzz)   CC=clang CXX=clang++ cmake -S . -B build/fuzz -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
              -DQUARVEL_SANITIZE=ON -DQUARVEL_FUZZ=ON >/dev/null ;;
    # Debian's emscripten runs its optimiser under node, which needs acorn.
    wasm)   export NODE_PATH=/usr/share/nodejs
            emcmake cmake -S web -B build/wasm -G Ninja -DCMAKE_BUILD_TYPE=Release >/dev/null ;;
    *) echo "build.sh: unknown configuration '$c'" >&2; exit 2 ;;
  esac
  echo "build: $c"
  if [ "$c" = fuzz ]; then
    targets=$(cd build/fuzz && ninja -t targets all | sed -n 's/^\(fuzz_[a-z0-9_]*\): .*/\1/p' | sort -u)
    [ -n "$targets" ] && cmake --build build/fuzz -j "$JOBS" --target $targets
  else
    cmake --build "build/$c" -j "$JOBS"
  fi
done
