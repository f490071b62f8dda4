// The parser side of the filter shell's seam: the shell hands each chunk's
// unparsed span here; times found in it go back to the shell's owner.
#pragma once

#include "restamp/DemuxCommon/ChunkDispatcher.h"
#include "restamp/DemuxCommon/DataDispatcher.h"

class CChronelDispatcher : public chronel::ChunkDispatcher, private ATimeSink {
public:
    explicit CChronelDispatcher(chronel::ChunkDispatcherOwner* owner) : owner_(owner), dispatcher_(this) {}

    // position: stream offset of the current chunk's first byte; the span
    // begins with the bytes the previous call left unparsed.
    int32_t ProcessData(const uint8_t* span, uint32_t valid, int64_t position, uint32_t* parsed) override;
    void EndOfStream() override { dispatcher_.EndOfStream(); }
    void SpanCut(uint32_t remaining) override;
    void ResetStreamState() override;
    void ResetAll() override;
    const char* FormatName() const override;
    bool PlanChunk(uint8_t* chunk, uint32_t len, int64_t position, const uint8_t** header, uint32_t* headerLength,
                   uint32_t* split) override;

    CDataDispatcher& Dispatcher() { return dispatcher_; }

private:
    void OnTime(int64_t t) override {
        if (owner_) owner_->OnTime(t);
    }

    chronel::ChunkDispatcherOwner* owner_;
    CDataDispatcher dispatcher_;
    uint32_t leftover_ = 0;  // unparsed bytes in front of the next chunk
};
