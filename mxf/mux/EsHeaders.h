// Elementary-stream headers the MXF writer takes its descriptor values from:
// the AES3 stream header, the MPEG-2 video headers and the DV DIF frame.
// Each parse starts by clearing the header; a header that is not recognised
// or would need bytes past the given length is refused (false).
#pragma once

#include "codec/scanning/ParserFramework.h"

#include <cstddef>
#include <cstdint>

namespace mexora::es {

struct Rate {
    int32_t numerator = 0, denominator = 1;
};

struct Aes3Header {
    bool valid = false;
    uint32_t sampleRate = 48000;
    int channels = 0;
    int bits = 0;
    bool Parse(const uint8_t* p, size_t n);
};

// Pointers start at the 00 00 01 start code.
struct Mpeg2Sequence {
    bool valid = false;
    uint32_t width = 0, height = 0;
    uint8_t aspectCode = 0, frameRateCode = 0;
    uint32_t bitRateValue = 0, vbvBufferSize = 0;
    bool constrained = false;
    bool Parse(const uint8_t* p, size_t n);
    double FrameRate() const;
    int64_t FrameDuration() const;  // 100 ns units, truncated
    Rate FrameRateRational() const;
    Rate Aspect() const;  // display aspect ratio
    uint32_t BitRate() const { return bitRateValue * 400; }
};

struct Mpeg2SequenceExtension {
    bool valid = false;
    uint8_t profileAndLevel = 0;
    int profile = 0, level = 0;  // small numbers: profile 1 High .. 5 Simple, 6/7 the escapes
    bool progressive = false;
    uint8_t chromaFormat = 0;  // 1 4:2:0, 2 4:2:2, 3 4:4:4
    uint8_t horizontalExtension = 0, verticalExtension = 0;
    uint16_t bitRateExtension = 0;
    uint8_t vbvExtension = 0;
    bool lowDelay = false;
    uint8_t frameRateN = 0, frameRateD = 0;
    bool Parse(const uint8_t* p, size_t n);
};

struct Mpeg2PictureCodingExtension {
    bool valid = false;
    uint8_t intraDcPrecision = 0, pictureStructure = 0;
    bool topFieldFirst = false, framePredFrameDct = false, concealmentVectors = false, qScaleType = false;
    bool intraVlcFormat = false, alternateScan = false, repeatFirstField = false, chroma420Type = false;
    bool progressiveFrame = false, compositeDisplay = false;
    bool Parse(const uint8_t* p, size_t n);
};

struct Mpeg2Gop {
    bool valid = false;
    bool dropFrame = false, closed = false, brokenLink = false;
    uint8_t hours = 0, minutes = 0, seconds = 0, pictures = 0;
    bool Parse(const uint8_t* p, size_t n, bool strict = false);
};

struct Mpeg2Picture {
    bool valid = false;
    uint16_t temporalReference = 0;
    uint8_t codingType = 0;  // 1 I, 2 P, 3 B, 4 D
    uint16_t vbvDelay = 0;
    bool Parse(const uint8_t* p, size_t n);
};

// Finds MPEG video start codes: 00 00 01, at least four bytes on.
class Mpeg2StartCodes : public SPL::StartCodeParser {
public:
    Mpeg2StartCodes() : SPL::StartCodeParser(3, 4) {}
};

// One DV DIF frame (IEC 61834, SMPTE 314M and 370M).
struct DvFrame {
    bool valid = false;
    bool system50 = false;  // 625/50 (DSF)
    uint8_t sourceType = 0;
    uint8_t applicationType = 0;  // APT
    int dvType = 0;               // 1 DV25, 2 DVCPRO25, 3 DVCPRO50, 4 DVCPRO HD 720p, 5 DVCPRO HD 1080
    uint32_t width = 0, height = 0;
    Rate frameRate;
    bool wide = false;  // 16:9
    int difChannels = 0;
    uint32_t frameSize = 0;
    uint32_t audioRate = 0;  // 0 when no AAUX source pack was found
    int audioChannels = 0;
    bool hasTimecode = false;
    bool dropFrame = false;
    int64_t timecodeFrames = 0;
    bool Parse(const uint8_t* p, size_t n);
};

}  // namespace mexora::es
