#include "restamp/parsers/EsHeaders.h"

#include "codec/common/BitReader.h"
#include "codec/common/MpegTables.h"

namespace MH264 {
namespace {

bool HighProfile(uint32_t p) {
    switch (p) {
        case 100:
        case 110:
        case 122:
        case 244:
        case 44:
        case 83:
        case 86:
        case 118:
        case 128:
        case 138:
        case 139:
        case 134:
        case 135:
            return true;
        default:
            return false;
    }
}

bool SkipScalingList(MpegCommon::BitReader& br, int size) {
    int32_t last = 8, next = 8;
    for (int j = 0; j < size; ++j) {
        if (next != 0) {
            int32_t delta = br.ReadSE();
            if (delta < -128 || delta > 127) return false;
            next = (last + delta + 256) % 256;
        }
        last = next == 0 ? last : next;
    }
    return true;
}

}  // namespace

bool CH264SeqParamSet::Parse(const uint8_t* nal, uint32_t len, CH264SharedParams& sp) {
    valid = false;
    if (len < 4 || (nal[0] & 0x80) || (nal[0] & 0x1F) != 7) return false;
    MpegCommon::BitReader br(true);
    br.Attach(nal + 1, len - 1);
    profileIdc = uint8_t(br.Read(8));
    br.Skip(8);
    levelIdc = uint8_t(br.Read(8));
    spsId = br.ReadUE();
    if (spsId > 31) return false;
    chromaFormatIdc = 1;
    uint32_t separate = 0;
    if (HighProfile(profileIdc)) {
        chromaFormatIdc = br.ReadUE();
        if (chromaFormatIdc > 3) return false;
        if (chromaFormatIdc == 3) separate = br.ReadBit();
        if (br.ReadUE() > 6 || br.ReadUE() > 6) return false;
        br.Skip(1);
        if (br.ReadBit()) {
            const int n = chromaFormatIdc == 3 ? 12 : 8;
            for (int i = 0; i < n; ++i)
                if (br.ReadBit() && !SkipScalingList(br, i < 6 ? 16 : 64)) return false;
        }
    }
    const uint32_t log2MaxFrameNum = br.ReadUE();
    if (log2MaxFrameNum > 12) return false;
    const uint32_t pocType = br.ReadUE();
    if (pocType > 2) return false;
    uint32_t log2Poc = 0, deltaZero = 0;
    if (pocType == 0) {
        log2Poc = br.ReadUE();
        if (log2Poc > 12) return false;
    } else if (pocType == 1) {
        deltaZero = br.ReadBit();
        br.ReadSE();
        br.ReadSE();
        uint32_t n = br.ReadUE();
        if (n > 255) return false;
        for (uint32_t i = 0; i < n && !br.Overrun(); ++i) br.ReadSE();
    }
    br.ReadUE();  // max_num_ref_frames
    br.Skip(1);
    picWidthInMbsMinus1 = br.ReadUE();
    picHeightInMapUnitsMinus1 = br.ReadUE();
    const uint32_t frameMbsOnly = br.ReadBit();
    if (br.Overrun()) return false;
    sp.log2MaxFrameNumMinus4 = log2MaxFrameNum;
    sp.picOrderCntType = uint8_t(pocType);
    sp.log2MaxPicOrderCntLsbMinus4 = log2Poc;
    sp.deltaPicOrderAlwaysZeroFlag = deltaZero;
    sp.frameMbsOnlyFlag = frameMbsOnly;
    sp.separateColourPlaneFlag = separate;
    sp.seen = true;
    return valid = true;
}

bool CH264PicParamSet::Parse(const uint8_t* nal, uint32_t len, CH264SharedParams& sp) {
    valid = false;
    if (len < 2 || (nal[0] & 0x80) || (nal[0] & 0x1F) != 8) return false;
    MpegCommon::BitReader br(true);
    br.Attach(nal + 1, len - 1);
    ppsId = br.ReadUE();
    spsId = br.ReadUE();
    if (ppsId > 255 || spsId > 31) return false;
    const uint32_t entropy = br.ReadBit();
    const uint32_t bottom = br.ReadBit();
    const uint32_t groups = br.ReadUE();
    if (br.Overrun() || groups > 7) return false;
    sp.entropyCodingModeFlag = uint8_t(entropy);
    sp.bottomFieldPicOrderInFramePresentFlag = bottom;
    sp.numSliceGroupsMinus1 = groups;
    sp.seen = true;
    return valid = true;
}

bool CH264SliceStart::Parse(const uint8_t* nal, uint32_t len, const CH264SharedParams& sp) {
    valid = false;
    if (len < 2 || (nal[0] & 0x80)) return false;
    const uint32_t type = nal[0] & 0x1F;
    if ((type != 1 && type != 5) || !sp.seen) return false;
    MpegCommon::BitReader br(true);
    br.Attach(nal + 1, len - 1);
    firstMbInSlice = br.ReadUE();
    sliceType = br.ReadUE();
    ppsId = br.ReadUE();
    if (sliceType > 9 || ppsId > 255) return false;
    if (sp.separateColourPlaneFlag) br.Skip(2);
    frameNum = br.Read(sp.log2MaxFrameNumMinus4 + 4);
    if (br.Overrun()) return false;
    return valid = true;
}

int DetectH264::Detect(const uint8_t* d, uint32_t len) {
    *this = DetectH264();
    resume = len > 100 ? len - 100 : 0;
    BS::CStartCodeScanner<21> sc;
    sc.SetData(d, len);
    auto nalAt = [&](const uint8_t* sc3) { return sc3 + 3; };
    const uint8_t* h = sc.FindNext();
    // 1: a sequence parameter set.
    while (h && !sps.Parse(nalAt(h), uint32_t(d + len - nalAt(h)), shared)) h = sc.FindNext();
    if (!h) return 0;
    spsPosition = uint32_t(h - d);
    resume = spsPosition;
    for (;;) {
        // 2: a picture parameter set after it.
        const uint8_t* p = sc.FindNext();
        while (p && !pps.Parse(nalAt(p), uint32_t(d + len - nalAt(p)), shared)) p = sc.FindNext();
        if (!p) return 0;
        const uint8_t* n = sc.FindNext();
        if (!n) return 0;
        paramCopy.assign(d + spsPosition, n);
        // 3: an SEI right after it is passed over.
        if ((nalAt(n)[0] & 0x1F) == 6) {
            n = sc.FindNext();
            if (!n) return 0;
        }
        // 4: walk to the first slice.
        for (;;) {
            const uint8_t b = nalAt(n)[0];
            if (b & 0x80) return 0;
            const uint32_t t = b & 0x1F;
            if (t == 1 || t == 5) break;
            if (t > 12) return 0;
            if (t == 7) sps.Parse(nalAt(n), uint32_t(d + len - nalAt(n)), shared);
            if (t == 8) pps.Parse(nalAt(n), uint32_t(d + len - nalAt(n)), shared);
            n = sc.FindNext();
            if (!n) return 0;
        }
        if (slice.Parse(nalAt(n), uint32_t(d + len - nalAt(n)), shared)) return 1;
    }
}

}  // namespace MH264

namespace DIVX {

bool CMPEG4VidObjLayer::Parse(const uint8_t* d, uint32_t len) {
    valid = false;
    if (len < 8 || d[0] || d[1] || d[2] != 1 || d[3] < 0x20 || d[3] > 0x2F) return false;
    MpegCommon::BitReader br;
    br.Attach(d + 4, len - 4);
    br.Skip(1);  // random_accessible_vol
    objectType = br.Read(8);
    if (objectType == 0) return false;
    uint32_t verid = 1;
    if (br.ReadBit()) {
        verid = br.Read(4);
        br.Skip(3);
    }
    if (br.Read(4) == 15) br.Skip(16);  // extended PAR
    if (br.ReadBit()) {                 // vol_control_parameters
        br.Skip(3);
        if (br.ReadBit()) br.Skip(79);  // vbv_parameters
    }
    shape = br.Read(2);
    if (shape == 3 && verid != 1) br.Skip(4);
    if (!br.ReadBit()) return false;
    timeIncrementResolution = br.Read(16);
    if (!br.ReadBit() || timeIncrementResolution == 0 || br.Overrun()) return false;
    return valid = true;
}

bool CMPEG4VidObjPlane::Parse(const uint8_t* d, uint32_t len) {
    valid = false;
    if (len < 5 || d[0] || d[1] || d[2] != 1 || d[3] != 0xB6) return false;
    codingType = d[4] >> 6;
    return valid = true;
}

int DetectDiv4Stream::Detect(const uint8_t* d, uint32_t len) {
    *this = DetectDiv4Stream();
    resume = len > 100 ? len - 100 : 0;
    BS::CStartCodeScanner<8> sc;
    sc.SetData(d, len);
    const uint8_t* h = sc.FindNext();
    while (h && !vol.Parse(h, uint32_t(d + len - h))) h = sc.FindNext();
    if (!h) return 0;
    volPosition = uint32_t(h - d);
    resume = volPosition;
    const uint8_t* n = sc.FindNext();
    volCopy.assign(h, n ? n : d + len);
    for (; n; n = sc.FindNext())
        if (vop.Parse(n, uint32_t(d + len - n)) && vop.codingType == 0) return 1;
    return 0;
}

}  // namespace DIVX

namespace AAC {

bool CAACHeader::Parse(const uint8_t* d, uint32_t len) {
    if (len < 7 || d[0] != 0xFF || (d[1] & 0xF0) != 0xF0) return false;
    Clear();
    id = (d[1] >> 3) & 1;
    layer = (d[1] >> 1) & 3;
    protectionAbsent = d[1] & 1;
    profile = d[2] >> 6;
    samplingFrequencyIndex = (d[2] >> 2) & 15;
    channelConfiguration = ((d[2] & 1) << 2) | (d[3] >> 6);
    frameLength = ((uint32_t(d[3]) & 3) << 11) | (uint32_t(d[4]) << 3) | (d[5] >> 5);
    bufferFullness = ((uint32_t(d[5]) & 31) << 6) | (d[6] >> 2);
    rawDataBlocks = d[6] & 3;
    sampleRate = MpegCommon::AdtsSampleRate(samplingFrequencyIndex);
    if (!sampleRate) return false;
    // Configuration 7 is the 7.1 layout (ISO/IEC 13818-7 table 42).
    channels = channelConfiguration <= 6 ? channelConfiguration : 8;
    if (!channels) return false;
    duration = uint32_t(10240000000ull / sampleRate) * (rawDataBlocks + 1);
    valid = frameLength != 0;
    return valid != 0;
}

int DetectAACStream::Detect(const uint8_t* d, uint32_t len) {
    firstFrame.clear();
    resume = len > 100 ? len - 100 : 0;
    for (uint32_t i = 0; i + 25 <= len; ++i) {
        CAACHeader first;
        if (!first.Parse(d + i, len - i)) {
            resume = i;
            continue;
        }
        uint64_t at = i;
        CAACHeader cur = first;
        bool ok = true;
        for (int k = 0; k < 4 && ok; ++k) {
            at += cur.frameLength;
            CAACHeader h;
            ok = at + first.frameLength <= len && h.Parse(d + at, uint32_t(len - at)) &&
                 h.sampleRate == first.sampleRate && h.channels == first.channels;
            cur = h;
        }
        if (!ok) {
            resume = i;
            continue;
        }
        if (i + uint64_t(first.frameLength) <= len) firstFrame.assign(d + i, d + i + first.frameLength);
        header = first;
        return 1;
    }
    return 0;
}

}  // namespace AAC

namespace LPCM {

bool CLPCMHeader::Parse(const uint8_t* d, uint32_t len) {
    if (len < 7 || d[0] < 0xA0 || d[0] > 0xA7) return false;
    Clear();
    numberOfFrameHeaders = d[1];
    firstAccessUnitPointer = uint16_t((d[2] << 8) | d[3]);
    emphasis = d[4] >> 7;
    mute = (d[4] >> 6) & 1;
    frameNumber = d[4] & 31;
    quantizationCode = d[5] >> 6;
    samplingFrequencyCode = (d[5] >> 4) & 3;
    channelCode = d[5] & 7;
    dynamicRangeControl = d[6];
    channels = uint16_t(channelCode + 1);
    static const uint32_t kRate[4] = {48000, 96000, 44100, 32000};
    static const uint16_t kBits[4] = {16, 20, 24, 24};
    sampleRate = kRate[samplingFrequencyCode];
    bitsPerSample = kBits[quantizationCode];
    duration = numberOfFrameHeaders * 16666u;
    valid = 1;
    return true;
}

}  // namespace LPCM

namespace AES3 {

namespace {
constexpr uint8_t kReservedBits = 3;
constexpr uint8_t kFirstSampleSize = 16, kSampleSizeStep = 4;
}  // namespace

bool CAES3Header::Parse(const uint8_t* d, uint32_t len) {
    Clear();
    if (len < 4) return false;
    audioPacketSize = uint16_t((d[0] << 8) | d[1]);
    numberChannels = d[2] >> 6;
    channelIdentification = uint8_t(((d[2] & 63) << 2) | (d[3] >> 6));
    bitsPerSample = (d[3] >> 4) & 3;
    alignmentBits = d[3] & 15;
    // SMPTE 302M: bits_per_sample 0, 1, 2 for 16, 20, 24 bits; 3 is reserved.
    if (alignmentBits || bitsPerSample == kReservedBits) return false;
    channels = uint8_t(2 + 2 * numberChannels);
    sampleSize = uint8_t(kFirstSampleSize + kSampleSizeStep * bitsPerSample);
    valid = 1;
    return true;
}

}  // namespace AES3
