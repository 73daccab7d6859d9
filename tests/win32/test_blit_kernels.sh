#!/bin/bash
# The blitter kernels' equivalence check as a Windows program under Wine.
set -u
BIN=${QUARVEL_WIN32_BIN:?}
source "$QUARVEL_ROOT/scripts/wine_env.sh"
trap wine_env_stop EXIT
wine_env_start
out=$(wine "$BIN/blit_kernels.exe" 2>"$WINE_ENV_DIR/wine.err" | tr -d '\r'; exit "${PIPESTATUS[0]}")
rc=$?
echo "$out"
[ "$rc" -eq 0 ] || { echo "FAILED: blit_kernels.exe exited with $rc"; tail -5 "$WINE_ENV_DIR/wine.err"; exit 1; }
grep -q '^ok mmx Double8$' <<<"$out" || { echo "FAILED: the MMX variant did not run"; exit 1; }
grep -qE '^[1-9][0-9]* passed, 0 failed$' <<<"$out"
