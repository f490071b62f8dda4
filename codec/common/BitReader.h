// Bounded MSB-first bit reader shared by the header parsers of the scanning
// and parsing libraries. It never touches a byte past the attached range: a
// read that needs bits beyond it returns zeros for them and raises the
// overrun flag, which the header parsers turn into a refusal.
#pragma once

#include <cstddef>
#include <cstdint>

namespace MpegCommon {

class BitReader {
public:
    // With removeEmulation set, every 0x03 that follows two zero bytes of
    // the raw data is dropped before it is read (H.264 7.4.1).
    explicit BitReader(bool removeEmulation = false) : ep_(removeEmulation) {}

    void Attach(const uint8_t* data, size_t length);

    // n from 0 to 32. Bits past the end read as zero and set the overrun flag.
    uint32_t Peek(unsigned n);
    // Any n; skipping past the end sets the overrun flag and stops at the end.
    void Skip(unsigned n);
    uint32_t Read(unsigned n);
    uint32_t ReadBit() { return Read(1); }
    // Up to 64 bits (for 33-bit time stamps and the like).
    uint64_t Read64(unsigned n);
    // Exp-Golomb codes (H.264 9.1). More than 31 leading zeros is not a
    // valid 32-bit code: it sets the overrun flag and gives 0.
    uint32_t ReadUE();
    int32_t ReadSE();

    bool Overrun() const { return overrun_; }
    // Raw bytes not yet consumed; a partly read byte counts as consumed.
    size_t BytesLeft() const;
    // Bits that can still be read (exact without emulation removal, an upper
    // bound with it).
    uint64_t BitsLeft() const;
    bool ByteAligned() const { return (bits_ & 7) == 0; }

private:
    void Refill();

    const uint8_t* data_ = nullptr;
    size_t len_ = 0;
    size_t pos_ = 0;      // next raw byte to load into the cache
    uint64_t cache_ = 0;  // unread bits, left aligned
    unsigned bits_ = 0;   // valid bits in cache_
    unsigned zeros_ = 0;  // run of zero bytes seen by the loader
    bool ep_ = false;
    bool overrun_ = false;
};

}  // namespace MpegCommon
