// The H.264 scanner on streams written NAL unit by NAL unit: units, kinds,
// presentation and decoding times, and the stream facts of the input.
#include "codec/common/tests/h264_writer.h"
#include "codec/multiplexer/FileMux.h"
#include "codec/multiplexer/Multiplexer.h"
#include "codec/scanning/scanners/H264MediaType.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>

using namespace muxcore;
using namespace h264test;

namespace {

struct Rig {
    Multiplexer mux;
    InputStream* in = nullptr;
    explicit Rig(int32_t output = kTransportStream, int32_t timing = kCaptureMode) {
        mux.Settings().output = output;
        mux.Settings().timingMode = timing;
        StreamSettings s;
        s.streamType = kPinH264;
        in = mux.AddInput(s);
        EXPECT_NE(in, nullptr);
        EXPECT_EQ(mux.Start(nullptr), kS_OK);
    }
    std::vector<AccessUnit> Units(const Bytes& b) {
        EXPECT_EQ(in->Push(b.data(), b.size()), kS_OK);
        in->EndOfStream();
        in->PullInput();
        std::vector<AccessUnit> v;
        AccessUnit u;
        for (int32_t i = 0; in->Units().At(i, u) == 0; ++i) v.push_back(u);
        return v;
    }
};

struct Pic {
    bool idr;
    uint32_t sliceType;
    uint32_t frameNum;
    uint32_t poc;
    uint8_t ref = 2;
};

Bytes Stream(const SpsOptions& o, const std::vector<Pic>& pics, int slicesPerPicture = 1) {
    Bytes b;
    Add(b, SpsNal(o));
    Add(b, PpsNal());
    for (const Pic& p : pics) {
        for (int k = 0; k < slicesPerPicture; ++k) {
            SliceOptions s;
            s.idr = p.idr;
            s.refIdc = p.ref;
            s.sliceType = p.sliceType;
            s.frameNum = p.frameNum;
            s.pocLsb = p.poc;
            s.firstMb = static_cast<uint32_t>(k * 10);
            Add(b, SliceNal(o, s));
        }
    }
    return b;
}

void ExpectDecodingOrder(const std::vector<AccessUnit>& u) {
    for (size_t i = 0; i < u.size(); ++i) {
        EXPECT_LE(u[i].dts, u[i].pts) << "unit " << i;
        if (i) {
            EXPECT_GT(u[i].dts, u[i - 1].dts) << "unit " << i;
        }
    }
}

// A picture-timing SEI with pic_struct ps and no clock stamps (the stream
// states no HRD delays).
Bytes PicTimingSei(uint32_t ps) {
    const int clockStamps = ps < 3 ? 1 : ps == 3 || ps == 4 || ps == 7 ? 2 : 3;
    // pic_struct, one clock_timestamp_flag of 0 each, then the payload's stop bit.
    const uint8_t payload = static_cast<uint8_t>(ps << 4 | 1 << (3 - clockStamps));
    return {0, 0, 0, 1, 0x06, 0x01, 0x01, payload, 0x80};
}

}  // namespace

TEST(H264Scanner, PocType2GivesEveryPictureItsTime) {
    // x264 baseline: no B pictures, order count from frame_num.
    SpsOptions o;
    o.pocType = 2;
    o.timing = true;
    o.timeScale = 60;  // 30 frames/s without the fixed-rate flag
    std::vector<Pic> pics = {{true, 7, 0, 0}};
    for (uint32_t i = 1; i < 20; ++i) pics.push_back({false, 5, i % 16, 0});
    Rig rig;
    const auto u = rig.Units(Stream(o, pics, 2));
    ASSERT_EQ(u.size(), 20u);
    EXPECT_EQ(rig.in->FrameDuration(), 333333);
    EXPECT_EQ(u[0].kind, kUnitIWithSequence);
    EXPECT_EQ(u[0].location, rig.in->DataStart());
    for (size_t i = 1; i < u.size(); ++i) {
        EXPECT_EQ(u[i].kind, kUnitP);
        EXPECT_NEAR(static_cast<double>(u[i].pts - u[0].pts), i * 1e7 / 30, 1.0) << i;
        EXPECT_EQ(u[i].location, u[i - 1].location + u[i - 1].size);
    }
    ExpectDecodingOrder(u);
    EXPECT_EQ(u[0].dts, u[0].pts) << "no reordering: decoded when shown";
}

TEST(H264Scanner, ReferenceBPyramidKeepsDecodingTimesRising) {
    // Decoding order I0 P4 B2 b1 b3 P8 B6 b5 b7 (B2 and B6 are references),
    // reorder depth 2; IDR slices of type 2 count as I pictures too.
    SpsOptions o;
    o.timing = true;
    o.restriction = true;
    o.reorder = 2;
    o.refFrames = 3;
    const std::vector<Pic> pics = {{true, 2, 0, 0},     {false, 5, 1, 8},     {false, 6, 2, 4},
                                   {false, 6, 3, 2, 0}, {false, 6, 3, 6, 0},  {false, 5, 3, 16},
                                   {false, 6, 4, 12},   {false, 6, 5, 10, 0}, {false, 6, 5, 14, 0}};
    Rig rig;
    const auto u = rig.Units(Stream(o, pics));
    ASSERT_EQ(u.size(), pics.size());
    const int shown[] = {0, 4, 2, 1, 3, 8, 6, 5, 7};
    for (size_t i = 0; i < u.size(); ++i) EXPECT_EQ(u[i].pts - u[0].pts, shown[i] * 400000) << i;
    EXPECT_EQ(u[0].kind, kUnitIWithSequence);
    EXPECT_EQ(u[1].kind, kUnitP);
    EXPECT_EQ(u[2].kind, kUnitB);
    ExpectDecodingOrder(u);
    EXPECT_EQ(u[0].pts - u[0].dts, 2 * 400000) << "decoding starts the reorder depth early";
}

TEST(H264Scanner, IdrStartsANewOrderCountAfterTheShownPictures) {
    SpsOptions o;
    o.timing = true;
    o.restriction = true;
    o.reorder = 1;
    const std::vector<Pic> pics = {
        {true, 7, 0, 0}, {false, 5, 1, 4}, {false, 6, 2, 2, 0}, {true, 7, 0, 0}, {false, 5, 1, 2}};
    Rig rig;
    const auto u = rig.Units(Stream(o, pics));
    ASSERT_EQ(u.size(), 5u);
    EXPECT_EQ(u[3].pts - u[0].pts, 3 * 400000);
    EXPECT_EQ(u[4].pts - u[0].pts, 4 * 400000);
    ExpectDecodingOrder(u);
}

TEST(H264Scanner, FieldPairIsOneUnit) {
    SpsOptions o;
    o.frameMbsOnly = false;
    o.timing = true;
    Bytes b;
    Add(b, SpsNal(o));
    Add(b, PpsNal());
    for (uint32_t f = 0; f < 3; ++f)
        for (bool bottom : {false, true}) {
            SliceOptions s;
            s.idr = f == 0 && !bottom;
            s.sliceType = s.idr ? 7 : 5;
            s.frameNum = f == 0 ? 0 : f;
            s.field = true;
            s.bottom = bottom;
            s.pocLsb = f * 2 + (bottom ? 1 : 0);
            Add(b, SliceNal(o, s));
        }
    Rig rig;
    const auto u = rig.Units(b);
    ASSERT_EQ(u.size(), 3u);
    EXPECT_EQ(u[1].pts - u[0].pts, 400000);
    EXPECT_EQ(u[2].pts - u[1].pts, 400000);
}

TEST(H264Scanner, BufferModelFromLevelOrHrd) {
    struct Case {
        uint8_t level;
        bool hrd;
        int32_t eb;
        double leak;
    } cases[] = {
        // 13818-1: 1200 x MaxCPB bits and 1200 x MaxBR bit/s of H.264 Table A-1.
        {30, false, 1500000, 1500000},
        {40, false, 3750000, 3000000},
        {41, false, 9375000, 7500000},
        {42, false, 9375000, 7500000},
        {50, false, 20250000, 20250000},
        // 1 Mbit/s HRD, 1 Mbit CPB: 1.2 x the rate.
        {30, true, 125000, 150000},
    };
    for (const Case& c : cases) {
        SpsOptions o;
        o.level = c.level;
        o.timing = true;
        o.hrd = c.hrd;
        o.bitRateValueMinus1 = 15624;
        o.cpbSizeValueMinus1 = 62499;
        Rig rig;
        rig.Units(Stream(o, {{true, 7, 0, 0}}));
        EXPECT_EQ(rig.in->ElementaryBufferSize(), c.eb) << int(c.level);
        EXPECT_DOUBLE_EQ(rig.in->LeakRate(), c.leak) << int(c.level);
        if (c.hrd) {
            EXPECT_EQ(rig.in->RunSettings().announcedBitrate, 1000000);
        }
    }
}

TEST(H264Scanner, SlicesBeforeTheParameterSetsJoinTheFirstPicture) {
    SpsOptions o;
    o.timing = true;
    Bytes b;
    SliceOptions orphan;
    orphan.sliceType = 5;
    Add(b, SliceNal(o, orphan));
    const size_t lead = b.size();
    const Bytes rest = Stream(o, {{true, 7, 0, 0}, {false, 5, 1, 2}});
    b.insert(b.end(), rest.begin(), rest.end());
    Rig rig;
    const auto u = rig.Units(b);
    ASSERT_EQ(u.size(), 2u);
    EXPECT_GT(static_cast<size_t>(u[0].size), lead);
    EXPECT_EQ(u[0].size + u[1].size, static_cast<int32_t>(b.size()));
}

TEST(H264Scanner, InputThatNeverConfiguresEndsWithAnError) {
    SpsOptions o;
    Bytes b;
    for (uint32_t i = 0; i < 50; ++i) {
        SliceOptions s;
        s.frameNum = i % 16;
        Add(b, SliceNal(o, s, 500));
    }
    const std::string dir = ::testing::TempDir();
    const std::string in = dir + "/noparams.h264", out = dir + "/noparams.ts";
    std::ofstream(in, std::ios::binary)
        .write(reinterpret_cast<const char*>(b.data()), static_cast<std::streamsize>(b.size()));
    FileMuxJob job;
    job.settings.output = kTransportStream;
    job.inputs.push_back({in, kPinH264});
    job.output = out;
    const FileMuxResult r = MuxFiles(job);
    EXPECT_FALSE(r.ok);
    EXPECT_NE(r.error.find("noparams.h264"), std::string::npos) << r.error;
    std::remove(in.c_str());
    std::remove(out.c_str());
}

namespace {

uint32_t Le32(const std::vector<uint8_t>& b, size_t at) {
    return static_cast<uint32_t>(b[at] | b[at + 1] << 8 | b[at + 2] << 16 | static_cast<uint32_t>(b[at + 3]) << 24);
}

}  // namespace

// "mediatype filled internally": the MPEG-2 video info of the stream once
// its parameter sets are known.
TEST(H264Scanner, MediaTypeFromTheParameterSets) {
    SpsOptions o;
    o.timing = true;
    o.timeScale = 60;  // 30 frames a second
    Rig rig;
    EXPECT_TRUE(rig.in->InternalMediaType().empty());
    rig.Units(Stream(o, {{true, 7, 0, 0}}));
    const std::vector<uint8_t>& b = rig.in->InternalMediaType();
    ASSERT_GT(b.size(), h264mt::kSequenceHeader);
    EXPECT_EQ(Le32(b, h264mt::kBitmapWidth), 352u);
    EXPECT_EQ(Le32(b, h264mt::kBitmapHeight), 288u);
    EXPECT_EQ(Le32(b, h264mt::kSourceRect + 8), 352u);
    EXPECT_EQ(Le32(b, h264mt::kSourceRect + 12), 288u);
    EXPECT_EQ(Le32(b, h264mt::kAvgTimePerFrame), 333333u);
    EXPECT_EQ(Le32(b, h264mt::kAspectX), 11u);
    EXPECT_EQ(Le32(b, h264mt::kAspectY), 9u);
    EXPECT_EQ(Le32(b, h264mt::kBitmapCompression), h264mt::kH264FourCc);
    EXPECT_EQ(Le32(b, h264mt::kProfile), 66u);
    EXPECT_EQ(Le32(b, h264mt::kLevel), 30u);
    Bytes seq = {0, 0, 0, 1};
    const Bytes sps = SpsNal(o), pps = PpsNal();
    // The writer's NAL units carry a start code of their own.
    seq.insert(seq.end(), sps.begin() + 4, sps.end());
    seq.insert(seq.end(), {0, 0, 0, 1});
    seq.insert(seq.end(), pps.begin() + 4, pps.end());
    EXPECT_EQ(Le32(b, h264mt::kSequenceHeaderSize), seq.size());
    EXPECT_EQ(Bytes(b.begin() + h264mt::kSequenceHeader, b.end()), seq);
}

TEST(H264Scanner, MediaTypeCropAndAspect) {
    struct Case {
        const char* name;
        uint32_t widthMbs, heightUnits;
        bool frameMbsOnly;
        uint32_t cropBottom;
        uint32_t aspectIdc, sarW, sarH;
        uint32_t bottom, ax, ay, yPels;
    } cases[] = {
        {"1080p cropped from 1088", 120, 68, true, 4, 0, 0, 0, 1080, 16, 9, 3128},
        {"field-coded 1080i crops 4 rows a unit", 120, 34, false, 2, 1, 0, 0, 1080, 16, 9, 3128},
        {"NTSC with 10:11 samples", 45, 30, true, 0, 3, 0, 0, 480, 4, 3, 3154},
        {"extended SAR 4:3 on 1440 x 1080", 90, 68, true, 4, 255, 4, 3, 1080, 16, 9, 2151},
    };
    for (const Case& c : cases) {
        MpegCommon::h264::Sps s;
        s.profile_idc = 100;
        s.pic_width_in_mbs_minus1 = c.widthMbs - 1;
        s.pic_height_in_map_units_minus1 = c.heightUnits - 1;
        s.frame_mbs_only_flag = c.frameMbsOnly;
        s.frame_cropping_flag = c.cropBottom > 0;
        s.crop_bottom = c.cropBottom;
        s.vui_parameters_present_flag = c.aspectIdc > 0;
        s.aspect_ratio_idc = c.aspectIdc;
        s.sar_width = c.sarW;
        s.sar_height = c.sarH;
        const std::vector<uint8_t> b = h264mt::BuildFormatBlock(s, {0x67}, {0x68}, 400000, 0);
        EXPECT_EQ(Le32(b, h264mt::kSourceRect + 12), c.bottom) << c.name;
        EXPECT_EQ(Le32(b, h264mt::kTargetRect + 12), c.bottom) << c.name;
        EXPECT_EQ(Le32(b, h264mt::kAspectX), c.ax) << c.name;
        EXPECT_EQ(Le32(b, h264mt::kAspectY), c.ay) << c.name;
        EXPECT_EQ(Le32(b, h264mt::kPelsPerMeterY), c.yPels) << c.name;
        EXPECT_EQ(Le32(b, h264mt::kInterlaceFlags), c.frameMbsOnly ? 0u : 1u) << c.name;
    }
}

// "Reconstruction Mode": each group, from one I picture to the next, is held
// and shown in order-count order from the stamp of its first picture, else
// right after the group before it.
TEST(H264Scanner, ReconstructionShowsEachGroupInOrderCountOrder) {
    SpsOptions o;
    o.timing = true;
    o.restriction = true;
    o.reorder = 2;
    o.refFrames = 3;
    // I0 P8 B4 b2 b6 | open group: I16 (not IDR) with leading B12 b10 b14 |
    // IDR0 P2. Display frames 0 4 2 1 3 | 8 6 5 7 | 9 10.
    const std::vector<Pic> pics = {{true, 7, 0, 0},      {false, 5, 1, 8},  {false, 6, 2, 4},  {false, 6, 3, 2, 0},
                                   {false, 6, 3, 6, 0},  {false, 7, 3, 16}, {false, 6, 4, 12}, {false, 6, 5, 10, 0},
                                   {false, 6, 5, 14, 0}, {true, 7, 0, 0},   {false, 5, 1, 2}};
    const int64_t f = 400000, t0 = 5000000, gap = 100000;
    // One sample a picture; only the stamps of the groups' first pictures
    // count: I0 at t0, I16 late by gap (a jittered B stamp is ignored).
    const std::vector<int64_t> stamps = {
        t0,      kNoTime, t0 + 2 * f + 30000, kNoTime, kNoTime, t0 + 8 * f + gap, kNoTime, kNoTime, kNoTime,
        kNoTime, kNoTime};
    Rig rig(kTransportStream, kReconstructionMode);
    size_t total = 0;
    for (size_t i = 0; i < pics.size(); ++i) {
        Bytes b;
        if (i == 0) {
            Add(b, SpsNal(o));
            Add(b, PpsNal());
        }
        SliceOptions s;
        s.idr = pics[i].idr;
        s.refIdc = pics[i].ref;
        s.sliceType = pics[i].sliceType;
        s.frameNum = pics[i].frameNum;
        s.pocLsb = pics[i].poc;
        Add(b, SliceNal(o, s));
        total += b.size();
        ASSERT_EQ(rig.in->Push(b.data(), b.size(), stamps[i]), kS_OK);
        rig.in->PullInput();
    }
    EXPECT_EQ(rig.in->Units().GetCount(), 9) << "the last group is held until the stream ends";
    rig.in->EndOfStream();
    rig.in->PullInput();
    std::vector<AccessUnit> u;
    AccessUnit a;
    for (int32_t i = 0; rig.in->Units().At(i, a) == 0; ++i) u.push_back(a);
    ASSERT_EQ(u.size(), pics.size());
    const int shown[] = {0, 4, 2, 1, 3, 8, 6, 5, 7, 9, 10};
    int32_t bytes = 0;
    for (size_t i = 0; i < u.size(); ++i) {
        const int64_t late = i >= 5 ? gap : 0;
        EXPECT_EQ(u[i].pts, t0 + shown[i] * f + late) << i;
        EXPECT_EQ(u[i].location, rig.in->DataStart() + bytes) << "units follow each other";
        bytes += u[i].size;
    }
    EXPECT_EQ(bytes, static_cast<int32_t>(total));
    EXPECT_EQ(u[0].kind, kUnitIWithSequence);
    EXPECT_EQ(u[5].kind, kUnitI);
    EXPECT_EQ(u[6].kind, kUnitB);
    ExpectDecodingOrder(u);
}

// Picture-timing SEI: a picture is shown for the fields its pic_struct
// names (H.264 Table D-1), so 3:2 pulldown and frame repetition space the
// times of the pictures after it.
TEST(H264Scanner, PicturesAreShownForTheirFields) {
    SpsOptions o;
    o.timing = true;
    o.picStruct = true;
    const uint32_t picStructs[] = {5, 3, 6, 4, 7, 8, 0};
    // Fields: 3 2 3 2 4 6 2, in halves of a frame.
    const int64_t startHalves[] = {0, 3, 5, 8, 10, 14, 20};
    Bytes b;
    Add(b, SpsNal(o));
    Add(b, PpsNal());
    for (uint32_t i = 0; i < 7; ++i) {
        const Bytes sei = PicTimingSei(picStructs[i]);
        b.insert(b.end(), sei.begin(), sei.end());
        SliceOptions s;
        s.idr = i == 0;
        s.sliceType = i == 0 ? 7 : 5;
        s.frameNum = i;
        s.pocLsb = 2 * i;
        Add(b, SliceNal(o, s));
    }
    for (int32_t timing : {kCaptureMode, kReconstructionMode}) {
        Rig rig(kTransportStream, timing);
        const auto u = rig.Units(b);
        ASSERT_EQ(u.size(), 7u);
        for (size_t i = 0; i < u.size(); ++i)
            EXPECT_EQ(u[i].pts - u[0].pts, startHalves[i] * 200000) << i << " timing " << timing;
        ExpectDecodingOrder(u);
    }
}
