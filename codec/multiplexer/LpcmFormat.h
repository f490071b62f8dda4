// The PCM formats an LPCM stream can carry: the LPCM audio header codes four
// sample rates, three sample depths and one to eight channels, nothing else.
#pragma once

#include "codec/multiplexer/MuxSettings.h"

#include <cstdint>
#include <string>

namespace muxcore {

constexpr int32_t kLpcmMaxChannels = 8;

// The header's sample-rate code of a rate; false when it has none.
bool LpcmRateCode(int32_t sampleRate, uint8_t& code);
// The header's quantization code of a depth; false when it has none.
bool LpcmDepthCode(int32_t bitsPerSample, uint8_t& code);
// Empty when the LPCM header can describe the format, else a message naming
// the value it cannot code (e.g. "sample rate 8000 Hz is not coded").
std::string CheckLpcmFormat(const PcmFormat& f);
// Writes size bytes of PCM as LPCM payload to dst. Little-endian 16-bit
// samples become big-endian. Little-endian 24-bit samples go in groups of
// two sample frames: the upper 16 bits of each sample (big-endian; frame
// by frame, channel by channel), then the low byte of each in that order.
// Anything else (samples already in LPCM order) is copied.
void PackLpcmPayload(const PcmFormat& f, const uint8_t* src, int32_t size, uint8_t* dst);

}  // namespace muxcore
