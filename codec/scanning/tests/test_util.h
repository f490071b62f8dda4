// Helpers shared by the scanning library tests.
#pragma once

#include "codec/scanning/Bitstream.h"

#include <cstdint>
#include <cstring>
#include <functional>
#include <memory>
#include <vector>

namespace spltest {

using Bytes = std::vector<uint8_t>;

// A heap copy of exactly these bytes, so ASan reports any read past them.
class Exact {
public:
    explicit Exact(const Bytes& b) : n_(static_cast<uint32_t>(b.size())), p_(new uint8_t[b.empty() ? 1 : b.size()]) {
        if (!b.empty()) std::memcpy(p_.get(), b.data(), b.size());
    }
    Exact(const uint8_t* b, size_t n) : Exact(Bytes(b, b + n)) {}
    const uint8_t* data() const { return p_.get(); }
    uint32_t size() const { return n_; }

private:
    uint32_t n_;
    std::unique_ptr<uint8_t[]> p_;
};

// Bytes written through the bitstream writer into a zeroed buffer.
inline Bytes Build(const std::function<void(SPL::BitstreamWriter&)>& body, size_t capacity = 4096) {
    Bytes buf(capacity, 0);
    SPL::BitstreamWriter w;
    w.Attach(buf.data(), static_cast<int32_t>(buf.size()));
    body(w);
    buf.resize(static_cast<size_t>(w.GetPosition() + (w.GetBitPosition() ? 1 : 0)));
    return buf;
}

inline void StartCode(SPL::BitstreamWriter& w, uint8_t code) {
    w.PutBits(0x000001, 24);
    w.PutBits(code, 8);
}

}  // namespace spltest
