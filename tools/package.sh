#!/usr/bin/env bash
# Builds what users download and leaves it in build/:
#   build/tq5-updater_<version>_<arch>.deb          tq5-updater and tq5-devsim, man pages
#   build/tq5-updater-<version>-windows-x64.zip     Updater.exe and README.txt
# The Linux side comes from preset release, the Windows side from preset mingw; only the
# programs are built, not the tests. tools/package-test.sh checks both packages.
#
#   tools/package.sh                                  the images preset release is set up with
#                                                     (the generated placeholders by default)
#   TQ5_FIRMWARE_DIR=/path/to/images tools/package.sh real images (129.bin ... 142.bin)
#   TQ5_FIRMWARE_DIR= tools/package.sh                the generated placeholders
set -euo pipefail
cd "$(dirname "$0")/.."

jobs=$(nproc)
# The dates in the changelog and the man pages are the last commit's, so the same tree gives
# the same packages.
export SOURCE_DATE_EPOCH=${SOURCE_DATE_EPOCH:-$(git log -1 --format=%ct 2>/dev/null || date +%s)}
if [ -n "${TQ5_FIRMWARE_DIR+set}" ]; then
  images=$TQ5_FIRMWARE_DIR
else
  images=$(sed -n 's/^TQ5_FIRMWARE_DIR:PATH=//p' build/release/CMakeCache.txt 2>/dev/null || true)
fi
[ -z "$images" ] || images=$(realpath "$images")

# Runs cpack in <build-dir>/packages and copies the package it makes to build/.
make_package() {
  local build_dir=$1 made
  rm -rf "$build_dir/packages"
  cpack --config "$build_dir/CPackConfig.cmake" -B "$build_dir/packages"
  made=$(find "$build_dir/packages" -maxdepth 1 -type f \( -name '*.deb' -o -name '*.zip' \))
  [ -n "$made" ] || { echo "package.sh: cpack made no package in $build_dir" >&2; exit 1; }
  cp $made build/
  for f in $made; do echo "package.sh: build/$(basename "$f") ($(stat -c %s "$f") bytes)"; done
}

echo "=== package: Linux (preset release)"
# Passed to both presets, so that both packages carry the same images.
cmake --preset release -DTQ5_FIRMWARE_DIR="$images" >/dev/null
cmake --build --preset release -j "$jobs" --target tq5-updater tq5-devsim tq5_package_files
make_package build/release

echo "=== package: Windows (preset mingw)"
windows_images=(-DTQ5_FIRMWARE_DIR="$images")
if [ -z "$images" ]; then
  # The generator built for Linux writes the same bytes as its Windows build would under
  # Wine, so packaging needs no Wine.
  windows_images+=(-DTQ5_FIRMWARE_GENERATOR="$PWD/build/release/firmware/tq5_firmware_generator")
fi
cmake --preset mingw "${windows_images[@]}" >/dev/null
cmake --build --preset mingw -j "$jobs" --target tq5_package_files
make_package build/mingw
