#!/bin/bash
# Benchmark: records the whole 1280 x 720 screen at 30 fps through the panel
# for N seconds (default 60) under the Wine harness and prints how many
# frames the recording holds against how many the time asks for.
# Usage: recorder/tests/bench_record.sh [seconds] [32|64]   (after that build)
set -eu
root=$(cd "$(dirname "$0")/../.." && pwd)
seconds=${1:-60}
# shellcheck source=../../tools/lib/common.sh
. "$root/tools/lib/common.sh"
wine_use_arch "${2:-32}"
build=$WIN_BUILD
out=$build/recorder/artefacts/zelbo_bench.mpg
rm -f "$out"
(
  cd "$root"
  # shellcheck source=../../tools/lib/harness.sh
  . tools/lib/harness.sh
  harness_start
  harness_register "$build/bin"
  ZELBO_BENCH_SECONDS=$seconds WINEDEBUG=-all "$WINE" "$build/recorder/zelbo_record_test.exe" \
    --gtest_also_run_disabled_tests --gtest_filter='*Benchmark1280x720At30*'
) >"$build/recorder/bench.log" 2>&1 || true
[ -s "$out" ] || { echo "no recording made"; exit 1; }
frames=$(ffprobe -v error -count_frames -select_streams v:0 -show_entries stream=nb_read_frames \
  -of default=noprint_wrappers=1:nokey=1 "$out" 2>/dev/null)
duration=$(ffprobe -v error -show_entries format=duration -of default=noprint_wrappers=1:nokey=1 "$out")
size=$(ffprobe -v error -select_streams v:0 -show_entries stream=width,height -of csv=s=x:p=0 "$out" | head -1 | sed 's/x*$//')
awk -v f="$frames" -v d="$duration" -v s="$size" 'BEGIN {
  expected = int(d * 30 + 0.5)
  dropped = expected - f; if (dropped < 0) dropped = 0
  printf "1280x720 at 30 fps: %s, %.2f s, %d frames of %d expected, %d dropped\n", s, d, f, expected, dropped
}'
