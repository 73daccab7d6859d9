#!/bin/bash
# The player window's key codes: player_keys_gui.exe checks the codes of
# posted messages itself, then this script types real keys (with Shift,
# Ctrl and Alt held) and the program checks the codes they queued.
set -u
source "$QUARVEL_ROOT/scripts/wine_env.sh"
wine_env_start
trap wine_env_stop EXIT
dir="$WINE_ENV_DIR/keys"
mkdir -p "$dir"
wine "$QUARVEL_WIN32_BIN/player_keys_gui.exe" "$(winepath -w "$dir")" &
pid=$!
for _ in $(seq 600); do
  [ -f "$dir/ready.txt" ] && break
  kill -0 "$pid" 2>/dev/null || break
  sleep 0.1
done
if [ -f "$dir/ready.txt" ]; then
  sleep 0.5
  window=$(xdotool search --name '^QuarvPlay$' | head -1)
  [ -n "$window" ] && xdotool windowfocus --sync "$window" 2>/dev/null
  # Modifiers are held down on their own first: the window reads their state
  # when the key arrives, and a combined press can deliver both at once.
  for key in shift+F1 ctrl+F2 shift+Tab alt+F4 space period Return Escape; do
    case "$key" in
      *+*) mod=${key%%+*}; k=${key#*+}
           xdotool keydown "$mod"; sleep 0.3
           xdotool key "$k"; sleep 0.3
           xdotool keyup "$mod" ;;
      *)   xdotool key "$key" ;;
    esac
    sleep 0.3
  done
fi
wait "$pid"
code=$?
cat "$dir/result.txt" 2>/dev/null || echo "(no result file)"
[ "$code" = 0 ] && echo "PASS: player window keys" || echo "FAIL: player window keys (exit $code)"
exit "$code"
