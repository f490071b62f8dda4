#include "restamp/parsers/M2PS.h"
#include "restamp/parsers/M2TS.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

std::vector<uint8_t> Pad(std::vector<uint8_t> v, size_t n, uint8_t fill = 0) {
    v.resize(std::max(v.size(), n), fill);
    return v;
}

TEST(MpegAudioHeader, DecodesSizesAndDurations) {
    struct Case {
        uint8_t b1, b2, b3;
        uint32_t layer, rate, bitrate, len;
        uint64_t dur;
    };
    const Case cases[] = {
        {0xFD, 0x84, 0x00, 2, 48000, 128000, 384, 240000},  // MPEG-1 Layer II
        {0xFD, 0x82, 0x00, 2, 44100, 128000, 418, 261224},  // padded, 44.1 kHz
        {0xF3, 0x84, 0x00, 3, 24000, 64000, 192, 240000},   // MPEG-2 Layer III
        {0xF3, 0x86, 0x00, 3, 24000, 64000, 193, 240000},   //   with padding
        {0xF5, 0x84, 0x00, 2, 24000, 64000, 384, 480000},   // MPEG-2 Layer II
        {0xFF, 0xEA, 0x00, 1, 32000, 448000, 676, 120000},  // Layer I, padded
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << std::hex << int(c.b1) << " " << int(c.b2));
        const uint8_t d[4] = {0xFF, c.b1, c.b2, c.b3};
        MAudio::CFrameHdr h;
        ASSERT_TRUE(h.Parse(d, 4));
        EXPECT_EQ(h.layer, c.layer);
        EXPECT_EQ(h.sampleRate, c.rate);
        EXPECT_EQ(h.bitrate, c.bitrate);
        EXPECT_EQ(h.frameLength, c.len);
        EXPECT_EQ(h.duration, c.dur);
    }
    // Reserved layer, version, sampling frequency; free format; bitrate 15.
    for (auto b : {std::vector<uint8_t>{0xFF, 0xF9, 0x84, 0},
                   {0xFF, 0xED, 0x84, 0},
                   {0xFF, 0xFD, 0x8C, 0},
                   {0xFF, 0xFD, 0x04, 0},
                   {0xFF, 0xFD, 0xF4, 0},
                   {0xFF, 0x1D, 0x84, 0}}) {
        MAudio::CFrameHdr h;
        EXPECT_FALSE(h.Parse(b.data(), 4)) << int(b[1]) << " " << int(b[2]);
    }
    MAudio::CFrameHdr a, b, c;
    const uint8_t ha[4] = {0xFF, 0xFD, 0x84, 0x00}, hb[4] = {0xFF, 0xFD, 0x94, 0x00}, hc[4] = {0xFF, 0xFD, 0x84, 0xC0};
    a.Parse(ha, 4);
    b.Parse(hb, 4);
    c.Parse(hc, 4);
    EXPECT_FALSE(a.IsSameFormat(b));  // bitrate differs
    EXPECT_TRUE(a.IsSameFormat(c));   // only the mode differs
}

TEST(MpegAudioScanner, LeavesTheLast48BytesForTheNextCall) {
    std::vector<uint8_t> d(100, 0);
    d[52] = 0xFF;
    d[53] = 0xFD;  // 48 bytes before the end
    MAudio::CAudioParserImpl s;
    s.SetData(d.data(), 100);
    EXPECT_EQ(s.FindNext(), nullptr);
    d[51] = 0xFF;
    d[52] = 0xFD;  // 49 bytes before the end
    s.SetData(d.data(), 100);
    EXPECT_EQ(s.FindNext(), d.data() + 51);
}

TEST(MpegAudioStream, FrameCutByTheBlockIsCompletedByLaterRuns) {
    std::vector<uint8_t> d = Pad({0xFF, 0xFD, 0x84, 0x00}, 600);
    MAudio::CFrameHandler<MAudio::CFrameHdr> h;
    ASSERT_TRUE(h.ParseHeader(1000, d.data(), 100));
    MAudio::CAEStream s;
    BS::ParserControl ctl;
    EXPECT_EQ(s.OnEvent(*h.GetEvent(), &ctl), 1u);
    EXPECT_EQ(s.GetState()->code, 1u);
    EXPECT_EQ(s.remaining, 284u);
    EXPECT_EQ(ctl.remaining, 284u);
    EXPECT_EQ(s.expected, 1100u);
    // A run that starts 10 bytes early is taken from its 11th byte on.
    ctl.skip = 0;
    EXPECT_EQ(s.OnData(1090, d.data() + 90, 300, &ctl, 0), 1u);
    EXPECT_EQ(s.GetState()->code, 2u);
    EXPECT_EQ(s.payload.position, 1100u);
    EXPECT_EQ(s.payload.length, 284u);
    EXPECT_EQ(s.remaining, 0u);
    EXPECT_EQ(s.OnData(1200, d.data(), 50, &ctl, 0), 0u);  // nothing new
}

TEST(AC3SyncFrame, DecodesSizesAndChannels) {
    struct Case {
        uint8_t b4;
        uint16_t size;
        uint16_t rate;
    };
    for (const Case c : {Case{0x1C, 1536, 48000}, Case{0x5C, 1670, 44100}, Case{0x9C, 2304, 32000}}) {
        const uint8_t d[12] = {0x0B, 0x77, 0, 0, c.b4, 0x40, 0x40, 0, 0, 0, 0, 0};
        AC3::CSyncFrame f;
        ASSERT_TRUE(f.Parse(d, 12));
        EXPECT_EQ(f.frameSize, c.size);
        EXPECT_EQ(f.sampleRate, c.rate);
        EXPECT_EQ(f.bitrate, 384u);
    }
    for (uint8_t bad : {uint8_t(0xC0), uint8_t(0x26)}) {
        const uint8_t d[12] = {0x0B, 0x77, 0, 0, bad, 0x40, 0x40};
        AC3::CSyncFrame f;
        EXPECT_FALSE(f.Parse(d, 12));
    }
    // acmod 7 (cmixlev, surmixlev) with lfeon: 6 channels; acmod 2 skips dsurmod; acmod 0: 2.
    struct Ch {
        uint8_t b6, b7;
        uint8_t channels;
        uint32_t lfe;
    };
    for (const Ch c : {Ch{0xE1, 0x00, 6, 1}, Ch{0x44, 0x00, 3, 1}, Ch{0x00, 0x00, 2, 0}}) {
        const uint8_t d[12] = {0x0B, 0x77, 0, 0, 0x1C, 0x40, c.b6, c.b7, 0, 0, 0, 0};
        AC3::CSyncFrame f;
        ASSERT_TRUE(f.Parse(d, 12));
        EXPECT_EQ(f.channels, c.channels) << int(c.b6);
        EXPECT_EQ(f.lfeon, c.lfe) << int(c.b6);
    }
}

std::vector<uint8_t> Ac3Stream(int frames, bool swapFirst, size_t junk) {
    std::vector<uint8_t> v;
    for (int i = 0; i < frames; ++i) {
        std::vector<uint8_t> f(1536, 0x22);  // 384 kbit/s at 48 kHz
        f[0] = 0x0B;
        f[1] = 0x77;
        f[4] = 0x1C;
        f[5] = 0x40;
        if (i == 0 && swapFirst)
            for (int k = 0; k < 12; k += 2) std::swap(f[k], f[k + 1]);
        v.insert(v.end(), f.begin(), f.end());
        v.insert(v.end(), junk, 0x33);
    }
    return v;
}

TEST(FormatTests, AC3) {
    AC3::DetectAC3 d;
    auto plain = Ac3Stream(8, false, 0);
    EXPECT_EQ(d.Detect(plain.data(), uint32_t(plain.size())), 1);
    auto swapped = Ac3Stream(8, true, 0);  // first frame only byte-swapped
    EXPECT_EQ(d.Detect(swapped.data(), uint32_t(swapped.size())), 1);
    auto junk = Ac3Stream(8, false, 7);
    EXPECT_EQ(d.Detect(junk.data(), uint32_t(junk.size())), 0);
}

TEST(FormatTests, MpegAudioPassesOverJunkBetweenFrames) {
    std::vector<uint8_t> v(333, 0x44);  // leading junk
    for (int i = 0; i < 8; ++i) {
        std::vector<uint8_t> f = Pad({0xFF, 0xFD, 0x84, 0x00}, 384, 0x11);
        v.insert(v.end(), f.begin(), f.end());
        v.insert(v.end(), 17, 0x55);
    }
    MAudio::CAudioFormat a;
    EXPECT_EQ(a.Detect(v.data(), uint32_t(v.size())), 1);
    EXPECT_EQ(a.firstPosition, 333u);
    EXPECT_EQ(a.header.bitrate, 128000u);
}

TEST(FormatTests, TransportStreamNeedsSixOrElevenSyncs) {
    std::vector<uint8_t> d(1224, 0);
    for (size_t i = 0; i < d.size(); i += 188) d[i] = 0x47;
    EXPECT_EQ(DetectTransportStream(d.data(), uint32_t(d.size())), 0);
    d.push_back(0);
    EXPECT_EQ(DetectTransportStream(d.data(), uint32_t(d.size())), 188);
    std::vector<uint8_t> e(2300, 0);
    for (size_t i = 0; i < e.size(); i += 204) e[i] = 0x47;
    EXPECT_EQ(DetectTransportStream(e.data(), uint32_t(e.size())), 204);
    e.resize(2040);  // the eleventh sync is not there
    EXPECT_EQ(DetectTransportStream(e.data(), uint32_t(e.size())), 0);
}

// MPEG video headers ----------------------------------------------------------------

std::vector<uint8_t> SeqHdr(uint8_t aspectRate) {
    return {0, 0, 1, 0xB3, 0x16, 0x01, 0x20, aspectRate, 0xFF, 0xFF, 0xE0, 0x18, 0, 0};
}

TEST(MpegVideoHeaders, SequenceHeaderRatesAndRefusals) {
    struct Case {
        uint8_t code;
        uint32_t duration;
    };
    for (const Case c : {Case{7, 166833}, Case{4, 333667}, Case{3, 400000}, Case{1, 417083}}) {
        MVideo::CSeqHdr h;
        auto d = SeqHdr(uint8_t(0x20 | c.code));
        ASSERT_TRUE(h.Parse(d.data(), uint32_t(d.size())));
        EXPECT_EQ(h.frameDuration, c.duration);
        EXPECT_EQ(h.horizontalSize, 352u);
        EXPECT_EQ(h.verticalSize, 288u);
    }
    for (uint8_t bad : {uint8_t(0xF3), uint8_t(0x29), uint8_t(0x03), uint8_t(0x20)}) {
        MVideo::CSeqHdr h;
        auto d = SeqHdr(bad);
        EXPECT_FALSE(h.Parse(d.data(), uint32_t(d.size()))) << int(bad);
    }
}

TEST(MpegVideoHeaders, ExtensionsGopAndPicture) {
    struct Ext {
        uint8_t b4, b5;
        uint32_t profile, level;
    };
    for (const Ext e : {Ext{0x18, 0x50, 2, 5}, Ext{0x14, 0x80, 2, 2}}) {
        const uint8_t d[11] = {0, 0, 1, 0xB5, e.b4, uint8_t(e.b5 | 0x02), 0, 0, 0, 0, 0};
        MVideo::CSequenceExt x;
        ASSERT_TRUE(x.Parse(d, 11));
        EXPECT_EQ(x.profile, e.profile);
        EXPECT_EQ(x.level, e.level);
    }
    // GOP 01:02:03 and one with pictures 60.
    const uint8_t gop[11] = {0, 0, 1, 0xB8, 0x04, 0x28, 0x60, 0x00, 0, 0, 0};
    MVideo::CGopHdr g;
    ASSERT_TRUE(g.Parse(gop, 11));
    EXPECT_EQ(g.timeCode, 3723);
    const uint8_t gop60[11] = {0, 0, 1, 0xB8, 0x04, 0x28, 0x7E, 0x00, 0, 0, 0};
    EXPECT_FALSE(g.Parse(gop60, 11));

    // The handler fires the matching event, or none.
    MVideo::CVideoParserHandlerImpl h;
    const uint8_t ext4[11] = {0, 0, 1, 0xB5, 0x40, 0, 0, 0, 0, 0, 0};
    EXPECT_FALSE(h.ParseHeader(0, ext4, 11));
    const uint8_t pic[11] = {0, 0, 1, 0x00, 0x00, 0x0F, 0xFF, 0xF8, 0, 0, 0};  // I picture
    ASSERT_TRUE(h.ParseHeader(0, pic, 11));
    EXPECT_EQ(h.pictHdr.codingType, 1u);
    const uint8_t pic5[11] = {0, 0, 1, 0x00, 0x00, 0x2F, 0xFF, 0xF8, 0, 0, 0};
    EXPECT_FALSE(h.ParseHeader(0, pic5, 11));
    // Sizes above 4095 come from the extension before the sequence header.
    const uint8_t ext[11] = {0, 0, 1, 0xB5, 0x14, 0x8B, 0x00, 0, 0, 0, 0};  // horizontal ext 2
    ASSERT_TRUE(h.ParseHeader(0, ext, 11));
    auto s = SeqHdr(0x23);
    ASSERT_TRUE(h.ParseHeader(0, s.data(), uint32_t(s.size())));
    EXPECT_EQ(h.seqHdr.horizontalSize, 352u + 8192u);
}

std::vector<uint8_t> Mpeg1Video() {
    std::vector<uint8_t> v = SeqHdr(0x13);
    const uint8_t gop[8] = {0, 0, 1, 0xB8, 0x00, 0x08, 0x00, 0x40};
    const uint8_t pic[8] = {0, 0, 1, 0x00, 0x00, 0x0F, 0xFF, 0xF8};
    v.insert(v.end(), gop, gop + 8);
    v.insert(v.end(), pic, pic + 8);
    v.resize(v.size() + 64, 0x5A);
    return v;
}

TEST(FormatTests, Mpeg1VideoKeepsTopFieldFirst) {
    auto v = Mpeg1Video();
    MVideo::DetectVideoStream d;
    EXPECT_EQ(d.Detect(v.data(), uint32_t(v.size())), 1);
    EXPECT_EQ(d.topFieldFirst, 1);
    EXPECT_EQ(d.runLength, 14u);
    EXPECT_EQ(d.runCopy.size(), 14u);
    // A stream that begins with a picture is recognised from its sequence header on.
    std::vector<uint8_t> w = {0, 0, 1, 0x00, 0x00, 0x0F, 0xFF, 0xF8, 0, 0, 0, 0};
    w.insert(w.end(), v.begin(), v.end());
    EXPECT_EQ(d.Detect(w.data(), uint32_t(w.size())), 1);
    EXPECT_EQ(d.runPosition, 12u);
}

TEST(SmallHeaders, LpcmAes3AndAdts) {
    const uint8_t lpcm[7] = {0xA0, 0x05, 0x00, 0x04, 0x00, 0x21, 0x80};
    LPCM::CLPCMHeader l;
    ASSERT_TRUE(l.Parse(lpcm, 7));
    EXPECT_EQ(l.sampleRate, 44100u);
    EXPECT_EQ(l.channels, 2u);
    EXPECT_EQ(l.duration, 5u * 16666u);
    const uint8_t notLpcm[7] = {0x80, 0, 0, 0, 0, 0, 0};
    EXPECT_FALSE(l.Parse(notLpcm, 7));

    const uint8_t aes[4] = {0x05, 0xA0, 0x00, 0x10};
    AES3::CAES3Header a;
    ASSERT_TRUE(a.Parse(aes, 4));
    EXPECT_EQ(a.audioPacketSize, 1440u);
    EXPECT_EQ(a.channels, 2u);
    EXPECT_EQ(a.sampleSize, 20u);  // bits_per_sample 1
    const uint8_t aesBad[4] = {0x05, 0xA0, 0x00, 0x11};
    EXPECT_FALSE(a.Parse(aesBad, 4));

    // 1,000 bytes of noise, then five ADTS frames of 100 bytes at 48 kHz stereo.
    std::vector<uint8_t> v(1000, 0x5A);
    for (int i = 0; i < 5; ++i) {
        std::vector<uint8_t> f(100, 0);
        f[0] = 0xFF;
        f[1] = 0xF1;
        f[2] = 0x4C;
        f[3] = 0x80;
        f[4] = 0x0C;
        f[5] = 0x9F;
        f[6] = 0xFC;
        v.insert(v.end(), f.begin(), f.end());
    }
    v.resize(v.size() + 30, 0);
    AAC::DetectAACStream aac;
    EXPECT_EQ(aac.Detect(v.data(), uint32_t(v.size())), 1);
    EXPECT_EQ(aac.header.sampleRate, 48000u);
    EXPECT_EQ(aac.header.frameLength, 100u);
    v[1000 + 200 + 2] = 0x50;  // third frame at 44.1 kHz
    EXPECT_EQ(aac.Detect(v.data(), uint32_t(v.size())), 0);
}

}  // namespace
