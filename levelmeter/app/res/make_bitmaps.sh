#!/usr/bin/env bash
# Regenerates the meter's bitmaps and icon with ImageMagick.
set -euo pipefail
cd "$(dirname "$0")"
T=$(mktemp -d)
trap 'rm -rf "$T"' EXIT
SANS=DejaVu-Sans
out() { convert "$1" -colors 256 -type Palette BMP3:"$2"; }

# Background of the client area: a light panel with the channel letters
# under the bars and the labels of the two buttons.
convert -size 93x240 gradient:'#e9edf2-#c9d1db' \
  -fill '#4a5566' -font "$SANS" -pointsize 9 -annotate +13+172 'L' -annotate +33+172 'R' \
  -annotate +60+172 'Vol' \
  -pointsize 8 -annotate +27+189 'Limit' -annotate +27+209 'Reset' \
  "$T/buttons.png"
out "$T/buttons.png" BUTTONS.bmp

# A round button, released and pressed (20 x 20).
convert -size 20x20 xc:'#d5dbe3' -fill '#f4f6f9' -stroke '#6b778a' -draw "circle 10,10 10,2" "$T/up.png"
out "$T/up.png" BUTTONUP.bmp
convert -size 20x20 xc:'#d5dbe3' -fill '#3cf078' -stroke '#2c5a3b' -draw "circle 10,10 10,2" "$T/down.png"
out "$T/down.png" BUTTONDOWN.bmp

# The hide button (34 x 22): a bar at the bottom.
convert -size 34x22 xc:'#d5dbe3' -fill '#6b778a' -draw "rectangle 10,14 24,17" "$T/mini.png"
out "$T/mini.png" BUTTONMINIUP.bmp

# Program and tray icon: two level bars.
convert -size 32x32 xc:none -fill '#1b222c' -draw "roundrectangle 1,1 30,30 5,5" \
  -fill '#3cf078' -draw "rectangle 8,12 14,26" -draw "rectangle 18,7 24,26" "$T/icon32.png"
convert "$T/icon32.png" -resize 16x16 "$T/icon16.png"
convert "$T/icon16.png" "$T/icon32.png" wavrel.ico
