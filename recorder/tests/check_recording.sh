#!/bin/bash
# Checks a recording that zelbo_record_test or zelbo_graph_test keeps: an
# MPEG program stream with MPEG-2 video 640x480 and MPEG audio, 10 s (or the
# given length) +/- 1 s long, decoding
# without a single error, audio and video starting within 100 ms of each
# other, and the 1 kHz tone in its sound. Exit 77 when no recording was made
# (the recording test skipped for missing filters).
set -u
file=$1
mode=${2:-av}  # "video" for a video-only recording, "decode" for the decode check alone,
# "audio-bitrate" for the audio stream's bitrate alone (given as the third argument)
seconds=${3:-10}  # the expected length
slack=${4:-1}  # how far the length may be off, in seconds
if [ ! -s "$file" ]; then
  echo "no recording at $file"
  exit 77
fi
fail=0
check() { if ! eval "$2"; then echo "FAILED: $1"; fail=1; else echo "ok: $1"; fi; }

probe() { ffprobe -v error "$@" -of default=noprint_wrappers=1:nokey=1 "$file" | head -1; }
format=$(probe -show_entries format=format_name)
vcodec=$(probe -select_streams v:0 -show_entries stream=codec_name)
size=$(probe -select_streams v:0 -show_entries stream=width)x$(probe -select_streams v:0 -show_entries stream=height)
acodec=$(probe -select_streams a:0 -show_entries stream=codec_name)
duration=$(probe -show_entries format=duration)
vstart=$(probe -select_streams v:0 -show_entries stream=start_time)
astart=$(probe -select_streams a:0 -show_entries stream=start_time)
errors=$(ffmpeg -nostdin -v error -i "$file" -f null - 2>&1)
if [ "$mode" = audio-bitrate ]; then
  # The third argument is the expected audio bitrate in bit/s.
  abitrate=$(probe -select_streams a:0 -show_entries stream=bit_rate)
  check "audio at $seconds bit/s (found $abitrate)" '[ "$abitrate" = "$seconds" ]'
  exit $fail
fi
if [ "$mode" = decode ]; then
  check "decodes without errors" '[ -z "$errors" ]'
  [ -z "$errors" ] || echo "$errors" | head -20
  exit $fail
fi
echo "format=$format video=$vcodec $size audio=$acodec duration=$duration starts v=$vstart a=$astart"

check "program stream" '[ "$format" = mpeg ]'
check "MPEG-2 video" '[ "$vcodec" = mpeg2video ]'
check "640x480" '[ "$size" = 640x480 ]'
if [ "$mode" = video ]; then
  check "no audio stream" '[ -z "$acodec" ]'
  check "$seconds s +/- $slack s" 'awk -v d="$duration" -v s="$seconds" -v k="$slack" "BEGIN { exit !(d >= s - k && d <= s + k) }"'
  exit $fail
fi
check "MPEG audio" '[ "$acodec" = mp2 ] || [ "$acodec" = mp1 ] || [ "$acodec" = mp3 ]'
check "$seconds s +/- $slack s" 'awk -v d="$duration" -v s="$seconds" -v k="$slack" "BEGIN { exit !(d >= s - k && d <= s + k) }"'
check "audio and video start within 100 ms" \
  'awk -v a="$astart" -v v="$vstart" "BEGIN { d = a - v; if (d < 0) d = -d; exit !(d <= 0.1) }"'

# The tone: 1 kHz holds far more energy than its neighbours (Goertzel on 2 s
# of mono audio from the middle of the recording).
tone=$(ffmpeg -nostdin -v error -ss 3 -t 2 -i "$file" -vn -ac 1 -ar 8000 -f s16le - | python3 -c '
import math, struct, sys
data = sys.stdin.buffer.read()
samples = struct.unpack("<%dh" % (len(data) // 2), data)
def power(freq):
    k = 2 * math.cos(2 * math.pi * freq / 8000)
    s1 = s2 = 0.0
    for x in samples:
        s1, s2 = x + k * s1 - s2, s1
    return s1 * s1 + s2 * s2 - k * s1 * s2
p = power(1000)
others = max(power(f) for f in (500, 700, 1300, 1700, 2500))
print("%d %.1f" % (len(samples), 10 * math.log10((p + 1) / (others + 1))))
')
echo "tone: samples and 1 kHz margin in dB: $tone"
check "the tone is in the sound" 'awk -v t="$tone" "BEGIN { split(t, f, \" \"); exit !(f[1] > 8000 && f[2] > 20) }"'
exit $fail
