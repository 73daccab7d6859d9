#!/bin/bash
# quarvplay.exe without arguments shows the usage box, exactly, unowned, and
# exits with 0; the self-play area is in the file, empty.
set -u
source "$QUARVEL_ROOT/scripts/wine_env.sh"
source "$(dirname "$0")/usage_expected.sh"
EXE="$QUARVEL_WIN32_BIN/quarvplay.exe"
fail=0

# The tag once, followed by an empty configuration text (216 zero bytes).
offsets=$(grep -obUa SELFPLAY "$EXE" | cut -d: -f1)
if [ "$(echo "$offsets" | wc -w)" != 1 ]; then
  echo "FAIL: tag SELFPLAY found at [$offsets], wanted exactly once"; fail=1
else
  zeros=$(tail -c +$((offsets + 9)) "$EXE" | head -c 216 | tr -d '\0' | wc -c)
  [ "$zeros" = 0 ] || { echo "FAIL: configuration text not empty"; fail=1; }
fi

wine_env_start
trap wine_env_stop EXIT
cd "$WINE_ENV_DIR"
wine "$QUARVEL_WIN32_BIN/boxreader.exe" boxes.txt 1 60000 &
reader=$!
wine "$EXE"
code=$?
wait "$reader"; reader_code=$?

expected_usage_box "(none)" > expected.txt
[ "$code" = 0 ] || { echo "FAIL: exit code $code"; fail=1; }
[ "$reader_code" = 0 ] || { echo "FAIL: no usage box read"; fail=1; }
if ! cmp -s expected.txt boxes.txt; then
  echo "FAIL: usage box differs (expected <, got >; CR as ~, tab as >)"; show_diff expected.txt boxes.txt; fail=1
fi
[ "$fail" = 0 ] && echo "PASS: usage box and exit code 0"
exit "$fail"
