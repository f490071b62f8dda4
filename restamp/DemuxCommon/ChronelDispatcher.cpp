#include "restamp/DemuxCommon/ChronelDispatcher.h"

int32_t CChronelDispatcher::ProcessData(const uint8_t* span, uint32_t valid, int64_t position, uint32_t* parsed) {
    const uint32_t before = leftover_ < valid ? leftover_ : 0;
    const int64_t spanStart = position >= int64_t(before) ? position - int64_t(before) : 0;
    uint32_t n = valid;
    dispatcher_.ProcessData(uint64_t(spanStart), span, &n);
    if (n > valid) n = valid;
    *parsed = n;
    leftover_ = valid - n;
    return 0;
}

bool CChronelDispatcher::PlanChunk(uint8_t* chunk, uint32_t len, int64_t position, const uint8_t** header,
                                   uint32_t* headerLength, uint32_t* split) {
    const CSeqHeaderProcessor* h = dispatcher_.PendingSeqHeader();
    if (position < 0) return false;
    const CDeliveryPlan plan = PlanDelivery(uint64_t(position), chunk, len, dispatcher_.Marks(), h);
    if (!plan.insert) return false;
    ApplyPlan(plan, chunk);
    *header = h->Data();
    *headerLength = h->Length();
    *split = plan.split;
    return true;
}

void CChronelDispatcher::SpanCut(uint32_t remaining) {
    leftover_ = remaining;
    dispatcher_.MainParser().ResetParser();
}

void CChronelDispatcher::ResetStreamState() {
    leftover_ = 0;
    dispatcher_.TimeProcessor().Reset();
    dispatcher_.MainParser().ResetParser();
}

void CChronelDispatcher::ResetAll() {
    leftover_ = 0;
    dispatcher_.MainParser().Reset();
    dispatcher_.TimeProcessor().Clear();
}

const char* CChronelDispatcher::FormatName() const {
    switch (dispatcher_.MainParser().StreamType()) {
        case kTypeSystemStream:
            return "Mpeg1 System Sream";
        case kTypeProgramStream:
            return "Mpeg2 Program Stream";
        case kTypeTransportStream:
            return "Mpeg2 Transport Stream";
        case kTypeVideoOnly:
            return "MPEG Video Only Stream";
        case kTypePVA:
            return "PVA Stream";
        case kTypeAudioOnly:
            return "Mpeg Audio Stream";
        case kTypeAC3Only:
            return "AC3 Stream";
        case kTypeH264Only:
            return "H264 Only Stream";
        default:
            return "Not Initialized";
    }
}
