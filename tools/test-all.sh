#!/usr/bin/env bash
# Configures, builds and runs every test: the debug build with ASan+UBSan, the
# ThreadSanitizer build and the release build. Stops at the first failure.
set -euo pipefail
cd "$(dirname "$0")/.."

jobs=$(nproc)
for preset in dev tsan release; do
  echo "=== ${preset}: configure and build"
  cmake --preset "$preset" >/dev/null
  cmake --build --preset "$preset" -j "$jobs"
  echo "=== ${preset}: test"
  ctest --preset "$preset" -j "$jobs"
done
echo "=== all test suites passed"
