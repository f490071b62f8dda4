// H.264 header decoders on NAL units written field by field.
#include "codec/common/H264Headers.h"
#include "h264_writer.h"

#include <gtest/gtest.h>

using namespace MpegCommon::h264;
using namespace h264test;

namespace {

// The NAL unit of a written one: without its start code.
Bytes Unit(const Bytes& withStartCode) {
    return Bytes(withStartCode.begin() + 4, withStartCode.end());
}

Sps ParsedSps(const SpsOptions& o) {
    const Bytes b = Unit(SpsNal(o));
    Sps s;
    EXPECT_TRUE(s.Parse(b.data(), b.size()));
    return s;
}

}  // namespace

TEST(H264Sps, FrameDurationFromTimingWhetherFixedOrNot) {
    struct Case {
        uint32_t units, scale;
        bool fixed;
        int64_t duration;
    } cases[] = {
        {1, 50, false, 400000},        // x264 at 25 frames/s writes no fixed-rate flag
        {1, 60, false, 333333},        // 30 frames/s
        {1001, 60000, true, 333666},   // 29.97: 2 x 10^7 x 1001 / 60000
        {1001, 48000, false, 417083},  // 23.976
    };
    for (const Case& c : cases) {
        SpsOptions o;
        o.timing = true;
        o.unitsInTick = c.units;
        o.timeScale = c.scale;
        o.fixedRate = c.fixed;
        EXPECT_EQ(ParsedSps(o).FrameDuration(), c.duration) << c.units << "/" << c.scale;
    }
    EXPECT_EQ(ParsedSps(SpsOptions()).FrameDuration(), 0);
}

TEST(H264Sps, LaterProfilesAndConstraintFlags) {
    // High 4:4:4 Predictive (what libx264 writes for RGB input) has the chroma
    // fields; constraint_set4/5 are flags, not reserved bits.
    for (uint8_t profile : {uint8_t(100), uint8_t(244)}) {
        SpsOptions o;
        o.profile = profile;
        o.constraints = 0x03;
        o.widthMbs = 80;
        o.heightMapUnits = 45;
        o.timing = true;
        const Sps s = ParsedSps(o);
        EXPECT_EQ(s.Width(), 1280u) << int(profile);
        EXPECT_EQ(s.Height(), 720u);
        EXPECT_TRUE(s.Constraint(4));
        EXPECT_TRUE(s.Constraint(5));
        EXPECT_EQ(s.FrameDuration(), 400000);
    }
}

TEST(H264Sps, HrdReorderAndLongPocCycle) {
    SpsOptions o;
    o.timing = true;
    o.hrd = true;
    o.bitRateValueMinus1 = 15624;  // (15624 + 1) x 2^6 = 1 Mbit/s
    o.cpbSizeValueMinus1 = 12499;  // (12499 + 1) x 2^4 = 200000 bits
    o.restriction = true;
    o.reorder = 2;
    Sps s = ParsedSps(o);
    ASSERT_TRUE(s.nal_hrd.present);
    EXPECT_EQ(s.nal_hrd.BitRate(), 1000000u);
    EXPECT_EQ(s.nal_hrd.CpbSize(), 200000u);
    EXPECT_EQ(s.max_num_reorder_frames, 2u);

    // POC type 1 with all 255 offsets of a cycle kept.
    SpsOptions p;
    p.pocType = 1;
    for (int i = 0; i < 255; ++i) p.refFrameOffsets.push_back(i == 254 ? 7 : 2);
    s = ParsedSps(p);
    EXPECT_EQ(s.num_ref_frames_in_pic_order_cnt_cycle, 255u);
    EXPECT_EQ(s.offset_for_ref_frame[254], 7);
    EXPECT_EQ(s.Width(), 352u);  // the fields after the cycle are in place
}

TEST(H264Pps, SliceGroupMapIsBounded) {
    // Type 6 with a map of 2^31 ids: refused, without reading them one by one.
    RbspWriter w;
    w.UE(0);
    w.UE(0);
    w.U(0, 2);
    w.UE(1);  // two slice groups
    w.UE(6);
    w.UE(0x7FFFFFFE);
    const Bytes bad = Unit(w.Nal(0x68, 16));
    Pps p;
    EXPECT_FALSE(p.Parse(bad.data(), bad.size()));

    // A map of the picture's size parses.
    SpsOptions o;
    o.widthMbs = 2;
    o.heightMapUnits = 2;
    const Sps sps = ParsedSps(o);
    RbspWriter g;
    g.UE(3);
    g.UE(0);
    g.U(0, 2);
    g.UE(1);
    g.UE(6);
    g.UE(3);
    g.U(0b0101, 4);
    for (int i = 0; i < 2; ++i) g.UE(0);
    g.U(0, 3);
    for (int i = 0; i < 3; ++i) g.SE(0);
    g.U(0, 3);
    const Bytes good = Unit(g.Nal(0x68));
    ASSERT_TRUE(p.Parse(good.data(), good.size(), &sps));
    EXPECT_EQ(p.pic_parameter_set_id, 3u);
    EXPECT_EQ(p.slice_group_map_type, 6u);
    // The same map against a larger picture does not fit it.
    o.widthMbs = 22;
    const Sps large = ParsedSps(o);
    EXPECT_FALSE(p.Parse(good.data(), good.size(), &large));
}

TEST(H264Sei, LongMessagesAndTruncation) {
    SpsOptions o;
    o.timing = true;
    o.hrd = true;
    o.picStruct = true;
    const Bytes spsBytes = Unit(SpsNal(o));
    Sps sps;
    ASSERT_TRUE(sps.Parse(spsBytes.data(), spsBytes.size()));

    // A 600-byte user-data message (sizes over 0xFF bytes), then a buffering
    // period and a picture timing.
    Bytes raw = {5, 0xFF, 0xFF, 600 - 510};
    raw.insert(raw.end(), 600, 0x41);
    // initial_cpb_removal_delay 45000 and its offset in 24 bits each, after ue(0).
    raw.insert(raw.end(), {0, 7, 0x80, 0x57, 0xE4, 0, 0, 0, 0x40});
    raw.insert(raw.end(), {1, 7, 0, 0, 0, 0, 0, 0, 0x30, 0x80});  // pic_struct 3 after two 24-bit delays
    Bytes nal = {0x06};
    nal.insert(nal.end(), raw.begin(), raw.end());
    Sei sei;
    ASSERT_TRUE(sei.Parse(nal.data(), nal.size(), &sps));
    ASSERT_EQ(sei.payloadTypes, (std::vector<uint32_t>{5, 0, 1}));
    EXPECT_TRUE(sei.hasBufferingPeriod);
    EXPECT_EQ(sei.initial_cpb_removal_delay, 45000u);
    EXPECT_TRUE(sei.hasPicStruct);
    EXPECT_EQ(sei.pic_struct, 3u);

    // The same cut inside the long message: nothing past it is taken.
    const Bytes cut(nal.begin(), nal.begin() + 300);
    EXPECT_FALSE(sei.Parse(cut.data(), cut.size(), &sps));
}

TEST(H264NewPicture, ReferenceAndIdrChangesStartPictures) {
    SliceHeader a, b;
    a.nal_unit_type = b.nal_unit_type = kNalSlice;
    a.nal_ref_idc = 2;
    b.nal_ref_idc = 1;
    Sps sps;
    sps.pic_order_cnt_type = 2;
    EXPECT_FALSE(FirstSliceOfNewPicture(a, b, sps)) << "both reference slices";
    b.nal_ref_idc = 0;
    EXPECT_TRUE(FirstSliceOfNewPicture(a, b, sps)) << "nal_ref_idc becomes 0";
    b.nal_ref_idc = 2;
    b.nal_unit_type = kNalIdr;
    EXPECT_TRUE(FirstSliceOfNewPicture(a, b, sps)) << "IdrPicFlag differs";
    a.nal_unit_type = kNalIdr;
    b.idr_pic_id = 1;
    EXPECT_TRUE(FirstSliceOfNewPicture(a, b, sps)) << "idr_pic_id differs";
}

TEST(H264OrderCount, TypesZeroOneAndTwo) {
    const auto slice = [](bool idr, uint8_t ref, uint32_t frameNum, uint32_t lsb, bool field = false,
                          bool bottom = false) {
        SliceHeader s;
        s.nal_unit_type = idr ? kNalIdr : kNalSlice;
        s.nal_ref_idc = ref;
        s.frame_num = frameNum;
        s.pic_order_cnt_lsb = lsb;
        s.field_pic_flag = field;
        s.bottom_field_flag = bottom;
        return s;
    };
    // Type 2 (x264 baseline): two per frame, one less for a non-reference one;
    // frame_num wraps at 16 and the count goes on.
    Sps two;
    two.pic_order_cnt_type = 2;
    OrderCount c;
    EXPECT_EQ(c.Update(slice(true, 3, 0, 0), two), 0);
    EXPECT_EQ(c.Update(slice(false, 2, 1, 0), two), 2);
    EXPECT_EQ(c.Update(slice(false, 0, 2, 0), two), 3);
    for (uint32_t f = 2; f < 16; ++f) c.Update(slice(false, 2, f, 0), two);
    EXPECT_EQ(c.Update(slice(false, 2, 0, 0), two), 32);
    EXPECT_EQ(c.Update(slice(true, 3, 0, 0), two), 0);

    // Type 0: the lsb wraps at MaxPicOrderCntLsb (16) and the msb follows.
    Sps zero;
    zero.log2_max_pic_order_cnt_lsb_minus4 = 0;
    OrderCount z;
    EXPECT_EQ(z.Update(slice(true, 3, 0, 0), zero), 0);
    EXPECT_EQ(z.Update(slice(false, 2, 1, 6), zero), 6);
    EXPECT_EQ(z.Update(slice(false, 2, 2, 12), zero), 12);
    EXPECT_EQ(z.Update(slice(false, 2, 3, 2), zero), 18);
    EXPECT_EQ(z.Update(slice(false, 0, 4, 0), zero), 16);

    // Type 1: a field pair counts from the expected count of its frame.
    Sps one;
    one.pic_order_cnt_type = 1;
    one.num_ref_frames_in_pic_order_cnt_cycle = 1;
    one.offset_for_ref_frame[0] = 4;
    one.offset_for_top_to_bottom_field = 1;
    OrderCount o;
    EXPECT_EQ(o.Update(slice(true, 3, 0, 0, true, false), one), 0);
    EXPECT_EQ(o.Update(slice(false, 3, 0, 0, true, true), one), 1);
    EXPECT_EQ(o.Update(slice(false, 3, 1, 0, true, false), one), 4);
    EXPECT_EQ(o.Update(slice(false, 3, 1, 0, true, true), one), 5);
}
