#!/bin/bash
# /D: the resolution change's calls, recorded by a stand-in for
# ChangeDisplaySettingsA (Wine cannot change a virtual screen's mode).
set -u
source "$QUARVEL_ROOT/scripts/wine_env.sh"
trap wine_env_stop EXIT
wine_env_start 800x600x24
out="$WINE_ENV_DIR/result.txt"
wine "$QUARVEL_WIN32_BIN/display_mode_standin.exe" "$(winepath -w "$out")"
code=$?
cat "$out" 2>/dev/null || echo "(no result file)"
[ "$code" = 0 ] && echo "PASS: display mode calls"
exit "$code"
