// Recognises the kind of an elementary-stream file from its first bytes:
// MPEG-1/2 video, MPEG audio, AC-3, ADTS AAC or a PCM WAV file.
#pragma once

#include "codec/multiplexer/MuxSettings.h"

#include <cstddef>
#include <cstdint>
#include <string>

namespace muxcore {

struct EsInfo {
    int32_t streamType = kPinFree;  // kPinFree when not recognised
    PcmFormat pcm;                  // for WAV input
    size_t dataOffset = 0;          // where the elementary stream starts
    size_t dataLength = SIZE_MAX;   // SIZE_MAX: to the end
};

EsInfo DetectElementaryStream(const uint8_t* data, size_t length);
// "m2v", "m1v", "mp2", "mp1a", "ac3", "aac", "wav" (or a stream type number).
int32_t StreamTypeFromName(const std::string& name);

}  // namespace muxcore
