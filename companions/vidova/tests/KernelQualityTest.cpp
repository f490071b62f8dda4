// SSE2 against plain kernels, and the rate and picture-structure decisions:
// scene cuts, the VBR minimum and activity masking.
#include "companions/vidova/Config.h"
#include "companions/vidova/Dct.h"
#include "companions/vidova/Picture.h"
#include "companions/vidova/Simd.h"
#include "companions/vidova/tests/TestUtil.h"

#include <cmath>
#include <cstring>
#include <random>
#include <string>
#include <vector>

namespace {

using vt::settings;

// Restores the SSE2 kernels however a test ends.
struct PlainKernels {
    explicit PlainKernels(bool plain = true) { vidova::setSimdEnabled(!plain); }
    ~PlainKernels() { vidova::setSimdEnabled(true); }
};

// A small moving clip: a static grid, a textured square that moves, noise,
// and from picture cutAt on a different scene (stripes, other brightness).
std::vector<uint8_t> clip(int w, int h, int frames, int cutAt = -1) {
    const size_t fs = vt::i420Size(w, h), cw = size_t((w + 1) / 2), ch = size_t((h + 1) / 2);
    std::vector<uint8_t> out(fs * size_t(frames));
    uint32_t seed = 12345;
    auto noise = [&] {
        seed = seed * 1103515245u + 12345u;
        return int((seed >> 16) & 7);
    };
    for (int f = 0; f < frames; f++) {
        uint8_t* y = out.data() + fs * size_t(f);
        const bool second = cutAt >= 0 && f >= cutAt;
        for (int r = 0; r < h; r++)
            for (int x = 0; x < w; x++) {
                int v;
                if (second) {
                    v = 40 + ((x + r + 2 * f) / 6 % 2) * 150;
                } else {
                    v = (x % 9 == 0 || r % 7 == 0) ? 30 : 200;
                    const int sx = 5 + 3 * f, sy = 10 + f;
                    if (x >= sx && x < sx + 24 && r >= sy && r < sy + 20) v = 60 + ((x - sx) * 7 + (r - sy) * 5) % 120;
                }
                y[size_t(r) * w + x] = uint8_t(v + noise());
            }
        uint8_t* u = y + size_t(w) * h;
        uint8_t* vv = u + cw * ch;
        for (size_t i = 0; i < cw * ch; i++) {
            u[i] = uint8_t(second ? 90 : 128 + int(i % 13));
            vv[i] = uint8_t(second ? 170 : 128 - int(i % 11));
        }
    }
    return out;
}

// A desktop: flat background and window, a static line pattern, a flat box
// that moves by whole and half pels, and a corner that changes each picture.
std::vector<uint8_t> desktopClip(int w, int h, int frames) {
    const size_t fs = vt::i420Size(w, h), cw = size_t((w + 1) / 2), ch = size_t((h + 1) / 2);
    std::vector<uint8_t> out(fs * size_t(frames));
    for (int f = 0; f < frames; f++) {
        uint8_t* y = out.data() + fs * size_t(f);
        for (int r = 0; r < h; r++)
            for (int x = 0; x < w; x++) {
                int v = 216;
                if (x >= 8 && x < 56 && r >= 8 && r < 48) v = (r % 6 == 0) ? 40 : 235;
                const int bx = 60 + (f * 3) / 2, by = 20 + f;
                if (x >= bx && x < bx + 16 && r >= by && r < by + 12) v = 90;
                if (x >= w - 16 && r >= h - 16) v = (x * 7 + r * 3 + f * 11) % 256;
                y[size_t(r) * w + x] = uint8_t(v);
            }
        uint8_t* u = y + size_t(w) * h;
        uint8_t* v = u + cw * ch;
        for (size_t r = 0; r < ch; r++)
            for (size_t x = 0; x < cw; x++) {
                const bool window = x >= 4 && x < 28 && r >= 4 && r < 24;
                u[r * cw + x] = uint8_t(window ? 150 : 128);
                v[r * cw + x] = uint8_t(window ? 110 : 128);
            }
    }
    return out;
}

std::vector<uint8_t> encode(const VidovaSettings& s, const std::vector<uint8_t>& yuv, int w, int h) {
    vt::Encoded e;
    vt::encodeI420(s, yuv, w, h, e);
    return e.stream();
}

TEST(VidovaKernels, DctPathsAgreeAndFollowTheDefinition) {
    if (!vidova::kHaveSse2) GTEST_SKIP() << "no SSE2 in this build";
    std::mt19937 rng(7);
    const double pi = 3.14159265358979323846;
    auto a = [](int k) { return k == 0 ? std::sqrt(0.125) : 0.5; };
    double worstForward = 0;
    int idctOff = 0;
    for (int trial = 0; trial < 2000; trial++) {
        alignas(16) int16_t in[64];
        const int range = trial % 2 ? 256 : 8;  // full-range pictures and small residuals
        for (int16_t& v : in) v = int16_t(int(rng() % uint32_t(2 * range)) - range);
        alignas(16) float fSimd[64], fPlain[64];
        vidova::forwardDct(in, fSimd);
        {
            PlainKernels plain;
            vidova::forwardDct(in, fPlain);
        }
        ASSERT_EQ(std::memcmp(fSimd, fPlain, sizeof fSimd), 0) << "trial " << trial;
        for (int k = 0; k < 8; k++)
            for (int l = 0; l < 8; l++) {
                double ref = 0;
                for (int y = 0; y < 8; y++)
                    for (int x = 0; x < 8; x++)
                        ref += in[y * 8 + x] * a(k) * std::cos((2 * y + 1) * k * pi / 16) * a(l) *
                               std::cos((2 * x + 1) * l * pi / 16);
                worstForward = std::max(worstForward, std::fabs(ref - fSimd[k * 8 + l]));
            }

        // Sparse coefficients, as dequantised blocks are.
        int32_t coef[64] = {};
        for (int n = 0; n < 1 + trial % 12; n++) coef[rng() % 64] = int32_t(rng() % 1200) - 600;
        alignas(16) int16_t sSimd[64], sPlain[64];
        vidova::inverseDct(coef, sSimd);
        {
            PlainKernels plain;
            vidova::inverseDct(coef, sPlain);
        }
        ASSERT_EQ(std::memcmp(sSimd, sPlain, sizeof sSimd), 0) << "trial " << trial;
        for (int y = 0; y < 8; y++)
            for (int x = 0; x < 8; x++) {
                double ref = 0;
                for (int k = 0; k < 8; k++)
                    for (int l = 0; l < 8; l++)
                        ref += coef[k * 8 + l] * a(k) * std::cos((2 * y + 1) * k * pi / 16) * a(l) *
                               std::cos((2 * x + 1) * l * pi / 16);
                const double r = std::max(-256.0, std::min(255.0, std::round(ref)));
                ASSERT_LE(std::fabs(r - sSimd[y * 8 + x]), 1.0) << "trial " << trial;
                if (r != sSimd[y * 8 + x]) idctOff++;
            }
    }
    EXPECT_LT(worstForward, 0.02);
    // Samples off by one from the exactly rounded result: ties and float noise only.
    EXPECT_LT(idctOff, 2000 * 64 / 1000);
}

// Flat blocks skip the transform: their DC must be what the transform gives.
TEST(VidovaKernels, FlatBlockDcIsTheTransformsDc) {
    for (bool simd : {true, false}) {
        if (simd && !vidova::kHaveSse2) continue;
        PlainKernels kernels(!simd);
        for (int value = -255; value <= 255; value++) {
            alignas(16) int16_t in[64];
            for (int16_t& v : in) v = int16_t(value);
            alignas(16) float f[64];
            vidova::forwardDct(in, f);
            ASSERT_EQ(f[0], vidova::flatBlockDc(value)) << value << (simd ? " SSE2" : " plain");
            for (int i = 1; i < 64; i++) ASSERT_EQ(f[i], 0.0f) << value << " coefficient " << i;
        }
    }
}

TEST(VidovaKernels, SimdAndPlainKernelsCodeIdenticalStreams) {
    if (!vidova::kHaveSse2) GTEST_SKIP() << "no SSE2 in this build";
    const int w = 100, h = 72, frames = 14;
    const auto camera = clip(w, h, frames, 8), desktop = desktopClip(w, h, frames);
    struct Case {
        const char* name;
        int type, mode, refDistance;
        uint32_t flags;
        bool intraVlcAltScan;
    } cases[] = {
        {"MPEG-2 VBR, I and P", 2, 0, 1, 0, false},
        {"MPEG-2 CBR with B pictures", 2, 1, 3, 0, false},
        {"MPEG-1", 0, 0, 1, 0, false},
        {"adaptive quantiser, scene cuts, table one, alternate scan", 2, 0, 2, vidova::kFlagAdaptiveQuant | 0x10, true},
        {"adaptive constant quantisers", 2, 2, 1, 0, false},
    };
    for (const Case& c : cases)
        for (const auto* yuv : {&camera, &desktop}) {
            SCOPED_TRACE(std::string(c.name) + (yuv == &camera ? ", camera" : ", desktop"));
            VidovaSettings s = settings(c.type, w, h, 3, 8e5, c.mode);
            s.w[VIDOVA_W_REF_DISTANCE] = uint32_t(c.refDistance);
            s.w[VIDOVA_W_GOP_LENGTH] = 12;
            s.w[VIDOVA_W_FLAGS] = c.flags;
            if (c.intraVlcAltScan) s.w[VIDOVA_W_INTRA_VLC_DEFAULT] = s.w[VIDOVA_W_SCAN_DEFAULT] = 1;
            const auto simd = encode(s, *yuv, w, h);
            std::vector<uint8_t> plain;
            {
                PlainKernels p;
                plain = encode(s, *yuv, w, h);
            }
            ASSERT_GT(simd.size(), 1000u);
            EXPECT_TRUE(simd == plain) << simd.size() << " against " << plain.size() << " bytes";
        }
}

// Screen grabs arrive as 32-bit (or 24-bit) BGR, top-down or bottom-up; the
// SSE2 conversion must give what the plain one gives, and known colours
// their BT.601 values everywhere, padding included.
TEST(VidovaKernels, RgbConversionPathsAgreeAndGiveStudioRangeColours) {
    std::mt19937 rng(11);
    struct Size {
        int w, h;
    } sizes[] = {{16, 16}, {18, 10}, {33, 17}, {200, 6}};
    for (const Size& z : sizes)
        for (int bpp : {3, 4})
            for (bool bottomUp : {false, true}) {
                SCOPED_TRACE(std::to_string(z.w) + "x" + std::to_string(z.h) + " bpp " + std::to_string(bpp) +
                             (bottomUp ? " bottom-up" : ""));
                const int stride = (z.w * bpp + 3) & ~3;
                std::vector<uint8_t> rgb(size_t(stride) * z.h);
                for (uint8_t& b : rgb) b = uint8_t(rng());
                const uint8_t* pic = bottomUp ? rgb.data() + size_t(stride) * (z.h - 1) : rgb.data();
                const uint32_t fourcc = bpp == 4 ? vidova::kFourccBGR4 : vidova::kFourccBGR3;
                vidova::Frame a, b;
                const int cw = (z.w + 15) / 16 * 16, chh = (z.h + 15) / 16 * 16;
                a.allocate(cw, chh, 1);
                b.allocate(cw, chh, 1);
                ASSERT_TRUE(vidova::convertPicture(pic, bottomUp ? -stride : stride, z.w, z.h, fourcc, z.w, z.h, 1, a));
                {
                    PlainKernels plain;
                    ASSERT_TRUE(
                        vidova::convertPicture(pic, bottomUp ? -stride : stride, z.w, z.h, fourcc, z.w, z.h, 1, b));
                }
                for (int i = 0; i < 3; i++) EXPECT_TRUE(a.p[i].pix == b.p[i].pix) << "plane " << i;
            }
    struct Colour {
        uint8_t b, g, r, y, u, v;
    } colours[] = {{0, 0, 255, 82, 90, 240},
                   {0, 255, 0, 144, 54, 34},
                   {255, 0, 0, 41, 240, 110},
                   {255, 255, 255, 235, 128, 128},
                   {0, 0, 0, 16, 128, 128}};
    for (const Colour& c : colours) {
        const int w = 35, h = 19;
        std::vector<uint8_t> rgb(size_t(w) * h * 4);
        for (size_t i = 0; i < rgb.size(); i += 4) {
            rgb[i] = c.b;
            rgb[i + 1] = c.g;
            rgb[i + 2] = c.r;
        }
        vidova::Frame f;
        f.allocate(48, 32, 1);
        ASSERT_TRUE(vidova::convertPicture(rgb.data(), w * 4, w, h, vidova::kFourccBGR4, w, h, 1, f));
        const uint8_t want[3] = {c.y, c.u, c.v};
        for (int i = 0; i < 3; i++)
            for (uint8_t p : f.p[i].pix) ASSERT_EQ(int(p), int(want[i])) << "plane " << i << " colour " << int(c.y);
    }
}

// Pictures per GOP, from the start codes of a stream.
std::vector<int> gopSizes(const std::vector<uint8_t>& s) {
    std::vector<int> sizes;
    for (size_t i = 0; i + 3 < s.size(); i++) {
        if (s[i] || s[i + 1] || s[i + 2] != 1) continue;
        if (s[i + 3] == 0xB8) sizes.push_back(0);
        if (s[i + 3] == 0x00 && !sizes.empty()) sizes.back()++;
    }
    return sizes;
}

TEST(VidovaQuality, SceneCutStartsANewGop) {
    const int w = 96, h = 64, frames = 20;
    const auto yuv = clip(w, h, frames, 9);
    struct Case {
        const char* name;
        uint32_t flags, closedGopInterval, refDistance;
        std::vector<int> gops;
    } cases[] = {
        {"detection off", 0, 0, 1, {20}},
        {"fast", 0x10, 0, 1, {9, 11}},
        {"regular", 0x800, 0, 1, {9, 11}},
        {"cut sooner than the closed-GOP interval", 0x20, 10, 1, {20}},
        {"interval met", 0x20, 9, 1, {9, 11}},
        // 7 and 8 wait for their anchor when 9 turns out to be a cut: they
        // close the old GOP forward-predicted.
        {"B pictures", 0x10, 0, 3, {9, 11}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        VidovaSettings s = settings(2, w, h, 3, 8e5);
        s.w[VIDOVA_W_GOP_LENGTH] = 30;
        s.w[VIDOVA_W_FLAGS] = c.flags;
        s.w[VIDOVA_W_CLOSED_GOP] = c.closedGopInterval;
        s.w[VIDOVA_W_REF_DISTANCE] = c.refDistance;
        const auto stream = encode(s, yuv, w, h);
        EXPECT_EQ(gopSizes(stream), c.gops);
        // Every GOP is closed: the bit after the time code.
        for (size_t i = 0; i + 7 < stream.size(); i++)
            if (!stream[i] && !stream[i + 1] && stream[i + 2] == 1 && stream[i + 3] == 0xB8) {
                EXPECT_TRUE(stream[i + 7] & 0x40);
            }
        if (vt::haveFfmpeg()) {
            std::string es = vt::tempPath("cut.m2v"), dec = vt::tempPath("cut.yuv");
            vt::writeFile(es, stream);
            EXPECT_EQ(vt::decode(es, dec), "");
            EXPECT_GT(vt::psnrY(vt::readFile(dec), yuv, w, h), 30.0);
        }
    }
}

TEST(VidovaQuality, VbrKeepsTheMinimumRate) {
    // A still picture: variable rate alone spends next to nothing on it.
    const int w = 96, h = 64, frames = 50;
    auto one = clip(w, h, 1);
    std::vector<uint8_t> still;
    for (int f = 0; f < frames; f++) still.insert(still.end(), one.begin(), one.end());
    const double rate = 1e6, secs = frames / 25.0;
    struct Case {
        const char* name;
        double settingsMin, recordMin;  // byte 829, and the per-picture rate record (0: none)
        double least, most;             // kbit/s range of the stream
    } cases[] = {
        {"no minimum", 0, 0, 0, 300},
        {"minimum in the settings", 6e5, 0, 560, 700},
        {"minimum from the rate record", 0, 6e5, 560, 700},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        VidovaSettings s = settings(2, w, h, 3, rate);
        vidova_set_double(&s, VIDOVA_B_MIN_BITRATE, c.settingsMin);
        vidova::MemoryOutput out;
        vidova_handle hd = VidovaCreate(nullptr, &s, 0, -1, 0, 0);
        ASSERT_NE(hd, nullptr);
        ASSERT_EQ(VidovaStart(hd, &out.bs, 0, nullptr), 0);
        const size_t fs = vt::i420Size(w, h);
        for (int f = 0; f < frames; f++) {
            VidovaTimes t{f * 400000LL, (f + 1) * 400000LL, 0};
            VidovaRates r{int32_t(rate * 1.5), int32_t(rate), int32_t(c.recordMin)};
            void* opts[2] = {&t, &r};
            uint32_t flags = VIDOVA_FRAME_TIMES | (c.recordMin > 0 ? VIDOVA_FRAME_RATES : 0);
            ASSERT_EQ(VidovaPutFrame(hd, still.data() + fs * size_t(f), w, w, h, VIDOVA_FOURCC('I', '4', '2', '0'),
                                     flags, opts),
                      0);
        }
        EXPECT_EQ(VidovaDone(hd, 0), 0);
        VidovaFree(hd);
        const double kbit = double(out.bytes()) * 8 / secs / 1000;
        EXPECT_GE(kbit, c.least);
        EXPECT_LE(kbit, c.most);
    }
}

// Activity masking: at the same constant quantisers, the adaptive mode codes
// a flat area finer and a busy one coarser than the strict mode. Decoded by
// ffmpeg, which also checks the quantiser changes of I, P and B macroblocks.
TEST(VidovaQuality, ActivityMaskingShiftsErrorFromFlatToBusyAreas) {
    if (!vt::haveFfmpeg()) GTEST_SKIP() << "ffmpeg/ffprobe not installed";
    const int w = 128, h = 64, frames = 8;
    const size_t fs = vt::i420Size(w, h);
    std::vector<uint8_t> yuv(fs * frames, 128);
    std::mt19937 rng(3);
    for (int f = 0; f < frames; f++)
        for (int r = 0; r < h; r++)
            for (int x = 0; x < w; x++)
                yuv[fs * size_t(f) + size_t(r) * w + x] =
                    uint8_t(x < w / 2 ? 60 + (x + r + f) / 3 : 40 + int(rng() % 170));  // gentle ramp | noise
    auto areaPsnr = [&](const std::vector<uint8_t>& dec, bool left) {
        double sse = 0;
        for (int f = 0; f < frames; f++)
            for (int r = 0; r < h; r++)
                for (int x = left ? 0 : w / 2; x < (left ? w / 2 : w); x++) {
                    const double d =
                        double(dec[fs * size_t(f) + size_t(r) * w + x]) - yuv[fs * size_t(f) + size_t(r) * w + x];
                    sse += d * d;
                }
        return 10 * std::log10(255.0 * 255.0 / (sse / (frames * h * w / 2.0)));
    };
    double flat[2], busy[2];
    for (int mode : {2, 3}) {
        VidovaSettings s = settings(2, w, h, 3, 4e6, mode);
        s.w[VIDOVA_W_REF_DISTANCE] = 3;
        s.w[VIDOVA_W_QUANTISERS] = (8u + 8u * 256u + 8u * 65536u) * 256u;
        std::string es = vt::tempPath("aq.m2v"), dec = vt::tempPath("aq.yuv");
        vt::writeFile(es, encode(s, yuv, w, h));
        ASSERT_EQ(vt::decode(es, dec), "");
        const auto d = vt::readFile(dec);
        ASSERT_EQ(d.size(), yuv.size());
        flat[mode - 2] = areaPsnr(d, true);
        busy[mode - 2] = areaPsnr(d, false);
    }
    EXPECT_GT(flat[0], flat[1] + 1.0);
    EXPECT_LT(busy[0], busy[1] - 1.0);
}

}  // namespace

// The input copy notes which macroblocks differ from the previous picture;
// P pictures skip on that note alone, so it must match a full comparison of
// the padded macroblocks, whatever the size, chroma format and kernels.
TEST(VidovaKernels, InputCopyFindsExactlyTheChangedMacroblocks) {
    std::mt19937 rng(5);
    struct Case {
        int w, h, chroma;
    } cases[] = {{64, 48, 1}, {72, 40, 1}, {50, 35, 1}, {64, 40, 1}, {48, 32, 2}, {38, 20, 2}, {32, 26, 2}};
    for (const Case& c : cases)
        for (int variant = 0; variant < 4; variant++) {
            const bool simd = variant & 1, inPlace = variant & 2;  // in place: the input overwrites the picture
            if (simd && !vidova::kHaveSse2) continue;
            SCOPED_TRACE(std::to_string(c.w) + "x" + std::to_string(c.h) + (c.chroma == 2 ? " 4:2:2" : " 4:2:0") +
                         (simd ? " SSE2" : " plain") + (inPlace ? " in place" : ""));
            PlainKernels kernels(!simd);
            const int cw = (c.w + 1) / 2, ch = c.chroma == 2 ? c.h : (c.h + 1) / 2;
            const uint32_t fourcc = c.chroma == 2 ? vidova::kFourccYV16 : vidova::kFourccI420;
            std::vector<uint8_t> pic(size_t(c.w) * c.h + 2 * size_t(cw) * ch);
            for (uint8_t& b : pic) b = uint8_t(rng() % 4);
            const int mbW = (c.w + 15) / 16, mbH = (c.h + 15) / 16;
            vidova::Frame before, after;
            before.allocate(mbW * 16, mbH * 16, c.chroma);
            after.allocate(mbW * 16, mbH * 16, c.chroma);
            ASSERT_TRUE(vidova::convertPicture(pic.data(), c.w, c.w, c.h, fourcc, c.w, c.h, c.chroma, before));
            for (int round = 0; round < 20; round++) {
                // A few samples change, the last row and column (copied into the padding) among them.
                for (int n = 0; n < round % 4; n++) {
                    size_t at = rng() % pic.size();
                    if (n == 1) at = size_t(c.w) * (c.h - 1) + rng() % size_t(c.w);
                    if (n == 2) at = size_t(c.w) * (rng() % size_t(c.h)) + size_t(c.w - 1);
                    pic[at] = uint8_t(pic[at] + 1);
                }
                vidova::ChangeMap map;
                map.previous = &before;
                if (inPlace) after = before;
                ASSERT_TRUE(vidova::convertPicture(pic.data(), c.w, c.w, c.h, fourcc, c.w, c.h, c.chroma,
                                                   inPlace ? before : after, &map));
                if (inPlace) std::swap(before, after);  // before: the old picture again, after: the new one
                ASSERT_TRUE(map.valid);
                ASSERT_EQ(map.changed.size(), size_t(mbW) * mbH);
                // The copy itself is the one made without a map, padding included.
                vidova::Frame plainCopy;
                plainCopy.allocate(mbW * 16, mbH * 16, c.chroma);
                ASSERT_TRUE(vidova::convertPicture(pic.data(), c.w, c.w, c.h, fourcc, c.w, c.h, c.chroma, plainCopy));
                for (int i = 0; i < 3; i++) ASSERT_TRUE(plainCopy.p[i].pix == after.p[i].pix) << "plane " << i;
                for (int my = 0; my < mbH; my++)
                    for (int mx = 0; mx < mbW; mx++) {
                        bool differs = false;
                        for (int i = 0; i < 3; i++) {
                            const int bw = i ? 8 : 16, bh = i ? after.p[i].height / mbH : 16;
                            for (int r = 0; r < bh; r++)
                                differs = differs || std::memcmp(after.p[i].row(my * bh + r) + mx * bw,
                                                                 before.p[i].row(my * bh + r) + mx * bw, size_t(bw));
                        }
                        ASSERT_EQ(map.changed[size_t(my) * mbW + mx] != 0, differs) << "macroblock " << mx << "," << my;
                    }
                std::swap(before, after);
            }
        }
    // Inputs converted on the way in leave the map invalid.
    vidova::Frame a, b;
    a.allocate(16, 16, 1);
    b.allocate(16, 16, 1);
    std::vector<uint8_t> rgb(16 * 16 * 4, 50);
    vidova::ChangeMap map;
    map.previous = &a;
    ASSERT_TRUE(vidova::convertPicture(rgb.data(), 64, 16, 16, vidova::kFourccBGR4, 16, 16, 1, b, &map));
    EXPECT_FALSE(map.valid);
}
