#!/usr/bin/env bash
# Installs the Debian 12 packages that building, testing and running need. Idempotent:
# only missing packages are fetched. Run as root (CI) or through sudo.
set -euo pipefail

packages=(
  build-essential cmake ninja-build pkg-config git
  libgtest-dev googletest libbenchmark-dev zlib1g-dev
  clang-14 libclang-rt-14-dev clang-format
  librtmidi-dev libasound2-dev libjack-jackd2-dev jackd2 libcli11-dev
  g++-mingw-w64-x86-64-posix binutils-mingw-w64-x86-64 mingw-w64-tools
  wine wine64 xvfb xauth xdotool imagemagick
  dpkg-dev help2man lintian man-db jq
  emscripten chromium
)
# The page's browser tests run on node (20 or later for playwright-core). Machines that come
# with Node.js and npm keep theirs; elsewhere Debian's are installed.
command -v node >/dev/null 2>&1 || packages+=(nodejs)
command -v npm >/dev/null 2>&1 || packages+=(npm)
# The guest kernel that runs the tests through the real ALSA sequencer (tools/guest/), and
# what unpacks its kernel (kmod, xz-utils); qemu's recommendations (its GUI, firmware for
# other machines) are not needed. A guest with a USB MIDI device runs the host's udev daemon.
guest_packages=(qemu-system-x86 busybox-static alsa-utils kmod xz-utils udev)

not_installed() {
  for p in "$@"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || echo "$p"
  done
}
mapfile -t missing < <(not_installed "${packages[@]}")
mapfile -t missing_guest < <(not_installed "${guest_packages[@]}")
SUDO=""
[ "$(id -u)" -eq 0 ] || SUDO=sudo
export DEBIAN_FRONTEND=noninteractive
if [ ${#missing[@]} -eq 0 ] && [ ${#missing_guest[@]} -eq 0 ]; then
  echo "install-deps: every package is installed"
else
  echo "install-deps: installing ${missing[*]} ${missing_guest[*]}"
  # jackd2 asks about realtime priority; answer it up front.
  echo "jackd2 jackd/tweak_rt_limits boolean false" | $SUDO debconf-set-selections
  $SUDO apt-get update -qq
  [ ${#missing[@]} -eq 0 ] || $SUDO apt-get install -y -qq "${missing[@]}"
  [ ${#missing_guest[@]} -eq 0 ] ||
    $SUDO apt-get install -y -qq --no-install-recommends "${missing_guest[@]}"
fi
# Debian's kernel for the guest, unpacked into /var/cache/tq5-guest (never installed).
$SUDO bash "$(dirname "$0")/guest/fetch-kernel.sh"
# playwright-core for the page's browser tests; it drives Debian's chromium and never
# downloads a browser of its own.
(cd "$(dirname "$0")/../tests/web" && npm ci --no-audit --no-fund --loglevel=error)
