#include "codec/scanning/Bitstream.h"
#include "test_util.h"

#include <gtest/gtest.h>

using namespace spltest;

TEST(BitstreamReader, WordWindowAndEmulationFlag) {
    const Bytes b = {0x00, 0x00, 0x03, 0x01, 0x12, 0x34, 0x56, 0x78, 0x9A};
    Exact e(b);
    SPL::BitstreamReader plain(0);
    plain.Attach(e.data(), static_cast<int32_t>(e.size()));
    EXPECT_EQ(0u, plain.ReadBits(0));
    EXPECT_EQ(0x00000301u, plain.ReadBits(32));
    EXPECT_EQ(0x12u, plain.ReadBits(8));

    SPL::BitstreamReader ep(1);
    ep.Attach(e.data(), static_cast<int32_t>(e.size()));
    EXPECT_EQ(0x00000112u, ep.ReadBits(32));
    EXPECT_EQ(0x3456789Au, ep.ReadBits(32));
    EXPECT_FALSE(ep.Overrun());
    EXPECT_EQ(0u, ep.ReadBit());
    EXPECT_TRUE(ep.Overrun());

    // A negative length attaches nothing.
    SPL::BitstreamReader none;
    none.Attach(e.data(), -5);
    EXPECT_EQ(0u, none.ReadBits(8));
    EXPECT_TRUE(none.Overrun());
}

TEST(BitstreamWriter, BitFieldsShareBytesWithoutDisturbingOthers) {
    uint8_t buf[4] = {0x00, 0xFF, 0x00, 0x00};
    SPL::BitstreamWriter w;
    w.Attach(buf, 4);
    w.PutBits(1, 1);
    w.PutBits(1, 1);
    w.PutBits(1, 1);
    EXPECT_EQ(0xE0, buf[0]);
    EXPECT_EQ(0, w.GetPosition());
    EXPECT_EQ(3, w.GetBitPosition());
    // PutByte overwrites the partly written byte and resets the bit position.
    w.PutByte(0x5A);
    EXPECT_EQ(0x5A, buf[0]);
    EXPECT_EQ(1, w.GetPosition());
    EXPECT_EQ(0, w.GetBitPosition());
    // Clearing single bits keeps the rest of the byte.
    w.PutBits(0, 2);
    EXPECT_EQ(0x3F, buf[1]);
    w.SkipBits(9);  // 2 + 9 = 11 bits: one more byte, bit position 3
    EXPECT_EQ(2, w.GetPosition());
    EXPECT_EQ(3, w.GetBitPosition());
    w.PutBits(0x1F, 5);
    EXPECT_EQ(0x1F, buf[2]);
    EXPECT_EQ(3, w.GetPosition());
    EXPECT_FALSE(w.Overflow());
}

TEST(BitstreamWriter, CountsAreTakenModulo256AndWideFieldsZeroFill) {
    struct Case {
        uint64_t value;
        unsigned n;
        Bytes want;
        int pos;
        int bit;
    } cases[] = {
        {0xABCD, 16, {0xAB, 0xCD}, 2, 0},
        {0x1, 257, {0x80}, 0, 1},  // 257 mod 256 = 1
        {0xFFFF, 256, {}, 0, 0},   // nothing
        {0x0123456789ABCDEFull, 64, {0x01, 0x23, 0x45, 0x67, 0x89, 0xAB, 0xCD, 0xEF}, 8, 0},
        {0xFFFFFFFFFFFFFFFFull, 72, {0x00, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF}, 9, 0},
        {0x1FFFFFFFFull, 33, {0xFF, 0xFF, 0xFF, 0xFF, 0x80}, 4, 1},
    };
    for (const auto& c : cases) {
        uint8_t buf[16];
        std::memset(buf, 0, sizeof buf);
        SPL::BitstreamWriter w;
        w.Attach(buf, sizeof buf);
        w.PutBits(c.value, c.n);
        EXPECT_EQ(c.pos, w.GetPosition()) << c.n;
        EXPECT_EQ(c.bit, w.GetBitPosition()) << c.n;
        EXPECT_EQ(c.want, Bytes(buf, buf + c.want.size())) << c.n;
    }
    uint8_t buf[600] = {};
    SPL::BitstreamWriter w;
    w.Attach(buf, sizeof buf);
    w.SkipBytes(300);  // 300 mod 256
    EXPECT_EQ(44, w.GetPosition());
}

TEST(BitstreamWriter, FillClipsAndBackPatchKeepsBody) {
    uint8_t buf[10];
    std::memset(buf, 0xEE, sizeof buf);
    SPL::BitstreamWriter w;
    w.Attach(buf, 8);
    w.PutByte(0x00);  // length placeholder
    const uint8_t body[] = {1, 2, 3};
    w.PutBytes(body, 3);
    const int32_t end = w.GetPosition();
    w.SetPosition(0);
    w.PutByte(static_cast<uint8_t>(end - 1));
    w.SetPosition(end);
    w.Fill(0xFF, 100);
    EXPECT_EQ(8, w.GetPosition());
    EXPECT_EQ((Bytes{3, 1, 2, 3, 0xFF, 0xFF, 0xFF, 0xFF, 0xEE, 0xEE}), Bytes(buf, buf + 10));
    EXPECT_FALSE(w.Overflow());
    // Overlapping copy within the buffer.
    w.SetPosition(1);
    w.PutBytes(buf, 4);
    EXPECT_EQ((Bytes{3, 3, 1, 2, 3}), Bytes(buf, buf + 5));
}

TEST(BitstreamWriter, WritesPastCapacityAreDroppedAndFlagged) {
    auto buf = std::make_unique<uint8_t[]>(3);
    SPL::BitstreamWriter w;
    w.Attach(buf.get(), 3);
    w.PutWord16(0x1234);
    w.PutWord16(0x5678);  // one byte short: dropped whole
    EXPECT_TRUE(w.Overflow());
    EXPECT_EQ(4, w.GetPosition());
    const uint8_t many[8] = {};
    w.PutBytes(many, 8);
    w.PutBits(0xFFFF, 16);
    w.PutByte(1);
    w.SetPosition(-4);
    w.PutByte(1);
    EXPECT_EQ(0x12, buf[0]);
    EXPECT_EQ(0x34, buf[1]);
}
