#!/usr/bin/env bash
# The driver behind tools/mxfmux: an XDCAM HD file from an MPEG-2 stream and a
# two-channel WAV, with a start time code, and two P2 files from DV and an
# "AES3" stream; ffprobe reads each silently and ffmpeg gives the inputs back.
#   mxfmux_driver_test.sh DRIVER WORKDIR
set -euo pipefail
driver=$1
work=$2
command -v ffmpeg >/dev/null || { echo "ffmpeg is not installed: skipped"; exit 0; }
mkdir -p "$work"
ff() { ffmpeg -hide_banner -loglevel error -nostdin -y "$@"; }
ff -f lavfi -i testsrc=s=176x144:r=25:d=1 -c:v mpeg2video -g 12 -f mpeg2video "$work/v.m2v"
ff -f lavfi -i "aevalsrc=exprs=sin(400*t)|sin(500*t):s=48000:d=1" -c:a pcm_s16le "$work/a.wav"
"$driver" --start-tc 90000 "$work/hd.mxf" "$work/v.m2v" "$work/a.wav"
[ -z "$(ffprobe -v warning "$work/hd.mxf" 2>&1)" ]
ffprobe -v error -show_format "$work/hd.mxf" | grep -q '^TAG:timecode=01:00:00:00'
[ "$(ffprobe -v error -select_streams a -show_entries stream=index -of csv=p=0 "$work/hd.mxf" | wc -l)" = 2 ]
ff -i "$work/hd.mxf" -map 0:v -c copy -f mpeg2video "$work/back.m2v"
cmp "$work/v.m2v" "$work/back.m2v"
# Writing again replaces the older file and leaves nothing beside it; a
# link is written through.
"$driver" "$work/hd.mxf" "$work/v.m2v" "$work/a.wav"
ln -sf "$work/hd.mxf" "$work/link.mxf"
"$driver" "$work/link.mxf" "$work/v.m2v" "$work/a.wav"
[ -L "$work/link.mxf" ]
[ -z "$(ls "$work" | grep -F '.old-' || true)" ]
ff -i "$work/hd.mxf" -map 0:v -c copy -f mpeg2video "$work/back.m2v"
cmp "$work/v.m2v" "$work/back.m2v"

ff -f lavfi -i testsrc=s=720x576:r=25:d=0.4 -c:v dvvideo -pix_fmt yuv420p -f dv "$work/v.dv"
# "AES3", planar, 25 Hz frames, 16 bits, mono; then 0.4 s of samples.
{ printf 'AES3\x0c\x40\x00\x00'; head -c 38400 /dev/urandom; } >"$work/s.aes"
"$driver" --p2 "$work/v.mxf" "$work/s.mxf" "$work/v.dv" "$work/s.aes"
for f in v s; do [ -z "$(ffprobe -v warning "$work/$f.mxf" 2>&1)" ]; done
ff -i "$work/v.mxf" -c copy -f dv "$work/back.dv"
cmp "$work/v.dv" "$work/back.dv"
ff -i "$work/s.mxf" -c copy -f s16le "$work/back.raw"
cmp <(tail -c +9 "$work/s.aes") "$work/back.raw"

"$driver" --help 2>&1 | grep -q '^usage: mxfmux'
if "$driver" "$work/none.mxf" 2>/dev/null; then echo "no inputs were accepted"; exit 1; fi
if "$driver" "$work/bad.mxf" "$work/v.dv" 2>/dev/null; then echo "DV was accepted for XDCAM HD"; exit 1; fi
echo ok
