#!/usr/bin/env bash
# Fetches Debian's kernel for the guest (tools/guest/run-in-guest.sh) and keeps what the guest
# boots: the kernel as an ELF image (it boots faster under emulation than the compressed one)
# and the few modules it loads (virtio, 9p, overlayfs, the ALSA sequencer with its dummy and
# virtual MIDI ports), in their load order; beside them, the modules of a USB MIDI device
# that the guest makes of itself when asked (dummy_hcd, a configfs gadget with the MIDI
# function, gadgetfs, the kernel's USB MIDI driver and the sequencer's port for it). The
# package is downloaded with apt-get and unpacked into a scratch folder, never installed:
# the host's /boot stays as it is.
#
#   tools/guest/fetch-kernel.sh          (as root, from tools/install-deps.sh)
#
# The result goes to $TQ5_GUEST_KERNEL_DIR (default /var/cache/tq5-guest), into a folder
# named after the kernel and the module lists, which the link `current` names. Guests of
# other users may start from the cache at any moment: a new folder is made beside the old
# ones, the link is switched in one rename, and no folder in use is removed. A second run
# with the same kernel and lists does nothing.
set -euo pipefail

cache=${TQ5_GUEST_KERNEL_DIR:-/var/cache/tq5-guest}
# The modules the guest's init loads, each after those it needs (modules/order).
wanted=(virtio_pci 9pnet_virtio 9p overlay snd-seq snd-seq-dummy snd-virmidi snd-hrtimer)
# Loaded after them only in a guest with a USB MIDI device (modules/usb-order).
usb_wanted=(configfs dummy_hcd libcomposite usb_f_midi gadgetfs snd-usb-audio snd-seq-midi)

# linux-image-amd64 is a meta package; its dependency names the kernel itself.
package=$(apt-cache depends linux-image-amd64 2>/dev/null |
  sed -n 's/^ *Depends: \(linux-image-[0-9][^ ]*-amd64\)$/\1/p' | head -n 1)
if [ -z "$package" ]; then
  echo "fetch-kernel: apt knows no linux-image-amd64 (run apt-get update first)" >&2
  exit 1
fi
version=${package#linux-image-}
# Where in the package the modules (and all they need) are; the kernel's media controller
# is one of snd-usb-audio's needs.
trees=(sound fs net/9p drivers/virtio drivers/usb drivers/media/mc)
lists=$(printf '%s\n' "${wanted[@]}" -- "${usb_wanted[@]}" -- "${trees[@]}" | md5sum | cut -c1-8)
target="$cache/$version-$lists"

# Points `current` at the target in one step: a guest starting now sees the old folder or
# the new one, never none.
switch_current() {
  mkdir -p "$cache"
  ln -sfn "$(basename "$target")" "$cache/.current.$$"
  mv -T "$cache/.current.$$" "$cache/current"
}

if [ -s "$target/vmlinux" ] && [ -s "$target/modules/order" ] && [ -s "$target/modules/usb-order" ]; then
  switch_current
  echo "fetch-kernel: $package is ready in $target"
  exit 0
fi

scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
echo "fetch-kernel: downloading $package"
# apt's sandbox user can't write into a root-owned mktemp folder; the download is read by
# this script only.
(cd "$scratch" && apt-get download -q "$package" 2>&1 | grep -v "^W: Download is performed unsandboxed" || true)
deb=$(ls "$scratch"/*.deb 2>/dev/null | head -n 1)
[ -n "$deb" ] || { echo "fetch-kernel: apt-get download $package failed" >&2; exit 1; }
members=('./boot/vmlinuz-*' './lib/modules/*/modules.*')
for tree in "${trees[@]}"; do members+=("./lib/modules/*/kernel/$tree/*"); done
dpkg-deb --fsys-tarfile "$deb" | tar -x -C "$scratch" --wildcards "${members[@]}"
depmod -b "$scratch" "$version"

partial="$target.partial.$$"
rm -rf "$partial"
mkdir -p "$partial/modules"
# keep LIST MODULE...: copies each module and what it needs, in load order, and names them
# in modules/LIST, leaving out what an earlier list loads already.
keep() {
  local list="$partial/modules/$1" module verb path name
  shift
  : >"$list"
  for module in "$@"; do
    modprobe -d "$scratch" -S "$version" --show-depends "$module" | while read -r verb path _; do
      [ "$verb" = insmod ] || continue
      name=$(basename "$path")
      grep -qxF "$name" "$partial/modules/"*order && continue
      cp "$path" "$partial/modules/$name"
      echo "$name" >>"$list"
    done
  done
}
keep order "${wanted[@]}"
keep usb-order "${usb_wanted[@]}"

# The compressed image carries an xz stream; what it unpacks to is the ELF kernel.
vmlinuz="$scratch/boot/vmlinuz-$version"
offset=$(LC_ALL=C grep -obUaP '\xFD7zXZ\x00' "$vmlinuz" | head -n 1 | cut -d: -f1 || true)
if [ -n "$offset" ]; then
  tail -c +$((offset + 1)) "$vmlinuz" | xz -dcq >"$partial/vmlinux" 2>/dev/null || true
fi
if [ "$(head -c 4 "$partial/vmlinux" 2>/dev/null | od -An -tx1 | tr -d ' ')" != 7f454c46 ]; then
  # No ELF inside: boot the compressed image as it is (slower under emulation).
  cp "$vmlinuz" "$partial/vmlinux"
fi
# A folder of this name that is there is incomplete (the check above), so `current` never
# named it.
rm -rf "$target"
mv -T "$partial" "$target"
switch_current
echo "fetch-kernel: $package ready in $target ($(cat "$target/modules/"*order | wc -l) modules)"
