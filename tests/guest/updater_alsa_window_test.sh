#!/usr/bin/env bash
# Updater.exe under Wine against tq5-devsim on the ALSA sequencer: the WinMM drivers on real
# devices (Wine's WinMM over the sequencer). Runs in the guest kernel of tools/guest/, under
# Xvfb on a Wine virtual desktop. The ports are chosen in the lists as a user chooses them
# (Wine names a program's port "<client> - <port>", so no preferred name matches and nothing
# is preselected); Version Check shows its report; Execute runs a whole update, with
# screenshots in the middle and at the end; the device's flash then holds the images; after
# Rescan Device and a new choice the report shows the new version, and Exit closes all.
#
#   updater_alsa_window_test.sh <Updater.exe> <window_probe.exe> <tq5-devsim> <out-dir>
set -euo pipefail

updater=$1
probe_exe=$2
devsim=$3
out=$4
title="VARN TQ-5 System v1.10 Updater"
# The prefix that tools/win-test.sh made on the host; the guest's writes to it are lost.
export WINEPREFIX=${WINEPREFIX:-$HOME/.wine-tq5}
source "$(dirname "$0")/../win32/window_test_lib.sh"
if [ ! -e /dev/snd/seq ]; then
  echo "no ALSA sequencer here: run through tools/guest/run-in-guest.sh" >&2
  exit 2
fi
rerun_in_xvfb "$@"
# No menu entries for the programs started: nothing here reads them.
export WINEDLLOVERRIDES="$WINEDLLOVERRIDES;winemenubuilder.exe=d"

# One probe process for the whole test, fed a command a line (arguments separated by tabs):
# every start of a Windows program costs seconds under the guest's emulation.
start_probe() {
  coproc PROBE { wine "$probe_exe" --desktop "$desktop" serve 2>/dev/null; }
}
probe() {
  local IFS=$'\t' line
  printf '%s\n' "$*" >&"${PROBE[1]}"
  while IFS= read -r line <&"${PROBE[0]}"; do
    line=${line%$'\r'}
    if [[ "$line" == =* ]]; then return "${line#=}"; fi
    printf '%s\n' "$line"
  done
  return 1
}

execute=1 exit_button=2 midi_in=1000 midi_out=1001 status=1003 version_check=1007
tab=$'\t'
work=$(mktemp -d)
devsim_pid=""
finish() {
  [ -n "${PROBE_PID:-}" ] && kill "$PROBE_PID" 2>/dev/null
  [ -n "$devsim_pid" ] && kill "$devsim_pid" 2>/dev/null
  rm -rf "$work"
}
trap finish EXIT

# The device: its ports must be there before Wine starts, which lists devices only then.
# Block 474 is block 403 of 805 of image 136 (the boot rows are skipped: same boot
# version); its reply and the next are late, within the block wait, for the screenshot.
"$devsim" --api alsa --state-file "$work/state" \
  --fault write-block:474:delay-reply:1500 --fault write-block:475:delay-reply:1500 \
  >"$work/devsim.out" 2>"$work/devsim.err" &
devsim_pid=$!
for _ in $(seq 100); do
  grep -qx "tq5-devsim ready" "$work/devsim.out" 2>/dev/null && break
  sleep 0.1
done
grep -qx "tq5-devsim ready" "$work/devsim.out" || { cat "$work/devsim.err"; exit 1; }

flash_report() {
  rm -f "$work/state"
  kill -USR1 "$devsim_pid"
  for _ in $(seq 100); do
    [ -s "$work/state" ] && { cat "$work/state"; return 0; }
    sleep 0.1
  done
  return 1
}

# click_control <id>: a real mouse click on the control's centre.
click_control() {
  local left top right bottom
  read -r left top right bottom _ < <(probe rect "$title" "$1")
  xdotool mousemove $(((left + right) / 2)) $(((top + bottom) / 2)) click 1
}
# choose <list id> <entry>: opens the list with a click and clicks the entry, as a user does.
choose() {
  local left top right bottom height index entries
  entries=$(probe items "$title" "$1")  # no pipe: the probe's pipes are not in a pipeline's subshells
  index=$(grep -nxF "$2" <<<"$entries" | cut -d: -f1)
  [ -n "$index" ] || { fail "list $1 has no entry '$2'"; return; }
  read -r left top right bottom height < <(probe rect "$title" "$1")
  xdotool mousemove $((right - 8)) $(((top + bottom) / 2)) click 1
  sleep 2  # the list drops down; slow under emulation
  shot "alsa-list-$1"
  xdotool mousemove $(((left + right) / 2)) $((bottom + 2 + (index - 1) * height + height / 2)) click 1
  sleep 1
}

started=$SECONDS
start "$updater"
start_probe
wait_for "$title" 300000
echo "Updater.exe is up after $((SECONDS - started)) s"
probe dump "$title" >"$work/rest"
probe items "$title" $midi_in >"$work/inputs"
probe items "$title" $midi_out >"$work/outputs"
echo "MIDI IN list:"; sed 's/^/  /' "$work/inputs"
echo "MIDI OUT list:"; sed 's/^/  /' "$work/outputs"
grep -qx "tq5-devsim - TQ-5 out" "$work/inputs" || fail "MIDI IN has no 'tq5-devsim - TQ-5 out'"
grep -qx "tq5-devsim - TQ-5 in" "$work/outputs" || fail "MIDI OUT has no 'tq5-devsim - TQ-5 in'"
grep -q "^id=$midi_in class=ComboBox enabled=1 count=[1-9][0-9]* selection=-1 " "$work/rest" ||
  fail "MIDI IN has a preselected entry"; 
grep -q "^id=$midi_out class=ComboBox enabled=1 count=[1-9][0-9]* selection=-1 " "$work/rest" ||
  fail "MIDI OUT has a preselected entry"

echo "=== the ports, chosen in the lists"
choose $midi_in "tq5-devsim - TQ-5 out"
choose $midi_out "tq5-devsim - TQ-5 in"
probe dump "$title" >"$work/chosen"
grep -q "^id=$midi_in class=ComboBox .* text=tq5-devsim - TQ-5 out\$" "$work/chosen" ||
  { fail "MIDI IN: the device's output was not chosen"; cat "$work/chosen"; }
grep -q "^id=$midi_out class=ComboBox .* text=tq5-devsim - TQ-5 in\$" "$work/chosen" ||
  { fail "MIDI OUT: the device's input was not chosen"; cat "$work/chosen"; }
shot alsa-chosen

# version_report <system line> [screenshot]: Version Check shows its report; OK closes it.
version_report() {
  click_control $version_check
  if ! probe wait "Version Information" 240000; then
    fail "no version report"
    shot alsa-no-report
    local titles
    titles=$(probe titles) || true
    echo "windows: ${titles//$'\n'/ | }"
    probe dump "Error" || probe dump "$title" || true
    return
  fi
  expect_line "Version Information" "^id=65535 class=Static enabled=1 text=SYSTEM:$tab$tab$1\$"
  expect_line "Version Information" "^PRESET:$tab${tab}1\\.00\$"
  expect_line "Version Information" "^BOOT:$tab${tab}1\\.00\$"
  [ -z "${2:-}" ] || shot "$2"
  probe click "Version Information" 1
  wait_gone "Version Information"
}

echo "=== Version Check"
version_report "1\\.05 -> 1\\.10" alsa-version

echo "=== Execute: a whole update"
started=$SECONDS
click_control $execute
probe wait-item "$title" $status "^Data transmit  1646592 / 3297280 \$" 600000 >"$work/middle" ||
  { fail "the update never reached the middle of image 136"; cat "$work/middle"; }
shot alsa-updating
probe wait-item "$title" $status "^Version update completed\\.\$" 600000 >"$work/completed" ||
  { fail "the update did not complete"; cat "$work/completed"; }
echo "the update took $((SECONDS - started)) s"
sleep 0.5  # the worker releases the controls right after the status line
probe dump "$title" >"$work/completed"
shot alsa-completed
grep -q "^id=1006 class=Edit enabled=1 text=10/10\$" "$work/completed" ||
  fail "the counter does not show 10/10"
grep -q "^id=$execute class=Button enabled=0 text=Execute\$" "$work/completed" ||
  fail "Execute is not disabled after the update"
report=$(flash_report) || fail "no flash report from the device"
echo "$report"
[ "$(grep -c ', holds its image$' <<<"$report")" -eq 5 ] || fail "not every region holds its image"
grep -qx "system version: 1.10" <<<"$report" || fail "the system version is not the image's"

echo "=== Rescan Device: the lists are filled again, with nothing chosen; the new version"
click_control 1004
probe dump "$title" >"$work/rescanned"
grep -q "^id=$midi_in class=ComboBox enabled=1 count=6 selection=-1 " "$work/rescanned" ||
  { fail "MIDI IN after Rescan Device"; cat "$work/rescanned"; }
choose $midi_in "tq5-devsim - TQ-5 out"
choose $midi_out "tq5-devsim - TQ-5 in"
version_report "1\\.10 -> 1\\.10"

echo "=== Exit"
click_control $exit_button
wait_gone "$title"
remaining=$(probe titles)
[ -z "$remaining" ] || fail "windows left on the desktop: $remaining"
window_test_end updater_alsa_window_test
