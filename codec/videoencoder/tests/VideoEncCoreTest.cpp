// The encoder filter's platform-free decisions.
#include <gtest/gtest.h>

#include "codec/videoencoder/VideoEncCore.h"

#include <climits>
#include <cstdint>

using namespace vidcore;

namespace {

TEST(VideoEncProfileLevel, SampleRateAndSizeRules) {
    struct Case {
        int profile, level, w, h;
        double fps;
        bool progressive;
        int wantProfile, wantLevel;
    } cases[] = {
        {4, 8, 720, 576, 25, false, 4, 8},    // Main@Main holds PAL exactly
        {4, 8, 1920, 1080, 25, false, 4, 4},  // steps down the table to Main@High
        {4, 10, 352, 288, 25, true, 4, 10},   // Low level fits CIF
        {4, 10, 640, 480, 25, true, 4, 8},    // too many samples for Low
        {4, 8, 720, 480, 59.94, true, 4, 6},  // too many samples for Main level
        {4, 8, 352, 240, 59.94, true, 4, 6},  // above 30 fps: High-1440
        {7, 8, 352, 240, 59.94, true, 7, 4},  // 4:2:2 above 35 fps: High level
        {5, 8, 720, 576, 25, false, 5, 8},    // Simple@Main stays
        {4, 8, 2560, 1440, 25, true, 7, 15},  // beyond 1920x1152: 4:2:2 unspecified
        {4, 8, 320, 240, 75, true, 7, 15},    // beyond 60 fps
        {1, 6, 1440, 1152, 25, false, 1, 6},  // High-1440 fits
        {9, 9, 320, 240, 25, true, 7, 15},    // no entry: first row
    };
    for (const Case& c : cases) {
        ProfileLevel r = SelectProfileLevel(c.profile, c.level, c.w, c.h, c.fps, c.progressive);
        EXPECT_EQ(c.wantProfile, r.profile) << c.w << "x" << c.h << "@" << c.fps;
        EXPECT_EQ(c.wantLevel, r.level) << c.w << "x" << c.h << "@" << c.fps;
    }
    // Degenerate inputs stay inside the table.
    ProfileLevel r = SelectProfileLevel(4, 8, -5, 0, -1.0, false);
    EXPECT_EQ(4, r.profile);
    EXPECT_EQ(8, r.level);
}

TEST(VideoEncFrameRate, DetectionThresholdsAndGuesses) {
    struct Case {
        int64_t avg;
        int height, pulldown;
        double wantRate;
        int wantCode;
    } cases[] = {
        {400000, 576, 0, 25.0, 3},   {333667, 480, 0, 29.97, 4},  {333333, 480, 0, 30.0, 5},
        {417083, 480, 0, 23.976, 1}, {200000, 720, 0, 50.0, 6},   {166667, 720, 0, 59.9999, 7},  // just below 60
        {166666, 720, 0, 60.0, 8},   {0, 480, 0, 0.0, 4},          // no rate: guessed from the height, R1 stays 0
        {0, 576, 0, 0.0, 3},         {2000000, 240, 0, 29.97, 4},  // 5 fps capture is coded at the guess
        {1000000, 600, 0, 25.0, 3},                                // 10 fps
        {100000, 600, 0, 100.0, 3},                                // beyond 65: code 0, then 25
        {333667, 480, 1, 29.97, 1},                                // pulldown from 29.97 is film
        {400000, 576, 1, 25.0, 2},
    };
    for (const Case& c : cases) {
        DetectedRate d = DetectFrameRate(c.avg, c.height, c.pulldown);
        EXPECT_NEAR(c.wantRate, d.inputRate, 0.01) << c.avg;
        EXPECT_EQ(c.wantCode, d.code) << c.avg;
    }
    EXPECT_DOUBLE_EQ(25.0, RateOfCode(0));
    EXPECT_DOUBLE_EQ(25.0, RateOfCode(9));
    EXPECT_NEAR(29.97, OutputRate(1, 1), 0.01);
    EXPECT_DOUBLE_EQ(30.0, OutputRate(3, 1));
    EXPECT_DOUBLE_EQ(50.0, OutputRate(6, 0));
    // A negative or absurd AvgTimePerFrame must not leave a useless rate.
    EXPECT_EQ(3, DetectFrameRate(-400000, 576, 0).code);
    EXPECT_EQ(3, DetectFrameRate(1, 576, 0).code);
}

TEST(VideoEncInput, AcceptedFormatsAndSizes) {
    struct Case {
        uint32_t subtype, compression;
        int32_t w, h;
        int chroma, want;
    } cases[] = {
        {kBGR4, 0, 320, 240, 1, 0},
        {kBGR3, 0, 320, -240, 1, 0},
        {kI420, kI420, 320, 240, 1, 0},
        {kIYUV, kIYUV, 320, 240, 1, 0},
        {kYV12, kYV12, 320, 240, 2, 2},  // 4:2:0 planar while 4:2:2 is chosen
        {kI420, kI420, 320, 240, 2, 2},
        {0, Fourcc('Y', 'U', 'Y', 'V'), 320, 240, 1, 0},  // alias of YUY2
        {0, Fourcc('Y', '4', '2', '2'), 320, 240, 2, 0},
        {0, kYV16, 320, 240, 2, 0},
        {0, 0, 320, 240, 1, 2},
        {0, Fourcc('M', 'J', 'P', 'G'), 320, 240, 1, 2},
        {kBGR4, 0, 4096, 240, 1, 1},
        {kBGR4, 0, 320, 0, 1, 1},
        {kBGR4, 0, 8192, -4096, 1, 1},
        {kBGR4, 0, 4097, 240, 1, 0},
    };
    for (const Case& c : cases) {
        InputDescription in{c.subtype, c.compression, c.w, c.h, 32, 0};
        EXPECT_EQ(c.want, CheckInput(in, c.chroma))
            << std::hex << c.subtype << " " << c.compression << std::dec << " " << c.w << "x" << c.h;
    }
    EXPECT_EQ(kI420, InputFourcc(kIYUV, 0));
    EXPECT_EQ(kI420, InputFourcc(kI420, 0));
    EXPECT_EQ(kUYVY, InputFourcc(0, Fourcc('U', 'Y', 'N', 'V')));
    EXPECT_EQ(0u, InputFourcc(0, Fourcc('M', 'J', 'P', 'G')));
}

TEST(VideoEncInput, StrideAndOrientation) {
    // A zero image size: lines of width x bytes per pixel, padded to 4.
    EXPECT_EQ(960, SourceStride({kBGR3, 0, 318 + 2, 240, 24, 0}));
    EXPECT_EQ(956, SourceStride({kBGR3, 0, 318, 240, 24, 0}));
    EXPECT_EQ(1280, SourceStride({kBGR4, 0, 320, -240, 32, 0}));
    EXPECT_EQ(640, SourceStride({kYUY2, kYUY2, 320, 240, 16, 320 * 240 * 2}));
    // A padded image size widens the lines; a short one cannot narrow them.
    EXPECT_EQ(1344, SourceStride({kBGR4, 0, 320, 240, 32, 1344 * 240}));
    EXPECT_EQ(1280, SourceStride({kBGR4, 0, 320, 240, 32, 100}));
    EXPECT_EQ(320, SourceStride({kI420, kI420, 320, 240, 12, 320 * 240 * 3 / 2}));

    EXPECT_TRUE(IsBottomUp(kBGR4, 240));
    EXPECT_FALSE(IsBottomUp(kBGR4, -240));  // top-down RGB stays as it is
    EXPECT_FALSE(IsBottomUp(kI420, 240));
    EXPECT_EQ(0, ColorSpaceOf(kI420));
    EXPECT_EQ(1, ColorSpaceOf(kUYVY));
    EXPECT_EQ(4, ColorSpaceOf(kBGR4));
    EXPECT_EQ(-1, ColorSpaceOf(0));
}

// Each accepted layout: the stride handed to the engine and the bytes a
// picture needs follow the plane layout, whatever biBitCount the type states.
TEST(VideoEncInput, StrideAndPictureBytesFollowThePlaneLayout) {
    const int32_t w = 320, h = 240;
    struct Case {
        const char* name;
        uint32_t subtype, compression;
        uint16_t bits;
        int32_t stride;
        int64_t bytes;
    } cases[] = {
        {"YV16", 0, kYV16, 16, w, 2LL * w * h},         {"YV12", kYV12, kYV12, 12, w, 3LL * w * h / 2},
        {"I420", kI420, kI420, 12, w, 3LL * w * h / 2}, {"YUY2", kYUY2, kYUY2, 16, 2 * w, 2LL * w * h},
        {"UYVY", kUYVY, kUYVY, 16, 2 * w, 2LL * w * h}, {"RGB24", kBGR3, 0, 24, 3 * w, 3LL * w * h},
        {"RGB32", kBGR4, 0, 32, 4 * w, 4LL * w * h},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const InputDescription in{c.subtype, c.compression, w, h, c.bits, 0};
        EXPECT_EQ(0, CheckInput(in, 2 - (c.bits == 12)));
        const uint32_t fourcc = InputFourcc(c.subtype, c.compression);
        const int32_t stride = SourceStride(in);
        EXPECT_EQ(c.stride, stride);
        EXPECT_EQ(c.bytes, FrameBytes(fourcc, stride, h));
        // A stated image size of exactly one picture changes nothing.
        const InputDescription sized{c.subtype, c.compression, w, h, c.bits, static_cast<uint32_t>(c.bytes)};
        EXPECT_EQ(c.stride, SourceStride(sized));
    }
}

// What the engine would refuse at its start is refused at connection.
TEST(VideoEncInput, SizesAndDepthsTheEngineCannotCodeAreRefused) {
    struct Case {
        uint32_t subtype;
        int32_t w, h;
        uint16_t bits;
        int want;
    } cases[] = {
        {kBGR4, 100000, 100000, 32, 1},
        {kBGR4, kMaxPictureSide, 240, 32, 0},
        {kBGR4, kMaxPictureSide + 1, 240, 32, 1},
        {kBGR4, 320, -(kMaxPictureSide + 2), 32, 1},
        {kYUY2, 320, INT32_MIN, 16, 1},
        {kBGR3, 320, 240, 0, 2},
        {kBGR3, 320, 240, 7, 2},
        {kBGR4, 320, 240, 0, 2},
        {kBGR4, 320, 240, 24, 2},  // too shallow for four bytes a pixel
        {kBGR3, 320, 240, 24, 0},
    };
    for (const Case& c : cases) {
        const InputDescription in{c.subtype, 0, c.w, c.h, c.bits, 0};
        EXPECT_EQ(c.want, CheckInput(in, 1)) << c.w << "x" << c.h << " " << c.bits << " bits";
    }
    // MPEG-1 streams hold sides of 12 bits.
    const InputDescription wide{kBGR4, 0, 4097, 240, 32, 0};
    for (int type : {0, 1, 13}) EXPECT_EQ(1, CheckInput(wide, 1, MaxPictureSide(type))) << type;
    for (int type : {2, 4, 25}) EXPECT_EQ(0, CheckInput(wide, 1, MaxPictureSide(type))) << type;
}

TEST(VideoEncAuto, AspectRatioAndVideoFormat) {
    struct Case {
        int type, format, rate, w, h, x, y, want;
    } cases[] = {
        {2, 1, 0, 720, 576, 4, 3, 2},    {2, 1, 0, 720, 576, 16, 9, 3},      {2, 1, 0, 640, 480, 1, 1, 1},
        {0, 1, 0, 352, 288, 1, 1, 1},    {0, 1, 0, 352, 288, 1963, 2000, 9}, {4, 1, 0, 352, 576, 16, 9, 2},
        {4, 1, 0, 720, 576, 16, 9, 3},   {4, 1, 0, 720, 576, 1, 1, 2},       {8, 1, 0, 720, 576, 1, 1, 3},
        {10, 1, 0, 720, 576, 4, 3, 3},   {11, 2, 0, 1280, 720, 16, 9, 3},    {11, 2, 0, 1280, 720, 4, 3, 1},
        {11, 2, 0, 640, 480, 16, 9, 2},  {13, 1, 0, 352, 288, 1, 1, 8},      {13, 2, 0, 352, 240, 1, 1, 12},
        {18, 1, 0, 1280, 720, 1, 1, 3},  {25, 1, 3, 720, 576, 16, 9, 2},     {25, 1, 5, 720, 480, 4, 3, 3},
        {25, 1, 0, 1440, 1080, 1, 1, 3}, {2, 1, 0, 720, 576, 0, 0, 1},
    };
    for (const Case& c : cases)
        EXPECT_EQ(c.want, AutoAspectRatio(c.type, c.format, c.rate, c.w, c.h, c.x, c.y))
            << c.type << " " << c.w << " " << c.x << ":" << c.y;

    EXPECT_EQ(1, AutoVideoFormat(3, 640, 480));
    EXPECT_EQ(2, AutoVideoFormat(4, 720, 576));
    EXPECT_EQ(2, AutoVideoFormat(5, 720, 480));
    EXPECT_EQ(1, AutoVideoFormat(5, 352, 288));
    EXPECT_EQ(5, AutoVideoFormat(5, 640, 480));
}

TEST(VideoEncStreaming, DropMatchesInputRateToOutput) {
    struct Case {
        double in, out;
        int frames, wantPassed;
    } cases[] = {
        {30.0, 25.0, 600, 500},                         // 5 of every 6
        {25.0, 25.0, 300, 300}, {0.0, 25.0, 300, 300},  // rate unknown: all pass
        {50.0, 25.0, 100, 50},  {25.0, 0.0, 10, 10},    // no division by a zero rate
    };
    for (const Case& c : cases) {
        int64_t in = 0, out = 0;
        for (int i = 0; i < c.frames; ++i) {
            ++in;
            if (!DropFrame(in, out, c.in, c.out)) ++out;
        }
        EXPECT_NEAR(c.wantPassed, out, 1) << c.in << "->" << c.out;
    }
}

TEST(VideoEncStreaming, PaddingNeedsHalfAFrameAndIsCapped) {
    const int64_t frame = 400000;
    struct Case {
        int64_t gap;
        double rate;
        int64_t inFrames;
        int want;
    } cases[] = {
        {2 * frame, 25.0, 5, 2},  // two frame times: two repeats reach the start
        {1, 25.0, 5, 0},          // a tick of jitter is no gap
        {frame / 2, 25.0, 5, 0}, {frame / 2 + 1, 25.0, 5, 1},
        {2 * frame, 25.0, 1, 0},  // never before the second input frame
        {-frame, 25.0, 5, 0},    {3600LL * 10000000, 25.0, 5, kMaxRepeatsPerFrame},
        {2 * frame, 0.0, 5, 0},  // no rate at all: nothing to step by
    };
    for (const Case& c : cases) {
        PadPlan p = PlanPadding(1000000000 + c.gap, 1000000000, c.rate, c.rate, c.inFrames);
        EXPECT_EQ(c.want, p.repeats) << c.gap;
    }
    // R1 unknown: the engine's rate gives the step.
    PadPlan p = PlanPadding(2 * frame, 0, 0.0, 25.0, 3);
    EXPECT_EQ(2, p.repeats);
    EXPECT_EQ(frame, p.step);
    EXPECT_EQ(2, SkippedFrames(2 * frame + 10, 0, 25.0));
    EXPECT_EQ(0, SkippedFrames(0, 10, 25.0));
    EXPECT_EQ(0, SkippedFrames(100, 0, 0.0));
}

// Whatever a type or a sample carries: no overflow, no out-of-range result.
TEST(VideoEncRobustness, ExtremeInputs) {
    const int32_t ints[] = {INT32_MIN, -4096, -1, 0, 1, 4095, 4096, 16384, INT32_MAX};
    const int64_t times[] = {INT64_MIN, -1, 0, 400000, INT64_MAX};
    const double rates[] = {-1.0, 0.0, 1e-300, 23.9, 25.0, 1e300};
    for (int32_t a : ints) {
        for (int32_t b : ints) {
            InputDescription in{kBGR4, 0, a, b, 32, static_cast<uint32_t>(b)};
            int r = CheckInput(in, 1);
            EXPECT_TRUE(r >= 0 && r <= 2);
            EXPECT_GE(SourceStride(in), 0);
            ProfileLevel pl = SelectProfileLevel(4, 8, a, b, 25.0, a > 0);
            EXPECT_TRUE(pl.profile >= 1 && pl.profile <= 7);
            EXPECT_GE(AutoAspectRatio(25, 0, 3, a, b, a, b), 1);
            EXPECT_GE(DefaultOutSampleSize(a, b, a, 25.0), 0);
        }
    }
    for (int64_t t : times) {
        for (double r : rates) {
            DetectedRate d = DetectFrameRate(t, 480, 0);
            EXPECT_TRUE(d.code >= 1 && d.code <= 8);
            for (int64_t u : times) {
                PadPlan p = PlanPadding(t, u, r, r, 5);
                EXPECT_TRUE(p.repeats >= 0 && p.repeats <= kMaxRepeatsPerFrame);
                EXPECT_GE(SkippedFrames(t, u, r), 0);
            }
            DropFrame(t < 0 ? 0 : t, 3, r, 25.0);
        }
    }
}

TEST(VideoEncRecord, UnalignedFieldsAndSampleSize) {
    Record r = {};
    r.SetInt(B_SVCD_OFFSETS, 0x11223344);
    r.SetInt(B_WIDTH, 720);
    r.SetD(B_RC_BITRATE, 6e6);
    EXPECT_EQ(0x11223344, r.Int(B_SVCD_OFFSETS));
    EXPECT_EQ(720, r.Int(B_WIDTH));
    EXPECT_DOUBLE_EQ(6e6, r.D(B_RC_BITRATE));
    r.SetW(W_QUANTISERS, 5);
    EXPECT_EQ(5, r.Int(92));
    EXPECT_EQ(720 * 576, DefaultOutSampleSize(720, 576, 2000000, 25.0));
    EXPECT_EQ(4 * 15000000 / 25, DefaultOutSampleSize(320, 240, 15000000, 25.0));
    EXPECT_EQ(320 * 240, DefaultOutSampleSize(320, 240, 15000000, 0.0));
}

}  // namespace
