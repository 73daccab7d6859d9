#!/bin/bash
# The test budget: code lines (cloc: no blanks, no comments) of the tests
# (tests/, fuzz/) against the product (the library, back-ends, players,
# writer, tools and the browser page, whose tests are counted too).
# Prints the ratio; exits non-zero above 45%, the most the project allows
# (it aims for a third).
set -euo pipefail
ROOT=$(cd "$(dirname "$0")/.." && pwd)
cd "$ROOT"
PRODUCT=(common movie video sound blit display player writer tools web)
TESTS=(tests fuzz)
LIMIT=${LINE_COUNT_LIMIT:-45}

count() {
  cloc --quiet --csv "$@" 2>/dev/null | awk -F, '$2=="SUM"{print $5}'
}
product=$(count "${PRODUCT[@]}")
tests=$(count "${TESTS[@]}")
percent=$(awk -v t="$tests" -v p="$product" 'BEGIN { printf "%.1f", 100 * t / p }')
echo "line count: product $product lines, tests $tests lines, tests are ${percent}% of the product (limit ${LIMIT}%)"
awk -v t="$tests" -v p="$product" -v l="$LIMIT" 'BEGIN { exit !(100 * t <= l * p) }'
