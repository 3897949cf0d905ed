#!/usr/bin/env bash
# Updater.exe under Wine on a virtual desktop in Xvfb: the window at rest, the title of a
# second instance, the about box, a refused start without MIDI devices, twenty instances and
# the refusal of a twenty-first, the reuse of a freed number. Screenshots go to <out-dir>.
#
#   updater_window_test.sh <Updater.exe> <window_probe.exe> <out-dir>
set -euo pipefail

updater=$1
probe_exe=$2
out=$3
if [ "${TQ5_IN_XVFB:-}" != 1 ]; then
  exec xvfb-run -a -s "-screen 0 1024x768x24" env TQ5_IN_XVFB=1 bash "$0" "$@"
fi

export WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
mkdir -p "$out"
desktop="tq5-window-test-$$"
title="VARN TQ-5 System v1.10 Updater"
failures=0

start() { wine explorer "/desktop=$desktop,1024x768" "$updater" >/dev/null 2>&1 & }
probe() { wine "$probe_exe" --desktop "$desktop" "$@" 2>/dev/null | tr -d '\r'; }
shot() { import -window root "$out/$1.png"; echo "screenshot: $out/$1.png"; }
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }
wait_for() { probe wait "$1" "${2:-60000}" || fail "window '$1' did not appear"; }
wait_gone() { probe wait-gone "$1" "${2:-30000}" || fail "window '$1' did not go away"; }
expect_line() {  # <window title> <regex a line of its dump must match>
  local dump
  dump=$(probe dump "$1")
  grep -Eq -- "$2" <<<"$dump" || { fail "'$1' has no line matching: $2"; echo "$dump"; }
}

echo "=== instance 1 at rest"
start
wait_for "$title"
sleep 1
expect_line "$title" "^title=$title\$"
expect_line "$title" '^id=1 class=Button enabled=1 text=Execute$'
expect_line "$title" '^id=1000 class=ComboBox enabled=1 count=0 selection=-1'
expect_line "$title" '^id=1001 class=ComboBox enabled=1 count=0 selection=-1'
expect_line "$title" '^id=1002 class=msctls_progress32 enabled=1 range=0..100 position=0'
shot at-rest

echo "=== instance 2: its title carries the number; its about box does not"
start
wait_for "$title (2)"
sleep 1
shot instance-2
probe syscommand "$title (2)" 16
wait_for "About VARN TQ Series Updater"
expect_line "About VARN TQ Series Updater" "^id=1003 class=Edit enabled=1 text=$title\$"
shot about-box
probe click "About VARN TQ Series Updater" 1
wait_gone "About VARN TQ Series Updater"

echo "=== Execute without MIDI devices: the mapper can't open, nothing is locked"
probe click "$title (2)" 1
wait_for "Error"
expect_line "Error" "text=Can't open MIDI Out device\\.\$"
shot open-refused
probe click "Error" 1
wait_gone "Error"
expect_line "$title (2)" '^id=1 class=Button enabled=1 text=Execute$'
expect_line "$title (2)" '^id=1007 class=Button enabled=1 text=Version Check$'

echo "=== instances 3 to 20, then a twenty-first"
for n in $(seq 3 20); do
  start
  wait_for "$title ($n)"
done
start
wait_for "Updater"
expect_line "Updater" "text=It is forbidden to launch more than 20 instance of this application\\.\$"
shot refusal-21st
probe click "Updater" 1
wait_gone "Updater"
probe titles | grep -c "^$title" | grep -qx 20 || fail "not exactly twenty updater windows"

echo "=== a freed number is taken again"
probe close "$title (7)"
wait_gone "$title (7)"
start
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

if [ "$failures" -ne 0 ]; then
  echo "updater_window_test: $failures failure(s)"
  exit 1
fi
echo "updater_window_test: all checks passed"
