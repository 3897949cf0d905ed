#!/usr/bin/env bash
# Draws the updater's icon (resource 128): a MIDI socket on a blue tile with an arrow that
# carries new firmware into it. Writes app/win32/res/updater.ico with 16, 32 and 48 px
# images. Needs ImageMagick; the .ico is committed, so only a change of the drawing needs it.
set -euo pipefail
cd "$(dirname "$0")/.."
out=app/win32/res/updater.ico
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# Drawn once at 256 px on a 256-unit grid, then scaled down.
convert -size 256x256 xc:none \
  -fill '#1d4f91' -stroke '#0d2f5f' -strokewidth 6 -draw 'roundrectangle 10,10 246,246 40,40' \
  -fill '#f4f6fa' -stroke none -draw 'circle 128,140 128,54' \
  -fill '#1d4f91' -draw 'circle 128,140 128,74' \
  -fill '#f4f6fa' \
  -draw 'circle 78,140 78,128' -draw 'circle 178,140 178,128' \
  -draw 'circle 92,104 92,92' -draw 'circle 164,104 164,92' \
  -draw 'circle 128,90 128,78' \
  -draw 'rectangle 116,206 140,226' \
  -fill '#f5a623' -stroke '#8a5a00' -strokewidth 4 \
  -draw 'polygon 104,118 152,118 152,150 176,150 128,196 80,150 104,150' \
  "$work/icon-256.png"

for size in 48 32 16; do
  convert "$work/icon-256.png" -filter Lanczos -resize ${size}x${size} \
    -define png:color-type=6 "$work/icon-$size.png"
done
convert "$work/icon-16.png" "$work/icon-32.png" "$work/icon-48.png" "$out"
identify "$out"
