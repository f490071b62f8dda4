#!/usr/bin/env bash
# Decodes the streams the Windows-side test wrote, with an independent
# decoder: no error, the right codec, channels and rate, about 3 s long.
set -u
dir=$1
status=0
for entry in "audrel_48000_2.mp2 48000 2" "audrel_44100_1.mp2 44100 1" "audrel_22050_2.mp2 22050 2"; do
  set -- $entry
  file=$dir/$1
  if [ ! -s "$file" ]; then echo "missing $file"; status=1; continue; fi
  errors=$(ffmpeg -v error -err_detect crccheck+explode -i "$file" -f null - 2>&1)
  if [ -n "$errors" ]; then echo "$1: decoder says: $errors"; status=1; fi
  info=$(ffprobe -v error -select_streams a:0 -show_entries stream=codec_name,sample_rate,channels \
         -show_entries format=duration -of default=nw=1 "$file")
  echo "$info" | grep -q "codec_name=mp2" || { echo "$1: not mp2: $info"; status=1; }
  echo "$info" | grep -q "sample_rate=$2" || { echo "$1: rate: $info"; status=1; }
  echo "$info" | grep -q "channels=$3" || { echo "$1: channels: $info"; status=1; }
  duration=$(echo "$info" | sed -n 's/^duration=//p')
  awk -v d="$duration" 'BEGIN { exit !(d > 2.9 && d < 3.2) }' || { echo "$1: duration $duration"; status=1; }
done
[ $status -eq 0 ] && echo "1 passed, 0 failed" || echo "0 passed, 1 failed"
exit $status
