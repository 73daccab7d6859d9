#!/bin/bash
# The blitter kernels' equivalence check as a 32-bit program under Wine.
set -u
BIN=${QUARVEL_WIN32_BIN:?}
source "$QUARVEL_ROOT/scripts/wine_env.sh"
trap wine_env_stop EXIT
wine_env_start
out=$(wine "$BIN/blit_kernels.exe" 2>"$WINE_ENV_DIR/wine.err")
rc=$?
echo "$out"
if [ "$rc" -ne 0 ] && grep -q "Exec format error" "$WINE_ENV_DIR/wine.err"; then
  echo "SKIPPED: Wine cannot start 32-bit programs on this machine"
  exit 77
fi
[ "$rc" -eq 0 ] || { echo "FAILED: blit_kernels.exe exited with $rc"; tail -5 "$WINE_ENV_DIR/wine.err"; exit 1; }
grep -q '^ok mmx Double8$' <<<"$out" || { echo "FAILED: the MMX variant did not run"; exit 1; }
grep -qE '^[1-9][0-9]* passed, 0 failed$' <<<"$out"
