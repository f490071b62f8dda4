#!/usr/bin/env bash
# Regenerates the about page's logo with ImageMagick: 24 bits on white, the
# colour the page leaves out when it draws the logo.
set -euo pipefail
cd "$(dirname "$0")"
convert -size 150x40 xc:white +antialias \
  -fill '#b5552f' -draw "roundrectangle 0,0 149,39 8,8" \
  -fill '#fbe9dc' -font DejaVu-Sans-Bold -pointsize 15 -annotate +8+26 'Korvell Chronel' \
  -type TrueColor BMP3:logo.bmp
