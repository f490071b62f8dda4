#include "codec/scanning/Mpeg4Systems.h"

#include <algorithm>

namespace SPL_MPEG4 {

namespace mp4sys = MpegCommon::mp4sys;

namespace {

constexpr unsigned kMaxFieldBits = 64;
constexpr uint8_t kOdReservedBits = 0x1F;  // 5 reserved bits after the URL flag
constexpr uint8_t kIodReservedBits = 0x0F;
constexpr size_t kIodFixedBytes = 2 + 5;  // ID and flags, the profile bytes
constexpr size_t kMaxPmtDescriptorBody = 255;

// The ES descriptors of a descriptor body from at; other tags are stepped over.
bool ReadEsList(const uint8_t* b, size_t size, size_t at, std::vector<EsDescriptor>& out) {
    while (at < size) {
        uint8_t tag = 0;
        uint32_t childSize = 0;
        size_t header = 0;
        if (!mp4sys::ReadDescriptorHeader(b + at, size - at, tag, childSize, header)) return false;
        if (tag == mp4sys::kEsDescriptorTag) {
            EsDescriptor es;
            size_t used = 0;
            if (!es.Parse(b + at, size - at, used)) return false;
            out.push_back(es);
        }
        at += header + childSize;
    }
    return true;
}

void PutVector(SPL::BitstreamWriter& w, const std::vector<uint8_t>& v) {
    w.PutBytes(v.data(), static_cast<int32_t>(v.size()));
}

// The initial object descriptor (tag 2) inside the IOD descriptor.
std::vector<uint8_t> InitialObjectDescriptorBytes(const IodDescriptor& d) {
    std::vector<uint8_t> body;
    const uint16_t id = d.objectDescriptorId & kMaxObjectDescriptorId;
    body.push_back(static_cast<uint8_t>(id >> 2));
    body.push_back(static_cast<uint8_t>((id & 3) << 6 | (d.urlFlag & 1) << 5 |
                                        (d.includeInlineProfileLevelFlag & 1) << 4 | kIodReservedBits));
    body.insert(body.end(), d.profiles, d.profiles + 5);
    for (const EsDescriptor& es : d.es) es.Append(body);
    std::vector<uint8_t> out;
    mp4sys::AppendDescriptor(out, kInitialObjectDescriptorTag, body);
    return out;
}

}  // namespace

bool ObjectDescriptor::Parse(const uint8_t* p, size_t n, size_t& used) {
    uint8_t tag = 0;
    uint32_t size = 0;
    size_t header = 0;
    if (!mp4sys::ReadDescriptorHeader(p, n, tag, size, header) || tag != kObjectDescriptorTag || size < 2) return false;
    const uint8_t* b = p + header;
    *this = ObjectDescriptor();
    used = header + size;
    objectDescriptorId = static_cast<uint16_t>(b[0] << 2 | b[1] >> 6);
    urlFlag = b[1] >> 5 & 1;
    if (urlFlag) return true;  // the object lives elsewhere: no ES descriptors here
    return ReadEsList(b, size, 2, es);
}

std::vector<uint8_t> ObjectDescriptor::Bytes() const {
    std::vector<uint8_t> body;
    const uint16_t id = objectDescriptorId & kMaxObjectDescriptorId;
    body.push_back(static_cast<uint8_t>(id >> 2));
    body.push_back(static_cast<uint8_t>((id & 3) << 6 | (urlFlag & 1) << 5 | kOdReservedBits));
    for (const EsDescriptor& d : es) d.Append(body);
    std::vector<uint8_t> out;
    mp4sys::AppendDescriptor(out, kObjectDescriptorTag, body);
    return out;
}

void ObjectDescriptor::Write(SPL::BitstreamWriter& w) const {
    PutVector(w, Bytes());
}

bool IodDescriptor::Parse(const uint8_t* p, size_t n, size_t& used) {
    // The outer descriptor is an MPEG-2 one: a one-byte length.
    if (!p || n < 2 || p[0] != kIodDescriptorTag) return false;
    const size_t size = p[1];
    if (size < 2 || size > n - 2) return false;
    used = size + 2;
    *this = IodDescriptor();
    scopeOfIodLabel = p[2];
    iodLabel = p[3];
    uint8_t tag = 0;
    uint32_t bodySize = 0;
    size_t header = 0;
    const uint8_t* inner = p + 4;
    if (!mp4sys::ReadDescriptorHeader(inner, size - 2, tag, bodySize, header) || tag != kInitialObjectDescriptorTag ||
        bodySize < 2)
        return false;
    const uint8_t* b = inner + header;
    objectDescriptorId = static_cast<uint16_t>(b[0] << 2 | b[1] >> 6);
    urlFlag = b[1] >> 5 & 1;
    includeInlineProfileLevelFlag = b[1] >> 4 & 1;
    if (urlFlag) return true;
    if (bodySize < kIodFixedBytes) return false;
    for (int i = 0; i < 5; ++i) profiles[i] = b[2 + i];
    return ReadEsList(b, bodySize, kIodFixedBytes, es);
}

std::vector<uint8_t> IodDescriptor::Bytes() const {
    const std::vector<uint8_t> inner = InitialObjectDescriptorBytes(*this);
    std::vector<uint8_t> out(inner.size() + 4);
    out[0] = kIodDescriptorTag;
    out[1] = static_cast<uint8_t>(inner.size() + 2);
    out[2] = scopeOfIodLabel;
    out[3] = iodLabel;
    std::copy(inner.begin(), inner.end(), out.begin() + 4);
    return out;
}

bool IodDescriptor::Write(SPL::BitstreamWriter& w) const {
    const std::vector<uint8_t> b = Bytes();
    if (b.size() - 2 > kMaxPmtDescriptorBody) return false;
    PutVector(w, b);
    return true;
}

bool MPEG4HdrSyncLayer::Parse(const uint8_t* p, size_t n, const SLConfig& c, bool defaultStart) {
    Clear();
    if (!p || c.timeStampLength > kMaxFieldBits || c.OCRLength > kMaxFieldBits || c.AU_Length > 32 ||
        c.instantBitrateLength > 32)
        return false;
    SPL::BitstreamReader r;
    r.Attach(p, static_cast<int32_t>(n));
    uint64_t bits = 0;
    auto read = [&](unsigned width) {
        bits += width;
        return r.ReadBits64(width);
    };
    accessUnitStartFlag = c.useAccessUnitStartFlag ? static_cast<uint8_t>(read(1)) : (defaultStart ? 1 : 0);
    accessUnitEndFlag = c.useAccessUnitEndFlag ? static_cast<uint8_t>(read(1)) : 0;
    if (!c.useAccessUnitStartFlag && !c.useAccessUnitEndFlag) accessUnitStartFlag = accessUnitEndFlag = 1;
    OCRflag = c.OCRLength > 0 ? static_cast<uint8_t>(read(1)) : 0;
    idleFlag = c.useIdleFlag ? static_cast<uint8_t>(read(1)) : 0;
    paddingFlag = c.usePaddingFlag ? static_cast<uint8_t>(read(1)) : 0;
    paddingBits = paddingFlag ? static_cast<uint8_t>(read(3)) : 0;
    packetSequenceNumber = 0;
    DegPrioflag = 0;
    degradationPriority = 0;
    objectClockReference = 0;
    randomAccessPointFlag = 0;
    AU_sequenceNumber = 0;
    decodingTimeStampFlag = compositionTimeStampFlag = instantBitrateFlag = 0;
    decodingTimeStamp = compositionTimeStamp = 0;
    accessUnitLength = instantBitrate = 0;
    if (!idleFlag && (!paddingFlag || paddingBits != 0)) {
        packetSequenceNumber = static_cast<uint32_t>(read(c.packetSeqNumLength));
        if (c.degradationPriorityLength > 0) {
            DegPrioflag = static_cast<uint8_t>(read(1));
            if (DegPrioflag) degradationPriority = static_cast<uint32_t>(read(c.degradationPriorityLength));
        }
        if (OCRflag) objectClockReference = read(c.OCRLength);
        if (accessUnitStartFlag) {
            randomAccessPointFlag =
                c.useRandomAccessPointFlag ? static_cast<uint8_t>(read(1)) : c.hasRandomAccessUnitsOnlyFlag;
            AU_sequenceNumber = static_cast<uint32_t>(read(c.AU_seqNumLength));
            if (c.useTimeStampsFlag) {
                decodingTimeStampFlag = static_cast<uint8_t>(read(1));
                compositionTimeStampFlag = static_cast<uint8_t>(read(1));
            }
            if (c.instantBitrateLength > 0) instantBitrateFlag = static_cast<uint8_t>(read(1));
            if (decodingTimeStampFlag) decodingTimeStamp = read(c.timeStampLength);
            if (compositionTimeStampFlag) compositionTimeStamp = read(c.timeStampLength);
            if (c.AU_Length > 0) accessUnitLength = static_cast<uint32_t>(read(c.AU_Length));
            if (instantBitrateFlag) instantBitrate = static_cast<uint32_t>(read(c.instantBitrateLength));
        }
    }
    if (r.Overrun()) return Truncated();
    headerSize = static_cast<uint32_t>((bits + 7) / 8);
    valid_ = 1;
    return true;
}

uint32_t MPEG4HdrSyncLayer::Write(SPL::BitstreamWriter& w, const SLConfig& c) {
    const int32_t start = w.GetPosition();
    uint64_t bits = 0;
    auto put = [&](uint64_t v, unsigned width) {
        bits += width;
        w.PutBits(v, width);
    };
    if (c.useAccessUnitStartFlag) put(accessUnitStartFlag, 1);
    if (c.useAccessUnitEndFlag) put(accessUnitEndFlag, 1);
    if (c.OCRLength > 0) put(OCRflag, 1);
    if (c.useIdleFlag) put(idleFlag, 1);
    const uint8_t padding = c.usePaddingFlag ? paddingFlag : 0;
    if (c.usePaddingFlag) put(paddingFlag, 1);
    if (padding) put(paddingBits, 3);
    const bool idle = c.useIdleFlag && idleFlag;
    const bool auStart = c.useAccessUnitStartFlag ? accessUnitStartFlag != 0 : true;
    if (!idle && (!padding || paddingBits != 0)) {
        put(packetSequenceNumber, c.packetSeqNumLength);
        if (c.degradationPriorityLength > 0) {
            put(DegPrioflag, 1);
            if (DegPrioflag) put(degradationPriority, c.degradationPriorityLength);
        }
        if (c.OCRLength > 0 && OCRflag) put(objectClockReference, c.OCRLength);
        if (auStart) {
            if (c.useRandomAccessPointFlag) put(randomAccessPointFlag, 1);
            put(AU_sequenceNumber, c.AU_seqNumLength);
            const bool dts = c.useTimeStampsFlag && decodingTimeStampFlag;
            const bool cts = c.useTimeStampsFlag && compositionTimeStampFlag;
            if (c.useTimeStampsFlag) {
                put(decodingTimeStampFlag, 1);
                put(compositionTimeStampFlag, 1);
            }
            const bool rate = c.instantBitrateLength > 0 && instantBitrateFlag;
            if (c.instantBitrateLength > 0) put(instantBitrateFlag, 1);
            if (dts) put(decodingTimeStamp, c.timeStampLength);
            if (cts) put(compositionTimeStamp, c.timeStampLength);
            if (c.AU_Length > 0) put(accessUnitLength, c.AU_Length);
            if (rate) put(instantBitrate, c.instantBitrateLength);
        }
    }
    const unsigned pad = static_cast<unsigned>((8 - bits % 8) % 8);
    if (pad) w.PutBits(0, pad);
    headerSize = static_cast<uint32_t>(w.GetPosition() - start);
    return headerSize;
}

}  // namespace SPL_MPEG4
