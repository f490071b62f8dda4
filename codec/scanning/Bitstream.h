// Bit-level reader and writer of the scanning library.
//
// The reader is the shared bounded reader: it never looks past the attached
// range, and a read that needs bits beyond it yields zeros and raises
// Overrun(), which every header parser checks before accepting.
//
// The writer puts bytes and MSB-first bit fields into a caller's buffer. A
// write beyond the capacity is dropped (and Overflow() raised) instead of
// touching memory past the buffer; positions still advance, so length
// arithmetic of the callers stays as it would be. Fill is the only operation
// that clips its count.
#pragma once

#include "codec/common/BitReader.h"

#include <cstdint>

namespace SPL {

class BitstreamReader {
public:
    // Emulation-prevention removal (00 00 03) for the H.264 headers.
    explicit BitstreamReader(uint8_t removeEmulation = 0) : r_(removeEmulation != 0) {}
    virtual ~BitstreamReader() = default;

    void Attach(const uint8_t* data, int32_t length) { r_.Attach(data, length > 0 ? static_cast<size_t>(length) : 0); }
    uint32_t PeekBits(unsigned n) { return r_.Peek(n); }
    void SkipBits(unsigned n) { r_.Skip(n); }
    uint32_t ReadBits(unsigned n) { return r_.Read(n); }
    uint64_t ReadBits64(unsigned n) { return r_.Read64(n); }
    uint32_t ReadBit() { return r_.ReadBit(); }
    uint32_t ReadUE() { return r_.ReadUE(); }
    int32_t ReadSE() { return r_.ReadSE(); }
    int32_t BytesLeft() const { return static_cast<int32_t>(r_.BytesLeft()); }
    uint64_t BitsLeft() const { return r_.BitsLeft(); }
    bool Overrun() const { return r_.Overrun(); }

private:
    MpegCommon::BitReader r_;
};

class BitstreamWriter {
public:
    BitstreamWriter() = default;
    virtual ~BitstreamWriter() = default;

    void Attach(uint8_t* buffer, int32_t capacity);
    void PutByte(uint8_t b);
    void PutWord16(uint16_t v);
    void PutBytes(const uint8_t* bytes, int32_t count);
    void Fill(uint8_t b, int32_t count);
    // The low n (mod 256) bits of value, most significant first; bits above
    // the 64 of value are zeros.
    void PutBits(uint64_t value, unsigned n);
    void SkipBytes(unsigned n);
    void SkipBits(unsigned n);
    int32_t GetPosition() const { return pos_; }
    void SetPosition(int32_t p) {
        pos_ = p;
        bit_ = 0;
    }
    int32_t GetBitPosition() const { return bit_; }
    bool Overflow() const { return overflow_; }

private:
    bool InRange(int32_t at, int32_t count) {
        if (!buf_ || at < 0 || count < 0 || at > cap_ || count > cap_ - at) {
            if (count > 0) overflow_ = true;
            return false;
        }
        return true;
    }

    uint8_t* buf_ = nullptr;
    int32_t cap_ = 0;
    int32_t pos_ = 0;
    int32_t bit_ = 0;
    bool overflow_ = false;
};

}  // namespace SPL
