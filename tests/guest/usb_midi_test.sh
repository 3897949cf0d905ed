#!/usr/bin/env bash
# The TQ-5 on USB MIDI, in one guest of tools/guest/run-in-guest.sh --usb-midi --root: the
# kernel's USB MIDI driver on the computer's side, a device made by the guest's kernel on the
# other. tq5-updater runs as an ordinary user (the caller, or nobody when the caller is
# root) in the group audio, with the kernel's default settings, and names no port: it finds
# the TQ-5 by asking every output for its identity (the kernel's gadget's own port, which
# tq5-devsim holds, can't be opened and is passed over).
#
#   1. The driver contract (tests/midi/midi_usb_tests) against a USB device that pushes back.
#   2. A device in front of a 31,250-baud line that pushes back (tq5-devsim's own USB device
#      through gadgetfs, which reads its endpoint at the line's pace): the first 20 write
#      blocks go without a single resend.
#   3. The kernel's own USB MIDI gadget (f_midi) with tq5-devsim on its rawmidi device: a
#      whole update at full pace with the read-back check, none of its blocks sent twice, and
#      the device's flash report equal to the images; then Version Check.
#   4. The same gadget with the device's line at 31,250 baud behind it, which the gadget
#      takes no slower than USB: again the first 20 write blocks without a resend, which holds
#      only where the block's wait counts the line's time after the send.
#   5. Unplugged while writing: the update ends within seconds saying the TQ-5 went away and
#      that `update` completes it once it is back; plugged in again, it does.
#
#   usb_midi_test.sh BUILD_DIR
set -uo pipefail

build=$1
label=guest-usb
updater=$build/app/cli/tq5-updater
devsim=$build/sim/devsim/tq5-devsim
contract=$build/tests/midi/midi_usb_tests
gadget=/sys/kernel/config/usb_gadget/tq5
product="VARN TQ Series"
# The blocks of an update: 1 + 70 + 805 + 1 write blocks (rows 3, 7, 9 and 10).
blocks=877

for program in "$updater" "$devsim" "$contract"; do
  [ -x "$program" ] || { echo "$label: $program is missing; build it first" >&2; exit 2; }
done
if [ "$(id -u)" != 0 ] || [ ! -d "$gadget" ]; then
  echo "$label: run through tools/guest/run-in-guest.sh --usb-midi --root" >&2
  exit 2
fi

work=$(mktemp -d /tmp/tq5-usb.XXXXXX)
chmod 0755 "$work"
devsim_pid=""
updater_pid=""
trap '[ -n "$devsim_pid" ] && kill "$devsim_pid" 2>/dev/null; [ -n "$updater_pid" ] && kill "$updater_pid" 2>/dev/null; umount /dev/gadget 2>/dev/null; rm -rf "$work"' EXIT

# The user: the caller, or nobody for a caller who is root; in the group audio, which udev
# gives the sound devices to.
IFS=: read -r uid gid <<<"${TQ5_GUEST_CALLER:-0:0}"
[ "$uid" = 0 ] && { uid=65534; gid=65534; }
audio=$(getent group audio | cut -d: -f3)
# A failed update's report goes to a folder of the user's own.
mkdir -p "$work/state" && chown "$uid:$gid" "$work/state"
# Each program execs the next: the pid of a command started with it in the background is
# the updater's own.
as_user=(env HOME="$work" XDG_STATE_HOME="$work/state" XDG_RUNTIME_DIR= setpriv --reuid="$uid" --regid="$gid" --groups="$audio" --)

failed=0
fail() {
  echo "$label: FAILED: $*" >&2
  failed=1
}
now() { date +%s.%N; }
seconds_since() { awk -v a="$1" -v b="$(now)" 'BEGIN { printf "%.1f", b - a }'; }

# The computer's side of the device is there (or gone), as its sequencer port.
wait_for_port() {
  local want=$1
  for _ in $(seq 200); do
    if aconnect -o 2>/dev/null | grep -q "'$product MIDI 1'"; then
      [ "$want" = there ] && return 0
    else
      [ "$want" = gone ] && return 0
    fi
    sleep 0.1
  done
  return 1
}
plug_in() {
  echo dummy_udc.0 >"$gadget/UDC" && wait_for_port there &&
    SYSTEMD_IGNORE_CHROOT=1 udevadm settle --timeout=30
}
unplug() {
  echo "" >"$gadget/UDC" && wait_for_port gone
}

# start_device NAME [tq5-devsim options...]; its report in $work/NAME.state.
start_device() {
  local name=$1
  shift
  state=$work/$name.state
  "$devsim" --state-file "$state" "$@" >"$work/$name.devsim.out" 2>"$work/$name.devsim.err" &
  devsim_pid=$!
  for _ in $(seq 300); do
    grep -qx "tq5-devsim ready" "$work/$name.devsim.out" 2>/dev/null && return 0
    kill -0 "$devsim_pid" 2>/dev/null || break
    sleep 0.1
  done
  cat "$work/$name.devsim.err" >&2
  return 1
}
stop_device() {
  [ -n "$devsim_pid" ] && kill "$devsim_pid" 2>/dev/null && wait "$devsim_pid" 2>/dev/null
  devsim_pid=""
}
flash_state() {
  rm -f "$state"
  kill -USR1 "$devsim_pid" 2>/dev/null || return 1
  # The report waits until the device has handled what it holds: at a line's pace, a while.
  for _ in $(seq 900); do
    [ -s "$state" ] && { cat "$state"; return 0; }
    sleep 0.1
  done
  return 1
}
# The device's report after a whole update: every region holds its image, and no block
# went twice.
check_updated() {
  local report
  report=$(flash_state) || { fail "$1: no flash report"; return; }
  sed "s/^/$label: $1: /" <<<"$report"
  [ "$(grep -c ', holds its image$' <<<"$report")" -eq 5 ] || fail "$1: a region does not hold its image"
  grep -qx "system version: 1.10" <<<"$report" || fail "$1: the system version is not the image's"
  grep -qx "write-block resends: 0" <<<"$report" || fail "$1: blocks were sent twice"
}
update() {  # update LOG: tq5-updater on the ports where the TQ-5 answers, as the user
  "${as_user[@]}" "$updater" --api alsa update >"$work/$1.out" 2>"$work/$1.err" &&
    grep -q "$product MIDI 1" "$work/$1.err"
}

echo "=== 1. the driver contract on a USB MIDI device that pushes back"
unplug || fail "the kernel's gadget did not go"
mkdir -p /dev/gadget && mount -t gadgetfs gadgetfs /dev/gadget || fail "no gadgetfs"
"$contract" --gtest_brief=1 || fail "the driver contract"
wait_for_port gone

# din_pace NAME [tq5-devsim options...]: an update in front of a 31,250-baud line (a block
# takes 1.5 s on it), stopped once the device has seen more than 20 write blocks; none of
# them came twice. (The device reports between two requests only: one kept busy by blocks
# sent again does not report until the updater has been stopped.)
din_pace() {
  local name=$1 sent=0 report deadline=$((SECONDS + 240))
  shift
  start_device "$name" "$@" --din-timing || { fail "$name: no device"; return; }
  wait_for_port there && SYSTEMD_IGNORE_CHROOT=1 udevadm settle --timeout=30
  "${as_user[@]}" "$updater" --api alsa update \
    >"$work/$name.out" 2>"$work/$name.err" &
  updater_pid=$!
  while [ "${sent:-0}" -le 20 ] && [ "$SECONDS" -lt "$deadline" ] &&
    kill -0 "$updater_pid" 2>/dev/null; do
    sleep 4
    report=$(flash_state) || break
    sent=$(sed -n 's/.*write-block \([0-9]*\).*/\1/p' <<<"$report")
  done
  kill -INT "$updater_pid" 2>/dev/null
  wait "$updater_pid" 2>/dev/null
  updater_pid=""
  report=$(flash_state)
  grep '^requests:\|^write-block resends:' <<<"$report" | sed "s/^/$label: $name: /"
  sent=$(sed -n 's/.*write-block \([0-9]*\).*/\1/p' <<<"$report")
  [ "${sent:-0}" -gt 20 ] || { fail "$name: fewer than 21 write blocks went"; cat "$work/$name.out" "$work/$name.err"; }
  grep -qx "write-block resends: 0" <<<"$report" || fail "$name: write blocks were sent twice"
  stop_device
}

echo "=== 2. in front of a 31,250-baud line that pushes back: the first 20 write blocks"
din_pace din-pushing-back --api usb-gadget
umount /dev/gadget
wait_for_port gone

echo "=== 3. the kernel's own USB MIDI gadget: a whole update at full pace, then Version Check"
plug_in || fail "the kernel's gadget did not come back"
start_device full --api rawmidi --device hw:TQ5gadget,0 || fail "no tq5-devsim on hw:TQ5gadget,0"
started=$(now)
if update full; then
  echo "$label: full: update completed in $(seconds_since "$started") s"
  check_updated full
else
  fail "the update at full pace"
  cat "$work/full.out" "$work/full.err"
fi
if "${as_user[@]}" "$updater" --api alsa version >"$work/version.out" 2>&1; then
  sed "s/^/$label: version: /" "$work/version.out"
  grep -q "^SYSTEM:.*1\.10 -> 1\.10" "$work/version.out" || fail "Version Check: no system version"
else
  fail "Version Check"
  cat "$work/version.out"
fi
stop_device

echo "=== 4. in front of a 31,250-baud line that the gadget does not show: the first 20 blocks"
din_pace din-taking-all --api rawmidi --device hw:TQ5gadget,0

echo "=== 5. unplugged while writing, then plugged in again"
start_device unplug --api rawmidi --device hw:TQ5gadget,0 || fail "no tq5-devsim for the unplugging"
"${as_user[@]}" "$updater" --api alsa update \
  >"$work/unplug.out" 2>"$work/unplug.err" &
updater_pid=$!
for _ in $(seq 600); do
  grep -q "^9/10  writing" "$work/unplug.out" && break
  kill -0 "$updater_pid" 2>/dev/null || break
  sleep 0.1
done
sleep 1
unplugged=$(now)
unplug || fail "the gadget did not go"
echo "$label: unplug: the gadget went in $(seconds_since "$unplugged") s"
for _ in $(seq 600); do kill -0 "$updater_pid" 2>/dev/null || break; sleep 0.1; done
wait "$updater_pid"
rc=$?
updater_pid=""
ended=$(seconds_since "$unplugged")
echo "$label: unplug: exit code $rc, $ended s after the unplugging"
sed "s/^/$label: unplug: /" "$work/unplug.err" | tail -n 3
[ "$rc" -eq 1 ] || fail "exit code $rc after the unplugging"
if ! awk -v s="$ended" 'BEGIN { exit !(s < 20) }'; then
  fail "the update ran on for $ended s"
  cat "$work/unplug.out" "$work/unplug.devsim.out"
  dmesg | tail -n 30
fi
grep -q "went away while writing" "$work/unplug.err" || fail "no line that the TQ-5 went away"
grep -q 'run `tq5-updater update`: that completes the update' "$work/unplug.err" ||
  fail "the line does not say that running update again completes it"
grep -qx "midi.device-gone: yes" "$work"/state/tq5-updater/failed-update-*.txt 2>/dev/null ||
  fail "no report that names the device gone"
plug_in || fail "the gadget did not come back"
for _ in $(seq 100); do
  grep -q "is back$" "$work/unplug.devsim.out" && break
  sleep 0.1
done
started=$(now)
if update replugged; then
  echo "$label: replugged: update completed in $(seconds_since "$started") s"
  check_updated replugged
else
  fail "the update after plugging in again"
  cat "$work/replugged.out" "$work/replugged.err"
fi
stop_device

[ "$failed" -eq 0 ] && echo "$label: all passed"
exit "$failed"
