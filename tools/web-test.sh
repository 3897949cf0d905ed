#!/usr/bin/env bash
# Builds the updater's page (preset "web": Debian's emscripten) and runs its browser tests in
# Debian's chromium, headless, driven by playwright-core (tests/web). Screenshots of every
# state the tests reach are left in build/web/screenshots.
#
#   tools/web-test.sh [--build-only]     (--build-only: the page and playwright-core, no tests)
set -euo pipefail
cd "$(dirname "$0")/.."

echo "=== web: configure and build (preset web)"
cmake --preset web >/dev/null
cmake --build --preset web -j "${TQ5_WEB_JOBS:-2}"
if [ ! -d tests/web/node_modules/playwright-core ]; then
  (cd tests/web && npm ci --no-audit --no-fund --loglevel=error)
fi
[ "${1:-}" != --build-only ] || exit 0
echo "=== web: the page in headless chromium"
node --test tests/web/browser_test.mjs
echo "=== web: the page is build/web/site (tools/serve-web.sh serves it); screenshots in build/web/screenshots"
