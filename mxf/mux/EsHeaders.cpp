#include "mxf/mux/EsHeaders.h"

#include "codec/common/BitReader.h"

#include <cstring>

namespace mexora::es {

namespace {

using MpegCommon::BitReader;

constexpr uint8_t kSequenceHeader = 0xB3;
constexpr uint8_t kExtension = 0xB5;
constexpr uint8_t kGop = 0xB8;
constexpr uint8_t kPicture = 0x00;
constexpr uint8_t kSequenceExtensionId = 1;
constexpr uint8_t kPictureCodingExtensionId = 8;

bool StartCode(const uint8_t* p, size_t n, uint8_t code) {
    return p && n >= 4 && p[0] == 0 && p[1] == 0 && p[2] == 1 && p[3] == code;
}

constexpr double kFrameRates[9] = {0, 23.976, 24, 25, 29.97, 30, 50, 59.94, 60};
constexpr Rate kFrameRationals[9] = {{0, 1},  {24000, 1001}, {24, 1},       {25, 1}, {30000, 1001},
                                     {30, 1}, {50, 1},       {60000, 1001}, {60, 1}};
// Display aspect ratios by aspect_ratio_information (ISO/IEC 13818-2 table 6-3).
constexpr Rate kAspects[5] = {{0, 1}, {1, 1}, {4, 3}, {16, 9}, {221, 100}};

}  // namespace

bool Aes3Header::Parse(const uint8_t* p, size_t n) {
    *this = Aes3Header();
    if (!p || n < 8 || std::memcmp(p, "AES3", 4) != 0 || (p[4] != 11 && p[4] != 12)) return false;
    const int code = (p[5] >> 3) & 3;
    if (code == 3) return false;
    channels = (p[5] & 7) + 1;
    bits = code == 0 ? 16 : (code == 1 ? 20 : 24);
    valid = true;
    return true;
}

bool Mpeg2Sequence::Parse(const uint8_t* p, size_t n) {
    *this = Mpeg2Sequence();
    if (!StartCode(p, n, kSequenceHeader) || n <= 10) return false;
    BitReader r;
    r.Attach(p + 4, n - 4);
    width = r.Read(12);
    height = r.Read(12);
    aspectCode = static_cast<uint8_t>(r.Read(4));
    frameRateCode = static_cast<uint8_t>(r.Read(4));
    bitRateValue = r.Read(18);
    const uint32_t marker = r.Read(1);
    vbvBufferSize = r.Read(10);
    constrained = r.Read(1) != 0;
    if (r.Overrun() || marker != 1 || aspectCode == 0 || aspectCode > 14) return false;
    valid = true;
    return true;
}

double Mpeg2Sequence::FrameRate() const {
    return frameRateCode <= 8 ? kFrameRates[frameRateCode] : 0;
}

int64_t Mpeg2Sequence::FrameDuration() const {
    const double rate = FrameRate();
    return rate > 0 ? static_cast<int64_t>(10000000.0 / rate) : 0;
}

Rate Mpeg2Sequence::FrameRateRational() const {
    return frameRateCode <= 8 ? kFrameRationals[frameRateCode] : Rate{0, 1};
}

Rate Mpeg2Sequence::Aspect() const {
    return aspectCode <= 4 ? kAspects[aspectCode] : Rate{0, 1};
}

bool Mpeg2SequenceExtension::Parse(const uint8_t* p, size_t n) {
    *this = Mpeg2SequenceExtension();
    if (!StartCode(p, n, kExtension) || n <= 8) return false;
    BitReader r;
    r.Attach(p + 4, n - 4);
    if (r.Read(4) != kSequenceExtensionId) return false;
    profileAndLevel = static_cast<uint8_t>(r.Read(8));
    progressive = r.Read(1) != 0;
    chromaFormat = static_cast<uint8_t>(r.Read(2));
    horizontalExtension = static_cast<uint8_t>(r.Read(2));
    verticalExtension = static_cast<uint8_t>(r.Read(2));
    bitRateExtension = static_cast<uint16_t>(r.Read(12));
    r.Read(1);  // marker
    vbvExtension = static_cast<uint8_t>(r.Read(8));
    lowDelay = r.Read(1) != 0;
    frameRateN = static_cast<uint8_t>(r.Read(2));
    frameRateD = static_cast<uint8_t>(r.Read(5));
    if (r.Overrun()) return false;
    if (profileAndLevel & 0x80) {
        switch (profileAndLevel) {
            case 0x82:
                profile = 6, level = 4;
                break;
            case 0x85:
                profile = 6, level = 2;
                break;
            case 0x8A:
                profile = 7, level = 4;
                break;
            case 0x8B:
                profile = 7, level = 3;
                break;
            case 0x8D:
                profile = 7, level = 2;
                break;
            case 0x8E:
                profile = 7, level = 1;
                break;
            default:
                break;
        }
    } else {
        const int pn = (profileAndLevel >> 4) & 7, ln = profileAndLevel & 15;
        profile = pn >= 1 && pn <= 5 ? 6 - pn : 0;
        level = ln == 4 ? 4 : ln == 6 ? 3 : ln == 8 ? 2 : ln == 10 ? 1 : 0;
    }
    valid = true;
    return true;
}

bool Mpeg2PictureCodingExtension::Parse(const uint8_t* p, size_t n) {
    *this = Mpeg2PictureCodingExtension();
    if (!StartCode(p, n, kExtension)) return false;
    BitReader r;
    r.Attach(p + 4, n - 4);
    if (r.Read(4) != kPictureCodingExtensionId) return false;
    r.Skip(16);  // f_codes
    intraDcPrecision = static_cast<uint8_t>(r.Read(2));
    pictureStructure = static_cast<uint8_t>(r.Read(2));
    topFieldFirst = r.Read(1);
    framePredFrameDct = r.Read(1);
    concealmentVectors = r.Read(1);
    qScaleType = r.Read(1);
    intraVlcFormat = r.Read(1);
    alternateScan = r.Read(1);
    repeatFirstField = r.Read(1);
    chroma420Type = r.Read(1);
    progressiveFrame = r.Read(1);
    compositeDisplay = r.Read(1);
    if (r.Overrun()) return false;
    valid = true;
    return true;
}

bool Mpeg2Gop::Parse(const uint8_t* p, size_t n, bool strict) {
    *this = Mpeg2Gop();
    if (!StartCode(p, n, kGop)) return false;
    BitReader r;
    r.Attach(p + 4, n - 4);
    dropFrame = r.Read(1);
    hours = static_cast<uint8_t>(r.Read(5));
    minutes = static_cast<uint8_t>(r.Read(6));
    const uint32_t marker = r.Read(1);
    seconds = static_cast<uint8_t>(r.Read(6));
    pictures = static_cast<uint8_t>(r.Read(6));
    closed = r.Read(1);
    brokenLink = r.Read(1);
    if (r.Overrun()) return false;
    if (strict && (marker != 1 || hours >= 24 || minutes > 59 || seconds > 59 || pictures > 59)) return false;
    valid = true;
    return true;
}

bool Mpeg2Picture::Parse(const uint8_t* p, size_t n) {
    *this = Mpeg2Picture();
    if (!StartCode(p, n, kPicture) || n <= 6) return false;
    BitReader r;
    r.Attach(p + 4, n - 4);
    temporalReference = static_cast<uint16_t>(r.Read(10));
    codingType = static_cast<uint8_t>(r.Read(3));
    vbvDelay = static_cast<uint16_t>(r.Read(16));
    if (r.Overrun() || codingType < 1 || codingType > 4) return false;
    valid = true;
    return true;
}

}  // namespace mexora::es
