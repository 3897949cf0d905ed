#!/usr/bin/env bash
# Configures, builds and runs every test suite, stopping at the first failure:
#   layers   protocol/, engine/, midi/ and sim/ include nothing above them (tools/check-layers.sh)
#   format   every C++ source as .clang-format lays it out (tools/check-format.sh)
#   dev      Debug with ASan+UBSan       (unit, engine, device, transport, dialog, CLI, JACK)
#   tsan     ThreadSanitizer             (the same suites)
#   release  Release                     (the same suites, the soak test, the benchmarks build)
#   win      mingw-w64 cross build, tests and the dialog window under Wine and Xvfb
#   fuzz     libFuzzer targets, FUZZ_SECONDS each (default 60)
#   e2e      tq5-updater against tq5-devsim through a private jackd
#   package  the .deb and the .zip built (tools/package.sh) and checked (tools/package-test.sh)
#   web      the page (emscripten) in headless chromium against its virtual TQ-5
#   guest    in a guest kernel with the real ALSA sequencer (tools/guest/): the ALSA driver,
#            tq5-updater against tq5-devsim, Updater.exe under Wine on WinMM, the page in
#            chromium over Web MIDI (ctest label guest; after win and web, whose builds it runs)
set -euo pipefail
cd "$(dirname "$0")/.."

jobs=$(nproc)
passed=0

echo "=== layers: the includes of protocol/, engine/, midi/ and sim/"
bash tools/check-layers.sh
passed=$((passed + 1))

echo "=== format: clang-format --dry-run --Werror over the tree"
bash tools/check-format.sh
passed=$((passed + 1))

for preset in dev tsan release; do
  echo "=== ${preset}: configure and build"
  cmake --preset "$preset" >/dev/null
  cmake --build --preset "$preset" -j "$jobs"
  echo "=== ${preset}: test"
  ctest --preset "$preset" -j "$jobs"
  passed=$((passed + 1))
done

echo "=== win: cross build and Wine"
bash tools/win-test.sh
passed=$((passed + 1))

echo "=== fuzz"
bash tools/fuzz.sh
passed=$((passed + 1))

echo "=== e2e: tq5-updater against tq5-devsim through a private jackd"
bash tools/e2e-jack.sh build/release
passed=$((passed + 1))

echo "=== package: build the .deb and the .zip, then check them"
bash tools/package.sh
bash tools/package-test.sh
passed=$((passed + 1))

echo "=== web: the page in headless chromium"
bash tools/web-test.sh
passed=$((passed + 1))

echo "=== guest: the ALSA sequencer, Updater.exe's WinMM and the page's Web MIDI in a guest kernel"
ctest --preset guest
passed=$((passed + 1))

echo "=== all test suites passed"
echo "suites: ${passed} passed, 0 failed"
