// The time marker's chunk road: the input goes through the core in chunks of
// a chosen length, as the filter shell delivers samples, with a stream reset,
// a stop or a disconnect now and then, and ends with end of stream. A short
// stream is detected at its end only; the format stays over the stream
// reset that follows, so a second pass of the same bytes runs the parser
// found chunk by chunk.
//   controls: chunk length; what happens every 64th chunk (0 nothing, 1 a
//   stream reset, 2 a stop, 3 a disconnect).
#include "restamp/DemuxCommon/TimeMarkerCore.h"
#include "tests/fuzz/fuzz_input.h"

#include <algorithm>
#include <memory>

namespace {

constexpr size_t kMaxInput = 1 << 20;
constexpr size_t kEventEvery = 64;

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size > kMaxInput) return 0;
    fuzz::Input in(data, size);
    const size_t chunk = fuzz::ChunkLength(in.Control());
    const uint8_t event = in.Control() & 3;
    // One core for every run, as one filter sees many streams: a disconnect
    // starts it over.
    static CTimeMarkerCore* const core = new CTimeMarkerCore();
    core->Disconnect();
    for (int pass = 0; pass < 2; ++pass) {
        size_t chunks = 0;
        for (size_t at = 0; at < in.Size(); at += chunk) {
            const size_t n = std::min(chunk, in.Size() - at);
            core->ProcessChunk(in.Data() + at, static_cast<uint32_t>(n));
            if (++chunks % kEventEvery) continue;
            if (event == 1) core->ResetStream();
            if (event == 2) core->Stop();
            if (event == 3) core->Disconnect();
        }
        core->EndOfStream();
    }
    return 0;
}
