#include "mxf/mux/BitIo.h"
#include "mxf/mux/FileIo.h"

#include <cmath>
#include <cstring>
#include <new>

namespace mexora {

namespace {
// Masks of the low n bits, n = 0..8 (a whole byte needs 0xFF).
constexpr uint8_t kLowBits[9] = {0x00, 0x01, 0x03, 0x07, 0x0F, 0x1F, 0x3F, 0x7F, 0xFF};
}  // namespace

int32_t BitIo::AttachMemory(const uint8_t* data, uint64_t length, int32_t value) {
    if (!data && length) return kBitIoBadArgument;
    Clear(true);
    try {
        memory_.assign(data, data + length);
    } catch (const std::bad_alloc&) {
        return kBitIoNoMemory;
    }
    kind_ = Kind::kMemory;
    size_ = static_cast<int64_t>(length);
    value_ = value;
    return kBitIoOk;
}

int32_t BitIo::AttachFile(FILE* file) {
    if (!file) return kBitIoBadArgument;
    const int64_t size = FileSizeOf(file);
    if (size < 0) return kBitIoBadArgument;
    Clear(true);
    kind_ = Kind::kFile;
    file_ = file;
    size_ = size;
    position_ = TellPosition(file);
    return kBitIoOk;
}

int32_t BitIo::AttachSource(BitSource* source, int32_t argument) {
    if (!source) return kBitIoBadArgument;
    Clear(true);
    kind_ = Kind::kSource;
    source_ = source;
    value_ = argument;
    size_ = source->TotalLength(argument);
    return kBitIoOk;
}

int32_t BitIo::Read(uint8_t* destination, uint32_t length, int64_t offset) {
    if (!destination && length) return kBitIoBadArgument;
    bitsLeft_ = 0;
    const bool at = offset != kNoOffset;
    const int64_t from = at ? offset : position_;
    switch (kind_) {
        case Kind::kMemory:
            if (from < 0 || from + length > size_) return kBitIoShortRead;
            if (length) std::memcpy(destination, memory_.data() + from, length);
            break;
        case Kind::kFile: {
            const int64_t back = TellPosition(file_);
            if (at && !SeekTo(file_, offset)) return kBitIoBadArgument;
            const size_t got = std::fread(destination, 1, length, file_);
            if (at && !SeekTo(file_, back)) return kBitIoBadArgument;
            if (got != length) return kBitIoShortRead;
            break;
        }
        case Kind::kSource: {
            const int32_t r = source_->Read(destination, length, offset);
            if (r != kBitIoOk) return r;
            break;
        }
        case Kind::kNone:
            return kBitIoBadArgument;
    }
    if (!at) position_ += length;
    bitCount_ += 8ull * length;
    return kBitIoOk;
}

int32_t BitIo::ReadBit(uint32_t* bit) {
    return ReadBits(1, bit);
}

int32_t BitIo::ReadBits(uint32_t count, uint32_t* value) {
    if (!value || count > 32) return kBitIoBadArgument;
    uint32_t v = 0;
    while (count > 0) {
        if (bitsLeft_ == 0) {
            uint8_t byte = 0;
            const int32_t r = Read(&byte, 1);
            if (r != kBitIoOk) return r;
            current_ = byte;
            bitsLeft_ = 8;
            bitCount_ -= 8;  // counted bit by bit below
        }
        const uint32_t take = count < bitsLeft_ ? count : bitsLeft_;
        const uint32_t bits = (current_ >> (bitsLeft_ - take)) & kLowBits[take];
        v = (v << take) | bits;
        bitsLeft_ -= take;
        count -= take;
        bitCount_ += take;
    }
    *value = v;
    return kBitIoOk;
}

int32_t BitIo::ReadBigEndian(uint32_t bytes, uint64_t* value) {
    uint8_t b[8];
    const int32_t r = Read(b, bytes);
    if (r != kBitIoOk) return r;
    uint64_t v = 0;
    for (uint32_t i = 0; i < bytes; i++) v = (v << 8) | b[i];
    *value = v;
    return kBitIoOk;
}

int32_t BitIo::Read8(uint8_t* value) {
    uint64_t v = 0;
    const int32_t r = value ? ReadBigEndian(1, &v) : kBitIoBadArgument;
    if (r == kBitIoOk) *value = static_cast<uint8_t>(v);
    return r;
}
int32_t BitIo::Read16(uint16_t* value) {
    uint64_t v = 0;
    const int32_t r = value ? ReadBigEndian(2, &v) : kBitIoBadArgument;
    if (r == kBitIoOk) *value = static_cast<uint16_t>(v);
    return r;
}
int32_t BitIo::Read24(uint32_t* value) {
    uint64_t v = 0;
    const int32_t r = value ? ReadBigEndian(3, &v) : kBitIoBadArgument;
    if (r == kBitIoOk) *value = static_cast<uint32_t>(v);
    return r;
}
int32_t BitIo::Read32(uint32_t* value) {
    uint64_t v = 0;
    const int32_t r = value ? ReadBigEndian(4, &v) : kBitIoBadArgument;
    if (r == kBitIoOk) *value = static_cast<uint32_t>(v);
    return r;
}
int32_t BitIo::Read64(uint64_t* value) {
    return value ? ReadBigEndian(8, value) : kBitIoBadArgument;
}
int32_t BitIo::Read8_8(float* value) {
    uint16_t v = 0;
    const int32_t r = value ? Read16(&v) : kBitIoBadArgument;
    if (r == kBitIoOk) *value = static_cast<float>(v >> 8) + static_cast<float>(v & 0xFF) / 256.0f;
    return r;
}
int32_t BitIo::Read16_16(float* value) {
    uint32_t v = 0;
    const int32_t r = value ? Read32(&v) : kBitIoBadArgument;
    if (r == kBitIoOk) *value = static_cast<float>(v >> 16) + static_cast<float>(v & 0xFFFF) / 65536.0f;
    return r;
}

int32_t BitIo::CreateBuffer(uint64_t length, int32_t value) {
    Clear(true);
    try {
        memory_.assign(length, 0);
    } catch (const std::bad_alloc&) {
        return kBitIoNoMemory;
    }
    kind_ = Kind::kMemory;
    writable_ = true;
    value_ = value;
    return kBitIoOk;
}

int32_t BitIo::Write(const uint8_t* data, uint32_t length) {
    if (!writable_) return kBitIoNoBuffer;
    const uint64_t end = static_cast<uint64_t>(position_) + length;
    if (end > memory_.size()) {
        try {
            memory_.resize(end, 0);
        } catch (const std::bad_alloc&) {
            return kBitIoNoMemory;
        }
    }
    if (data) {
        std::memcpy(memory_.data() + position_, data, length);
    } else {
        std::memset(memory_.data() + position_, 0, length);
    }
    position_ = static_cast<int64_t>(end);
    if (position_ > size_) size_ = position_;
    bitCount_ += 8ull * length;
    return kBitIoOk;
}

int32_t BitIo::WriteBit(uint32_t bit) {
    if (!writable_) return kBitIoNoBuffer;
    current_ = static_cast<uint8_t>((current_ << 1) | (bit & 1u));
    if (++bitsLeft_ < 8) {
        bitCount_++;
        return kBitIoOk;
    }
    const uint8_t byte = current_;
    current_ = 0;
    bitsLeft_ = 0;
    const int32_t r = Write(&byte, 1);
    bitCount_ -= 7;  // seven of the byte's bits were counted one by one
    return r;
}

int32_t BitIo::WriteBits(uint32_t count, uint64_t value) {
    if (count > 64) return kBitIoBadArgument;
    for (uint32_t i = count; i > 0; i--) {
        const int32_t r = WriteBit(static_cast<uint32_t>(value >> (i - 1)) & 1u);
        if (r != kBitIoOk) return r;
    }
    return kBitIoOk;
}

int32_t BitIo::WriteBigEndian(uint64_t value, uint32_t bytes) {
    uint8_t b[8];
    for (uint32_t i = 0; i < bytes; i++) b[i] = static_cast<uint8_t>(value >> (8 * (bytes - 1 - i)));
    return Write(b, bytes);
}

int32_t BitIo::Write8(uint8_t value) {
    return WriteBigEndian(value, 1);
}
int32_t BitIo::Write16(uint16_t value) {
    return WriteBigEndian(value, 2);
}
int32_t BitIo::Write24(uint32_t value) {
    return WriteBigEndian(value & 0xFFFFFFu, 3);
}
int32_t BitIo::Write32(uint32_t value) {
    return WriteBigEndian(value, 4);
}
int32_t BitIo::Write64(uint64_t value) {
    return WriteBigEndian(value, 8);
}

// The fraction is kept: 1.75 is 01 C0.
int32_t BitIo::Write8_8(float value) {
    const double scaled = std::floor(static_cast<double>(value) * 256.0 + 0.5);
    const double clamped = scaled < 0 ? 0 : (scaled > 65535.0 ? 65535.0 : scaled);
    return Write16(static_cast<uint16_t>(clamped));
}
int32_t BitIo::Write16_16(float value) {
    const double scaled = std::floor(static_cast<double>(value) * 65536.0 + 0.5);
    const double clamped = scaled < 0 ? 0 : (scaled > 4294967295.0 ? 4294967295.0 : scaled);
    return Write32(static_cast<uint32_t>(clamped));
}

void BitIo::Clear(bool releaseBuffer) {
    position_ = 0;
    bitsLeft_ = 0;
    bitCount_ = 0;
    current_ = 0;
    if (releaseBuffer) {
        memory_.clear();
        memory_.shrink_to_fit();
        kind_ = Kind::kNone;
        writable_ = false;
        file_ = nullptr;
        source_ = nullptr;
        size_ = 0;
    }
}

}  // namespace mexora
