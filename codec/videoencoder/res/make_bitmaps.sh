#!/usr/bin/env bash
# Regenerates the about page's logo with ImageMagick: 32 bits with per-pixel
# alpha, drawn without antialiasing so every pixel is fully opaque or fully
# clear (the page blends it as premultiplied).
set -euo pipefail
cd "$(dirname "$0")"
convert -size 150x40 xc:none +antialias \
  -fill '#2f6db5' -draw "roundrectangle 0,0 149,39 8,8" \
  -fill white -font DejaVu-Sans-Bold -pointsize 16 -annotate +10+26 'Korvell Video' \
  -define bmp:format=bmp4 BMP:logo.bmp
