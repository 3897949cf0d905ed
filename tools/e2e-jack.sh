#!/usr/bin/env bash
# End to end over a real MIDI server: a private jackd (dummy backend, its own server name),
# tq5-devsim on it as the TQ-5, and tq5-updater talking to it through JACK with the
# product's own timings. A full update, the version check before and after, the device's own
# report of its flash, then failure paths that end quickly; then, with the server in its
# synchronous and in its asynchronous mode, a link that pollutes, splits, loses and
# duplicates: every such update completes over a flash that holds the images, or fails
# with a clear message, never anything else.
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

# The flash as the device started (its request counts left out).
flash_unchanged() {
  test "$(flash_state | grep -v '^requests:')" = "$(grep -v '^requests:' "$state.start")"
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
  expect "the flash is as the device started" flash_unchanged
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

# --- a faulty link ------------------------------------------------------------------------
# "sync": a server that loses nothing (JACK in its synchronous mode, or the ALSA sequencer).
mode=sync
clean_requests=""  # how often the device saw each request in a clean update

requests_of() { grep '^requests:' <<<"$1"; }

# --fault options for ACTION on every request of every type.
on_every_request() {
  local type
  for type in identity enter-update read-memory erase write-block finish; do
    printf -- '--fault\n%s:0:%s\n' "$type" "$1"
  done
}

# The asynchronous server loses a message now and then (a client late for its cycle): a lost
# identity, erase or finish exchange ends the update with its time-out, as the procedures
# say, and the faults above may hit a message that is lost anyway. What must hold there: a
# success only over a flash that holds the images, a failure always with its message.
never_false_success() {
  case "$rc" in
    0)
      expect "\"Version update completed.\"" contains "$out" "Version update completed."
      expect "success over a flash that holds the images" flash_holds_images
      ;;
    1) expect "a failure with its message" contains "$err" "Error: " ;;
    *) problem="exit code $rc" ;;
  esac
  echo "e2e:   [$mode] $name: exit code $rc${err:+, $(grep -m1 '^Error: ' <<<"$err")}"
}

# The same device as the faulty cases, on a clean link: what they are measured against.
link_clean() {
  local report name=clean
  start_devsim "link-clean-$mode" || { problem="no device"; return; }
  run_updater update
  if [ "$mode" = async ]; then
    never_false_success
    return
  fi
  expect "exit code 0" test "$rc" -eq 0
  expect "every flash region holds its image" flash_holds_images
  report=$(flash_state)
  clean_requests=$(requests_of "$report")
}

# link_rides_out NAME REQUESTS [tq5-devsim options...]: the update completes over the images;
# on the synchronous server, which loses nothing, the device sees the requests of a clean
# update (REQUESTS "clean"), exactly REQUESTS, or any number of them (REQUESTS "any").
link_rides_out() {
  local name=$1 requests=$2 report
  shift 2
  [ "$requests" = clean ] && requests=$clean_requests
  start_devsim "$name-$mode" "$@" || { problem="no device"; return; }
  run_updater update
  if [ "$mode" = async ]; then
    never_false_success
    return
  fi
  expect "exit code 0" test "$rc" -eq 0
  expect "\"Version update completed.\"" contains "$out" "Version update completed."
  expect "no error shown" lacks "$err" "Error:"
  expect "every flash region holds its image" flash_holds_images
  if [ "$mode" = sync ] && [ "$requests" != any ]; then
    report=$(flash_state)
    expect "the device saw $requests" test "$(requests_of "$report")" = "$requests"
  fi
}

# link_fails NAME LINE [tq5-devsim options...]: "Transfer error occurred." and LINE, exit 1.
link_fails() {
  local name=$1 line=$2
  shift 2
  start_devsim "$name-$mode" "$@" || { problem="no device"; return; }
  run_updater update
  if [ "$mode" = async ]; then
    never_false_success
    return
  fi
  expect "exit code 1" test "$rc" -eq 1
  expect "\"Transfer error occurred.\"" contains "$err" "Error: Transfer error occurred."
  expect "says: $line" contains "$err" "$line"
  expect "no completion" lacks "$out" "Version update completed."
}

mapfile -t realtime < <(on_every_request realtime-bytes)
mapfile -t split < <(on_every_request split-reply)
mapfile -t foreign < <(on_every_request foreign-unterminated)
link_realtime() { link_rides_out realtime clean "${realtime[@]}"; }
link_split() { link_rides_out split clean "${split[@]}"; }
link_foreign() { link_rides_out foreign clean "${foreign[@]}"; }
link_lost_block() {
  # One block more than a clean update: the lost one, sent again after its wait.
  local blocks=${clean_requests#*write-block }
  blocks=${blocks%%,*}
  link_rides_out lost "${clean_requests/write-block $blocks/write-block $((blocks + 1))}" \
    --fault write-block:10:lose-request
}
# The unasked notice may come while the check's first read waits, which then reads again.
link_early_completion() { link_rides_out early any --early-completion; }
link_twice() {
  link_fails twice "replies arrived twice" --fault write-block:0:duplicate-reply
}
link_late_copy() {
  link_fails late "replies arrived twice" --fault write-block:5:duplicate-late:30
}
link_unwritten() {
  link_fails unwritten "flash different from image 129 at flash address" \
    --fault write-block:7:answer-status:0
}

run_link_cases() {
  run_case "[$mode] clean update of the same device" link_clean
  run_case "[$mode] clock and active sensing in and around every reply" link_realtime
  run_case "[$mode] every reply in two MIDI events" link_split
  run_case "[$mode] a foreign SysEx without F7 before every reply" link_foreign
  run_case "[$mode] a block lost on the way is sent again" link_lost_block
  run_case "[$mode] completion notice before the finish request" link_early_completion
  run_case "[$mode] every acknowledgement twice: replies arrived twice" link_twice
  run_case "[$mode] one acknowledgement again 30 ms later: replies arrived twice" link_late_copy
  run_case "[$mode] a block acknowledged but never written: the check names it" link_unwritten
}

# The boot loader's version can't be read (its reply has a wrong CRC): the update ends
# without an error box, as the window's does, and says what failed.
boot_read_fails() {
  start_devsim e2e-bootread --fault read-memory:1:corrupt-read-crc || { problem="no device"; return; }
  run_updater update
  expect "exit code 1" test "$rc" -eq 1
  expect "no error box" lacks "$err" "Error:"
  expect "says the boot loader version's read failed" \
    contains "$err" "reading the TQ-5's boot loader version: the answer"
  expect "nothing erased" flash_unchanged
}

run_case "full update, version before and after, flash holds the images" full_update
run_case "device in normal mode: \"Please use the firmware update mode.\"" normal_mode
run_case "unknown device id: \"Illegal device connected.\"" unknown_id
run_case "block refused three times, an acknowledgement lost: update completes" block_retries
run_case "read reply with a bad CRC: no report, exit 1" read_crc_error
run_case "boot loader version unreadable: exit 1, says so" boot_read_fails
run_link_cases
# The same link faults with JACK in its asynchronous mode, where a late client loses MIDI
# instead of holding up the cycle: the procedures' resends cover what it loses.
if [ "$api" = jack ]; then
  mode=async
  stop_pid "$jackd_pid"
  if start_jackd --timeout 5000; then
    run_link_cases
  else
    failed=$((failed + 1))
  fi
fi

echo "e2e: $passed passed, $failed failed"
[ "$failed" -eq 0 ]
