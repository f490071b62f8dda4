#include "restamp/DemuxCommon/TimeMarkerCore.h"

#include <cstring>

CTimeMarkerCore::CTimeMarkerCore() : dispatcher_(this) {
    span_.reserve(64 * 1024);
}

int64_t CTimeMarkerCore::ProcessChunk(const uint8_t* data, uint32_t len) {
    const uint32_t v0 = SpanLength();
    if (spanRead_ && spanRead_ == span_.size()) {
        span_.clear();
        spanRead_ = 0;
    }
    if (spanRead_ > span_.size() / 2 && spanRead_ > 4096) {
        span_.erase(span_.begin(), span_.begin() + long(spanRead_));
        spanRead_ = 0;
    }
    span_.insert(span_.end(), data, data + len);
    const uint32_t v = SpanLength();
    const int64_t t = keptTime_;
    if (v > kMinSpan) {
        keptTime_ = kNoTime;
        uint32_t n = v;
        dispatcher_.ProcessData(uint64_t(byteCounter_ - v0), span_.data() + spanRead_, &n);
        spanRead_ += n < v ? n : v;
    } else {
        // Too short to parse: the bytes wait in the span; the chunk still
        // goes out with the kept time.
        keptTime_ = kNoTime;
    }
    byteCounter_ += len;
    return t;
}

uint32_t CTimeMarkerCore::ProcessChunk(uint8_t* data, uint32_t len, CChunkPiece pieces[kMaxPieces]) {
    const uint64_t start = uint64_t(byteCounter_);
    dispatcher_.PositionWatcher()->Clear();
    const int64_t t = ProcessChunk(static_cast<const uint8_t*>(data), len);
    const CSeqHeaderProcessor* header = dispatcher_.PendingSeqHeader();
    const CDeliveryPlan plan = PlanDelivery(start, data, len, dispatcher_.Marks(), header);
    if (!plan.insert) {
        pieces[0] = {data, len, t, false};
        return 1;
    }
    ApplyPlan(plan, data);
    uint32_t n = 0;
    if (plan.split) pieces[n++] = {data, plan.split, t, false};  // an empty first piece sends nothing
    pieces[n++] = {header->Data(), header->Length(), kNoTime, true};
    if (plan.split < len) pieces[n++] = {data + plan.split, len - plan.split, kNoTime, false};
    return n;
}

void CTimeMarkerCore::EndOfStream() {
    dispatcher_.EndOfStream();
    ResetStream();
}

void CTimeMarkerCore::ResetStream() {
    span_.clear();
    spanRead_ = 0;
    dispatcher_.TimeProcessor().Reset();
    dispatcher_.MainParser().ResetParser();
}

void CTimeMarkerCore::Disconnect() {
    dispatcher_.MainParser().Reset();
    dispatcher_.TimeProcessor().Clear();
    ResetStream();
    byteCounter_ = 0;
}
