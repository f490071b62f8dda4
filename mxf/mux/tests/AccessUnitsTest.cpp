// The essence handlers: AES3 units per video frame, DV frames, MPEG-2
// pictures with their durations and index values, and the input store's
// time entries.
#include "TestSupport.h"
#include "mxf/mux/AccessUnits.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <numeric>

namespace {

using namespace mexora::mxf;

void Bits(std::vector<uint8_t>& out, std::initializer_list<std::pair<uint32_t, int>> fields) {
    uint64_t acc = 0;
    int n = 0;
    for (const auto& f : fields) {
        acc = (acc << f.second) | (f.first & ((1ull << f.second) - 1));
        n += f.second;
    }
    while (n % 8) {
        acc <<= 1;
        n++;
    }
    for (int i = n / 8 - 1; i >= 0; i--) out.push_back(static_cast<uint8_t>(acc >> (8 * i)));
}

struct Mpeg {
    std::vector<uint8_t> b;
    void Sequence(bool progressive) {
        b.insert(b.end(), {0, 0, 1, 0xB3});
        Bits(b, {{720, 12}, {576, 12}, {2, 4}, {3, 4}, {10000, 18}, {1, 1}, {100, 10}, {0, 1}});
        b.insert(b.end(), {0, 0, 1, 0xB5});
        Bits(b, {{1, 4},
                 {0x82, 8},
                 {progressive, 1},
                 {2, 2},
                 {0, 2},
                 {0, 2},
                 {0, 12},
                 {1, 1},
                 {0, 8},
                 {0, 1},
                 {0, 2},
                 {0, 5},
                 {0, 3}});
    }
    void Gop() {
        b.insert(b.end(), {0, 0, 1, 0xB8});
        Bits(b, {{0, 1}, {0, 5}, {0, 6}, {1, 1}, {0, 6}, {0, 6}, {1, 1}, {0, 1}, {0, 5}});
    }
    void Picture(uint32_t type, uint32_t tref, bool rff = false, bool tff = true, uint32_t structure = 3) {
        b.insert(b.end(), {0, 0, 1, 0x00});
        Bits(b, {{tref, 10}, {type, 3}, {0xFFFF, 16}, {0, 3}});
        b.insert(b.end(), {0, 0, 1, 0xB5});
        Bits(b, {{8, 4},
                 {0xFFFF, 16},
                 {0, 2},
                 {structure, 2},
                 {tff, 1},
                 {1, 1},
                 {0, 1},
                 {0, 1},
                 {0, 1},
                 {0, 1},
                 {rff, 1},
                 {0, 1},
                 {0, 1},
                 {0, 1},
                 {0, 6}});
        b.insert(b.end(), {0, 0, 1, 0x01, 0x55, 0x66, 0x77, 0x88, 0x99, 0xAA, 0xBB, 0xCC, 0xDD, 0xEE, 0xF0, 0x12});
    }
};

TEST(AccessUnits, Aes3UnitsFollowTheHeadersFrameRate) {
    struct Case {
        int code;
        std::vector<uint32_t> samples;
    };
    const Case cases[] = {{1, {2002, 2002, 2002}}, {4, {1602, 1601, 1602, 1601, 1602, 1602}}, {7, {801, 801, 800}}};
    for (const Case& c : cases) {
        Aes3Handler h;
        // "AES3", planar, rate code, 24 bits, one channel.
        const uint8_t header[8] = {'A', 'E', 'S', '3', 12, static_cast<uint8_t>(((c.code - 1) << 5) | (2 << 3)), 0, 0};
        ASSERT_EQ(h.AddData(header, 8), 0);
        const uint32_t total = std::accumulate(c.samples.begin(), c.samples.end(), 0u);
        std::vector<uint8_t> pcm(total * 3 + 5, 1);
        // Fed in small pieces: units come out before the end of the stream.
        for (size_t at = 0; at < pcm.size(); at += 1000) {
            ASSERT_EQ(h.AddData(pcm.data() + at, static_cast<uint32_t>(std::min<size_t>(1000, pcm.size() - at))), 0);
        }
        ASSERT_EQ(h.Units().size(), c.samples.size()) << c.code;
        for (size_t i = 0; i < c.samples.size(); i++) {
            EXPECT_EQ(h.Units()[i].data.size(), c.samples[i] * 3) << c.code << " unit " << i;
            EXPECT_EQ(h.Units()[i].duration, int64_t{c.samples[i]} * kSecond / 48000);
        }
        ASSERT_EQ(h.Flush(), 0);
        EXPECT_EQ(h.Units().back().data.size(), 5u);  // the rest forms the last unit
    }
}

TEST(AccessUnits, DvFramesAreCutWhole) {
    DvHandler h(144000, {25, 1});
    std::vector<uint8_t> data(144000 * 2 + 100, 7);
    ASSERT_EQ(h.AddData(data.data(), 100000, 0, 400000), 0);
    EXPECT_TRUE(h.Units().empty());
    ASSERT_EQ(h.AddData(data.data() + 100000, static_cast<uint32_t>(data.size() - 100000), 400000, 800000), 0);
    ASSERT_EQ(h.Units().size(), 2u);
    EXPECT_EQ(h.Units()[0].duration, 400000);
    EXPECT_EQ(h.Units()[0].start, 400000);  // the latest time of the calls inside the frame
    EXPECT_EQ(h.Units()[1].data.size(), 144000u);
}

TEST(AccessUnits, Mpeg2GopsGetTheirIndexValues) {
    Mpeg m;
    // Two GOPs of I B B P B B arriving with display positions 2 0 1 5 3 4.
    const uint32_t types[6] = {1, 3, 3, 2, 3, 3}, trefs[6] = {2, 0, 1, 5, 3, 4};
    for (int g = 0; g < 2; g++) {
        if (g == 0) m.Sequence(false);
        m.Gop();
        for (int i = 0; i < 6; i++) m.Picture(types[i], trefs[i]);
    }
    Mpeg2Handler h;
    // Fed in uneven pieces.
    for (size_t at = 0; at < m.b.size(); at += 7) {
        ASSERT_EQ(h.AddData(m.b.data() + at, static_cast<uint32_t>(std::min<size_t>(7, m.b.size() - at))), 0);
    }
    EXPECT_EQ(h.Units().size(), 6u);  // the first GOP, released when the second starts
    ASSERT_EQ(h.Flush(), 0);
    ASSERT_EQ(h.Units().size(), 12u);
    size_t bytes = 0;
    for (const AccessUnit& u : h.Units()) bytes += u.data.size();
    EXPECT_EQ(bytes, m.b.size());
    EXPECT_EQ(h.Units()[0].data[3], 0xB3);  // the key unit starts with the sequence header
    EXPECT_EQ(h.Units()[6].data[3], 0xB8);
    const int8_t temporal[6] = {1, 1, -2, 1, 1, -2};
    const int8_t key1[6] = {0, -1, -2, -3, -4, -5}, key2[6] = {0, -7, -8, -3, -4, -5};
    const uint8_t flags1[6] = {0xC0, 0x13, 0x13, 0x22, 0x33, 0x33}, flags2[6] = {0x40, 0x33, 0x33, 0x22, 0x33, 0x33};
    for (int i = 0; i < 6; i++) {
        const AccessUnit& a = h.Units()[static_cast<size_t>(i)];
        const AccessUnit& b = h.Units()[static_cast<size_t>(6 + i)];
        EXPECT_EQ(a.temporalOffset, temporal[i]) << i;
        EXPECT_EQ(b.temporalOffset, temporal[i]) << i;
        EXPECT_EQ(a.keyFrameOffset, key1[i]) << i;
        EXPECT_EQ(b.keyFrameOffset, key2[i]) << i;
        EXPECT_EQ(a.flags, flags1[i]) << i;
        EXPECT_EQ(b.flags, flags2[i]) << i;
        EXPECT_EQ(a.duration, 400000);
    }
    // Times in display order from 0: arrival 1 (display 0) starts at 0.
    EXPECT_EQ(h.Units()[1].start, 0);
    EXPECT_EQ(h.Units()[0].start, 800000);
    EXPECT_EQ(h.Units()[6].start, 6 * 400000 + 800000);
}

TEST(AccessUnits, Mpeg2PulldownAndFieldPictures) {
    Mpeg m;
    m.Sequence(false);
    m.Gop();
    m.Picture(1, 0, true);
    m.Picture(2, 1, false);
    m.Picture(2, 2, true);
    // A field pair: the second field joins the first.
    m.Picture(2, 3, false, true, 1);
    m.Picture(2, 3, false, true, 2);
    Mpeg2Handler h;
    ASSERT_EQ(h.AddData(m.b.data(), static_cast<uint32_t>(m.b.size())), 0);
    ASSERT_EQ(h.Flush(), 0);
    ASSERT_EQ(h.Units().size(), 4u);
    EXPECT_EQ(h.Units()[0].duration, 600000);  // three fields
    EXPECT_EQ(h.Units()[1].duration, 400000);
    EXPECT_EQ(h.Units()[2].duration, 600000);
    EXPECT_EQ(h.Units()[3].pictureType, 2);
}

TEST(AccessUnits, InputStoreKeepsTimesWithTheirBytes) {
    InputStore s;
    const uint8_t a[10] = {}, b[10] = {};
    s.Record(a, 10, 100, 200);
    s.Record(b, 10, 300, kUnsetTime);
    // A cut ending at the second call's first byte moves its entry down.
    ASSERT_TRUE(s.Cut(4, 6));
    ASSERT_EQ(s.Entries().size(), 2u);
    EXPECT_EQ(s.Entries()[1].position, 4u);
    EXPECT_EQ(s.Entries()[1].start, 300);
    // A cut over the second call with nothing behind it leaves an entry with its times.
    ASSERT_TRUE(s.Cut(4, 10));
    ASSERT_EQ(s.Entries().size(), 2u);
    EXPECT_EQ(s.Entries()[1].position, 4u);
    EXPECT_EQ(s.Entries()[1].start, 300);
    EXPECT_EQ(s.Entries()[1].end, kUnsetTime);
    EXPECT_FALSE(s.Cut(3, 2));  // past the bytes held
    s.Consume(4);
    EXPECT_TRUE(s.Entries().empty());
    EXPECT_EQ(s.Size(), 0u);
}

// Whatever the pieces the bytes come in, every unit starts at a sequence,
// GOP or picture start code, and the units give back the stream: a start
// code split between two pieces is found once its code byte comes.
TEST(AccessUnits, Mpeg2CutsDoNotDependOnThePieces) {
    const std::string dir = mexora_test::TempDir();
    const std::vector<uint8_t> m2v = mexora_test::ReadFile(mexora_test::MakeM2v(dir, "p.m2v", "25", 8));
    ASSERT_FALSE(m2v.empty());
    // With a pool, units may take over the store's buffer; the buffers of
    // units already taken come back to it, as the file writer does.
    for (bool pooled : {false, true}) {
        for (size_t piece : {size_t{1}, size_t{2}, size_t{3}, size_t{5}, size_t{64}, size_t{1000}, size_t{65536}}) {
            mexora::BufferPool pool;
            Mpeg2Handler h;
            if (pooled) h.SetPool(&pool);
            std::vector<AccessUnit> units;
            for (size_t at = 0; at < m2v.size(); at += piece) {
                ASSERT_EQ(h.AddData(m2v.data() + at, static_cast<uint32_t>(std::min(piece, m2v.size() - at))), 0);
                for (; !h.Units().empty(); h.Units().pop_front()) {
                    units.push_back(h.Units().front());
                    pool.Give(std::move(h.Units().front().data));
                }
            }
            ASSERT_EQ(h.Flush(), 0);
            units.insert(units.end(), h.Units().begin(), h.Units().end());
            ASSERT_EQ(units.size(), 8u) << piece;
            std::vector<uint8_t> back;
            for (const AccessUnit& u : units) {
                ASSERT_GE(u.data.size(), 4u);
                EXPECT_TRUE(u.data[0] == 0 && u.data[1] == 0 && u.data[2] == 1 &&
                            (u.data[3] == 0xB3 || u.data[3] == 0xB8 || u.data[3] == 0x00))
                    << "pieces of " << piece << ", unit " << u.number << (pooled ? ", pooled" : "");
                back.insert(back.end(), u.data.begin(), u.data.end());
            }
            EXPECT_TRUE(back == m2v) << piece << (pooled ? ", pooled" : "");
        }
    }
}

// Taking the front hands over the store's buffer only when fewer bytes
// follow; either way the bytes and the time entries are those of Consume.
TEST(AccessUnits, InputStoreTakeFrontMatchesConsume) {
    std::vector<uint8_t> a(100), b(30);
    std::iota(a.begin(), a.end(), 0);
    std::iota(b.begin(), b.end(), 100);
    for (size_t take : {size_t{10}, size_t{90}, size_t{100}, size_t{129}, size_t{130}}) {
        mexora::BufferPool pool;
        InputStore plain, pooled;
        pooled.SetPool(&pool);
        for (InputStore* s : {&plain, &pooled}) {
            s->Record(a.data(), a.size(), 100, 200);
            s->Record(b.data(), b.size(), 300, 400);
        }
        std::vector<uint8_t> expected(plain.Data(), plain.Data() + take), got;
        plain.Consume(take);
        pooled.TakeFront(take, &got);
        EXPECT_EQ(got, expected) << take;
        ASSERT_EQ(pooled.Size(), plain.Size()) << take;
        EXPECT_TRUE(std::equal(plain.Data(), plain.Data() + plain.Size(), pooled.Data())) << take;
        ASSERT_EQ(pooled.Entries().size(), plain.Entries().size()) << take;
        for (size_t i = 0; i < plain.Entries().size(); i++) {
            EXPECT_EQ(pooled.Entries()[i].position, plain.Entries()[i].position);
            EXPECT_EQ(pooled.Entries()[i].start, plain.Entries()[i].start);
        }
        // New bytes after the take land behind the rest.
        pooled.Record(a.data(), 5, 500, 600);
        EXPECT_EQ(pooled.Size(), plain.Size() + 5) << take;
        EXPECT_EQ(pooled.Entries().back().position, plain.Size()) << take;
    }
}

TEST(AccessUnits, BufferPoolGivesTheSmallestFittingBuffer) {
    mexora::BufferPool pool;
    std::vector<uint8_t> big, small;
    big.reserve(1000);
    small.reserve(100);
    const uint8_t* bigData = big.data();
    pool.Give(std::move(big));
    pool.Give(std::move(small));
    EXPECT_GE(pool.Take(50).capacity(), 50u);    // the small one
    EXPECT_LT(pool.Take(50).capacity(), 1000u);  // a new one: the large one stays for large requests
    std::vector<uint8_t> again = pool.Take(900);
    EXPECT_EQ(again.data(), bigData);
    EXPECT_TRUE(again.empty());
}

}  // namespace
