#include "engine/core/AudioHeaders.h"

#include <cstring>

namespace engine {

namespace {

constexpr std::uint32_t kOpenRiffSize = 0xEFFFFFFF;
constexpr std::uint32_t kRiffToDataSize = 36;  // the RIFF size counts from byte 8; the data from 44
constexpr std::uint16_t kPcm = 1;
constexpr std::uint16_t kChannels = 2;
constexpr std::uint16_t kBits = 16;
constexpr std::uint32_t kFmtSize = 16;

void Put16(std::uint8_t* at, std::uint16_t value) {
    at[0] = static_cast<std::uint8_t>(value);
    at[1] = static_cast<std::uint8_t>(value >> 8);
}

void Put32(std::uint8_t* at, std::uint32_t value) {
    for (int i = 0; i < 4; ++i) at[i] = static_cast<std::uint8_t>(value >> (8 * i));
}

}  // namespace

std::array<std::uint8_t, kWavHeaderSize> BuildWavStreamHeader(std::uint32_t sampleRate) {
    std::array<std::uint8_t, kWavHeaderSize> h{};
    std::memcpy(&h[0], "RIFF", 4);
    Put32(&h[4], kOpenRiffSize);
    std::memcpy(&h[8], "WAVE", 4);
    std::memcpy(&h[12], "fmt ", 4);
    Put32(&h[16], kFmtSize);
    Put16(&h[20], kPcm);
    Put16(&h[22], kChannels);
    Put32(&h[24], sampleRate);
    Put32(&h[28], sampleRate * kBytesPerFrame);
    Put16(&h[32], static_cast<std::uint16_t>(kBytesPerFrame));
    Put16(&h[34], kBits);
    std::memcpy(&h[36], "data", 4);
    Put32(&h[40], kOpenRiffSize - kRiffToDataSize);
    return h;
}

}  // namespace engine
