#!/usr/bin/env bash
# The main job: builds tq5-updater with the release preset and runs a firmware update
# against the built-in virtual TQ-5 (no device or MIDI system needed).
set -euo pipefail
cd "$(dirname "$0")/.."

cmake --preset release
cmake --build --preset release --target tq5-updater
build/release/app/cli/tq5-updater --simulate update
