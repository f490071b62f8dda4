// PES, transport-packet and PSI writers.
#include "codec/common/Crc32Mpeg.h"
#include "codec/multiplexer/PacketWriters.h"

#include <gtest/gtest.h>

namespace {

std::vector<uint8_t> WritePes(NS_PES::CPESPacketHdr& h) {
    std::vector<uint8_t> b(64);
    SPL::BitstreamWriter w;
    w.Attach(b.data(), 64);
    b.resize(static_cast<size_t>(h.Write(w)));
    return b;
}

}  // namespace

TEST(PesWriter, HeaderLengthsAndStamps) {
    NS_PES::CPESPacketHdr h(0xE0, 0, 0);
    h.SetPts(1000000);  // 0.1 s = 9000 at 90 kHz
    EXPECT_EQ(h.HeaderDataLength(), 5);
    h.SetPtsDts(1000000, 600000);
    EXPECT_EQ(h.HeaderDataLength(), 10);
    h.SetPayloadLength(100);
    const auto b = WritePes(h);
    ASSERT_EQ(b.size(), 19u);
    EXPECT_EQ(b[3], 0xE0);
    EXPECT_EQ((b[4] << 8) | b[5], 19 - 6 + 100);
    EXPECT_EQ(b[7] >> 6, 3);
    EXPECT_EQ(b[9] >> 4, 3);
    EXPECT_EQ(b[14] >> 4, 1);
    const uint64_t pts =
        (uint64_t((b[9] >> 1) & 7) << 30) | (b[10] << 22) | ((b[11] >> 1) << 15) | (b[12] << 7) | (b[13] >> 1);
    EXPECT_EQ(pts, 9000u);
}

TEST(PesWriter, PstdScaleFollowsTheStreamId) {
    struct Case {
        uint8_t id;
        int32_t bytes;
        unsigned scale, size;
    } cases[] = {{0xE0, 237568, 1, 232}, {0xC0, 4096, 0, 32}, {0xBD, 8192, 1, 8}, {0xC5, 3584, 0, 28}};
    for (const Case& c : cases) {
        NS_PES::CPESPacketHdr h(c.id, 0, 0);
        h.SetPstd(c.bytes);
        const auto b = WritePes(h);
        ASSERT_EQ(b.size(), 12u);
        EXPECT_EQ(b[8], 3) << "extension flag byte and two P-STD bytes";
        EXPECT_EQ(b[10] >> 6, 1);
        EXPECT_EQ((b[10] >> 5) & 1, c.scale) << std::hex << int(c.id);
        EXPECT_EQ(((b[10] & 0x1F) << 8) | b[11], c.size) << std::hex << int(c.id);
    }
}

TEST(PesWriter, FixedSizeAndSubStream) {
    NS_PES::CPESPacketHdr h(0xBD, 2028, 0x80);
    h.SetPts(0);
    EXPECT_EQ(h.HeaderSize(), 9 + 5 + 1);
    EXPECT_EQ(h.MaxPayload(), 2028 + 6 - 15);
    h.SetStuffing(3);
    EXPECT_EQ(h.SetPayloadLength(5000), 2028 + 6 - 18) << "clamped";
    const auto b = WritePes(h);
    EXPECT_EQ(b[8], 8);
    EXPECT_EQ(b[14], 0xFF);
    EXPECT_EQ(b.back(), 0x80);
    EXPECT_EQ((b[4] << 8) | b[5], 2028);
}

TEST(TsWriter, AdaptationOnlyPacketsKeepTheCounter) {
    NS_TS::CTSPacketHdr h(0x100);
    uint8_t p[188];
    SPL::BitstreamWriter w;
    w.Attach(p, 188);
    h.Reserve(184);
    h.Write(w);
    EXPECT_EQ(p[3], 0x10) << "first payload packet: counter 0";
    // PCR only: the adaptation field fills the packet, control 10.
    w.SetPosition(0);
    h.AddPcr(27000000);
    h.StuffRest();
    EXPECT_EQ(h.Write(w), 188);
    EXPECT_EQ(p[3] >> 4, 2);
    EXPECT_EQ(p[3] & 15, 0) << "no payload: the counter does not advance";
    EXPECT_EQ(p[4], 183);
    EXPECT_EQ(p[5], 0x10) << "PCR flag in wire order";
    const uint64_t base = (uint64_t(p[6]) << 25) | (p[7] << 17) | (p[8] << 9) | (p[9] << 1) | (p[10] >> 7);
    EXPECT_EQ(base, 90000u);
    EXPECT_EQ(((p[10] & 1) << 8) | p[11], 0);
    EXPECT_EQ(p[10] & 0x7E, 0x7E);
    // Payload again: counter 1, flags keep their wire positions.
    w.SetPosition(0);
    h.AddFlag(NS_TS::CTSAdaptation::DISCONTINUITY);
    h.AddFlag(NS_TS::CTSAdaptation::RANDOM_ACCESS);
    h.AddFlag(NS_TS::CTSAdaptation::ES_PRIORITY);
    EXPECT_EQ(h.Room(), 182);
    h.Reserve(182);
    h.Write(w);
    EXPECT_EQ(p[3], 0x31);
    EXPECT_EQ(p[4], 1);
    EXPECT_EQ(p[5], 0xE0);
}

TEST(TsWriter, StuffingFillsTheRoomLeft) {
    // (payload bytes, adaptation_field_length written)
    const int cases[][2] = {{183, 0}, {182, 1}, {150, 33}, {0, 183}};
    for (const auto& c : cases) {
        NS_TS::CTSPacketHdr h(0x20);
        h.Reserve(c[0]);
        h.StuffRest();
        uint8_t p[188];
        SPL::BitstreamWriter w;
        w.Attach(p, 188);
        EXPECT_EQ(h.Write(w) + c[0], 188) << c[0];
        EXPECT_EQ(p[4], c[1]) << c[0];
        EXPECT_EQ(p[3] >> 4, c[0] ? 3 : 2) << c[0];
    }
    NS_TS::CTSPacketHdr h(0x20);
    EXPECT_EQ(h.Reserve(185), -1);
}

TEST(PsiWriter, PatAndPmtSections) {
    NS_TS::CPAT pat;
    pat.PATEntries.push_back({1, 1000});
    pat.Build(7);
    ASSERT_EQ(pat.section.size(), 1u + 3 + 13);
    EXPECT_EQ(((pat.section[2] & 0x0F) << 8) | pat.section[3], 13);
    EXPECT_EQ(MpegCommon::Crc32Mpeg2(pat.section.data() + 1, pat.section.size() - 1), 0u);
    EXPECT_TRUE(pat.PATEntries.empty());
    const auto pkts = pat.Packetize();
    ASSERT_EQ(pkts.size(), 188u);
    EXPECT_EQ(pkts[1], 0x40);
    EXPECT_EQ(pkts[187], 0xFF);

    NS_TS::CPMT pmt;
    pmt.program_number = 1;
    pmt.PCR_PID = 1001;
    SPL_TS::PMTStreamEntry e;
    e.stream_type = 2;
    e.elementary_PID = 1001;
    pmt.streams.push_back(e);
    e.stream_type = 0x81;
    e.elementary_PID = 1002;
    e.info = {0x05, 0x04, 'A', 'C', '-', '3'};
    pmt.streams.push_back(e);
    pmt.Build();
    EXPECT_EQ(((pmt.section[2] & 0x0F) << 8) | pmt.section[3], 13 + 5 + 5 + 6);
    EXPECT_EQ(MpegCommon::Crc32Mpeg2(pmt.section.data() + 1, pmt.section.size() - 1), 0u);
}
