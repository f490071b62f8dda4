// H.264 streams of Debian's x264, their parameter sets and slice headers as
// the shared header decoder reads them, against ffmpeg's trace_headers.
#include "codec/common/H264Headers.h"
#include "ffmpeg_util.h"

#include <gtest/gtest.h>

#include <set>
#include <sstream>

using namespace spltest;
namespace h264 = MpegCommon::h264;

namespace {

using FieldList = std::vector<std::pair<std::string, long long>>;

FieldList ScanH264Fields(const Bytes& es) {
    FieldList out;
    auto add = [&](const std::string& n, long long v) { out.emplace_back(n, v); };
    h264::Sps sps;
    h264::Pps pps;
    bool haveSps = false, havePps = false;
    for (size_t i = 0; i + 4 < es.size(); ++i) {
        if (es[i] != 0 || es[i + 1] != 0 || es[i + 2] != 1) continue;
        const uint8_t* nal = es.data() + i + 3;
        const size_t len = h264::NalUnitLength(nal, es.size() - i - 3);
        const uint8_t type = nal[0] & 0x1F;
        if (type == h264::kNalSps) {
            EXPECT_TRUE(sps.Parse(nal, len)) << "SPS at " << i;
            haveSps = true;
            add("profile_idc", sps.profile_idc);
            add("level_idc", sps.level_idc);
            add("log2_max_frame_num_minus4", sps.log2_max_frame_num_minus4);
            add("pic_order_cnt_type", sps.pic_order_cnt_type);
            if (sps.pic_order_cnt_type == 0)
                add("log2_max_pic_order_cnt_lsb_minus4", sps.log2_max_pic_order_cnt_lsb_minus4);
            add("max_num_ref_frames", sps.max_num_ref_frames);
            add("pic_width_in_mbs_minus1", sps.pic_width_in_mbs_minus1);
            add("pic_height_in_map_units_minus1", sps.pic_height_in_map_units_minus1);
            add("frame_mbs_only_flag", sps.frame_mbs_only_flag);
            if (sps.timing_info_present_flag) {
                add("num_units_in_tick", sps.num_units_in_tick);
                add("time_scale", sps.time_scale);
                add("fixed_frame_rate_flag", sps.fixed_frame_rate_flag);
            }
            if (sps.nal_hrd.present) {
                add("bit_rate_value_minus1[0]", sps.nal_hrd.bit_rate_value_minus1[0]);
                add("cpb_size_value_minus1[0]", sps.nal_hrd.cpb_size_value_minus1[0]);
            }
            if (sps.bitstream_restriction_flag) add("max_num_reorder_frames", sps.max_num_reorder_frames);
        } else if (type == h264::kNalPps && haveSps) {
            EXPECT_TRUE(pps.Parse(nal, len, &sps)) << "PPS at " << i;
            havePps = true;
            add("entropy_coding_mode_flag", pps.entropy_coding_mode_flag);
            add("num_ref_idx_l0_default_active_minus1", pps.num_ref_idx_l0_default_active_minus1);
            add("weighted_bipred_idc", pps.weighted_bipred_idc);
        } else if ((type == h264::kNalSlice || type == h264::kNalIdr) && havePps) {
            h264::SliceHeader s;
            EXPECT_TRUE(s.Parse(nal, len, sps, pps)) << "slice at " << i;
            add("first_mb_in_slice", s.first_mb_in_slice);
            add("slice_type", s.slice_type);
            add("frame_num", s.frame_num);
            if (sps.pic_order_cnt_type == 0) add("pic_order_cnt_lsb", s.pic_order_cnt_lsb);
        }
        i += 2;
    }
    return out;
}

// "[trace_headers @ 0x...] 36   profile_idc   01100100 = 100", packets only
// (the extradata copy of the parameter sets is left out).
FieldList TraceFields(const std::string& text, const std::set<std::string>& names) {
    FieldList out;
    std::istringstream in(text);
    std::string l;
    bool inPackets = false;
    while (std::getline(in, l)) {
        const size_t tag = l.find("[trace_headers");
        if (tag == std::string::npos) continue;
        if (l.find("] Packet: ", tag) != std::string::npos) inPackets = true;
        const size_t close = l.find("] ", tag);
        const size_t eq = l.rfind(" = ");
        if (!inPackets || close == std::string::npos || eq == std::string::npos || eq < close) continue;
        std::istringstream fields(l.substr(close + 2, eq - close - 2));
        std::string pos, name, bits;
        if (!(fields >> pos >> name >> bits) || !names.count(name)) continue;
        out.emplace_back(name, std::stoll(l.substr(eq + 3)));
    }
    return out;
}

}  // namespace

TEST(H264Trace, X264HeadersMatchTheTrace) {
    SKIP_WITHOUT_FFMPEG();
    struct Case {
        const char* name;
        const char* options;
    } cases[] = {
        {"x264_25", "-r 25"},
        {"x264_30", "-r 30"},
        {"x264_baseline", "-r 25 -profile:v baseline"},
        {"x264_bf0", "-r 25 -bf 0"},
        {"x264_hrd", "-r 25 -x264-params nal-hrd=vbr -maxrate 1M -bufsize 2M"},
    };
    const std::set<std::string> names = {"profile_idc",
                                         "level_idc",
                                         "log2_max_frame_num_minus4",
                                         "pic_order_cnt_type",
                                         "log2_max_pic_order_cnt_lsb_minus4",
                                         "max_num_ref_frames",
                                         "pic_width_in_mbs_minus1",
                                         "pic_height_in_map_units_minus1",
                                         "frame_mbs_only_flag",
                                         "num_units_in_tick",
                                         "time_scale",
                                         "fixed_frame_rate_flag",
                                         "bit_rate_value_minus1[0]",
                                         "cpb_size_value_minus1[0]",
                                         "max_num_reorder_frames",
                                         "entropy_coding_mode_flag",
                                         "num_ref_idx_l0_default_active_minus1",
                                         "weighted_bipred_idc",
                                         "first_mb_in_slice",
                                         "slice_type",
                                         "frame_num",
                                         "pic_order_cnt_lsb"};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string file = WorkFile(std::string(c.name) + ".h264");
        ASSERT_TRUE(Ffmpeg(std::string("-f lavfi -i testsrc=size=320x240 ") + c.options +
                           " -frames:v 12 -c:v libx264 -pix_fmt yuv420p -f h264 " + Quote(file)));
        const Bytes es = ReadFile(file);
        ASSERT_FALSE(es.empty());
        const FieldList ours = ScanH264Fields(es);
        const FieldList trace = TraceFields(
            Capture("ffmpeg -hide_banner -nostats -i " + Quote(file) + " -c copy -bsf:v trace_headers -f null - 2>&1"),
            names);
        ASSERT_GT(ours.size(), 12u * 4);
        ASSERT_EQ(trace.size(), ours.size());
        for (size_t i = 0; i < ours.size(); ++i) ASSERT_EQ(trace[i], ours[i]) << "field " << i;
    }
}
