#include "codec/multiplexer/BufferModels.h"

#include <algorithm>

#include <cmath>

namespace muxcore {

namespace {

// std::ceil for a level that fits an int32_t, without the library call
// that a build for plain SSE2 makes of it.
int32_t CeilToInt(double v) {
    const int32_t i = static_cast<int32_t>(v);
    return static_cast<double>(i) < v ? i + 1 : i;
}

}  // namespace

CBufSupervizor::CBufSupervizor(double rate, int32_t size, int32_t fullness)
    : rate_(rate), fullness_(fullness), size_(size) {
    queue_.Init(10000);
}

int CBufSupervizor::Status() const {
    if (size_ < fullness_) return kBufOverflow;
    if (fullness_ == 0) return kBufEmpty;
    if (fullness_ < 0) return kBufError;
    return kBufOk;
}

int CBufSupervizor::PushUnit(const AccessUnit& u) {
    ++pushed_;
    return queue_.Push(u);
}

int CBufSupervizor::Admit(int32_t n) {
    const int before = Status();
    if (queue_.IsEmpty()) return before;
    queue_.Newest().admitted += n;
    fullness_ += n;
    return before;
}

int CBufSupervizor::RemoveHead(int32_t size, int32_t admitted) {
    if (queue_.IsEmpty()) return kBufError;
    fullness_ -= admitted;
    if (queue_.GetCount() > 1) {
        queue_.Pop();
        ++removed_;
        return Status();
    }
    if (size == admitted) {
        queue_.Pop();
        ++removed_;
        return kBufEmpty;
    }
    // The only unit is still arriving: it stays, with its bytes counted out.
    return queue_.SetAdmitted(0, 0) == 0 ? kBufNothing : kBufError;
}

int CBufSupervizor::Drain(int64_t now) {
    if (fullness_ == 0 && queue_.IsEmpty()) return kBufNothing;
    while (!queue_.IsEmpty()) {
        const AccessUnit& head = queue_.Head();
        if (TimeToTicks(head.dts) > now) return Status();
        const int r = RemoveHead(head.size, head.admitted);
        if (r == kBufNothing || r == kBufError) return r;
    }
    return kBufNothing;
}

void CBufSupervizor::Reset() {
    fullness_ = 0;
    pushed_ = removed_ = 0;
    queue_.Clear();
}

CTBSupervizor::CTBSupervizor(double bytesPerSlot, int32_t size)
    : CBufSupervizor(bytesPerSlot, size, 0), slotsPerPacket_(bytesPerSlot > 0 ? std::ceil(188.0 / bytesPerSlot) : 0) {}

int CTBSupervizor::CanAcceptPacket(int64_t now) {
    if (level_ > 0) {
        level_ -= static_cast<double>(now - lastUpdate_) * rate_;
        if (level_ < 0) level_ = 0;
    }
    lastUpdate_ = now;
    fullness_ = CeilToInt(level_);
    return size_ < fullness_ + 188 ? kBufOverflow : kBufOk;
}

int CTBSupervizor::AddBytes(int32_t n, int64_t now) {
    // The packet enters at its own slot, which may come after the slot of
    // the last check (a PCR packet went first): leak up to it, no further.
    if (now > lastUpdate_) {
        level_ = std::max(0.0, level_ - static_cast<double>(now - lastUpdate_) * rate_);
        lastUpdate_ = now;
    }
    // The model follows the stream: bytes that overflow are counted too.
    const bool overflow = static_cast<double>(size_) < level_ + n;
    level_ += n;
    fullness_ = CeilToInt(level_);
    return overflow ? kBufOverflow : kBufOk;
}

}  // namespace muxcore
