// The loopback stream: the WAV header, then about every 100 ms what the
// capture client delivered since the last pass (silence while nothing
// plays), sent on the accepted connection. The socket, the capture client
// and the clock are behind small interfaces so the loop runs anywhere.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "engine/core/Lifecycle.h"

namespace engine {

constexpr std::size_t kStreamBufferSize = 1000000;
constexpr unsigned kPassMs = 100;

class CaptureClient {
public:
    virtual ~CaptureClient() = default;
    // Results are HRESULT-like: negative is a failure.
    virtual long NextPacketSize(std::uint32_t& frames) = 0;
    virtual long GetBuffer(const std::uint8_t*& data, std::uint32_t& frames, bool& silent) = 0;
    virtual long ReleaseBuffer(std::uint32_t frames) = 0;
};

class StreamSocket {
public:
    virtual ~StreamSocket() = default;
    enum class Status { Sent, WouldBlock, Failed };
    // Sends at most `size` bytes; `sent` is how many went (Sent only).
    virtual Status Send(const std::uint8_t* data, std::size_t size, std::size_t& sent) = 0;
};

class Clock {
public:
    virtual ~Clock() = default;
    virtual std::uint64_t NowMs() = 0;
    virtual void SleepMs(unsigned milliseconds) = 0;
};

using TraceSink = std::function<void(const std::string&)>;

struct StreamResult {
    enum class End { Stopped, GaveUp, Failed };
    End end = End::Stopped;
    int step = 0;  // the failing capture step (Failed)
    long result = 0;
};

class StreamLoop {
public:
    // `bufferMs`: the capture buffer's actual duration; a stall longer than
    // that has lost sound, and the stream gives up.
    StreamLoop(CaptureClient& capture, StreamSocket& socket, Clock& clock, StopFlags& flags, std::uint32_t sampleRate,
               std::uint64_t bufferMs, TraceSink trace);
    StreamResult Run();

    std::uint64_t BytesSent() const { return bytesSent_; }

private:
    // Appends at most what the buffer still holds.
    void Append(const std::uint8_t* data, std::size_t size);
    // Sends everything pending: false when the stream ends meanwhile.
    bool SendPending(StreamResult& result);

    CaptureClient& capture_;
    StreamSocket& socket_;
    Clock& clock_;
    StopFlags& flags_;
    std::uint32_t byteRate_;
    std::uint64_t bufferMs_;
    TraceSink trace_;
    std::vector<std::uint8_t> buffer_;
    std::size_t pending_ = 0;
    bool stalled_ = false;
    std::uint64_t stallStart_ = 0;
    std::uint64_t bytesSent_ = 0;
};

}  // namespace engine
