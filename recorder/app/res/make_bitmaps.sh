#!/usr/bin/env bash
# Regenerates the panel's bitmaps and icon with ImageMagick. The buttons are
# cut from the rendered background so that they sit on it seamlessly.
set -euo pipefail
cd "$(dirname "$0")"
T=$(mktemp -d)
trap 'rm -rf "$T"' EXIT
SANS=DejaVu-Sans
BOLD=DejaVu-Sans-Bold
out() { convert "$1" -colors 256 -type Palette BMP3:"$2"; }

# Background: graphite gradient, title, status strip, capture area, level
# area, button wells.
convert -size 333x163 gradient:'#364152-#141920' \
  -fill none -stroke '#4a5566' -draw "roundrectangle 0,0 332,162 6,6" \
  -stroke none -fill '#e8413c' -draw "circle 16,17 16,11" \
  -fill '#f2f5f8' -font "$BOLD" -pointsize 15 -annotate +27+23 'Zelbo' \
  -fill '#121820' -stroke '#2f3b4a' -draw "roundrectangle 119,6 282,26 4,4" \
  -fill '#0c1016' -stroke '#2f3b4a' -draw "roundrectangle 9,36 181,106 5,5" \
  -stroke none -fill '#7f8ea3' -font "$SANS" -pointsize 9 -annotate +24+56 'Capture region' \
  -fill '#5d6b7e' -annotate +24+70 'Click here to mark the area' \
  -fill '#0c1016' -stroke '#2f3b4a' -draw "roundrectangle 188,34 224,110 4,4" \
  -stroke none -fill '#7f8ea3' -pointsize 8 -annotate +196+119 'L   R' \
  -fill '#7f8ea3' -pointsize 9 -annotate +232+116 'Volume' \
  -fill '#1b222c' -stroke '#3a4656' -draw "roundrectangle 59,139 77,157 3,3" \
  -stroke none -fill '#c9d2dc' -draw "rectangle 64,144 72,152" \
  "$T/base.png"
out "$T/base.png" BASE.bmp

crop() { convert "$T/base.png" -crop "$1" +repage "$2"; }

# Round transport buttons (45x47).
round_button() {  # name x y ring fill glyph-options...
  local name=$1 x=$2 y=$3 ring=$4 fill=$5
  shift 5
  crop 45x47+"$x"+"$y" "$T/$name.png"
  convert "$T/$name.png" -fill "$fill" -stroke "$ring" -strokewidth 2 -draw "circle 22,23 22,3" \
    -stroke none "$@" "$T/$name.png"
  out "$T/$name.png" "$name.bmp"
}
round_button RECORD 8 111 '#5a6676' '#232b36' -fill '#e8413c' -draw 'circle 22,23 22,13'
round_button RECORD_ON 8 111 '#ff6b5e' '#3a1c1e' -fill '#ff5a4e' -draw 'circle 22,23 22,12'
round_button STOP 8 111 '#e8413c' '#2a1b1e' -fill '#f2f5f8' -draw 'rectangle 15,16 29,30'
round_button STOP_ON 8 111 '#ff8a7e' '#e8413c' -fill '#ffffff' -draw 'rectangle 15,16 29,30'
round_button PLAY1 78 111 '#5a6676' '#232b36' -fill '#8dc63e' -draw 'polygon 17,13 33,23 17,33'
round_button PLAY1_ON 78 111 '#b5e57a' '#2c3a22' -fill '#b5e57a' -draw 'polygon 17,13 33,23 17,33'
round_button PAUSE 78 111 '#5a6676' '#232b36' -fill '#f2c14e' -draw 'rectangle 15,14 20,32' -draw 'rectangle 25,14 30,32'
round_button RESTART 78 111 '#f2c14e' '#3a3220' -fill '#f2c14e' -draw 'polygon 17,13 33,23 17,33'
round_button VIEW 148 111 '#5a6676' '#232b36' -fill '#9cdcff' -draw 'rectangle 13,15 31,19' -draw 'rectangle 13,22 31,26' -draw 'rectangle 13,29 31,33'
round_button VIEW_ON 148 111 '#9cdcff' '#1d3240' -fill '#d6f1ff' -draw 'rectangle 13,15 31,19' -draw 'rectangle 13,22 31,26' -draw 'rectangle 13,29 31,33'

# Text buttons.
text_button() {  # name WxH x y text fill stroke textcolour
  crop "$2"+"$3"+"$4" "$T/$1.png"
  local w=${2%x*} h=${2#*x}
  convert "$T/$1.png" -fill "$6" -stroke "$7" -draw "roundrectangle 0,0 $((w - 1)),$((h - 1)) 5,5" \
    -stroke none -fill "$8" -font "$SANS" -pointsize 10 -gravity center -annotate +0+0 "$5" "$T/$1.png"
  out "$T/$1.png" "$1.bmp"
}
text_button SETTINGS 82x25 235 41 'Settings' '#2a3440' '#5a6676' '#e6edf3'
text_button SETTINGS_ON 82x25 235 41 'Settings' '#3d5a73' '#9cdcff' '#ffffff'
text_button GET_WINDOW 82x25 235 78 'Pick Window' '#2a3440' '#5a6676' '#e6edf3'
text_button GET_WINDOW_ON 82x25 235 78 'Pick Window' '#3d5a73' '#9cdcff' '#ffffff'
text_button SHOW_MARKERS 105x17 20 80 'Show Region' '#243040' '#4f6b86' '#9cdcff'

# Small round glyph buttons.
small_button() {  # name size x y fill stroke glyph
  crop "$2x$2"+"$3"+"$4" "$T/$1.png"
  local c=$(($2 / 2)) r=$(($2 / 2 - 1))
  convert "$T/$1.png" -fill "$5" -stroke "$6" -draw "circle $c,$c $c,$((c - r))" -stroke none \
    -fill '#f2f5f8' -font "$BOLD" -pointsize $(($2 - 6)) -gravity center -annotate +0+0 "$7" "$T/$1.png"
  out "$T/$1.png" "$1.bmp"
}
small_button HELP 15 312 142 '#2a3440' '#5a6676' '?'
small_button HELP_ON 15 312 142 '#3d5a73' '#9cdcff' '?'
small_button MINIMIZE 21 285 7 '#2a3440' '#5a6676' '–'
small_button MINIMIZE_ON 21 285 7 '#3d5a73' '#9cdcff' '–'
small_button EXIT 21 307 7 '#2a3440' '#5a6676' '×'
small_button EXIT_ON 21 307 7 '#e8413c' '#ff8a7e' '×'

# Splash.
convert -size 425x159 gradient:'#3a4759-#11151b' \
  -fill none -stroke '#4a5566' -draw "roundrectangle 0,0 424,158 8,8" -stroke none \
  -fill '#e8413c' -draw "circle 58,70 58,48" -fill '#11151b' -draw "circle 58,70 58,60" \
  -fill '#f2f5f8' -font "$BOLD" -pointsize 40 -annotate +96+84 'Zelbo' \
  -fill '#9cdcff' -font "$SANS" -pointsize 13 -annotate +98+108 'Screen and sound recorder' \
  -fill '#7f8ea3' -pointsize 10 -annotate +98+140 'Version 3.0  -  Korvell' \
  "$T/splash.png"
out "$T/splash.png" splash.bmp

# Program icon.
convert -size 32x32 xc:none -fill '#232b36' -draw "roundrectangle 0,0 31,31 6,6" \
  -fill '#e8413c' -draw "circle 16,16 16,7" "$T/icon32.png"
convert "$T/icon32.png" -resize 16x16 "$T/icon16.png"
convert "$T/icon16.png" "$T/icon32.png" zelbo.ico
