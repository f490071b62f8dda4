#!/bin/bash
# Benchmark: records the whole screen (1280 x 720 unless a size is given) at
# 30 fps through the panel for N seconds (default 60) under the Wine harness
# and prints how many frames the recording holds against how many the time
# asks for, the control program's CPU time per second of recording and its
# working set at 1, 5 and 10 minutes (those the recording reaches).
# Usage: recorder/tests/bench_record.sh [seconds] [32|64] [WxH]   (after that build)
set -eu
root=$(cd "$(dirname "$0")/../.." && pwd)
seconds=${1:-60}
size=${3:-1280x720}
width=${size%x*} height=${size#*x}
# shellcheck source=../../tools/lib/common.sh
. "$root/tools/lib/common.sh"
wine_use_arch "${2:-32}"
build=$WIN_BUILD
out=$build/recorder/artefacts/zelbo_bench.mpg
started=$build/recorder/artefacts/zelbo_bench.started
samples=$build/recorder/bench-samples.txt
rm -f "$out" "$started" "$samples"

# The control program of this prefix (other prefixes may run one too).
zelbo_pid() {
  local p
  for p in /proc/[0-9]*; do
    grep -qa 'Zelbo.exe' "$p/cmdline" 2>/dev/null || continue
    tr '\0' '\n' <"$p/environ" 2>/dev/null | grep -qxF "WINEPREFIX=$WINEPREFIX" || continue
    echo "${p#/proc/}"
    return 0
  done
  return 1
}
# Every second: seconds since the program appeared, its CPU ticks (user +
# system, all threads) and its resident set in kB; and once, the second the
# recording started (the test's mark), as "start T".
sample() {
  local pid="" t0 now
  for _ in $(seq 600); do pid=$(zelbo_pid) && break; sleep 0.1; done
  [ -n "$pid" ] || return 0
  t0=$(date +%s.%N)
  local marked=""
  while [ -r "/proc/$pid/stat" ]; do
    now=$(date +%s.%N)
    if [ -z "$marked" ] && [ -e "$started" ]; then
      marked=1
      echo "start $(echo "$now - $t0" | bc -l)" >>"$samples"
    fi
    awk -v t="$(echo "$now - $t0" | bc -l)" -v rss="$(awk '/^VmRSS/ { print $2 }' "/proc/$pid/status" 2>/dev/null)" \
      '{ sub(/^.*\) /, ""); printf "%.2f %d %s\n", t, $12 + $13, rss }' "/proc/$pid/stat" 2>/dev/null >>"$samples" || break
    sleep 1
  done
}

(
  cd "$root"
  # shellcheck source=../../tools/lib/harness.sh
  . tools/lib/harness.sh
  export HARNESS_SCREEN=$size HARNESS_FORCE_XVFB=1
  harness_start
  harness_register "$build/bin"
  sample &
  sampler=$!
  ZELBO_BENCH_SECONDS=$seconds ZELBO_BENCH_WIDTH=$width ZELBO_BENCH_HEIGHT=$height WINEDEBUG=-all \
    "$WINE" "$build/recorder/zelbo_record_test.exe" \
    --gtest_also_run_disabled_tests --gtest_filter='*Benchmark1280x720At30*'
  kill "$sampler" 2>/dev/null || true
) >"$build/recorder/bench.log" 2>&1 || true
[ -s "$out" ] || { echo "no recording made"; exit 1; }
frames=$(ffprobe -v error -count_frames -select_streams v:0 -show_entries stream=nb_read_frames \
  -of default=noprint_wrappers=1:nokey=1 "$out" 2>/dev/null)
duration=$(ffprobe -v error -show_entries format=duration -of default=noprint_wrappers=1:nokey=1 "$out")
coded=$(ffprobe -v error -select_streams v:0 -show_entries stream=width,height -of csv=s=x:p=0 "$out" | head -1 | sed 's/x*$//')
awk -v f="$frames" -v d="$duration" -v s="$coded" -v want="$size" 'BEGIN {
  expected = int(d * 30 + 0.5)
  dropped = expected - f; if (dropped < 0) dropped = 0
  printf "%s at 30 fps: %s, %.2f s, %d frames of %d expected, %d dropped\n", want, s, d, f, expected, dropped
}'
# CPU per second and the working set over the recording itself: from the
# test's mark (else 10 s after the program appeared) to the recording's end.
# The working set at a minute mark past the end is not printed; the last
# one the recording reaches is taken a second before its end.
[ -s "$samples" ] || { echo "no CPU or memory samples (the program was not found)"; exit 0; }
awk -v hz="$(getconf CLK_TCK)" -v secs="$seconds" '
  $1 == "start" { start = $2; next }
  NF == 3 { n++; t[n] = $1; cpu[n] = $2; rss[n] = $3 }
  END {
    from = start != "" ? start : 10; to = from + secs
    a = 0; b = 0
    for (i = 1; i <= n; i++) { if (!a && t[i] >= from) a = i; if (t[i] <= to) b = i }
    if (a && b > a) printf "CPU time of the control program: %.2f s per second of recording (%d%% of one core)\n",
      (cpu[b] - cpu[a]) / hz / (t[b] - t[a]), 100 * (cpu[b] - cpu[a]) / hz / (t[b] - t[a])
    split("1 5 10", marks, " ")
    for (m = 1; m <= 3; m++) {
      want = marks[m] * 60; if (want > secs) continue
      if (want == secs) want = secs - 1
      best = 0; for (i = 1; i <= n; i++) if (t[i] <= from + want) best = i
      if (best) printf "working set at %2d min: %.1f MB\n", marks[m], rss[best] / 1024
    }
  }' "$samples"
