#!/usr/bin/env bash
# End to end over a real MIDI server: a private jackd (dummy backend, its own server name),
# tq5-devsim on it as the TQ-5, and tq5-updater talking to it through JACK with the
# product's own timings. A full update, the version check before and after, the device's own
# report of its flash, then failure paths that end quickly.
#
#   tools/e2e-jack.sh [BUILD_DIR]     (default build/release; holds tq5-updater and tq5-devsim)
#
# Only the processes started here are ever signalled, by their pids, also when a case fails
# or the script is interrupted. Logs of a failed run are kept and their folder is printed.
set -uo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-build/release}
case "$build" in /*) ;; *) build="$root/$build" ;; esac
updater="$build/app/cli/tq5-updater"
devsim="$build/sim/devsim/tq5-devsim"
for program in "$updater" "$devsim"; do
  if [ ! -x "$program" ]; then
    echo "e2e: $program is missing; build the targets tq5-updater and tq5-devsim in $build" >&2
    exit 2
  fi
done
jackd=$(command -v jackd || true)
if [ -z "$jackd" ]; then
  echo "e2e: jackd is not installed (Debian package jackd2)" >&2
  exit 2
fi

work=$(mktemp -d "${TMPDIR:-/tmp}/tq5-e2e.XXXXXX")
# The private server, found by name by every client started from here; instance locks of
# our own, so that other updaters on the machine do not change our instance number.
export JACK_DEFAULT_SERVER="tq5-e2e-$$"
export JACK_NO_START_SERVER=1
export JACK_NO_AUDIO_RESERVATION=1
export XDG_RUNTIME_DIR="$work"

jackd_pid=""
devsim_pid=""
passed=0
failed=0

# SIGTERM to one pid of ours, SIGKILL if it has not ended within five seconds.
stop_pid() {
  local pid=$1
  [ -n "$pid" ] || return 0
  kill -TERM "$pid" 2>/dev/null || return 0
  for _ in $(seq 50); do
    kill -0 "$pid" 2>/dev/null || break
    sleep 0.1
  done
  kill -KILL "$pid" 2>/dev/null
  wait "$pid" 2>/dev/null
  return 0
}

cleanup() {
  stop_pid "$devsim_pid"
  devsim_pid=""
  stop_pid "$jackd_pid"
  jackd_pid=""
  if [ "$failed" -eq 0 ] && [ "$passed" -gt 0 ]; then
    rm -rf "$work"
  else
    echo "e2e: logs kept in $work" >&2
  fi
}
trap cleanup EXIT
trap 'echo "e2e: interrupted" >&2; failed=$((failed + 1)); exit 130' INT TERM

now() { date +%s.%N; }
seconds_since() { awk -v a="$1" -v b="$(now)" 'BEGIN { printf "%.1f", b - a }'; }

# --- the server ---------------------------------------------------------------------------
# Synchronous mode: a client that is late (a loaded machine, a sanitizer build) delays the
# cycle instead of losing its MIDI. 64 frames at 48 kHz: a period of 1.33 ms.
"$jackd" --no-realtime --sync --name "$JACK_DEFAULT_SERVER" --timeout 5000 \
  -d dummy -r 48000 -p 64 >"$work/jackd.log" 2>&1 &
jackd_pid=$!
up=0
for _ in $(seq 100); do
  kill -0 "$jackd_pid" 2>/dev/null || break
  if "$updater" --api jack ports 2>/dev/null | grep -q "^MIDI system: JACK"; then
    up=1
    break
  fi
  sleep 0.1
done
if [ "$up" -ne 1 ]; then
  echo "e2e: jackd did not come up:" >&2
  cat "$work/jackd.log" >&2
  failed=1
  exit 1
fi

# --- the device -----------------------------------------------------------------------------
port=""   # the device's port name of the case in progress
state=""  # its state file

# start_devsim NAME [tq5-devsim options...]: the virtual TQ-5 with ports "NAME in"/"NAME out".
start_devsim() {
  port=$1
  shift
  state="$work/$port.state"
  "$devsim" --api jack --client-name "$port" --port-name "$port" --state-file "$state" "$@" \
    >"$work/$port.devsim.out" 2>"$work/$port.devsim.err" &
  devsim_pid=$!
  for _ in $(seq 100); do
    if grep -qx "tq5-devsim ready" "$work/$port.devsim.out" 2>/dev/null; then
      cp "$state" "$state.start"  # written before "ready": the flash as the device started
      return 0
    fi
    kill -0 "$devsim_pid" 2>/dev/null || break
    sleep 0.1
  done
  echo "tq5-devsim did not get ready: $(cat "$work/$port.devsim.err")"
  return 1
}

stop_devsim() {
  stop_pid "$devsim_pid"
  devsim_pid=""
}

# Asks the device for its flash report (SIGUSR1) and prints it once the file is rewritten.
flash_state() {
  rm -f "$state"
  kill -USR1 "$devsim_pid" 2>/dev/null || return 1
  for _ in $(seq 100); do
    if [ -s "$state" ]; then
      cat "$state"
      return 0
    fi
    sleep 0.1
  done
  return 1
}

# --- the updater --------------------------------------------------------------------------
rc=0
out=""
err=""
# run_updater COMMAND: tq5-updater on the device's ports; sets rc, out and err.
run_updater() {
  local name="$work/$port.$1"
  timeout --kill-after=5 300 "$updater" --api jack --out "$port in" --in "$port out" "$1" \
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
