#!/usr/bin/env bash
# Files whose video carries the test's pop-on caption "HELLO" (seven byte
# pairs, one a frame): at least seven frames have A/53 closed-caption side
# data, and the text comes back out of the decoder's caption stream.
#   check_captions.sh FILE...
set -u
status=0
for path in "$@"; do
  file=$(basename "$path")
  if [ ! -s "$path" ]; then echo "missing $path"; status=1; continue; fi
  frames=$(ffprobe -v error -show_frames -select_streams v:0 "$path" | grep -c "ATSC A53 Part 4 Closed Captions")
  [ "$frames" -ge 7 ] || { echo "$file: $frames frames with caption side data, want 7"; status=1; }
  text=$(ffmpeg -v error -f lavfi -i "movie=${path}[out0+subcc]" -map 0:1 -f srt - 2>&1)
  if ! grep -q HELLO <<<"$text"; then
    echo "$file: no HELLO in the captions:"
    echo "$text" | head -10
    status=1
  fi
done
[ $status = 0 ] && echo "captions: ok"
exit $status
