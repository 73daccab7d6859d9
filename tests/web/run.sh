#!/bin/bash
# Runs the browser tests (page_test.js) against build/wasm, with movies and
# quarvdump from build/native. Installs the pinned puppeteer-core (its npm
# manifest is in scripts/web-test) into build/web-test first; it downloads no
# browser and drives /usr/bin/chromium.
set -euo pipefail
ROOT=$(cd "$(dirname "$0")/../.." && pwd)
DEPS="$ROOT/build/web-test"
mkdir -p "$DEPS" "$ROOT/build/test-logs"
MANIFEST="$ROOT/scripts/web-test"
if [ ! -d "$DEPS/node_modules" ] || ! cmp -s "$MANIFEST/package-lock.json" "$DEPS/package-lock.json"; then
  cp "$MANIFEST/package.json" "$MANIFEST/package-lock.json" "$DEPS/"
  (cd "$DEPS" && PUPPETEER_SKIP_DOWNLOAD=1 npm ci --no-audit --no-fund --loglevel=error)
fi
NODE_PATH="$DEPS/node_modules" exec node "$ROOT/tests/web/page_test.js"
