// The scanning library: every header class, parser and stream over the whole
// input, then the multiplexer's access-unit scanner of one input type fed in
// chunks through a real input, as the muxing pass would pull it.
//   controls: type (low nibble), timing mode (bit 4), transport output
//   (bit 5), stamped chunks (bit 6); chunk length.
#include "codec/multiplexer/Multiplexer.h"
#include "codec/scanning/tests/feed_all.h"
#include "tests/fuzz/fuzz_input.h"

#include <algorithm>

using namespace muxcore;

namespace {

// The smallest input buffer the core takes (a larger one costs each run its
// clearing); the whole input fits in it.
constexpr int32_t kInputBuffer = 100000;
constexpr size_t kMaxInput = 1 << 16;
constexpr int32_t kTypes[] = {kPinMpeg2Video, kPinMpeg1Video, kPinMpeg2Audio,   kPinMpeg1Audio, kPinAc3,
                              kPinAac,        kPinPcm,        kPinPesMpegAudio, kPinIgPes,      kPinPesDvdSubtitles,
                              kPinH264,       kPinMpeg4,      kPinVc1};
constexpr int64_t kChunkStampStep = 400000;  // 40 ms in 100 ns

void ScanAsInput(fuzz::Input& in) {
    const uint8_t mode = in.Control();
    const size_t chunk = fuzz::ChunkLength(in.Control());
    Multiplexer mux;
    mux.Settings().output = (mode & 0x20) ? kTransportStream : kProgramStream;
    mux.Settings().timingMode = (mode & 0x10) ? kReconstructionMode : kCaptureMode;
    StreamSettings s;
    s.inputBufferSize = kInputBuffer;
    s.streamType = kTypes[(mode & 0x0F) % (sizeof kTypes / sizeof kTypes[0])];
    InputStream* input = mux.AddInput(s);
    if (!input || Failed(mux.Start(nullptr))) return;
    int64_t stamp = 0;
    for (size_t at = 0; at < in.Size(); at += chunk) {
        const size_t n = std::min(chunk, in.Size() - at);
        const int64_t time = (mode & 0x40) ? stamp : kNoTime;
        stamp += kChunkStampStep;
        if (input->Push(in.Data() + at, n, time) != kS_OK) break;
        input->PullInput();
        // The units themselves are the muxing pass's business; their records go.
        while (input->Units().Pop() == 0) {}
    }
    input->EndOfStream();
    input->PullInput();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size > kMaxInput) return 0;
    spltest::FeedAll(data, static_cast<uint32_t>(size));
    fuzz::Input in(data, size);
    ScanAsInput(in);
    return 0;
}
