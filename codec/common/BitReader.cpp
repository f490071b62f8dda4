#include "codec/common/BitReader.h"

namespace MpegCommon {

void BitReader::Attach(const uint8_t* data, size_t length) {
    data_ = data;
    len_ = data ? length : 0;
    pos_ = 0;
    cache_ = 0;
    bits_ = 0;
    zeros_ = 0;
    overrun_ = false;
    Refill();
}

void BitReader::Refill() {
    while (bits_ <= 56 && pos_ < len_) {
        const uint8_t b = data_[pos_++];
        if (ep_) {
            if (zeros_ >= 2 && b == 0x03) {
                zeros_ = 0;
                continue;
            }
            zeros_ = (b == 0) ? zeros_ + 1 : 0;
        }
        cache_ |= static_cast<uint64_t>(b) << (56 - bits_);
        bits_ += 8;
    }
}

uint32_t BitReader::Peek(unsigned n) {
    if (n == 0) return 0;
    if (n > 32) n = 32;
    if (bits_ < n) {
        Refill();
        if (bits_ < n) overrun_ = true;
    }
    return static_cast<uint32_t>(cache_ >> (64 - n));
}

void BitReader::Skip(unsigned n) {
    while (n > 0) {
        if (bits_ < n) Refill();
        if (bits_ == 0) {
            overrun_ = true;
            return;
        }
        const unsigned take = n < bits_ ? n : bits_;
        cache_ = take >= 64 ? 0 : cache_ << take;
        bits_ -= take;
        n -= take;
    }
}

uint32_t BitReader::Read(unsigned n) {
    if (n > 32) n = 32;
    const uint32_t v = Peek(n);
    Skip(n);
    return overrun_ ? 0 : v;
}

uint64_t BitReader::Read64(unsigned n) {
    if (n > 64) n = 64;
    if (n > 32) {
        const uint64_t hi = Read(n - 32);
        const uint64_t lo = Read(32);
        return overrun_ ? 0 : (hi << 32) | lo;
    }
    return Read(n);
}

uint32_t BitReader::ReadUE() {
    unsigned zeros = 0;
    while (!overrun_ && Read(1) == 0) {
        if (overrun_) return 0;
        if (++zeros > 31) {
            overrun_ = true;
            return 0;
        }
    }
    if (overrun_) return 0;
    const uint64_t v = ((uint64_t(1) << zeros) - 1) + Read(zeros);
    return overrun_ ? 0 : static_cast<uint32_t>(v);
}

int32_t BitReader::ReadSE() {
    const uint32_t k = ReadUE();
    if (k & 1) return static_cast<int32_t>((static_cast<uint64_t>(k) + 1) / 2);
    return -static_cast<int32_t>(k / 2);
}

size_t BitReader::BytesLeft() const {
    return (len_ - pos_) + bits_ / 8;
}

uint64_t BitReader::BitsLeft() const {
    return static_cast<uint64_t>(len_ - pos_) * 8 + bits_;
}

}  // namespace MpegCommon
