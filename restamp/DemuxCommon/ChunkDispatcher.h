// The seam between the time marker's filter shell and the stream parser:
// the shell hands each chunk's unparsed span to a dispatcher, which parses
// what it can and reports stream times through its owner.
#pragma once

#include <cstdint>

namespace chronel {

// "No time" in 100-ns reference time.
constexpr int64_t kNoTime = INT64_MAX;

class ChunkDispatcherOwner {
public:
    virtual ~ChunkDispatcherOwner() = default;
    // A re-based time for the chunks that follow.
    virtual void OnTime(int64_t time) = 0;
};

class ChunkDispatcher {
public:
    virtual ~ChunkDispatcher() = default;
    // Parses the unparsed span (position = stream offset of the current
    // chunk's first byte). *parsed: bytes the parser is done with. 0 on
    // success, else an HRESULT-valued failure.
    virtual int32_t ProcessData(const uint8_t* span, uint32_t valid, int64_t position, uint32_t* parsed) = 0;
    virtual void EndOfStream() = 0;
    // The shell dropped the oldest unparsed bytes; `remaining` unparsed bytes
    // still lead the next span. The parse starts over at them (times and the
    // detected format stay).
    virtual void SpanCut(uint32_t remaining) = 0;
    // Forget parse state, keep the detected format.
    virtual void ResetStreamState() = 0;
    // Forget everything: the next input is detected again.
    virtual void ResetAll() = 0;
    // After ProcessData: whether the chunk (len bytes at stream offset
    // `position`) goes out with a header put in at *split; then *header and
    // *headerLength give it, and the chunk's enclosing packet length has
    // been grown in place.
    virtual bool PlanChunk(uint8_t* /*chunk*/, uint32_t /*len*/, int64_t /*position*/, const uint8_t** /*header*/,
                           uint32_t* /*headerLength*/, uint32_t* /*split*/) {
        return false;
    }
    // Display name of the detected format.
    virtual const char* FormatName() const = 0;
};

}  // namespace chronel
