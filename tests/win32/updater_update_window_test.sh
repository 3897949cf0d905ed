#!/usr/bin/env bash
# UpdaterTestBench.exe under Wine on a virtual desktop in Xvfb: the updater's real window on a
# virtual TQ-5. Version Check and its report; a whole update through the window (status line,
# counter, the 32-bit progress range, the buttons at the end) with screenshots in the middle
# and at the end; the closing of the window during an update and while a worker's error box
# is up, each ending the program in order.
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

probe click "$title" $execute
wait_status "^Data transmit  1646592 / 3297280 \$" "$reports/middle"
shot updating
expect_in "$reports/middle" '^id=1002 class=msctls_progress32 enabled=1 range=0\.\.3297280 position=16[0-9]{5} '
expect_in "$reports/middle" '^id=1006 class=Edit enabled=1 text=9/10$'
expect_controls "$reports/middle" 0 0 0 0

wait_status "^Version update completed\\.\$" "$reports/completed"
sleep 0.5  # the worker releases the controls right after the status line
probe dump "$title" >"$reports/completed"
shot completed
expect_in "$reports/completed" '^id=1002 class=msctls_progress32 enabled=1 range=0\.\.4096 position=4096 '
expect_in "$reports/completed" '^id=1006 class=Edit enabled=1 text=10/10$'
expect_controls "$reports/completed" 1 0 1 0

echo "=== Rescan Device, then the device reports the version it was given"
probe click "$title" $rescan
probe dump "$title" >"$reports/rescanned"
expect_controls "$reports/rescanned" 1 1 1 1
version_report "1\\.10 -> 1\\.10"
probe click "$title" $exit_button
wait_gone "$title"
expect_ended update

echo "=== closing the window during an update"
start_bench closed-mid-update
probe click "$title" $execute
wait_status "^Data transmit  [0-9]+ / 3297280 \$" "$reports/mid-update"
probe close "$title"
wait_gone "$title"
expect_ended closed-mid-update

echo "=== closing the window while a worker's error box is up"
start_bench closed-under-box --mode normal
probe click "$title" $execute
wait_for "Error"
expect_line "Error" '^id=65535 class=Static enabled=1 text=Please use the firmware update mode\.$'
shot error-box
probe close "$title"
wait_gone "Error"
wait_gone "$title"
expect_ended closed-under-box
remaining=$(probe titles)
[ -z "$remaining" ] || fail "windows left on the desktop: $remaining"

window_test_end updater_update_window_test
