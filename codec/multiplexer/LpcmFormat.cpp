#include "codec/multiplexer/LpcmFormat.h"

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

}  // namespace muxcore
