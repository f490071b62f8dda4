// The input ring keeps the unparsed span equal to the input bytes in order,
// whatever tails the parser leaves.
#include "restamp/FilterStuff/SequentialRing.h"

#include <gtest/gtest.h>

#include <random>
#include <vector>

namespace chronel {
namespace {

constexpr uint32_t kSlice = 1000;

struct RingFixture {
    explicit RingFixture(uint32_t count) : memory(count * kSlice) { ring.Reset(memory.data(), count, kSlice); }
    // Acquires the next slice, fills it with len bytes and adds it to the span,
    // then drops the filler's own use as the input pin does.
    bool Push(const uint8_t* bytes, uint32_t len) {
        int index = ring.TryAcquireNext();
        if (index < 0) return false;
        std::copy(bytes, bytes + len, ring.SliceAt(static_cast<uint32_t>(index)));
        bool ok = ring.AddBuffer(static_cast<uint32_t>(index), len);
        ring.Release(static_cast<uint32_t>(index));
        return ok;
    }
    std::vector<uint8_t> memory;
    SequentialRing ring;
};

TEST(SequentialRing, RandomPushesKeepTheSpanInOrder) {
    std::mt19937 random(1234);
    for (uint32_t slices : {4u, 8u, 512u}) {
        RingFixture f(slices);
        std::vector<uint8_t> input(200 * kSlice);
        for (auto& b : input) b = static_cast<uint8_t>(random());
        size_t pushed = 0, consumed = 0;
        while (pushed + kSlice <= input.size()) {
            ASSERT_TRUE(f.Push(&input[pushed], kSlice)) << "at " << pushed;
            pushed += kSlice;
            uint32_t valid = 0;
            const uint8_t* span = f.ring.GetValid(&valid);
            ASSERT_EQ(pushed - consumed, valid);
            ASSERT_TRUE(std::equal(span, span + valid, &input[consumed]));
            // Leave a random tail of up to one and a half slices unparsed.
            uint32_t tail = std::min<uint32_t>(valid, static_cast<uint32_t>(random() % (kSlice * 3 / 2)));
            ASSERT_TRUE(f.ring.Advance(valid - tail));
            consumed += valid - tail;
            span = f.ring.GetValid(&valid);
            ASSERT_EQ(pushed - consumed, valid);
            ASSERT_TRUE(std::equal(span, span + valid, &input[consumed]));
        }
    }
}

TEST(SequentialRing, AdvancingToEmptyMidSliceFreesThatSlice) {
    RingFixture f(4);
    std::vector<uint8_t> chunk(kSlice, 7);
    ASSERT_TRUE(f.Push(chunk.data(), kSlice));
    ASSERT_TRUE(f.ring.Advance(600));
    EXPECT_TRUE(f.ring.InUse(0));
    ASSERT_TRUE(f.ring.Advance(400));
    EXPECT_FALSE(f.ring.InUse(0));
    uint32_t valid = 1;
    EXPECT_EQ(f.ring.SliceAt(1), f.ring.GetValid(&valid));
    EXPECT_EQ(0u, valid);
}

TEST(SequentialRing, EmptySpanAtTheBlockEndGoesBackToTheStart) {
    RingFixture f(2);
    std::vector<uint8_t> chunk(kSlice, 1);
    ASSERT_TRUE(f.Push(chunk.data(), kSlice));
    ASSERT_TRUE(f.Push(chunk.data(), kSlice));
    ASSERT_TRUE(f.ring.Advance(2 * kSlice));
    uint32_t valid = 1;
    EXPECT_EQ(f.ring.Base(), f.ring.GetValid(&valid));
    EXPECT_EQ(0u, valid);
}

TEST(SequentialRing, TailAtTheBlockEndMovesToEndOfItsSlices) {
    struct Case {
        uint32_t tail, newOffset, nextSlice;
    };
    for (const Case& c : {Case{1500, 500, 2}, Case{700, 300, 1}}) {
        RingFixture f(8);
        std::vector<uint8_t> input(8 * kSlice);
        for (size_t i = 0; i < input.size(); ++i) input[i] = static_cast<uint8_t>(i * 7);
        for (uint32_t i = 0; i < 8; ++i) ASSERT_TRUE(f.Push(&input[i * kSlice], kSlice));
        uint32_t valid = 0;
        f.ring.GetValid(&valid);
        ASSERT_TRUE(f.ring.Advance(valid - c.tail));
        const uint8_t* span = f.ring.GetValid(&valid);
        EXPECT_EQ(c.tail, valid);
        EXPECT_EQ(f.ring.Base() + c.newOffset, span);
        EXPECT_TRUE(std::equal(span, span + valid, input.end() - c.tail));
        EXPECT_EQ(static_cast<int>(c.nextSlice), f.ring.TryAcquireNext());
    }
}

TEST(SequentialRing, BusySliceBlocksAcquireAndGapsAreRefused) {
    RingFixture f(2);
    int first = f.ring.TryAcquireNext();
    int second = f.ring.TryAcquireNext();
    EXPECT_EQ(0, first);
    EXPECT_EQ(1, second);
    EXPECT_EQ(-1, f.ring.TryAcquireNext());  // slice 0 still held
    f.ring.Release(0);
    EXPECT_EQ(0, f.ring.TryAcquireNext());
    // A short chunk then a chunk in the next slice would leave a gap.
    EXPECT_TRUE(f.ring.AddBuffer(0, 10));
    EXPECT_FALSE(f.ring.AddBuffer(1, kSlice));
    EXPECT_FALSE(f.ring.Advance(11));
}

// A parser that leaves more than the free slices at the block's start can
// hold must not stop the input: the wrap keeps the newest bytes it can.
TEST(SequentialRing, TailLongerThanTheFreeSlicesKeepsItsNewestBytes) {
    struct Case {
        uint32_t slices, tail, kept, nextSlice;
    };
    // 5,000 bytes over slices 3..7 with slices 0..2 free; the whole ring left
    // unparsed (nothing free at the start).
    for (const Case& c : {Case{8, 5000, 3000, 3}, Case{4, 4000, 0, 0}}) {
        RingFixture f(c.slices);
        std::vector<uint8_t> input(c.slices * kSlice);
        for (size_t i = 0; i < input.size(); ++i) input[i] = static_cast<uint8_t>(i * 13 + 1);
        for (uint32_t i = 0; i < c.slices; ++i) ASSERT_TRUE(f.Push(&input[i * kSlice], kSlice));
        uint32_t valid = 0;
        f.ring.GetValid(&valid);
        ASSERT_TRUE(f.ring.Advance(valid - c.tail));
        const uint8_t* span = f.ring.GetValid(&valid);
        EXPECT_EQ(c.kept, valid);
        EXPECT_EQ(c.tail - c.kept, f.ring.TakeDropped());
        EXPECT_EQ(0u, f.ring.TakeDropped());
        EXPECT_TRUE(std::equal(span, span + valid, input.end() - c.kept));
        // The input goes on right behind what was kept.
        std::vector<uint8_t> next(kSlice, 0xA5);
        ASSERT_TRUE(f.Push(next.data(), kSlice));
        span = f.ring.GetValid(&valid);
        ASSERT_EQ(c.kept + kSlice, valid);
        EXPECT_EQ(f.ring.SliceAt(c.nextSlice) + kSlice, span + valid);
        EXPECT_TRUE(std::equal(span + c.kept, span + valid, next.begin()));
    }
}

TEST(SequentialRing, LongRandomTailsNeverStopTheInput) {
    std::mt19937 random(99);
    RingFixture f(8);
    std::vector<uint8_t> input(300 * kSlice);
    for (auto& b : input) b = static_cast<uint8_t>(random());
    size_t pushed = 0, gone = 0;  // gone: parsed or dropped
    while (pushed + kSlice <= input.size()) {
        ASSERT_TRUE(f.Push(&input[pushed], kSlice)) << "at " << pushed;
        pushed += kSlice;
        uint32_t valid = 0;
        f.ring.GetValid(&valid);
        uint32_t tail = std::min<uint32_t>(valid, static_cast<uint32_t>(random() % (7 * kSlice)));
        ASSERT_TRUE(f.ring.Advance(valid - tail));
        gone += valid - tail + f.ring.TakeDropped();
        const uint8_t* span = f.ring.GetValid(&valid);
        ASSERT_EQ(pushed - gone, valid);
        ASSERT_TRUE(std::equal(span, span + valid, &input[gone]));
    }
}

}  // namespace
}  // namespace chronel
