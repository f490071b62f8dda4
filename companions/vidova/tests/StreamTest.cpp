// Coded streams checked against ffmpeg/ffprobe as an independent decoder.
#include "companions/vidova/tests/TestUtil.h"

#include <cstring>
#include <string>

namespace {

using vt::settings;

#define REQUIRE_FFMPEG() \
    if (!vt::haveFfmpeg()) GTEST_SKIP() << "ffmpeg/ffprobe not installed"

std::string probe(const std::string& file) {
    return vt::shell(
        "ffprobe -v error -select_streams v:0 -show_entries stream=width,height,r_frame_rate,profile,level "
        "-of default=nw=1 '" +
        file + "' 2>&1");
}

struct Clip {
    std::string name;
    VidovaSettings s;
    int w, h, fps;
    double secs;
    bool screen;
    double minPsnr;
    const char* probe;  // expected ffprobe lines
};

// Every stream must decode without a single message in ffmpeg's strictest
// mode, report the configured geometry, rate, profile and level, and decode to
// what the engine meant (PSNR against the source).
TEST(VidovaStream, DecodesCleanlyWithTheConfiguredParameters) {
    REQUIRE_FFMPEG();
    auto mpeg1 = settings(0, 352, 240, 4, 1.15e6);
    auto interlaced = settings(2, 352, 288, 3, 2e6);
    interlaced.w[VIDOVA_W_PROGRESSIVE_SEQ] = 0;
    interlaced.w[VIDOVA_W_PROGRESSIVE_FRAME] = 0;
    interlaced.w[VIDOVA_W_TOP_FIELD_FIRST] = 1;
    auto odd = settings(2, 100, 75, 5, 5e5, 1);
    auto p422 = settings(20, 176, 120, 3, 8e6, 1);
    p422.w[VIDOVA_W_GOP_LENGTH] = 5;
    auto wide = settings(2, 200, 64, 8, 2e6);
    wide.w[VIDOVA_W_PROFILE] = 7;
    wide.w[VIDOVA_W_LEVEL] = 15;
    auto cq = settings(2, 160, 128, 1, 3e6, 3);
    cq.w[VIDOVA_W_QUANTISERS] = (3u + 5u * 256u) * 256u;
    auto longGop = settings(2, 320, 240, 3, 8e5, 1);
    longGop.w[VIDOVA_W_GOP_LENGTH] = 60;
    longGop.w[VIDOVA_W_SEQ_HEADER_EVERY_GOP] = 0;
    auto film = settings(4, 352, 240, 1, 1.2e6);
    film.w[VIDOVA_W_PULLDOWN] = 2;
    auto bframes = settings(2, 352, 288, 3, 1.5e6);
    bframes.w[VIDOVA_W_REF_DISTANCE] = 3;
    auto mpeg1b = settings(0, 176, 144, 3, 6e5, 1);
    mpeg1b.w[VIDOVA_W_REF_DISTANCE] = 2;
    mpeg1b.w[VIDOVA_W_GOP_LENGTH] = 7;
    auto p422b = settings(20, 176, 120, 3, 8e6, 3);
    p422b.w[VIDOVA_W_REF_DISTANCE] = 4;
    p422b.w[VIDOVA_W_GOP_LENGTH] = 10;
    p422b.w[VIDOVA_W_QUANTISERS] = (2u + 3u * 256u + 5u * 65536u) * 256u;
    const Clip clips[] = {
        {"MPEG-2 with 2 B pictures", bframes, 352, 288, 25, 2, false, 34, "width=352\nprofile=Main\nlevel=8"},
        {"MPEG-1 with B pictures, uneven GOP", mpeg1b, 176, 144, 25, 1.2, false, 30, "width=176\nheight=144"},
        {"4:2:2 with 3 B pictures", p422b, 176, 120, 25, 1, false, 34, "profile=4:2:2"},
        {"mpeg2", settings(2, 352, 288, 3, 1.5e6), 352, 288, 25, 2, false, 34,
         "width=352\nheight=288\nr_frame_rate=25/1\nprofile=Main\nlevel=8"},
        {"mpeg1", mpeg1, 352, 240, 30, 2, false, 30, "width=352\nheight=240\nr_frame_rate=30000/1001"},
        {"interlaced", interlaced, 352, 288, 25, 1, false, 34, "width=352\nheight=288\nr_frame_rate=25/1"},
        {"odd size", odd, 100, 75, 30, 1, false, 28, "width=100\nheight=75\nr_frame_rate=30/1"},
        {"4:2:2 D10", p422, 176, 120, 25, 1, false, 34, "width=176\nheight=120\nprofile=4:2:2\nlevel=5"},
        {"4:2:0 in the 4:2:2 profile", wide, 200, 64, 60, 1, false, 30, "width=200\nheight=64\nr_frame_rate=60/1"},
        {"constant quantiser", cq, 160, 128, 24, 1, false, 34, "r_frame_rate=24000/1001"},
        {"screen, long GOP", longGop, 320, 240, 25, 3, true, 30, "width=320\nheight=240"},
        {"film with 3:2 pulldown", film, 352, 240, 24, 1, false, 34, "width=352\nheight=240\nlevel=8"},
        {"VideoCD", settings(1, 352, 288, 3, 1.15e6, 1), 352, 288, 25, 1, false, 28, "width=352\nr_frame_rate=25/1"},
    };
    for (const Clip& c : clips) {
        SCOPED_TRACE(c.name);
        std::string src = vt::tempPath("src.yuv"), es = vt::tempPath("clip.m2v"), dec = vt::tempPath("dec.yuv");
        std::string graph =
            c.screen ? vt::screenGraph(c.w, c.h, c.fps)
                     : "testsrc2=s=" + std::to_string(c.w) + "x" + std::to_string(c.h) + ":r=" + std::to_string(c.fps);
        ASSERT_EQ(vt::lavfi(graph, c.w, c.h, c.fps, c.secs, src), "");
        auto yuv = vt::readFile(src);
        vt::Encoded e;
        VidovaSettings s = c.s;
        vidova_set_int(&s, VIDOVA_B_CALC_PSNR, 1);
        vt::encodeI420(s, yuv, c.w, c.h, e, c.fps);
        vt::writeFile(es, e.stream());
        EXPECT_EQ(vt::decode(es, dec), "");
        auto out = vt::readFile(dec);
        EXPECT_EQ(out.size(), yuv.size());
        double psnr = vt::psnrY(yuv, out, c.w, c.h);
        EXPECT_GT(psnr, c.minPsnr);
        // The engine's references are what a decoder reconstructs.
        EXPECT_NEAR(e.out.lastPsnr, psnr, 0.1);
        std::string p = probe(es);
        for (const char* line = c.probe; *line;) {
            const char* nl = std::strchr(line, '\n');
            std::string want = nl ? std::string(line, nl) : std::string(line);
            EXPECT_NE(p.find(want), std::string::npos) << want << " in\n" << p;
            line = nl ? nl + 1 : line + want.size();
        }
    }
}

// intra_vlc_format and alternate_scan of each picture coding extension, by
// picture_coding_type (1 I, 2 P, 3 B) in coded order.
struct CodingFlags {
    int type, intraVlc, alternateScan;
};
std::vector<CodingFlags> codingFlags(const std::vector<uint8_t>& s) {
    std::vector<CodingFlags> flags;
    int type = 0;
    for (size_t i = 0; i + 8 < s.size(); i++) {
        if (s[i] || s[i + 1] || s[i + 2] != 1) continue;
        if (s[i + 3] == 0x00) type = (s[i + 5] >> 3) & 7;
        if (s[i + 3] == 0xB5 && (s[i + 4] >> 4) == 8) flags.push_back({type, (s[i + 7] >> 3) & 1, (s[i + 7] >> 2) & 1});
    }
    return flags;
}

// Intra table one and the alternate scan, per picture type or through the
// default words: the stream decodes cleanly, each picture's extension says
// how its blocks were coded, the engine's reconstruction is the decoder's, and
// quality stays with the plain zig-zag/table zero stream. At constant
// quantisers only the entropy coding changes, so the decoded pictures are the
// same to the byte. MPEG-1 has neither and ignores the words.
TEST(VidovaStream, IntraTableAndScanFollowTheSettings) {
    REQUIRE_FFMPEG();
    const int w = 352, h = 288, fps = 25;
    std::string src = vt::tempPath("scan.yuv"), es = vt::tempPath("scan.m2v"), dec = vt::tempPath("scan_dec.yuv");
    ASSERT_EQ(vt::lavfi("testsrc2=s=352x288:r=25", w, h, fps, 1.2, src), "");
    const auto yuv = vt::readFile(src);
    struct Case {
        const char* name;
        uint32_t vlc[3], alt[3];          // words I, P, B
        uint32_t vlcDefault, altDefault;  // words 120 and 123
    } cases[] = {
        {"table 0, zig-zag", {0, 0, 0}, {0, 0, 0}, 0, 0},
        {"table 1, zig-zag", {1, 1, 1}, {0, 0, 0}, 0, 0},
        {"table 0, alternate", {0, 0, 0}, {1, 1, 1}, 0, 0},
        {"table 1, alternate", {1, 1, 1}, {1, 1, 1}, 0, 0},
        {"by type: table 1 in I, alternate in P and B", {1, 0, 0}, {0, 2, 1}, 0, 0},
        {"by type: table 1 in B, alternate in I", {0, 0, 1}, {1, 0, 0}, 0, 0},
        {"default words only", {0, 0, 0}, {0, 0, 0}, 1, 1},
    };
    for (int mode : {0, 3}) {
        double basePsnr = 0;
        std::vector<uint8_t> baseDecoded;
        for (const Case& c : cases) {
            SCOPED_TRACE(std::string(c.name) + (mode ? ", constant quantisers" : ", VBR"));
            auto s = settings(2, w, h, 3, 1.5e6, mode);
            s.w[VIDOVA_W_REF_DISTANCE] = 3;
            s.w[VIDOVA_W_QUANTISERS] = (3u + 4u * 256u + 6u * 65536u) * 256u;
            s.w[VIDOVA_W_INTRA_VLC_DEFAULT] = c.vlcDefault;
            s.w[VIDOVA_W_SCAN_DEFAULT] = c.altDefault;
            for (int t = 0; t < 3; t++) {
                s.w[VIDOVA_W_INTRA_VLC_I + t] = c.vlc[t];
                s.w[VIDOVA_W_ALT_SCAN_I + t] = c.alt[t];
            }
            vidova_set_int(&s, VIDOVA_B_CALC_PSNR, 1);
            vt::Encoded e;
            vt::encodeI420(s, yuv, w, h, e, fps);
            const auto stream = e.stream();
            int seen[4] = {0, 0, 0, 0};
            for (const CodingFlags& f : codingFlags(stream)) {
                ASSERT_TRUE(f.type >= 1 && f.type <= 3);
                seen[f.type]++;
                EXPECT_EQ(f.intraVlc, c.vlc[f.type - 1] || c.vlcDefault ? 1 : 0) << "type " << f.type;
                EXPECT_EQ(f.alternateScan, c.alt[f.type - 1] || c.altDefault ? 1 : 0) << "type " << f.type;
            }
            EXPECT_TRUE(seen[1] && seen[2] && seen[3]) << seen[1] << " " << seen[2] << " " << seen[3];
            vt::writeFile(es, stream);
            EXPECT_EQ(vt::decode(es, dec), "");
            auto out = vt::readFile(dec);
            ASSERT_EQ(out.size(), yuv.size());
            const double psnr = vt::psnrY(yuv, out, w, h);
            EXPECT_NEAR(e.out.lastPsnr, psnr, 0.1);
            if (baseDecoded.empty()) {
                basePsnr = psnr;
                baseDecoded = out;
            }
            EXPECT_NEAR(psnr, basePsnr, 0.5);
            if (mode == 3) {
                EXPECT_TRUE(out == baseDecoded);
            }
        }
    }
    // MPEG-1: the same stream whatever the words say.
    auto plain = settings(0, w, h, 3, 1.15e6);
    plain.w[VIDOVA_W_REF_DISTANCE] = 2;
    auto asked = plain;
    for (int t = 0; t < 3; t++) asked.w[VIDOVA_W_INTRA_VLC_I + t] = asked.w[VIDOVA_W_ALT_SCAN_I + t] = 1;
    asked.w[VIDOVA_W_INTRA_VLC_DEFAULT] = asked.w[VIDOVA_W_SCAN_DEFAULT] = 1;
    vt::Encoded a, b;
    vt::encodeI420(plain, yuv, w, h, a, fps);
    vt::encodeI420(asked, yuv, w, h, b, fps);
    EXPECT_TRUE(a.stream() == b.stream());
    EXPECT_TRUE(codingFlags(b.stream()).empty());
}

// Over ten seconds the stream's size matches the bitrate within 5%, on
// camera-like and on screen content, in constant and in variable mode.
TEST(VidovaStream, AverageBitrateMatchesTheTarget) {
    REQUIRE_FFMPEG();
    struct Case {
        const char* name;
        bool screen;
        int mode;
        double rate;
    } cases[] = {{"testsrc2 VBR", false, 0, 1.2e6}, {"testsrc2 CBR", false, 1, 1.2e6}, {"screen CBR", true, 1, 8e5}};
    const int w = 320, h = 240, fps = 25;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::string src = vt::tempPath("rate.yuv"), es = vt::tempPath("rate.m2v"), dec = vt::tempPath("rate_dec.yuv");
        std::string graph = c.screen ? vt::screenGraph(w, h, fps)
                                     : "testsrc2=s=" + std::to_string(w) + "x" + std::to_string(h) + ":r=25";
        ASSERT_EQ(vt::lavfi(graph, w, h, fps, 10, src), "");
        auto yuv = vt::readFile(src);
        vt::Encoded e;
        vt::encodeI420(settings(2, w, h, 3, c.rate, c.mode), yuv, w, h, e, fps);
        double kbit = double(e.out.bytes()) * 8 / 10.0;
        EXPECT_NEAR(kbit / c.rate, 1.0, 0.05) << kbit;
        vt::writeFile(es, e.stream());
        EXPECT_EQ(vt::decode(es, dec), "");
    }
}

// Every accepted input layout gives the same picture: a colour pattern is
// fed in each layout and compared with the decoded result.
TEST(VidovaStream, InputLayoutsConvertAlike) {
    REQUIRE_FFMPEG();
    const int w = 48, h = 32;
    // Reference in I420 with distinct Y, U and V ramps.
    std::vector<uint8_t> Y(w * h), U((w / 2) * (h / 2)), V((w / 2) * (h / 2));
    for (int y = 0; y < h; y++)
        for (int x = 0; x < w; x++) Y[y * w + x] = uint8_t(60 + x * 2 + y);
    for (int y = 0; y < h / 2; y++)
        for (int x = 0; x < w / 2; x++) {
            U[y * (w / 2) + x] = uint8_t(100 + x * 2);
            V[y * (w / 2) + x] = uint8_t(150 - y * 3);
        }
    auto rgbOf = [&](int x, int y, int c) {  // BT.601 limited range inverse
        double yy = 1.164 * (Y[y * w + x] - 16), u = U[(y / 2) * (w / 2) + x / 2] - 128.0,
               v = V[(y / 2) * (w / 2) + x / 2] - 128.0;
        double r = yy + 1.596 * v, g = yy - 0.392 * u - 0.813 * v, b = yy + 2.017 * u;
        double val = c == 0 ? b : c == 1 ? g : r;
        return uint8_t(std::lround(std::min(255.0, std::max(0.0, val))));
    };
    struct Layout {
        const char* fourcc;
        std::vector<uint8_t> data;
        int stride;
        int offset;  // of the first line
    };
    std::vector<Layout> layouts;
    {
        Layout l{"I420", {}, w, 0};
        l.data = Y;
        l.data.insert(l.data.end(), U.begin(), U.end());
        l.data.insert(l.data.end(), V.begin(), V.end());
        layouts.push_back(l);
        Layout l2{"YV12", Y, w, 0};
        l2.data.insert(l2.data.end(), V.begin(), V.end());
        l2.data.insert(l2.data.end(), U.begin(), U.end());
        layouts.push_back(l2);
        Layout l3{"YV16", Y, w, 0};
        for (auto* plane : {&V, &U})
            for (int y = 0; y < h; y++)
                l3.data.insert(l3.data.end(), plane->begin() + (y / 2) * (w / 2),
                               plane->begin() + (y / 2 + 1) * (w / 2));
        layouts.push_back(l3);
    }
    for (const char* packed : {"YUY2", "UYVY"}) {
        Layout l{packed, {}, w * 2, 0};
        bool uyvy = packed[0] == 'U';
        for (int y = 0; y < h; y++)
            for (int x = 0; x < w; x += 2) {
                uint8_t u = U[(y / 2) * (w / 2) + x / 2], v = V[(y / 2) * (w / 2) + x / 2];
                uint8_t q[4] = {Y[y * w + x], u, Y[y * w + x + 1], v};
                if (uyvy) {
                    q[0] = u;
                    q[1] = Y[y * w + x];
                    q[2] = v;
                    q[3] = Y[y * w + x + 1];
                }
                l.data.insert(l.data.end(), q, q + 4);
            }
        layouts.push_back(l);
    }
    for (int bpp : {3, 4}) {
        // Bottom-up: the last line of the picture comes first in memory.
        Layout l{bpp == 3 ? "BGR3" : "BGR4", std::vector<uint8_t>(size_t(w) * h * bpp, 0), -w * bpp, (h - 1) * w * bpp};
        for (int y = 0; y < h; y++)
            for (int x = 0; x < w; x++)
                for (int c = 0; c < 3; c++) l.data[size_t(h - 1 - y) * w * bpp + x * bpp + c] = rgbOf(x, y, c);
        layouts.push_back(l);
    }
    std::vector<uint8_t> ref = Y;
    ref.insert(ref.end(), U.begin(), U.end());
    ref.insert(ref.end(), V.begin(), V.end());
    for (const Layout& l : layouts) {
        SCOPED_TRACE(l.fourcc);
        VidovaSettings s = settings(2, w, h, 3, 1e6, 3);
        s.w[VIDOVA_W_QUANTISERS] = (1u + 1u * 256u) * 256u;
        vidova::MemoryOutput out;
        vidova_handle hd = VidovaCreate(nullptr, &s, 0, -1, 0, 0);
        ASSERT_EQ(VidovaStart(hd, &out.bs, 0, nullptr), 0);
        uint32_t fourcc = VIDOVA_FOURCC(l.fourcc[0], l.fourcc[1], l.fourcc[2], l.fourcc[3]);
        ASSERT_EQ(VidovaPutFrame(hd, l.data.data() + l.offset, l.stride, w, h, fourcc, 0, nullptr), 0);
        VidovaDone(hd, 0);
        VidovaFree(hd);
        std::string es = vt::tempPath("layout.m2v"), dec = vt::tempPath("layout.yuv");
        std::vector<uint8_t> stream;
        for (const auto& u : out.units) stream.insert(stream.end(), u.begin(), u.end());
        vt::writeFile(es, stream);
        ASSERT_EQ(vt::decode(es, dec), "");
        auto got = vt::readFile(dec);
        ASSERT_EQ(got.size(), ref.size());
        const bool rgb = l.fourcc[0] == 'B';
        double tolerance = rgb ? 6 : 3;  // RGB goes through a colour-space round trip
        double worstY = 0, worstU = 0, worstV = 0;
        for (int i = 0; i < w * h; i++) worstY = std::max(worstY, std::fabs(double(got[i]) - ref[i]));
        for (int i = 0; i < w * h / 4; i++) {
            worstU = std::max(worstU, std::fabs(double(got[w * h + i]) - ref[w * h + i]));
            worstV = std::max(worstV, std::fabs(double(got[w * h * 5 / 4 + i]) - ref[w * h * 5 / 4 + i]));
        }
        EXPECT_LE(worstY, tolerance);
        EXPECT_LE(worstU, tolerance);
        EXPECT_LE(worstV, tolerance);
    }
}

// A repeated picture decodes as an exact copy of the previous one.
TEST(VidovaStream, RepeatedPictureIsACopy) {
    REQUIRE_FFMPEG();
    const int w = 96, h = 64;
    std::string src = vt::tempPath("rep.yuv"), es = vt::tempPath("rep.m2v"), dec = vt::tempPath("rep_dec.yuv");
    ASSERT_EQ(vt::lavfi("testsrc2=s=96x64:r=25", w, h, 25, 0.2, src), "");
    auto yuv = vt::readFile(src);
    VidovaSettings s = settings(2, w, h, 3, 1e6);
    vidova::MemoryOutput out;
    vidova_handle hd = VidovaCreate(nullptr, &s, 0, -1, 0, 0);
    ASSERT_EQ(VidovaStart(hd, &out.bs, 0, nullptr), 0);
    const size_t fs = vt::i420Size(w, h);
    uint32_t i420 = VIDOVA_FOURCC('I', '4', '2', '0');
    ASSERT_EQ(VidovaPutFrame(hd, yuv.data(), w, w, h, i420, 0, nullptr), 0);
    ASSERT_EQ(VidovaPutFrame(hd, yuv.data() + fs, w, w, h, i420, 0, nullptr), 0);
    VidovaTimes t{800000, 1200000, 1};
    void* opts[1] = {&t};
    ASSERT_EQ(VidovaPutFrame(hd, nullptr, w, w, h, i420, 0x10000100, opts), 0);
    VidovaDone(hd, 1);
    VidovaFree(hd);
    ASSERT_EQ(out.units.size(), 3u);
    std::vector<uint8_t> stream;
    for (const auto& u : out.units) stream.insert(stream.end(), u.begin(), u.end());
    vt::writeFile(es, stream);
    ASSERT_EQ(vt::decode(es, dec), "");
    auto got = vt::readFile(dec);
    ASSERT_EQ(got.size(), 3 * fs);
    EXPECT_TRUE(std::equal(got.begin() + fs, got.begin() + 2 * fs, got.begin() + 2 * fs));
}

// The command-line driver encodes a raw file into a decodable stream.
TEST(VidovaStream, DriverEncodesARawFile) {
    REQUIRE_FFMPEG();
    std::string src = vt::tempPath("drv.yuv"), es = vt::tempPath("drv.m1v"), dec = vt::tempPath("drv_dec.yuv");
    ASSERT_EQ(vt::lavfi("testsrc2=s=160x120:r=25", 160, 120, 25, 1, src), "");
    int rc = 0;
    vt::shell(std::string(ENCODE_VIDEO_EXE) + " --size 160x120 --fps 25 --bitrate 600 --gop 10 --mpeg1 '" + src +
                  "' '" + es + "' 2>&1",
              &rc);
    EXPECT_EQ(rc, 0);
    EXPECT_EQ(vt::decode(es, dec), "");
    EXPECT_EQ(vt::readFile(dec).size(), vt::readFile(src).size());
    vt::shell(std::string(ENCODE_VIDEO_EXE) + " --size 160x120 '" + src + "' '" + es + "' 2>&1", &rc);
    EXPECT_NE(rc, 0);  // missing rate and bitrate
}

}  // namespace
