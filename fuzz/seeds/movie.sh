#!/bin/bash
# Seeds for fuzz_movie: small writer-made movies (every sound layout, ring
# frame, height scaling; made by build/native/bin/movie_seeds) and the small
# conformance movies.
set -euo pipefail
OUT=${1:?usage: movie.sh CORPUS_DIR}
ROOT=$(cd "$(dirname "$0")/../.." && pwd)
mkdir -p "$OUT"
if [ -x "$ROOT/build/native/bin/movie_seeds" ]; then
  "$ROOT/build/native/bin/movie_seeds" "$OUT"
fi
CORPUS="$ROOT/../shared/conformance"
if [ -d "$CORPUS" ]; then
  for f in "$CORPUS"/*.qvl; do
    [ "$(stat -c %s "$f")" -le 40000 ] && cp "$f" "$OUT/conf_$(basename "$f")"
  done
fi
exit 0
