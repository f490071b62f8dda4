#!/usr/bin/env bash
# The multiplexer driver's command line: usage, refused arguments and inputs
# (each with a message and a non-zero exit), timing, and a plain run.
#   mux_driver_test.sh DRIVER WORKDIR
set -uo pipefail
DRIVER=$1
WORK=$2/driver_test.$$
mkdir -p "$WORK" || exit 1
trap 'rm -rf "$WORK"' EXIT
failures=0

fail() {
  printf 'FAIL: %s\n' "$*" >&2
  failures=$((failures + 1))
}

# expect CODE PATTERN ARGS...: the exit code, and a message matching PATTERN.
expect() {
  local code=$1 pattern=$2 out rc
  shift 2
  out=$(timeout 20 "$DRIVER" "$@" 2>&1)
  rc=$?
  [ "$rc" -eq "$code" ] || fail "mux $* exited $rc, expected $code: $out"
  # A here-string, not a pipe: grep -q stops reading at its first match, and
  # the writer of a pipe would then fail the pipeline with SIGPIPE.
  grep -Eq -- "$pattern" <<<"$out" || fail "mux $*: no '$pattern' in: $out"
}

# A 48-byte WAV file: channels, rate, bits.
wav() {
  python3 - "$WORK/$1" "$2" "$3" "$4" <<'PY'
import struct, sys
path, ch, rate, bits = sys.argv[1], int(sys.argv[2]), int(sys.argv[3]), int(sys.argv[4])
block = ch * bits // 8
fmt = struct.pack("<HHIIHH", 1, ch, rate, (rate * block) & 0xFFFFFFFF, block, bits)
open(path, "wb").write(b"RIFF" + struct.pack("<I", 40) + b"WAVE" + b"fmt " + struct.pack("<I", 16) + fmt
                       + b"data" + struct.pack("<I", 4) + bytes(4))
PY
}

wav rate0.wav 2 0 16
wav ratemax.wav 2 2147483647 16
wav mono0.wav 0 48000 16
wav low.wav 1 8000 8
wav good.wav 2 48000 16
: >"$WORK/empty.bin"
head -c 65536 /dev/urandom >"$WORK/random.bin"

expect 0 'usage: mux' --help
expect 2 'unknown option --bogus' --bogus "$WORK/o" "$WORK/good.wav"
expect 2 'bitrate is not a positive whole number: abc' --ts --bitrate abc "$WORK/o" "$WORK/good.wav"
expect 2 'bitrate is not a positive whole number: 0' --ts --bitrate 0 "$WORK/o" "$WORK/good.wav"
expect 2 'bitrate needs a value' --bitrate
expect 2 'unknown stream kind: 9' "$WORK/o" "9:$WORK/random.bin"
expect 2 'unknown stream kind: 99' "$WORK/o" "99:$WORK/random.bin"
expect 2 'unknown stream kind: 19' --ts "$WORK/o" "19:$WORK/empty.bin"
expect 1 'sample rate 0 Hz' "$WORK/o" "$WORK/rate0.wav"
expect 1 'sample rate 2147483647 Hz' "$WORK/o" "$WORK/ratemax.wav"
expect 1 '0 channels' "$WORK/o" "$WORK/mono0.wav"
expect 1 'sample rate 8000 Hz.*8 bits per sample' "$WORK/o" "$WORK/low.wav"
expect 1 'cannot tell the kind' "$WORK/o" "$WORK/random.bin"
expect 1 'not a stream of the given kind' "$WORK/o" "mp2:$WORK/random.bin"
expect 0 '^mux: [0-9]+\.[0-9]+ s$' --time "$WORK/o" "$WORK/good.wav"
[ -s "$WORK/o" ] || fail "no output for a good WAV file"

if [ "$failures" -ne 0 ]; then
  printf '%d failures\n' "$failures" >&2
  exit 1
fi
echo "all driver cases passed"
