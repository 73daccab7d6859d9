#!/bin/bash
# The full-screen types under Wine: with no DISPDIB driver types 1-3 fail;
# against a stand-in "DisplayDibWindow" class the driver gets its requests
# (codes, byte counts, header, pixels) and activation is passed on.
set -u
source "$QUARVEL_ROOT/scripts/wine_env.sh"
trap wine_env_stop EXIT
wine_env_start 640x480x16
out="$WINE_ENV_DIR/result.txt"
wine "$QUARVEL_WIN32_BIN/dispdib_standin.exe" "$(winepath -w "$out")"
code=$?
cat "$out" 2>/dev/null || echo "(no result file)"
[ "$code" = 0 ] && echo "PASS: full-screen requests"
exit "$code"
