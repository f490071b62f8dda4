// Engine interface: tables, settings record, output notices and lifecycle.
#include "companions/vidova/Tables.h"
#include "companions/vidova/tests/TestUtil.h"

#include <cmath>
#include <cstdarg>
#include <cstring>
#include <set>
#include <string>

namespace {

using vt::settings;

// ---------------------------------------------------------------- code tables

bool prefixFree(std::vector<std::string> codes) {
    std::sort(codes.begin(), codes.end());
    for (size_t i = 0; i + 1 < codes.size(); i++)
        if (codes[i + 1].compare(0, codes[i].size(), codes[i]) == 0) return false;
    return true;
}

std::string bits(uint32_t code, int len) {
    std::string s;
    for (int i = len - 1; i >= 0; i--) s += ((code >> i) & 1) ? '1' : '0';
    return s;
}

TEST(VidovaTables, CodesArePrefixFreeAndComplete) {
    // Coefficient codes with their sign bit, end of block and escape.
    std::vector<std::string> coef = {"10", "000001"};
    std::set<std::pair<int, int>> seen;
    for (int i = 0; i < vidova::kCoefEntryCount; i++) {
        const auto& e = vidova::kCoefEntries[i];
        EXPECT_TRUE(seen.insert({e.run, e.level}).second) << int(e.run) << "," << int(e.level);
        coef.push_back(std::string(e.bits) + "0");
        coef.push_back(std::string(e.bits) + "1");
    }
    EXPECT_TRUE(prefixFree(coef));
    std::vector<std::string> cbp, inc, mv, dcl, dcc;
    for (int i = 0; i < 64; i++) cbp.push_back(bits(vidova::kCbp[i].code, vidova::kCbp[i].len));
    for (int i = 0; i < 34; i++) inc.push_back(bits(vidova::kMbAddrInc[i].code, vidova::kMbAddrInc[i].len));
    inc.push_back("00000001111");  // stuffing
    mv.push_back("1");
    for (int i = 1; i <= 16; i++)
        for (const char* s : {"0", "1"})
            mv.push_back(bits(vidova::kMotionCode[i].code, vidova::kMotionCode[i].len) + s);
    for (int i = 0; i < 12; i++) {
        dcl.push_back(bits(vidova::kDcSizeLuma[i].code, vidova::kDcSizeLuma[i].len));
        dcc.push_back(bits(vidova::kDcSizeChroma[i].code, vidova::kDcSizeChroma[i].len));
    }
    for (auto* set : {&cbp, &inc, &mv, &dcl, &dcc}) EXPECT_TRUE(prefixFree(*set));
}

// Table one lists the pairs of table zero (up to 13 bits, the longer codes
// being shared) and is prefix-free with its own end of block and the escape.
// It fills the code space of table zero less the long codes of table zero
// that it replaced by shorter ones: a wrong or missing bit shows up here.
TEST(VidovaTables, IntraTableOneMatchesTableZerosCodeSpace) {
    auto kraft = [](const vidova::CoefEntry* e, int n, std::vector<std::string> extra) {
        double sum = 0;
        for (int i = 0; i < n; i++) sum += std::ldexp(1.0, -int(std::strlen(e[i].bits)));  // both signs
        for (const auto& s : extra) sum += std::ldexp(1.0, -int(s.size()));
        return sum;
    };
    std::vector<std::string> one = {"0110", "000001"};
    std::set<std::pair<int, int>> pairsZero, pairsOne;
    for (int i = 0; i < vidova::kCoefEntryCount; i++)
        pairsZero.insert({vidova::kCoefEntries[i].run, vidova::kCoefEntries[i].level});
    for (int i = 0; i < vidova::kCoefEntryCountOne; i++) {
        const auto& e = vidova::kCoefEntriesOne[i];
        EXPECT_TRUE(pairsOne.insert({e.run, e.level}).second) << int(e.run) << "," << int(e.level);
        EXPECT_LE(std::strlen(e.bits), 13u);
        one.push_back(std::string(e.bits) + "0");
        one.push_back(std::string(e.bits) + "1");
    }
    EXPECT_EQ(pairsOne, pairsZero);
    EXPECT_TRUE(prefixFree(one));
    double unused = 0;
    const auto& zero = vidova::coefTable();
    for (int i = 0; i < vidova::kCoefEntryCountOne; i++) {
        const auto& e = vidova::kCoefEntriesOne[i];
        int lenZero = zero.code[e.run][e.level].len;
        if (lenZero >= 12 && int(std::strlen(e.bits)) < 12) unused += std::ldexp(1.0, -lenZero);
    }
    EXPECT_DOUBLE_EQ(kraft(vidova::kCoefEntriesOne, vidova::kCoefEntryCountOne, {"0110", "000001"}) + unused,
                     kraft(vidova::kCoefEntries, vidova::kCoefEntryCount, {"10", "000001"}));
    const auto& t = vidova::coefTableOne();
    EXPECT_EQ(bits(t.endOfBlock.code, t.endOfBlock.len), "0110");
    EXPECT_EQ(bits(t.code[0][1].code, t.code[0][1].len), "10");
}

// ---------------------------------------------------------------- settings record

std::vector<std::string> g_messages;
int BUFSTREAM_CALL capturePrintf(const char* fmt, ...) {
    char buf[512];
    va_list ap;
    va_start(ap, fmt);
    int n = vsnprintf(buf, sizeof buf, fmt, ap);
    va_end(ap);
    g_messages.push_back(buf);
    return n;
}
void* BUFSTREAM_CALL captureLookup(const char* name) {
    return std::strcmp(name, "err_printf") == 0 ? reinterpret_cast<void*>(&capturePrintf) : nullptr;
}

TEST(VidovaSettings, DefaultsOfEveryTypeAreValid) {
    const int types[] = {0, 1, 13, 2, 3, 4, 8, 9, 10, 25, 18, 19, 11, 20, 21, 22, 23, 32, 33, 34, 35, 36, 37};
    for (int type : types)
        for (int pal : {0, 1}) {
            SCOPED_TRACE("type " + std::to_string(type) + " pal " + std::to_string(pal));
            VidovaSettings s{};
            VidovaDefaults(&s, type, pal);
            EXPECT_EQ(s.w[VIDOVA_W_VIDEO_TYPE], uint32_t(type));
            EXPECT_EQ(s.w[VIDOVA_W_REF_DISTANCE], 1u);  // B-frames count 0
            EXPECT_EQ(s.w[VIDOVA_W_FRAME_RATE_CODE], pal ? 3u : 4u);
            EXPECT_NEAR(vidova_get_double(&s, VIDOVA_B_FPS), pal ? 25.0 : 29.97, 0.01);
            double rate = vidova_get_double(&s, VIDOVA_B_BITRATE);
            EXPECT_GT(rate, 0);
            EXPECT_GE(vidova_get_double(&s, VIDOVA_B_MAX_BITRATE), rate);
            EXPECT_GT(vidova_get_double(&s, VIDOVA_B_MIN_BITRATE), 0);
            EXPECT_LE(vidova_get_double(&s, VIDOVA_B_MIN_BITRATE), rate);
            EXPECT_GE(s.w[VIDOVA_W_GOP_LENGTH], 1u);
            g_messages.clear();
            EXPECT_EQ(VidovaCheckSettings(captureLookup, &s, 0, 0), 0) << (g_messages.empty() ? "" : g_messages[0]);
            // As the host checks before it knows its input.
            vidova_set_int(&s, VIDOVA_B_WIDTH, 0);
            vidova_set_int(&s, VIDOVA_B_HEIGHT, 0);
            EXPECT_EQ(VidovaCheckSettings(captureLookup, &s, 0, 0), 0);
            EXPECT_EQ(VidovaCreate(nullptr, &s, 0, -1, 0, 0), nullptr);
        }
}

TEST(VidovaSettings, DefaultsKeepTheHostsPictureSize) {
    VidovaSettings s = settings(2, 1024, 768, 3, 4e6);
    VidovaDefaults(&s, 4, 0);
    EXPECT_EQ(vidova_get_int(&s, VIDOVA_B_WIDTH), 1024);
    EXPECT_EQ(vidova_get_int(&s, VIDOVA_B_HEIGHT), 768);
    VidovaSettings fresh{};
    VidovaDefaults(&fresh, 4, 1);
    EXPECT_EQ(vidova_get_int(&fresh, VIDOVA_B_WIDTH), 720);
    EXPECT_EQ(vidova_get_int(&fresh, VIDOVA_B_HEIGHT), 576);
}

TEST(VidovaSettings, RefusalsGiveAReason) {
    struct Case {
        const char* name;
        void (*edit)(VidovaSettings&);
        const char* text;
    };
    const Case cases[] = {
        {"B pictures in the Simple profile",
         [](VidovaSettings& s) {
             s.w[VIDOVA_W_PROFILE] = 5;
             s.w[VIDOVA_W_REF_DISTANCE] = 3;
         },
         "B pictures"},
        {"more than 7 B pictures", [](VidovaSettings& s) { s.w[VIDOVA_W_REF_DISTANCE] = 9; }, "B-frames"},
        {"frame rate code", [](VidovaSettings& s) { s.w[VIDOVA_W_FRAME_RATE_CODE] = 9; }, "Frame rate"},
        {"4:2:2 in Main profile", [](VidovaSettings& s) { s.w[VIDOVA_W_CHROMA_FORMAT] = 2; }, "4:2:2"},
        {"unknown level", [](VidovaSettings& s) { s.w[VIDOVA_W_LEVEL] = 15; }, "level"},
        {"size beyond Main level", [](VidovaSettings& s) { vidova_set_int(&s, VIDOVA_B_WIDTH, 1280); }, "exceeds"},
        {"rate beyond Main level", [](VidovaSettings& s) { vidova_set_double(&s, VIDOVA_B_BITRATE, 20e6); }, "exceeds"},
        {"size multiple of 4096", [](VidovaSettings& s) { vidova_set_int(&s, VIDOVA_B_HEIGHT, 4096); }, "4096"},
        {"aspect code", [](VidovaSettings& s) { s.w[VIDOVA_W_ASPECT] = 7; }, "Aspect"},
        {"constant quantiser 0",
         [](VidovaSettings& s) {
             s.w[VIDOVA_W_RC_MODE] = 3;
             s.w[VIDOVA_W_QUANTISERS] = 0;
         },
         "quantisers"},
        {"unknown video type", [](VidovaSettings& s) { s.w[VIDOVA_W_VIDEO_TYPE] = 5; }, "video type"},
        {"pulldown at 25 pictures per second", [](VidovaSettings& s) { s.w[VIDOVA_W_PULLDOWN] = 2; }, "ulldown"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        VidovaSettings s = settings(2, 720, 576, 3, 6e6);
        c.edit(s);
        g_messages.clear();
        EXPECT_NE(VidovaCheckSettings(captureLookup, &s, 0, 0), 0);
        ASSERT_EQ(g_messages.size(), 1u);
        EXPECT_NE(g_messages[0].find(c.text), std::string::npos) << g_messages[0];
        EXPECT_NE(VidovaCheckSettings(nullptr, &s, 0, 0), 0);  // no lookup: still refused, no crash
        EXPECT_EQ(VidovaCreate(nullptr, &s, 0, -1, 0, 0), nullptr);
    }
}

TEST(VidovaSettings, WideDesktopsUseTheUnspecifiedLevelOfThe422Profile) {
    VidovaSettings s = settings(2, 2560, 1440, 3, 20e6);
    s.w[VIDOVA_W_PROFILE] = 7;
    s.w[VIDOVA_W_LEVEL] = 15;
    EXPECT_EQ(VidovaCheckSettings(nullptr, &s, 0, 0), 0);
    s.w[VIDOVA_W_CHROMA_FORMAT] = 2;
    EXPECT_EQ(VidovaCheckSettings(nullptr, &s, 0, 0), 0);
}

TEST(VidovaSettings, MotionSearchRangeStaysWithin0To31) {
    VidovaSettings s{};
    VidovaDefaults(&s, 2, 1);
    for (int level : {-5, 0, 17, 31, 200}) {
        VidovaSetPerformance(&s, 2, level, 0);
        EXPECT_LE(s.w[VIDOVA_W_SEARCH_RANGE], 31u);
    }
    EXPECT_EQ(VidovaSetPerformance(&s, 1, 5, 0), 0);
    EXPECT_EQ(VidovaSetPerformance(&s, 0, 5, 0), 0);
}

// ---------------------------------------------------------------- output record and lifecycle

std::vector<uint8_t> grey(int w, int h, int frames, int step = 0) {
    std::vector<uint8_t> v;
    for (int f = 0; f < frames; f++) {
        std::vector<uint8_t> fr(vt::i420Size(w, h), 128);
        for (int y = 0; y < h; y++)
            for (int x = 0; x < w; x++) fr[size_t(y) * w + x] = uint8_t((x * 3 + y * 2 + f * step) & 255);
        v.insert(v.end(), fr.begin(), fr.end());
    }
    return v;
}

int countCodes(const std::vector<uint8_t>& s, uint8_t code) {
    int n = 0;
    for (size_t i = 0; i + 3 < s.size(); i++)
        if (s[i] == 0 && s[i + 1] == 0 && s[i + 2] == 1 && s[i + 3] == code) n++;
    return n;
}

struct Instance {
    VidovaSettings s;
    vidova::MemoryOutput out;
    vidova_handle h = nullptr;
    explicit Instance(int w = 64, int h_ = 48, uint32_t bufSize = 1 << 20)
        : s(settings(2, w, h_, 3, 1e6)), out(bufSize) {
        h = VidovaCreate(nullptr, &s, 0, -1, 0, 0);
        EXPECT_NE(h, nullptr);
        EXPECT_EQ(VidovaStart(h, &out.bs, 0, nullptr), 0);
    }
    ~Instance() { VidovaFree(h); }
    int put(const uint8_t* pic, int64_t start, uint32_t extra = 0) {
        int w = vidova_get_int(&s, VIDOVA_B_WIDTH), ht = vidova_get_int(&s, VIDOVA_B_HEIGHT);
        VidovaTimes t{start, start + 400000, 0};
        VidovaRates r{1500000, 1000000, 300000};
        void* opts[2] = {&t, &r};
        return VidovaPutFrame(h, pic, w, w, ht, VIDOVA_FOURCC('I', '4', '2', '0'),
                              VIDOVA_FRAME_TIMES | VIDOVA_FRAME_RATES | extra, opts);
    }
};

TEST(VidovaOutput, EachUnitHoldsOnePictureWithItsTime) {
    Instance in;
    auto pics = grey(64, 48, 14, 5);
    for (int f = 0; f < 14; f++) ASSERT_EQ(in.put(pics.data() + f * vt::i420Size(64, 48), f * 400000), 0);
    EXPECT_EQ(VidovaDone(in.h, 0), 0);
    ASSERT_EQ(in.out.units.size(), 14u);
    for (size_t i = 0; i < 14; i++) {
        const auto& u = in.out.units[i];
        EXPECT_EQ(in.out.unitStart[i], int64_t(i) * 400000);
        EXPECT_EQ(countCodes(u, 0x00), 1) << "unit " << i;
        // Sequence and GOP headers open every GOP (12 pictures by default).
        EXPECT_EQ(countCodes(u, 0xB3), i % 12 == 0 ? 1 : 0) << "unit " << i;
        EXPECT_EQ(countCodes(u, 0xB8), i % 12 == 0 ? 1 : 0) << "unit " << i;
    }
    const auto& last = in.out.units.back();
    EXPECT_EQ(std::vector<uint8_t>(last.end() - 4, last.end()), (std::vector<uint8_t>{0, 0, 1, 0xB7}));
}

TEST(VidovaOutput, DoneIsIdempotentAndAbortDeliversCodedPictures) {
    for (int abortFirst : {0, 1}) {
        Instance in;
        auto pics = grey(64, 48, 3, 9);
        for (int f = 0; f < 3; f++) ASSERT_EQ(in.put(pics.data() + f * vt::i420Size(64, 48), f * 400000), 0);
        EXPECT_EQ(VidovaDone(in.h, abortFirst), 0);
        uint32_t calls = in.out.infoCalls;
        EXPECT_EQ(in.out.units.size(), 3u);
        EXPECT_EQ(VidovaDone(in.h, 1), 0);
        EXPECT_EQ(VidovaDone(in.h, 0), 0);
        EXPECT_EQ(in.out.infoCalls, calls);
        EXPECT_EQ(in.out.units.size(), 3u);
        EXPECT_NE(in.put(pics.data(), 0), 0);  // finished instances take no more pictures
    }
}

TEST(VidovaOutput, BPicturesComeInCodedOrderWithTheirOwnTimes) {
    for (int abortFlag : {0, 1}) {
        Instance in;
        VidovaFree(in.h);
        in.s.w[VIDOVA_W_REF_DISTANCE] = 3;
        in.s.w[VIDOVA_W_GOP_LENGTH] = 15;
        in.h = VidovaCreate(nullptr, &in.s, 0, -1, 0, 0);
        ASSERT_EQ(VidovaStart(in.h, &in.out.bs, 0, nullptr), 0);
        auto pics = grey(64, 48, 8, 7);
        for (int f = 0; f < 8; f++) ASSERT_EQ(in.put(pics.data() + f * vt::i420Size(64, 48), f * 400000), 0);
        // I0 P3 B1 B2 P6 B4 B5 are coded (one still pending); 7 waits for its anchor.
        EXPECT_EQ(in.out.units.size(), 6u);
        EXPECT_EQ(VidovaDone(in.h, abortFlag), 0);
        ASSERT_EQ(in.out.units.size(), 8u);
        const int64_t order[8] = {0, 3, 1, 2, 6, 4, 5, 7};
        for (int i = 0; i < 8; i++) EXPECT_EQ(in.out.unitStart[size_t(i)], order[i] * 400000) << i;
    }
}

TEST(VidovaOutput, InstanceWithoutPicturesEmitsNothing) {
    Instance in;
    EXPECT_EQ(VidovaDone(in.h, 0), 0);
    EXPECT_EQ(VidovaDone(in.h, 1), 0);
    EXPECT_EQ(in.out.infoCalls, 0u);
    EXPECT_TRUE(in.out.units.empty());
    // A null picture before any picture has nothing to repeat.
    Instance second;
    EXPECT_NE(second.put(nullptr, 0, VIDOVA_FRAME_REPEAT), 0);
    EXPECT_EQ(VidovaDone(second.h, 1), 0);
    EXPECT_TRUE(second.out.units.empty());
}

TEST(VidovaOutput, NullPictureNeedsTheRepeatFlag) {
    Instance in;
    auto pics = grey(64, 48, 1);
    ASSERT_EQ(in.put(pics.data(), 0), 0);
    EXPECT_NE(in.put(nullptr, 400000), 0);
    EXPECT_EQ(in.put(nullptr, 400000, VIDOVA_FRAME_REPEAT), 0);
    EXPECT_EQ(VidovaDone(in.h, 0), 0);
    EXPECT_EQ(in.out.units.size(), 2u);
}

TEST(VidovaOutput, SmallOrFailingBuffersNeverOverrun) {
    // A picture larger than the output buffer spans several units; a record
    // whose requests fail loses data but the engine carries on.
    Instance small(64, 48, 256);
    auto pics = grey(64, 48, 2, 50);
    ASSERT_EQ(small.put(pics.data(), 0), 0);
    ASSERT_EQ(small.put(pics.data() + vt::i420Size(64, 48), 400000), 0);
    EXPECT_EQ(VidovaDone(small.h, 0), 0);
    EXPECT_GT(small.out.units.size(), 2u);
    for (const auto& u : small.out.units) EXPECT_LE(u.size(), 256u);

    Instance failing;
    failing.out.bs.request = [](bufstream*, uint32_t) -> uint8_t* { return nullptr; };
    ASSERT_EQ(failing.put(pics.data(), 0), 0);
    EXPECT_EQ(VidovaDone(failing.h, 0), 0);
    EXPECT_TRUE(failing.out.units.empty());
}

int g_released = 0;
void VIDOVA_CALL releaseCaption(VidovaCaption* c) {
    g_released++;
    std::free(c->bytes);
    std::free(c);
}

TEST(VidovaOutput, CaptionsBecomePictureUserDataAndPreviewIsFilled) {
    Instance in;
    auto pics = grey(64, 48, 1);
    auto* cc = static_cast<VidovaCaption*>(std::calloc(1, sizeof(VidovaCaption)));
    const uint8_t payload[] = {'G', 'A', '9', '4', 3, 0x41, 0, 0xFC, 0x94, 0x2C, 0xFF};
    cc->release = releaseCaption;
    cc->count = int(sizeof payload);
    cc->bytes = static_cast<uint8_t*>(std::malloc(sizeof payload));
    std::memcpy(cc->bytes, payload, sizeof payload);
    std::vector<uint8_t> previewBuf(64 * 48 * 2, 0);
    VidovaPreviewSlot slot{previewBuf.data(), 64, 48, 0, 0};
    VidovaTimes t{0, 400000, 0};
    void* opts[3] = {&slot, cc, &t};
    g_released = 0;
    ASSERT_EQ(VidovaPutFrame(in.h, pics.data(), 64, 64, 48, VIDOVA_FOURCC('I', '4', '2', '0'),
                             VIDOVA_FRAME_PREVIEW | VIDOVA_FRAME_CAPTION | VIDOVA_FRAME_TIMES, opts),
              0);
    EXPECT_EQ(g_released, 1);
    EXPECT_EQ(slot.done, 1);
    EXPECT_EQ(slot.fourcc, VIDOVA_FOURCC('U', 'Y', 'V', 'Y'));
    // The preview holds the coded picture: luma close to the input's ramp.
    EXPECT_NEAR(previewBuf[2 * 10 + 1], pics[10], 6);
    EXPECT_EQ(VidovaDone(in.h, 0), 0);
    auto s = in.out.units.at(0);
    auto it = std::search(s.begin(), s.end(), payload, payload + sizeof payload);
    ASSERT_NE(it, s.end());
    EXPECT_EQ(std::vector<uint8_t>(it - 4, it), (std::vector<uint8_t>{0, 0, 1, 0xB2}));
}

}  // namespace

namespace {

// The host writes the record by position, not through our names: literal
// offsets here catch a misplaced field.
TEST(VidovaSettings, HostPositionsReachTheStreamHeaders) {
    VidovaSettings s{};
    VidovaDefaults(&s, 2, 1);
    uint8_t* b = reinterpret_cast<uint8_t*>(&s);
    auto putInt = [&](int byte, int32_t v) { std::memcpy(b + byte, &v, 4); };
    auto putDouble = [&](int byte, double v) { std::memcpy(b + byte, &v, 8); };
    putInt(869, 200);   // width
    putInt(873, 120);   // height
    putInt(4 * 13, 5);  // frame-rate code: 30
    putDouble(56, 30.0);
    putInt(4 * 12, 3);       // aspect 16:9
    putInt(4 * 22, 1);       // CBR
    putDouble(64, 2000000);  // bitrate
    putDouble(821, 2000000);
    putDouble(72, 3000000);  // maximum
    putInt(4 * 3, 5);        // GOP length
    putInt(4 * 24, 0);       // sequence header only at the start
    putInt(4 * 25, 0);       // no end code
    vidova::MemoryOutput out;
    vidova_handle h = VidovaCreate(nullptr, &s, 0, -1, 0, 0);
    ASSERT_NE(h, nullptr);
    ASSERT_EQ(VidovaStart(h, &out.bs, 0, nullptr), 0);
    std::vector<uint8_t> pic(vt::i420Size(200, 120), 100);
    for (int i = 0; i < 6; i++)
        ASSERT_EQ(VidovaPutFrame(h, pic.data(), 200, 200, 120, VIDOVA_FOURCC('I', '4', '2', '0'), 0, nullptr), 0);
    VidovaDone(h, 0);
    VidovaFree(h);
    std::vector<uint8_t> st;
    for (const auto& u : out.units) st.insert(st.end(), u.begin(), u.end());
    ASSERT_GE(st.size(), 12u);
    ASSERT_EQ(std::vector<uint8_t>(st.begin(), st.begin() + 4), (std::vector<uint8_t>{0, 0, 1, 0xB3}));
    uint32_t w = (st[4] << 4) | (st[5] >> 4), ht = ((st[5] & 15) << 8) | st[6];
    EXPECT_EQ(w, 200u);
    EXPECT_EQ(ht, 120u);
    EXPECT_EQ(st[7] >> 4, 3);  // aspect
    EXPECT_EQ(st[7] & 15, 5);  // frame rate
    uint32_t rate = (uint32_t(st[8]) << 10) | (st[9] << 2) | (st[10] >> 6);
    EXPECT_EQ(rate, 5000u);  // CBR: the bitrate in 400 bit/s units
    EXPECT_EQ(countCodes(st, 0xB3), 1);
    EXPECT_EQ(countCodes(st, 0xB8), 2);  // GOPs of 5 pictures
    EXPECT_EQ(countCodes(st, 0xB7), 0);
}

}  // namespace

namespace {

// Arbitrary records and pictures: the engine refuses or codes, never crashes
// (run under the sanitizers natively).
TEST(VidovaRobustness, RandomSettingsAndPictures) {
    uint32_t seed = 12345;
    auto rnd = [&]() {
        seed = seed * 1664525u + 1013904223u;
        return seed >> 8;
    };
    const uint32_t fourccs[] = {VIDOVA_FOURCC('I', '4', '2', '0'), VIDOVA_FOURCC('Y', 'V', '1', '2'),
                                VIDOVA_FOURCC('Y', 'V', '1', '6'), VIDOVA_FOURCC('Y', 'U', 'Y', '2'),
                                VIDOVA_FOURCC('U', 'Y', 'V', 'Y'), VIDOVA_FOURCC('B', 'G', 'R', '3'),
                                VIDOVA_FOURCC('B', 'G', 'R', '4'), VIDOVA_FOURCC('X', 'X', 'X', 'X')};
    int created = 0;
    for (int iter = 0; iter < 300; iter++) {
        VidovaSettings s{};
        VidovaDefaults(&s, int(rnd() % 40), int(rnd() % 2));
        // Disturb a few words, some with small plausible values.
        for (int k = 0; k < 6; k++) {
            int word = int(rnd() % 220);
            s.w[word] = (rnd() & 1) ? rnd() : rnd() % 16;
        }
        if (rnd() & 1) s.w[VIDOVA_W_REF_DISTANCE] = 1 + rnd() % 4;
        if (rnd() & 1) s.w[VIDOVA_W_GOP_LENGTH] = 1 + rnd() % 9;
        vidova_set_int(&s, VIDOVA_B_WIDTH, int(rnd() % 70));
        vidova_set_int(&s, VIDOVA_B_HEIGHT, int(rnd() % 70));
        VidovaCheckSettings(nullptr, &s, 0, 0);
        vidova_handle h = VidovaCreate(nullptr, &s, 0, -1, 0, 0);
        if (!h) continue;
        created++;
        vidova::MemoryOutput out(1 + rnd() % 4096);
        ASSERT_EQ(VidovaStart(h, &out.bs, 0, nullptr), 0);
        for (int f = 0; f < 7; f++) {
            int w = 1 + int(rnd() % 80), ht = 1 + int(rnd() % 80);
            uint32_t fourcc = fourccs[rnd() % 8];
            bool rgb = fourcc == fourccs[5] || fourcc == fourccs[6];
            int bpp = fourcc == fourccs[6] ? 4 : (fourcc == fourccs[5] ? 3 : 2);
            int stride = rgb                                                            ? ((w * bpp + 3) & ~3)
                         : (bpp == 2 && (fourcc == fourccs[3] || fourcc == fourccs[4])) ? ((w + 1) / 2) * 4
                                                                                        : w + int(rnd() % 3) * 2;
            std::vector<uint8_t> pic(size_t(stride) * ht * 3 + 64);
            for (auto& b : pic) b = uint8_t(rnd());
            const uint8_t* p = pic.data();
            if (rgb) {
                p += size_t(stride) * (ht - 1);
                stride = -stride;
            }
            VidovaPutFrame(h, (rnd() % 5) ? p : nullptr, stride, w, ht, fourcc, (rnd() & 1) ? VIDOVA_FRAME_REPEAT : 0,
                           nullptr);
        }
        VidovaDone(h, int(rnd() % 2));
        VidovaDone(h, 0);
        VidovaFree(h);
    }
    EXPECT_GT(created, 10);
}

}  // namespace
