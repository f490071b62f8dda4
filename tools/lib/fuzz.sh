# shellcheck shell=bash
# The libFuzzer targets of the platform-free cores (tests/fuzz, fuzz preset):
# their seed corpora, made from ffmpeg's test sources and the repository's
# own text fixtures at run time, and runs of bounded length.
# shellcheck source=common.sh
. "$(dirname "${BASH_SOURCE[0]}")/common.sh"

FUZZ_BUILD=$BUILD_DIR/fuzz
FUZZ_TARGETS=(timemarker scanning mux wav settings)

# Longest input each target makes up (the seeds are smaller).
fuzz_max_len() {
  case "$1" in
    timemarker | scanning | wav) echo 16384 ;;
    mux) echo 32768 ;;
    *) echo 4096 ;;
  esac
}

# Configures the fuzz preset and builds its targets only.
fuzz_build() {
  log "building the fuzz targets"
  mkdir -p "$FUZZ_BUILD"
  cmake --preset fuzz -B "$FUZZ_BUILD" >"$BUILD_DIR/configure-fuzz.log" 2>&1 \
    || { cat "$BUILD_DIR/configure-fuzz.log"; die "configure of fuzz failed"; }
  cmake --build "$FUZZ_BUILD" -j "${JOBS:-$(nproc)}" --target fuzzers || die "build of the fuzz targets failed"
}

# ffmpeg quietly, from its generated test sources.
fuzz_ffmpeg() { ffmpeg -nostdin -hide_banner -loglevel error -y "$@"; }

# A seed of a target: control bytes (printf escapes) in front of a file.
fuzz_seed() {
  local dir=$1 name=$2 controls=$3 file=$4
  mkdir -p "$dir"
  # shellcheck disable=SC2059 # the controls are escapes on purpose
  { printf "$controls"; cat "$file"; } >"$dir/$name"
}

# The small streams the seeds are made of, into $1.
fuzz_streams() {
  local es=$1
  # Six pictures of 64 x 48 in groups of three with B pictures; 0.2 s of tone.
  # Program streams are MPEG-2 ("vob"); "mpeg" makes an MPEG-1 system stream.
  local video=(-f lavfi -i testsrc=size=64x48:rate=25)
  local pictures=(-frames:v 6 -g 3 -bf 1)
  local tone=(-f lavfi -i sine=frequency=440:sample_rate=48000:duration=0.2)
  local both=("${video[@]}" "${tone[@]}" "${pictures[@]}" -c:v mpeg2video -b:a 64k)
  fuzz_ffmpeg "${video[@]}" "${pictures[@]}" -c:v mpeg2video -f mpeg2video "$es/video.m2v" || return
  fuzz_ffmpeg "${video[@]}" "${pictures[@]}" -c:v mpeg1video -f mpeg1video "$es/video.m1v" || return
  fuzz_ffmpeg "${video[@]}" "${pictures[@]}" -c:v libx264 -pix_fmt yuv420p -f h264 "$es/video.h264" || return
  fuzz_ffmpeg "${video[@]}" "${pictures[@]}" -c:v mpeg4 -f m4v "$es/video.m4v" || return
  fuzz_ffmpeg "${tone[@]}" -c:a mp2 -b:a 64k -f mp2 "$es/audio.mp2" || return
  fuzz_ffmpeg "${tone[@]}" -c:a ac3 -b:a 64k -f ac3 "$es/audio.ac3" || return
  fuzz_ffmpeg "${tone[@]}" -c:a aac -b:a 32k -f adts "$es/audio.aac" || return
  fuzz_ffmpeg -f lavfi -i sine=sample_rate=48000:duration=0.02 -ac 2 -c:a pcm_s16le "$es/stereo.wav" || return
  fuzz_ffmpeg -f lavfi -i sine=sample_rate=8000:duration=0.05 -c:a pcm_u8 "$es/mono8.wav" || return
  fuzz_ffmpeg -f lavfi -i sine=sample_rate=44100:duration=0.01 -ac 6 -c:a pcm_s24le "$es/surround.wav" || return
  fuzz_ffmpeg "${both[@]}" -c:a mp2 -f vob "$es/program.mpg" || return
  fuzz_ffmpeg "${video[@]}" "${tone[@]}" "${pictures[@]}" -c:v mpeg1video -c:a mp2 -b:a 64k -f mpeg "$es/system.mpg" || return
  fuzz_ffmpeg "${both[@]}" -c:a ac3 -f vob "$es/dvd.vob" || return
  fuzz_ffmpeg "${both[@]}" -c:a mp2 -f mpegts "$es/transport.ts"
}

# A number as little-endian bytes: fuzz_le VALUE BYTES.
fuzz_le() {
  local v=$1 i
  for ((i = 0; i < $2; ++i)); do
    # shellcheck disable=SC2059 # a built escape
    printf "\\x$(printf '%02x' $(((v >> (8 * i)) & 255)))"
  done
}

# A PCM WAV file of the given format with 512 bytes of silence:
# fuzz_wav RATE CHANNELS BITS.
fuzz_wav() {
  local rate=$1 channels=$2 bits=$3
  printf 'RIFF'
  fuzz_le 548 4
  printf 'WAVEfmt '
  fuzz_le 16 4
  fuzz_le 1 2
  fuzz_le "$channels" 2
  fuzz_le "$rate" 4
  fuzz_le $((rate * channels * bits / 8)) 4
  fuzz_le $((channels * bits / 8)) 2
  fuzz_le "$bits" 2
  printf 'data'
  fuzz_le 512 4
  head -c 512 /dev/zero
}

# Writes each target's seeds into $1/<target>.
fuzz_seeds() {
  local seeds=$1 es=$1/streams
  rm -rf "$seeds"
  mkdir -p "$es"
  fuzz_streams "$es" || die "ffmpeg could not make the seed streams"

  # Time marker: chunk length, event; the whole stream.
  local f
  for f in program.mpg system.mpg dvd.vob transport.ts video.m2v audio.mp2 audio.ac3; do
    fuzz_seed "$seeds/timemarker" "$f" '\x4f\x00' "$es/$f"
  done
  fuzz_seed "$seeds/timemarker" program-small-chunks.mpg '\x07\x01' "$es/program.mpg"
  # Scanning: input type and options, chunk length; the stream.
  fuzz_seed "$seeds/scanning" video.m2v '\x00\x10' "$es/video.m2v"
  fuzz_seed "$seeds/scanning" video-rebuilt.m2v '\x50\x50' "$es/video.m2v"
  fuzz_seed "$seeds/scanning" video.m1v '\x41\x10' "$es/video.m1v"
  fuzz_seed "$seeds/scanning" audio.mp2 '\x03\x10' "$es/audio.mp2"
  fuzz_seed "$seeds/scanning" audio.ac3 '\x24\x10' "$es/audio.ac3"
  fuzz_seed "$seeds/scanning" audio.aac '\x05\x48' "$es/audio.aac"
  fuzz_seed "$seeds/scanning" stereo.pcm '\x46\x10' "$es/stereo.wav"
  fuzz_seed "$seeds/scanning" program.pes '\x07\x50' "$es/program.mpg"
  # Multiplexer: output and options, chunk length, type (0: detect); the file.
  # (A transport stream does not carry PCM.)
  for f in video.m2v video.m1v video.h264 video.m4v audio.mp2 audio.ac3 audio.aac; do
    fuzz_seed "$seeds/mux" "ps-$f" '\x00\x50\x00' "$es/$f"
    fuzz_seed "$seeds/mux" "ts-$f" '\x82\x10\x00' "$es/$f"
  done
  fuzz_seed "$seeds/mux" dvd-video.m2v '\x14\x50\x00' "$es/video.m2v"
  fuzz_seed "$seeds/mux" rebuilt-video.m2v '\x06\x50\x00' "$es/video.m2v"
  fuzz_seed "$seeds/mux" pes-audio.mpg '\x02\x50\x87' "$es/program.mpg"
  # A transport stream of nothing but a PCR-only input.
  printf '\x02\x50\x8d' >"$seeds/mux/pcr-only.bin"
  # Formats a WAV header may claim and the muxer must refuse or survive: no
  # samples per second, more than any int holds per second, no channels.
  fuzz_wav 0 2 16 >"$es/rate-0.wav"
  fuzz_wav 2147483647 2 16 >"$es/rate-huge.wav"
  fuzz_wav 48000 0 16 >"$es/channels-0.wav"
  for f in stereo.wav mono8.wav rate-0.wav rate-huge.wav channels-0.wav; do
    fuzz_seed "$seeds/mux" "ps-$f" '\x00\x50\x00' "$es/$f"
  done
  # WAV readers: the files themselves, and a chunk whose length, added to
  # the walk's position, comes back to the same chunk.
  for f in rate-0.wav rate-huge.wav channels-0.wav; do
    fuzz_seed "$seeds/wav" "$f" '' "$es/$f"
  done
  printf 'RIFF\x00\x00\x00\x00WAVEjunk\xf8\xff\xff\xff' >"$seeds/wav/chunk-walk.wav"
  for f in stereo.wav mono8.wav surround.wav; do
    fuzz_seed "$seeds/wav" "$f" '' "$es/$f"
  done
  # Settings: the repository's fixture, also with CR LF line ends.
  fuzz_seed "$seeds/settings" Settings.ini '' "$ROOT/recorder/tests/data/Settings.ini"
  sed 's/$/\r/' "$ROOT/recorder/tests/data/Settings.ini" >"$es/Settings-crlf.ini"
  fuzz_seed "$seeds/settings" Settings-crlf.ini '' "$es/Settings-crlf.ini"
  rm -rf "$es"
}

# fuzz_run TARGET SECONDS: runs one target from its seeds (made first by
# fuzz_seeds into $FUZZ_BUILD/seeds). What it finds goes to
# $FUZZ_BUILD/findings/TARGET, its output to $FUZZ_BUILD/logs/TARGET.log.
fuzz_run() {
  local target=$1 seconds=$2
  local corpus=$FUZZ_BUILD/corpus/$target findings=$FUZZ_BUILD/findings/$target
  rm -rf "$corpus"
  mkdir -p "$corpus" "$findings" "$FUZZ_BUILD/logs"
  "$FUZZ_BUILD/fuzz/${target}_fuzz" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 \
    -max_len="$(fuzz_max_len "$target")" -artifact_prefix="$findings/" \
    "$corpus" "$FUZZ_BUILD/seeds/$target" >"$FUZZ_BUILD/logs/$target.log" 2>&1
}

# fuzz_all SECONDS: makes the seeds and runs every target for SECONDS each;
# prints one summary line and fails when any target found something.
fuzz_all() {
  local seconds=$1 target bad=()
  fuzz_seeds "$FUZZ_BUILD/seeds"
  for target in "${FUZZ_TARGETS[@]}"; do
    log "fuzzing $target for ${seconds}s"
    if ! fuzz_run "$target" "$seconds"; then
      bad+=("$target")
      tail -n 40 "$FUZZ_BUILD/logs/$target.log" >&2
    fi
  done
  if [ ${#bad[@]} -eq 0 ]; then
    local n=${#FUZZ_TARGETS[@]}
    echo "fuzz: $n target$([ "$n" -eq 1 ] || echo s) ran clean"
    return 0
  fi
  echo "fuzz: ${#bad[@]} of ${#FUZZ_TARGETS[@]} targets found faults (${bad[*]}; inputs in $FUZZ_BUILD/findings)"
  return 1
}
