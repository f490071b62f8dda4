#!/usr/bin/env bash
# Makes the elementary streams the graph test feeds the multiplexer: 4 s of
# MPEG-2 video (352x288, 25 fps, no B pictures), 4 s of Layer II audio and
# 4 s of AAC (its frames are fed raw, without their ADTS headers), and 1 s
# of H.264 (352x288, 25 fps, baseline).
set -eu
dir=$1
mkdir -p "$dir"
ffmpeg -v error -y -f lavfi -i testsrc=size=352x288:rate=25 -t 4 -c:v mpeg2video -bf 0 -g 12 -b:v 2M \
  -f mpeg2video "$dir/video.m2v"
ffmpeg -v error -y -f lavfi -i sine=frequency=1000:sample_rate=48000 -ac 2 -t 4 -c:a mp2 -b:a 192k \
  -f mp2 "$dir/audio.mp2"
ffmpeg -v error -y -f lavfi -i sine=frequency=500:sample_rate=48000 -ac 2 -t 4 -c:a aac -b:a 128k \
  -f adts "$dir/audio.aac"
ffmpeg -v error -y -f lavfi -i testsrc=size=352x288:rate=25 -t 1 -c:v libx264 -profile:v baseline -pix_fmt yuv420p \
  -f h264 "$dir/video.h264"
