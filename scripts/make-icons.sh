#!/usr/bin/env bash
# Renders the program icon's PNG sizes from resources/icons/orbelan.svg with rsvg-convert
# (Debian package librsvg2-bin). The PNGs are committed; run this after changing the drawing.
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
icons="$here/resources/icons"
for size in 16 22 24 32 48 64 128 256; do
  rsvg-convert --width "$size" --height "$size" "$icons/orbelan.svg" --output "$icons/orbelan-$size.png"
done
