#include "restamp/parsers/Mpeg4Systems.h"

#include "codec/common/BitReader.h"

#include <algorithm>

namespace DIVX {

namespace {

constexpr uint8_t kObjectDescriptorTag = 0x01;
constexpr uint8_t kInitialObjectDescriptorTag = 0x02;
constexpr uint8_t kEsDescriptorTag = 0x03;
constexpr int kMaxSizeBytes = 4;
constexpr uint8_t kMoreSizeBytes = 0x80;
constexpr uint8_t kAacObjectType = 0x40, kAvcObjectType = 0x21;
constexpr uint8_t kAudioStream = 5, kVisualStream = 4;
constexpr uint8_t kExplicitFrequency = 15;
constexpr unsigned kMaxTimeBits = 64, kMaxCountBits = 32;
constexpr uint64_t kClock90k = 90000;
const uint32_t kAdtsRates[12] = {96000, 88200, 64000, 48000, 44100, 32000, 24000, 22050, 16000, 12000, 11025, 8000};

// Tag and expandable size at d; the body is cut at the end of the data.
bool ReadHeader(const uint8_t* d, size_t n, uint8_t& tag, size_t& header, size_t& body) {
    if (n < 2) return false;
    tag = d[0];
    size_t size = 0, at = 1;
    for (int i = 0; i < kMaxSizeBytes; ++i) {
        if (at >= n) return false;
        const uint8_t b = d[at++];
        size = size << 7 | (b & 0x7F);
        if (!(b & kMoreSizeBytes)) {
            header = at;
            body = std::min(size, n - at);
            return true;
        }
    }
    return false;
}

}  // namespace

bool AudioSpecificConfig::Parse(const uint8_t* d, size_t n) {
    *this = AudioSpecificConfig();
    MpegCommon::BitReader r;
    r.Attach(d, n);
    audioObjectType = uint8_t(r.Read(5));
    samplingFrequencyIndex = uint8_t(r.Read(4));
    if (samplingFrequencyIndex == kExplicitFrequency)
        samplingFrequency = r.Read(24);
    else if (samplingFrequencyIndex < 12)
        samplingFrequency = kAdtsRates[samplingFrequencyIndex];
    channelConfiguration = r.Read(4);
    valid = !r.Overrun();
    return valid;
}

bool CMPEG4DescriptorES::Parse(const uint8_t* d, size_t n, size_t& used) {
    *this = CMPEG4DescriptorES();
    if (!es.Parse(d, n, used)) return false;
    const mp4sys::DecoderConfig& c = es.decoderConfig;
    const std::vector<uint8_t>& info = c.specificInfo;
    if (es.hasDecoderConfig && !info.empty()) {
        if (c.streamType == kAudioStream && c.objectTypeIndication == kAacObjectType)
            audio.Parse(info.data(), info.size());
        else if (c.streamType == kVisualStream && c.objectTypeIndication == kAvcObjectType)
            avcValid = avc.Parse(info.data(), info.size());
    }
    return valid = true;
}

void CMPEG4DescriptorParser::ParseDescriptors(const uint8_t* d, size_t n) {
    size_t at = 0;
    while (at + 1 < n) {
        uint8_t tag = 0;
        size_t header = 0, body = 0, used = 0;
        if (!ReadHeader(d + at, n - at, tag, header, body)) return;
        if (tag == kObjectDescriptorTag) {
            CMPEG4DescriptorOD od;
            if (od.Parse(d + at, n - at, used)) OnOD(od);
        } else if (tag == kEsDescriptorTag) {
            CMPEG4DescriptorES es;
            if (es.Parse(d + at, n - at, used)) OnES(es);
        }
        at += header + body;
    }
}

bool CMPEG4DescriptorOD::Parse(const uint8_t* d, size_t n, size_t& used) {
    *this = CMPEG4DescriptorOD();
    uint8_t tag = 0;
    size_t header = 0, body = 0;
    if (!ReadHeader(d, n, tag, header, body) || tag != kObjectDescriptorTag || body < 2) return false;
    const uint8_t* b = d + header;
    objectDescriptorId = uint8_t((b[0] << 2) | (b[1] >> 6));  // the low 8 of 10 bits
    urlFlag = (b[1] >> 5) & 1;
    ParseDescriptors(b + 2, body - 2);
    used = header + body;
    return valid = true;
}

bool CMPEG4DescriptorIOD::Parse(const uint8_t* d, size_t n) {
    *this = CMPEG4DescriptorIOD();
    constexpr size_t kFixed = 5;  // tag, length, scope, label, the inner tag
    if (n < kFixed || d[0] != kTag || d[4] != kInitialObjectDescriptorTag) return false;
    const size_t end = std::min<size_t>(n, 2u + d[1]);
    if (end <= kFixed) return false;
    scope = d[2];
    label = d[3];
    uint8_t tag = 0;
    size_t header = 0, body = 0;
    constexpr size_t kIodFields = 7;  // id and flags (2), five profile levels
    if (!ReadHeader(d + 4, end - 4, tag, header, body) || body < kIodFields) return false;
    const uint8_t* b = d + 4 + header;
    objectDescriptorId = uint8_t((b[0] << 2) | (b[1] >> 6));
    urlFlag = (b[1] >> 5) & 1;
    includeInlineProfileLevelFlag = (b[1] >> 4) & 1;
    std::copy(b + 2, b + kIodFields, profileLevels);
    ParseDescriptors(b + kIodFields, body - kIodFields);
    return valid = true;
}

bool CSyncLayerHeader::Parse(const uint8_t* d, uint32_t len) {
    const mp4sys::SLConfig c = config;
    const bool previousEnded = previousEnded_;
    *this = CSyncLayerHeader(c);
    previousEnded_ = previousEnded;
    if (c.timeStampLength > kMaxTimeBits || c.OCRLength > kMaxTimeBits || c.AU_Length > kMaxCountBits ||
        c.instantBitrateLength > kMaxCountBits)
        return false;
    MpegCommon::BitReader r;
    r.Attach(d, len);
    uint64_t bits = 0;
    auto get = [&](unsigned n) -> uint64_t {
        bits += n;
        return n ? r.Read64(n) : 0;
    };
    // Left out of the header, the start flag follows from the end flag of
    // the packet before, or (neither flag used) every packet is a whole unit.
    accessUnitStartFlag =
        c.useAccessUnitStartFlag ? uint8_t(get(1)) : uint8_t(c.useAccessUnitEndFlag ? previousEnded : 1);
    accessUnitEndFlag = c.useAccessUnitEndFlag ? uint8_t(get(1)) : uint8_t(!c.useAccessUnitStartFlag);
    if (c.OCRLength) ocrFlag = uint8_t(get(1));
    if (c.useIdleFlag) idleFlag = uint8_t(get(1));
    if (c.usePaddingFlag) paddingFlag = uint8_t(get(1));
    if (paddingFlag) paddingBits = uint8_t(get(3));
    if (!idleFlag && !(paddingFlag && paddingBits == 0)) {
        if (c.packetSeqNumLength) packetSequenceNumber = uint32_t(get(c.packetSeqNumLength));
        if (c.degradationPriorityLength) {
            degPrioFlag = uint8_t(get(1));
            if (degPrioFlag) degradationPriority = uint32_t(get(c.degradationPriorityLength));
        }
        if (ocrFlag) objectClockReference = get(c.OCRLength);
        if (accessUnitStartFlag) {
            if (c.useRandomAccessPointFlag) randomAccessPointFlag = uint8_t(get(1));
            if (c.AU_seqNumLength) auSequenceNumber = uint32_t(get(c.AU_seqNumLength));
            if (c.useTimeStampsFlag) {
                decodingTimeStampFlag = uint8_t(get(1));
                compositionTimeStampFlag = uint8_t(get(1));
            }
            if (c.instantBitrateLength) instantBitrateFlag = uint8_t(get(1));
            if (decodingTimeStampFlag) decodingTimeStamp = get(c.timeStampLength);
            if (compositionTimeStampFlag) compositionTimeStamp = get(c.timeStampLength);
            if (c.AU_Length) accessUnitLength = uint32_t(get(c.AU_Length));
            if (instantBitrateFlag) instantBitrate = uint32_t(get(c.instantBitrateLength));
        }
    }
    if (r.Overrun()) {
        previousEnded_ = previousEnded;
        return false;
    }
    previousEnded_ = accessUnitEndFlag != 0;
    headerSize = uint32_t((bits + 7) / 8);
    return valid = true;
}

uint64_t CSyncLayerHeader::To90kHz(uint64_t ts) const {
    const uint64_t res = config.timeStampResolution;
    if (!res || res == kClock90k) return ts;
    return ts / res * kClock90k + ts % res * kClock90k / res;
}

}  // namespace DIVX
