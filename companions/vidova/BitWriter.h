// MSB-first bit writer into a byte vector. Whole bytes are stored in groups
// of four into room the vector is grown by in large steps; finish() (and so
// align() and startCode()) brings the bytes up to date, and finish() cuts the
// vector to what was written.
#pragma once
#include <cstddef>
#include <cstdint>
#include <vector>

namespace vidova {

class BitWriter {
public:
    explicit BitWriter(std::vector<uint8_t>& out) : out_(out), size_(out.size()) {}

    void put(uint32_t value, int bits) {  // bits <= 32
        if (bits <= 0) return;
        acc_ = (acc_ << bits) | (bits == 32 ? value : (value & ((1u << bits) - 1)));
        n_ += bits;
        if (n_ >= 32) {
            n_ -= 32;
            const uint32_t w = uint32_t(acc_ >> n_);
            if (size_ + 4 > out_.size()) grow();
            uint8_t* p = out_.data() + size_;
            p[0] = uint8_t(w >> 24);
            p[1] = uint8_t(w >> 16);
            p[2] = uint8_t(w >> 8);
            p[3] = uint8_t(w);
            size_ += 4;
        }
    }
    void align() {
        if (n_ & 7) put(0, 8 - (n_ & 7));
        while (n_ >= 8) {
            n_ -= 8;
            if (size_ + 1 > out_.size()) grow();
            out_[size_++] = uint8_t(acc_ >> n_);
        }
    }
    // Aligns and leaves the vector holding exactly the bytes written.
    void finish() {
        align();
        out_.resize(size_);
    }
    void startCode(uint8_t code) {
        align();
        put(0x000001, 24);
        put(code, 8);
    }
    uint64_t bitCount() const { return uint64_t(size_) * 8 + uint64_t(n_); }

private:
    // Room for many more words at once: the vector's own growth would zero
    // and check its size at every word. Out of line, so that put() is small
    // enough to be inlined where it is called.
    void grow();

    std::vector<uint8_t>& out_;
    size_t size_;  // bytes written
    uint64_t acc_ = 0;
    int n_ = 0;
};

}  // namespace vidova
