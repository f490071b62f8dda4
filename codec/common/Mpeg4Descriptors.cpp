#include "codec/common/Mpeg4Descriptors.h"

#include "codec/common/BitReader.h"

namespace MpegCommon {
namespace mp4sys {

namespace {

constexpr int kMaxSizeBytes = 4;  // 28 bits of size
constexpr uint8_t kMoreSizeBytes = 0x80;
constexpr uint8_t kAvcVersion = 1;
constexpr size_t kMaxParameterSets = 31;  // 5 bits of count for sequence sets

void Put16(std::vector<uint8_t>& o, uint32_t v) {
    o.push_back(static_cast<uint8_t>(v >> 8));
    o.push_back(static_cast<uint8_t>(v));
}
void Put24(std::vector<uint8_t>& o, uint32_t v) {
    o.push_back(static_cast<uint8_t>(v >> 16));
    Put16(o, v);
}
void Put32(std::vector<uint8_t>& o, uint32_t v) {
    Put16(o, v >> 16);
    Put16(o, v);
}

void AppendSets(std::vector<uint8_t>& o, const std::vector<std::vector<uint8_t>>& sets) {
    for (const auto& s : sets) {
        Put16(o, static_cast<uint32_t>(s.size()));
        o.insert(o.end(), s.begin(), s.end());
    }
}

bool ReadSets(const uint8_t* p, size_t n, size_t& at, size_t count, std::vector<std::vector<uint8_t>>& sets) {
    for (size_t i = 0; i < count; ++i) {
        if (n - at < 2) return false;
        const size_t len = static_cast<size_t>(p[at] << 8 | p[at + 1]);
        at += 2;
        if (len > n - at) return false;
        sets.emplace_back(p + at, p + at + len);
        at += len;
    }
    return true;
}

std::vector<uint8_t> SLConfigBody(const SLConfig& c) {
    std::vector<uint8_t> b = {c.predefined};
    if (c.predefined != 0) return b;
    b.push_back(static_cast<uint8_t>(c.useAccessUnitStartFlag << 7 | c.useAccessUnitEndFlag << 6 |
                                     c.useRandomAccessPointFlag << 5 | c.hasRandomAccessUnitsOnlyFlag << 4 |
                                     c.usePaddingFlag << 3 | c.useTimeStampsFlag << 2 | c.useIdleFlag << 1 |
                                     c.durationFlag));
    Put32(b, c.timeStampResolution);
    Put32(b, c.OCRResolution);
    b.insert(b.end(), {c.timeStampLength, c.OCRLength, c.AU_Length, c.instantBitrateLength});
    // degradationPriorityLength (4), AU_seqNumLength (5), packetSeqNumLength (5), reserved (2).
    Put16(b, static_cast<uint32_t>((c.degradationPriorityLength & 15) << 12 | (c.AU_seqNumLength & 31) << 7 |
                                   (c.packetSeqNumLength & 31) << 2 | 3));
    return b;
}

bool ParseSLConfig(const uint8_t* p, size_t n, SLConfig& c) {
    if (n < 1) return false;
    c = SLConfig();
    c.predefined = p[0];
    if (c.predefined == 1) {
        c.timeStampResolution = 1000;
        c.timeStampLength = 32;
        return true;
    }
    if (c.predefined == 2) {
        c.useTimeStampsFlag = 1;
        return true;
    }
    if (c.predefined != 0 || n < 16) return false;
    const uint8_t f = p[1];
    c.useAccessUnitStartFlag = f >> 7 & 1;
    c.useAccessUnitEndFlag = f >> 6 & 1;
    c.useRandomAccessPointFlag = f >> 5 & 1;
    c.hasRandomAccessUnitsOnlyFlag = f >> 4 & 1;
    c.usePaddingFlag = f >> 3 & 1;
    c.useTimeStampsFlag = f >> 2 & 1;
    c.useIdleFlag = f >> 1 & 1;
    c.durationFlag = f & 1;
    c.timeStampResolution = static_cast<uint32_t>(p[2]) << 24 | p[3] << 16 | p[4] << 8 | p[5];
    c.OCRResolution = static_cast<uint32_t>(p[6]) << 24 | p[7] << 16 | p[8] << 8 | p[9];
    c.timeStampLength = p[10];
    c.OCRLength = p[11];
    c.AU_Length = p[12];
    c.instantBitrateLength = p[13];
    const uint32_t w = static_cast<uint32_t>(p[14] << 8 | p[15]);
    c.degradationPriorityLength = static_cast<uint8_t>(w >> 12);
    c.AU_seqNumLength = static_cast<uint8_t>(w >> 7 & 31);
    c.packetSeqNumLength = static_cast<uint8_t>(w >> 2 & 31);
    return true;
}

bool ParseDecoderConfig(const uint8_t* p, size_t n, DecoderConfig& d) {
    if (n < 13) return false;
    d = DecoderConfig();
    d.objectTypeIndication = p[0];
    d.streamType = p[1] >> 2;
    d.upStream = p[1] >> 1 & 1;
    d.bufferSizeDB = static_cast<uint32_t>(p[2] << 16 | p[3] << 8 | p[4]);
    d.maxBitrate = static_cast<uint32_t>(p[5]) << 24 | p[6] << 16 | p[7] << 8 | p[8];
    d.avgBitrate = static_cast<uint32_t>(p[9]) << 24 | p[10] << 16 | p[11] << 8 | p[12];
    size_t at = 13;
    while (at < n) {
        uint8_t tag = 0;
        uint32_t size = 0;
        size_t header = 0;
        if (!ReadDescriptorHeader(p + at, n - at, tag, size, header)) return false;
        if (tag == kDecoderSpecificInfoTag) d.specificInfo.assign(p + at + header, p + at + header + size);
        at += header + size;
    }
    return true;
}

}  // namespace

void AppendDescriptor(std::vector<uint8_t>& out, uint8_t tag, const std::vector<uint8_t>& body) {
    out.push_back(tag);
    const uint32_t size = static_cast<uint32_t>(body.size());
    int bytes = 1;
    while (bytes < kMaxSizeBytes && (size >> (7 * bytes)) != 0) ++bytes;
    for (int i = bytes - 1; i >= 0; --i)
        out.push_back(static_cast<uint8_t>((size >> (7 * i) & 0x7F) | (i ? kMoreSizeBytes : 0)));
    out.insert(out.end(), body.begin(), body.end());
}

bool ReadDescriptorHeader(const uint8_t* p, size_t n, uint8_t& tag, uint32_t& bodySize, size_t& headerSize) {
    if (!p || n < 2) return false;
    tag = p[0];
    bodySize = 0;
    size_t at = 1;
    for (int i = 0; i < kMaxSizeBytes; ++i) {
        if (at >= n) return false;
        const uint8_t b = p[at++];
        bodySize = bodySize << 7 | (b & 0x7F);
        if (!(b & kMoreSizeBytes)) {
            headerSize = at;
            return bodySize <= n - at;
        }
    }
    return false;
}

std::vector<uint8_t> AvcRecord::Write() const {
    std::vector<uint8_t> o = {kAvcVersion,
                              profile,
                              compatibility,
                              level,
                              static_cast<uint8_t>(0xFC | (lengthSizeMinusOne & 3)),
                              static_cast<uint8_t>(0xE0 | (sps.size() & 31))};
    AppendSets(o, sps);
    o.push_back(static_cast<uint8_t>(pps.size()));
    AppendSets(o, pps);
    return o;
}

bool AvcRecord::Parse(const uint8_t* p, size_t n) {
    if (!p || n < 7 || p[0] != kAvcVersion) return false;
    *this = AvcRecord();
    profile = p[1];
    compatibility = p[2];
    level = p[3];
    lengthSizeMinusOne = p[4] & 3;
    size_t at = 6;
    if (!ReadSets(p, n, at, p[5] & 31, sps) || at >= n) return false;
    const size_t count = p[at++];
    return count <= 255 && sps.size() <= kMaxParameterSets && ReadSets(p, n, at, count, pps);
}

void EsDescriptor::Append(std::vector<uint8_t>& out) const {
    std::vector<uint8_t> body;
    Put16(body, esId);
    body.push_back(static_cast<uint8_t>(streamDependenceFlag << 7 | ocrStreamFlag << 5 | (streamPriority & 31)));
    if (streamDependenceFlag) Put16(body, dependsOnEsId);
    if (ocrStreamFlag) Put16(body, ocrEsId);
    if (hasDecoderConfig) {
        const DecoderConfig& d = decoderConfig;
        std::vector<uint8_t> dc = {d.objectTypeIndication,
                                   static_cast<uint8_t>(d.streamType << 2 | d.upStream << 1 | 1)};
        Put24(dc, d.bufferSizeDB);
        Put32(dc, d.maxBitrate);
        Put32(dc, d.avgBitrate);
        if (!d.specificInfo.empty()) AppendDescriptor(dc, kDecoderSpecificInfoTag, d.specificInfo);
        AppendDescriptor(body, kDecoderConfigTag, dc);
    }
    AppendDescriptor(body, kSLConfigTag, SLConfigBody(slConfig));
    AppendDescriptor(out, kEsDescriptorTag, body);
}

bool EsDescriptor::Parse(const uint8_t* p, size_t n, size_t& used) {
    uint8_t tag = 0;
    uint32_t size = 0;
    size_t header = 0;
    if (!ReadDescriptorHeader(p, n, tag, size, header) || tag != kEsDescriptorTag || size < 3) return false;
    *this = EsDescriptor();
    used = header + size;
    const uint8_t* b = p + header;
    esId = static_cast<uint16_t>(b[0] << 8 | b[1]);
    streamDependenceFlag = b[2] >> 7 & 1;
    const bool url = (b[2] >> 6 & 1) != 0;
    ocrStreamFlag = b[2] >> 5 & 1;
    streamPriority = b[2] & 31;
    size_t at = 3;
    if (streamDependenceFlag) {
        if (size - at < 2) return false;
        dependsOnEsId = static_cast<uint16_t>(b[at] << 8 | b[at + 1]);
        at += 2;
    }
    if (url) {
        if (at >= size || b[at] > size - at - 1) return false;
        at += 1 + b[at];
    }
    if (ocrStreamFlag) {
        if (size - at < 2) return false;
        ocrEsId = static_cast<uint16_t>(b[at] << 8 | b[at + 1]);
        at += 2;
    }
    bool haveSl = false;
    while (at < size) {
        uint8_t child = 0;
        uint32_t childSize = 0;
        size_t childHeader = 0;
        if (!ReadDescriptorHeader(b + at, size - at, child, childSize, childHeader)) return false;
        const uint8_t* body = b + at + childHeader;
        if (child == kDecoderConfigTag) {
            if (!ParseDecoderConfig(body, childSize, decoderConfig)) return false;
            hasDecoderConfig = true;
        } else if (child == kSLConfigTag) {
            if (!ParseSLConfig(body, childSize, slConfig)) return false;
            haveSl = true;
        }
        at += childHeader + childSize;
    }
    return haveSl;
}

}  // namespace mp4sys
}  // namespace MpegCommon
