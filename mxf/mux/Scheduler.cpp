#include "mxf/mux/Scheduler.h"

#include <cstring>

namespace mexora::mxf {

int32_t StreamScheduler::AddStream(int32_t id, const char fourcc[4], const StreamInfo& info) {
    if (streams_.count(id)) return kSchedulerOk;
    Stream s;
    if (std::memcmp(fourcc, "mpg2", 4) == 0) {
        s.picture = true;
        s.handler = std::make_unique<Mpeg2Handler>();
    } else if (std::memcmp(fourcc, "dv  ", 4) == 0) {
        s.picture = true;
        s.handler = std::make_unique<DvHandler>(info.dvFrameSize, info.dvRate);
    } else if (std::memcmp(fourcc, "aes3", 4) == 0) {
        s.picture = false;
        s.handler = std::make_unique<Aes3Handler>();
    } else {
        return kRefusedCodec;  // no MXF mapping is written for it
    }
    s.handler->SetPool(pool_);
    streams_.emplace(id, std::move(s));
    order_.push_back(id);
    return kSchedulerOk;
}

int32_t StreamScheduler::AddSample(int32_t id, const uint8_t* data, uint32_t length, int64_t start, int64_t end) {
    auto it = streams_.find(id);
    if (it == streams_.end()) return kUnknownStream;
    const int32_t r = it->second.handler->AddData(data, length, start, end);
    if (r < 0) return r;
    return EditUnitReady() ? kEditUnitReady : kSchedulerOk;
}

bool StreamScheduler::EditUnitReady() const {
    if (streams_.empty()) return false;
    bool any = false;
    for (const auto& s : streams_) {
        const bool has = !s.second.handler->Units().empty();
        any = any || has;
        if (!has && !flushed_) return false;
    }
    return any;
}

std::vector<EditUnitPart> StreamScheduler::TakeEditUnit() {
    std::vector<EditUnitPart> parts;
    if (!EditUnitReady()) return parts;
    // The picture leads, then the others in registration order.
    for (int pass = 0; pass < 2; pass++) {
        for (int32_t id : order_) {
            Stream& s = streams_.at(id);
            if (s.picture != (pass == 0) || s.handler->Units().empty()) continue;
            parts.push_back({id, s.picture, std::move(s.handler->Units().front())});
            s.handler->Units().pop_front();
        }
    }
    editUnits_++;
    return parts;
}

int32_t StreamScheduler::Flush() {
    for (auto& s : streams_) {
        const int32_t r = s.second.handler->Flush();
        if (r < 0) return r;
    }
    flushed_ = true;
    return kSchedulerOk;
}

void StreamScheduler::Reset() {
    for (auto& s : streams_) {
        s.second.handler->Reset();
        s.second.handler->Units().clear();
    }
    flushed_ = false;
    editUnits_ = 0;
}

EssenceHandler* StreamScheduler::Handler(int32_t id) {
    auto it = streams_.find(id);
    return it == streams_.end() ? nullptr : it->second.handler.get();
}

}  // namespace mexora::mxf
