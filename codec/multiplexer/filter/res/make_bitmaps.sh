#!/usr/bin/env bash
# Regenerates the property pages' bitmaps with ImageMagick: the logo of the
# about page (32-bit, per-pixel alpha) and the parameter editor's tree images
# (twenty 8 x 16 images in one strip, magenta is transparent).
set -euo pipefail
cd "$(dirname "$0")"
T=$(mktemp -d)
trap 'rm -rf "$T"' EXIT
BOLD=DejaVu-Sans-Bold

# Logo: a rounded badge with a soft shadow on a transparent ground.
convert -size 150x44 xc:none \
  -fill '#00000040' -draw "roundrectangle 3,4 148,42 9,9" \
  -fill '#1f4e79' -draw "roundrectangle 0,0 144,38 9,9" \
  -fill '#e8413c' -draw "circle 19,19 19,9" \
  -fill '#f2f5f8' -draw "polygon 15,13 26,19 15,25" \
  -fill '#f2f5f8' -font "$BOLD" -pointsize 17 -annotate +36+26 'Muxteron' \
  "$T/logo.png"
convert "$T/logo.png" -define bmp3:alpha=true BMP3:logo.bmp

# Tree images: 0-1 spare, 2 stream, 3 ended stream, 4 program stream muxer,
# 11 program stream program, 12 transport stream muxer, 19 transport program.
convert -size 160x16 xc:magenta "$T/strip.png"
glyph() {  # index fill draw
  local x=$(($1 * 8))
  convert "$T/strip.png" -fill "$2" -draw "translate $x,0 $3" "$T/strip.png"
}
for i in 0 1 5 6 7 8 9 10 13 14 15 16 17 18; do glyph "$i" '#8a96a6' "rectangle 2,6 5,9"; done
glyph 2 '#2e8b57' "circle 3,8 3,5"
glyph 3 '#9a9a9a' "circle 3,8 3,5"
glyph 4 '#1f4e79' "rectangle 0,3 7,12"
glyph 11 '#e08a1e' "polygon 0,3 7,8 0,13"
glyph 12 '#7a1f79' "rectangle 0,3 7,12"
glyph 19 '#1e7ae0' "polygon 0,3 7,8 0,13"
convert "$T/strip.png" -type TrueColor BMP3:nodes.bmp
