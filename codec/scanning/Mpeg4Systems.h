// MPEG-4 systems in MPEG-2 transport streams: the object descriptor, the
// initial object descriptor inside the IOD descriptor (ISO/IEC 13818-1 tag
// 29) and the sync-layer packet header (ISO/IEC 14496-1 10.2.2). The ES
// descriptors they hold, with their decoder and SL configurations, are the
// shared ones of codec/common. Sizes inside the MPEG-4 descriptors use the
// expandable form, so bodies of 128 bytes and more read back.
#pragma once

#include "codec/common/Mpeg4Descriptors.h"
#include "codec/scanning/Bitstream.h"
#include "codec/scanning/ParserFramework.h"

#include <cstddef>
#include <cstdint>
#include <vector>

namespace SPL_MPEG4 {

using MpegCommon::mp4sys::EsDescriptor;
using MpegCommon::mp4sys::SLConfig;

constexpr uint8_t kObjectDescriptorTag = 0x01;
constexpr uint8_t kInitialObjectDescriptorTag = 0x02;
constexpr uint8_t kIodDescriptorTag = 29;  // ISO/IEC 13818-1 IOD_descriptor
constexpr uint16_t kMaxObjectDescriptorId = 1023;

// Object descriptor (tag 1) with its ES descriptors; URLs are not kept.
struct ObjectDescriptor {
    uint16_t objectDescriptorId = 0;  // 10 bits
    uint8_t urlFlag = 0;
    std::vector<EsDescriptor> es;

    // p at the tag; used: the descriptor's whole length.
    bool Parse(const uint8_t* p, size_t n, size_t& used);
    void Write(SPL::BitstreamWriter& w) const;
    std::vector<uint8_t> Bytes() const;
};

// IOD descriptor: the two labels and the initial object descriptor with the
// five profile-and-level indications and its ES descriptors.
struct IodDescriptor {
    uint8_t scopeOfIodLabel = 0x10;  // unique within the transport stream
    uint8_t iodLabel = 0;
    uint16_t objectDescriptorId = 1;
    uint8_t urlFlag = 0;
    uint8_t includeInlineProfileLevelFlag = 0;
    // OD, scene, audio, visual, graphics; 0xFF: no capability required.
    uint8_t profiles[5] = {0xFF, 0xFF, 0xFF, 0xFF, 0xFF};
    std::vector<EsDescriptor> es;

    bool Parse(const uint8_t* p, size_t n, size_t& used);
    // False when the body does not fit the one-byte length of a PMT descriptor.
    bool Write(SPL::BitstreamWriter& w) const;
    std::vector<uint8_t> Bytes() const;
};

// Sync-layer packet header under an SL configuration. Time stamps and clock
// references take up to 64 bits.
class MPEG4HdrSyncLayer : public SPL::BaseHeaderSimple {
public:
    uint8_t accessUnitStartFlag = 0, accessUnitEndFlag = 0;
    uint8_t OCRflag = 0, idleFlag = 0, paddingFlag = 0, paddingBits = 0;
    uint32_t packetSequenceNumber = 0;
    uint8_t DegPrioflag = 0;
    uint32_t degradationPriority = 0;
    uint64_t objectClockReference = 0;
    uint8_t randomAccessPointFlag = 0;
    uint32_t AU_sequenceNumber = 0;
    uint8_t decodingTimeStampFlag = 0, compositionTimeStampFlag = 0, instantBitrateFlag = 0;
    uint64_t decodingTimeStamp = 0, compositionTimeStamp = 0;
    uint32_t accessUnitLength = 0;
    uint32_t instantBitrate = 0;
    uint32_t headerSize = 0;  // bytes

    // defaultStart: the access-unit start when the configuration sends no flag.
    bool Parse(const uint8_t* p, size_t n, const SLConfig& c, bool defaultStart = true);
    // Mirrors Parse; pads to a byte and returns the header's size in bytes.
    uint32_t Write(SPL::BitstreamWriter& w, const SLConfig& c);
};

}  // namespace SPL_MPEG4
