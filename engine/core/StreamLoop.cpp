#include "engine/core/StreamLoop.h"

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <cstring>

#include "engine/core/AudioHeaders.h"

namespace engine {

namespace {

constexpr int kStepNextPacket = 5;
constexpr int kStepGetBuffer = 6;
constexpr int kStepRelease = 7;
constexpr int kStepNextInLoop = 8;

std::string Printf(const char* format, ...) __attribute__((format(printf, 1, 2)));

}  // namespace

StreamLoop::StreamLoop(CaptureClient& capture, StreamSocket& socket, Clock& clock, StopFlags& flags,
                       std::uint32_t sampleRate, std::uint64_t bufferMs, TraceSink trace)
    : capture_(capture),
      socket_(socket),
      clock_(clock),
      flags_(flags),
      byteRate_(sampleRate * kBytesPerFrame),
      bufferMs_(bufferMs),
      trace_(std::move(trace)),
      buffer_(kStreamBufferSize, 0) {
    const auto header = BuildWavStreamHeader(sampleRate);
    std::memcpy(buffer_.data(), header.data(), header.size());
    pending_ = header.size();
}

void StreamLoop::Append(const std::uint8_t* data, std::size_t size) {
    const std::size_t room = kStreamBufferSize - pending_;
    const std::size_t take = std::min(size, room);
    if (data)
        std::memcpy(buffer_.data() + pending_, data, take);
    else
        std::memset(buffer_.data() + pending_, 0, take);
    pending_ += take;
}

bool StreamLoop::SendPending(StreamResult& result) {
    std::size_t offset = 0;
    while (offset < pending_) {
        std::size_t sent = 0;
        const StreamSocket::Status status = socket_.Send(buffer_.data() + offset, pending_ - offset, sent);
        if (status == StreamSocket::Status::Sent && sent > 0) {
            offset += sent;
            bytesSent_ += sent;
            continue;
        }
        // A full send buffer or a failure: wait and try again while the
        // capture buffer can still hold what plays meanwhile.
        const std::uint64_t now = clock_.NowMs();
        if (!stalled_) {
            stalled_ = true;
            stallStart_ = now;
        }
        if (now - stallStart_ > bufferMs_) {
            if (trace_)
                trace_(Printf("\r\nCANNOT CONTINUE\r\n time = %d mSec", static_cast<int>((now - stallStart_) / 1000)));
            result.end = StreamResult::End::GaveUp;
            return false;
        }
        clock_.SleepMs(kPassMs);
        if (flags_.stop) {
            result.end = StreamResult::End::Stopped;
            return false;
        }
    }
    std::memset(buffer_.data(), 0, pending_);
    pending_ = 0;
    return true;
}

StreamResult StreamLoop::Run() {
    StreamResult result;
    bool ready = false;
    if (flags_.streamingStopped) return result;
    while (!flags_.stop) {
        if (stalled_) {
            if (trace_)
                trace_(Printf("\r\nFOUND t = %d mSec packSize = %d KB", static_cast<int>(clock_.NowMs() - stallStart_),
                              static_cast<int>(pending_ / 1024)));
            stalled_ = false;
        }
        if (ready && pending_ > 0) {
            if (!SendPending(result)) return result;
            clock_.SleepMs(kPassMs);
        }
        std::uint32_t frames = 0;
        long hr = capture_.NextPacketSize(frames);
        if (hr < 0) return {StreamResult::End::Failed, kStepNextPacket, hr};
        if (frames != 0) {
            while (!flags_.stop) {
                ready = true;
                if (flags_.streamingStopped) break;
                const std::uint8_t* data = nullptr;
                std::uint32_t got = 0;
                bool silent = false;
                hr = capture_.GetBuffer(data, got, silent);
                if (hr < 0) return {StreamResult::End::Failed, kStepGetBuffer, hr};
                // Silence is as long as the frames it stands for.
                Append(silent ? nullptr : data, static_cast<std::size_t>(got) * kBytesPerFrame);
                hr = capture_.ReleaseBuffer(got);
                if (hr < 0) return {StreamResult::End::Failed, kStepRelease, hr};
                hr = capture_.NextPacketSize(frames);
                if (hr < 0) return {StreamResult::End::Failed, kStepNextInLoop, hr};
                if (frames == 0) break;
            }
        } else if (ready) {
            Append(nullptr, byteRate_ / 10);  // a tenth of a second of silence
        } else {
            ready = true;
            Append(nullptr, byteRate_ / 10);  // after the header
        }
        if (flags_.streamingStopped) break;
    }
    return result;
}

namespace {

std::string Printf(const char* format, ...) {
    char text[256];
    va_list args;
    va_start(args, format);
    std::vsnprintf(text, sizeof text, format, args);
    va_end(args);
    return text;
}

}  // namespace

}  // namespace engine
