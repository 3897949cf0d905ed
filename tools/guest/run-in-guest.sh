#!/usr/bin/env bash
# Runs one command inside a throw-away guest kernel that has the ALSA sequencer ("Midi
# Through" and four "VirMIDI" ports), for tests of real kernel MIDI on a machine without
# sound hardware. The guest sees the host's whole file system read-only under a throw-away
# layer (so the host's programs and build trees run there as they are); only the folders
# named with --writable are written through to the host. The command runs in the current
# folder, with this environment, as the calling user; its output and exit code are this
# script's.
#
#   tools/guest/run-in-guest.sh [--writable DIR]... [--timeout SECONDS] [--cpus N]
#                               [--memory MB] [--no-virmidi] [--usb-midi] [--root]
#                               -- COMMAND [ARGUMENT...]
#
# --no-virmidi leaves out the "VirMIDI" card (its module is not loaded): Chromium lists
# sequencer ports only while every card client it sees is matched by a sound card that udev
# announced as initialised, and the guest runs no udev daemon unless --usb-midi.
# --usb-midi plugs a USB MIDI device made by the guest's kernel in before the command runs
# (product "VARN TQ Series"; its device side is the rawmidi device hw:TQ5gadget,0), with
# udev running; tools/guest/init.sh says how to unplug it.
# --root runs the command as root in the guest (to unplug the USB device, say), with the
# caller's user and group ids in TQ5_GUEST_CALLER ("uid:gid"); the guest is thrown away.
#
# Needs qemu-system-x86_64, busybox (static) and the guest kernel that
# tools/guest/fetch-kernel.sh fetches; tools/install-deps.sh installs all three. Exit code
# 125 (with the reason on stderr) when the guest can't be started or the command does not
# end within the time-out (default 900 s). The guest runs under software emulation: CPU
# work is several times slower there than on the host.
set -euo pipefail

here=$(cd "$(dirname "$0")" && pwd)
kernel_dir=${TQ5_GUEST_KERNEL_DIR:-/var/cache/tq5-guest}/current
cache=${TQ5_GUEST_CACHE:-${XDG_CACHE_HOME:-$HOME/.cache}/tq5-guest}
writable=()
timeout=900
cpus=2
memory=1536
append=""
as_root=""

cannot() {
  echo "run-in-guest: $*" >&2
  exit 125
}
usage() {
  sed -n '/^#   tools/,/^[^#]/p' "$0" | grep '^#' | sed 's/^# \{0,1\}//' >&2
  exit 2
}

while [ $# -gt 0 ]; do
  case "$1" in
    --writable) writable+=("$(cd "$2" && pwd)"); shift 2 ;;
    --timeout) timeout=$2; shift 2 ;;
    --cpus) cpus=$2; shift 2 ;;
    --memory) memory=$2; shift 2 ;;
    --no-virmidi) append+=" tq5.no_virmidi"; shift ;;
    --usb-midi) append+=" tq5.usb_midi"; shift ;;
    --root) as_root=1; shift ;;
    --) shift; break ;;
    -*) usage ;;
    *) break ;;
  esac
done
[ $# -gt 0 ] || usage

command -v qemu-system-x86_64 >/dev/null ||
  cannot "qemu-system-x86_64 is missing (Debian package qemu-system-x86); run tools/install-deps.sh"
# The initramfs has no libraries: only busybox-static's busybox runs there.
busybox=/bin/busybox
linkage=$(LC_ALL=C ldd "$busybox" 2>&1 || true)
[ -x "$busybox" ] && [[ "$linkage" == *"not a dynamic executable"* ]] ||
  cannot "a static busybox is missing (Debian package busybox-static); run tools/install-deps.sh"
[ -s "$kernel_dir/vmlinux" ] && [ -s "$kernel_dir/modules/order" ] ||
  cannot "no guest kernel in $kernel_dir; run tools/install-deps.sh (or tools/guest/fetch-kernel.sh as root)"

# --- the initramfs: busybox, the modules and init.sh; rebuilt when one of them changes ----
# `current` may be switched to a newer kernel folder at any moment: the one it names now is
# the one this guest boots.
kernel_dir=$(readlink -f "$kernel_dir")
version=$(basename "$kernel_dir")
stamp=$(cat "$here/init.sh" "$kernel_dir/modules/"*order | md5sum | cut -c1-12)
initramfs="$cache/initramfs-$version-$stamp.cpio.gz"
mkdir -p "$cache"

# --- the run folder: the command, its environment, and later its output and exit code ----
run=$(mktemp -d "${TMPDIR:-/tmp}/tq5-guest.XXXXXX")
qemu_pid=""
finish() {
  [ -n "$qemu_pid" ] && kill "$qemu_pid" 2>/dev/null
  [ -n "${TQ5_GUEST_KEEP:-}" ] && echo "run folder kept: $run" >&2 || rm -rf "$run"
}
trap finish EXIT
trap 'exit 130' INT TERM

# Guests of other worktrees share the cache, each with an init.sh of its own: the guest
# boots a copy taken under the lock, and only initramfs files a day old are cleared away.
(
  flock 9
  if [ ! -s "$initramfs" ]; then
    tree=$(mktemp -d)
    trap 'rm -rf "$tree"' EXIT
    mkdir -p "$tree/bin" "$tree/proc" "$tree/sys" "$tree/dev" "$tree/modules"
    cp "$busybox" "$tree/bin/busybox"
    cp "$here/init.sh" "$tree/init"
    chmod 0755 "$tree/init"
    cp "$kernel_dir/modules/"* "$tree/modules/"
    (cd "$tree" && find . | "$busybox" cpio -o -H newc 2>/dev/null | gzip -1) >"$initramfs.partial"
    mv "$initramfs.partial" "$initramfs"
    find "$cache" -maxdepth 1 -name 'initramfs-*.cpio.gz' -mmin +1440 -delete
  fi
  touch "$initramfs"
  cp "$initramfs" "$run/initramfs.cpio.gz"
) 9>"$cache/.lock"

caller="$(id -u):$(id -g)"
if [ -n "$as_root" ]; then
  echo 0 >"$run/uid"
  echo 0 >"$run/gid"
else
  id -u >"$run/uid"
  id -g >"$run/gid"
fi
: >"$run/stdout"
: >"$run/stderr"
{
  echo '#!/bin/bash'
  # The caller's environment, less what names this host's display and session.
  export -p | grep -Ev '^declare -x (DISPLAY|XAUTHORITY|WAYLAND_DISPLAY|DBUS_SESSION_BUS_ADDRESS|XDG_RUNTIME_DIR|XDG_SESSION_[A-Z_]*|SSH_[A-Z_]*|TERM|_)='
  printf 'export TQ5_GUEST_CALLER=%q\n' "$caller"
  printf 'cd %q || exit 126\n' "$PWD"
  printf 'exec'
  printf ' %q' "$@"
  printf '\n'
} >"$run/command.sh"

shares=(
  -fsdev "local,id=hostroot,path=/,security_model=none,readonly=on,multidevs=remap"
  -device "virtio-9p-pci,fsdev=hostroot,mount_tag=hostroot"
  -fsdev "local,id=run,path=$run,security_model=none"
  -device "virtio-9p-pci,fsdev=run,mount_tag=run"
)
: >"$run/writable"
n=0
for dir in "${writable[@]}"; do
  n=$((n + 1))
  shares+=(-fsdev "local,id=w$n,path=$dir,security_model=none"
    -device "virtio-9p-pci,fsdev=w$n,mount_tag=w$n")
  echo "w$n $dir" >>"$run/writable"
done

# Software emulation: the nested hypervisor of these machines can't run a stock kernel.
# SMAP off: Wine crashes at start-up under emulation with it on.
qemu-system-x86_64 -accel tcg,thread=multi -cpu max,-smap -smp "$cpus" -m "$memory" \
  -kernel "$kernel_dir/vmlinux" -initrd "$run/initramfs.cpio.gz" \
  -append "console=ttyS0 quiet loglevel=3 panic=-1 rdinit=/init$append" \
  "${shares[@]}" -nodefaults -display none -no-reboot \
  -serial "file:$run/console.log" -monitor none >"$run/qemu.log" 2>&1 &
qemu_pid=$!

# The command's output as it comes: what the files gained since the last look.
shown_out=0
shown_err=0
show_output() {
  local size
  size=$(stat -c %s "$run/stdout")
  if [ "$size" -gt "$shown_out" ]; then
    tail -c +$((shown_out + 1)) "$run/stdout" | head -c $((size - shown_out))
    shown_out=$size
  fi
  size=$(stat -c %s "$run/stderr")
  if [ "$size" -gt "$shown_err" ]; then
    tail -c +$((shown_err + 1)) "$run/stderr" | head -c $((size - shown_err)) >&2
    shown_err=$size
  fi
}

deadline=$((SECONDS + timeout))
while kill -0 "$qemu_pid" 2>/dev/null && [ ! -f "$run/rc" ]; do
  if [ "$SECONDS" -ge "$deadline" ]; then
    kill "$qemu_pid" 2>/dev/null
    wait "$qemu_pid" 2>/dev/null || true
    qemu_pid=""
    cannot "the command did not end within $timeout s; the guest was stopped"
  fi
  show_output
  sleep 0.2
done
for _ in $(seq 50); do  # the guest powers off right after writing the exit code
  kill -0 "$qemu_pid" 2>/dev/null || break
  sleep 0.1
done
wait "$qemu_pid" 2>/dev/null || true
qemu_pid=""
show_output
if [ ! -f "$run/rc" ]; then
  echo "run-in-guest: the guest ended without running the command. qemu said:" >&2
  cat "$run/qemu.log" "$run/console.log" >&2
  exit 125
fi
exit "$(cat "$run/rc")"
