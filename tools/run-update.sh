#!/usr/bin/env bash
# The main job: builds tq5-updater with the release preset and runs a firmware update. When a
# TQ-5 is connected (`tq5-updater ports` marks a default input and output: its preferred
# names, or the one TQ-5 that answered) the update runs on it; otherwise it runs against the
# built-in virtual TQ-5, so no device or MIDI system is needed.
set -euo pipefail
cd "$(dirname "$0")/.."

cmake --preset release >/dev/null
cmake --build --preset release --target tq5-updater
updater=build/release/app/cli/tq5-updater

inputs_and_outputs=$("$updater" ports 2>/dev/null || true)
if [ "$(grep -c 'default\]$' <<<"$inputs_and_outputs")" -ge 2 ]; then
  echo "run-update: updating the TQ-5 on its MIDI ports"
  exec "$updater" update
fi
echo "run-update: no TQ-5 on the MIDI ports; updating the built-in virtual TQ-5"
exec "$updater" --simulate update
