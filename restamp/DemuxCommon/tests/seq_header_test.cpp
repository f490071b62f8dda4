#include "restamp/DemuxCommon/SeqHeaderInsertion.h"
#include "restamp/DemuxCommon/TimeMarkerCore.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

constexpr uint64_t kStart = 5000;  // stream position of the chunk
constexpr uint32_t kChunk = 1000;

struct Marks {
    uint64_t gop, packet;
};

// A chunk with a packet header (and its length field) at `packetAt`.
std::vector<uint8_t> Chunk(uint32_t packetAt, uint16_t packetLength) {
    std::vector<uint8_t> c(kChunk, 0x55);
    c[packetAt] = 0;
    c[packetAt + 1] = 0;
    c[packetAt + 2] = 1;
    c[packetAt + 3] = 0xE0;
    c[packetAt + 4] = uint8_t(packetLength >> 8);
    c[packetAt + 5] = uint8_t(packetLength);
    return c;
}

TEST(SeqHeaderInsertion, Plans) {
    struct Case {
        const char* what;
        uint64_t gop, packet;
        uint16_t length;
        uint32_t headerSize;
        bool insert;
        uint32_t split;
        uint32_t newLength;
    };
    const Case cases[] = {
        {"GOP at 100 in the packet at 20", kStart + 100, kStart + 20, 2000, 140, true, 100, 2140},
        {"packet length would pass 65,535", kStart + 100, kStart + 20, 65500, 140, false, kChunk, 0},
        {"unbounded packet", kStart + 100, kStart + 20, 0, 140, false, kChunk, 0},
        {"2,000-byte header run", kStart + 100, kStart + 20, 1000, 2000, true, 100, 3000},
        {"packet header in an earlier chunk", kStart + 100, kStart - 10, 2000, 140, false, kChunk, 0},
        {"packet header cut at the chunk's end", kStart + 999, kStart + 996, 2000, 140, false, kChunk, 0},
        {"GOP in the next chunk", kStart + kChunk, kStart + 20, 2000, 140, false, kChunk, 0},
        {"no GOP marked", 0, kStart + 20, 2000, 140, false, kChunk, 0},
        {"no packet marked", kStart + 100, 0, 2000, 140, false, kChunk, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const uint32_t packetAt =
            c.packet >= kStart && c.packet + 6 <= kStart + kChunk ? uint32_t(c.packet - kStart) : 20;
        auto chunk = Chunk(packetAt, c.length);
        CSeqHeaderProcessor h;
        std::vector<uint8_t> run(c.headerSize, 0xB3);
        h.Set(run.data(), uint32_t(run.size()));
        EXPECT_EQ(h.Length(), c.headerSize);  // kept whole
        CSSPositionWatcher w;
        w.gop = c.gop;
        w.packet = c.packet;
        const CDeliveryPlan plan = PlanDelivery(kStart, chunk.data(), kChunk, w, &h);
        EXPECT_EQ(plan.insert, c.insert);
        EXPECT_EQ(plan.split, c.split);
        ApplyPlan(plan, chunk.data());
        const uint32_t len = (uint32_t(chunk[packetAt + 4]) << 8) | chunk[packetAt + 5];
        EXPECT_EQ(len, c.insert ? c.newLength : c.length);
    }
    // Without a pending header every chunk goes out unchanged.
    auto chunk = Chunk(20, 2000);
    CSSPositionWatcher w;
    w.gop = kStart + 100;
    w.packet = kStart + 20;
    EXPECT_FALSE(PlanDelivery(kStart, chunk.data(), kChunk, w, nullptr).insert);
}

// A program stream (or any input without a pending header) comes out of the
// chunk road in one piece per chunk.
TEST(SeqHeaderInsertion, OnePiecePerChunkWithoutHeader) {
    CTimeMarkerCore core;
    std::vector<uint8_t> chunk(kChunk, 0);
    CChunkPiece pieces[CTimeMarkerCore::kMaxPieces];
    for (int i = 0; i < 5; ++i) {
        ASSERT_EQ(core.ProcessChunk(chunk.data(), kChunk, pieces), 1u);
        EXPECT_EQ(pieces[0].data, chunk.data());
        EXPECT_EQ(pieces[0].length, kChunk);
        EXPECT_FALSE(pieces[0].inserted);
    }
}

}  // namespace
