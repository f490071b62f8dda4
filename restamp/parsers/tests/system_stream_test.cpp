#include "restamp/parsers/M1SS.h"

#include "codec/common/TimeStamps.h"

#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <vector>

namespace {

using Bytes = std::vector<uint8_t>;

// Packet start, then the bytes after the length field; length from them
// unless given.
Bytes Packet(uint8_t sid, const Bytes& rest, int length = -1) {
    Bytes b = {0, 0, 1, sid, 0, 0};
    b.insert(b.end(), rest.begin(), rest.end());
    const size_t len = length >= 0 ? size_t(length) : rest.size();
    b[4] = uint8_t(len >> 8);
    b[5] = uint8_t(len);
    return b;
}

Bytes Pts(uint8_t prefix, uint64_t v) {
    uint8_t t[5];
    MpegCommon::EncodeTimeStamp(t, prefix, v);
    return Bytes(t, t + 5);
}

Bytes Cat(std::initializer_list<Bytes> parts) {
    Bytes b;
    for (const Bytes& p : parts) b.insert(b.end(), p.begin(), p.end());
    return b;
}

TEST(SystemStreamPacket, Headers) {
    struct Case {
        const char* what;
        Bytes packet;
        bool valid;
        uint32_t ptsValid;
        uint64_t pts;
        uint16_t headerSize;
    };
    const Bytes payload(40, 0x11);
    const Case cases[] = {
        {"0x0F after two stuffing bytes", Packet(0xE0, Cat({{0xFF, 0xFF, 0x0F}, payload})), true, 0, 0, 9},
        {"PTS of 0", Packet(0xC0, Cat({{0x21, 0x00, 0x01, 0x00, 0x01}, payload})), true, 1, 0, 11},
        {"PTS above 2^32 stays unsigned", Packet(0xE0, Cat({Pts(2, (uint64_t(1) << 32) + 5), payload})), true, 1,
         (uint64_t(1) << 32) + 5, 11},
        {"STD buffer, PTS and DTS", Packet(0xE0, Cat({{0x60, 0x2E}, Pts(3, 900), Pts(1, 800), payload})), true, 1, 900,
         18},
        {"16 stuffing bytes", Packet(0xE0, Cat({Bytes(16, 0xFF), {0x0F}, payload})), true, 0, 0, 23},
        {"17 stuffing bytes", Packet(0xE0, Cat({Bytes(17, 0xFF), {0x0F}, payload})), false, 0, 0, 0},
        {"stuffing runs past the packet", Packet(0xE0, Cat({{0xFF, 0xFF, 0x0F}, payload}), 2), false, 0, 0, 0},
        {"any other byte after stuffing", Packet(0xE0, Cat({{0xFF, 0x80}, payload})), false, 0, 0, 0},
        {"private stream 2", Packet(0xBF, payload), true, 0, 0, 6},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        // An exact-size copy: nothing may be read past it.
        std::unique_ptr<uint8_t[]> d(new uint8_t[c.packet.size()]);
        std::memcpy(d.get(), c.packet.data(), c.packet.size());
        M1SS::CPacketHdr h;
        ASSERT_EQ(h.Parse(d.get(), uint32_t(c.packet.size())), c.valid);
        if (!c.valid) continue;
        EXPECT_EQ(h.ptsValid, c.ptsValid);
        EXPECT_EQ(h.pts, c.pts);
        EXPECT_EQ(h.payloadOffset, c.headerSize);
    }
    // Stuffing up to the end of the bytes in hand.
    const Bytes cut = Packet(0xE0, Bytes(10, 0xFF), 100);
    std::unique_ptr<uint8_t[]> d(new uint8_t[cut.size()]);
    std::memcpy(d.get(), cut.data(), cut.size());
    M1SS::CPacketHdr h;
    EXPECT_FALSE(h.Parse(d.get(), uint32_t(cut.size())));
}

TEST(SystemStreamPack, ClockAndMuxRate) {
    // SCR 90,000 and mux_rate 1,000 in the MPEG-1 layout.
    const uint64_t scr = 90000;
    const uint32_t rate = 1000;
    Bytes b = {0,
               0,
               1,
               0xBA,
               uint8_t(0x21 | ((scr >> 29) & 0x0E)),
               uint8_t(scr >> 22),
               uint8_t(((scr >> 14) & 0xFE) | 1),
               uint8_t(scr >> 7),
               uint8_t(((scr << 1) & 0xFE) | 1),
               uint8_t(0x80 | (rate >> 15)),
               uint8_t(rate >> 7),
               uint8_t(((rate << 1) & 0xFE) | 1)};
    M1SS::CPackHdr p;
    ASSERT_TRUE(p.Parse(b.data(), uint32_t(b.size())));
    EXPECT_EQ(p.scr, scr);
    EXPECT_EQ(p.muxRateBytes, rate * 50);
    b[8] &= 0xFE;  // a marker bit missing
    EXPECT_FALSE(p.Parse(b.data(), uint32_t(b.size())));
}

}  // namespace
