#!/usr/bin/env bash
# Decodes the streams the Windows-side test wrote, with an independent
# decoder: no error, MPEG-2 (or MPEG-1) video at the configured size and rate.
set -u
dir=$1
status=0
for entry in "vidrel_rgb32_320x240_25.m2v 320 240 25/1 50" "vidrel_i420_352x288_2997.m2v 352 288 30000/1001 30" \
            "vidrel_rgb24_topdown_320x240_25.m2v 320 240 25/1 30" "vidrel_mpeg1_352x288_25.m1v 352 288 25/1 25" \
            "vidrel_small_samples_720x576_25.m2v 720 576 25/1 10"; do
  set -- $entry
  file=$dir/$1
  if [ ! -s "$file" ]; then echo "missing $file"; status=1; continue; fi
  errors=$(ffmpeg -v error -err_detect explode -i "$file" -f null - 2>&1)
  if [ -n "$errors" ]; then echo "$1: decoder says: $errors"; status=1; fi
  info=$(ffprobe -v error -select_streams v:0 -show_entries stream=codec_name,width,height,r_frame_rate \
         -of default=nw=1 "$file")
  codec=mpeg2video
  case $1 in *.m1v) codec=mpeg1video ;; esac
  echo "$info" | grep -q "codec_name=$codec" || { echo "$1: not $codec: $info"; status=1; }
  echo "$info" | grep -q "width=$2" || { echo "$1: width: $info"; status=1; }
  echo "$info" | grep -q "height=$3" || { echo "$1: height: $info"; status=1; }
  echo "$info" | grep -q "r_frame_rate=$4" || { echo "$1: rate: $info"; status=1; }
  frames=$(ffprobe -v error -count_frames -select_streams v:0 -show_entries stream=nb_read_frames -of default=nw=1:nk=1 "$file")
  [ "$frames" = "$5" ] || { echo "$1: $frames frames, want $5"; status=1; }
done
# Bottom-up and top-down RGB both come out upright: green rises downwards,
# so the top rows are darker than the bottom ones.
yavg() {
  ffmpeg -hide_banner -i "$1" -frames:v 1 -vf "crop=320:16:0:$2,signalstats,metadata=print:key=lavfi.signalstats.YAVG" \
    -f null - 2>&1 | grep -o "YAVG=[0-9.]*" | head -1 | cut -d= -f2
}
for name in vidrel_rgb32_320x240_25.m2v vidrel_rgb24_topdown_320x240_25.m2v; do
  top=$(yavg "$dir/$name" 0)
  bottom=$(yavg "$dir/$name" 224)
  awk -v t="$top" -v b="$bottom" 'BEGIN { exit !(t != "" && t + 20 < b) }' ||
    { echo "$name: picture upside down (top $top, bottom $bottom)"; status=1; }
done
[ $status -eq 0 ] && echo "1 passed, 0 failed" || echo "0 passed, 1 failed"
exit $status
