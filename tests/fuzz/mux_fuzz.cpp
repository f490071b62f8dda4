// The multiplexer core as the command-line driver runs it: the input is one
// elementary-stream file (its kind detected, or forced by a control), pushed
// in chunks while the muxing pass runs until idle, then ended and drained.
//   controls: output and options (see Options below); chunk length; forced
//   stream type (bit 7 set: the low bits choose it).
#include "codec/multiplexer/EsDetect.h"
#include "codec/multiplexer/Multiplexer.h"
#include "tests/fuzz/fuzz_input.h"

#include <algorithm>

using namespace muxcore;

namespace {

constexpr size_t kMaxInput = 1 << 20;
// The smallest input buffer the core takes: a larger one costs each run its
// clearing, and a long input still fills it and has to wait for the pass.
constexpr int32_t kInputBuffer = 100000;
constexpr int64_t kChunkStampStep = 400000;  // 40 ms in 100 ns
// Runs of the muxing pass without any progress before the stream counts as
// stalled (the driver's rule).
constexpr int kMaxStalls = 3;
// Seeds name these by index (tools/lib/fuzz.sh): new ones go at the end.
constexpr int32_t kForcedTypes[] = {
    kPinMpeg2Video,   kPinMpeg1Video, kPinMpeg2Audio,   kPinMpeg1Audio,      kPinAc3,         kPinAac,  kPinPcm,
    kPinPesMpegAudio, kPinIgPes,      kPinDvdSubtitles, kPinPesDvdSubtitles, kPinPrivateData, kPinH264, kPinPcrOnly,
    kPinMpeg4,        kPinVc1};

// Bits of the first control byte.
enum Options : uint8_t {
    kOutputMask = 0x03,  // 0, 1 program stream; 2 transport stream; 3 fixed PIDs
    kReconstruct = 0x04,
    kPadding = 0x08,
    kCompatShift = 4,  // 2 bits: none, DVD, SVCD
    kPcrOnlyInput = 0x40,
    kStampChunks = 0x80,
};

// Keeps nothing: the output is counted, not checked.
struct CountingSink : IMuxSink {
    HRESULT_T Deliver(const OutputSample& s) override {
        bytes += s.length;
        return kS_OK;
    }
    uint64_t bytes = 0;
};

int32_t OutputOf(uint8_t options) {
    switch (options & kOutputMask) {
        case 2:
            return kTransportStream;
        case 3:
            return kTransportFixedPids;
        default:
            return kProgramStream;
    }
}

// One muxing pass; false when it has stalled for good.
bool Run(Multiplexer& mux, const CountingSink& sink, int& stalls, bool fed) {
    const uint64_t before = sink.bytes;
    const bool finished = mux.RunUntilIdle();
    if (finished || fed || sink.bytes != before) {
        stalls = 0;
        return true;
    }
    return ++stalls <= kMaxStalls;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size > kMaxInput) return 0;
    fuzz::Input in(data, size);
    const uint8_t options = in.Control();
    const uint8_t chunkControl = in.Control();
    const uint8_t typeControl = in.Control();

    Multiplexer mux;
    mux.Settings().output = OutputOf(options);
    mux.Settings().timingMode = (options & kReconstruct) ? kReconstructionMode : kCaptureMode;
    mux.Settings().usePadding = (options & kPadding) ? 1 : 0;
    mux.Settings().compatibility = kCompatNone;
    if (Failed(mux.SetCompatibility((options >> kCompatShift) & 3))) return 0;

    EsInfo info = DetectElementaryStream(in.Data(), in.Size());
    if (typeControl & 0x80) {
        const bool wav = info.streamType == kPinPcm;
        info.streamType = kForcedTypes[(typeControl & 0x7F) % (sizeof kForcedTypes / sizeof kForcedTypes[0])];
        if (!wav) info.dataOffset = 0;
    }
    if (info.streamType == kPinFree || info.dataOffset > in.Size()) return 0;
    const uint8_t* stream = in.Data() + info.dataOffset;
    const size_t length = std::min(info.dataLength, in.Size() - info.dataOffset);

    StreamSettings s;
    s.streamType = info.streamType;
    s.pcm = info.pcm;
    s.inputBufferSize = kInputBuffer;
    InputStream* input = mux.AddInput(s);
    if (!input) return 0;
    if (options & kPcrOnlyInput) {
        StreamSettings pcr;
        pcr.streamType = kPinPcrOnly;
        mux.AddInput(pcr);  // refused by a program stream: that is fine
    }

    CountingSink sink;
    if (Failed(mux.Start(&sink))) return 0;
    const size_t chunk = fuzz::ChunkLength(chunkControl);
    int stalls = 0;
    int64_t stamp = 0;
    for (size_t at = 0; at < length;) {
        const size_t n = std::min(chunk, length - at);
        const HRESULT_T hr = input->Push(stream + at, n, (options & kStampChunks) ? stamp : kNoTime);
        if (Failed(hr)) break;  // refused: the stream still ends
        const bool taken = hr == kS_OK;
        if (taken) {
            at += n;
            stamp += kChunkStampStep;
        }
        if (!Run(mux, sink, stalls, taken)) return 0;
    }
    input->EndOfStream();
    bool fed = true;
    while (!mux.Finished()) {
        if (!Run(mux, sink, stalls, fed)) return 0;
        fed = false;
    }
    return 0;
}
