#include "codec/multiplexer/LpcmFormat.h"

#include <cstring>

namespace muxcore {

bool LpcmRateCode(int32_t sampleRate, uint8_t& code) {
    switch (sampleRate) {
        case 48000:
            code = 0;
            return true;
        case 96000:
            code = 1;
            return true;
        case 44100:
            code = 2;
            return true;
        case 32000:
            code = 3;
            return true;
        default:
            return false;
    }
}

bool LpcmDepthCode(int32_t bitsPerSample, uint8_t& code) {
    switch (bitsPerSample) {
        case 16:
            code = 0;
            return true;
        case 20:
            code = 1;
            return true;
        case 24:
            code = 2;
            return true;
        default:
            return false;
    }
}

std::string CheckLpcmFormat(const PcmFormat& f) {
    std::string why;
    auto add = [&why](const std::string& s) { why += (why.empty() ? "" : "; ") + s; };
    uint8_t code = 0;
    if (f.channels < 1 || f.channels > kLpcmMaxChannels)
        add(std::to_string(f.channels) + " channels are not coded (1 to " + std::to_string(kLpcmMaxChannels) + ")");
    if (!LpcmRateCode(f.sampleRate, code))
        add("sample rate " + std::to_string(f.sampleRate) + " Hz is not coded (32000, 44100, 48000 or 96000)");
    if (!LpcmDepthCode(f.bitsPerSample, code))
        add(std::to_string(f.bitsPerSample) + " bits per sample are not coded (16, 20 or 24)");
    return why;
}

namespace {

constexpr int32_t kBytes24 = 3;

// The samples of whole frames: upper parts first, then the low bytes.
void PackGroup24(const uint8_t* src, int32_t samples, uint8_t* dst) {
    uint8_t* low = dst + 2 * samples;
    for (int32_t k = 0; k < samples; ++k) {
        const uint8_t* s = src + kBytes24 * k;
        dst[2 * k] = s[2];
        dst[2 * k + 1] = s[1];
        low[k] = s[0];
    }
}

}  // namespace

void PackLpcmPayload(const PcmFormat& f, const uint8_t* src, int32_t size, uint8_t* dst) {
    if (size <= 0) return;
    if (f.littleEndian && f.bitsPerSample == 16) {
        for (int32_t i = 0; i + 1 < size; i += 2) {
            dst[i] = src[i + 1];
            dst[i + 1] = src[i];
        }
        if (size & 1) dst[size - 1] = src[size - 1];
        return;
    }
    if (!f.littleEndian || f.bitsPerSample != 24 || f.channels < 1) {
        std::memcpy(dst, src, static_cast<size_t>(size));
        return;
    }
    const int32_t frame = f.channels * kBytes24;
    const int32_t group = 2 * frame;
    int32_t at = 0;
    for (; at + group <= size; at += group) PackGroup24(src + at, 2 * f.channels, dst + at);
    // A unit that ends inside a pair: its whole frames form a short group.
    if (at + frame <= size) {
        PackGroup24(src + at, f.channels, dst + at);
        at += frame;
    }
    if (at < size) std::memcpy(dst + at, src + at, static_cast<size_t>(size - at));
}

}  // namespace muxcore
