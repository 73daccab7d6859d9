#!/bin/bash
# Runs every libFuzzer target in build/fuzz for SECONDS over its seed corpus
# (made by fuzz/seeds/<name>.sh into build/fuzz/corpus/<name> when present),
# two targets at a time (one per core).
# Prints "fuzz ok <name>" or "fuzz FAILED <name>" per target.
set -uo pipefail
ROOT=$(cd "$(dirname "$0")/.." && pwd)
SECONDS_PER_TARGET=${1:-60}
PARALLEL=${FUZZ_PARALLEL:-2}

run_one() {
  local bin=$1 name corpus artifacts
  name=$(basename "$bin"); name=${name#fuzz_}
  corpus="$ROOT/build/fuzz/corpus/$name"
  rm -rf "$corpus"; mkdir -p "$corpus"
  if [ -x "$ROOT/fuzz/seeds/$name.sh" ]; then
    "$ROOT/fuzz/seeds/$name.sh" "$corpus" >/dev/null 2>&1 || echo "seed script for $name failed"
  fi
  artifacts="$ROOT/build/fuzz/artifacts/$name"; mkdir -p "$artifacts"
  if "$bin" -max_total_time="$SECONDS_PER_TARGET" -rss_limit_mb=4096 -timeout=20 \
       -artifact_prefix="$artifacts/" -print_final_stats=1 "$corpus" > "$ROOT/build/fuzz/$name.log" 2>&1; then
    echo "fuzz ok $name ($(grep -o 'stat::number_of_executed_units: *[0-9]*' "$ROOT/build/fuzz/$name.log" | grep -o '[0-9]*$') runs)"
  else
    echo "fuzz FAILED $name (log: build/fuzz/$name.log)"
    tail -30 "$ROOT/build/fuzz/$name.log"
    return 1
  fi
}

status=0
pids=()
for bin in "$ROOT"/build/fuzz/bin/fuzz_*; do
  [ -x "$bin" ] || continue
  run_one "$bin" > "$ROOT/build/fuzz/$(basename "$bin").result" 2>&1 &
  pids+=($!)
  if [ ${#pids[@]} -ge "$PARALLEL" ]; then
    wait "${pids[0]}" || status=1
    pids=("${pids[@]:1}")
  fi
done
for p in "${pids[@]}"; do wait "$p" || status=1; done
cat "$ROOT"/build/fuzz/fuzz_*.result 2>/dev/null
rm -f "$ROOT"/build/fuzz/fuzz_*.result
exit $status
