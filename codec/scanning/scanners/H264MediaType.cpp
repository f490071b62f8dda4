#include "codec/scanning/scanners/H264MediaType.h"

#include <cmath>
#include <numeric>

namespace h264mt {

namespace {

constexpr size_t kBitmapHeaderSize = 40;
constexpr uint32_t kPelsPerMeterXDefault = 2868;
constexpr uint32_t kPelsPerMeterYDefault = 3128;
constexpr uint32_t kInterlaced = 0x1;  // AMINTERLACE_IsInterlaced
constexpr uint32_t kExtendedSar = 255;
constexpr uint32_t kMaxAspectMultiplier = 20;
constexpr double kAspectTolerance = 0.1;
const uint8_t kStartCode[4] = {0, 0, 0, 1};

// Sample aspect ratios of ITU-T H.264 Table E-1 (indices 1 to 16).
const uint16_t kSar[17][2] = {{0, 0},   {1, 1},   {12, 11}, {10, 11}, {16, 11},  {40, 33}, {24, 11}, {20, 11}, {32, 11},
                              {80, 33}, {18, 11}, {15, 11}, {64, 33}, {160, 99}, {4, 3},   {3, 2},   {2, 1}};

void Put32(std::vector<uint8_t>& b, size_t at, uint32_t v) {
    for (int i = 0; i < 4; ++i) b[at + i] = static_cast<uint8_t>(v >> (8 * i));
}

void Put64(std::vector<uint8_t>& b, size_t at, uint64_t v) {
    Put32(b, at, static_cast<uint32_t>(v));
    Put32(b, at + 4, static_cast<uint32_t>(v >> 32));
}

void PutRect(std::vector<uint8_t>& b, size_t at, uint32_t l, uint32_t t, uint32_t r, uint32_t btm) {
    Put32(b, at, l);
    Put32(b, at + 4, t);
    Put32(b, at + 8, r);
    Put32(b, at + 12, btm);
}

}  // namespace

void DisplayAspect(uint32_t w, uint32_t h, uint32_t sarW, uint32_t sarH, uint32_t& x, uint32_t& y) {
    if (w == 0 || h == 0 || sarW == 0 || sarH == 0) {
        sarW = sarH = 1;
        if (w == 0 || h == 0) w = 4, h = 3;
    }
    const uint64_t num = uint64_t{w} * sarW, den = uint64_t{h} * sarH;
    const double r = static_cast<double>(num) / static_cast<double>(den);
    // A small ratio close to the exact one (16:9 for 1920 x 1080 cropped from 1088).
    for (uint32_t m = 1; m <= kMaxAspectMultiplier; ++m) {
        const double v = r * m;
        if (std::fabs(v - std::round(v)) < kAspectTolerance && std::round(v) >= 1) {
            x = static_cast<uint32_t>(std::round(v));
            y = m;
            return;
        }
    }
    const uint64_t g = std::gcd(num, den);
    x = static_cast<uint32_t>(num / g);
    y = static_cast<uint32_t>(den / g);
}

std::vector<uint8_t> BuildFormatBlock(const MpegCommon::h264::Sps& s, const std::vector<uint8_t>& spsNal,
                                      const std::vector<uint8_t>& ppsNal, int64_t frameDuration, uint32_t bitRate) {
    const uint32_t w = s.Width(), h = s.Height();
    // Crop units of 4:2:0: two samples across, two rows (four for field coding) down.
    const uint32_t unitY = s.frame_mbs_only_flag ? 2 : 4;
    uint32_t left = 0, top = 0, right = w, bottom = h;
    if (s.frame_cropping_flag) {
        const uint64_t cl = uint64_t{s.crop_left} * 2, cr = uint64_t{s.crop_right} * 2;
        const uint64_t ct = uint64_t{s.crop_top} * unitY, cb = uint64_t{s.crop_bottom} * unitY;
        if (cl + cr < w && ct + cb < h) {
            left = static_cast<uint32_t>(cl);
            right = static_cast<uint32_t>(w - cr);
            top = static_cast<uint32_t>(ct);
            bottom = static_cast<uint32_t>(h - cb);
        }
    }
    uint32_t sarW = 1, sarH = 1;
    if (s.vui_parameters_present_flag && s.aspect_ratio_idc == kExtendedSar) {
        sarW = s.sar_width;
        sarH = s.sar_height;
    } else if (s.vui_parameters_present_flag && s.aspect_ratio_idc >= 1 && s.aspect_ratio_idc <= 16) {
        sarW = kSar[s.aspect_ratio_idc][0];
        sarH = kSar[s.aspect_ratio_idc][1];
    }
    uint32_t ax = 0, ay = 0;
    DisplayAspect(right - left, bottom - top, sarW, sarH, ax, ay);

    std::vector<uint8_t> seq;
    for (const std::vector<uint8_t>* nal : {&spsNal, &ppsNal}) {
        if (nal->empty()) continue;
        seq.insert(seq.end(), kStartCode, kStartCode + 4);
        seq.insert(seq.end(), nal->begin(), nal->end());
    }
    std::vector<uint8_t> b(kSequenceHeader + seq.size(), 0);
    PutRect(b, kSourceRect, left, top, right, bottom);
    PutRect(b, kTargetRect, left, top, right, bottom);
    Put32(b, kBitRate, bitRate);
    Put64(b, kAvgTimePerFrame, static_cast<uint64_t>(frameDuration > 0 ? frameDuration : 0));
    Put32(b, kInterlaceFlags, s.frame_mbs_only_flag ? 0 : kInterlaced);
    Put32(b, kAspectX, ax);
    Put32(b, kAspectY, ay);
    Put32(b, kBitmapHeader, kBitmapHeaderSize);
    Put32(b, kBitmapWidth, w);
    Put32(b, kBitmapHeight, h);
    b[kBitmapHeader + 12] = 1;  // planes
    Put32(b, kBitmapCompression, kH264FourCc);
    const bool sar = sarW != sarH && sarW > 0;
    Put32(b, kPelsPerMeterX, kPelsPerMeterXDefault);
    Put32(b, kPelsPerMeterY,
          sar ? static_cast<uint32_t>(uint64_t{kPelsPerMeterXDefault} * sarH / sarW) : kPelsPerMeterYDefault);
    Put32(b, kSequenceHeaderSize, static_cast<uint32_t>(seq.size()));
    Put32(b, kProfile, s.profile_idc);
    Put32(b, kLevel, s.level_idc);
    std::copy(seq.begin(), seq.end(), b.begin() + kSequenceHeader);
    return b;
}

}  // namespace h264mt
