#include "restamp/parsers/MH264.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

namespace h264 = MpegCommon::h264;

h264::SliceHeader Slice(uint8_t type, uint8_t refIdc, uint32_t frameNum) {
    h264::SliceHeader s;
    s.nal_unit_type = type;
    s.nal_ref_idc = refIdc;
    s.frame_num = frameNum;
    return s;
}

TEST(H264NewPicture, FollowsThePictureBoundaryTests) {
    h264::Sps poc0, poc1;
    poc1.pic_order_cnt_type = 1;
    poc1.delta_pic_order_always_zero_flag = 1;
    struct Case {
        const char* what;
        h264::SliceHeader a, b;
        const h264::Sps* sps;
        bool newPicture;
    };
    auto field = [](h264::SliceHeader s, bool bottom, uint32_t lsb) {
        s.field_pic_flag = 1;
        s.bottom_field_flag = bottom;
        s.pic_order_cnt_lsb = lsb;
        return s;
    };
    auto lsb = [](h264::SliceHeader s, uint32_t v) {
        s.pic_order_cnt_lsb = v;
        return s;
    };
    auto idr = [](uint32_t id) {
        h264::SliceHeader s = Slice(5, 3, 0);
        s.idr_pic_id = id;
        return s;
    };
    const h264::SliceHeader p = Slice(1, 2, 3);
    const Case cases[] = {
        {"same picture", p, p, &poc0, false},
        {"frame_num", p, Slice(1, 2, 4), &poc0, true},
        {"order count lsb of a frame", lsb(p, 2), lsb(p, 4), &poc0, true},
        {"top then bottom field", field(p, false, 2), field(p, true, 3), &poc0, false},
        {"bottom then top field", field(p, true, 3), field(p, false, 2), &poc0, true},
        {"frame then field", p, field(p, false, 0), &poc0, true},
        {"two IDR pictures", idr(0), idr(1), &poc0, true},
        // Only nal_ref_idc tells these apart (order count type 1, no deltas).
        {"reference then non-reference", Slice(1, 2, 3), Slice(1, 0, 3), &poc1, true},
        {"non-reference then reference", Slice(1, 0, 3), Slice(1, 1, 3), &poc1, true},
        {"references of other nal_ref_idc", Slice(1, 1, 3), Slice(1, 3, 3), &poc1, false},
        {"IDR then non-IDR", idr(0), Slice(1, 3, 0), &poc1, true},
    };
    for (const Case& c : cases) EXPECT_EQ(MH264::IsNewPicture(c.a, c.b, *c.sps), c.newPicture) << c.what;
}

TEST(H264SliceState, PictureNumbersRiseAcrossIdrPictures) {
    h264::Sps sps;  // order count type 0, 4-bit lsb
    MH264::CH264SliceState st;
    auto run = [&](h264::SliceHeader s, uint32_t lsb) {
        s.pic_order_cnt_lsb = lsb;
        st.ComputePOC(s, sps);
        return st.pictureNumber;
    };
    h264::SliceHeader idr0 = Slice(5, 3, 0), idr1 = Slice(5, 3, 0);
    idr1.idr_pic_id = 1;
    const int64_t first = run(idr0, 0);
    EXPECT_TRUE(st.IsNewPicture());
    run(idr0, 0);  // its second slice
    EXPECT_FALSE(st.IsNewPicture());
    EXPECT_EQ(run(Slice(1, 2, 1), 6), first + 6);
    EXPECT_EQ(run(Slice(1, 0, 2), 2), first + 2);
    EXPECT_EQ(run(Slice(1, 0, 2), 4), first + 4);
    // The next period starts above the largest order count of this one (6).
    EXPECT_EQ(run(idr1, 0), first + 7);
    EXPECT_EQ(run(idr0, 0), first + 7 + 1);  // two IDR pictures in a row
}

TEST(H264SeqHdr, FrameDurationFromTimingOrPictureHeight) {
    struct Case {
        uint32_t units, scale, heightMinus1;
        uint8_t frameMbsOnly;
        int32_t duration;
    };
    const Case cases[] = {
        {1001, 60000, 0, 1, 333666}, {1, 50, 0, 1, 400000}, {0, 0, 17, 0, 400000},
        {0, 0, 29, 1, 333333},       {0, 0, 67, 1, 333333}, {0, 0, 17, 1, 400000},
    };
    for (const Case& c : cases) {
        MH264::CH264SeqHdr h;
        h.sps.vui_parameters_present_flag = c.units != 0;
        h.sps.timing_info_present_flag = c.units != 0;
        h.sps.num_units_in_tick = c.units;
        h.sps.time_scale = c.scale;
        h.sps.pic_height_in_map_units_minus1 = c.heightMinus1;
        h.sps.frame_mbs_only_flag = c.frameMbsOnly;
        EXPECT_EQ(h.GetFrameDuration(), c.duration) << c.units << "/" << c.scale << " " << c.heightMinus1;
    }
}

// A baseline SPS (profile 66, 176x144), its PPS and an IDR slice, written by x264.
const std::vector<uint8_t> kSps = {0,    0,    0,    1,    0x67, 0x42, 0xC0, 0x0B, 0xD9, 0x02, 0xC4, 0xEC, 0x04,
                                   0x40, 0x00, 0x00, 0x03, 0x00, 0x40, 0x00, 0x00, 0x0C, 0x83, 0xC5, 0x0A, 0x92};
const std::vector<uint8_t> kPps = {0, 0, 0, 1, 0x68, 0xCB, 0x83, 0xCB, 0x20};
const std::vector<uint8_t> kIdr = {0,    0,    1,    0x65, 0x88, 0x84, 0x08, 0x7C, 0x42, 0x22,
                                   0xAE, 0x0C, 0x08, 0xE4, 0x5E, 0x03, 0x11, 0x22, 0x33, 0x44};

std::vector<uint8_t> Join(std::initializer_list<std::vector<uint8_t>> parts, size_t pad) {
    std::vector<uint8_t> v;
    for (const auto& p : parts) v.insert(v.end(), p.begin(), p.end());
    v.resize(v.size() + pad, 0x55);
    return v;
}

// Counts the states raised by the element.
class StateLog : public BS::AStreamElementStateHandler {
public:
    void OnStateChange(BS::AStreamElement* e) override { codes.push_back(e->GetState()->code); }
    void OnElementDestroyed(BS::AStreamElement*) override {}
    std::vector<uint32_t> codes;
};

TEST(H264Parser, FiresNothingBeforeAParameterSet) {
    using Tmpl = BS::CParserTemplateImpl<MH264::CH264ParserImpl, MH264::CH264ParserHandlerImpl, MH264::CH264Stream>;
    Tmpl t;
    t.Reset();
    StateLog log;
    t.stream.AddStateHandler(&log);
    const auto lead = Join({kIdr, kIdr}, 0);
    const auto d = Join({lead, kSps, kPps, kIdr}, 40);
    t.Parse(0, d.data(), uint32_t(d.size()), 0);
    ASSERT_TRUE(t.handler.seqHdr.valid);
    EXPECT_EQ(t.handler.seqHdr.sps.profile_idc, 66);
    EXPECT_EQ(t.handler.seqHdr.sps.Width(), 176u);
    EXPECT_EQ(t.handler.seqHdr.sps.Height(), 144u);
    EXPECT_EQ(log.codes, (std::vector<uint32_t>{2, 3, 4}));
    t.stream.RemoveStateHandler(&log);
}

}  // namespace
