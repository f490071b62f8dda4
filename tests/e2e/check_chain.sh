#!/usr/bin/env bash
# The chain's file, read by the host's ffmpeg: a program stream with MPEG-2
# video 320x240 and MPEG audio, about six seconds, decoding without a word.
set -u
file=$1/chain.mpg
fail() { echo "$*"; echo "0 passed, 1 failed"; exit 1; }
[ -s "$file" ] || fail "missing $file"
info=$(ffprobe -v error -show_entries format=format_name,duration:stream=codec_name,width,height -of default=nw=1 "$file")
echo "$info"
echo "$info" | grep -q "format_name=mpeg" || fail "not a program stream"
echo "$info" | grep -q "codec_name=mpeg2video" || fail "no MPEG-2 video"
echo "$info" | grep -q "codec_name=mp2" || fail "no MPEG audio"
echo "$info" | grep -q "width=320" || fail "wrong width"
errors=$(ffmpeg -v error -i "$file" -f null - 2>&1)
[ -z "$errors" ] || fail "decoder says: $errors"
duration=$(echo "$info" | sed -n 's/^duration=//p')
awk -v d="$duration" 'BEGIN { exit !(d > 4.5 && d < 7.5) }' || fail "duration $duration"
echo "1 passed, 0 failed"
