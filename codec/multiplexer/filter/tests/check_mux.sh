#!/usr/bin/env bash
# Reads the multiplexed files the Windows-side test wrote with an independent
# demuxer and decoder: both streams present, about 4 s long, no errors.
set -u
dir=$1
status=0
for entry in "muxora_ps.mpg mpeg" "muxora_ts.ts mpegts" "muxora_ts3.ts mpegts"; do
  set -- $entry
  file=$dir/$1
  if [ ! -s "$file" ]; then echo "missing $file"; status=1; continue; fi
  info=$(ffprobe -v error -show_entries stream=codec_name -show_entries format=format_name,duration \
         -of default=nw=1 "$file")
  echo "$info" | grep -q "codec_name=mpeg2video" || { echo "$1: no video: $info"; status=1; }
  echo "$info" | grep -q "codec_name=mp2" || { echo "$1: no audio: $info"; status=1; }
  echo "$info" | grep -q "format_name=$2\$" || { echo "$1: not $2: $info"; status=1; }
  duration=$(echo "$info" | sed -n 's/^duration=//p')
  awk -v d="$duration" 'BEGIN { exit !(d > 3.8 && d < 4.4) }' || { echo "$1: duration $duration"; status=1; }
  errors=$(ffmpeg -v error -i "$file" -f null - 2>&1)
  if [ -n "$errors" ]; then echo "$1: decoder says: $errors"; status=1; fi
  # Every picture and every audio frame arrives.
  frames=$(ffprobe -v error -count_frames -select_streams v:0 -show_entries stream=nb_read_frames -of default=nw=1:nk=1 "$file" | head -1)
  [ "$frames" = 100 ] || { echo "$1: $frames pictures"; status=1; }
done
# Raw AAC frames went in; the transport stream carries them as ADTS.
file=$dir/muxora_aac.ts
info=$(ffprobe -v error -show_entries stream=codec_name -show_entries format=duration -of default=nw=1 "$file" 2>&1)
echo "$info" | grep -q "codec_name=aac" || { echo "muxora_aac.ts: no aac: $info"; status=1; }
duration=$(echo "$info" | sed -n 's/^duration=//p')
awk -v d="$duration" 'BEGIN { exit !(d > 3.8 && d < 4.4) }' || { echo "muxora_aac.ts: duration $duration"; status=1; }
errors=$(ffmpeg -v error -i "$file" -f null - 2>&1)
[ -z "$errors" ] || { echo "muxora_aac.ts: decoder says: $errors"; status=1; }
# Two programs, one stream each.
file=$dir/muxora_two_programs.ts
programs=$(ffprobe -v error -show_entries program=program_id -of csv=p=0 "$file" 2>&1 | grep -c .)
[ "$programs" = 2 ] || { echo "muxora_two_programs.ts: $programs programs"; status=1; }
errors=$(ffmpeg -v error -i "$file" -map 0 -f null - 2>&1)
[ -z "$errors" ] || { echo "muxora_two_programs.ts: decoder says: $errors"; status=1; }
# Graphs stopped while the sources still delivered: whole files all the same,
# holding about as much as ran (the earliest stop after 0.5 s).
for entry in "muxora_stop_early.mpg 0.2" "muxora_stop_late.mpg 2.0" "muxora_stop_late.ts 2.0"; do
  read -r name least <<< "$entry"
  file=$dir/$name
  if [ ! -s "$file" ]; then echo "missing $file"; status=1; continue; fi
  info=$(ffprobe -v error -show_entries stream=codec_name -show_entries format=duration -of default=nw=1 "$file" 2>&1)
  echo "$info" | grep -q "codec_name=mpeg2video" || { echo "$name: no video: $info"; status=1; }
  duration=$(echo "$info" | sed -n 's/^duration=//p')
  awk -v d="$duration" -v m="$least" 'BEGIN { exit !(d > m) }' || { echo "$name: duration $duration"; status=1; }
  errors=$(ffmpeg -v error -i "$file" -f null - 2>&1)
  [ -z "$errors" ] || { echo "$name: decoder says: $errors"; status=1; }
done
[ $status -eq 0 ] && echo "1 passed, 0 failed" || echo "0 passed, 1 failed"
exit $status
