#!/usr/bin/env bash
# UpdaterTestBench.exe under Wine on a virtual desktop in Xvfb: the updater's real window on a
# virtual TQ-5. Version Check and its report; a whole update started with Enter (status line,
# counter, the 32-bit progress range, the buttons and the keyboard focus during the run and
# at the end) with screenshots in the middle and at the end; Esc after an update and during
# one; the closing of the window during an update and while a worker's error box is up; a
# refused read of the boot version, which shows no box; each ending the program in order.
#
#   updater_update_window_test.sh <UpdaterTestBench.exe> <window_probe.exe> <out-dir>
set -euo pipefail

bench=$1
probe_exe=$2
out=$3
title="VARN TQ-5 System v1.10 Updater"
source "$(dirname "$0")/window_test_lib.sh"
rerun_in_xvfb "$@"

# The controls of the main dialog.
execute=1 exit_button=2 rescan=1004 status=1003 version_check=1007
tab=$'\t'
reports=$(mktemp -d)
trap 'rm -rf "$reports"' EXIT

# start_bench <name> [bench options...]: the bench writes <name>'s exit report on its way out.
start_bench() {
  local name=$1
  shift
  start "$bench" --exit-report "$(winepath -w "$reports/$name")" "$@"
  wait_for "$title"
}
# expect_ended <name>: the program wrote its exit report, so it shut down in order.
expect_ended() {
  local i
  for i in $(seq 300); do
    [ -s "$reports/$1" ] && break
    sleep 0.1
  done
  # Written in text mode: the line ends in CR LF.
  if [ ! -f "$reports/$1" ] || ! tr -d '\r' <"$reports/$1" | grep -qx "ended normally"; then
    fail "$1: the program did not end normally"
  fi
}
# wait_status <regex> <dump file>: until the status line matches; the window as it was then.
wait_status() {
  probe wait-item "$title" $status "$1" 60000 >"$2" || { fail "status line never matched: $1"; cat "$2"; }
}
expect_in() {  # <dump file> <regex a line must match>
  grep -Eq -- "$2" "$1" || { fail "$1 has no line matching: $2"; cat "$1"; }
}
# expect_controls <dump file> <lists> <Execute> <Rescan Device> <Version Check>: 1 enabled
expect_controls() {
  expect_in "$1" "^id=1000 class=ComboBox enabled=$2 "
  expect_in "$1" "^id=1001 class=ComboBox enabled=$2 "
  expect_in "$1" "^id=$execute class=Button enabled=$3 text=Execute\$"
  expect_in "$1" "^id=$rescan class=Button enabled=$4 text=Rescan Device\$"
  expect_in "$1" "^id=$version_check class=Button enabled=$5 text=Version Check\$"
}
# version_report <system line>: Version Check shows its report over disabled controls; OK.
version_report() {
  probe click "$title" $version_check
  wait_for "Version Information"
  expect_line "Version Information" "^id=65535 class=Static enabled=1 text=SYSTEM:$tab$tab$1\$"
  expect_line "Version Information" "^PRESET:$tab${tab}1\\.00\$"
  expect_line "Version Information" "^BOOT:$tab${tab}1\\.00\$"
  expect_line "$title" "^id=$execute class=Button enabled=0 text=Execute\$"
  probe click "Version Information" 1
  wait_gone "Version Information"
}

echo "=== the device's version; a whole update, paused for the screenshot halfway through image 136"
# With the boot rows skipped (same boot version), write block 474 is block 403 of 805 of
# image 136, at offset 1646592. Its reply and the next are late, within the block wait.
start_bench update --fault write-block:474:delay-reply:800 --fault write-block:475:delay-reply:800
probe dump "$title" >"$reports/rest"
expect_in "$reports/rest" '^id=1000 class=ComboBox enabled=1 count=2 selection=1 text=USB Audio Device$'
expect_in "$reports/rest" '^id=1001 class=ComboBox enabled=1 count=2 selection=1 text=USB Audio Device$'
version_report "1\\.05 -> 1\\.10"
expect_line "$title" "^id=$execute class=Button enabled=1 text=Execute\$"

# Back from the report, Execute has the focus again and Enter starts the update.
expect_line "$title" "^focus=$execute default=$execute framed=$execute\$"
key "$title" enter
wait_status "^Data transmit  1646592 / 3297280 \$" "$reports/middle"
shot updating
expect_in "$reports/middle" '^id=1002 class=msctls_progress32 enabled=1 range=0\.\.3297280 position=16[0-9]{5} '
expect_in "$reports/middle" '^id=1006 class=Edit enabled=1 text=9/10$'
expect_controls "$reports/middle" 0 0 0 0
# The focus left Execute for Exit; Execute, disabled, stays the default, so Enter is inert.
expect_in "$reports/middle" "^focus=$exit_button default=$execute framed=$execute\$"

wait_status "^Version update completed\\.\$" "$reports/completed"
sleep 0.5  # the worker releases the controls right after the status line
probe dump "$title" >"$reports/completed"
shot completed
expect_in "$reports/completed" '^id=1002 class=msctls_progress32 enabled=1 range=0\.\.4096 position=4096 '
expect_in "$reports/completed" '^id=1006 class=Edit enabled=1 text=10/10$'
expect_controls "$reports/completed" 1 0 1 0
expect_in "$reports/completed" "^focus=$exit_button default=$execute "

echo "=== after the update the keyboard still works: Tab moves on from Exit to the MIDI IN list"
key "$title" tab
wait_line "$title" '^focus=1000 '
shot completed-tab

echo "=== Rescan Device, then the device reports the version it was given; Esc closes"
probe click "$title" $rescan
probe dump "$title" >"$reports/rescanned"
expect_controls "$reports/rescanned" 1 1 1 1
version_report "1\\.10 -> 1\\.10"
key "$title" esc
wait_gone "$title"
expect_ended update

echo "=== Esc straight after an update closes the window"
start_bench esc-after-update
key "$title" enter
wait_status "^Version update completed\\.\$" "$reports/esc-after-update-completed"
wait_line "$title" "^focus=$exit_button "
shot esc-after-update
key "$title" esc
wait_gone "$title"
expect_ended esc-after-update

echo "=== Esc during an update closes the window"
# A slow device (about 20 s for the largest image) keeps the update running past the key.
start_bench esc-mid-update --write-ms 20
key "$title" enter
wait_status "^Data transmit  [0-9]+ / 3297280 \$" "$reports/esc-mid-update"
expect_in "$reports/esc-mid-update" "^focus=$exit_button "
shot esc-mid-update
key "$title" esc
wait_gone "$title"
shot esc-mid-update-closed
expect_ended esc-mid-update

echo "=== closing the window during an update"
start_bench closed-mid-update
probe click "$title" $execute
wait_status "^Data transmit  [0-9]+ / 3297280 \$" "$reports/mid-update"
probe close "$title"
wait_gone "$title"
expect_ended closed-mid-update

echo "=== a worker's error box: once dismissed, the focus is back on Execute; closing the window while it is up"
start_bench closed-under-box --mode normal
key "$title" enter
wait_for "Error"
expect_line "Error" '^id=65535 class=Static enabled=1 text=Please use the firmware update mode\.$'
key "Error" enter
wait_gone "Error"
wait_line "$title" "^focus=$execute default=$execute framed=$execute\$"
expect_line "$title" "^id=$execute class=Button enabled=1 text=Execute\$"
key "$title" enter
wait_for "Error"
shot error-box
probe close "$title"
wait_gone "Error"
wait_gone "$title"
expect_ended closed-under-box
echo "=== a refused read of the device's boot version: no box, the controls come back"
start_bench boot-read-refused --fault read-memory:1:answer-status:4
key "$title" enter
wait_line "$title" '^id=1006 class=Edit enabled=1 text=0/10$'
wait_line "$title" "^id=$execute class=Button enabled=1 text=Execute\$"
probe dump "$title" >"$reports/boot-read-refused"
expect_controls "$reports/boot-read-refused" 1 1 1 1
expect_in "$reports/boot-read-refused" '^id=1003 class=Edit enabled=1 text=$'
if probe titles | grep -qx "Error"; then fail "an error box after a refused boot-version read"; fi
shot boot-read-refused
key "$title" esc
wait_gone "$title"
expect_ended boot-read-refused

remaining=$(probe titles)
[ -z "$remaining" ] || fail "windows left on the desktop: $remaining"

window_test_end updater_update_window_test
