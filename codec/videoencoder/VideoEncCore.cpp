#include "codec/videoencoder/VideoEncCore.h"

#include <cmath>
#include <cstdlib>

namespace vidcore {

uint32_t FoldAlias(uint32_t code) {
    if (code == Fourcc('Y', '4', '2', '2') || code == Fourcc('U', 'Y', 'N', 'V')) return kUYVY;
    if (code == Fourcc('Y', 'U', 'N', 'V') || code == Fourcc('Y', 'U', 'Y', 'V')) return kYUY2;
    if (code == kIYUV) return kI420;
    return code;
}

uint32_t InputFourcc(uint32_t subtype, uint32_t compression) {
    switch (subtype) {
        case kBGR3:
        case kBGR4:
        case kYUY2:
        case kYV12:
        case kYV16:
        case kUYVY:
        case kI420:
            return subtype;
        case kIYUV:
            return kI420;
        default:
            break;
    }
    uint32_t c = FoldAlias(compression);
    switch (c) {
        case kYUY2:
        case kUYVY:
        case kYV12:
        case kYV16:
        case kI420:
            return c;
        default:
            return 0;
    }
}

namespace {

// Bits per pixel an RGB format needs; 0 for the others.
int RgbBits(uint32_t fourcc) {
    return fourcc == kBGR3 ? 24 : fourcc == kBGR4 ? 32 : 0;
}

int ColourRule(const InputDescription& in, int chromaFormat) {
    const bool planar420Allowed = chromaFormat != 2;
    switch (in.subtype) {
        case kBGR3:
        case kBGR4:
            // A depth without whole bytes, or too few for the pixels, would
            // give lines the engine cannot read.
            return in.bitCount >= RgbBits(in.subtype) && in.bitCount % 8 == 0 ? 0 : 2;
        case kYUY2:
        case kUYVY:
        case kIYUV:
            return 0;
        case kYV12:
        case kI420:
            if (planar420Allowed) return 0;
            break;
        default:
            break;
    }
    switch (FoldAlias(in.compression)) {
        case kYUY2:
        case kYV16:
        case kUYVY:
            return 0;
        case kI420:
        case kYV12:
            return planar420Allowed ? 0 : 2;
        default:
            return 2;
    }
}

bool SideAccepted(int32_t side, int32_t maxSide) {
    const int64_t v = std::llabs(static_cast<int64_t>(side));
    // Multiples of 4096 (0 included) cannot be coded, nor sides beyond the engine's.
    return (v & 0xFFF) != 0 && v <= maxSide;
}

}  // namespace

int32_t MaxPictureSide(int videoType) {
    // The video types the engine codes as MPEG-1.
    return videoType == 0 || videoType == 1 || videoType == 13 ? kMaxMpeg1PictureSide : kMaxPictureSide;
}

int CheckInput(const InputDescription& in, int chromaFormat, int32_t maxSide) {
    if (!SideAccepted(in.width, maxSide) || !SideAccepted(in.height, maxSide)) return 1;
    return ColourRule(in, chromaFormat);
}

bool IsBottomUp(uint32_t fourcc, int32_t biHeight) {
    // A negative height marks a top-down bitmap.
    if (biHeight < 0) return false;
    return fourcc == kBGR3 || fourcc == kBGR4 || fourcc == Fourcc('R', '5', '5', '5') ||
           fourcc == Fourcc('R', '5', '6', '5') || fourcc == Fourcc('B', 'G', 'R', 'A');
}

bool IsPlanar(uint32_t fourcc) {
    return fourcc == kI420 || fourcc == kYV12 || fourcc == kYV16;
}

int32_t SourceStride(const InputDescription& in) {
    const int64_t w = std::llabs(static_cast<int64_t>(in.width));
    const int64_t h = std::llabs(static_cast<int64_t>(in.height));
    const uint32_t fourcc = InputFourcc(in.subtype, in.compression);
    if (IsPlanar(fourcc)) return static_cast<int32_t>(w > 0x7FFFFFFF ? 0 : w);
    // Packed formats by their layout; biBitCount only for what is not known.
    int64_t bits = in.bitCount;
    if (fourcc == kYUY2 || fourcc == kUYVY) bits = 16;
    if (fourcc == kBGR3 || fourcc == kBGR4) bits = in.bitCount > RgbBits(fourcc) ? in.bitCount : RgbBits(fourcc);
    // Whole lines padded to four bytes; a stated image size may only widen them.
    const int64_t packed = ((w * bits + 31) / 32) * 4;
    if (in.sizeImage != 0 && h != 0) {
        const int64_t fromSize = static_cast<int64_t>(in.sizeImage) / h;
        if (fromSize >= packed) return static_cast<int32_t>(fromSize > 0x7FFFFFFF ? packed : fromSize);
    }
    return static_cast<int32_t>(packed > 0x7FFFFFFF ? 0 : packed);
}

int64_t FrameBytes(uint32_t fourcc, int32_t stride, int32_t height) {
    const int64_t s = std::llabs(static_cast<int64_t>(stride));
    const int64_t h = std::llabs(static_cast<int64_t>(height));
    const int64_t chromaLine = s / 2;
    if (fourcc == kI420 || fourcc == kYV12) return s * h + 2 * chromaLine * ((h + 1) / 2);
    if (fourcc == kYV16) return s * h + 2 * chromaLine * h;
    return s * h;
}

int ColorSpaceOf(uint32_t fourcc) {
    if (fourcc == kI420 || fourcc == kYV12) return 0;
    if (fourcc == kYUY2 || fourcc == kYV16 || fourcc == Fourcc('Y', 'U', 'Y', 'V') || fourcc == kUYVY) return 1;
    if (fourcc == kBGR3) return 3;
    if (fourcc == kBGR4) return 4;
    return -1;
}

double RateOfCode(int code) {
    switch (code) {
        case 1:
            return 24000.0 / 1001.0;
        case 2:
            return 24.0;
        case 3:
            return 25.0;
        case 4:
            return 30000.0 / 1001.0;
        case 5:
            return 30.0;
        case 6:
            return 50.0;
        case 7:
            return 60000.0 / 1001.0;
        case 8:
            return 60.0;
        default:
            return 25.0;
    }
}

DetectedRate DetectFrameRate(int64_t avgTimePerFrame, int32_t absHeight, int pulldown) {
    const double guess = (absHeight == 200 || absHeight == 240 || absHeight == 480) ? 30000.0 / 1001.0 : 25.0;
    double rate = avgTimePerFrame != 0 ? 10000000.0 / static_cast<double>(avgTimePerFrame) : 0.0;
    double measured = rate;
    if (rate < 23.9 || !std::isfinite(rate)) {
        // Slow captures are coded at the usual rate of their picture height.
        measured = avgTimePerFrame != 0 && std::isfinite(rate) ? guess : 0.0;
        rate = guess;
    }
    int code;
    if (rate < 23.9)
        code = 0;
    else if (rate < 23.99)
        code = 1;
    else if (rate < 24.5)
        code = 2;
    else if (rate < 27.5)
        code = 3;
    else if (rate < 29.99)
        code = 4;
    else if (rate < 40)
        code = 5;
    else if (rate < 55)
        code = 6;
    else if (rate < 60)
        code = 7;
    else if (rate < 65)
        code = 8;
    else
        code = 0;
    if (pulldown)
        code = code == 4 ? 1 : 2;
    else if (code == 0)
        code = 3;
    return {measured, code};
}

double OutputRate(int engineCode, int pulldown) {
    if (pulldown) return RateOfCode(engineCode == 1 ? 4 : 5);
    return RateOfCode(engineCode);
}

namespace {

struct LevelEntry {
    int profile, level;
    int64_t maxSamples;
};
const LevelEntry kLevels[] = {
    {7, 15, 13421772800LL}, {1, 4, 83558400}, {1, 6, 62668800}, {4, 4, 62668800}, {4, 6, 47001600}, {1, 8, 14745600},
    {4, 8, 10368000},       {4, 10, 3041280}, {5, 8, 10368000}, {7, 4, 62668800}, {7, 8, 11059200},
};

int64_t RoundUp(int64_t v, int64_t m) {
    return (v + m - 1) / m * m;
}

}  // namespace

ProfileLevel SelectProfileLevel(int profile, int level, int w, int h, double fps, bool progressive) {
    const int64_t w64 = w < 0 ? 0 : w, h64 = h < 0 ? 0 : h;
    const int64_t samples = RoundUp(w64, 16) * (progressive ? RoundUp(h64, 16) : RoundUp(h64, 32));
    int n = 0;
    for (int i = 0; i < static_cast<int>(sizeof kLevels / sizeof kLevels[0]); ++i)
        if (kLevels[i].profile == profile && kLevels[i].level == level) n = i;
    const double rate = std::isfinite(fps) && fps > 0 ? fps : 0.0;
    const double load = rate * static_cast<double>(samples);
    const int64_t perSecond = load >= 9.2e18 ? INT64_MAX : static_cast<int64_t>(load);
    while (n > 0 && perSecond > kLevels[n].maxSamples) --n;
    ProfileLevel r{kLevels[n].profile, kLevels[n].level};
    if (r.profile != 7) {
        if (r.level == 10 && (w > 352 || h > 288 || rate > 30)) r.level = 8;
        if (r.level == 8 && (w > 720 || h > 576 || rate > 30)) r.level = 6;
        if (r.level == 6 && (w > 1440 || h > 1152)) r.level = 4;
    }
    if (r.level > 7 && r.level != 15 && rate > 35) r.level = 4;
    if (w > 1920 || h > 1152 || rate > 60) r = {7, 15};
    return r;
}

int AutoAspectRatio(int videoType, int videoFormat, int frameRate, int width, int height, int x, int y) {
    if (x <= 0 || y <= 0) x = y = 1;
    int result = 1;
    if (videoType == 0 || videoType == 1 || videoType == 13 || videoType == 15) {
        switch (static_cast<int64_t>(x) * 10000 / y) {
            case 6735:
                result = 2;
                break;
            case 7031:
                result = 3;
                break;
            case 7615:
                result = 4;
                break;
            case 8055:
                result = 5;
                break;
            case 8437:
                result = 6;
                break;
            case 8935:
                result = 7;
                break;
            case 9157:
                result = 8;
                break;
            case 9815:
                result = 9;
                break;
            case 10255:
                result = 10;
                break;
            case 10695:
                result = 11;
                break;
            case 10950:
                result = 12;
                break;
            case 11575:
                result = 13;
                break;
            case 12015:
                result = 14;
                break;
            default:
                result = 1;
                break;
        }
    } else {
        switch (static_cast<int64_t>(x) * 1000 / y) {
            case 1333:
                result = 2;
                break;
            case 1777:
                result = 3;
                break;
            case 2210:
                result = 4;
                break;
            default:
                result = 1;
                break;
        }
    }
    auto as9 = [&] { return result == 2 || result == 3 ? result : 2; };
    switch (videoType) {
        case 4:
            if (width == 352 || height < 480) return 2;
            return result == 3 ? 3 : 2;
        case 8:
            return result == 3 || result == 4 ? result : 3;
        case 9:
            return as9();
        case 10:
        case 19:
            return 3;
        case 11:
            if (width == 720 || width == 704 || width == 352 || width == 480 || width == 544) return as9();
            if (width == 1280 || width == 1920) return result == 1 || result == 3 ? result : 1;
            if (width == 640) return result == 1 || result == 2 ? result : 2;
            return result;
        case 13:
            return videoFormat == 1 ? 8 : 12;
        case 18:
            if (width == 720) return as9();
            if (width == 1280) return 3;
            return result;
        case 25:
            if (width == 1920 || width == 960 || width == 1280) return 3;
            if (width == 1440 || width == 352 || width == 480 || width == 544)
                return result == 2 || result == 3 ? result : 3;
            if (width == 704 || width == 720) return frameRate == 3 || frameRate == 4 ? 2 : 3;
            return result;
        default:
            return result;
    }
}

int AutoVideoFormat(int frameRateCode, int width, int height) {
    if (frameRateCode == 1 || frameRateCode == 3 || frameRateCode == 6) return 1;
    if (frameRateCode == 4 || frameRateCode == 7 || frameRateCode == 8) return 2;
    if ((width == 352 && height == 240) || (width == 480 && height == 480) || (width == 720 && height == 480)) return 2;
    if ((width == 352 && height == 288) || (width == 480 && height == 576) || (width == 720 && height == 576)) return 1;
    return 5;
}

int32_t DefaultOutSampleSize(int32_t width, int32_t height, int32_t bitrate, double fps) {
    int64_t pixels = static_cast<int64_t>(width < 0 ? 0 : width) * (height < 0 ? 0 : height);
    double share = std::isfinite(fps) && fps > 0 ? 4.0 * bitrate / fps : 0.0;
    int64_t bytes = pixels;
    if (share > static_cast<double>(bytes)) bytes = share >= 2147483647.0 ? 2147483647 : static_cast<int64_t>(share);
    return static_cast<int32_t>(bytes > 2147483647 ? 2147483647 : bytes);
}

namespace {
// 100 ns ticks of n frames at a rate, clamped into range.
double Ticks(int64_t frames, double rate) {
    return static_cast<double>(frames) * 10000000.0 / rate;
}
}  // namespace

bool DropFrame(int64_t inFrames, int64_t outFrames, double inputRate, double outputRate) {
    // An unknown rate on either side never drops.
    if (!(inputRate > 0) || !(outputRate > 0) || !std::isfinite(inputRate) || !std::isfinite(outputRate)) return false;
    const double inTime = std::floor(Ticks(inFrames, inputRate));
    const double outTime = std::floor(Ticks(outFrames, outputRate));
    return inTime < outTime;
}

PadPlan PlanPadding(int64_t start, int64_t nextStart, double inputRate, double engineFps, int64_t inFrames) {
    PadPlan plan{0, 0};
    const double rate = inputRate > 0 && std::isfinite(inputRate)
                            ? inputRate
                            : (engineFps > 0 && std::isfinite(engineFps) ? engineFps : 0.0);
    // Times far from any real stream are not padded: no step may overflow.
    const int64_t kLimit = int64_t(1) << 62;
    if (rate <= 0 || inFrames < 2 || start <= nextStart || start > kLimit || nextStart < -kLimit) return plan;
    const double step = 10000000.0 / rate;
    if (!(step >= 1.0) || step > 1e12) return plan;
    plan.step = static_cast<int64_t>(step);
    // Gaps under half a picture are jitter; long gaps fill at most a cap.
    const int64_t gap = start - nextStart;
    int n = 0;
    while (n < kMaxRepeatsPerFrame && gap - n * plan.step > plan.step / 2) ++n;
    plan.repeats = n;
    return plan;
}

int64_t SkippedFrames(int64_t start, int64_t nextStart, double inputRate) {
    if (start <= nextStart || !(inputRate > 0) || !std::isfinite(inputRate)) return 0;
    // The difference of two in-range times fits an unsigned 64-bit count.
    const double gap = static_cast<double>(static_cast<uint64_t>(start) - static_cast<uint64_t>(nextStart));
    const double n = gap * inputRate * 1e-7;
    return n >= 9.2e18 ? INT64_MAX : static_cast<int64_t>(n);
}

}  // namespace vidcore
