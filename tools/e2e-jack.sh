#!/usr/bin/env bash
# End to end over a real MIDI server: a private jackd (dummy backend, its own server name),
# tq5-devsim on it as the TQ-5, and tq5-updater talking to it through JACK with the
# product's own timings. A full update, the version check before and after, the device's own
# report of its flash, then failure paths that end quickly.
#
#   tools/e2e-jack.sh [BUILD_DIR]     (default build/release; holds tq5-updater and tq5-devsim)
#
# MIDI_API=alsa runs the same cases through the ALSA sequencer, where there is one (the
# guest kernel: tools/guest/run-in-guest.sh -- env MIDI_API=alsa tools/e2e-jack.sh).
#
# Only the processes started here are ever signalled, by their pids, also when a case fails
# or the script is interrupted. Logs of a failed run are kept and their folder is printed.
set -uo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-build/release}
case "$build" in /*) ;; *) build="$root/$build" ;; esac
work=$(mktemp -d "${TMPDIR:-/tmp}/tq5-e2e.XXXXXX")
label=e2e
passed=0
failed=0

cleanup() {
  if declare -F stop_session >/dev/null; then stop_session; fi
  if [ "$failed" -eq 0 ]; then
    rm -rf "$work"
  else
    echo "e2e: logs kept in $work" >&2
  fi
}
trap cleanup EXIT
trap 'echo "e2e: interrupted" >&2; failed=$((failed + 1)); exit 130' INT TERM

# shellcheck source=tools/jack-session.sh
source "$root/tools/jack-session.sh"

now() { date +%s.%N; }
seconds_since() { awk -v a="$1" -v b="$(now)" 'BEGIN { printf "%.1f", b - a }'; }

# --- the server ---------------------------------------------------------------------------
# Synchronous mode: a client that is late (a loaded machine, a sanitizer build) delays the
# cycle instead of losing its MIDI.
if [ "$api" = jack ] && ! start_jackd --sync --timeout 5000; then
  failed=1
  exit 1
fi

# --- the updater --------------------------------------------------------------------------
rc=0
out=""
err=""
# run_updater COMMAND: tq5-updater on the device's ports; sets rc, out and err.
run_updater() {
  local name="$work/$port.$1"
  timeout --kill-after=5 300 "$updater" --api "$api" --out "$port in" --in "$port out" "$1" \
    >"$name.out" 2>"$name.err"
  rc=$?
  out=$(cat "$name.out")
  err=$(cat "$name.err")
}

# A problem found by a check; the case fails with the first one.
problem=""
expect() {  # expect DESCRIPTION COMMAND...
  local what=$1
  shift
  if [ -z "$problem" ] && ! "$@"; then problem=$what; fi
}
contains() { [[ "$1" == *"$2"* ]]; }
lacks() { [[ "$1" != *"$2"* ]]; }

run_case() {  # run_case NAME FUNCTION
  local started
  started=$(now)
  problem=""
  "$2"
  stop_devsim
  if [ -z "$problem" ]; then
    passed=$((passed + 1))
    echo "e2e: PASS $1 ($(seconds_since "$started") s)"
  else
    failed=$((failed + 1))
    echo "e2e: FAIL $1: $problem" >&2
    echo "  exit code $rc; stdout:" >&2
    sed 's/^/    /' <<<"$out" >&2
    echo "  stderr:" >&2
    sed 's/^/    /' <<<"$err" >&2
  fi
}

# Every region holds its image, and the three version fields read as the images' own.
flash_holds_images() {
  local report
  report=$(flash_state) || return 1
  [ "$(grep -c ', holds its image$' <<<"$report")" -eq 5 ] || return 1
  # The images' versions, as the version check prints them after the update.
  grep -q "^system version: $image_system\$" <<<"$report" &&
    grep -q "^preset version: $image_preset\$" <<<"$report" &&
    grep -q "^boot version:   $image_boot\$" <<<"$report"
}

image_system=""
image_preset=""
image_boot=""

# --- cases --------------------------------------------------------------------------------

# The whole plan (the device's boot loader is older, so the boot rows run too), with the
# version check before and after.
full_update() {
  start_devsim e2e-full --boot-version 0.90 || { problem="no device"; return; }
  run_updater version
  expect "version before the update exits 0" test "$rc" -eq 0
  # SYSTEM:<tab><tab>device -> image; PRESET and BOOT show the image only when it differs.
  image_system=$(sed -n 's/^SYSTEM:\t\t1\.05 -> //p' <<<"$out")
  image_boot=$(sed -n 's/^BOOT:\t\t0\.90 -> //p' <<<"$out")
  image_preset=$(sed -n 's/^PRESET:\t\t//p' <<<"$out")
  expect "version before shows the device's 1.05 and 0.90 against the images" \
    test -n "$image_system" -a -n "$image_boot" -a -n "$image_preset"

  run_updater update
  expect "update exits 0" test "$rc" -eq 0
  expect "update ends with \"Version update completed.\"" \
    test "${out##*  }" = "Version update completed."
  expect "update shows every row" contains "$out" "10/10"
  expect "update reports no error" lacks "$err" "Error:"

  run_updater version
  expect "version after the update exits 0" test "$rc" -eq 0
  expect "version after shows the images' versions" test "$out" = "$(printf \
    'SYSTEM:\t\t%s -> %s\nPRESET:\t\t%s\nBOOT:\t\t%s' \
    "$image_system" "$image_system" "$image_preset" "$image_boot")"
  expect "every flash region holds its image" flash_holds_images
}

# A device running its firmware refuses the update mode (status 11); nothing is erased.
normal_mode() {
  start_devsim e2e-normal --mode normal || { problem="no device"; return; }
  run_updater update
  expect "exit code 1" test "$rc" -eq 1
  expect "\"Please use the firmware update mode.\"" \
    contains "$err" "Error: Please use the firmware update mode."
  expect "the flash is as the device started" test "$(flash_state)" = "$(cat "$state.start")"
}

# Another model answers the identity request.
unknown_id() {
  start_devsim e2e-unknown --id 6E:00:06:00 || { problem="no device"; return; }
  run_updater update
  expect "update exits 1" test "$rc" -eq 1
  expect "update: \"Illegal device connected.\"" contains "$err" "Error: Illegal device connected."
  run_updater version
  expect "version exits 1" test "$rc" -eq 1
  expect "version: \"Illegal device connected.\"" contains "$err" "Error: Illegal device connected."
  expect "version shows no report" lacks "$out" "SYSTEM:"
}

# The third block is refused three times in a row, then written; one later block's
# acknowledgement is lost and the block is sent again after the 1000 ms wait.
block_retries() {
  start_devsim e2e-retry --fault write-block:3:answer-status:1 \
    --fault write-block:4:answer-status:1 --fault write-block:5:answer-status:1 \
    --fault write-block:40:drop-reply || { problem="no device"; return; }
  run_updater update
  expect "exit code 0" test "$rc" -eq 0
  expect "\"Version update completed.\"" contains "$out" "Version update completed."
  expect "no error shown" lacks "$err" "Error:"
  expect "every flash region holds its image" flash_holds_images
}

# The reply to the first memory read (the system version) carries a wrong CRC: the check
# fails without a report, as soon as the reply is in.
read_crc_error() {
  start_devsim e2e-crc --fault read-memory:1:corrupt-read-crc || { problem="no device"; return; }
  local started
  started=$(now)
  run_updater version
  expect "exit code 1" test "$rc" -eq 1
  expect "no report" lacks "$out" "SYSTEM:"
  expect "no error box" lacks "$err" "Error:"
  expect "says the reads failed" contains "$err" "did not answer the reads of its versions"
  expect "ends well before the 60 s read wait" \
    awk -v s="$(seconds_since "$started")" 'BEGIN { exit !(s < 30) }'
}

run_case "full update, version before and after, flash holds the images" full_update
run_case "device in normal mode: \"Please use the firmware update mode.\"" normal_mode
run_case "unknown device id: \"Illegal device connected.\"" unknown_id
run_case "block refused three times, an acknowledgement lost: update completes" block_retries
run_case "read reply with a bad CRC: no report, exit 1" read_crc_error

echo "e2e: $passed passed, $failed failed"
[ "$failed" -eq 0 ]
