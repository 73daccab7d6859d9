#!/bin/bash
# The speed figures in one run: builds the native benchmark programs and runs
# bench_figures, which times frame decoding, sound unpacking and the smoothing
# and doubling kernels, each next to a memcpy of the same output bytes, in
# interleaved rounds, and prints the medians. Arguments go to bench_figures
# (for example --rounds 9). The per-kernel and per-layout programs
# (bench_blit, bench_decode, bench_sound_unpack, bench_encode) are built too.
set -euo pipefail
ROOT=$(cd "$(dirname "$0")/.." && pwd)
cd "$ROOT"
cmake -S . -B build/native -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
if ! cmake --build build/native -j "${JOBS:-2}" --target bench_figures bench_blit bench_decode bench_sound_unpack >/dev/null; then
  echo "bench.sh: the build failed (is libbenchmark-dev installed? bash scripts/setup.sh)" >&2
  exit 1
fi
echo "$(uname -m), $(nproc) processors, load average: $(cut -d' ' -f1-3 /proc/loadavg)"
exec build/native/bin/bench_figures "$@"
