// Headers and elements of the streams that program-stream detection finds
// besides MPEG audio, MPEG video and AC-3.
#include "restamp/parsers/EsStreams.h"

#include "codec/common/TimeStamps.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

TEST(AdtsHeader, DecodesAndRefuses) {
    const uint8_t h[7] = {0xFF, 0xF1, 0x50, 0x80, 0x2E, 0x7F, 0xFC};
    AAC::CAACHeader a;
    ASSERT_TRUE(a.Parse(h, sizeof h));
    EXPECT_EQ(a.id, 0u);
    EXPECT_EQ(a.protectionAbsent, 1u);
    EXPECT_EQ(a.profile, 1u);
    EXPECT_EQ(a.sampleRate, 44100u);
    EXPECT_EQ(a.channels, 2u);
    EXPECT_EQ(a.frameLength, 371u);
    EXPECT_EQ(a.duration, 232199u);
    // Channel configuration 7 is eight channels; 0 (carried in the stream) is refused.
    uint8_t c7[7] = {0xFF, 0xF1, 0x51, 0xC0, 0x2E, 0x7F, 0xFC};
    ASSERT_TRUE(a.Parse(c7, sizeof c7));
    EXPECT_EQ(a.channelConfiguration, 7u);
    EXPECT_EQ(a.channels, 8u);
    const uint8_t c0[7] = {0xFF, 0xF1, 0x50, 0x00, 0x2E, 0x7F, 0xFC};
    EXPECT_FALSE(a.Parse(c0, sizeof c0));
    EXPECT_FALSE(a.Parse(h, 6));
}

// E-AC-3 frames share the sync word: their bsid (16) is not AC-3's.
TEST(Ac3SyncFrame, EnhancedAc3IsRefused) {
    uint8_t f[12] = {0x0B, 0x77, 0, 0, 0x1C, 0x40, 0x40, 0, 0, 0, 0, 0};  // bsid 8
    AC3::CSyncFrame h;
    EXPECT_TRUE(h.Parse(f, sizeof f));
    for (uint8_t bsid : {10, 11, 16}) {
        f[5] = uint8_t(bsid << 3);
        EXPECT_EQ(h.Parse(f, sizeof f), bsid <= 10) << int(bsid);
    }
}

// The one-header-per-packet formats: what each header reads, and payloads
// too short for it.
TEST(PacketHeaders, DecodeAndRefuseShortPayloads) {
    LPCM::CLPCMHeader l;
    const uint8_t lpcm[7] = {0xA0, 0x05, 0x00, 0x04, 0x00, 0x01, 0x80};
    ASSERT_TRUE(l.Parse(lpcm, 7));
    EXPECT_EQ(l.numberOfFrameHeaders, 5);
    EXPECT_EQ(l.sampleRate, 48000u);
    EXPECT_EQ(l.bitsPerSample, 16);
    EXPECT_EQ(l.channels, 2);
    EXPECT_EQ(l.duration, 83330u);
    const uint8_t lpcm44[7] = {0xA1, 0x05, 0x00, 0x04, 0x00, 0x21, 0x80};
    ASSERT_TRUE(l.Parse(lpcm44, 7));
    EXPECT_EQ(l.sampleRate, 44100u);
    EXPECT_FALSE(l.Parse(lpcm, 6));

    SUBP::CSUBPHeader s;
    const uint8_t sub[3] = {0x20, 0x0B, 0xB8}, last[3] = {0x3F, 0, 0}, other[3] = {0x40, 0, 0};
    ASSERT_TRUE(s.Parse(sub, 3));
    EXPECT_EQ(s.unitSize, 3000u);
    EXPECT_TRUE(s.Parse(last, 3));
    EXPECT_EQ(s.unitSize, 0u);
    EXPECT_FALSE(s.Parse(other, 3));
    EXPECT_FALSE(s.Parse(sub, 2));

    struct Aes3Case {
        uint8_t b2, b3;
        bool valid;
        uint8_t channels, sampleSize;
    };
    const Aes3Case cases[] = {
        {0x00, 0x00, true, 2, 16}, {0x00, 0x10, true, 2, 20}, {0x00, 0x20, true, 2, 24},
        {0xC0, 0x00, true, 8, 16}, {0x00, 0x11, false, 0, 0}, {0x00, 0x30, false, 0, 0},
    };
    for (const Aes3Case& c : cases) {
        const uint8_t d[4] = {0x05, 0xA0, c.b2, c.b3};
        AES3::CAES3Header a;
        EXPECT_EQ(a.Parse(d, 4), c.valid) << std::hex << int(c.b2) << " " << int(c.b3);
        if (!c.valid) continue;
        EXPECT_EQ(a.audioPacketSize, 1440);
        EXPECT_EQ(a.channels, c.channels);
        EXPECT_EQ(a.sampleSize, c.sampleSize);
        EXPECT_FALSE(a.Parse(d, 3));
    }
}

// MSB-first bits for hand-made headers.
class Bits {
public:
    void Put(uint64_t v, int n) {
        for (int i = n - 1; i >= 0; --i) {
            if (used_ % 8 == 0) bytes.push_back(0);
            bytes.back() |= uint8_t(((v >> i) & 1) << (7 - used_ % 8));
            ++used_;
        }
    }
    std::vector<uint8_t> bytes;

private:
    size_t used_ = 0;
};

// A rectangular 176x144 VOL (verid 1, no VBV parameters).
std::vector<uint8_t> Vol(uint32_t resolution) {
    Bits b;
    for (uint32_t v : {0u, 0u, 1u, 0x20u}) b.Put(v, 8);
    b.Put(0, 1);  // random_accessible_vol
    b.Put(1, 8);  // simple object
    b.Put(0, 1);  // no layer identifier
    b.Put(1, 4);  // square pixels
    b.Put(0, 1);  // no control parameters
    b.Put(0, 2);  // rectangular
    b.Put(1, 1);  // marker
    b.Put(resolution, 16);
    b.Put(1, 1);  // marker
    b.Put(0, 1);  // no fixed rate
    b.Put(1, 1);
    b.Put(176, 13);
    b.Put(1, 1);
    b.Put(144, 13);
    b.Put(1, 1);
    b.Put(0, 1);  // progressive
    b.Put(1, 1);  // obmc_disable
    b.Put(0, 1);  // no sprite
    b.Put(0, 1);  // 8 bits
    b.Put(0, 32);
    return b.bytes;
}

TEST(Mpeg4Video, VolWithoutTimeResolutionIsRefused) {
    DIVX::CVolHdr h;
    const auto good = Vol(25), zero = Vol(0);
    ASSERT_TRUE(h.Parse(good.data(), uint32_t(good.size())));
    EXPECT_EQ(h.vol.vop_time_increment_resolution, 25u);
    EXPECT_EQ(h.vol.timeIncrementBits, 5u);
    EXPECT_EQ(h.vol.width, 176u);
    EXPECT_FALSE(h.Parse(zero.data(), uint32_t(zero.size())));
    DIVX::DetectDiv4Stream det;
    DIVX::CMPEG4VidObjLayer detVol;
    EXPECT_FALSE(detVol.Parse(zero.data(), uint32_t(zero.size())));
}

TEST(Mpeg4Video, StreamRaisesAStatePerHeader) {
    auto d = Vol(30000);
    const std::vector<uint8_t> gov = {0, 0, 1, 0xB3, 0x08, 0x50, 0xC0, 0, 0, 0, 0, 0};  // 01:02:03
    Bits vop;
    for (uint32_t v : {0u, 0u, 1u, 0xB6u}) vop.Put(v, 8);
    vop.Put(1, 2);   // P
    vop.Put(0, 1);   // modulo_time_base
    vop.Put(1, 1);   // marker
    vop.Put(7, 15);  // increment, 15 bits for 30,000
    vop.Put(1, 1);
    vop.Put(0, 1);  // not coded
    vop.Put(0, 40);
    d.insert(d.end(), gov.begin(), gov.end());
    d.insert(d.end(), vop.bytes.begin(), vop.bytes.end());
    d.resize(d.size() + 20, 0);
    BS::CParserTemplateImpl<DIVX::CDIVXParserImpl, DIVX::CDIVXParserHandlerImpl, DIVX::CDIVXStream> t;
    t.Reset();
    struct Log : BS::AStreamElementStateHandler {
        void OnStateChange(BS::AStreamElement* e) override { codes.push_back(e->GetState()->code); }
        void OnElementDestroyed(BS::AStreamElement*) override {}
        std::vector<uint32_t> codes;
    } log;
    t.stream.AddStateHandler(&log);
    t.Parse(0, d.data(), uint32_t(d.size()), 0);
    EXPECT_EQ(log.codes, (std::vector<uint32_t>{1, 6, 2}));
    EXPECT_EQ(t.handler.gov.gov.hours, 1u);
    EXPECT_EQ(t.handler.gov.gov.minutes, 2u);
    EXPECT_EQ(t.handler.gov.gov.seconds, 3u);
    EXPECT_EQ(t.handler.vop.vop.vop_time_increment, 7u);
    EXPECT_EQ(t.handler.vop.CodingValue(), 4);
    t.stream.RemoveStateHandler(&log);
}

// A program stream with DVD subpicture (0x20) and LPCM (0xA0) sub-streams:
// each gets its element, whose stream reports one header per packet; a
// subpicture packet too short for its header reports none.
TEST(PacketHeaderElements, SubpictureAndLpcmInAProgramStream) {
    using Bytes = std::vector<uint8_t>;
    auto pack = [](uint64_t scr) {
        Bytes b(14, 0);
        b[2] = 1;
        b[3] = 0xBA;
        MpegCommon::EncodePackScr(&b[4], scr, 0);
        b[10] = 0x01;
        b[11] = 0x89;
        b[12] = 0xC3;
        b[13] = 0xF8;
        return b;
    };
    auto pes = [](const Bytes& payload) {
        Bytes b = {0, 0, 1, 0xBD, 0, 0, 0x80, 0, 0};
        b.insert(b.end(), payload.begin(), payload.end());
        b[4] = uint8_t((b.size() - 6) >> 8);
        b[5] = uint8_t(b.size() - 6);
        return b;
    };
    Bytes s;
    auto add = [&](const Bytes& b) { s.insert(s.end(), b.begin(), b.end()); };
    for (int i = 0; i < 7; ++i) {
        add(pack(uint64_t(i) * 3600));
        add(pes(Bytes{0x20, 0x00, 0x10, 0, 8, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11}));
        add(pes(Bytes{0xA0, 1, 0, 4, 0, 0x21, 0x80, 1, 2, 3, 4, 5, 6, 7, 8}));
    }
    add(pack(7 * 3600));
    add(pes(Bytes{0x20, 0x00}));  // cut short
    s.resize(s.size() + 40, 0);
    BS::CParserTemplateImpl<M2PS::CPSParserImpl, M2PS::CPSParserHandlerImpl, M2PS::CProgramStream> t;
    t.Reset();
    t.Parse(0, s.data(), uint32_t(s.size()), 0);
    ASSERT_TRUE(t.stream.DetectSubStreams(true));
    t.stream.FinishDetection();
    auto* sub = dynamic_cast<M2PS::CPESSubPicture*>(t.stream.active.at(CStreamKey(0, 0xBD, 0x20, 0, 0)));
    auto* lpcm = dynamic_cast<M2PS::CPESLpcm*>(t.stream.active.at(CStreamKey(0, 0xBD, 0xA0, 0, 0)));
    ASSERT_NE(sub, nullptr);
    ASSERT_NE(lpcm, nullptr);
    EXPECT_EQ(sub->typeCode, 10u);
    EXPECT_EQ(lpcm->typeCode, 8u);
    EXPECT_EQ(lpcm->stream.format.sampleRate, 44100u);
    struct Count : BS::AStreamElementStateHandler {
        void OnStateChange(BS::AStreamElement* e) override { headers += e->GetState()->code == 1; }
        void OnElementDestroyed(BS::AStreamElement*) override {}
        int headers = 0;
    } subCount, lpcmCount;
    sub->stream.AddStateHandler(&subCount);
    lpcm->stream.AddStateHandler(&lpcmCount);
    t.Reset();
    t.Parse(0, s.data(), uint32_t(s.size()), 0);
    EXPECT_EQ(subCount.headers, 7);
    EXPECT_EQ(lpcmCount.headers, 7);
    EXPECT_EQ(sub->header.unitSize, 16u);
    sub->stream.RemoveStateHandler(&subCount);
    lpcm->stream.RemoveStateHandler(&lpcmCount);
}

}  // namespace
