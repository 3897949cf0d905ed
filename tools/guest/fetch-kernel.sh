#!/usr/bin/env bash
# Fetches Debian's kernel for the guest (tools/guest/run-in-guest.sh) and keeps what the guest
# boots: the kernel as an ELF image (it boots faster under emulation than the compressed one)
# and the few modules it loads (virtio, 9p, overlayfs, the ALSA sequencer with its dummy and
# virtual MIDI ports), in their load order. The package is downloaded with apt-get and
# unpacked into a scratch folder, never installed: the host's /boot stays as it is.
#
#   tools/guest/fetch-kernel.sh          (as root, from tools/install-deps.sh)
#
# The result goes to $TQ5_GUEST_KERNEL_DIR (default /var/cache/tq5-guest); a second run
# with the same kernel version does nothing.
set -euo pipefail

cache=${TQ5_GUEST_KERNEL_DIR:-/var/cache/tq5-guest}
# The modules the guest's init loads, each after those it needs.
wanted=(virtio_pci 9pnet_virtio 9p overlay snd-seq snd-seq-dummy snd-virmidi snd-hrtimer)

# linux-image-amd64 is a meta package; its dependency names the kernel itself.
package=$(apt-cache depends linux-image-amd64 2>/dev/null |
  sed -n 's/^ *Depends: \(linux-image-[0-9][^ ]*-amd64\)$/\1/p' | head -n 1)
if [ -z "$package" ]; then
  echo "fetch-kernel: apt knows no linux-image-amd64 (run apt-get update first)" >&2
  exit 1
fi
version=${package#linux-image-}
target="$cache/$version"
if [ -s "$target/vmlinux" ] && [ -s "$target/modules/order" ]; then
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
dpkg-deb --fsys-tarfile "$deb" | tar -x -C "$scratch" \
  --wildcards './boot/vmlinuz-*' './lib/modules/*/modules.*' \
  './lib/modules/*/kernel/sound/*' './lib/modules/*/kernel/fs/*' \
  './lib/modules/*/kernel/net/9p/*' './lib/modules/*/kernel/drivers/virtio/*'
depmod -b "$scratch" "$version"

mkdir -p "$target.partial/modules"
order="$target.partial/modules/order"
: >"$order"
for module in "${wanted[@]}"; do
  modprobe -d "$scratch" -S "$version" --show-depends "$module" | while read -r verb path _; do
    [ "$verb" = insmod ] || continue
    name=$(basename "$path")
    grep -qx "$name" "$order" && continue
    cp "$path" "$target.partial/modules/$name"
    echo "$name" >>"$order"
  done
done

# The compressed image carries an xz stream; what it unpacks to is the ELF kernel.
vmlinuz="$scratch/boot/vmlinuz-$version"
offset=$(LC_ALL=C grep -obUaP '\xFD7zXZ\x00' "$vmlinuz" | head -n 1 | cut -d: -f1 || true)
if [ -n "$offset" ]; then
  tail -c +$((offset + 1)) "$vmlinuz" | xz -dcq >"$target.partial/vmlinux" 2>/dev/null || true
fi
if [ "$(head -c 4 "$target.partial/vmlinux" 2>/dev/null | od -An -tx1 | tr -d ' ')" != 7f454c46 ]; then
  # No ELF inside: boot the compressed image as it is (slower under emulation).
  cp "$vmlinuz" "$target.partial/vmlinux"
fi
rm -rf "$target"
mv "$target.partial" "$target"
ln -sfn "$version" "$cache/current"
echo "fetch-kernel: $package ready in $target ($(wc -l <"$target/modules/order") modules)"
