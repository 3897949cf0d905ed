#!/usr/bin/env bash
# Updater.exe under Wine on a virtual desktop in Xvfb: the window at rest (centred, Execute
# focused and the default button), Enter starting Execute from the button and from a port
# list (refused without MIDI devices), the title of a second instance, the about box centred
# on its window, twenty instances and the refusal of a twenty-first, the reuse of a freed
# number. Screenshots go to <out-dir>.
#
#   updater_window_test.sh <Updater.exe> <window_probe.exe> <out-dir>
set -euo pipefail

updater=$1
probe_exe=$2
out=$3
title="VARN TQ-5 System v1.10 Updater"
source "$(dirname "$0")/window_test_lib.sh"
rerun_in_xvfb "$@"

echo "=== instance 1 at rest: centred on the screen; Execute has the focus and is the default"
start "$updater"
wait_for "$title"
sleep 1
expect_line "$title" "^title=$title\$"
expect_centred "$title"
expect_line "$title" '^focus=1 default=1 framed=1$'
expect_line "$title" '^id=1 class=Button enabled=1 text=Execute$'
expect_line "$title" '^id=1000 class=ComboBox enabled=1 count=0 selection=-1'
expect_line "$title" '^id=1001 class=ComboBox enabled=1 count=0 selection=-1'
expect_line "$title" '^id=1002 class=msctls_progress32 enabled=1 range=0..100 position=0'
shot at-rest

echo "=== Enter at start is Execute: without MIDI devices the mapper can't open, nothing is locked"
key "$title" enter
wait_for "Error"
expect_line "Error" "text=Can't open MIDI Out device\\.\$"
shot open-refused
key "Error" enter
wait_gone "Error"
wait_line "$title" '^focus=1 default=1 framed=1$'
expect_line "$title" '^id=1 class=Button enabled=1 text=Execute$'
expect_line "$title" '^id=1007 class=Button enabled=1 text=Version Check$'

echo "=== Tab: Exit takes the default frame while it has the focus; in a port list Enter is Execute again"
key "$title" tab
expect_line "$title" '^focus=2 default=1 framed=2$'
key "$title" tab
expect_line "$title" '^focus=1000 default=1 framed=1$'
key "$title" enter
wait_for "Error"
expect_line "Error" "text=Can't open MIDI Out device\\.\$"
key "Error" enter
wait_gone "Error"
wait_line "$title" '^focus=1000 default=1 framed=1$'

echo "=== instance 2: its title carries the number; its about box does not"
start "$updater"
wait_for "$title (2)"
sleep 1
shot instance-2
echo "=== the about box opens in the middle of its window, wherever that is"
probe move "$title (2)" 40 60
probe syscommand "$title (2)" 16
wait_for "About VARN TQ Series Updater"
expect_line "About VARN TQ Series Updater" "^id=1003 class=Edit enabled=1 text=$title\$"
expect_centred "About VARN TQ Series Updater" "$title (2)"
shot about-box
key "About VARN TQ Series Updater" enter
wait_gone "About VARN TQ Series Updater"
wait_line "$title (2)" '^focus=1 default=1 framed=1$'

echo "=== instances 3 to 20, then a twenty-first"
for n in $(seq 3 20); do
  start "$updater"
  wait_for "$title ($n)"
done
start "$updater"
wait_for "Updater"
expect_line "Updater" "text=It is forbidden to launch more than 20 instance of this application\\.\$"
shot refusal-21st
probe click "Updater" 1
wait_gone "Updater"
probe titles | grep -c "^$title" | grep -qx 20 || fail "not exactly twenty updater windows"

echo "=== a freed number is taken again"
probe close "$title (7)"
wait_gone "$title (7)"
start "$updater"
wait_for "$title (7)"

echo "=== closing every instance: Exit in the first, the close box in the others"
probe click "$title" 2
for n in $(seq 2 20); do
  probe close "$title ($n)"
done
for n in 1 $(seq 2 20); do
  name="$title"
  [ "$n" = 1 ] || name="$title ($n)"
  wait_gone "$name"
done

window_test_end updater_window_test
