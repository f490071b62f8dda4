// The body of an HTTP reply as a byte stream that readers address by
// offset: the reply's head is split off, and reads wait until their bytes
// have arrived. Only a window of recent bytes is kept, since the stream
// (the engine's endless WAV sound) is read in order.
#pragma once

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <mutex>
#include <string>

namespace httpsource {

enum class HeadState { NeedMore, Ok, Refused };
// `bytes` from the start of the reply; on Ok `bodyStart` is where the body
// begins (after the blank line). A status other than 2xx is refused.
HeadState ParseReplyHead(const std::string& bytes, std::size_t& bodyStart);

// The request a source sends for `url` ("http://host[:port][/path]");
// false when the URL is not one it can fetch.
bool ParseUrl(const std::string& url, std::string& host, unsigned short& port, std::string& path);
std::string BuildRequest(const std::string& host, const std::string& path);

class BodyBuffer {
public:
    explicit BodyBuffer(std::size_t keepBytes) : keep_(keepBytes) {}

    void Append(const std::uint8_t* data, std::size_t size);
    void End();           // the connection ended: readers past the end get Ended
    void Abort(bool on);  // a flush: waiting readers return Aborted meanwhile

    enum class Read { Ok, Ended, Gone, Aborted, Pending };
    // Waits for [offset, offset + size) or the end, at most `waitMs`
    // (Pending after that); `got` may be short only at the end. Gone: the
    // bytes have left the window.
    Read ReadAt(std::uint64_t offset, std::uint8_t* out, std::size_t size, std::size_t& got,
                unsigned waitMs = kForever);
    static constexpr unsigned kForever = ~0u;
    std::uint64_t Received() const;

private:
    mutable std::mutex lock_;
    std::condition_variable arrived_;
    std::deque<std::uint8_t> bytes_;
    std::uint64_t first_ = 0;  // offset of bytes_.front()
    std::size_t keep_;
    bool ended_ = false;
    bool aborted_ = false;
};

}  // namespace httpsource
