// Recognises the kind of an elementary-stream file from its first bytes:
// MPEG-1/2 video, H.264, MPEG-4 Part 2 video, VC-1, MPEG audio, AC-3, ADTS AAC or a PCM WAV file.
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

// Audio is recognised by three whole frames in a row from the first byte
// (fewer when the data end with the last of them).
EsInfo DetectElementaryStream(const uint8_t* data, size_t length);
// Whether the first bytes are what a stream of the type begins with.
bool BytesFitKind(int32_t type, const uint8_t* data, size_t length);
// "m2v" ("mpeg2video"), "m1v" ("mpeg1video"), "mp2" ("mpa"), "mp2a", "ac3",
// "aac", "wav" ("pcm"), "h264" ("264", "avc"),
// "m4v" ("mpeg4"), "vc1"; kPinFree for any other name.
int32_t StreamTypeFromName(const std::string& name);

}  // namespace muxcore
