#!/bin/bash
# The conformance movies decoded by the Windows build under Wine (the 32-bit
# one where this machine can start 32-bit processes, else the 64-bit one).
set -u
BIN=${QUARVEL_WIN32_BIN:?}
CORPUS="$QUARVEL_ROOT/../shared/conformance"
[ -d "$CORPUS" ] || { echo "SKIPPED: no conformance movies at $CORPUS"; exit 0; }
source "$QUARVEL_ROOT/scripts/wine_env.sh"
trap wine_env_stop EXIT
wine_env_start
out=$(wine "$BIN/video_decode.exe" "Z:$(cd "$CORPUS" && pwd)" 2>"$WINE_ENV_DIR/wine.err")
rc=$?
out=${out//$'\r'/}  # the console writes CR LF
echo "$out"
[ "$rc" -eq 0 ] || { echo "FAILED: video_decode.exe exited with $rc"; tail -5 "$WINE_ENV_DIR/wine.err"; exit 1; }
grep -qE '^32 passed, 0 failed$' <<<"$out"
