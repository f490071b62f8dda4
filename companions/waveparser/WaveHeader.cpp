#include "companions/waveparser/WaveHeader.h"

#include <cstring>

namespace waveparser {

namespace {

constexpr std::size_t kRiffHeader = 12;
constexpr std::size_t kChunkHeader = 8;
constexpr std::size_t kPcmFmtSize = 16;
// Chunks before "data" are small; anything larger is not a header we read.
constexpr std::size_t kLongestHeader = 65536;

std::uint16_t Get16(const std::uint8_t* p) {
    return static_cast<std::uint16_t>(p[0] | (p[1] << 8));
}
std::uint32_t Get32(const std::uint8_t* p) {
    return static_cast<std::uint32_t>(p[0]) | (static_cast<std::uint32_t>(p[1]) << 8) |
           (static_cast<std::uint32_t>(p[2]) << 16) | (static_cast<std::uint32_t>(p[3]) << 24);
}

}  // namespace

HeaderState ParseWaveHeader(const std::uint8_t* bytes, std::size_t size, PcmFormat& format, std::size_t& dataOffset) {
    if (size < kRiffHeader) return HeaderState::NeedMore;
    if (std::memcmp(bytes, "RIFF", 4) != 0 || std::memcmp(bytes + 8, "WAVE", 4) != 0) return HeaderState::Invalid;
    bool haveFormat = false;
    std::size_t at = kRiffHeader;
    while (at <= kLongestHeader) {
        if (size < at + kChunkHeader) return HeaderState::NeedMore;
        const std::uint8_t* chunk = bytes + at;
        const std::uint32_t length = Get32(chunk + 4);
        if (std::memcmp(chunk, "data", 4) == 0) {
            if (!haveFormat) return HeaderState::Invalid;
            dataOffset = at + kChunkHeader;
            return HeaderState::Ok;
        }
        if (length > kLongestHeader) return HeaderState::Invalid;
        const std::size_t next = at + kChunkHeader + length + (length & 1);
        if (std::memcmp(chunk, "fmt ", 4) == 0) {
            if (length < kPcmFmtSize) return HeaderState::Invalid;
            if (size < at + kChunkHeader + kPcmFmtSize) return HeaderState::NeedMore;
            const std::uint8_t* f = chunk + kChunkHeader;
            format.tag = Get16(f);
            format.channels = Get16(f + 2);
            format.sampleRate = Get32(f + 4);
            format.byteRate = Get32(f + 8);
            format.blockAlign = Get16(f + 12);
            format.bits = Get16(f + 14);
            if (format.tag != 1 || format.channels == 0 || format.blockAlign == 0 || format.sampleRate == 0)
                return HeaderState::Invalid;
            haveFormat = true;
        }
        at = next;
    }
    return HeaderState::Invalid;
}

}  // namespace waveparser
