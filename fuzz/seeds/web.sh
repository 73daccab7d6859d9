#!/bin/bash
# Seeds for fuzz_web: the movie seeds, each also with a last byte that picks
# 2x smoothing.
set -euo pipefail
OUT=${1:?usage: web.sh CORPUS_DIR}
"$(dirname "$0")/movie.sh" "$OUT"
for f in "$OUT"/*; do
  cp "$f" "$f.smooth" && printf '\003' >> "$f.smooth"
done
