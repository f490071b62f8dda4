// Access-unit rings, the input byte buffer and the buffer models.
#include "codec/scanning/AccessUnit.h"
#include "codec/multiplexer/BufferModels.h"

#include <gtest/gtest.h>

using namespace muxcore;

namespace {

AccessUnit Unit(int32_t size, int64_t dts = kNoTime, uint8_t* at = nullptr) {
    AccessUnit u = ZeroUnit();
    u.size = size;
    u.location = at;
    u.dts = dts;
    u.dtsPresent = dts != kNoTime;
    return u;
}

}  // namespace

TEST(AccessUnitQueue, CapacityWrapAndByteSum) {
    AccessUnitQueue q;
    q.Init(10000);
    for (int i = 0; i < 10000; ++i) ASSERT_EQ(q.Push(Unit(1)), 0);
    EXPECT_EQ(q.Push(Unit(1)), 1) << "the 10001st record is refused";
    EXPECT_EQ(q.GetCount(), 10000);
    EXPECT_EQ(q.ByteSum(), 10000);

    // Wrapped ring: the write index is below the head.
    AccessUnitQueue r;
    r.Init(3);
    r.Push(Unit(1));
    r.Push(Unit(2));
    r.Pop();
    r.Push(Unit(3));
    r.Push(Unit(4));
    EXPECT_EQ(r.PeekNext().size, 3);
    AccessUnit last;
    ASSERT_EQ(r.PeekLast(last), 0);
    EXPECT_EQ(last.size, 4);
    r.ReplaceHead(Unit(10));
    EXPECT_EQ(r.ByteSum(), 17);
    AccessUnit far;
    EXPECT_NE(r.At(3, far), 0);
}

TEST(AccessUnitQueue, DecodingTimeQueries) {
    AccessUnitQueue q;
    q.Init(8);
    EXPECT_EQ(q.HeadDTS(), kNoTime);
    q.Push(Unit(1));
    q.Push(Unit(1, 5000));
    q.Push(Unit(1, 9000));
    EXPECT_EQ(q.HeadDTS(), kNoTime) << "only the head counts";
    EXPECT_EQ(q.NextDTS(), 5000);
    EXPECT_EQ(q.LastDTS(), 9000);
    q.ShiftTimeStamps(100);
    EXPECT_EQ(q.NextDTS(), 5100);
}

TEST(CMemManager, RecordsFollowCompactionAndGrowth) {
    AccessUnitQueue a, b;
    a.Init(4);
    b.Init(4);
    CMemManager m;
    ASSERT_EQ(m.Init(100), 0);
    m.Bind(&a, &b, nullptr);
    uint8_t data[100];
    for (int i = 0; i < 100; ++i) data[i] = static_cast<uint8_t>(i);
    ASSERT_TRUE(m.Append(data, 60));
    a.Push(Unit(10, kNoTime, m.ReadPosition() + 50));  // points at byte 50
    m.Release(40);
    ASSERT_TRUE(m.Append(data, 70)) << "compacts to make room";
    EXPECT_EQ(*a.Peek().location, 50);
    EXPECT_FALSE(m.Append(data, 20));
    ASSERT_EQ(m.Grow(), 0);
    EXPECT_EQ(m.Capacity(), 200u);
    EXPECT_EQ(*a.Peek().location, 50) << "the record points at the same byte in the new buffer";
    EXPECT_EQ(m.Grow(), 0);
    EXPECT_EQ(m.Grow(), 0);
    EXPECT_EQ(m.Grow(), 1) << "three growth steps at most";
    EXPECT_EQ(m.Consumed(), 40u);
}

TEST(CMemManager, NearlyFullMeansNinetyPercent) {
    CMemManager m;
    ASSERT_EQ(m.Init(100), 0);
    uint8_t data[100] = {};
    m.Append(data, 89);
    EXPECT_FALSE(m.NearlyFull());
    m.Append(data, 1);
    EXPECT_TRUE(m.NearlyFull());
}

TEST(BufferModels, StatusOrder) {
    struct Case {
        int32_t size, fullness;
        int status;
    } cases[] = {
        {100, 101, kBufOverflow}, {-1, 0, kBufOverflow}, {100, 0, kBufEmpty}, {100, -3, kBufError}, {100, 50, kBufOk}};
    for (const Case& c : cases) {
        CBufSupervizor m(0, c.size, c.fullness);
        EXPECT_EQ(m.Status(), c.status) << c.size << "/" << c.fullness;
    }
}

TEST(BufferModels, ElementaryBufferAdmitsAndDrains) {
    CEBSupervizor eb(1000);
    EXPECT_EQ(eb.Admit(10), kBufEmpty);
    EXPECT_EQ(eb.GetFullness(), 0) << "no unit queued: nothing admitted";
    eb.PushUnit(Unit(300, 1000000));  // 0.1 s
    eb.PushUnit(Unit(200, 2000000));
    eb.Admit(300);
    eb.Admit(150);
    EXPECT_EQ(eb.Free(), 550);
    EXPECT_EQ(eb.NextRemoval(), 1000000);
    EXPECT_EQ(eb.Drain(TimeToTicks(1000000) - 1), kBufOk) << "before the decoding time nothing leaves";
    EXPECT_EQ(eb.GetFullness(), 450);
    // The second unit is still arriving at its decoding time: it stays.
    EXPECT_EQ(eb.Drain(TimeToTicks(2000000)), kBufNothing);
    EXPECT_EQ(eb.GetFullness(), 0);
    EXPECT_EQ(eb.QueuedUnits(), 1);
}

TEST(BufferModels, TransportBufferLeaksPerSlot) {
    CTBSupervizor tb(10.0, 512);
    EXPECT_EQ(tb.CanAcceptPacket(0), kBufOk);
    EXPECT_EQ(tb.AddBytes(188, 0), kBufOk);
    EXPECT_EQ(tb.AddBytes(188, 0), kBufOk);
    EXPECT_EQ(tb.CanAcceptPacket(0), kBufOverflow) << "376 + 188 > 512";
    EXPECT_EQ(tb.CanAcceptPacket(10), kBufOk) << "100 bytes leaked in 10 slots";
    EXPECT_EQ(tb.GetFullness(), 276);
    EXPECT_EQ(tb.CanAcceptPacket(1000), kBufOk);
    EXPECT_EQ(tb.GetFullness(), 0) << "never below 0";
}
