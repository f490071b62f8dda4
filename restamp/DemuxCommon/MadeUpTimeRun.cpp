#include "restamp/DemuxCommon/MadeUpTimeRun.h"

namespace {

// Bytes of a run kept back when no start code ends it.
constexpr uint32_t kHeldBack = 10;
constexpr uint32_t kUnknownRemaining = 0xFFFFFFFFu;

}  // namespace

bool ReportMadeUpTimeRun(AMainParserOwner* owner, const CStreamKey& key, int64_t time, const uint8_t* d, uint32_t len,
                         uint32_t next, BS::ParserControl* ctl, BS::AStreamElement* self) {
    const bool found = next < len;
    const uint32_t taken = found ? next : (len > kHeldBack ? len - kHeldBack : 0);
    if (ctl) {
        ctl->remaining = found ? 0 : kUnknownRemaining;
        ctl->sink = found ? nullptr : self;
    }
    if (!taken) return false;
    if (owner) {
        owner->OnPayload(d, taken, time, key);
        owner->OnTime(key, time);
    }
    return true;
}
