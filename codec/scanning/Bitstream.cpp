#include "codec/scanning/Bitstream.h"

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
    for (unsigned i = n; i-- > 0;) {
        const unsigned bit = i < 64 ? static_cast<unsigned>((value >> i) & 1) : 0;
        if (InRange(pos_, 1)) {
            const uint8_t mask = static_cast<uint8_t>(0x80u >> bit_);
            buf_[pos_] = bit ? static_cast<uint8_t>(buf_[pos_] | mask) : static_cast<uint8_t>(buf_[pos_] & ~mask);
        }
        if (++bit_ == 8) {
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
