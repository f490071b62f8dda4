// Sequence-header insertion of MPEG-1 system streams: the pending header and
// the plan by which a chunk is delivered, with the header in front of the
// first GOP header found in it and the enclosing packet's length grown.
// Both chunk roads (the filter and the command-line driver) use the plan.
#pragma once

#include "restamp/DemuxCommon/MainParserOwner.h"

#include <cstdint>
#include <vector>

class CSeqHeaderProcessor {
public:
    // The run is kept whole, in a buffer of its size.
    void Set(const uint8_t* d, uint32_t len) {
        data_.assign(d, d + len);
        setLength_ = len;
    }
    void SetData(const uint8_t* d, uint32_t len) { data_.assign(d, d + len); }
    const uint8_t* Data() const { return data_.data(); }
    uint32_t Length() const { return uint32_t(data_.size()); }
    uint32_t SetLength() const { return setLength_; }

private:
    std::vector<uint8_t> data_;
    uint32_t setLength_ = 0;
};

// How one chunk goes out: bytes [0, split) with the chunk's time, then the
// header (no time), then [split, length) (no time). Without insertion split
// is the chunk's length and nothing else goes out.
struct CDeliveryPlan {
    bool insert = false;
    uint32_t split = 0;
    // Where the grown PES_packet_length goes (its first byte), when one does.
    bool patchLength = false;
    uint32_t lengthOffset = 0;
    uint16_t newLength = 0;
};

// chunk: the chunk's bytes at stream position `start`; header may be null.
CDeliveryPlan PlanDelivery(uint64_t start, const uint8_t* chunk, uint32_t length, const CSSPositionWatcher& marks,
                           const CSeqHeaderProcessor* header);
// Writes the plan's grown length into the chunk.
void ApplyPlan(const CDeliveryPlan& plan, uint8_t* chunk);
