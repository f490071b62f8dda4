// UMIDs, P2 clip names, track numbers, body partition limits and system item
// time codes.
#include "mxf/mux/FileValues.h"

#include <gtest/gtest.h>

namespace {

using namespace mexora::mxf;

TEST(FileValues, UmidsShareOneGuidInXdcamAndTakeNewOnesInP2) {
    UmidMaker::ResetShared();
    uint8_t made = 0;
    UmidMaker maker([&] {
        Label l;
        l.fill(++made);
        return l;
    });
    const Umid a = maker.Make(kXdcamProfile), b = maker.Make(kXdcamProfile), p2 = maker.Make(kP2Profile);
    EXPECT_EQ(a[11], 0x43);
    EXPECT_EQ(p2[11], 0x23);
    EXPECT_EQ(a[12], 0x13);
    EXPECT_EQ(a[16], 1);
    EXPECT_EQ(b[16], 1);  // the same GUID
    EXPECT_EQ(a[30], 0);
    EXPECT_EQ(b[30], 1);  // the counter, low byte first
    EXPECT_EQ(p2[16], 2);
    // Another writer's maker goes on with the same GUID and counter.
    UmidMaker other([] {
        Label l;
        l.fill(0x77);
        return l;
    });
    const Umid c = other.Make(kXdcamProfile);
    EXPECT_EQ(c[16], 1);
    EXPECT_EQ(c[30], 2);
    EXPECT_EQ(c[31], 0);
    UmidMaker::ResetShared(0x1234);
    const Umid d = other.Make(kXdcamProfile);
    EXPECT_EQ(d[16], 0x77);  // a new GUID after the reset
    EXPECT_EQ(d[30], 0x34);
    EXPECT_EQ(d[31], 0x12);
}

TEST(FileValues, P2ClipNamesPadWithZeros) {
    Umid u{};
    EXPECT_EQ(P2ClipName(u, 1), std::string("000100"));  // value 0: "0" padded to "00"
    u[16] = 7;                                           // low byte 7: "7" padded to "07"
    EXPECT_EQ(P2ClipName(u, 12), std::string("001207"));
    u[17] = 0x05;  // 0x0507 = 1287 -> "ZR"
    EXPECT_EQ(P2ClipName(u, 9999), std::string("9999ZR"));
    EXPECT_FALSE(P2ClipName(u, 10000).has_value());
    EXPECT_FALSE(P2ClipName(u, -1).has_value());
}

TEST(FileValues, TrackNumbers) {
    EXPECT_EQ(TrackNumber("mpg2", kXdcamProfile), 0x15010500u);
    EXPECT_EQ(TrackNumber("aes3", kXdcamProfile, 8, 0), 0x16080300u);
    EXPECT_EQ(TrackNumber("aes3", kXdcamProfile, 8, 7), 0x16080307u);
    EXPECT_EQ(TrackNumber("dv  ", kP2Profile), 0x18010201u);
    EXPECT_EQ(TrackNumber("aes3", kP2Profile), 0x16010401u);
}

TEST(FileValues, BodyPartitionsHoldWholeGops) {
    struct Case {
        Rational rate;
        uint32_t gop, perPartition;
    };
    const Case cases[] = {{{25, 1}, 12, 240}, {{50, 1}, 12, 480}, {{30000, 1001}, 15, 300}, {{60000, 1001}, 12, 600}};
    for (const Case& c : cases) {
        // Count the units written before a GOP start opens a new partition.
        uint32_t units = 0;
        while (GopFitsPartition(units, c.rate)) units += c.gop;
        EXPECT_EQ(units, c.perPartition) << c.rate.numerator;
    }
}

TEST(FileValues, SystemTimecodes) {
    struct Case {
        int64_t count;
        Rational rate;
        bool drop;
        std::array<uint8_t, 5> tc;
    };
    const Case cases[] = {
        {1800, {30000, 1001}, true, {0x81, 0x42, 0x00, 0x01, 0x00}},   // 00:01:00;02
        {17982, {30000, 1001}, true, {0x81, 0x40, 0x00, 0x10, 0x00}},  // 00:10:00;00
        {1799, {30000, 1001}, true, {0x81, 0x69, 0x59, 0x00, 0x00}},   // 00:00:59;29
        {90000 + 26, {25, 1}, false, {0x81, 0x01, 0x01, 0x00, 0x01}},  // 01:00:01:01
        {51, {50, 1}, false, {0x81, 0x00, 0x01, 0x00, 0x80}},          // frame 25 at 25, odd field
        {61, {60000, 1001}, false, {0x81, 0x00, 0x81, 0x00, 0x00}},
    };
    for (const Case& c : cases) EXPECT_EQ(SystemTimecode(c.count, c.rate, c.drop), c.tc) << c.count;
}

}  // namespace
