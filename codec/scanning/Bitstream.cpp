#include "codec/scanning/Bitstream.h"

#include <algorithm>
#include <cstring>

namespace SPL {

void BitstreamWriter::Attach(uint8_t* buffer, int32_t capacity) {
    buf_ = buffer;
    cap_ = buffer && capacity > 0 ? capacity : 0;
    pos_ = 0;
    bit_ = 0;
    overflow_ = false;
}

void BitstreamWriter::PutByte(uint8_t b) {
    if (InRange(pos_, 1)) buf_[pos_] = b;
    ++pos_;
    bit_ = 0;
}

void BitstreamWriter::PutWord16(uint16_t v) {
    if (InRange(pos_, 2)) {
        buf_[pos_] = static_cast<uint8_t>(v >> 8);
        buf_[pos_ + 1] = static_cast<uint8_t>(v);
    }
    pos_ += 2;
    bit_ = 0;
}

void BitstreamWriter::PutBytes(const uint8_t* bytes, int32_t count) {
    if (count <= 0) return;
    if (bytes && InRange(pos_, count)) std::memmove(buf_ + pos_, bytes, static_cast<size_t>(count));
    pos_ += count;
    bit_ = 0;
}

void BitstreamWriter::Fill(uint8_t b, int32_t count) {
    const int32_t room = cap_ - pos_;
    if (count > room) count = room;
    if (count > 0 && InRange(pos_, count)) {
        std::memset(buf_ + pos_, b, static_cast<size_t>(count));
        pos_ += count;
    }
    bit_ = 0;
}

void BitstreamWriter::PutBits(uint64_t value, unsigned n) {
    n &= 0xFF;
    // A byte at a time: the bits that fit the current byte, the others in it kept.
    while (n > 0) {
        const unsigned k = std::min(n, 8u - static_cast<unsigned>(bit_));
        n -= k;
        const unsigned bits = n < 64 ? static_cast<unsigned>((value >> n) & ((1u << k) - 1)) : 0;
        if (InRange(pos_, 1)) {
            const unsigned shift = 8u - static_cast<unsigned>(bit_) - k;
            const unsigned mask = ((1u << k) - 1) << shift;
            buf_[pos_] = static_cast<uint8_t>((buf_[pos_] & ~mask) | (bits << shift));
        }
        bit_ += static_cast<int32_t>(k);
        if (bit_ == 8) {
            bit_ = 0;
            ++pos_;
        }
    }
}

void BitstreamWriter::SkipBytes(unsigned n) {
    pos_ += static_cast<int32_t>(n & 0xFF);
}

void BitstreamWriter::SkipBits(unsigned n) {
    const int32_t sum = bit_ + static_cast<int32_t>(n & 0xFF);
    pos_ += sum / 8;
    bit_ = sum % 8;
}

}  // namespace SPL
