#!/bin/bash
# Seeds for fuzz_movie: small writer-made movies (every sound layout, two
# tracks, ring frame, height scalings; made by build/native/bin/soundmovie)
# and the small conformance movies.
set -euo pipefail
OUT=${1:?usage: movie.sh CORPUS_DIR}
ROOT=$(cd "$(dirname "$0")/../.." && pwd)
mkdir -p "$OUT"
while read -r name args; do
  "$ROOT/build/native/bin/soundmovie" write "$OUT/$name.qvl" "$OUT/$name.pcm" $args >/dev/null && rm "$OUT/$name.pcm"
done <<'EOF2'
packed_mono 8000 8 1 packed 8
packed_stereo 6000 16 2 packed 8 15 -1 twotracks
raw_ring 4000 8 1 raw 6 15 -1 ring
raw_stereo 3000 16 2 raw 4 15 -1 ydouble
yinterlace 4000 16 1 packed 4 15 -1 yinterlace
EOF2
CORPUS="$ROOT/../shared/conformance"
if [ -d "$CORPUS" ]; then
  for f in "$CORPUS"/*.qvl; do
    [ "$(stat -c %s "$f")" -le 40000 ] && cp "$f" "$OUT/conf_$(basename "$f")"
  done
fi
exit 0
