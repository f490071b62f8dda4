#!/usr/bin/env bash
# The driver behind tools/mxfdemux against ffmpeg's own reading of one file
# with a picture and two mono sound tracks (element numbers 0 and 1), pushed
# and pulled.
#   mxfdemux_driver_test.sh DRIVER WORKDIR
set -euo pipefail
driver=$1
work=$2
command -v ffmpeg >/dev/null || { echo "ffmpeg is not installed: skipped"; exit 0; }
mkdir -p "$work"
ff() { ffmpeg -hide_banner -loglevel error -nostdin -y "$@"; }
in=$work/in.mxf
ff -f lavfi -i testsrc=s=176x144:r=25:d=2 -f lavfi -i sine=f=440:r=48000:d=2 -f lavfi -i sine=f=660:r=48000:d=2 \
  -map 0 -map 1 -map 2 -c:v mpeg2video -g 12 -c:a pcm_s16le -ac 1 -f mxf "$in"
ff -i "$in" -map 0:v -c copy -f mpeg2video "$work/v.m2v"
ff -i "$in" -map 0:a:0 -c copy -f s16le "$work/a0.raw"
ff -i "$in" -map 0:a:1 -c copy -f s16le "$work/a1.raw"
for mode in push pull; do
  out=$work/$mode
  rm -rf "$out"
  mkdir -p "$out"
  if [ "$mode" = pull ]; then "$driver" "$in" "$out" --pull >"$out/info.txt"; else "$driver" "$in" "$out" >"$out/info.txt"; fi
  grep -q '^file: kind 5, 2 streams, duration 50' "$out/info.txt"
  grep -q '^index: 50 entries' "$out/info.txt"
  grep -q '^stream 1: generic sound, item type 0x16, 16 bits, 48000 Hz, 2 channels' "$out/info.txt"
  for f in v.m2v a0.raw a1.raw; do cmp "$work/$f" "$out/$f"; done
done
# Reading again into the same folder replaces the older files, through a
# link too, and leaves nothing beside them.
out=$work/push
head -c 1000000 /dev/zero >"$work/linked.raw"
ln -sf "$work/linked.raw" "$out/a1.raw"
"$driver" "$in" "$out" >/dev/null
for f in v.m2v a0.raw a1.raw; do cmp "$work/$f" "$out/$f"; done
cmp "$work/a1.raw" "$work/linked.raw"
[ "$(ls "$out")" = "$(printf 'a0.raw\na1.raw\ninfo.txt\nv.m2v')" ]
"$driver" --help | grep -q '^usage: mxfdemux'
if "$driver" "$work/v.m2v" "$work/none" 2>/dev/null; then echo "a non-MXF file was accepted"; exit 1; fi
echo ok
