#!/usr/bin/env bash
# The edit-build-test loop: the layer and layout checks, then the dev build (ASan+UBSan) and
# its unit suites (test preset quick: every test but the soak, the random closes and
# interrupts, and the JACK runs, which tools/test-all.sh runs). A few minutes from a fresh
# tree, well under one after a small change.
#
#   tools/quick-test.sh [ctest arguments...]     e.g. -R DeviceUpdate
set -euo pipefail
cd "$(dirname "$0")/.."

bash tools/check-layers.sh
bash tools/check-format.sh
cmake --preset dev >/dev/null
cmake --build --preset dev -j "$(nproc)"
ctest --preset quick -j "$(nproc)" "$@"
