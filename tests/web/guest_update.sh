#!/usr/bin/env bash
# Runs inside the guest kernel (tools/guest/run-in-guest.sh): the page's update through
# Chromium's Web MIDI on the real ALSA sequencer, then tq5-updater's, each against a fresh
# tq5-devsim, each followed by the device's own report of its flash (every region must hold
# its image). Prints both times.
#
# In a guest with a USB MIDI device (run-in-guest.sh --usb-midi --root), the page then tries
# a TQ-5 on USB in front of a 31,250-baud line (tq5-devsim's own USB device through gadgetfs,
# which reads its endpoint at the line's pace), with the kernel's defaults: the browser's
# blocks reach it cut, so none arrives whole, and the page ends with "Time out error(2)" and
# its note on what to change on Linux (guest_page_update.mjs).
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

# The TQ-5 on USB, plugged in before the browser starts: the kernel's own gadget makes way
# for tq5-devsim's.
usb=()
usb_pid=""
gadget=/sys/kernel/config/usb_gadget/tq5
if [ -d "$gadget" ] && [ "$(id -u)" = 0 ]; then
  echo "" >"$gadget/UDC"
  mkdir -p /dev/gadget && mount -t gadgetfs gadgetfs /dev/gadget
  "$devsim" --api usb-gadget --din-timing --state-file "$work/usb.state" >"$work/usb.out" 2>&1 &
  usb_pid=$!
  for _ in $(seq 100); do
    aconnect -o 2>/dev/null | grep -q "'VARN TQ Series MIDI 1'" && break
    sleep 0.2
  done
  SYSTEMD_IGNORE_CHROOT=1 udevadm settle --timeout=30
  usb=("VARN TQ Series MIDI 1" "VARN TQ Series MIDI 1")
fi

# The page, as a user would run it: the device's ports picked in the lists.
start_devsim "VARN TQ Series" || exit 1
if node "$root/tests/web/guest_page_update.mjs" "$site" "$port out" "$port in" "$shots" "${usb[@]}"; then
  check_flash page
else
  failed=1
fi
stop_devsim
if [ -n "$usb_pid" ]; then
  # None of the blocks the page sent reached the device whole.
  kill -USR1 "$usb_pid"
  sleep 2
  grep "^requests:" "$work/usb.state" | sed "s/^/$label: USB device: /"
  grep -q "write-block 0," "$work/usb.state" || { echo "$label: a block reached the USB device whole" >&2; failed=1; }
  kill "$usb_pid"
  wait "$usb_pid"
  umount /dev/gadget
fi

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
