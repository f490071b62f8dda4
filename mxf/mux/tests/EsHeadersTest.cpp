// The header parsers of the MXF writer: golden MPEG-2 and AES3 headers, DV
// frames made by ffmpeg, and refusals that never read past the bytes given.
#include "mxf/mux/EsHeaders.h"
#include "mxf/mux/tests/TestSupport.h"

#include <gtest/gtest.h>

#include <cstring>
#include <memory>

namespace {

using namespace mexora::es;

// 1920x1080, aspect 3 (16:9), frame rate code 4, bit rate value 125000
// (50 Mbit/s), marker, vbv 612, not constrained.
std::vector<uint8_t> SequenceHeader(uint8_t aspect = 3, uint8_t marker = 1) {
    const uint32_t w = 1920, h = 1080, rateValue = 125000, vbv = 612;
    std::vector<uint8_t> b = {0, 0, 1, 0xB3};
    uint64_t bits = (uint64_t{w} << 52) | (uint64_t{h} << 40) | (uint64_t{aspect} << 36) | (uint64_t{4} << 32) |
                    (uint64_t{rateValue} << 14) | (uint64_t{marker} << 13) | (uint64_t{vbv} << 3);
    for (int i = 7; i >= 0; i--) b.push_back(static_cast<uint8_t>(bits >> (8 * i)));
    return b;
}

// A copy on the heap of exactly its size, so a read past it is caught.
std::unique_ptr<uint8_t[]> Exact(const std::vector<uint8_t>& v, size_t n) {
    std::unique_ptr<uint8_t[]> p(new uint8_t[n]);
    std::memcpy(p.get(), v.data(), n);
    return p;
}

TEST(EsHeaders, Mpeg2SequenceHeader) {
    const std::vector<uint8_t> b = SequenceHeader();
    auto exact = Exact(b, b.size());
    Mpeg2Sequence s;
    ASSERT_TRUE(s.Parse(exact.get(), b.size()));
    EXPECT_EQ(s.width, 1920u);
    EXPECT_EQ(s.height, 1080u);
    EXPECT_EQ(s.BitRate(), 50000000u);
    EXPECT_EQ(s.vbvBufferSize, 612u);
    EXPECT_EQ(s.FrameDuration(), 333667);
    EXPECT_EQ(s.FrameRateRational().numerator, 30000);
    EXPECT_EQ(s.Aspect().numerator, 16);
    struct Refusal {
        std::vector<uint8_t> bytes;
        size_t length;
        const char* why;
    };
    const Refusal refusals[] = {
        {SequenceHeader(0), 12, "aspect ratio 0"},  {SequenceHeader(15), 12, "aspect ratio 15"},
        {SequenceHeader(3, 0), 12, "marker bit 0"}, {SequenceHeader(), 11, "one byte short"},
        {SequenceHeader(), 10, "ten bytes"},
    };
    for (const Refusal& r : refusals) {
        auto p = Exact(r.bytes, r.length);  // a read past the end shows under ASan
        EXPECT_FALSE(s.Parse(p.get(), r.length)) << r.why;
        EXPECT_FALSE(s.valid) << r.why;
    }
}

TEST(EsHeaders, Mpeg2ExtensionsGopAndPicture) {
    struct Level {
        uint8_t byte;
        int profile, level;
    };
    const Level levels[] = {{0x82, 6, 4}, {0x8E, 7, 1}, {0x81, 0, 0}, {0x44, 2, 4},
                            {0x48, 2, 2}, {0x14, 5, 4}, {0x7A, 0, 1}};
    for (const Level& l : levels) {
        // id 1, profile_and_level, progressive 1, chroma 2 (4:2:2), no extensions.
        const std::vector<uint8_t> b = {
            0, 0, 1, 0xB5, static_cast<uint8_t>(0x10 | (l.byte >> 4)), static_cast<uint8_t>((l.byte << 4) | 0x0C),
            0, 1, 0, 0};
        Mpeg2SequenceExtension e;
        ASSERT_TRUE(e.Parse(b.data(), b.size())) << int{l.byte};
        EXPECT_EQ(e.profileAndLevel, l.byte);
        EXPECT_EQ(e.profile, l.profile) << int{l.byte};
        EXPECT_EQ(e.level, l.level) << int{l.byte};
        EXPECT_TRUE(e.progressive);
        EXPECT_EQ(e.chromaFormat, 2);
    }
    // GOP 01:02:03:04, closed; then with hours 25, refused only when strict.
    auto gop = [](uint32_t hours) {
        const uint32_t v = (0u << 31) | (hours << 26) | (2u << 20) | (1u << 19) | (3u << 13) | (4u << 7) | (1u << 6);
        return std::vector<uint8_t>{0,
                                    0,
                                    1,
                                    0xB8,
                                    static_cast<uint8_t>(v >> 24),
                                    static_cast<uint8_t>(v >> 16),
                                    static_cast<uint8_t>(v >> 8),
                                    static_cast<uint8_t>(v)};
    };
    Mpeg2Gop g;
    ASSERT_TRUE(g.Parse(gop(1).data(), 8, true));
    EXPECT_EQ(g.hours, 1);
    EXPECT_EQ(g.minutes, 2);
    EXPECT_EQ(g.seconds, 3);
    EXPECT_EQ(g.pictures, 4);
    EXPECT_TRUE(g.closed);
    EXPECT_TRUE(g.Parse(gop(25).data(), 8, false));
    EXPECT_FALSE(g.Parse(gop(25).data(), 8, true));
    for (uint8_t type = 0; type < 8; type++) {
        const uint32_t v = (5u << 22) | (uint32_t{type} << 19) | (0xFFFFu << 3);
        const std::vector<uint8_t> b = {0,
                                        0,
                                        1,
                                        0,
                                        static_cast<uint8_t>(v >> 24),
                                        static_cast<uint8_t>(v >> 16),
                                        static_cast<uint8_t>(v >> 8),
                                        static_cast<uint8_t>(v)};
        Mpeg2Picture pic;
        EXPECT_EQ(pic.Parse(b.data(), b.size()), type >= 1 && type <= 4) << int{type};
        if (pic.valid) {
            EXPECT_EQ(pic.temporalReference, 5);
        }
    }
}

TEST(EsHeaders, Aes3Header) {
    struct Case {
        uint8_t kind, b5;
        bool ok;
        int channels, bits;
    };
    const Case cases[] = {{12, 0x0F, true, 8, 20},
                          {11, 0x10, true, 1, 24},
                          {12, 0x00, true, 1, 16},
                          {12, 0x18, false, 0, 0},
                          {10, 0x00, false, 0, 0}};
    for (const Case& c : cases) {
        const uint8_t h[8] = {'A', 'E', 'S', '3', c.kind, c.b5, 0, 0};
        Aes3Header a;
        EXPECT_EQ(a.Parse(h, 8), c.ok) << int{c.b5};
        EXPECT_EQ(a.channels, c.channels);
        EXPECT_EQ(a.bits, c.bits);
    }
    const uint8_t h[8] = {'A', 'E', 'S', '3', 12, 0, 0, 0};
    Aes3Header a;
    EXPECT_FALSE(a.Parse(h, 7));
}

TEST(EsHeaders, StartCodesAreFoundByTheScanner) {
    std::vector<uint8_t> b = SequenceHeader();
    const std::vector<uint8_t> gop = {0, 0, 1, 0xB8, 0, 8, 0, 0x40, 0, 0};
    b.insert(b.end(), gop.begin(), gop.end());
    Mpeg2StartCodes scanner;
    scanner.SetBuffer(b.data(), static_cast<uint32_t>(b.size()));
    const uint8_t* first = scanner.FindNextHeader();
    ASSERT_EQ(first, b.data());
    const uint8_t* second = scanner.FindNextHeader();
    ASSERT_EQ(second, b.data() + 12);
    EXPECT_EQ(second[3], 0xB8);
}

struct DvCase {
    const char* args;
    bool audio;  // ffmpeg's DV muxer carries no sound in 720p
    int dvType;
    bool system50;
    uint32_t width, height, frameSize;
    bool wide;
};

TEST(EsHeaders, DvFramesMadeByFfmpeg) {
    const std::string dir = mexora_test::TempDir();
    const DvCase cases[] = {
        {"-s 720x576 -r 25 -pix_fmt yuv420p", true, 1, true, 720, 576, 144000, false},
        {"-s 720x576 -r 25 -pix_fmt yuv420p -aspect 16:9", true, 1, true, 720, 576, 144000, true},
        // 4:1:1 at 525 lines is written as DVCPRO25 (application type 1).
        {"-s 720x480 -r 30000/1001 -pix_fmt yuv411p", true, 2, false, 720, 480, 120000, false},
        {"-s 720x576 -r 25 -pix_fmt yuv422p", true, 3, true, 720, 576, 288000, false},
        {"-s 1440x1080 -r 25 -pix_fmt yuv422p", true, 5, true, 1920, 1080, 576000, true},
        {"-s 960x720 -r 50 -pix_fmt yuv422p", false, 4, true, 1280, 720, 288000, true},
    };
    int n = 0;
    for (const DvCase& c : cases) {
        const std::string path = dir + "/f" + std::to_string(n++) + ".dv";
        const std::string sound = c.audio ? "-f lavfi -i sine=r=48000 -ac 2 -c:a pcm_s16le " : "";
        ASSERT_TRUE(mexora_test::Ffmpeg("-f lavfi -i testsrc " + sound + "-t 0.08 " + c.args +
                                        " -timecode 01:02:03:04 -c:v dvvideo -f dv '" + path + "'"))
            << c.args;
        const std::vector<uint8_t> frame = mexora_test::ReadFile(path);
        DvFrame dv;
        ASSERT_TRUE(dv.Parse(frame.data(), frame.size())) << c.args;
        EXPECT_EQ(dv.dvType, c.dvType) << c.args;
        EXPECT_EQ(dv.system50, c.system50) << c.args;
        EXPECT_EQ(dv.width, c.width) << c.args;
        EXPECT_EQ(dv.height, c.height) << c.args;
        EXPECT_EQ(dv.frameSize, c.frameSize) << c.args;
        EXPECT_EQ(frame.size() % dv.frameSize, 0u) << c.args;
        EXPECT_EQ(dv.wide, c.wide) << c.args;
        if (c.audio) {
            EXPECT_EQ(dv.audioRate, 48000u) << c.args;
        }
        if (c.system50 && c.dvType == 1) {
            EXPECT_TRUE(dv.hasTimecode);
            EXPECT_EQ(dv.timecodeFrames, ((1 * 60 + 2) * 60 + 3) * 25 + 4);
        }
        // A frame cut short is refused without reading past it.
        auto cut = Exact(frame, dv.frameSize - 1);
        EXPECT_FALSE(dv.Parse(cut.get(), dv.frameSize - 1)) << c.args;
    }
}

}  // namespace
