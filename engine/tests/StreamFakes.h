// A clock, a socket and a capture client for the streaming loop, run on
// simulated time.
#pragma once

#include <cstdint>
#include <cstring>
#include <vector>

#include "engine/core/StreamLoop.h"

namespace engine {

class FakeClock : public Clock {
public:
    FakeClock(StopFlags& flags, std::uint64_t stopAtMs) : flags_(flags), stopAt_(stopAtMs) {}
    std::uint64_t NowMs() override { return now_; }
    void SleepMs(unsigned ms) override {
        now_ += ms;
        if (now_ >= stopAt_) flags_.stop = true;
    }
    std::uint64_t now_ = 0;

private:
    StopFlags& flags_;
    std::uint64_t stopAt_;
};

// Takes at most `maxPerCall` bytes a call; blocks between the two times.
class FakeSocket : public StreamSocket {
public:
    explicit FakeSocket(Clock& clock) : clock_(clock) {}
    Status Send(const std::uint8_t* data, std::size_t size, std::size_t& sent) override {
        largestAsked = std::max(largestAsked, size);
        const std::uint64_t now = clock_.NowMs();
        if (now >= blockFrom && now < blockUntil) return failInstead ? Status::Failed : Status::WouldBlock;
        sent = std::min(size, maxPerCall);
        received.insert(received.end(), data, data + sent);
        ++calls;
        return Status::Sent;
    }
    std::vector<std::uint8_t> received;
    std::size_t maxPerCall = static_cast<std::size_t>(-1);
    std::size_t largestAsked = 0;
    std::uint64_t blockFrom = 0;
    std::uint64_t blockUntil = 0;
    bool failInstead = false;
    int calls = 0;

private:
    Clock& clock_;
};

// Sound that plays from time 0 at `rate`, delivered in packets of
// `packetFrames`; each frame carries its own index, or the packets are
// flagged silent over garbage.
class FakeCapture : public CaptureClient {
public:
    FakeCapture(Clock& clock, std::uint32_t rate, std::uint32_t packetFrames, bool silent)
        : clock_(clock), rate_(rate), packet_(packetFrames), silent_(silent), data_(packetFrames * 4) {}
    long NextPacketSize(std::uint32_t& frames) override {
        if (failNext) return failNext;
        const std::uint64_t played = clock_.NowMs() * rate_ / 1000;
        frames = playing && played - consumed_ >= packet_ ? packet_ : 0;
        return 0;
    }
    long GetBuffer(const std::uint8_t*& data, std::uint32_t& frames, bool& silent) override {
        for (std::uint32_t i = 0; i < packet_; ++i) {
            const std::uint32_t index = static_cast<std::uint32_t>(consumed_ + i);
            if (silent_)
                std::memset(&data_[i * 4], 0xAB, 4);
            else
                std::memcpy(&data_[i * 4], &index, 4);
        }
        data = data_.data();
        frames = packet_;
        silent = silent_;
        return 0;
    }
    long ReleaseBuffer(std::uint32_t frames) override {
        consumed_ += frames;
        return 0;
    }
    std::uint64_t Consumed() const { return consumed_; }
    bool playing = true;
    long failNext = 0;

private:
    Clock& clock_;
    std::uint32_t rate_;
    std::uint32_t packet_;
    bool silent_;
    std::vector<std::uint8_t> data_;
    std::uint64_t consumed_ = 0;
};

}  // namespace engine
