#!/usr/bin/env bash
# Runs inside the guest kernel (tools/guest/run-in-guest.sh): the page's update through
# Chromium's Web MIDI on the real ALSA sequencer, then tq5-updater's, each against a fresh
# tq5-devsim, each followed by the device's own report of its flash (every region must hold
# its image). Prints both times.
#
#   tests/web/guest_update.sh SITE_FOLDER NATIVE_BUILD_DIR SCREENSHOT_FOLDER
set -uo pipefail

root=$(cd "$(dirname "$0")/../.." && pwd)
site=$1
build=$2
shots=$3
label=guest-web
work=$(mktemp -d "${TMPDIR:-/tmp}/tq5-guest-web.XXXXXX")
export MIDI_API=alsa
# shellcheck source=tools/jack-session.sh
source "$root/tools/jack-session.sh"
trap 'stop_session; rm -rf "$work"' EXIT

now() { date +%s.%N; }
seconds_since() { awk -v a="$1" -v b="$(now)" 'BEGIN { printf "%.1f", b - a }'; }

for needed in "$site/index.html" "$site/tq5-updater.wasm" "$root/tests/web/node_modules/playwright-core"; do
  if [ ! -e "$needed" ]; then
    echo "$label: $needed is missing; run tools/web-test.sh first (it builds the page)" >&2
    exit 2
  fi
done

failed=0
check_flash() {  # check_flash WHO
  local report
  report=$(flash_state) || { echo "$label: $1: no flash report" >&2; failed=1; return; }
  echo "$report" | sed "s/^/$label: $1: /"
  if [ "$(grep -c ', holds its image$' <<<"$report")" -ne 5 ] ||
     ! grep -q '^system version: 1.10$' <<<"$report"; then
    echo "$label: $1: the flash does not hold the images" >&2
    failed=1
  fi
}

# The page, as a user would run it: the device's ports picked in the lists.
start_devsim "VARN TQ Series" || exit 1
if node "$root/tests/web/guest_page_update.mjs" "$site" "$port out" "$port in" "$shots"; then
  check_flash page
else
  failed=1
fi
stop_devsim

# tq5-updater in the same guest, against a fresh device.
start_devsim "TQ-5 CLI" || exit 1
started=$(now)
if "$updater" --api alsa --in "$port out" --out "$port in" update; then
  echo "$label: tq5-updater: update completed in $(seconds_since "$started") s"
  check_flash tq5-updater
else
  echo "$label: tq5-updater: the update failed" >&2
  failed=1
fi
stop_devsim
exit "$failed"
