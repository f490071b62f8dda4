// MPEG-4 systems descriptors (ISO/IEC 14496-1 7.2.6) that carry an MPEG-4
// stream's configuration: the ES descriptor with its decoder configuration,
// decoder-specific information (an AVC decoder configuration record of
// ISO/IEC 14496-15, or any body) and SL configuration. Sizes use the
// expandable form (7 bits a byte), so bodies of 128 bytes and more survive.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace MpegCommon {
namespace mp4sys {

enum Tag : uint8_t {
    kObjectDescriptorTag = 0x01,
    kEsDescriptorTag = 0x03,
    kDecoderConfigTag = 0x04,
    kDecoderSpecificInfoTag = 0x05,
    kSLConfigTag = 0x06,
};

// The tag, the size in the fewest bytes, then the body.
void AppendDescriptor(std::vector<uint8_t>& out, uint8_t tag, const std::vector<uint8_t>& body);
// The tag and body size at p (up to four size bytes); false when they do not
// fit in n or the body runs past it.
bool ReadDescriptorHeader(const uint8_t* p, size_t n, uint8_t& tag, uint32_t& bodySize, size_t& headerSize);

struct AvcRecord {
    uint8_t profile = 0, compatibility = 0, level = 0;
    uint8_t lengthSizeMinusOne = 3;
    std::vector<std::vector<uint8_t>> sps, pps;  // NAL units without start codes

    std::vector<uint8_t> Write() const;
    bool Parse(const uint8_t* p, size_t n);
};

struct DecoderConfig {
    uint8_t objectTypeIndication = 0;  // 0x21 H.264, 0x20 MPEG-4 visual, 0x40 AAC
    uint8_t streamType = 4;            // 4 visual, 5 audio
    uint8_t upStream = 0;
    uint32_t bufferSizeDB = 0;
    uint32_t maxBitrate = 0, avgBitrate = 0;
    std::vector<uint8_t> specificInfo;  // body of the decoder-specific information, if any
};

struct SLConfig {
    uint8_t predefined = 2;  // 1: null SL header, 2: reserved for MP4 files; 0: the fields below
    uint8_t useAccessUnitStartFlag = 0, useAccessUnitEndFlag = 0, useRandomAccessPointFlag = 0;
    uint8_t hasRandomAccessUnitsOnlyFlag = 0, usePaddingFlag = 0, useTimeStampsFlag = 0;
    uint8_t useIdleFlag = 0, durationFlag = 0;
    uint32_t timeStampResolution = 0, OCRResolution = 0;
    uint8_t timeStampLength = 0, OCRLength = 0, AU_Length = 0, instantBitrateLength = 0;
    uint8_t degradationPriorityLength = 0, AU_seqNumLength = 0, packetSeqNumLength = 0;
};

struct EsDescriptor {
    uint16_t esId = 0;
    uint8_t streamDependenceFlag = 0, ocrStreamFlag = 0, streamPriority = 0;
    uint16_t dependsOnEsId = 0, ocrEsId = 0;
    bool hasDecoderConfig = false;
    DecoderConfig decoderConfig;
    SLConfig slConfig;

    void Append(std::vector<uint8_t>& out) const;
    // p at the tag; used: the descriptor's whole length.
    bool Parse(const uint8_t* p, size_t n, size_t& used);
};

}  // namespace mp4sys
}  // namespace MpegCommon
