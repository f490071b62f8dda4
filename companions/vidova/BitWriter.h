// MSB-first bit writer into a byte vector. Whole bytes reach the vector in
// groups of four; align() (and so startCode()) brings it up to date.
#pragma once
#include <cstdint>
#include <vector>

namespace vidova {

class BitWriter {
public:
    explicit BitWriter(std::vector<uint8_t>& out) : out_(out) {}

    void put(uint32_t value, int bits) {  // bits <= 32
        if (bits <= 0) return;
        acc_ = (acc_ << bits) | (bits == 32 ? value : (value & ((1u << bits) - 1)));
        n_ += bits;
        if (n_ >= 32) {
            n_ -= 32;
            const uint32_t w = uint32_t(acc_ >> n_);
            // One size change for the four bytes, not four.
            const size_t at = out_.size();
            out_.resize(at + 4);
            uint8_t* p = out_.data() + at;
            p[0] = uint8_t(w >> 24);
            p[1] = uint8_t(w >> 16);
            p[2] = uint8_t(w >> 8);
            p[3] = uint8_t(w);
        }
    }
    void align() {
        if (n_ & 7) put(0, 8 - (n_ & 7));
        while (n_ >= 8) {
            n_ -= 8;
            out_.push_back(uint8_t(acc_ >> n_));
        }
    }
    void startCode(uint8_t code) {
        align();
        put(0x000001, 24);
        put(code, 8);
    }
    uint64_t bitCount() const { return uint64_t(out_.size()) * 8 + uint64_t(n_); }

private:
    std::vector<uint8_t>& out_;
    uint64_t acc_ = 0;
    int n_ = 0;
};

}  // namespace vidova
