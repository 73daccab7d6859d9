#!/bin/bash
# Seeds for the video fuzz target: the conformance movies whole, and cut
# short at a few places (inside the tree block, inside the records).
set -euo pipefail
OUT=${1:?usage: video.sh CORPUS_DIR}
ROOT=$(cd "$(dirname "$0")/../.." && pwd)
CORPUS="$ROOT/../shared/conformance"
mkdir -p "$OUT"
[ -d "$CORPUS" ] || exit 0
for f in "$CORPUS"/*.qvl; do
  name=$(basename "$f" .qvl)
  size=$(stat -c %s "$f")
  # The large ones only as slices, so each run stays quick.
  if [ "$size" -le 40000 ]; then
    cp "$f" "$OUT/$name"
    # The same movie into other targets (the header's last word picks them).
    for m in 05 0a 1e 46 3b; do
      cp "$f" "$OUT/$name.mode$m"
      printf "\\x$m" | dd of="$OUT/$name.mode$m" bs=1 seek=100 conv=notrunc status=none
    done
  fi
  for cut in 200 700 1500 4000; do
    if [ "$cut" -lt "$size" ]; then head -c "$cut" "$f" > "$OUT/$name.cut$cut"; fi
  done
done
