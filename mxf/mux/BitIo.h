// A small byte stream for serialising and parsing KLV packs: reads from a
// memory block, a C runtime file or a source object, writes into a memory
// block it owns; big-endian integers, fixed-point numbers and single bits
// (most significant first); 64-bit positions and sizes.
#pragma once

#include <cstdint>
#include <cstdio>
#include <vector>

namespace mexora {

enum BitIoResult : int32_t {
    kBitIoOk = 0,
    kBitIoNoBuffer = -28,
    kBitIoNoMemory = -29,
    kBitIoBadArgument = -30,
    kBitIoShortRead = -90,
};

// What a BitIo reads from when it is neither memory nor a file.
class BitSource {
public:
    virtual ~BitSource() = default;
    virtual int64_t TotalLength(int32_t argument) = 0;
    // Reads exactly `length` bytes at `offset` (or at the current place when
    // offset is negative); a BitIoResult.
    virtual int32_t Read(uint8_t* destination, uint32_t length, int64_t offset) = 0;
};

class BitIo {
public:
    static constexpr int64_t kNoOffset = -1;

    // ---- reading ----
    int32_t AttachMemory(const uint8_t* data, uint64_t length, int32_t value);
    int32_t AttachFile(FILE* file);
    int32_t AttachSource(BitSource* source, int32_t argument);
    // Exactly `length` bytes; at `offset` (the position does not move) or at
    // the current place. The bit position starts over.
    int32_t Read(uint8_t* destination, uint32_t length, int64_t offset = kNoOffset);
    int32_t ReadBit(uint32_t* bit);
    int32_t ReadBits(uint32_t count, uint32_t* value);  // up to 32 bits
    int32_t Read8(uint8_t* value);
    int32_t Read16(uint16_t* value);
    int32_t Read24(uint32_t* value);
    int32_t Read32(uint32_t* value);
    int32_t Read64(uint64_t* value);
    int32_t Read8_8(float* value);
    int32_t Read16_16(float* value);

    // ---- writing ----
    int32_t CreateBuffer(uint64_t length, int32_t value);
    // `length` bytes of data, or zeros when data is null.
    int32_t Write(const uint8_t* data, uint32_t length);
    int32_t WriteBit(uint32_t bit);
    int32_t WriteBits(uint32_t count, uint64_t value);  // up to 64 bits
    int32_t Write8(uint8_t value);
    int32_t Write16(uint16_t value);
    int32_t Write24(uint32_t value);
    int32_t Write32(uint32_t value);
    int32_t Write64(uint64_t value);
    int32_t Write8_8(float value);
    int32_t Write16_16(float value);

    int64_t Size() const { return size_; }
    int64_t Position() const { return position_; }
    uint64_t BitCount() const { return bitCount_; }
    int32_t Value() const { return value_; }
    // The written (or attached) bytes up to the furthest position reached.
    const std::vector<uint8_t>& Bytes() const { return memory_; }
    // Forgets the position state; releases the buffer when asked.
    void Clear(bool releaseBuffer);

private:
    enum class Kind { kNone, kMemory, kFile, kSource };
    int32_t WriteBigEndian(uint64_t value, uint32_t bytes);
    int32_t ReadBigEndian(uint32_t bytes, uint64_t* value);

    Kind kind_ = Kind::kNone;
    std::vector<uint8_t> memory_;
    bool writable_ = false;
    FILE* file_ = nullptr;
    BitSource* source_ = nullptr;
    int64_t size_ = 0;
    int64_t position_ = 0;
    int32_t value_ = 0;
    uint32_t bitsLeft_ = 0;  // unread bits of current_ (reading), filled bits (writing)
    uint64_t bitCount_ = 0;
    uint8_t current_ = 0;
};

}  // namespace mexora
