#include "companions/httpsource/HttpBody.h"

#include <algorithm>
#include <chrono>
#include <cctype>
#include <cstdlib>

namespace httpsource {

HeadState ParseReplyHead(const std::string& bytes, std::size_t& bodyStart) {
    const std::size_t end = bytes.find("\r\n\r\n");
    if (end == std::string::npos) return HeadState::NeedMore;
    // "HTTP/1.x 200 ..."
    if (bytes.compare(0, 5, "HTTP/") != 0) return HeadState::Refused;
    const std::size_t blank = bytes.find(' ');
    if (blank == std::string::npos || blank > end) return HeadState::Refused;
    const long status = std::strtol(bytes.c_str() + blank + 1, nullptr, 10);
    if (status < 200 || status > 299) return HeadState::Refused;
    bodyStart = end + 4;
    return HeadState::Ok;
}

bool ParseUrl(const std::string& url, std::string& host, unsigned short& port, std::string& path) {
    const std::string scheme = "http://";
    if (url.size() <= scheme.size()) return false;
    for (std::size_t i = 0; i < scheme.size(); ++i)
        if (std::tolower(static_cast<unsigned char>(url[i])) != scheme[i]) return false;
    const std::size_t start = scheme.size();
    const std::size_t slash = url.find('/', start);
    const std::string authority = url.substr(start, slash == std::string::npos ? std::string::npos : slash - start);
    path = slash == std::string::npos ? "/" : url.substr(slash);
    const std::size_t colon = authority.find(':');
    host = authority.substr(0, colon);
    port = 80;
    if (colon != std::string::npos) {
        const std::string digits = authority.substr(colon + 1);
        if (digits.empty() || digits.size() > 5 || digits.find_first_not_of("0123456789") != std::string::npos)
            return false;
        const long value = std::strtol(digits.c_str(), nullptr, 10);
        if (value <= 0 || value > 65535) return false;
        port = static_cast<unsigned short>(value);
    }
    return !host.empty();
}

std::string BuildRequest(const std::string& host, const std::string& path) {
    return "GET " + path + " HTTP/1.1\r\nHost: " + host + "\r\nConnection: close\r\n\r\n";
}

void BodyBuffer::Append(const std::uint8_t* data, std::size_t size) {
    {
        std::lock_guard<std::mutex> hold(lock_);
        bytes_.insert(bytes_.end(), data, data + size);
        while (bytes_.size() > keep_) {
            const std::size_t drop = std::min(bytes_.size() - keep_, bytes_.size());
            bytes_.erase(bytes_.begin(), bytes_.begin() + static_cast<std::ptrdiff_t>(drop));
            first_ += drop;
        }
    }
    arrived_.notify_all();
}

void BodyBuffer::End() {
    {
        std::lock_guard<std::mutex> hold(lock_);
        ended_ = true;
    }
    arrived_.notify_all();
}

void BodyBuffer::Abort(bool on) {
    {
        std::lock_guard<std::mutex> hold(lock_);
        aborted_ = on;
    }
    arrived_.notify_all();
}

BodyBuffer::Read BodyBuffer::ReadAt(std::uint64_t offset, std::uint8_t* out, std::size_t size, std::size_t& got,
                                    unsigned waitMs) {
    got = 0;
    std::unique_lock<std::mutex> hold(lock_);
    const auto done = [&] { return aborted_ || ended_ || first_ + bytes_.size() >= offset + size; };
    if (waitMs == kForever)
        arrived_.wait(hold, done);
    else if (!arrived_.wait_for(hold, std::chrono::milliseconds(waitMs), done))
        return Read::Pending;
    if (aborted_) return Read::Aborted;
    if (offset < first_) return Read::Gone;
    const std::uint64_t last = first_ + bytes_.size();
    if (offset >= last) return Read::Ended;
    const std::size_t take = static_cast<std::size_t>(std::min<std::uint64_t>(size, last - offset));
    const auto from = bytes_.begin() + static_cast<std::ptrdiff_t>(offset - first_);
    std::copy(from, from + static_cast<std::ptrdiff_t>(take), out);
    got = take;
    return take == size ? Read::Ok : Read::Ended;
}

std::uint64_t BodyBuffer::Received() const {
    std::lock_guard<std::mutex> hold(lock_);
    return first_ + bytes_.size();
}

}  // namespace httpsource
