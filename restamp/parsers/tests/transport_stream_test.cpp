#include "restamp/parsers/M2TS.h"

#include "codec/common/TimeStamps.h"

#include <gtest/gtest.h>

#include <memory>
#include <vector>

namespace {

using Bytes = std::vector<uint8_t>;
using TSTemplate = BS::CParserTemplateImpl<M2TS::CTSParserImpl, M2TS::CTSParserHandlerImpl, M2TS::CTransportStream>;

// One 188-byte packet: header, optional adaptation field, payload, 0xFF fill.
Bytes Packet(uint16_t pid, bool unitStart, uint8_t cc, const Bytes& payload, const Bytes& af = {}) {
    Bytes b = {0x47, uint8_t((unitStart ? 0x40 : 0) | (pid >> 8)), uint8_t(pid),
               uint8_t((af.empty() ? 0x10 : 0x30) | (cc & 15))};
    if (!af.empty()) {
        b.push_back(uint8_t(af.size()));
        b.insert(b.end(), af.begin(), af.end());
    }
    b.insert(b.end(), payload.begin(), payload.end());
    b.resize(M2TS::kPacketSize, 0xFF);
    return b;
}

// A section from its table_id: 8 header bytes, the body and a (dummy) CRC.
Bytes Section(uint8_t tableId, uint16_t extension, const Bytes& body) {
    const size_t len = 5 + body.size() + 4;
    Bytes s = {tableId, uint8_t(0xB0 | (len >> 8)), uint8_t(len), uint8_t(extension >> 8), uint8_t(extension), 0xC1, 0,
               0};
    s.insert(s.end(), body.begin(), body.end());
    s.insert(s.end(), {0, 0, 0, 0});
    return s;
}

Bytes Pat(uint16_t program, uint16_t pmtPid) {
    return Section(0, 1, {uint8_t(program >> 8), uint8_t(program), uint8_t(0xE0 | (pmtPid >> 8)), uint8_t(pmtPid)});
}

struct Es {
    uint8_t type;
    uint16_t pid;
    size_t infoLength;
};

Bytes Pmt(uint16_t program, uint16_t pcrPid, const std::vector<Es>& es) {
    Bytes body = {uint8_t(0xE0 | (pcrPid >> 8)), uint8_t(pcrPid), 0xF0, 0};
    for (const Es& e : es) {
        body.insert(body.end(), {e.type, uint8_t(0xE0 | (e.pid >> 8)), uint8_t(e.pid),
                                 uint8_t(0xF0 | (e.infoLength >> 8)), uint8_t(e.infoLength)});
        body.insert(body.end(), e.infoLength, 0x0A);
    }
    return Section(2, program, body);
}

// A section in packets of one PID, pointer_field 0 in the first.
Bytes PsiPackets(uint16_t pid, const Bytes& section) {
    Bytes out, rest = section;
    rest.insert(rest.begin(), 0);  // pointer_field
    uint8_t cc = 0;
    bool first = true;
    while (!rest.empty()) {
        const size_t n = std::min<size_t>(rest.size(), 184);
        Bytes p = Packet(pid, first, cc++, Bytes(rest.begin(), rest.begin() + long(n)));
        out.insert(out.end(), p.begin(), p.end());
        rest.erase(rest.begin(), rest.begin() + long(n));
        first = false;
    }
    return out;
}

Bytes PesWithPts(uint8_t sid, uint64_t pts, size_t payload) {
    Bytes b = {0, 0, 1, sid, 0, 0, 0x80, 0x80, 5};
    uint8_t t[5];
    MpegCommon::EncodeTimeStamp(t, 2, pts);
    b.insert(b.end(), t, t + 5);
    b.insert(b.end(), payload, 0x00);
    return b;
}

void Append(Bytes& a, const Bytes& b) {
    a.insert(a.end(), b.begin(), b.end());
}

// Notes the position and PID of every packet the stream element handles.
class PacketLog : public BS::AStreamElementStateHandler {
public:
    void OnStateChange(BS::AStreamElement* e) override {
        const BS::CBaseState* st = e->GetState();
        if (st->code != 1) return;
        const auto* ev = static_cast<const M2TS::TSEvent*>(st->data);
        positions.push_back(ev->position);
        pids.push_back(ev->header->pid);
        status.push_back(static_cast<M2TS::CTransportStream*>(e)->continuityStatus);
    }
    void OnElementDestroyed(BS::AStreamElement*) override {}
    std::vector<uint64_t> positions;
    std::vector<uint16_t> pids;
    std::vector<uint32_t> status;
};

// Exact-size heap copies, so that AddressSanitizer sees any read past them.
std::unique_ptr<uint8_t[]> Exact(const Bytes& b) {
    std::unique_ptr<uint8_t[]> p(new uint8_t[b.size()]);
    std::memcpy(p.get(), b.data(), b.size());
    return p;
}

TEST(AdaptationField, OptionalPartsStayInsideTheField) {
    struct Case {
        Bytes field;  // from adaptation_field_length on
        bool valid;
        uint32_t pcrFlag;
        uint64_t pcrBase;
        uint8_t size;
    };
    uint8_t pcr[6];
    MpegCommon::EncodePcr(pcr, 90000, 7);
    Bytes withPcr = {7, 0x10};
    withPcr.insert(withPcr.end(), pcr, pcr + 6);
    const Case cases[] = {
        {{0}, true, 0, 0, 1},         {{1, 0xFF}, true, 0, 0, 2},  // every flag set, nothing behind them in the field
        {withPcr, true, 1, 90000, 8}, {{3, 0x10, 0, 0}, true, 0, 0, 4},  // PCR flag, but the field ends first
        {{184}, false, 0, 0, 1},
    };
    for (const Case& c : cases) {
        auto d = Exact(c.field);
        M2TS::CAdaptionalField af;
        EXPECT_EQ(af.Parse(d.get(), uint32_t(c.field.size())), c.valid);
        EXPECT_EQ(af.pcrFlag, c.pcrFlag);
        EXPECT_EQ(af.pcrBase, c.pcrBase);
        if (c.valid) {
            EXPECT_EQ(af.size, c.size);
        }
    }
}

TEST(Sections, LoopsReadNoFurtherThanTheBytesInHand) {
    // A PMT whose section_length claims far more than the packet holds.
    Bytes pmt = Pmt(1, 0x100, {{2, 0x100, 0}, {3, 0x101, 0}});
    pmt[1] = 0xB3;
    pmt[2] = 0xFD;                       // section_length 1021
    const uint32_t cut = 8 + 4 + 5 + 3;  // header, PCR/info, one element and part of the next
    auto d = Exact(Bytes(pmt.begin(), pmt.begin() + cut));
    M2TS::CPMTSection s;
    ASSERT_TRUE(s.Parse(d.get(), cut));
    ASSERT_EQ(s.elements.size(), 1u);
    EXPECT_EQ(s.elements[0].pid, 0x100);

    // ES_info_length beyond the section: the element is kept, its info cut.
    Bytes longInfo = Pmt(1, 0x100, {{2, 0x100, 0}});
    longInfo[8 + 4 + 3] = 0xF1;  // ES_info_length 0x100 + 0
    auto e = Exact(longInfo);
    ASSERT_TRUE(s.Parse(e.get(), uint32_t(longInfo.size())));
    ASSERT_EQ(s.elements.size(), 1u);
    EXPECT_EQ(s.elements[0].esInfoLength, 0u);

    // program_info_length larger than the section: no elements (counted signed).
    Bytes bigInfo = Pmt(1, 0x100, {{2, 0x100, 0}});
    bigInfo[8 + 2] = 0xF3;
    bigInfo[8 + 3] = 0xFF;
    auto f = Exact(bigInfo);
    ASSERT_TRUE(s.Parse(f.get(), uint32_t(bigInfo.size())));
    EXPECT_TRUE(s.elements.empty());

    Bytes pat = Pat(1, 0x1000);
    pat[2] = 0xF0;  // section_length 240, the header and one entry in hand
    auto g = Exact(Bytes(pat.begin(), pat.begin() + 12));
    M2TS::CPATSection ps;
    ASSERT_TRUE(ps.Parse(g.get(), 12));
    EXPECT_EQ(ps.entries.size(), 1u);
}

TEST(TransportStream, PmtOverTwoPacketsIsAssembled) {
    std::vector<Es> es;
    for (uint16_t i = 0; i < 8; ++i) es.push_back({uint8_t(i ? 3 : 2), uint16_t(0x100 + i), 30});
    const Bytes pmt = Pmt(1, 0x100, es);
    ASSERT_GT(pmt.size(), 184u);
    Bytes ts = PsiPackets(0, Pat(1, 0x1000));
    Append(ts, PsiPackets(0x1000, pmt));
    TSTemplate t;
    t.Reset();
    EXPECT_FALSE(t.stream.ProgramsComplete(false));
    t.Parse(0, ts.data(), uint32_t(ts.size()), 0);
    ASSERT_TRUE(t.stream.ProgramsComplete(false));
    ASSERT_EQ(t.stream.Programs().at(1).size(), 8u);
    EXPECT_EQ(t.stream.Programs().at(1)[7].pid, 0x107);
    EXPECT_EQ(t.stream.Programs().at(1)[7].esInfoLength, 30u);
    uint16_t program = 0;
    EXPECT_TRUE(t.stream.LookupPID(0x100, &program));
    EXPECT_EQ(program, 1);
}

TEST(TransportStream, ContinuityStatus) {
    struct Case {
        std::vector<uint8_t> counters;
        std::vector<uint32_t> status;
    };
    const Case cases[] = {{{14, 15, 0}, {0, 0, 0}}, {{3, 3}, {0, 2}}, {{3, 5}, {0, 1}}};
    for (const Case& c : cases) {
        Bytes ts;
        for (uint8_t cc : c.counters) Append(ts, Packet(0x200, false, cc, {}));
        TSTemplate t;
        t.Reset();
        PacketLog log;
        t.stream.AddStateHandler(&log);
        t.Parse(0, ts.data(), uint32_t(ts.size()), 0);
        EXPECT_EQ(log.status, c.status);
        t.stream.RemoveStateHandler(&log);
    }
}

// A cut first packet holds a 0x47 that a scan without confirmation takes for
// a packet of the video PID; the real packets must be the only ones read, in
// one call and when the data comes in small blocks.
TEST(TransportStream, SyncIsConfirmedAndKept) {
    Bytes real = PsiPackets(0, Pat(1, 0x1000));
    Append(real, PsiPackets(0x1000, Pmt(1, 0x100, {{2, 0x100, 0}})));
    for (uint8_t i = 0; i < 6; ++i) Append(real, Packet(0x100, i == 0, i, PesWithPts(0xE0, 3600u * i, 100)));
    Bytes forged = Packet(0x100, true, 0, PesWithPts(0xE0, 0x1ABCDEF0, 100));
    const size_t lead = 120;  // the cut packet: 20 bytes, the forged header, the rest of it
    Bytes ts(20, 0x00);
    ts.insert(ts.end(), forged.begin(), forged.begin() + long(lead - 20));
    Append(ts, real);
    for (uint32_t block : {uint32_t(ts.size()), 250u}) {
        SCOPED_TRACE(block);
        TSTemplate t;
        t.Reset();
        PacketLog log;
        t.stream.AddStateHandler(&log);
        uint64_t pos = 0;
        Bytes span;
        while (pos < ts.size()) {
            const size_t n = std::min<size_t>(block, ts.size() - pos);
            const uint64_t spanPos = pos - span.size();
            span.insert(span.end(), ts.begin() + long(pos), ts.begin() + long(pos + n));
            pos += n;
            t.Parse(spanPos, span.data(), uint32_t(span.size()), 0);
            span.erase(span.begin(), span.begin() + long(t.GetConsumed()));
        }
        t.stream.RemoveStateHandler(&log);
        ASSERT_EQ(log.positions.size(), real.size() / 188);
        for (size_t i = 0; i < log.positions.size(); ++i) EXPECT_EQ(log.positions[i], lead + 188 * i);
    }
}

TEST(TransportStream, PacketsOf204BytesAdvanceBy204) {
    Bytes ts;
    for (uint8_t i = 0; i < 4; ++i) {
        Append(ts, Packet(0x200, false, i, {}));
        ts.insert(ts.end(), 16, 0x47);  // the trailing bytes may even hold sync values
    }
    TSTemplate t;
    t.Reset();
    t.parser.packetSize = M2TS::kPacketSize204;
    t.handler.hdr.packetSize = M2TS::kPacketSize204;
    PacketLog log;
    t.stream.AddStateHandler(&log);
    t.Parse(0, ts.data(), uint32_t(ts.size()), 0);
    t.stream.RemoveStateHandler(&log);
    EXPECT_EQ(log.positions, (std::vector<uint64_t>{0, 204, 408, 612}));
}

}  // namespace
