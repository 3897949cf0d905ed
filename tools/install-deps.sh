#!/usr/bin/env bash
# Installs the Debian 12 packages that building, testing and running need. Idempotent:
# only missing packages are fetched. Run as root (CI) or through sudo.
set -euo pipefail

packages=(
  build-essential cmake ninja-build pkg-config git
  libgtest-dev googletest libbenchmark-dev zlib1g-dev
  clang-14 libclang-rt-14-dev
  librtmidi-dev libasound2-dev libjack-jackd2-dev jackd2 libcli11-dev
  g++-mingw-w64-x86-64-posix binutils-mingw-w64-x86-64 mingw-w64-tools
  wine wine64 xvfb xauth xdotool imagemagick
  emscripten chromium
)
# The page's browser tests run on node (20 or later for playwright-core). Machines that come
# with Node.js and npm keep theirs; elsewhere Debian's are installed.
command -v node >/dev/null 2>&1 || packages+=(nodejs)
command -v npm >/dev/null 2>&1 || packages+=(npm)

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
install_web_test_packages() {
  # playwright-core drives Debian's chromium; it never downloads a browser of its own.
  (cd "$(dirname "$0")/../tests/web" && npm ci --no-audit --no-fund --loglevel=error)
}
if [ ${#missing[@]} -eq 0 ]; then
  echo "install-deps: everything is installed"
  install_web_test_packages
  exit 0
fi
echo "install-deps: installing ${missing[*]}"
SUDO=""
[ "$(id -u)" -eq 0 ] || SUDO=sudo
export DEBIAN_FRONTEND=noninteractive
# jackd2 asks about realtime priority; answer it up front.
echo "jackd2 jackd/tweak_rt_limits boolean false" | $SUDO debconf-set-selections
$SUDO apt-get update -qq
$SUDO apt-get install -y -qq "${missing[@]}"
install_web_test_packages
