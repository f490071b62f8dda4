// Groups the bytes the packet engines produce into output samples and hands
// them to a sink. Transport packets are never cut: a sample that cannot take
// the next packet is delivered first.
#pragma once

#include "codec/multiplexer/HResult.h"

#include <cstdint>
#include <memory>

namespace muxcore {

struct OutputSample {
    const uint8_t* data;
    uint32_t length;
    int64_t start;  // 100 ns, or the byte position with byteTimes
    int64_t stop;
    bool byteTimes;
};

// The first unit that reached the output after its decoding time.
struct OverloadReport {
    int input = 0;          // number of the input
    int64_t dts = 0;        // the unit's decoding time (100 ns)
    int64_t delivered = 0;  // muxer time when its last byte went out (100 ns)
};

class IMuxSink {
public:
    virtual ~IMuxSink() = default;
    virtual HRESULT_T Deliver(const OutputSample& s) = 0;
    virtual void EndOfStream() {}
    // The output rate cannot carry the inputs: once per run, at the first
    // late unit (Multiplexer::LateUnits counts them all).
    virtual void OnOverload(const OverloadReport&) {}
};

class OutputFramer {
public:
    // packetsPerSample 0: program stream (bytes flow freely over samples);
    // otherwise a sample is delivered once it holds that many packets.
    void Configure(IMuxSink* sink, uint32_t bufferSize, uint32_t packetsPerSample, bool byteTimes);
    void Reset();
    // muxerTime: "Muxer time" (100 ns) at this moment.
    HRESULT_T Deliver(const uint8_t* bytes, uint32_t length, int64_t muxerTime, bool isPacket);
    // A packet built in place: room for length bytes in the sample (a full
    // sample is delivered first; null when that failed, hr then says why),
    // and PacketDone once they are written. Deliver's packets take this way.
    uint8_t* PacketRoom(uint32_t length, int64_t muxerTime, HRESULT_T& hr);
    HRESULT_T PacketDone(uint32_t length, int64_t muxerTime);
    HRESULT_T Flush(int64_t muxerTime);

    uint64_t BytesDelivered() const { return delivered_; }
    int64_t FirstDeliveryTime() const { return firstTime_; }
    uint32_t PacketCounter() const { return counter_; }
    uint64_t SamplesDelivered() const { return samples_; }

private:
    HRESULT_T Send(int64_t muxerTime);

    IMuxSink* sink_ = nullptr;
    std::unique_ptr<uint8_t[]> sample_;  // left uninitialised: only written bytes are read
    uint32_t capacity_ = 0;
    uint32_t used_ = 0;
    uint32_t packets_ = 0;
    uint32_t perSample_ = 0;
    bool byteTimes_ = false;
    uint64_t position_ = 0;
    uint64_t delivered_ = 0;
    uint64_t samples_ = 0;
    int64_t firstTime_ = -1;
    uint32_t counter_ = 0;
};

}  // namespace muxcore
