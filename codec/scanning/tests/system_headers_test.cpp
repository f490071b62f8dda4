#include "codec/common/Crc32Mpeg.h"
#include "codec/common/TimeStamps.h"
#include "codec/scanning/PSHeaders.h"
#include "codec/scanning/TSHeaders.h"
#include "test_util.h"

#include <gtest/gtest.h>

using namespace spltest;
using namespace SPL_PS;
using namespace SPL_TS;

namespace {

struct PesFields {
    uint8_t id = 0xE0;
    uint16_t packetLength = 0;
    uint8_t flags1 = 0x84;
    int ptsDts = 0;  // 0 none, 2 PTS, 3 PTS and DTS
    uint64_t pts = 0, dts = 0;
    uint8_t extraHeader = 0;  // stuffing counted in PES_header_data_length
    uint8_t sub = 0;          // written after the header for 0xBD/0xBF
    size_t payload = 20;
};

Bytes Pes(const PesFields& f) {
    Bytes b = {0, 0, 1, f.id, static_cast<uint8_t>(f.packetLength >> 8), static_cast<uint8_t>(f.packetLength)};
    if (f.id == 0xBE || f.id == 0xBF) {
        if (f.id == 0xBF) b.push_back(f.sub);
        b.resize(b.size() + f.payload, 0xAA);
        return b;
    }
    const uint8_t hdl = static_cast<uint8_t>((f.ptsDts == 2 ? 5 : f.ptsDts == 3 ? 10 : 0) + f.extraHeader);
    b.push_back(f.flags1);
    b.push_back(static_cast<uint8_t>(f.ptsDts << 6));
    b.push_back(hdl);
    uint8_t ts[5];
    if (f.ptsDts >= 2) {
        MpegCommon::EncodeTimeStamp(ts, f.ptsDts == 3 ? 3 : 2, f.pts);
        b.insert(b.end(), ts, ts + 5);
    }
    if (f.ptsDts == 3) {
        MpegCommon::EncodeTimeStamp(ts, 1, f.dts);
        b.insert(b.end(), ts, ts + 5);
    }
    b.resize(b.size() + f.extraHeader, 0xFF);
    if (f.id == 0xBD) b.push_back(f.sub);
    b.resize(b.size() + f.payload, 0xAA);
    return b;
}

Bytes WithCrc(Bytes section) {
    const uint32_t crc = MpegCommon::Crc32Mpeg2(section.data(), section.size());
    for (int i = 3; i >= 0; --i) section.push_back(static_cast<uint8_t>(crc >> (8 * i)));
    return section;
}

Bytes PatSection(const std::vector<std::pair<uint16_t, uint16_t>>& programs) {
    return WithCrc(Build([&](SPL::BitstreamWriter& w) {
        w.PutBits(0, 8);
        w.PutBits(1, 1);
        w.PutBits(0, 1);
        w.PutBits(3, 2);
        w.PutBits(9 + 4 * programs.size(), 12);
        w.PutBits(0x0001, 16);
        w.PutBits(3, 2);
        w.PutBits(7, 5);
        w.PutBits(1, 1);
        w.PutBits(0, 16);
        for (auto& p : programs) {
            w.PutBits(p.first, 16);
            w.PutBits(7, 3);
            w.PutBits(p.second, 13);
        }
    }));
}

struct PmtStream {
    uint8_t type;
    uint16_t pid;
    Bytes info;
};

Bytes PmtSection(uint16_t program, uint16_t pcrPid, const Bytes& programInfo, const std::vector<PmtStream>& streams) {
    size_t len = 13 + programInfo.size();
    for (auto& s : streams) len += 5 + s.info.size();
    return WithCrc(Build([&](SPL::BitstreamWriter& w) {
        w.PutBits(2, 8);
        w.PutBits(1, 1);
        w.PutBits(0, 1);
        w.PutBits(3, 2);
        w.PutBits(len, 12);
        w.PutBits(program, 16);
        w.PutBits(3, 2);
        w.PutBits(0, 5);
        w.PutBits(1, 1);
        w.PutBits(0, 16);
        w.PutBits(7, 3);
        w.PutBits(pcrPid, 13);
        w.PutBits(15, 4);
        w.PutBits(programInfo.size(), 12);
        w.PutBytes(programInfo.data(), static_cast<int32_t>(programInfo.size()));
        for (auto& s : streams) {
            w.PutBits(s.type, 8);
            w.PutBits(7, 3);
            w.PutBits(s.pid, 13);
            w.PutBits(15, 4);
            w.PutBits(s.info.size(), 12);
            w.PutBytes(s.info.data(), static_cast<int32_t>(s.info.size()));
        }
    }));
}

}  // namespace

TEST(PSPesPacket, RoundTripOfWrittenHeaders) {
    const uint64_t maxTs = (uint64_t(1) << 33) - 1;
    struct Case {
        PesFields f;
        uint32_t headerLength;
    } cases[] = {
        {{0xE0, 0, 0x84, 2, 0, 0, 0, 0, 20}, 14},      {{0xE0, 1000, 0x84, 3, maxTs, 12345, 0, 0, 20}, 19},
        {{0xC0, 34, 0x80, 2, 90000, 0, 3, 0, 20}, 17}, {{0xBD, 40, 0x81, 2, 1, 0, 0, 0x80, 20}, 14},
        {{0xBD, 40, 0x81, 0, 0, 0, 0, 0xA0, 20}, 9},   {{0xBF, 30, 0, 0, 0, 0, 0, 0x42, 20}, 6},
        {{0xBE, 30, 0, 0, 0, 0, 0, 0, 20}, 6},         {{0xBC, 30, 0x80, 0, 0, 0, 0, 0, 20}, 9},
        {{0xFE, 0, 0x80, 0, 0, 0, 0, 0, 20}, 9},
    };
    for (const auto& c : cases) {
        const Bytes b = Pes(c.f);
        Exact e(b);
        PSPesPacket p;
        ASSERT_TRUE(p.Parse(e.data(), e.size(), true)) << std::hex << int(c.f.id);
        EXPECT_EQ(c.f.id, p.stream_id);
        EXPECT_EQ(c.f.packetLength, p.PES_packet_length);
        EXPECT_EQ(c.headerLength, p.HeaderLength()) << std::hex << int(c.f.id);
        EXPECT_EQ(c.f.packetLength ? c.f.packetLength + 6u : 0u, p.PacketSize());
        EXPECT_EQ(c.f.ptsDts >= 2, p.HasPts());
        EXPECT_EQ(c.f.ptsDts == 3, p.HasDts());
        if (p.HasPts()) {
            EXPECT_EQ(c.f.pts, p.PTS());
        }
        if (p.HasDts()) {
            EXPECT_EQ(c.f.dts, p.DTS());
        }
        EXPECT_EQ((c.f.id == 0xBD || c.f.id == 0xBF) ? c.f.sub : 0, p.sub_stream_id);
    }
}

TEST(PSPesPacket, Refusals) {
    PesFields f;
    for (uint8_t id : {0xBB, 0xFF, 0xBA, 0x00}) {
        f.id = id;
        const Bytes b = Pes(f);
        PSPesPacket p;
        EXPECT_FALSE(p.Parse(b.data(), static_cast<uint32_t>(b.size()), true)) << int(id);
    }
    // An MPEG-1 packet header (no '10' marker) only passes a lax parse.
    f = PesFields();
    f.flags1 = 0x0F;
    Bytes b = Pes(f);
    PSPesPacket p;
    EXPECT_FALSE(p.Parse(b.data(), static_cast<uint32_t>(b.size()), true));
    EXPECT_TRUE(p.Parse(b.data(), static_cast<uint32_t>(b.size()), false));
    // A header whose time stamps are cut off is refused without reading on.
    f = PesFields();
    f.ptsDts = 3;
    b = Pes(f);
    for (uint32_t n : {8u, 13u, 18u}) {
        Exact e(b.data(), n);
        EXPECT_FALSE(p.Parse(e.data(), e.size(), true)) << n;
        EXPECT_TRUE(p.IsTruncated()) << n;
    }
    Exact full(b.data(), 19);
    EXPECT_TRUE(p.Parse(full.data(), full.size(), true));
}

TEST(PSPackHeader, ScrRoundTripAndMarkers) {
    auto pack = [](uint64_t base, uint32_t ext, uint32_t mux) {
        Bytes b = {0, 0, 1, 0xBA};
        uint8_t scr[6];
        MpegCommon::EncodePackScr(scr, base, ext);
        b.insert(b.end(), scr, scr + 6);
        b.push_back(static_cast<uint8_t>(mux >> 14));
        b.push_back(static_cast<uint8_t>(mux >> 6));
        b.push_back(static_cast<uint8_t>((mux & 0x3F) << 2 | 3));
        b.push_back(0xF8);
        return b;
    };
    Bytes b = pack(0x1ABCDEF01ull, 299, 25200);
    Exact e(b);
    PSPackHeader h;
    ASSERT_TRUE(h.Parse(e.data(), e.size()));
    EXPECT_EQ(0x1ABCDEF01ull, h.system_clock_reference_base);
    EXPECT_EQ(299u, h.system_clock_reference_extension);
    EXPECT_EQ(25200u, h.program_mux_rate);
    struct Marker {
        size_t at;
        uint8_t bit;
        bool tested;
    } markers[] = {{4, 0x04, true}, {6, 0x04, true},  {8, 0x04, false},
                   {9, 0x01, true}, {12, 0x01, true}, {12, 0x02, true}};
    for (const auto& m : markers) {
        Bytes bad = b;
        bad[m.at] &= static_cast<uint8_t>(~m.bit);
        EXPECT_EQ(!m.tested, h.Parse(bad.data(), static_cast<uint32_t>(bad.size()))) << m.at;
    }
    b[4] = 0x21;  // an MPEG-1 pack
    EXPECT_FALSE(h.Parse(b.data(), static_cast<uint32_t>(b.size())));
    EXPECT_FALSE(h.Parse(e.data(), 12));
}

TEST(PSHdrSysPack, StreamListIsCappedAndChecked) {
    auto sys = [](int streams, uint8_t fixedBits) {
        Bytes body = Build([&](SPL::BitstreamWriter& w) {
            w.PutBits(1, 1);
            w.PutBits(25200, 22);
            w.PutBits(1, 1);
            w.PutBits(2, 6);
            w.PutBits(0xA, 4);
            w.PutBits(1, 1);
            w.PutBits(1, 5);
            w.PutBits(0, 1);
            w.PutBits(0x7F, 7);
            for (int i = 0; i < streams; ++i) {
                w.PutBits(0xC0 + i, 8);
                w.PutBits(fixedBits, 2);
                w.PutBits(0, 1);
                w.PutBits(32, 13);
            }
        });
        Bytes b = {0, 0, 1, 0xBB, static_cast<uint8_t>(body.size() >> 8), static_cast<uint8_t>(body.size())};
        b.insert(b.end(), body.begin(), body.end());
        return b;
    };
    PSHdrSysPack h;
    Bytes b = sys(40, 3);
    Exact e(b);
    ASSERT_TRUE(h.Parse(e.data(), e.size()));
    EXPECT_EQ(32u, h.stream_count);
    EXPECT_EQ(0xC0 + 31, h.stream_ids[31]);
    EXPECT_EQ(25200u * 400u, h.rate);
    EXPECT_EQ(2u, h.audio_bound);
    EXPECT_EQ(1, h.fixed_flag);
    EXPECT_EQ(1u, h.video_bound);
    b = sys(2, 3);
    ASSERT_TRUE(h.Parse(b.data(), static_cast<uint32_t>(b.size())));
    EXPECT_EQ(2u, h.stream_count);
    b = sys(2, 1);
    EXPECT_FALSE(h.Parse(b.data(), static_cast<uint32_t>(b.size())));
    b = sys(3, 3);
    EXPECT_FALSE(h.Parse(b.data(), static_cast<uint32_t>(b.size()) - 1));  // header_length beyond the data
}

TEST(PSMap, EntriesLengthsAndFinalShortEntry) {
    auto psm = [](uint16_t mapLength, const Bytes& info, const std::vector<Bytes>& entries, int esmAdjust = 0) {
        Bytes esm;
        for (auto& e : entries) esm.insert(esm.end(), e.begin(), e.end());
        Bytes b = {0,
                   0,
                   1,
                   0xBC,
                   static_cast<uint8_t>(mapLength >> 8),
                   static_cast<uint8_t>(mapLength),
                   0x83,
                   0xFF,
                   static_cast<uint8_t>(info.size() >> 8),
                   static_cast<uint8_t>(info.size())};
        b.insert(b.end(), info.begin(), info.end());
        const size_t esml = esm.size() + esmAdjust;
        b.push_back(static_cast<uint8_t>(esml >> 8));
        b.push_back(static_cast<uint8_t>(esml));
        b.insert(b.end(), esm.begin(), esm.end());
        b.insert(b.end(), {0, 0, 0, 0});  // CRC, not checked
        return b;
    };
    const Bytes video = {0x02, 0xE0, 0x00, 0x03, 0x0A, 0x0B, 0x0C};
    const Bytes audio = {0x03, 0xC0, 0x00, 0x00};  // the final 4-byte entry
    PSMap m;
    Bytes b = psm(30, {0x11, 0x22}, {video, audio});
    Exact e(b);
    ASSERT_TRUE(m.Parse(e.data(), e.size()));
    EXPECT_EQ(1, m.current_next_indicator);
    EXPECT_EQ(3, m.program_stream_map_version);
    EXPECT_EQ(2, m.program_stream_info_length);
    EXPECT_EQ(0x22, m.info[1]);
    ASSERT_EQ(2u, m.entries.size());
    EXPECT_EQ((Bytes{0x0A, 0x0B, 0x0C}), m.entries[0].info);
    EXPECT_EQ(0xC0, m.entries[1].elementary_stream_id);

    b = psm(1019, {}, {video});
    EXPECT_FALSE(m.Parse(b.data(), static_cast<uint32_t>(b.size())));
    b = psm(1018, {}, {video});
    EXPECT_TRUE(m.Parse(b.data(), static_cast<uint32_t>(b.size())));
    // An entry whose info runs past the elementary stream map is refused.
    b = psm(30, {}, {video}, -1);
    EXPECT_FALSE(m.Parse(b.data(), static_cast<uint32_t>(b.size())));
    EXPECT_TRUE(m.entries.empty());
    // An info length that does not fit the data is refused before copying.
    b = psm(30, Bytes(20, 1), {video});
    Exact cut(b.data(), 30);
    EXPECT_FALSE(m.Parse(cut.data(), cut.size()));
    // Fewer than 4 bytes of map: accepted without entries.
    b = psm(30, {}, {}, 3);
    ASSERT_TRUE(m.Parse(b.data(), static_cast<uint32_t>(b.size())));
    EXPECT_TRUE(m.entries.empty());
}

namespace {

struct PesRecorder : SPL::StreamStateListener {
    std::vector<std::pair<int, uint32_t>> seen;  // state, payload length
    void OnStreamState(SPL::StreamStateHelper* s) override {
        auto* st = dynamic_cast<PSPESStream*>(s);
        seen.emplace_back(st->GetState(), st->GetState() == PES_PAYLOAD ? st->Current()->GetLength() : 0);
    }
};

}  // namespace

TEST(PSPESStream, MeasuresBoundedUnboundedAndKeyedPackets) {
    struct Case {
        uint16_t packetLength;
        size_t payload;
        bool nextStart;
        bool keyed;
        uint32_t part;
        int32_t toCome;
    } cases[] = {
        {0, 40, false, false, 14 + 40 - 3, -1},  // unbounded, rest kept for the next buffer
        {0, 40, true, false, 14 + 40, 0},        // unbounded, ends at the next start code
        {48, 40, false, false, 54, 0},           // bounded, all here
        {148, 40, false, false, 54, 100},        // bounded, 100 bytes still to come
        {48, 40, true, true, 54, 0},             // keyed, size within the buffer
        {0, 40, true, true, 54 + 10, -1},        // keyed, unbounded: the whole buffer
    };
    for (const auto& c : cases) {
        PesFields f;
        f.packetLength = c.packetLength;
        f.ptsDts = 2;
        f.payload = c.payload;
        Bytes b = Pes(f);
        if (c.nextStart) b.insert(b.end(), {0, 0, 1, 0xC0, 0, 0, 0x80, 0, 0, 0});
        Exact e(b);
        SPL::StreamKey key;
        key.flags = c.keyed ? 1 : 0;
        PSPESStream stream(key);
        PesRecorder rec;
        stream.AddListener(&rec);
        PSProgramStreamParserConsumer consumer;
        SPL::BaseEvent* ev = consumer.ParseHeader(1000, e.data(), e.size());
        ASSERT_NE(nullptr, ev);
        uint32_t out = 0;
        EXPECT_TRUE(stream.OnEvent(ev, &out));
        EXPECT_EQ(c.part, out) << c.packetLength << "/" << c.nextStart << "/" << c.keyed;
        EXPECT_EQ(c.toCome, stream.StillToCome());
        EXPECT_EQ(1000 + static_cast<int64_t>(c.part), stream.NextPosition());
        ASSERT_EQ(2u, rec.seen.size());
        EXPECT_EQ(PES_HEADER, rec.seen[0].first);
        EXPECT_EQ(c.part - 14, rec.seen[1].second);
    }
}

TEST(PSPESStream, ContinuationSkipsOverlapAndStopsAtTheNextStart) {
    PesFields f;
    f.packetLength = 108;  // 114 bytes in all
    f.payload = 40;
    Bytes b = Pes(f);
    Exact e(b);
    PSPESStream stream;
    PSProgramStreamParserConsumer consumer;
    uint32_t out = 0;
    ASSERT_TRUE(stream.OnEvent(consumer.ParseHeader(0, e.data(), e.size()), &out));
    EXPECT_EQ(49u, out);
    EXPECT_EQ(65, stream.StillToCome());

    // The next buffer repeats 9 bytes already taken, then brings 100 more.
    Bytes next(109, 0x55);
    SPL::PayloadResult r;
    ASSERT_TRUE(stream.OnData(40, next.data(), static_cast<uint32_t>(next.size()), &r, 0));
    EXPECT_EQ(65u, r.part);
    EXPECT_EQ(0, r.stillToCome);
    EXPECT_EQ(49 + 65, stream.NextPosition());
    // Data wholly before the expected position is refused.
    EXPECT_FALSE(stream.OnData(0, next.data(), 50, &r, 0));

    // An unbounded packet's payload ends at the next PES start.
    f.packetLength = 0;
    b = Pes(f);
    Exact u(b);
    ASSERT_TRUE(stream.OnEvent(consumer.ParseHeader(0, u.data(), u.size()), &out));
    EXPECT_EQ(-1, stream.StillToCome());
    Bytes more(30, 0x66);
    more.insert(more.end(), {0, 0, 1, 0xE0, 0, 0});
    ASSERT_TRUE(stream.OnData(out, more.data(), static_cast<uint32_t>(more.size()), &r, 0));
    EXPECT_EQ(30u, r.part);
    EXPECT_EQ(0, r.stillToCome);
}

TEST(TSPacketHdr, HeaderAndAdaptationField) {
    auto packet = [](uint8_t afc, const Bytes& af) {
        Bytes p = {0x47, 0x41, 0x00, static_cast<uint8_t>(afc << 4 | 7)};
        p.insert(p.end(), af.begin(), af.end());
        p.resize(188, 0xFF);
        return p;
    };
    TSPacketHdr h;
    Bytes p = packet(1, {});
    ASSERT_TRUE(h.Parse(p.data(), 188));
    EXPECT_EQ(0x100u, h.PID());
    EXPECT_EQ(1u, h.PayloadUnitStart());
    EXPECT_EQ(7u, h.ContinuityCounter());
    EXPECT_EQ(nullptr, h.Adaptation());
    p[0] = 0x46;
    EXPECT_FALSE(h.Parse(p.data(), 188));

    // Length 0: accepted with the PCR and OPCR flags cleared.
    p = packet(3, {0x00, 0x18});
    ASSERT_TRUE(h.Parse(p.data(), 188));
    ASSERT_NE(nullptr, h.Adaptation());
    EXPECT_EQ(0, h.Adaptation()->flags & 0x18);
    p = packet(2, {184});
    EXPECT_FALSE(h.Parse(p.data(), 188));
    EXPECT_EQ(nullptr, h.Adaptation());

    // PCR and OPCR: base 2^32 + 5 keeps its low 32 bits.
    uint8_t pcr[6], opcr[6];
    MpegCommon::EncodePcr(pcr, (uint64_t(1) << 32) + 5, 7);
    MpegCommon::EncodePcr(opcr, 0x12345678, 0);
    Bytes af = {13, 0x18};
    af.insert(af.end(), pcr, pcr + 6);
    af.insert(af.end(), opcr, opcr + 6);
    p = packet(3, af);
    Exact e(p);
    ASSERT_TRUE(h.Parse(e.data(), e.size()));
    EXPECT_EQ(5u * 300 + 7, h.Adaptation()->pcr);
    EXPECT_EQ(0x12345678u, h.Adaptation()->opcrBase);
    // The flags announce more than the field's own length holds.
    af[0] = 7;
    p = packet(3, af);
    EXPECT_FALSE(h.Parse(p.data(), 188));
    // A packet cut inside its adaptation field.
    Exact cut(e.data(), 10);
    EXPECT_FALSE(h.Parse(cut.data(), cut.size()));
}

TEST(TSTablePAT, EntriesAndCrc) {
    TSTablePAT pat;
    Bytes s = PatSection({{1, 0x1000}});
    Exact e(s);
    ASSERT_TRUE(pat.Parse(e.data(), e.size()));
    ASSERT_EQ(1u, pat.PATEntries.size());
    EXPECT_EQ(1, pat.PATEntries[0].program_number);
    EXPECT_EQ(0x1000, pat.PATEntries[0].PID);
    EXPECT_EQ(13, pat.section_length);
    EXPECT_EQ(7, pat.version_number);

    s = PatSection({{0, 0x10}, {1, 0x1000}, {2, 0x1001}});
    ASSERT_TRUE(pat.Parse(s.data(), static_cast<uint32_t>(s.size())));
    EXPECT_EQ(3u, pat.PATEntries.size());
    EXPECT_EQ(0, pat.PATEntries[0].program_number);  // network PID kept

    s[9] ^= 1;
    EXPECT_FALSE(pat.Parse(s.data(), static_cast<uint32_t>(s.size())));
    EXPECT_TRUE(pat.PATEntries.empty());
    // A section_length beyond the data: the CRC is not run over missing bytes.
    Exact cut(e.data(), e.size() - 1);
    EXPECT_FALSE(pat.Parse(cut.data(), cut.size()));
    s = PatSection({});
    EXPECT_FALSE(pat.Parse(s.data(), static_cast<uint32_t>(s.size())));
}

TEST(TSTable, SectionAssembledOverThreePackets) {
    std::vector<PmtStream> streams;
    for (int i = 0; i < 40; ++i)
        streams.push_back({0x04, static_cast<uint16_t>(0x100 + i), Bytes(2, static_cast<uint8_t>(i))});
    const Bytes s = PmtSection(1, 0x100, {}, streams);  // 16 + 40 * 7 = 296 bytes
    ASSERT_GT(s.size(), 184u * 1);
    TSTablePMT pmt;
    uint32_t n = 150;
    ASSERT_TRUE(pmt.Assemble(s.data(), n, true));
    EXPECT_EQ(150u, n);
    EXPECT_FALSE(pmt.IsComplete());
    n = 100;
    ASSERT_TRUE(pmt.Assemble(s.data() + 150, n, false));
    EXPECT_FALSE(pmt.IsComplete());
    n = 184;  // more than is missing
    ASSERT_TRUE(pmt.Assemble(s.data() + 250, n, false));
    EXPECT_EQ(s.size() - 250, n);
    ASSERT_TRUE(pmt.IsComplete());
    EXPECT_EQ(2, pmt.table_id);
    ASSERT_TRUE(pmt.Parse(pmt.Section(), pmt.SectionSize()));
    EXPECT_EQ(40u, pmt.streams.size());
    EXPECT_EQ(0x127, pmt.streams[39].elementary_PID);
    EXPECT_EQ(0u, MpegCommon::Crc32Mpeg2(pmt.Section(), pmt.SectionSize()));

    // A section whose header is split after its third byte.
    const Bytes pat = PatSection({{1, 0x1000}, {2, 0x1001}});
    TSTablePAT split;
    n = 5;
    ASSERT_TRUE(split.Assemble(pat.data(), n, true));
    EXPECT_EQ(17, split.section_length);
    n = 184;
    ASSERT_TRUE(split.Assemble(pat.data() + 5, n, false));
    ASSERT_TRUE(split.IsComplete());
    EXPECT_EQ(1, split.table_id_extension);
    ASSERT_TRUE(split.Parse(split.Section(), split.SectionSize()));
    EXPECT_EQ(2u, split.PATEntries.size());
    n = 2;
    EXPECT_FALSE(split.Assemble(pat.data(), n, true));
    const uint8_t stuffing[] = {0xFF, 0xFF, 0xFF, 0xFF};
    n = 4;
    EXPECT_FALSE(split.Assemble(stuffing, n, true));

    // A continuation without a started section is refused.
    TSTablePAT fresh;
    n = 10;
    EXPECT_FALSE(fresh.Assemble(s.data(), n, false));
}

TEST(TSTablePMT, EntriesAndLengthChecks) {
    TSTablePMT pmt;
    Bytes s = PmtSection(7, 0x1FF, {0x0A, 0x02, 0x65, 0x6E},
                         {{0x02, 0x100, {}}, {0x81, 0x101, {0x05, 0x04, 'A', 'C', '-', '3'}}});
    Exact e(s);
    ASSERT_TRUE(pmt.Parse(e.data(), e.size()));
    EXPECT_EQ(7, pmt.program_number);
    EXPECT_EQ(0x1FF, pmt.PCR_PID);
    EXPECT_EQ(4, pmt.program_info_length);
    EXPECT_EQ(0x65, pmt.program_info[2]);
    ASSERT_EQ(2u, pmt.streams.size());
    EXPECT_EQ(0x81, pmt.streams[1].stream_type);
    EXPECT_EQ(6, pmt.streams[1].ES_info_length);
    EXPECT_EQ('3', pmt.streams[1].info[5]);
    pmt.streams[1].Reset();
    EXPECT_EQ(0, pmt.streams[1].ES_info_length);
    EXPECT_EQ(0u, pmt.streams[1].info.capacity());

    // Program info longer than the data: refused before anything is copied.
    Bytes bad = s;
    bad[10] = 0xF0 | 0x0F;
    bad[11] = 0xFF;
    EXPECT_FALSE(pmt.Parse(bad.data(), static_cast<uint32_t>(bad.size())));
    // An ES info length that runs past the data.
    bad = s;
    bad[12 + 4 + 5 + 3] = 0xF0;
    bad[12 + 4 + 5 + 4] = 0x40;
    Exact be(bad);
    EXPECT_FALSE(pmt.Parse(be.data(), be.size()));
    EXPECT_TRUE(pmt.streams.empty());
    bad = s;
    bad[0] = 3;
    EXPECT_FALSE(pmt.Parse(bad.data(), static_cast<uint32_t>(bad.size())));
}
