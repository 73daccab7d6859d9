#!/bin/bash
# Runs every libFuzzer target in build/fuzz for SECONDS over its seed corpus
# (made by fuzz/seeds/<name>.sh into build/fuzz/corpus/<name> when present).
# Prints "fuzz ok <name>" or "fuzz FAILED <name>" per target.
set -uo pipefail
ROOT=$(cd "$(dirname "$0")/.." && pwd)
SECONDS_PER_TARGET=${1:-60}
status=0
for bin in "$ROOT"/build/fuzz/bin/fuzz_*; do
  [ -x "$bin" ] || continue
  name=$(basename "$bin"); name=${name#fuzz_}
  corpus="$ROOT/build/fuzz/corpus/$name"
  rm -rf "$corpus"; mkdir -p "$corpus"
  if [ -x "$ROOT/fuzz/seeds/$name.sh" ]; then
    "$ROOT/fuzz/seeds/$name.sh" "$corpus" || echo "seed script for $name failed"
  fi
  artifacts="$ROOT/build/fuzz/artifacts/$name"; mkdir -p "$artifacts"
  if "$bin" -max_total_time="$SECONDS_PER_TARGET" -rss_limit_mb=4096 -timeout=20 \
       -artifact_prefix="$artifacts/" -print_final_stats=1 "$corpus" > "$ROOT/build/fuzz/$name.log" 2>&1; then
    echo "fuzz ok $name"
  else
    echo "fuzz FAILED $name (log: build/fuzz/$name.log)"
    tail -30 "$ROOT/build/fuzz/$name.log"
    status=1
  fi
done
exit $status
