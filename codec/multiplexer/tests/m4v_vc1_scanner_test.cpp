// The MPEG-4 Part 2 and VC-1 scanners on small written streams.
#include "codec/common/Mpeg4VideoHeaders.h"
#include "codec/multiplexer/Multiplexer.h"
#include "vc1_builder.h"

#include <gtest/gtest.h>

using namespace muxcore;

namespace {

std::vector<AccessUnit> Scan(int32_t type, const std::vector<uint8_t>& b, InputStream** input = nullptr,
                             Multiplexer* keep = nullptr) {
    Multiplexer local;
    Multiplexer& mux = keep ? *keep : local;
    mux.Settings().output = kTransportStream;
    StreamSettings s;
    s.streamType = type;
    InputStream* in = mux.AddInput(s);
    EXPECT_NE(in, nullptr);
    EXPECT_EQ(mux.Start(nullptr), kS_OK);
    EXPECT_EQ(in->Push(b.data(), b.size()), kS_OK);
    in->EndOfStream();
    in->PullInput();
    std::vector<AccessUnit> v;
    AccessUnit u;
    for (int32_t i = 0; in->Units().At(i, u) == 0; ++i) v.push_back(u);
    if (input) *input = in;
    return v;
}

}  // namespace

TEST(Vc1Scanner, KindsByPictureTypeAndBFramesShownFirst) {
    // Decoding order I P B B P B B; shown I B B P B B P.
    const auto b = vc1test::Stream("IPBBPBB", 2, 300);
    Multiplexer mux;
    InputStream* in = nullptr;
    const auto u = Scan(kPinVc1, b, &in, &mux);
    ASSERT_EQ(u.size(), 14u);
    const int shown[] = {0, 3, 1, 2, 6, 4, 5};
    const UnitKind kinds[] = {kUnitIWithSequence, kUnitP, kUnitB, kUnitB, kUnitP, kUnitB, kUnitB};
    int32_t bytes = 0;
    for (size_t i = 0; i < u.size(); ++i) {
        EXPECT_EQ(u[i].kind, kinds[i % 7]) << i;
        EXPECT_EQ(u[i].pts - u[0].pts, (shown[i % 7] + 7 * static_cast<int>(i / 7)) * 400000) << i;
        EXPECT_LE(u[i].dts, u[i].pts) << i;
        if (i) {
            EXPECT_GT(u[i].dts, u[i - 1].dts) << i;
        }
        bytes += u[i].size;
    }
    EXPECT_EQ(bytes, static_cast<int32_t>(b.size()));
    // Level 1: 10 Mbit/s peak, 1.2 x that in bytes; the descriptor once.
    EXPECT_DOUBLE_EQ(in->LeakRate(), 10e6 * 1.2 / 8);
    EXPECT_EQ(in->RunSettings().esInfo, (std::vector<uint8_t>{0x05, 0x06, 'V', 'C', '-', '1', 0x01, 146}));
}

TEST(Vc1Scanner, NoSequenceLayerGivesNoUnits) {
    std::vector<uint8_t> b;
    vc1test::EntryPoint(b);
    for (int i = 0; i < 10; ++i) vc1test::Frame(b, 'P', 200);
    Multiplexer mux;
    InputStream* in = nullptr;
    EXPECT_TRUE(Scan(kPinVc1, b, &in, &mux).empty());
    EXPECT_FALSE(in->Configured());
}

TEST(Mpeg4Headers, TimeIncrementBitsAndBVopClock) {
    // A rectangular VOL: resolution r, no fixed rate.
    const auto vol = [](uint32_t r) {
        vc1test::Bits w;
        w.U(0, 1);
        w.U(1, 8);  // simple object
        w.U(0, 1);
        w.U(1, 4);  // square pixels
        w.U(0, 1);  // no control parameters
        w.U(0, 2);  // rectangular
        w.U(1, 1);
        w.U(r, 16);
        w.U(1, 1);
        w.U(0, 1);  // no fixed rate
        w.U(1, 1);
        w.U(352, 13);
        w.U(1, 1);
        w.U(288, 13);
        w.U(1, 1);
        w.U(0, 1);
        std::vector<uint8_t> b;
        w.AppendTo(b, 0x20);
        return b;
    };
    for (auto c : {std::pair<uint32_t, unsigned>{25, 5}, {16, 4}, {1, 1}, {30000, 15}}) {
        const auto b = vol(c.first);
        MpegCommon::mpeg4::Vol v;
        ASSERT_TRUE(v.Parse(b.data(), b.size())) << c.first;
        EXPECT_EQ(v.timeIncrementBits, c.second) << c.first;
        EXPECT_EQ(v.width, 352u);
        EXPECT_EQ(v.height, 288u);
    }
    // Seconds of a B VOP count from the reference before the latest one.
    MpegCommon::mpeg4::Vol v;
    const auto b = vol(25);
    ASSERT_TRUE(v.Parse(b.data(), b.size()));
    MpegCommon::mpeg4::VopClock clock;
    const auto vop = [](uint32_t type, uint32_t seconds, uint32_t inc) {
        MpegCommon::mpeg4::Vop p;
        p.vop_coding_type = type;
        p.modulo_time_base = seconds;
        p.vop_time_increment = inc;
        return p;
    };
    EXPECT_EQ(clock.Time(vop(0, 0, 23), v), 23);
    EXPECT_EQ(clock.Time(vop(1, 1, 2), v), 27);   // P in the next second
    EXPECT_EQ(clock.Time(vop(2, 1, 0), v), 25);   // B between them, after the second boundary
    EXPECT_EQ(clock.Time(vop(2, 0, 24), v), 24);  // B before it
}

namespace {

// Decoding order I0 P3 B1 B2 P6 B4 B5 (increments in ticks of 1/25 s).
const std::pair<uint32_t, uint32_t> kVops[] = {{0, 0}, {1, 3}, {2, 1}, {2, 2}, {1, 6}, {2, 4}, {2, 5}};

// A VOL of 25 ticks a second with VBV parameters: 1 Mbit/s (2500 x 400),
// a buffer of 4 x 16384 bits; then the VOPs of kVops.
std::vector<uint8_t> Mpeg4Stream() {
    vc1test::Bits w;
    w.U(0, 1);
    w.U(1, 8);
    w.U(0, 1);
    w.U(1, 4);
    w.U(1, 1);  // vol_control_parameters
    w.U(1, 2);
    w.U(0, 1);
    w.U(1, 1);  // vbv_parameters
    w.U(0, 15);
    w.U(1, 1);
    w.U(2500, 15);
    w.U(1, 1);
    w.U(0, 15);
    w.U(1, 1);
    w.U(4, 3);  // buffer size 4 x 16384 bits
    w.U(0, 11);
    w.U(1, 1);
    w.U(0, 15);
    w.U(1, 1);
    w.U(0, 2);
    w.U(1, 1);
    w.U(25, 16);
    w.U(1, 1);
    w.U(0, 1);
    w.U(1, 1);
    w.U(352, 13);
    w.U(1, 1);
    w.U(288, 13);
    w.U(1, 1);
    w.U(0, 1);
    std::vector<uint8_t> b;
    w.AppendTo(b, 0x20);
    for (const auto& v : kVops) {
        vc1test::Bits p;
        p.U(v.first, 2);
        p.U(0, 1);  // no whole second passes
        p.U(1, 1);
        p.U(v.second, 5);
        p.U(1, 1);
        p.U(1, 1);
        p.AppendTo(b, 0xB6, 300);
    }
    return b;
}

}  // namespace

TEST(Mpeg4Scanner, TimesFromVopStampsAndBufferFromTheVbv) {
    const std::vector<uint8_t> b = Mpeg4Stream();
    const auto& vops = kVops;
    Multiplexer mux;
    InputStream* in = nullptr;
    const auto u = Scan(kPinMpeg4, b, &in, &mux);
    ASSERT_EQ(u.size(), 7u);
    for (size_t i = 0; i < u.size(); ++i) {
        EXPECT_EQ(u[i].pts - u[0].pts, static_cast<int64_t>(vops[i].second) * 400000) << i;
        EXPECT_LE(u[i].dts, u[i].pts) << i;
        if (i) {
            EXPECT_GT(u[i].dts, u[i - 1].dts) << i;
        }
    }
    EXPECT_EQ(u[0].kind, kUnitIWithSequence);
    EXPECT_EQ(u[1].kind, kUnitP);
    EXPECT_EQ(u[2].kind, kUnitB);
    EXPECT_EQ(in->FrameDuration(), 400000);
    // ISO/IEC 13818-1: 1.2 x the rate, in bytes per second.
    EXPECT_DOUBLE_EQ(in->LeakRate(), 1.2 * 1000000 / 8);
    EXPECT_EQ(in->RunSettings().announcedBitrate, 1000000);
    EXPECT_EQ(in->ElementaryBufferSize(), 4 * 16384 / 8);
}

// "MPEG-4 v5" (DivX 5) is MPEG-4 Part 2 video: the same units and times.
TEST(Mpeg4Scanner, Version5InputScansAsMpeg4) {
    const std::vector<uint8_t> b = Mpeg4Stream();
    const auto ref = Scan(kPinMpeg4, b);
    const auto v5 = Scan(kPinMpeg4v5, b);
    ASSERT_EQ(v5.size(), ref.size());
    for (size_t i = 0; i < v5.size(); ++i) {
        EXPECT_EQ(v5[i].pts, ref[i].pts) << i;
        EXPECT_EQ(v5[i].dts, ref[i].dts) << i;
        EXPECT_EQ(v5[i].size, ref[i].size) << i;
        EXPECT_EQ(v5[i].kind, ref[i].kind) << i;
    }
}

// Frames delivered one sample each take the sample's time as their display
// time, off the frame grid included; decoding times still rise.
TEST(Vc1Scanner, ReceivedSampleTimesAreTheDisplayTimes) {
    // Decoding order I P B B P B B, shown I B B P B B P; samples stamped from 7 s.
    std::vector<uint8_t> head;
    vc1test::SequenceLayer(head);
    vc1test::EntryPoint(head);
    const char order[] = "IPBBPBB";
    const int shown[] = {0, 3, 1, 2, 6, 4, 5};
    constexpr int64_t kStart = 70000000, kFrame = 400000, kJitter = 1234;
    Multiplexer mux;
    mux.Settings().output = kTransportStream;
    StreamSettings s;
    s.streamType = kPinVc1;
    InputStream* in = mux.AddInput(s);
    ASSERT_NE(in, nullptr);
    ASSERT_EQ(mux.Start(nullptr), kS_OK);
    std::vector<int64_t> stamps;
    for (int i = 0; i < 7; ++i) {
        std::vector<uint8_t> b = i == 0 ? head : std::vector<uint8_t>();
        vc1test::Frame(b, order[i], 300);
        // The fifth frame comes a little late: its time is off the grid.
        stamps.push_back(kStart + shown[i] * kFrame + (i == 4 ? kJitter : 0));
        ASSERT_EQ(in->Push(b.data(), b.size(), stamps.back()), kS_OK);
    }
    in->EndOfStream();
    in->PullInput();
    std::vector<AccessUnit> u;
    AccessUnit a;
    for (int32_t i = 0; in->Units().At(i, a) == 0; ++i) u.push_back(a);
    ASSERT_EQ(u.size(), 7u);
    for (size_t i = 0; i < u.size(); ++i) {
        EXPECT_EQ(u[i].pts - u[0].pts, stamps[i] - stamps[0]) << i;
        EXPECT_LE(u[i].dts, u[i].pts) << i;
        if (i) {
            EXPECT_GT(u[i].dts, u[i - 1].dts) << i;
        }
    }
}
