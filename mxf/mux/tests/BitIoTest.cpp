// BitIo: bits most significant first, big-endian numbers, fixed point, and
// the three sources.
#include "mxf/mux/BitIo.h"

#include <gtest/gtest.h>

#include <cstdio>

namespace {

using mexora::BitIo;

TEST(BitIo, ReadsBitsMostSignificantFirst) {
    const uint8_t data[] = {0xB4, 0xFF, 0x12, 0x34};
    BitIo io;
    ASSERT_EQ(io.AttachMemory(data, sizeof data, 0), mexora::kBitIoOk);
    struct Step {
        uint32_t bits, expected;
    };
    // 0xB4 = 10110 100; then a whole byte at a byte boundary; then 12 bits across bytes.
    const Step steps[] = {{5, 0x16}, {3, 0x4}, {8, 0xFF}, {12, 0x123}, {4, 0x4}};
    for (const Step& s : steps) {
        uint32_t v = 0;
        ASSERT_EQ(io.ReadBits(s.bits, &v), mexora::kBitIoOk);
        EXPECT_EQ(v, s.expected) << s.bits;
    }
    uint32_t v = 0;
    EXPECT_EQ(io.ReadBits(1, &v), mexora::kBitIoShortRead);
}

TEST(BitIo, ReadsBigEndianAndFixedPoint) {
    const uint8_t data[] = {0x12, 0x34, 0x01, 0x02, 0x03, 0xDE, 0xAD, 0xBE, 0xEF, 1,    2,   3,
                            4,    5,    6,    7,    8,    0x01, 0xC0, 0x00, 0x02, 0x80, 0x00};
    BitIo io;
    io.AttachMemory(data, sizeof data, 0);
    uint16_t a = 0;
    uint32_t b = 0, c = 0;
    uint64_t d = 0;
    float e = 0, f = 0;
    EXPECT_EQ(io.Read16(&a), 0);
    EXPECT_EQ(io.Read24(&b), 0);
    EXPECT_EQ(io.Read32(&c), 0);
    EXPECT_EQ(io.Read64(&d), 0);
    EXPECT_EQ(io.Read8_8(&e), 0);
    EXPECT_EQ(io.Read16_16(&f), 0);
    EXPECT_EQ(a, 0x1234);
    EXPECT_EQ(b, 0x010203u);
    EXPECT_EQ(c, 0xDEADBEEFu);
    EXPECT_EQ(d, 0x0102030405060708ull);
    EXPECT_FLOAT_EQ(e, 1.75f);
    EXPECT_FLOAT_EQ(f, 2.5f);
    EXPECT_EQ(io.Position(), static_cast<int64_t>(sizeof data));
    uint8_t at = 0;
    EXPECT_EQ(io.Read(&at, 1, 2), 0);  // at an offset: the position stays
    EXPECT_EQ(at, 0x01);
    EXPECT_EQ(io.Position(), static_cast<int64_t>(sizeof data));
}

TEST(BitIo, WritesNumbersBitsAndFixedPoint) {
    BitIo io;
    EXPECT_EQ(io.Write16(1), mexora::kBitIoNoBuffer);
    ASSERT_EQ(io.CreateBuffer(0, 0), 0);
    io.Write16(0x1234);
    io.Write24(0xABCDEF);
    io.Write8_8(1.75f);  // the fraction is kept
    io.Write16_16(2.5f);
    io.WriteBits(3, 0x5);
    io.WriteBits(5, 0x13);
    io.WriteBit(1);
    io.WriteBits(7, 0);
    io.Write(nullptr, 2);
    const std::vector<uint8_t> expected = {0x12, 0x34, 0xAB, 0xCD, 0xEF, 0x01, 0xC0, 0x00,
                                           0x02, 0x80, 0x00, 0xB3, 0x80, 0x00, 0x00};
    EXPECT_EQ(io.Bytes(), expected);
    EXPECT_EQ(io.Size(), static_cast<int64_t>(expected.size()));
    EXPECT_EQ(io.BitCount(), 8u * expected.size());
}

TEST(BitIo, FileReadsPastTheEndAnswerShortRead) {
    FILE* f = std::tmpfile();
    ASSERT_NE(f, nullptr);
    const uint8_t data[] = {1, 2, 3};
    std::fwrite(data, 1, 3, f);
    std::rewind(f);
    BitIo io;
    ASSERT_EQ(io.AttachFile(f), 0);
    EXPECT_EQ(io.Size(), 3);
    uint8_t out[4];
    EXPECT_EQ(io.Read(out, 2), 0);
    EXPECT_EQ(io.Read(out, 2), mexora::kBitIoShortRead);
    EXPECT_EQ(io.AttachFile(nullptr), mexora::kBitIoBadArgument);
    std::fclose(f);
}

class Source : public mexora::BitSource {
public:
    int64_t TotalLength(int32_t) override { return 4; }
    int32_t Read(uint8_t* d, uint32_t n, int64_t) override {
        if (n > 4 - at) return mexora::kBitIoShortRead;
        for (uint32_t i = 0; i < n; i++) d[i] = static_cast<uint8_t>(0xA0 + at++);
        return 0;
    }
    uint32_t at = 0;
};

TEST(BitIo, ReadsFromASourceObject) {
    Source s;
    BitIo io;
    ASSERT_EQ(io.AttachSource(&s, 9), 0);
    EXPECT_EQ(io.Size(), 4);
    uint32_t v = 0;
    EXPECT_EQ(io.Read32(&v), 0);
    EXPECT_EQ(v, 0xA0A1A2A3u);
    uint8_t b;
    EXPECT_EQ(io.Read8(&b), mexora::kBitIoShortRead);
}

}  // namespace
