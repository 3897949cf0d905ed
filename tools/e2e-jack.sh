#!/usr/bin/env bash
# End to end over a real MIDI server: a private jackd (dummy backend, its own server name),
# tq5-devsim on it as the TQ-5, and tq5-updater talking to it through JACK with the
# product's own timings. A full update, the version check before and after, the device's own
# report of its flash, failure paths that end quickly; then, with the server in its
# synchronous and in its asynchronous mode, a link that pollutes, splits, loses and
# duplicates: every such update completes over a flash that holds the images, or fails
# with a clear message, never anything else. Last, the server dying during an erase and
# during writing (the updater's end, and its CPU while it waits), Ctrl-C at random moments
# after the server died, and twenty updaters on one server interrupted at once. In between,
# devices that serve reads in their own ways (refused above a size, in pieces, slowly, not
# at all above a size, none but the boot version's) and one that writes only over erased
# flash: each update completes, its flash read back wherever a read size works.
#
#   tools/e2e-jack.sh [BUILD_DIR]     (default build/release; holds tq5-updater and tq5-devsim)
#
# With JACK the cases run in four parts side by side, each with a server of its own, since
# most of their time is the product's own waits, not work: "main" (the cases above the
# server's death, the link on the synchronous server, the server dying while writing, twenty
# updaters), "reads" (the read-back check's faults, mostly a device's slow or missing answers),
# "server-death" (the server dying during an erase, whose 60 s wait runs out, and
# Ctrl-C after it died) and "async" (the link on the asynchronous server, where a lost
# message costs a 30 s or 60 s wait). E2E_PART=<part> runs one part alone.
#
# MIDI_API=alsa runs the cases that need no server of their own through the ALSA sequencer,
# where there is one (the guest kernel: tools/guest/run-in-guest.sh -- env MIDI_API=alsa
# tools/e2e-jack.sh), in one part.
#
# Only the processes started here are ever signalled, by their pids, also when a case fails
# or the script is interrupted. Logs of a failed run are kept and their folder is printed.
set -uo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-build/release}
case "$build" in /*) ;; *) build="$root/$build" ;; esac
part=${E2E_PART:-}

# The parts side by side, each this script again; their reports in order, then the sum.
if [ -z "$part" ] && [ "${MIDI_API:-jack}" = jack ]; then
  parts=(main reads server-death async)
  reports=$(mktemp -d "${TMPDIR:-/tmp}/tq5-e2e-parts.XXXXXX")
  pids=()
  stop_parts() {
    for pid in "${pids[@]}"; do kill -TERM "$pid" 2>/dev/null; done
    wait
  }
  trap 'stop_parts; rm -rf "$reports"; exit 130' INT TERM
  # One after another once the last one's server answers: JACK clients that open while
  # several servers start at once on a busy machine have been told that none is running.
  for p in "${parts[@]}"; do
    E2E_PART=$p E2E_READY="$reports/$p.ready" bash "$0" "$build" >"$reports/$p" 2>&1 &
    pids+=($!)
    for _ in $(seq 300); do
      [ -e "$reports/$p.ready" ] && break
      kill -0 "${pids[-1]}" 2>/dev/null || break
      sleep 0.1
    done
  done
  passed=0
  failed=0
  for i in "${!parts[@]}"; do
    wait "${pids[$i]}" || failed=$((failed + 1))
    echo "e2e: --- part ${parts[$i]}"
    cat "$reports/${parts[$i]}"
    sum=$(sed -n 's/^e2e: \([0-9]*\) passed, \([0-9]*\) failed$/\1 \2/p' "$reports/${parts[$i]}")
    [ -n "$sum" ] || sum="0 1"  # the part ended before its count
    passed=$((passed + ${sum% *}))
    failed=$((failed + ${sum#* }))
  done
  rm -rf "$reports"
  echo "e2e: ${#parts[@]} parts side by side: $passed passed, $failed failed"
  [ "$failed" -eq 0 ]
  exit
fi

work=$(mktemp -d "${TMPDIR:-/tmp}/tq5-e2e.XXXXXX")
export XDG_STATE_HOME="$work/state"  # the reports of failed updates stay with the run
label=e2e${part:+-$part}
passed=0
failed=0

others=()  # more programs of ours that a case runs at once; ended with the session
cleanup() {
  for pid in "${others[@]}"; do kill -KILL "$pid" 2>/dev/null; done
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
# cycle instead of losing its MIDI. The part "async" wants the other mode.
jackd_mode=(--sync)
[ "$part" = async ] && jackd_mode=()
if [ "$api" = jack ] && ! start_jackd "${jackd_mode[@]}" --timeout 5000; then
  failed=1
  exit 1
fi
[ -z "${E2E_READY:-}" ] || touch "$E2E_READY"

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

# start_updater COMMAND [options...]: tq5-updater in the background on the device's ports;
# sets upd_pid, upd_out and upd_err (its logs).
start_updater() {
  local command=$1
  shift
  upd_out="$work/$port.$command.out"
  upd_err="$work/$port.$command.err"
  "$updater" --api jack --out "$port in" --in "$port out" "$@" "$command" \
    >"$upd_out" 2>"$upd_err" &
  upd_pid=$!
}

# wait_for_line TEXT SECONDS: true once the updater's stdout holds a line starting with TEXT.
wait_for_line() {
  for _ in $(seq "$(($2 * 10))"); do
    grep -q "^$1" "$upd_out" 2>/dev/null && return 0
    kill -0 "$upd_pid" 2>/dev/null || return 1
    sleep 0.1
  done
  return 1
}

# CPU time of a process so far, in clock ticks (utime + stime of /proc/PID/stat).
cpu_ticks() {
  sed 's/.*) //' "/proc/$1/stat" 2>/dev/null | awk '{ print $12 + $13 }'
}

# await_updater SINCE BOUND: waits up to BOUND seconds for the updater to end, sampling its
# CPU time; sets rc, out, err, seconds (from SINCE, a `now`) and cpu (% of one core from
# SINCE to the last sample before its end).
await_updater() {
  local since=$1 bound=$2 first last ticks sampled=""
  first=$(cpu_ticks "$upd_pid")
  last=$first
  while kill -0 "$upd_pid" 2>/dev/null; do
    if [ "$(seconds_since "$since" | cut -d. -f1)" -ge "$bound" ]; then
      kill -KILL "$upd_pid"
      break
    fi
    ticks=$(cpu_ticks "$upd_pid")
    if [ -n "$ticks" ]; then
      last=$ticks
      sampled=$(now)
    fi
    sleep 0.05
  done
  wait "$upd_pid"
  rc=$?
  seconds=$(seconds_since "$since")
  cpu=0
  if [ -n "$sampled" ] && [ -n "$first" ]; then
    cpu=$(awk -v t="$((last - first))" -v hz="$(getconf CLK_TCK)" -v a="$since" -v b="$sampled" \
      'BEGIN { printf "%.1f", (b - a > 0.5) ? 100 * t / hz / (b - a) : 0 }')
  fi
  out=$(cat "$upd_out")
  err=$(cat "$upd_err")
}

below() { awk -v a="$1" -v b="$2" 'BEGIN { exit !(a < b) }'; }

figures=()  # measured figures, printed at the end

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

# The carried images' versions as `tq5-updater --version` names them; the full update reads
# them again from the version check.
read -r image_system image_preset image_boot < <("$updater" --version |
  sed -n 's/^Firmware images: system \([^,]*\), preset \([^,]*\), boot \(.*\)$/\1 \2 \3/p')

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

# The server dies while the device erases (its answer to the first erase would come 20 s
# late): the erase's 60 s wait runs out with "Time out error(3)" and exit code 1. Its CPU
# while it waits is printed with the figures: a bound on it fails on a busy machine.
server_dies_erasing() {
  start_devsim e2e-erase --fault erase:1:delay-reply:20000 || { problem="no device"; return; }
  start_updater update
  wait_for_line "1/10  erasing " 60 || { problem="no erase began"; return; }
  sleep 1
  kill_jackd
  local killed
  killed=$(now)
  await_updater "$killed" 90
  start_jackd || { problem="jackd did not come up again"; return; }
  expect "exit code 1" test "$rc" -eq 1
  expect "\"Time out error(3)\"" contains "$err" "Error: Time out error(3)"
  expect "ends within the erase wait plus 10 s ($seconds s)" below "$seconds" 70
  figures+=("server killed during an erase: exit $rc after $seconds s, $cpu % CPU while waiting")
}

# The server dies while the updater writes (a device on a DIN line at ten times its speed,
# so that the row takes some seconds): every block's wait runs out, "Time out error(2)".
server_dies_writing() {
  start_devsim e2e-write --din-timing --time-scale 0.1 || { problem="no device"; return; }
  start_updater update
  wait_for_line "[0-9]*/10  writing " 120 || { problem="no write began"; return; }
  sleep 1
  kill_jackd
  local killed
  killed=$(now)
  await_updater "$killed" 90
  start_jackd || { problem="jackd did not come up again"; return; }
  expect "exit code 1" test "$rc" -eq 1
  expect "\"Time out error(2)\"" contains "$err" "Error: Time out error(2)"
  # A block's 32 attempts wait 1000 ms each and 100 ms between them.
  expect "ends within the block waits plus 10 s ($seconds s)" below "$seconds" 45.2
  figures+=("server killed while writing: exit $rc after $seconds s, $cpu % CPU while waiting")
}

# Ctrl-C at five random moments of the wait after the server died during an erase: exit
# code 130 with the line that says the TQ-5 was left mid-update, within 3 s (the program's
# own bound is half a second; the rest is room for a busy machine).
ctrl_c_after_the_server_died() {
  local run moment slowest=0 moments=""
  for run in 1 2 3 4 5; do
    start_devsim "e2e-ctrl-c-$run" --fault erase:1:delay-reply:20000 ||
      { problem="no device"; return; }
    start_updater update
    wait_for_line "1/10  erasing " 60 || { problem="run $run: no erase began"; return; }
    kill_jackd
    moment=$(awk -v seed="$RANDOM" 'BEGIN { srand(seed); printf "%.2f", 4 * rand() }')
    moments+=" $moment"
    sleep "$moment"
    kill -INT "$upd_pid"
    await_updater "$(now)" 10
    stop_devsim
    start_jackd || { problem="jackd did not come up again"; return; }
    expect "run $run (Ctrl-C $moment s after): exit code 130" test "$rc" -eq 130
    expect "run $run: the mid-update line" contains "$err" "left in the middle of its update"
    expect "run $run: ends within 3 s ($seconds s)" below "$seconds" 3
    below "$slowest" "$seconds" && slowest=$seconds
  done
  figures+=("Ctrl-C at$moments s after the server died: exit 130, slowest end $slowest s")
}

# Twenty updaters on one server, each updating its own device (on a DIN line at ten times
# its speed), interrupted at once: every one ends within 5 s, with exit code 130 and its line.
# Ctrl-C comes once all are under way, or after 15 s: beside CPU hogs jackd has taken over a
# minute to bring forty clients up, and an updater still waiting for the server is
# interrupted as well (before its own 20 s guard against a stalled server ends it) and must
# end as fast. How many were under way is a figure (all 20 on a quiet machine, in 2 to 5 s).
twenty_at_once() {
  local i pids=() devices=() slowest=0 under_way writing
  for i in $(seq 20); do
    "$devsim" --api jack --client-name "e2e-many-$i" --port-name "e2e-many-$i" --din-timing \
      --time-scale 0.1 >"$work/many-$i.devsim.out" 2>"$work/many-$i.devsim.err" &
    devices+=($!)
    others+=($!)
  done
  for _ in $(seq 300); do
    [ "$(grep -lx "tq5-devsim ready" "$work"/many-*.devsim.out 2>/dev/null | wc -l)" -eq 20 ] &&
      break
    sleep 0.1
  done
  for i in $(seq 20); do
    "$updater" --api jack --out "e2e-many-$i in" --in "e2e-many-$i out" update \
      >"$work/many-$i.out" 2>"$work/many-$i.err" &
    pids+=($!)
    others+=($!)
  done
  local launched
  launched=$(now)
  for _ in $(seq 150); do
    under_way=$(grep -l "  erasing " "$work"/many-*.out 2>/dev/null | wc -l)
    [ "$under_way" -eq 20 ] && break
    sleep 0.1
  done
  local to_under_way
  to_under_way=$(seconds_since "$launched")
  [ "$under_way" -eq 20 ] && sleep 3
  writing=$(grep -l "  writing " "$work"/many-*.out 2>/dev/null | wc -l)
  local was_under_way=()
  for i in $(seq 20); do
    grep -q "  erasing " "$work/many-$i.out" 2>/dev/null && was_under_way[$i]=1
  done
  under_way=${#was_under_way[@]}
  kill -INT "${pids[@]}" 2>/dev/null
  # Each one's end (in microseconds), seen by a loop that starts no process of its own.
  local started_us=${EPOCHREALTIME/[.,]/} ended=() left=20 now_us
  while [ "$left" -gt 0 ]; do
    now_us=${EPOCHREALTIME/[.,]/}
    [ $((now_us - started_us)) -lt 10000000 ] || break
    left=0
    for ((i = 0; i < 20; i++)); do
      [ -n "${ended[$i]:-}" ] && continue
      if kill -0 "${pids[$i]}" 2>/dev/null; then
        left=$((left + 1))
      else
        ended[$i]=$((now_us - started_us))
      fi
    done
    sleep 0.02
  done
  for i in $(seq 20); do
    kill -KILL "${pids[$((i - 1))]}" 2>/dev/null
    wait "${pids[$((i - 1))]}"
    rc=$?
    seconds=$(awk -v us="${ended[$((i - 1))]:-}" 'BEGIN { printf "%.2f", us == "" ? 99 : us / 1e6 }')
    expect "updater $i: exit code 130" test "$rc" -eq 130
    if [ -n "${was_under_way[$i]:-}" ]; then
      expect "updater $i: its line" contains "$(cat "$work/many-$i.err")" \
        "run \`tq5-updater update\` again"
    else
      expect "updater $i: its line" contains "$(cat "$work/many-$i.err")" "interrupted"
    fi
    below "$slowest" "$seconds" && slowest=$seconds
  done
  # The devices end together: SIGTERM to each, SIGKILL to those left after five seconds.
  kill -TERM "${devices[@]}" 2>/dev/null
  for _ in $(seq 50); do
    local alive=0
    for pid in "${devices[@]}"; do kill -0 "$pid" 2>/dev/null && alive=1; done
    [ "$alive" -eq 0 ] && break
    sleep 0.1
  done
  kill -KILL "${devices[@]}" 2>/dev/null
  wait "${devices[@]}" 2>/dev/null
  others=()
  expect "all ended within 5 s (the last after $slowest s)" below "$slowest" 5
  figures+=("20 updaters on one server ($under_way under way after $to_under_way s, $writing writing), Ctrl-C: all ended within $slowest s")
}

# --- a faulty link ------------------------------------------------------------------------
# "sync": a server that loses nothing (JACK in its synchronous mode, or the ALSA sequencer).
mode=sync
clean_requests=""  # how often the device saw each request in a clean update

requests_of() { grep '^requests:' <<<"$1"; }
resends_of() { sed -n 's/^write-block resends: //p' <<<"$1"; }
# The requests of a flash report with each block counted once: a block sent again because
# its answer came after its wait (a busy machine) is the procedure at work, not a fault.
distinct_requests_of() {
  local line blocks resends
  line=$(requests_of "$1")
  resends=$(resends_of "$1")
  blocks=${line#*write-block }
  blocks=${blocks%%,*}
  echo "${line/write-block $blocks/write-block $((blocks - ${resends:-0}))}"
}

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
# success only over a flash that holds the images, a failure always with its message, or
# (a lost read of the boot loader's version, which shows no message) the line that says
# where and why it stopped.
never_false_success() {
  case "$rc" in
    0)
      expect "\"Version update completed.\"" contains "$out" "Version update completed."
      expect "success over a flash that holds the images" flash_holds_images
      ;;
    1) expect "a failure that says so" grep -q '^\(Error: \|tq5-updater: the update stopped \)' \
      <<<"$err" ;;
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
  clean_requests=$(distinct_requests_of "$report")
  figures+=("[$mode] clean update: $(resends_of "$report") write blocks sent again after their wait")
}

# link_rides_out NAME REQUESTS [tq5-devsim options...]: the update completes over the images;
# on the synchronous server, which loses nothing, the device sees the requests of a clean
# update (REQUESTS "clean"), exactly REQUESTS, or any number of them (REQUESTS "any"), each
# block counted once; at least $min_resends blocks came again.
min_resends=0
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
    expect "the device saw $requests" test "$(distinct_requests_of "$report")" = "$requests"
    expect "at least $min_resends blocks sent again" test "$(resends_of "$report")" -ge "$min_resends"
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
  # The blocks of a clean update, the lost one sent again after its wait.
  min_resends=1 link_rides_out lost clean --fault write-block:10:lose-request
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
link_flipped() {
  link_fails flipped "flash different from image 136 at flash address" \
    --fault write-block:300:flip-stored-bit
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
  run_case "[$mode] a block written with one bit wrong: the check names it" link_flipped
}

# --- what the TQ-5 serves of a read: however it serves them, the update completes over the
# images and the TQ-5 is told it is finished; the flash read back where a read size works.
finish_sent() { grep -Eq 'finish 1(,|$)' <<<"$(requests_of "$(flash_state)")"; }
read_back_in() { grep -Eq '^10/10  Verifying flash  ([0-9]+)/\1 bytes' <<<"$1"; }
read_case() {  # read_case NAME verified|not-read [tq5-devsim options...]
  local name=$1 expect=$2
  shift 2
  start_devsim "$name" "$@" || { problem="no device"; return; }
  run_updater update
  expect "exit code 0" test "$rc" -eq 0
  expect "\"Version update completed.\"" test "${out##*  }" = "Version update completed."
  expect "no error shown" lacks "$err" "Error:"
  expect "every flash region holds its image" flash_holds_images
  expect "the finish request was sent" finish_sent
  if [ "$expect" = verified ]; then
    expect "every written byte compared" read_back_in "$out"
  else
    expect "says the flash could not be read back" contains "$err" \
      "tq5-updater: The TQ-5's flash could not be read back on this device"
  fi
}
read_refused() { read_case read-refused verified --fault read-memory:0:refuse-read-above:1024; }
read_pieces() { read_case read-pieces verified --fault read-memory:0:read-in-pieces:512; }
read_slow() { read_case read-slow verified --fault read-memory:2-3:delay-reply:4000; }
read_silent() { read_case read-silent verified --fault read-memory:0:ignore-read-above:2048; }
read_none() { read_case read-none not-read --fault read-memory:0:refuse-read-above:4; }
strict_lost() { read_case strict-lost verified --strict-writes --fault write-block:10:drop-reply; }
run_read_cases() {
  run_case "reads above 1,024 bytes refused: read back in 1,024-byte reads" read_refused
  run_case "reads answered in 512-byte pieces: read back" read_pieces
  run_case "the check's first two reads answered 4 s late: read back" read_slow
  run_case "reads above 2,048 bytes never answered: a minute, then small reads" read_silent
  run_case "no read above 4 bytes served: completed, \"could not be read back\"" read_none
  run_case "no write over written flash, an acknowledgement lost: read back" strict_lost
}

# The boot loader's version can't be read: the update ends without an error box, as the
# window's does, and says why (the answer broken, or refused; never replies that came twice).
boot_read_fails() {  # boot_read_fails FAULT WHY
  start_devsim e2e-bootread --fault "read-memory:1:$1" || { problem="no device"; return; }
  run_updater update
  expect "exit code 1" test "$rc" -eq 1
  expect "no error box" lacks "$err" "Error:"
  expect "says: $2" contains "$err" "reading the TQ-5's boot loader version: $2"
  expect "nothing erased" flash_unchanged
}
boot_read_broken() { boot_read_fails corrupt-read-crc "the answer"; }
boot_read_refused() { boot_read_fails answer-status:4 "the TQ-5 answered with status 4."; }

case "$part" in
  "" | main)
    run_case "full update, version before and after, flash holds the images" full_update
    run_case "device in normal mode: \"Please use the firmware update mode.\"" normal_mode
    run_case "unknown device id: \"Illegal device connected.\"" unknown_id
    run_case "block refused three times, an acknowledgement lost: update completes" block_retries
    run_case "read reply with a bad CRC: no report, exit 1" read_crc_error
    run_case "boot loader version unreadable: exit 1, says so" boot_read_broken
    run_case "boot loader version's read refused: exit 1, names the refusal" boot_read_refused
    run_link_cases
    # Without JACK nothing runs the read-back cases beside this part: here, after it.
    [ "$api" = jack ] || run_read_cases
    if [ "$api" = jack ]; then
      # The server's death while writing, and many updaters on one server.
      run_case "server killed while writing: \"Time out error(2)\", exit 1" server_dies_writing
      run_case "20 updaters on one server interrupted at once: all end within 5 s" twenty_at_once
    fi
    ;;
  reads)
    # The read-back check's faults: mostly the waits of a device that answers reads late or never.
    run_read_cases
    ;;
  server-death)
    run_case "server killed during an erase: \"Time out error(3)\", exit 1" server_dies_erasing
    run_case "Ctrl-C at 5 random moments after the server died: 130 within 3 s" \
      ctrl_c_after_the_server_died
    ;;
  async)
    # The same link faults with JACK in its asynchronous mode, where a late client loses MIDI
    # instead of holding up the cycle: the procedures' resends cover what it loses.
    mode=async
    run_link_cases
    ;;
  *)
    echo "e2e: no part $part (main, reads, server-death, async)" >&2
    failed=1
    ;;
esac

for figure in "${figures[@]}"; do echo "e2e: $figure"; done
echo "e2e: $passed passed, $failed failed"
[ "$failed" -eq 0 ]
