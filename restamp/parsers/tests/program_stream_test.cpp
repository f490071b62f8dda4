#include "restamp/parsers/M1SS.h"
#include "restamp/parsers/M2PS.h"

#include "codec/common/TimeStamps.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

namespace {

using Bytes = std::vector<uint8_t>;

Bytes Pack(uint64_t scr) {
    Bytes b(14, 0);
    b[2] = 1;
    b[3] = 0xBA;
    MpegCommon::EncodePackScr(&b[4], scr, 0);
    b[10] = 0x01;
    b[11] = 0x89;
    b[12] = 0xC3;
    b[13] = 0xF8;
    return b;
}

// MPEG-2 PES packet; a PTS when pts >= 0.
Bytes Pes(uint8_t sid, const Bytes& payload, int64_t pts = -1, int lengthOverride = -1) {
    Bytes b = {0, 0, 1, sid, 0, 0, 0x80, uint8_t(pts >= 0 ? 0x80 : 0), uint8_t(pts >= 0 ? 5 : 0)};
    if (pts >= 0) {
        uint8_t t[5];
        MpegCommon::EncodeTimeStamp(t, 2, uint64_t(pts));
        b.insert(b.end(), t, t + 5);
    }
    b.insert(b.end(), payload.begin(), payload.end());
    const size_t len = lengthOverride >= 0 ? size_t(lengthOverride) : b.size() - 6;
    b[4] = uint8_t(len >> 8);
    b[5] = uint8_t(len);
    return b;
}

void Append(Bytes& a, const Bytes& b) {
    a.insert(a.end(), b.begin(), b.end());
}

TEST(PesHeader, TimeStampsAreUnsigned33Bit) {
    for (uint64_t v : {uint64_t(0), uint64_t(1) << 32, (uint64_t(1) << 33) - 1, uint64_t(8589934000)}) {
        Bytes b = Pes(0xE0, Bytes(40, 0), int64_t(v));
        M2PS::CPESPacketHdr h;
        ASSERT_TRUE(h.Parse(b.data(), uint32_t(b.size())));
        EXPECT_EQ(h.pts, v);
        EXPECT_EQ(h.payloadOffset, 14u);
    }
}

TEST(PesHeader, RefusalsAndBounds) {
    // PTS and DTS with a bad DTS marker: the header is refused as a whole.
    Bytes b = {0, 0, 1, 0xE0, 0, 30, 0x80, 0xC0, 10};
    uint8_t t[5];
    MpegCommon::EncodeTimeStamp(t, 3, 1000);
    b.insert(b.end(), t, t + 5);
    MpegCommon::EncodeTimeStamp(t, 1, 900);
    t[4] &= 0xFE;
    b.insert(b.end(), t, t + 5);
    b.resize(40, 0);
    M2PS::CPESPacketHdr h;
    EXPECT_FALSE(h.Parse(b.data(), uint32_t(b.size())));
    // MPEG-1 style packet header, stream id 0xFF, 0xBB.
    for (Bytes x : {Bytes{0, 0, 1, 0xE0, 0, 10, 0x0F, 0, 0, 0}, Bytes{0, 0, 1, 0xFF, 0, 4, 0x80, 0, 0, 0},
                    Bytes{0, 0, 1, 0xBB, 0, 4, 0x80, 0, 0, 0}})
        EXPECT_FALSE(h.Parse(x.data(), uint32_t(x.size())));
    // Private stream 1 whose payload offset lies past the data: no read outside it.
    Bytes p1 = {0, 0, 1, 0xBD, 0, 20, 0x80, 0, 40};
    ASSERT_TRUE(h.Parse(p1.data(), uint32_t(p1.size())));
    EXPECT_EQ(h.subStreamId, 0u);
    Bytes p2 = {0, 0, 1, 0xBD, 0, 20, 0x80, 0, 0, 0x81};
    ASSERT_TRUE(h.Parse(p2.data(), uint32_t(p2.size())));
    EXPECT_EQ(h.subStreamId, 0x81u);
    // Private stream 2: the payload follows the length field.
    Bytes p3 = {0, 0, 1, 0xBF, 0, 4, 1, 2, 3, 4};
    ASSERT_TRUE(h.Parse(p3.data(), uint32_t(p3.size())));
    EXPECT_EQ(h.payloadOffset, 6u);
    // The MPEG-1 pack pattern is no pack header here.
    Bytes m1 = Pack(0);
    m1[4] = 0x21;
    M2PS::CPackHdr ph;
    EXPECT_FALSE(ph.Parse(m1.data(), uint32_t(m1.size())));
    Bytes m2 = Pack(90000);
    ASSERT_TRUE(ph.Parse(m2.data(), uint32_t(m2.size())));
    EXPECT_EQ(ph.scr, 90000u);
    EXPECT_EQ(ph.muxRateBytes, 25200u * 50u);
}

// Feeds an element events and runs like the parser template does.
struct PesRun {
    M2PS::CPSParserHandlerImpl h;
    BS::ParserControl ctl;
    uint32_t Header(M2PS::CPEStream& e, const Bytes& b, uint32_t avail, uint64_t pos = 0) {
        EXPECT_TRUE(h.ParseHeader(pos, b.data(), avail));
        e.OnEvent(*h.GetEvent(), &ctl);
        return ctl.skip;
    }
};

TEST(PesStream, BoundedUnboundedAndByPidPackets) {
    Bytes pkt = Pes(0xE0, Bytes(97, 7));  // PES_packet_length 100
    ASSERT_EQ(pkt.size(), 106u);
    {
        M2PS::CPEStream e(CStreamKey(0, 0xE0, 0, 0, 0));
        PesRun r;
        EXPECT_EQ(r.Header(e, pkt, 60), 60u);
        EXPECT_EQ(e.RemainingInPacket(), 46u);
        Bytes more(80, 1);
        EXPECT_EQ(e.OnData(60, more.data(), 80, &r.ctl, 0), 1u);
        EXPECT_EQ(e.payload.length, 46u);
        EXPECT_EQ(r.ctl.skip, 46u);
        EXPECT_EQ(r.ctl.sink, nullptr);
        EXPECT_EQ(e.OnData(106, more.data(), 80, &r.ctl, 0), 0u);  // packet done
    }
    // PES_packet_length 0; the next packet starts 500 bytes on.
    Bytes open = Pes(0xE0, Bytes(491, 7), -1, 0);
    Append(open, Pes(0xE0, Bytes(40, 7)));
    {
        M2PS::CPEStream e(CStreamKey(0, 0xE0, 0, 0, 0));
        PesRun r;
        EXPECT_EQ(r.Header(e, open, uint32_t(open.size())), 500u);
        EXPECT_EQ(e.RemainingInPacket(), 0xFFFFFFFFu);
    }
    {
        M2PS::CPEStream e(CStreamKey(1, 0, 0, 0x100, 1));  // transport stream
        PesRun r;
        EXPECT_EQ(r.Header(e, open, uint32_t(open.size())), uint32_t(open.size()));
    }
    EXPECT_EQ(M2PS::CPEStream(CStreamKey(0, 0xF0, 0, 0, 0)).typeCode, 5u);
    EXPECT_STREQ(PesStreamTypeName[M2PS::CPEStream(CStreamKey(0, 0xBE, 0, 0, 0)).typeCode], "Padding");
}

// Program stream over the library's own elements, driven by the template.
using PSTemplate = BS::CParserTemplateImpl<M2PS::CPSParserImpl, M2PS::CPSParserHandlerImpl, M2PS::CProgramStream>;

struct PsWatch : BS::AStreamElementStateHandler {
    void OnStateChange(BS::AStreamElement* e) override { codes.push_back(e->GetState()->code); }
    void OnElementDestroyed(BS::AStreamElement*) override {}
    std::vector<uint32_t> codes;
};

Bytes Ac3Payload(uint8_t sub, int frames) {
    Bytes v = {sub, 1, 0, 1};
    for (int i = 0; i < frames; ++i) {
        Bytes f(1536, 0x22);
        f[0] = 0x0B;
        f[1] = 0x77;
        f[4] = 0x1C;
        f[5] = 0x40;
        Append(v, f);
    }
    return v;
}

TEST(ProgramStream, PaddingOnlyMakesOnePlainElement) {
    PsWatch w;
    PSTemplate t;
    t.Reset();
    t.stream.AddStateHandler(&w);
    Bytes s;
    for (int i = 0; i < 4; ++i) {
        Append(s, Pack(uint64_t(i) * 3600));
        Append(s, Pes(0xBE, Bytes(100, 0xFF)));
    }
    Append(s, Bytes(40, 0));
    t.Parse(0, s.data(), uint32_t(s.size()), 0);
    ASSERT_EQ(t.stream.active.size(), 1u);
    EXPECT_EQ(t.stream.active.begin()->first.streamId, 0xBE);
    EXPECT_TRUE(t.stream.detectors.empty());
    EXPECT_EQ(std::count(w.codes.begin(), w.codes.end(), 1u), 1);
    EXPECT_EQ(std::count(w.codes.begin(), w.codes.end(), 2u), 4);
}

TEST(ProgramStream, SubStreamsAreDetectedAndKeepTheirPackets) {
    PSTemplate t;
    t.Reset();
    Bytes s;
    for (int i = 0; i < 7; ++i) {
        Append(s, Pack(uint64_t(i) * 3600));
        Append(s, Pes(0xBD, Ac3Payload(0x80, 1), i * 2880));
        // LPCM packets on sub-stream 0xA0.
        Append(s, Pes(0xBD, Bytes{0xA0, 1, 0, 4, 0, 0x01, 0x80, 1, 2, 3, 4, 5, 6, 7, 8}));
    }
    Append(s, Bytes(40, 0));
    t.Parse(0, s.data(), uint32_t(s.size()), 0);
    ASSERT_EQ(t.stream.detectors.size(), 1u);
    EXPECT_TRUE(t.stream.DetectSubStreams(false));
    t.stream.FinishDetection();
    EXPECT_TRUE(t.stream.detectors.empty());
    // One AC-3 element with its own sub-stream id, one plain LPCM element.
    ASSERT_EQ(t.stream.active.size(), 2u);
    auto* ac3 = t.stream.active.at(CStreamKey(0, 0xBD, 0x80, 0, 0));
    auto* lpcm = t.stream.active.at(CStreamKey(0, 0xBD, 0xA0, 0, 0));
    EXPECT_NE(dynamic_cast<M2PS::CPESAC3*>(ac3), nullptr);
    EXPECT_EQ(ac3->typeCode, 6u);
    EXPECT_EQ(lpcm->typeCode, 8u);

    // A sub-stream registered without an id takes the rest, never 0x80's packets.
    auto* all = BS::New<M2PS::CPEStream>(CStreamKey(0, 0xBD, 0, 0, 0));
    t.stream.AddSubStream(all);
    t.Reset();
    PsWatch w80, w0;
    ac3->AddStateHandler(&w80);
    all->AddStateHandler(&w0);
    t.Parse(0, s.data(), uint32_t(s.size()), 0);
    EXPECT_EQ(std::count(w80.codes.begin(), w80.codes.end(), 1u), 7);
    EXPECT_EQ(std::count(w0.codes.begin(), w0.codes.end(), 1u), 0);  // 0xA0 has its own element
    t.stream.RemoveChild(lpcm);
    lpcm->Release();
    w0.codes.clear();
    t.Reset();
    t.Parse(0, s.data(), uint32_t(s.size()), 0);
    EXPECT_EQ(std::count(w0.codes.begin(), w0.codes.end(), 1u), 7);
    ac3->RemoveStateHandler(&w80);
    all->RemoveStateHandler(&w0);
}

TEST(ProgramStream, DetectionNeedsEveryStreamUnlessFinal) {
    PSTemplate t;
    t.Reset();
    Bytes s;
    for (int i = 0; i < 7; ++i) {
        Append(s, Pack(uint64_t(i) * 3600));
        Append(s, Pes(0xBD, Ac3Payload(0x80, 1)));
        Append(s, Pes(0xC0, Bytes(200, 0x5A)));  // never identified
    }
    Append(s, Bytes(40, 0));
    t.Parse(0, s.data(), uint32_t(s.size()), 0);
    EXPECT_EQ(t.stream.detectors.size(), 2u);
    EXPECT_FALSE(t.stream.DetectSubStreams(false));
    EXPECT_TRUE(t.stream.DetectSubStreams(true));
}

TEST(ProgramStream, OpenPacketKeepsAStartCodeCutByTheBlockEnd) {
    Bytes s;
    Append(s, Pack(0));
    const size_t first = s.size();
    Append(s, Pes(0xE0, Bytes(2000, 0x5A), 900, 0));  // PES_packet_length 0
    const size_t second = s.size();
    Append(s, Pes(0xE0, Bytes(2000, 0x5A), 1800, 0));
    Append(s, Pes(0xE0, Bytes(100, 0x5A), 2700));
    Append(s, Bytes(40, 0));
    for (size_t cut : {second + 1, second + 2, second + 3}) {
        SCOPED_TRACE(cut);
        PSTemplate t;
        t.Reset();
        // Blocks end inside the first payload and inside the second start
        // code; the caller presents what was not consumed again, as the
        // filter's span does.
        size_t done = 0;
        for (size_t end : {first + 1000, cut, s.size()}) {
            t.Parse(done, s.data() + done, uint32_t(end - done), 0);
            done += t.GetConsumed();
        }
        ASSERT_EQ(t.stream.detectors.size(), 1u);
        EXPECT_EQ(t.stream.detectors.begin()->second->packetStarts, 3u);
    }
}

TEST(StreamDetector, WaitsForSixPacketStartsOrTheFinalCall) {
    BSUtils::CStreamDetector d(CStreamKey(0, 0xC0, 0, 0, 0));
    d.family = kFormatMpegAudio;
    for (int i = 0; i < 5; ++i) {
        Bytes f(384, 0x11);
        f[0] = 0xFF;
        f[1] = 0xFD;
        f[2] = 0x84;
        f[3] = 0;
        Bytes two = f;
        Append(two, f);
        d.AddData(0, two.data(), uint32_t(two.size()), 0, true);
    }
    EXPECT_FALSE(d.Detect(false));
    EXPECT_TRUE(d.Detect(true));
    EXPECT_EQ(d.GetDetected(), uint32_t(kFormatMpegAudio));

    // A DVD subpicture packet is recognised at once.
    BSUtils::CStreamDetector p(CStreamKey(0, 0xBD, 0, 0, 0));
    p.family = kFormatSubStreams;
    Bytes sp = {0x20, 0x00, 0x10, 0, 1, 2, 3, 4};
    p.AddData(0, sp.data(), uint32_t(sp.size()), 0, true);
    EXPECT_EQ(p.GetDetected(), uint32_t(kFormatSubStreams));
    EXPECT_EQ(p.subStreams.at(0x20)->result, 3u);
}

TEST(FormatTests, ProgramStreamTests) {
    // Pack first: recognised at the PES that follows a complete PES packet.
    Bytes s;
    Append(s, Pack(0));
    Append(s, Pes(0xE0, Bytes(100, 0)));
    Append(s, Pes(0xC0, Bytes(100, 0)));
    Append(s, Bytes(40, 0));
    M2PS::DetectPS d;
    EXPECT_EQ(d.DetectProgramStream(s.data(), uint32_t(s.size())), 1);
    EXPECT_EQ(d.muxRateBytes, 25200u * 50u);
    // Only PES packets: four chained headers.
    Bytes p;
    for (int i = 0; i < 5; ++i) Append(p, Pes(0xE0, Bytes(100, 0)));
    Append(p, Bytes(40, 0));
    EXPECT_EQ(d.DetectProgramStream(p.data(), uint32_t(p.size())), 0);
    EXPECT_EQ(d.DetectProgramStreamPES(p.data(), uint32_t(p.size())), 1);
    p[106 + 4] ^= 1;  // the second packet's length no longer chains
    EXPECT_EQ(d.DetectProgramStreamPES(p.data(), uint32_t(p.size())), 0);
    // An MPEG-1 pack header anywhere is a system stream.
    Bytes m1 = {0, 0, 0, 0, 1, 0xBA, 0x21, 0, 1, 0, 1, 0x80, 0, 1, 0, 0};
    EXPECT_EQ(DetectSystemStream(m1.data(), uint32_t(m1.size())), 1);
    EXPECT_EQ(DetectSystemStream(s.data(), uint32_t(s.size())), 0);
}

}  // namespace
