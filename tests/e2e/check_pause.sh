#!/usr/bin/env bash
# A paused and resumed recording of PauseResumeTest, read by the host's
# ffmpeg: one program stream whose video and audio times rise throughout
# without a jump (the pause is not in the timeline), about 6 s long,
# decoding without a word, and a seek to 4.5 s lands in the second part
# (its white pictures) at that time.
#   check_pause.sh FILE
set -u
file=$1
fail() { echo "FAILED: $*"; exit 1; }
[ -s "$file" ] || fail "missing $file"

errors=$(ffmpeg -nostdin -v error -i "$file" -f null - 2>&1)
[ -z "$errors" ] || fail "decoder says: $(echo "$errors" | head -5)"

# Times must rise, and no step may exceed half a second.
for stream in v:0 a:0; do
  entry=dts_time
  [ "$stream" = a:0 ] && entry=pts_time
  verdict=$(ffprobe -v error -select_streams "$stream" -show_entries "packet=$entry" -of csv=p=0 "$file" |
    awk '$1 != "N/A" { if (n++ && ($1 <= last || $1 - last > 0.5)) { printf "%s after %s", $1, last; exit } last = $1 }
         END { if (!n) print "no packets" }')
  [ -z "$verdict" ] || fail "$stream times break: $verdict"
done
duration=$(ffprobe -v error -show_entries format=duration -of csv=p=0 "$file")
# Each part also holds what was recorded while its Record press was being
# answered, which a loaded machine stretches: allow up to a second more.
awk -v d="$duration" 'BEGIN { exit !(d > 5 && d < 8.5) }' || fail "duration $duration s, not about 6 s"

# A seek into the second part: the first picture decoded there is white and
# carries a time near the one asked for.
start=$(ffprobe -v error -show_entries format=start_time -of csv=p=0 "$file")
target=$(awk -v s="$start" 'BEGIN { printf "%.3f", s + 4.5 }')
first=$(ffmpeg -nostdin -v error -copyts -ss 4.5 -i "$file" -an -frames:v 1 \
  -vf "signalstats,metadata=print:key=lavfi.signalstats.YAVG:file=-" -f null - 2>/dev/null |
  awk '/pts_time:/ { sub(/.*pts_time:/, ""); t = $1 } /YAVG=/ { split($0, v, "="); print t "," v[2]; exit }')
seek_errors=$(ffmpeg -nostdin -v error -ss 4.5 -i "$file" -frames:v 10 -f null - 2>&1)
[ -z "$seek_errors" ] || fail "decoding after the seek says: $(echo "$seek_errors" | head -3)"
echo "duration $duration s; first picture after the seek to $target s: $first"
awk -F, -v f="$first" -v t="$target" 'BEGIN { split(f, v, ","); exit !(v[1] != "" && v[1] - t < 0.6 && t - v[1] < 0.6 && v[2] > 128) }' ||
  fail "the seek did not land in the second part"
echo "ok"
