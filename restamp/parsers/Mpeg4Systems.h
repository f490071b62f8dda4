// MPEG-4 systems (ISO/IEC 14496-1) as carried in transport streams: the
// descriptors that name the elementary streams (initial object descriptor,
// object descriptors, ES descriptors over the shared reader of codec/common)
// and the sync-layer packet header in front of each access unit's bytes.
#pragma once

#include "codec/common/Mpeg4Descriptors.h"

#include <cstdint>
#include <vector>

namespace DIVX {

namespace mp4sys = MpegCommon::mp4sys;

// What the decoder-specific information of AAC audio says.
struct AudioSpecificConfig {
    uint8_t audioObjectType = 0, samplingFrequencyIndex = 0;
    uint32_t samplingFrequency = 0, channelConfiguration = 0;
    bool valid = false;
    bool Parse(const uint8_t* d, size_t n);
};

class CMPEG4DescriptorES {
public:
    // d at the tag; used: the bytes the descriptor takes.
    bool Parse(const uint8_t* d, size_t n, size_t& used);
    uint16_t EsId() const { return es.esId; }
    mp4sys::EsDescriptor es;
    AudioSpecificConfig audio;  // AAC (object type 0x40, audio stream)
    mp4sys::AvcRecord avc;      // H.264 (object type 0x21, visual stream)
    bool avcValid = false;
    bool valid = false;
};

class CMPEG4DescriptorOD;
class CMPEG4DescriptorIOD;

// Walks a run of descriptors (sizes in the expandable form; a size running
// past the data is cut at its end) and hands each one it knows to a receiver.
class CMPEG4DescriptorParser {
public:
    virtual ~CMPEG4DescriptorParser() = default;
    void ParseDescriptors(const uint8_t* d, size_t n);
    virtual void OnOD(const CMPEG4DescriptorOD&) {}
    virtual void OnES(const CMPEG4DescriptorES&) {}
};

// An object descriptor: its id (the low 8 bits of the 10-bit field are
// compared) and its ES descriptors.
class CMPEG4DescriptorOD : public CMPEG4DescriptorParser {
public:
    bool Parse(const uint8_t* d, size_t n, size_t& used);
    void OnES(const CMPEG4DescriptorES& e) override { es.push_back(e); }
    uint8_t objectDescriptorId = 0;
    uint8_t urlFlag = 0;
    std::vector<CMPEG4DescriptorES> es;
    bool valid = false;
};

// The transport stream's IOD_descriptor (tag 0x1D, an 8-bit length) with
// the initial object descriptor inside.
class CMPEG4DescriptorIOD : public CMPEG4DescriptorParser {
public:
    static constexpr uint8_t kTag = 0x1D;
    bool Parse(const uint8_t* d, size_t n);
    void OnES(const CMPEG4DescriptorES& e) override { es.push_back(e); }
    uint8_t scope = 0, label = 0, objectDescriptorId = 0, urlFlag = 0, includeInlineProfileLevelFlag = 0;
    uint8_t profileLevels[5] = {};  // OD, scene, audio, visual, graphics
    std::vector<CMPEG4DescriptorES> es;
    bool valid = false;
};

// The SL packet header read with the SL configuration of its stream. Flags
// the configuration leaves out take the values 14496-1 infers for them; time
// stamps and the clock reference keep up to 64 bits.
class CSyncLayerHeader {
public:
    explicit CSyncLayerHeader(const mp4sys::SLConfig& c = mp4sys::SLConfig()) : config(c) {}
    // Bounded by len; a configuration with a length the syntax does not
    // allow (time stamps and clock over 64 bits, AU lengths and rates over
    // 32) reads no header.
    bool Parse(const uint8_t* d, uint32_t len);
    // A time stamp of this stream on the 90 kHz clock.
    uint64_t To90kHz(uint64_t ts) const;

    mp4sys::SLConfig config;
    uint8_t accessUnitStartFlag = 0, accessUnitEndFlag = 0, ocrFlag = 0, idleFlag = 0, paddingFlag = 0;
    uint8_t paddingBits = 0;
    uint32_t packetSequenceNumber = 0;
    uint8_t degPrioFlag = 0;
    uint32_t degradationPriority = 0;
    uint64_t objectClockReference = 0;
    uint8_t randomAccessPointFlag = 0;
    uint32_t auSequenceNumber = 0;
    uint8_t decodingTimeStampFlag = 0, compositionTimeStampFlag = 0, instantBitrateFlag = 0;
    uint64_t decodingTimeStamp = 0, compositionTimeStamp = 0;
    uint32_t accessUnitLength = 0, instantBitrate = 0;
    uint32_t headerSize = 0;  // bytes
    bool valid = false;

private:
    bool previousEnded_ = true;  // the packet before ended an access unit
};

}  // namespace DIVX
