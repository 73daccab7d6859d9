#!/bin/bash
# Seeds for the video fuzz target: the conformance movies whole, also with
# the header's last word picking other targets, and cut short at a few
# places (inside the tree block, inside the records).
set -euo pipefail
OUT=${1:?usage: video.sh CORPUS_DIR}
CORPUS="$(dirname "$0")/../../../shared/conformance"
mkdir -p "$OUT"
for f in "$CORPUS"/*.qvl; do
  [ -f "$f" ] || continue
  name=$(basename "$f" .qvl)
  size=$(stat -c %s "$f")
  for m in $([ "$size" -le 40000 ] && echo as-is 05 0a 1e 46 3b); do  # the large ones only as slices: quick runs
    cp "$f" "$OUT/$name.$m"
    [ "$m" = as-is ] || printf "\\x$m" | dd of="$OUT/$name.$m" bs=1 seek=100 conv=notrunc status=none
  done
  for cut in 200 700 1500 4000; do
    [ "$cut" -ge "$size" ] || head -c "$cut" "$f" > "$OUT/$name.cut$cut"
  done
done
