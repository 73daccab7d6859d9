#!/bin/bash
# A repeated switch (/X10 /X20 a) leaves a "/" behind: the usage box, exit 0.
# A command line longer than its 256-byte buffer is refused the same way.
set -u
source "$QUARVEL_ROOT/scripts/wine_env.sh"
source "$(dirname "$0")/usage_expected.sh"
EXE="$QUARVEL_WIN32_BIN/quarvplay.exe"
fail=0

wine_env_start
trap wine_env_stop EXIT
cd "$WINE_ENV_DIR"
expected_usage_box "(none)" > expected.txt

check_usage() {  # description, arguments...
  local what=$1; shift
  rm -f boxes.txt
  wine "$QUARVEL_WIN32_BIN/boxreader.exe" boxes.txt 1 60000 &
  local reader=$!
  wine "$EXE" "$@"
  local code=$?
  wait "$reader"
  [ "$code" = 0 ] || { echo "FAIL ($what): exit code $code"; fail=1; }
  if ! cmp -s expected.txt boxes.txt; then
    echo "FAIL ($what): usage box differs or missing"; show_diff expected.txt boxes.txt; fail=1
  fi
}

check_usage "repeated switch" /X10 /X20 a
check_usage "unknown switch" /Y5 /% clip
check_usage "overlong command line" "$(printf 'n%.0s' $(seq 300))"

[ "$fail" = 0 ] && echo "PASS: usage box for bad switches and an overlong line"
exit "$fail"
