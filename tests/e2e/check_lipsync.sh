#!/usr/bin/env bash
# A lip-sync recording of LipSyncTest, read by the host's ffmpeg: the first
# bright frame and the onset of the tone within 40 ms of each other, audio
# and video streams as long as each other within 100 ms. The tone itself
# reaches the sound server through Wine's wave output, whose own latency
# (measured 25 to 55 ms here) the recording cannot tell from a late sound:
# the sound may trail the picture by that much more.
#   check_lipsync.sh FILE
set -u
file=$1
fail() { echo "FAILED: $*"; exit 1; }
[ -s "$file" ] || fail "missing $file"
TONE_PATH_MS=35

# Both times come from decoding the same input, so they share its time base.
bright=$(ffmpeg -nostdin -v error -i "$file" -an \
  -vf "signalstats,metadata=print:key=lavfi.signalstats.YAVG:file=-" -f null - 2>/dev/null |
  awk '/pts_time:/ { sub(/.*pts_time:/, ""); t = $1 } /YAVG=/ { split($0, v, "="); if (v[2] > 128) { print t; exit } }')
onset=$(ffmpeg -nostdin -i "$file" -vn -af "silencedetect=noise=-30dB:d=0.02" -f null - 2>&1 |
  sed -n 's/.*silence_end: \([0-9.]*\).*/\1/p' | head -1)
[ -n "$bright" ] || fail "no bright frame"
[ -n "$onset" ] || fail "no sound onset (no silence ended)"

span() {
  ffprobe -v error -select_streams "$1" -show_entries packet=pts_time,duration_time -of csv=p=0 "$file" |
    awk -F, '$1 != "N/A" { if (first == "" || $1 < first) first = $1; e = $1 + ($2 == "N/A" ? 0 : $2); if (e > end) end = e }
             END { if (first != "") printf "%.3f %.3f\n", first, end }'
}
read -r vfirst vend < <(span v:0)
read -r afirst aend < <(span a:0)
[ -n "${afirst:-}" ] || fail "no audio stream"
echo "bright frame at $bright s, sound onset at $onset s; video $vfirst .. $vend s, audio $afirst .. $aend s"
result=$(awk -v b="$bright" -v path="$TONE_PATH_MS" -v o="$onset" -v vs="$vfirst" -v ve="$vend" -v as="$afirst" -v ae="$aend" 'BEGIN {
  sync = (o - b) * 1000; lengths = ((ae - as) - (ve - vs)) * 1000
  printf "sound - picture = %.0f ms, audio length - video length = %.0f ms\n", sync, lengths
  ok = (sync <= 40 + path && sync >= -40) && (lengths <= 100 && lengths >= -100)
  exit !ok }')
status=$?
echo "$result"
[ "$status" -eq 0 ] || fail "out of sync"
echo "ok"
