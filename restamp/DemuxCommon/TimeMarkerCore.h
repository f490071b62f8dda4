// The time marker's data road without the platform: keeps the unparsed span
// of the input, lets the dispatcher parse each chunk and answers the time
// that the chunk is to be stamped with. The filter shell and the command-line
// driver both run their chunks through it.
#pragma once

#include "restamp/DemuxCommon/DataDispatcher.h"

#include <vector>

// One piece of a chunk's delivery.
struct CChunkPiece {
    const uint8_t* data = nullptr;
    uint32_t length = 0;
    int64_t time = kNoTime;
    bool inserted = false;  // a sequence header put in by the time marker
};

class CTimeMarkerCore : public ATimeSink {
public:
    static constexpr uint32_t kChunkSize = 1000;
    // The parser needs more than this many bytes in the span.
    static constexpr uint32_t kMinSpan = 188;

    CTimeMarkerCore();

    // One input chunk; returns its stamp (kNoTime: none). The bytes are not
    // changed and are delivered by the caller.
    int64_t ProcessChunk(const uint8_t* data, uint32_t len);
    // The same, and how the chunk goes out: its pieces in order (at most
    // three; returns their count). A system stream's chunk may get its video
    // sequence header in front of a GOP header, and then the enclosing
    // packet's length in `data` grows by the header's.
    static constexpr uint32_t kMaxPieces = 3;
    uint32_t ProcessChunk(uint8_t* data, uint32_t len, CChunkPiece pieces[kMaxPieces]);
    // End of stream: a last detection attempt with what was collected.
    void EndOfStream();
    // Stream reset (pause from stopped, stop, flush, end of stream): the
    // unparsed span goes, time records and the parser start over; the format stays.
    void ResetStream();
    // Input disconnected: the format is detected again.
    void Disconnect();
    // Stop: a stream reset, and the next chunk is stamped 0 until a time comes.
    void Stop() {
        ResetStream();
        keptTime_ = 0;
    }

    void OnTime(int64_t t) override { keptTime_ = t; }

    CDataDispatcher& Dispatcher() { return dispatcher_; }
    int64_t ByteCounter() const { return byteCounter_; }
    uint32_t SpanLength() const { return uint32_t(span_.size() - spanRead_); }

private:
    std::vector<uint8_t> span_;
    size_t spanRead_ = 0;
    int64_t byteCounter_ = 0;
    int64_t keptTime_ = 0;
    CDataDispatcher dispatcher_;
};
