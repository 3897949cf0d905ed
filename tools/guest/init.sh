#!/bin/busybox sh
# The guest's first process (busybox sh from the initramfs). Mounts the host's / read-only
# over 9p with a throw-away tmpfs layer on top, the run folder and the writable folders
# over 9p at their host paths, loads the ALSA sequencer with its dummy ("Midi Through") and
# virtual MIDI ("VirMIDI") ports (no VirMIDI card with tq5.no_virmidi on the kernel's command
# line), runs the command that tools/guest/run-in-guest.sh left in the run folder, stores
# its exit code there and powers off.
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
