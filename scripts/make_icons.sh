#!/usr/bin/env bash
# Redraws the application icon's PNG sizes from its SVG (needs rsvg-convert, Debian's
# librsvg2-bin). The PNGs are kept in the tree so a build needs no SVG renderer.
#   scripts/make_icons.sh
set -euo pipefail
cd "$(dirname "$0")/../packaging/linux/icons"
for size in 16 24 32 48 64 128 256 512; do
  mkdir -p "${size}x${size}"
  rsvg-convert -w "$size" -h "$size" org.morvane.Morvane.svg -o "${size}x${size}/org.morvane.Morvane.png"
done
