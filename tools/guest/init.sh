#!/bin/busybox sh
# The guest's first process (busybox sh from the initramfs). Mounts the host's / read-only
# over 9p with a throw-away tmpfs layer on top, the run folder and the writable folders
# over 9p at their host paths, loads the ALSA sequencer with its dummy ("Midi Through") and
# virtual MIDI ("VirMIDI") ports (no VirMIDI card with tq5.no_virmidi on the kernel's command
# line), runs the command that tools/guest/run-in-guest.sh left in the run folder, stores
# its exit code there and powers off.
#
# With tq5.usb_midi on the command line the guest also has a USB MIDI device made by the
# kernel itself, plugged in before the command starts: a configfs gadget "tq5" with the MIDI
# function (card id TQ5gadget, the device's side: rawmidi hw:TQ5gadget,0) on dummy_hcd's
# device controller dummy_udc.0, whose host side the kernel's USB MIDI driver drives (card
# "VARN TQ Series", sequencer client 'VARN TQ Series'). udev runs, as on a desktop: it
# announces the sound cards (Chromium lists sequencer ports only for announced cards) and
# gives /dev/snd/* to the group audio. Unplugging and plugging in again, as root:
#   echo "" >/sys/kernel/config/usb_gadget/tq5/UDC; echo dummy_udc.0 >.../UDC
/bin/busybox --install -s /bin
export PATH=/bin
mount -t proc proc /proc
mount -t sysfs sysfs /sys
mount -t devtmpfs devtmpfs /dev

say() { echo "guest: $*" >/dev/console; }
say "init $(cat /proc/uptime)"
cmdline=" $(cat /proc/cmdline) "
while read -r module; do
  case "$cmdline" in
    *" tq5.no_virmidi "*) [ "$module" = snd-virmidi.ko ] && continue ;;
  esac
  insmod "/modules/$module" || say "insmod $module failed"
done </modules/order
usb_midi=""
case "$cmdline" in
  *" tq5.usb_midi "*)
    usb_midi=1
    while read -r module; do
      insmod "/modules/$module" || say "insmod $module failed"
    done </modules/usb-order
    ;;
esac
say "modules $(cat /proc/uptime)"

# 9p over virtio: 512 KB messages; the host's root is never written, so its metadata is
# cached; the shared folders are not.
ninep="trans=virtio,version=9p2000.L,msize=524288"
mkdir -p /lower /layer /root /run-dir
mount -t 9p -o "$ninep,ro,cache=loose" hostroot /lower || say "no host root"
mount -t tmpfs -o mode=0755 tmpfs /layer
mkdir -p /layer/upper /layer/work
mount -t overlay -o lowerdir=/lower,upperdir=/layer/upper,workdir=/layer/work overlay /root ||
  say "no overlay"
mount -t 9p -o "$ninep" run /run-dir || say "no run folder"

new=/root
mount -t proc proc $new/proc
mount -t sysfs sysfs $new/sys
mount -t devtmpfs devtmpfs $new/dev
mkdir -p $new/dev/pts $new/dev/shm
ln -s /proc/self/fd $new/dev/fd
ln -s /proc/self/fd/0 $new/dev/stdin
ln -s /proc/self/fd/1 $new/dev/stdout
ln -s /proc/self/fd/2 $new/dev/stderr
mount -t devpts -o mode=0620,ptmxmode=0666 devpts $new/dev/pts
mount -t tmpfs -o mode=1777 tmpfs $new/dev/shm
mount -t tmpfs -o mode=0755 tmpfs $new/run
mkdir -p $new/run/tq5-guest
mount --bind /run-dir $new/run/tq5-guest
# writable: one "tag path" line per folder shared writable at its host path
if [ -f /run-dir/writable ]; then
  while read -r tag path; do
    mkdir -p "$new$path"
    mount -t 9p -o "$ninep" "$tag" "$new$path" || say "can't mount $path"
  done </run-dir/writable
fi
# The sequencer for every user: the caller runs as itself.
chmod 0666 /dev/snd/* $new/dev/snd/* 2>/dev/null
say "mounted $(cat /proc/uptime)"

# The USB MIDI device (see the top). udev first, so that it sees the cards come.
if [ -n "$usb_midi" ]; then
  mount -t configfs configfs $new/sys/kernel/config || say "no configfs"
  chroot $new /lib/systemd/systemd-udevd --daemon 2>/dev/null ||
    say "no udevd"
  gadget=$new/sys/kernel/config/usb_gadget/tq5
  mkdir $gadget
  echo 0x1d6b >$gadget/idVendor   # Linux Foundation
  echo 0x0104 >$gadget/idProduct  # Multifunction Composite Gadget
  mkdir $gadget/strings/0x409
  echo "VARN" >$gadget/strings/0x409/manufacturer
  echo "VARN TQ Series" >$gadget/strings/0x409/product
  mkdir $gadget/functions/midi.usb0
  echo TQ5gadget >$gadget/functions/midi.usb0/id
  mkdir $gadget/configs/c.1
  ln -s $gadget/functions/midi.usb0 $gadget/configs/c.1/
  echo dummy_udc.0 >$gadget/UDC || say "the USB MIDI device could not be plugged in"
  # What was there before udev: its own device nodes, the sequencer's among them.
  # (udevadm does nothing in a chroot unless told that this one is meant.)
  SYSTEMD_IGNORE_CHROOT=1 chroot $new /bin/udevadm trigger --action=add --subsystem-match=sound
  for _ in $(seq 200); do
    grep -q "VARN TQ Series" /proc/asound/cards && break
    sleep 0.1
  done
  SYSTEMD_IGNORE_CHROOT=1 chroot $new /bin/udevadm settle --timeout=60
  grep -q "VARN TQ Series" /proc/asound/cards || say "no USB MIDI card"
  say "usb midi $(cat /proc/uptime)"
fi
ip link set lo up 2>/dev/null
hostname tq5-guest

uid=$(cat /run-dir/uid)
gid=$(cat /run-dir/gid)
if [ "$uid" = 0 ]; then
  chroot $new /bin/bash /run/tq5-guest/command.sh </dev/null >/run-dir/stdout 2>/run-dir/stderr
else
  chroot $new /usr/bin/setpriv --reuid="$uid" --regid="$gid" --clear-groups \
    /bin/bash /run/tq5-guest/command.sh </dev/null >/run-dir/stdout 2>/run-dir/stderr
fi
echo $? >/run-dir/rc.partial
say "ran $(cat /proc/uptime)"
mv /run-dir/rc.partial /run-dir/rc
sync
poweroff -f
