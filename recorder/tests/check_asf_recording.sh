#!/bin/bash
# Checks a Windows Media recording kept by a test: an ASF file that ffprobe
# reads, with one video stream of the given size and frame rate and one
# 44100 Hz stereo audio stream that is not silent, decoding without a single
# error and lasting the given seconds within half a second. Exit 77 when no
# recording was made.
#   check_asf_recording.sh FILE WIDTHxHEIGHT FPS SECONDS
#   check_asf_recording.sh FILE readable   (ASF that decodes without errors)
# SECONDS "any" leaves the length unchecked.
# The checks are evaluated by check(), so they are quoted unexpanded.
# shellcheck disable=SC2016
set -u
file=$1 size=$2 fps=${3:-0} seconds=${4:-0}
if [ ! -s "$file" ]; then
  echo "no recording at $file"
  exit 77
fi
fail=0
check() { if ! eval "$2"; then echo "FAILED: $1"; fail=1; else echo "ok: $1"; fi; }
probe() { ffprobe -v error "$@" -of default=noprint_wrappers=1:nokey=1 "$file" | head -1; }

format=$(probe -show_entries format=format_name)
videos=$(ffprobe -v error -select_streams v -show_entries stream=index -of csv=p=0 "$file" | wc -l)
audios=$(ffprobe -v error -select_streams a -show_entries stream=index -of csv=p=0 "$file" | wc -l)
found=$(probe -select_streams v:0 -show_entries stream=width)x$(probe -select_streams v:0 -show_entries stream=height)
# The pictures per second over the video's span: presentation times are in
# milliseconds, so a rate such as 15/s has no exact frame duration to report.
rate=$(ffprobe -v error -select_streams v:0 -show_entries packet=pts -of csv=p=0 "$file" |
  awk 'NR == 1 { first = $1 } { last = $1; n++ } END { if (n > 1 && last > first) printf "%.2f", (n - 1) * 1000 / (last - first) }')
sample_rate=$(probe -select_streams a:0 -show_entries stream=sample_rate)
channels=$(probe -select_streams a:0 -show_entries stream=channels)
duration=$(probe -show_entries format=duration)
errors=$(ffmpeg -nostdin -v error -i "$file" -f null - 2>&1)
peak=$(ffmpeg -nostdin -v info -i "$file" -vn -af volumedetect -f null - 2>&1 | sed -n 's/.*max_volume: \([-0-9.]*\) dB.*/\1/p')
echo "format=$format video=$videos $found $rate audio=$audios $sample_rate Hz x$channels duration=$duration peak=$peak dB"

check "ASF" '[ "$format" = asf ]'
if [ "$size" = readable ]; then
  check "decodes without errors" '[ -z "$errors" ]'
  [ -z "$errors" ] || echo "$errors" | head -20
  exit $fail
fi
check "one video stream of $size at $fps/s" \
  '[ "$videos" = 1 ] && [ "$found" = "$size" ] && awk -v r="$rate" -v f="$fps" "BEGIN { exit !(r >= f - 0.5 && r <= f + 0.5) }"'
check "one audio stream, 44100 Hz stereo" '[ "$audios" = 1 ] && [ "$sample_rate" = 44100 ] && [ "$channels" = 2 ]'
check "decodes without errors" '[ -z "$errors" ]'
[ -z "$errors" ] || echo "$errors" | head -20
[ "$seconds" = any ] || check "$seconds s +/- 0.5 s" 'awk -v d="$duration" -v s="$seconds" "BEGIN { exit !(d >= s - 0.5 && d <= s + 0.5) }"'
check "the sound is not silent" 'awk -v p="$peak" "BEGIN { exit !(p != \"\" && p > -40) }"'
exit $fail
