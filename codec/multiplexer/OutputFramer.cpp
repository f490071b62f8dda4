#include "codec/multiplexer/OutputFramer.h"

#include <algorithm>
#include <cstring>

namespace muxcore {

void OutputFramer::Configure(IMuxSink* sink, uint32_t bufferSize, uint32_t packetsPerSample, bool byteTimes) {
    sink_ = sink;
    capacity_ = std::max<uint32_t>(bufferSize, 192);
    sample_.reset(new uint8_t[capacity_]);
    perSample_ = packetsPerSample;
    byteTimes_ = byteTimes;
    Reset();
}

void OutputFramer::Reset() {
    used_ = packets_ = 0;
    position_ = delivered_ = samples_ = 0;
    firstTime_ = -1;
    counter_ = 0;
}

HRESULT_T OutputFramer::Send(int64_t muxerTime) {
    if (used_ == 0) return kS_OK;
    if (firstTime_ < 0) firstTime_ = muxerTime;
    OutputSample s;
    s.data = sample_.get();
    s.length = used_;
    s.byteTimes = byteTimes_;
    if (byteTimes_) {
        s.start = static_cast<int64_t>(position_);
        s.stop = static_cast<int64_t>(position_ + used_);
    } else {
        s.start = muxerTime;
        s.stop = muxerTime + 1;
    }
    const HRESULT_T hr = sink_ ? sink_->Deliver(s) : kS_OK;
    delivered_ += used_;
    position_ += used_;
    ++samples_;
    used_ = 0;
    packets_ = 0;
    return hr;
}

HRESULT_T OutputFramer::Deliver(const uint8_t* bytes, uint32_t length, int64_t muxerTime, bool isPacket) {
    const uint32_t cap = capacity_;
    if (isPacket) {
        HRESULT_T hr;
        uint8_t* room = PacketRoom(length, muxerTime, hr);
        if (!room) return hr;
        std::memcpy(room, bytes, length);
        return PacketDone(length, muxerTime);
    }
    if (used_ == 0 && length > 0 && length <= cap) {
        // A whole piece with nothing held: hand it on without copying.
        if (firstTime_ < 0) firstTime_ = muxerTime;
        OutputSample s;
        s.data = bytes;
        s.length = length;
        s.byteTimes = byteTimes_;
        s.start = byteTimes_ ? static_cast<int64_t>(position_) : muxerTime;
        s.stop = byteTimes_ ? static_cast<int64_t>(position_ + length) : muxerTime + 1;
        const HRESULT_T hr = sink_ ? sink_->Deliver(s) : kS_OK;
        delivered_ += length;
        position_ += length;
        ++samples_;
        counter_ = (counter_ + 1) & 31;
        return hr;
    }
    while (length > 0) {
        const uint32_t n = std::min(length, cap - used_);
        std::memcpy(sample_.get() + used_, bytes, n);
        used_ += n;
        bytes += n;
        length -= n;
        counter_ = (counter_ + 1) & 31;
        if (used_ == cap || length == 0) {
            const HRESULT_T hr = Send(muxerTime);
            if (Failed(hr)) return hr;
        }
    }
    return kS_OK;
}

uint8_t* OutputFramer::PacketRoom(uint32_t length, int64_t muxerTime, HRESULT_T& hr) {
    // A packet goes whole into one sample.
    hr = kS_OK;
    if (length > capacity_) {
        hr = kE_INVALIDARG;
        return nullptr;
    }
    if (capacity_ - used_ < length) {
        hr = Send(muxerTime);
        if (Failed(hr)) return nullptr;
    }
    return sample_.get() + used_;
}

HRESULT_T OutputFramer::PacketDone(uint32_t length, int64_t muxerTime) {
    used_ += length;
    ++packets_;
    counter_ = (counter_ + 1) & 31;
    if (perSample_ == 0 || packets_ >= perSample_) return Send(muxerTime);
    return kS_OK;
}

HRESULT_T OutputFramer::Flush(int64_t muxerTime) {
    return Send(muxerTime);
}

}  // namespace muxcore
