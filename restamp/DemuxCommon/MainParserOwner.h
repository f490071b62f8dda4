// What the main parser and the filter-bound elements need of their owner
// (the data dispatcher): the attach slots for bare audio and system streams
// and the two time reports.
#pragma once

#include "restamp/parsers/BSElements.h"

// Positions of the transport packets handled in one parse. Nothing reads them
// but tests; only the count and the last position are kept.
class CTSWatcher {
public:
    void Add(uint64_t position) {
        last = position;
        ++count;
    }
    void Clear() {
        last = 0;
        count = 0;
    }
    uint64_t last = 0;
    uint64_t count = 0;
};

// Places found while a system stream's chunk is parsed (0: not marked): A the
// first GOP header, and, until A is marked, B the latest pack header and C the
// latest packet header.
struct CSSPositionWatcher {
    uint64_t gop = 0;
    uint64_t pack = 0;
    uint64_t packet = 0;
    void Clear() { gop = pack = packet = 0; }
};

class AMainParserOwner {
public:
    virtual ~AMainParserOwner() = default;
    virtual void AttachAudioRoot(BS::AStreamElement* root) = 0;
    virtual void AttachAC3Root(BS::AStreamElement* root) = 0;
    virtual void AttachSystemStream(BS::AStreamElement* root, BS::CBaseState* state) = 0;
    // Times in 100-ns units; kNoTime is ignored.
    virtual uint32_t OnTime(const CStreamKey& key, int64_t t) = 0;
    virtual uint32_t OnPayload(const uint8_t* data, uint32_t len, int64_t t, const CStreamKey& key) = 0;
    virtual CTSWatcher* TSWatcher() { return nullptr; }
    virtual CSSPositionWatcher* PositionWatcher() { return nullptr; }
    // The video's sequence header (with what belongs to it), to go in front
    // of GOPs that lack one.
    virtual void SetPendingSeqHeader(const uint8_t*, uint32_t) {}
};

// 90 kHz clock value in 100-ns units.
inline int64_t ClockToRefTime(uint64_t v90k) {
    return int64_t((v90k & ((uint64_t(1) << 33) - 1)) * 1000 / 9);
}
