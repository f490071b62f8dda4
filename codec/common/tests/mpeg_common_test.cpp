#include "codec/common/BitReader.h"
#include "codec/common/Crc32Mpeg.h"
#include "codec/common/MpegTables.h"
#include "codec/common/TimeStamps.h"

#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <vector>

using namespace MpegCommon;

namespace {

// A heap copy of exactly the given bytes, so ASan sees any read past them.
std::unique_ptr<uint8_t[]> Exact(const std::vector<uint8_t>& v) {
    std::unique_ptr<uint8_t[]> p(new uint8_t[v.size() ? v.size() : 1]);
    if (!v.empty()) std::memcpy(p.get(), v.data(), v.size());
    return p;
}

std::vector<uint8_t> ReadAllBytes(const std::vector<uint8_t>& in, bool ep) {
    auto buf = Exact(in);
    BitReader r(ep);
    r.Attach(buf.get(), in.size());
    std::vector<uint8_t> out;
    while (r.BitsLeft() >= 8) {
        uint8_t b = static_cast<uint8_t>(r.Read(8));
        if (r.Overrun()) break;
        out.push_back(b);
    }
    return out;
}

}  // namespace

TEST(Crc32Mpeg2, CheckValueAndSelfCheck) {
    const char* s = "123456789";
    EXPECT_EQ(0x0376E6E7u, Crc32Mpeg2(reinterpret_cast<const uint8_t*>(s), 9));

    // A section followed by its own CRC checks to 0 (how PSI is verified).
    std::vector<uint8_t> sec = {0x00, 0xB0, 0x0D, 0x00, 0x01, 0xC1, 0x00, 0x00, 0x00, 0x01, 0xE1, 0x00};
    uint32_t crc = Crc32Mpeg2(sec.data(), sec.size());
    for (int i = 3; i >= 0; --i) sec.push_back(static_cast<uint8_t>(crc >> (8 * i)));
    EXPECT_EQ(0u, Crc32Mpeg2(sec.data(), sec.size()));
    sec[5] ^= 0x20;
    EXPECT_NE(0u, Crc32Mpeg2(sec.data(), sec.size()));
    // Running in pieces is the same as in one go.
    EXPECT_EQ(Crc32Mpeg2(sec.data() + 4, sec.size() - 4, Crc32Mpeg2(sec.data(), 4)),
              Crc32Mpeg2(sec.data(), sec.size()));
}

TEST(TimeStamps, PtsCodecTable) {
    struct Case {
        uint8_t bytes[5];
        uint64_t value;
    } cases[] = {
        {{0x21, 0x00, 0x01, 0x00, 0x01}, 0},
        {{0x21, 0x00, 0x01, 0x00, 0x03}, 1},
        {{0x3F, 0xFF, 0xFF, 0xFF, 0xFF}, (uint64_t(1) << 33) - 1},
        {{0x21, 0x00, 0x05, 0xBF, 0x21}, 90000},
        {{0x29, 0x00, 0x01, 0x00, 0x01}, uint64_t(1) << 32},
        {{0x27, 0xFF, 0xFF, 0xFF, 0xFF}, (uint64_t(1) << 32) - 1},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(c.value, DecodeTimeStamp(c.bytes)) << c.value;
        uint8_t out[5];
        EncodeTimeStamp(out, c.bytes[0] >> 4, c.value);
        EXPECT_EQ(0, std::memcmp(out, c.bytes, 5)) << c.value;
        EXPECT_TRUE(TimeStampMarkersSet(out));
    }
    // Values past 33 bits wrap; the prefix nibble is kept apart from the value.
    uint8_t out[5];
    EncodeTimeStamp(out, 3, (uint64_t(1) << 33) + 7);
    EXPECT_EQ(7u, DecodeTimeStamp(out));
    EXPECT_EQ(0x31, out[0]);
}

TEST(TimeStamps, ScrAndPcrRoundTrip) {
    const uint64_t bases[] = {0, 1, 90000, (uint64_t(1) << 32) + 5, (uint64_t(1) << 33) - 1};
    const uint32_t exts[] = {0, 7, 299, 511};
    for (uint64_t base : bases)
        for (uint32_t ext : exts) {
            uint8_t b[6];
            uint64_t gotBase;
            uint32_t gotExt;
            EncodePackScr(b, base, ext);
            EXPECT_EQ(0x44, b[0] & 0xC4);  // '01' prefix and first marker
            EXPECT_TRUE((b[2] & 4) && (b[4] & 4) && (b[5] & 1));
            DecodePackScr(b, gotBase, gotExt);
            EXPECT_EQ(base, gotBase);
            EXPECT_EQ(ext, gotExt);
            EncodePcr(b, base, ext);
            EXPECT_EQ(0x7E, b[4] & 0x7E);  // reserved bits all ones
            DecodePcr(b, gotBase, gotExt);
            EXPECT_EQ(base, gotBase);
            EXPECT_EQ(ext, gotExt);
        }
}

TEST(BitReader, EmulationPreventionAtEveryAlignment) {
    struct Case {
        std::vector<uint8_t> raw;
        std::vector<uint8_t> rbsp;
    } cases[] = {
        {{0x00, 0x00, 0x03, 0x01}, {0x00, 0x00, 0x01}},
        // The zero run restarts after a removed byte: the second 03 stays.
        {{0x00, 0x00, 0x03, 0x00, 0x03}, {0x00, 0x00, 0x00, 0x03}},
        {{0x00, 0x00, 0x03, 0x03}, {0x00, 0x00, 0x03}},
        {{0x00, 0x00, 0x03, 0x00, 0x00, 0x03, 0x00}, {0x00, 0x00, 0x00, 0x00, 0x00}},
        {{0x00, 0x03, 0x00, 0x00}, {0x00, 0x03, 0x00, 0x00}},
        {{0x00, 0x00, 0x00, 0x03}, {0x00, 0x00, 0x00}},
    };
    for (const auto& c : cases) {
        // Shift the pattern through every position of the 32-bit words.
        for (size_t lead = 0; lead < 9; ++lead) {
            std::vector<uint8_t> raw(lead, 0x5A), want(lead, 0x5A);
            raw.insert(raw.end(), c.raw.begin(), c.raw.end());
            want.insert(want.end(), c.rbsp.begin(), c.rbsp.end());
            raw.push_back(0xA5);
            want.push_back(0xA5);
            EXPECT_EQ(want, ReadAllBytes(raw, true)) << "lead " << lead;
            EXPECT_EQ(raw, ReadAllBytes(raw, false)) << "lead " << lead;
        }
    }
}

TEST(BitReader, FieldsAndExpGolomb) {
    // 1 | 010 | 011 | 00100 | 0001000 | then 32 bits 0xDEADBEEF.
    // ue: 0, 1, 2, 3, 7.
    std::vector<uint8_t> v = {0xA6, 0x41, 0x1B, 0xD5, 0xB7, 0xDD, 0xE0};
    auto buf = Exact(v);
    BitReader r;
    r.Attach(buf.get(), v.size());
    EXPECT_EQ(0u, r.Read(0));
    EXPECT_EQ(0u, r.ReadUE());
    EXPECT_EQ(1u, r.ReadUE());
    EXPECT_EQ(2u, r.ReadUE());
    EXPECT_EQ(3u, r.ReadUE());
    EXPECT_EQ(7u, r.ReadUE());
    EXPECT_EQ(0xDEADBEEFu, r.Read(32));
    EXPECT_FALSE(r.Overrun());

    const uint8_t se[] = {0xA6, 0x40};
    r.Attach(se, sizeof se);
    EXPECT_EQ(0, r.ReadSE());
    EXPECT_EQ(1, r.ReadSE());
    EXPECT_EQ(-1, r.ReadSE());
    EXPECT_EQ(2, r.ReadSE());

    const uint8_t word[] = {0x12, 0x34, 0x56, 0x78, 0x9A};
    r.Attach(word, sizeof word);
    EXPECT_EQ(0x12345678u, r.Read(32));
    EXPECT_EQ(0x9u, r.Peek(4));
    EXPECT_EQ(1u, r.BytesLeft());
    r.Skip(4);
    EXPECT_EQ(0u, r.BytesLeft());  // a partly read byte counts as consumed
    EXPECT_FALSE(r.Overrun());
}

TEST(BitReader, ReadsPastTheEndAreBoundedAndFlagged) {
    for (size_t len = 0; len <= 9; ++len) {
        std::vector<uint8_t> v(len, 0xFF);
        auto buf = Exact(v);
        BitReader r;
        r.Attach(buf.get(), len);
        for (size_t i = 0; i < len; ++i) EXPECT_EQ(0xFFu, r.Read(8));
        EXPECT_FALSE(r.Overrun());
        EXPECT_EQ(0u, r.Read(3));
        EXPECT_TRUE(r.Overrun());
        EXPECT_EQ(0u, r.ReadUE());
        EXPECT_EQ(0u, r.Read64(40));
    }
    // A read that straddles the end gives 0 as a whole, not a partial value.
    const uint8_t two[] = {0xFF, 0xFF};
    BitReader r;
    r.Attach(two, 2);
    EXPECT_EQ(0u, r.Read(24));
    EXPECT_TRUE(r.Overrun());
    // An all-zero prefix longer than 31 bits is no valid code.
    const uint8_t zeros[8] = {};
    r.Attach(zeros, 8);
    EXPECT_EQ(0u, r.ReadUE());
    EXPECT_TRUE(r.Overrun());
}

TEST(MpegTables, SpotValues) {
    EXPECT_EQ(140u, Ac3FrameSizeWords(9, 1));
    EXPECT_EQ(139u, Ac3FrameSizeWords(8, 1));
    EXPECT_EQ(1280u, Ac3FrameSizeWords(37, 0));
    EXPECT_EQ(1920u, Ac3FrameSizeWords(37, 2));
    EXPECT_EQ(0u, Ac3FrameSizeWords(38, 0));
    EXPECT_EQ(384000u, MpegAudioBitRate(3, 2, 14));
    EXPECT_EQ(320000u, MpegAudioBitRate(3, 1, 14));
    EXPECT_EQ(160000u, MpegAudioBitRate(2, 1, 14));
    EXPECT_EQ(256000u, MpegAudioBitRate(2, 3, 14));
    EXPECT_EQ(0u, MpegAudioBitRate(1, 2, 5));
    EXPECT_EQ(8000u, MpegAudioSampleRate(0, 2));
    EXPECT_EQ(0u, FrameRate(9));
    EXPECT_EQ(30000u, FrameRateRational(4).num);
}

TEST(MpegTables, ProfileAndLevel) {
    struct Case {
        unsigned pli, profile, level;
    } const cases[] = {
        {0x48, 2, 2},  // Main@Main
        {0x14, 5, 4},  // High@Low is no real pair, but each nibble maps alone
        {0x5A, 1, 1},  // Simple@High
        {0x85, 2, 5},  // escape with the 0x_5 level: profile 2
        {0x8A, 6, 1},  // escape profile nibble
        {0x93, 0, 0},  // reserved profile, reserved level
        {0x07, 0, 0},
    };
    for (const Case& c : cases) {
        const MpegCommon::ProfileLevel pl = MpegCommon::DecodeProfileLevel(c.pli);
        EXPECT_EQ(pl.profile, c.profile) << std::hex << c.pli;
        EXPECT_EQ(pl.level, c.level) << std::hex << c.pli;
    }
}
