#include "codec/videoencoder/CaptionQueue.h"

#include <gtest/gtest.h>

#include <thread>

namespace videoenc {
namespace {

using Bytes = std::vector<std::uint8_t>;

const std::int64_t kFrame = 400000;  // 25 fps in 100 ns

class CaptionQueueTest : public ::testing::Test {
protected:
    void SetUp() override { queue.SetStopped(false); }
    void Push(const Bytes& b, std::int64_t start = 0) { queue.Push(b.data(), b.size(), start, start + kFrame); }
    std::optional<Bytes> Build(CaptionForm form, std::int64_t start = 0) {
        return queue.BuildUserData(start, start + kFrame, form);
    }
    CaptionQueue queue;
};

TEST_F(CaptionQueueTest, AtscPacketAndItsPairLimit) {
    Push({0xC1, 0xC2, 0x43, 0x44});
    EXPECT_EQ((Bytes{0x47, 0x41, 0x39, 0x34, 0x03, 0x42, 0x00, 0xFC, 0xC1, 0xC2, 0xFC, 0x43, 0x44, 0xFF}),
              Build(CaptionForm::Atsc));
    // One pair per entry: 31 entries go, the rest wait for the next frame.
    for (int i = 0; i < 40; ++i) Push({static_cast<std::uint8_t>(i), 0x80});
    const std::optional<Bytes> full = Build(CaptionForm::Atsc);
    ASSERT_TRUE(full);
    EXPECT_EQ(3u * 31 + 8, full->size());
    EXPECT_EQ(0x40 | 31, (*full)[5]);
    EXPECT_EQ(9u, queue.Size());
    // An odd count gives a last pair with a zero second byte.
    CaptionQueue odd;
    odd.SetStopped(false);
    const Bytes three{1, 2, 3};
    odd.Push(three.data(), three.size(), 0, kFrame);
    EXPECT_EQ((Bytes{0x47, 0x41, 0x39, 0x34, 0x03, 0x42, 0x00, 0xFC, 1, 2, 0xFC, 3, 0, 0xFF}),
              odd.BuildUserData(0, kFrame, CaptionForm::Atsc));
}

// The SCTE 20 bits read back by a reader of its own.
struct ScteRead {
    unsigned count = 0;
    std::vector<unsigned> fields;
    Bytes pairs;
    bool markers = true;
};

ScteRead ReadScte20(const Bytes& data) {
    std::size_t bit = 0;
    auto get = [&](int n) {
        unsigned v = 0;
        for (int i = 0; i < n; ++i, ++bit) v = (v << 1) | ((data[bit / 8] >> (7 - bit % 8)) & 1u);
        return v;
    };
    auto reversed = [](unsigned b) {
        unsigned r = 0;
        for (int i = 0; i < 8; ++i) r |= ((b >> i) & 1u) << (7 - i);
        return static_cast<std::uint8_t>(r);
    };
    ScteRead r;
    EXPECT_EQ(0x03u, get(8));
    EXPECT_EQ(0x81u, get(8));
    r.count = get(5);
    for (unsigned k = 0; k < r.count; ++k) {
        EXPECT_EQ(0u, get(2));
        r.fields.push_back(get(2));
        EXPECT_EQ(0u, get(5));
        r.pairs.push_back(reversed(get(8)));
        r.pairs.push_back(reversed(get(8)));
        r.markers = r.markers && get(1) == 1;
    }
    return r;
}

TEST_F(CaptionQueueTest, Scte20BitsAndFieldNumbers) {
    Push({0x94, 0x20, 0x94, 0xAE, 0xC1, 0xC2});
    Push({0x80, 0x80});
    const std::optional<Bytes> data = Build(CaptionForm::Scte20);
    ASSERT_TRUE(data);
    EXPECT_EQ((22u + 26u * 4 + 7) / 8, data->size());
    const ScteRead r = ReadScte20(*data);
    EXPECT_EQ(4u, r.count);
    EXPECT_EQ((Bytes{0x94, 0x20, 0x94, 0xAE, 0xC1, 0xC2, 0x80, 0x80}), r.pairs);
    // Fields 1 and 2 only (0 is forbidden), alternating within an entry.
    EXPECT_EQ((std::vector<unsigned>{1, 2, 1, 1}), r.fields);
    EXPECT_TRUE(r.markers);
    EXPECT_FALSE(Build(CaptionForm::Scte20));
}

TEST_F(CaptionQueueTest, CcubeBlocks) {
    for (std::uint8_t i = 1; i <= 3; ++i) Push({i, i});
    EXPECT_EQ((Bytes{2, 9, 1, 1, 2, 9, 2, 2, 2, 10, 3, 3, 0, 0}), Build(CaptionForm::Ccube));
    for (std::uint8_t i = 1; i <= 5; ++i) Push({i});
    EXPECT_EQ((Bytes{1, 9, 1, 1, 9, 2, 1, 10, 3, 1, 10, 4}), Build(CaptionForm::Ccube));
    EXPECT_EQ(1u, queue.Size());
    queue.BuildUserData(0, kFrame, CaptionForm::Ccube);
    // The user data area holds 256 bytes: a block that does not fit waits,
    // a first block that cannot fit is cut.
    Push(Bytes(200, 0x41));
    Push(Bytes(200, 0x42));
    const std::optional<Bytes> first = Build(CaptionForm::Ccube);
    ASSERT_TRUE(first);
    EXPECT_EQ(204u, first->size());
    EXPECT_EQ(1u, queue.Size());
    queue.BuildUserData(0, kFrame, CaptionForm::Ccube);
    Push(Bytes(256, 0x43));
    const std::optional<Bytes> cut = Build(CaptionForm::Ccube);
    ASSERT_TRUE(cut);
    EXPECT_EQ(kCaptionUserDataBytes, cut->size());
    EXPECT_EQ(252, (*cut)[0]);
}

TEST_F(CaptionQueueTest, PassthroughStoppedAndNotDue) {
    Push({0, 1, 2, 3, 4, 5, 6, 7, 8, 9});
    EXPECT_EQ((Bytes{4, 5, 6, 7, 8, 9}), Build(CaptionForm::Passthrough));
    Push({0, 1, 2, 3});
    EXPECT_FALSE(Build(CaptionForm::Passthrough));
    // A stopped queue gives nothing, however much waits.
    Push({1, 2});
    queue.SetStopped(true);
    EXPECT_FALSE(Build(CaptionForm::Atsc));
    queue.SetStopped(false);
    EXPECT_FALSE(Build(CaptionForm::Off));
    // Due later than this frame: nothing, and it stays.
    CaptionQueue later;
    later.SetStopped(false);
    const Bytes pair{1, 2};
    later.Push(pair.data(), pair.size(), 10 * kFrame, 11 * kFrame);
    EXPECT_FALSE(later.BuildUserData(0, kFrame, CaptionForm::Atsc));
    EXPECT_EQ(1u, later.Size());
    EXPECT_TRUE(later.BuildUserData(10 * kFrame, 11 * kFrame, CaptionForm::Atsc));
    // A sample past 256 bytes keeps the first 256 and says how many went.
    const Bytes big(300, 7);
    EXPECT_EQ(44u, later.Push(big.data(), big.size(), 0, kFrame));
    EXPECT_EQ(252u, later.BuildUserData(0, kFrame, CaptionForm::Passthrough)->size());
}

std::vector<int> Drain(CaptionQueue& queue) {
    std::vector<int> order;
    while (std::optional<Bytes> b = queue.BuildUserData(0, kFrame, CaptionForm::Passthrough)) order.push_back((*b)[0]);
    return order;
}

TEST_F(CaptionQueueTest, GrowsWhenFullInOrder) {
    // Taken from the middle first, so that the ring wraps before it grows.
    for (int i = 0; i < 10; ++i) Push({0, 0, 0, 0, static_cast<std::uint8_t>(i)});
    EXPECT_EQ((std::vector<int>{0, 1, 2, 3, 4, 5, 6, 7, 8, 9}), Drain(queue));
    for (int i = 0; i < 51; ++i) Push({0, 0, 0, 0, static_cast<std::uint8_t>(i)});
    EXPECT_EQ(55u, queue.Capacity());
    EXPECT_EQ(51u, queue.Size());
    std::vector<int> expected;
    for (int i = 0; i < 51; ++i) expected.push_back(i);
    EXPECT_EQ(expected, Drain(queue));
}

TEST_F(CaptionQueueTest, SourceAndVideoThreadsShareIt) {
    const int kSamples = 2000;
    std::vector<int> taken;
    std::thread source([this] {
        for (int i = 0; i < kSamples; ++i) {
            const Bytes b{0, 0, 0, 0, static_cast<std::uint8_t>(i & 0xFF), static_cast<std::uint8_t>(i >> 8)};
            queue.Push(b.data(), b.size(), 0, kFrame);
        }
    });
    while (taken.size() < static_cast<std::size_t>(kSamples)) {
        if (std::optional<Bytes> b = queue.BuildUserData(0, kFrame, CaptionForm::Passthrough))
            taken.push_back((*b)[0] | ((*b)[1] << 8));
    }
    source.join();
    for (int i = 0; i < kSamples; ++i) ASSERT_EQ(i, taken[static_cast<std::size_t>(i)]);
}

}  // namespace
}  // namespace videoenc
