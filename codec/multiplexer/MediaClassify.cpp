#include "codec/multiplexer/MediaClassify.h"

#include <cstring>

namespace muxcore {

bool operator==(const Guid& a, const Guid& b) {
    return a.data1 == b.data1 && a.data2 == b.data2 && a.data3 == b.data3 && std::memcmp(a.data4, b.data4, 8) == 0;
}

Guid FourccGuid(uint32_t code) {
    return {code, 0x0000, 0x0010, {0x80, 0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71}};
}

namespace mediatype {
const Guid kVideo = FourccGuid(Fourcc('v', 'i', 'd', 's'));
const Guid kAudio = FourccGuid(Fourcc('a', 'u', 'd', 's'));
const Guid kStream = {0xE436EB83, 0x524F, 0x11CE, {0x9F, 0x53, 0x00, 0x20, 0xAF, 0x0B, 0xA7, 0x70}};
const Guid kMpeg1Payload = {0xE436EB81, 0x524F, 0x11CE, {0x9F, 0x53, 0x00, 0x20, 0xAF, 0x0B, 0xA7, 0x70}};
const Guid kMpeg2Pes = {0xE06D8020, 0xDB46, 0x11CF, {0xB4, 0xD1, 0x00, 0x80, 0x5F, 0x6C, 0xBB, 0xEA}};
const Guid kMpeg2Program = {0xE06D8022, 0xDB46, 0x11CF, {0xB4, 0xD1, 0x00, 0x80, 0x5F, 0x6C, 0xBB, 0xEA}};
const Guid kMpeg2Video = {0xE06D8026, 0xDB46, 0x11CF, {0xB4, 0xD1, 0x00, 0x80, 0x5F, 0x6C, 0xBB, 0xEA}};
const Guid kMpeg2Audio = {0xE06D802B, 0xDB46, 0x11CF, {0xB4, 0xD1, 0x00, 0x80, 0x5F, 0x6C, 0xBB, 0xEA}};
const Guid kDolbyAc3 = {0xE06D802C, 0xDB46, 0x11CF, {0xB4, 0xD1, 0x00, 0x80, 0x5F, 0x6C, 0xBB, 0xEA}};
const Guid kDvdSubpicture = {0xE06D802D, 0xDB46, 0x11CF, {0xB4, 0xD1, 0x00, 0x80, 0x5F, 0x6C, 0xBB, 0xEA}};
const Guid kDvdLpcm = {0xE06D8032, 0xDB46, 0x11CF, {0xB4, 0xD1, 0x00, 0x80, 0x5F, 0x6C, 0xBB, 0xEA}};
const Guid kDvdEncryptedPack = {0xED0B916A, 0x044D, 0x11D1, {0xAA, 0x78, 0x00, 0xC0, 0x4F, 0xC3, 0x1D, 0x60}};
const Guid kH264 = {0x8D2D71CB, 0x243F, 0x45E3, {0xB2, 0xD8, 0x5F, 0xD7, 0x96, 0x7E, 0xC0, 0x9B}};
const Guid kIgPesMajor = {0x6216631E, 0xBC85, 0x48A0, {0xB5, 0xF1, 0x8A, 0x65, 0x3A, 0x20, 0xB7, 0xFB}};
const Guid kIgPes = {0xB353308B, 0x7698, 0x4722, {0x97, 0x49, 0x69, 0x4D, 0xE6, 0xEF, 0x78, 0x9E}};
const Guid kNull = {0, 0, 0, {0, 0, 0, 0, 0, 0, 0, 0}};
const Guid kFormatVideoInfo = {0x05589F80, 0xC356, 0x11CE, {0xBF, 0x01, 0x00, 0xAA, 0x00, 0x55, 0x59, 0x5A}};
const Guid kFormatWaveFormatEx = {0x05589F81, 0xC356, 0x11CE, {0xBF, 0x01, 0x00, 0xAA, 0x00, 0x55, 0x59, 0x5A}};
const Guid kFormatMpegVideo = {0x05589F82, 0xC356, 0x11CE, {0xBF, 0x01, 0x00, 0xAA, 0x00, 0x55, 0x59, 0x5A}};
const Guid kFormatVideoInfo2 = {0xF72A76A0, 0xEB0A, 0x11D0, {0xAC, 0xE4, 0x00, 0x00, 0xC0, 0xCC, 0x16, 0xBA}};
const Guid kFormatMpeg2Video = {0xE06D80E3, 0xDB46, 0x11CF, {0xB4, 0xD1, 0x00, 0x80, 0x5F, 0x6C, 0xBB, 0xEA}};
const Guid kFormatBlob = {0xB92F44EC, 0x5B87, 0x4665, {0xA1, 0x95, 0x80, 0x4E, 0xE4, 0x35, 0x4D, 0x78}};
}  // namespace mediatype

namespace {

using namespace mediatype;

uint32_t Le32(const uint8_t* p) {
    return p[0] | (p[1] << 8) | (p[2] << 16) | (static_cast<uint32_t>(p[3]) << 24);
}

uint16_t Le16(const uint8_t* p) {
    return static_cast<uint16_t>(p[0] | (p[1] << 8));
}

int32_t Abs(int32_t v) {
    return v < 0 ? -v : v;
}

bool IsVideoFormat(const Guid& f) {
    return f == kFormatVideoInfo || f == kFormatVideoInfo2 || f == kFormatMpegVideo || f == kFormatMpeg2Video;
}

// Offsets in the 32-bit format records.
constexpr uint32_t kVihSize = 88;    // VIDEOINFOHEADER
constexpr uint32_t kVih2Size = 112;  // VIDEOINFOHEADER2
constexpr uint32_t kVihBmi = 48;
constexpr uint32_t kVih2Bmi = 72;

}  // namespace

Classification ClassifyMediaType(const MediaTypeDesc& mt) {
    Classification c;
    const Guid& m = mt.major;
    const Guid& s = mt.subtype;
    auto fourcc = [&s](char a, char b, char d, char e) { return s == FourccGuid(Fourcc(a, b, d, e)); };
    auto tag = [&s](uint32_t t) { return s == FourccGuid(t); };
    if (m == kMpeg2Pes) {
        if (s == kMpeg2Audio)
            c.streamType = kPinPesMpegAudio;
        else if (s == kDvdSubpicture)
            c.streamType = kPinPesDvdSubtitles;
    } else if (m == kIgPesMajor) {
        if (s == kIgPes) c.streamType = kPinIgPes;
    } else if (m == kStream) {
        if (s == kMpeg2Program)
            c.streamType = kPinMpeg2Program;
        else if (s == kNull)
            c.streamType = kPinPrivateData;
    } else if (m == kDvdEncryptedPack) {
        if (s == kMpeg2Video)
            c.streamType = kPinMpeg2Video;
        else if (s == kDolbyAc3 || tag(0x2000))
            c.streamType = kPinAc3;
    } else if (m == kVideo) {
        uint32_t compression = 0;
        if (mt.formatType == kFormatVideoInfo && mt.format && mt.formatSize >= kVihSize)
            compression = Le32(mt.format + kVihBmi + 16);
        if (s == kH264 || fourcc('A', 'V', 'C', '1') || fourcc('h', '2', '6', '4'))
            c.streamType = kPinH264;
        else if (fourcc('d', 'i', 'v', 'x') || fourcc('m', 'p', '4', 'v') || fourcc('M', 'P', '4', 'V') ||
                 fourcc('D', 'X', '5', '0'))
            c.streamType = kPinMpeg4;
        else if (fourcc('V', 'S', 'S', 'H'))
            c.streamType = kPinH264Soft;
        else if (fourcc('W', 'V', 'C', '1'))
            c.streamType = kPinVc1;
        else if (s == kMpeg1Payload)
            c.streamType = kPinMpeg1Video;
        else if (s == kMpeg2Video)
            c.streamType = kPinMpeg2Video;
        else if (s == kDvdSubpicture)
            c.streamType = kPinDvdSubtitles;
        else if ((fourcc('D', 'I', 'V', '3') || fourcc('D', 'I', 'V', 'X')) &&
                 compression == Fourcc('D', 'I', 'V', 'X'))
            c.streamType = kPinMpeg4v4;
        else if ((fourcc('D', 'I', 'V', '3') || fourcc('D', 'I', 'V', 'X')) &&
                 compression == Fourcc('D', 'I', 'V', '5'))
            c.streamType = kPinMpeg4v5;
    } else if (m == kAudio) {
        if (tag(0x55) || s == kMpeg2Audio)
            c.streamType = kPinMpeg2Audio;
        else if (tag(0x50))
            c.streamType = kPinMpeg1Audio;
        else if (s == kDolbyAc3 || tag(0x2000))
            c.streamType = kPinAc3;
        else if (tag(0xFF))
            c.streamType = kPinAac;
        else if (tag(1))
            c.streamType = kPinPcm;
        else if (s == kDvdLpcm) {
            c.streamType = kPinPcm;
            c.dvdLpcm = true;
        } else if (s == kMpeg1Payload)
            c.streamType = kPinMpeg1Audio;
    }
    return c;
}

int32_t FrameRateCode(int64_t t) {
    switch (t) {
        case 166666:
            return 8;
        case 166833:
            return 7;
        case 200000:
            return 6;
        case 333333:
            return 5;
        case 333666:
        case 333667:
            return 4;
        case 400000:
            return 3;
        case 416666:
            return 2;
        case 417188:
            return 1;
        default:
            return 0;
    }
}

HRESULT_T ReadConnectFacts(const MediaTypeDesc& mt, int32_t t, const MuxerSettings& mux, ConnectFacts& f) {
    f = ConnectFacts();
    if ((t == kPinPcm || IsSubpictureType(t)) && mux.output != kProgramStream) return kE_FAIL;
    if (t == kPinIgPes && mux.output != kTransportFixedPids) return kE_FAIL;
    if (mux.dmbCompatibility == 1 && t != kPinAac && t != kPinH264) return kE_FAIL;
    const bool video = IsVideoType(t);
    if (video) {
        f.announcedBitrate = 2000000;
        f.frameDuration = 400000;
    } else {
        f.announcedBitrate = t == kPinAac ? 128000 : 256000;
        f.frameDuration = 240000;
    }
    const uint8_t* p = mt.format;
    const uint32_t n = p ? mt.formatSize : 0;
    f.hasFormat = n > 0 && mt.formatType != kFormatBlob;
    if (!f.hasFormat) {
        if (t == kPinIgPes || t == kPinPcm) return kE_FAIL;
        return kS_OK;
    }
    const bool group4 = t == 5 || t == 6 || t == 10 || t == 12 || t == 14;
    auto sizeRate = [&](int32_t w, int32_t h) {
        return static_cast<int64_t>(w) * h / 19200 * (group4 ? 250000 : 500000);
    };
    auto rect = [&](int32_t& w, int32_t& h) {
        w = static_cast<int32_t>(Le32(p + 8)) - static_cast<int32_t>(Le32(p));
        h = static_cast<int32_t>(Le32(p + 12)) - static_cast<int32_t>(Le32(p + 4));
    };
    const Guid& ft = mt.formatType;
    if ((ft == kFormatMpeg2Video || ft == kFormatVideoInfo2) && n >= kVih2Size) {
        rect(f.width, f.height);
        if ((f.width == 0 || f.height == 0) && ft == kFormatMpeg2Video) {
            f.width = static_cast<int32_t>(Le32(p + kVih2Bmi + 4));
            f.height = Abs(static_cast<int32_t>(Le32(p + kVih2Bmi + 8)));
        }
        const uint32_t br = Le32(p + 32);
        f.announcedBitrate = static_cast<int32_t>(br ? br : sizeRate(f.width, f.height));
    } else if ((ft == kFormatMpegVideo || ft == kFormatVideoInfo) && n >= kVihSize) {
        rect(f.width, f.height);
        if ((f.width == 0 || f.height == 0) && ft == kFormatVideoInfo) {
            f.width = static_cast<int32_t>(Le32(p + kVihBmi + 4));
            f.height = Abs(static_cast<int32_t>(Le32(p + kVihBmi + 8)));
        }
        const int64_t k = sizeRate(f.width, f.height);
        const uint32_t br = Le32(p + 32);
        if (ft == kFormatMpegVideo)
            f.announcedBitrate = static_cast<int32_t>(br ? br : k);
        else
            f.announcedBitrate = static_cast<int32_t>(br == 0 || br > 20 * k ? k : br);
    } else if (ft == kFormatWaveFormatEx && n >= 16) {
        const uint32_t rate = Le32(p + 4);
        if (t == kPinPcm && rate != 48000 && rate != 96000) return kE_FAIL;
        f.frequency = static_cast<int32_t>(rate);
        const uint32_t avg = Le32(p + 8);
        if (avg) f.announcedBitrate = static_cast<int32_t>(avg * 8);
        f.channels = Le16(p + 2);
        f.bitsPerSample = Le16(p + 14);
    }
    if (mt.major == mediatype::kVideo && IsVideoFormat(ft) && n >= 48) {
        int64_t avg = 0;
        std::memcpy(&avg, p + 40, 8);  // little-endian hosts and targets
        f.frameDuration = avg;
        f.announcedFrameRate = FrameRateCode(avg);
    }
    return kS_OK;
}

bool CheckCompatibility(int32_t compat, int32_t t, int32_t output, const ConnectFacts& f) {
    if (t == kPinFree || compat == kCompatNone) return true;
    if (output == kTransportStream || !f.hasFormat) return false;
    const int32_t w = f.width, h = f.height, r = f.announcedFrameRate;
    if (compat == kCompatDvd) {
        if (t == kPinMpeg2Video || t == kPinMpeg1Video) {
            if (r == 4) return (h == 480 && (w == 720 || w == 704 || w == 352)) || (w == 352 && h == 240);
            if (r == 3) return (h == 576 && (w == 720 || w == 704 || w == 352)) || (w == 352 && h == 288);
            return false;
        }
        if (IsAudioType(t) || t == kPinPcm) return f.frequency == 48000;
        return t == kPinDvdSubtitles;
    }
    if (compat == kCompatSvcd) {
        if (t == kPinMpeg2Video || t == kPinMpeg1Video) {
            if (r == 4) return h == 480 && (w == 480 || w == 704);
            if (r == 3) return h == 576 && (w == 480 || w == 704);
            return false;
        }
        if (f.frequency == 44100 && f.channels >= 2) return t == kPinMpeg1Audio;
        return false;
    }
    return false;
}

void ApplyConnectFacts(const ConnectFacts& f, StreamSettings& s) {
    s.announcedBitrate = f.announcedBitrate;
    s.frequency = f.frequency;
    if (s.streamType == kPinPcm) {
        if (f.frequency > 0) s.pcm.sampleRate = f.frequency;
        if (f.channels > 0) s.pcm.channels = f.channels;
        if (f.bitsPerSample > 0) s.pcm.bitsPerSample = f.bitsPerSample;
    }
}

void BuildAdtsHeader(uint8_t c0, uint8_t c1, uint32_t n, uint8_t out[7]) {
    const uint32_t profile = ((c0 >> 3) & 0x1F) - 1;
    const uint32_t freq = ((c0 << 1) & 0xF) | (c1 >> 7);
    const uint32_t channels = (c1 >> 3) & 0xF;
    const uint32_t len = n + 7;
    out[0] = 0xFF;
    out[1] = 0xF1;  // MPEG-4, layer 0, no CRC
    out[2] = static_cast<uint8_t>(((profile & 3) << 6) | (freq << 2) | ((channels >> 2) & 1));
    out[3] = static_cast<uint8_t>(((channels & 3) << 6) | ((len >> 11) & 3));
    out[4] = static_cast<uint8_t>(len >> 3);
    out[5] = static_cast<uint8_t>(((len & 7) << 5) | 0x1F);
    out[6] = 0xFC;
}

}  // namespace muxcore
