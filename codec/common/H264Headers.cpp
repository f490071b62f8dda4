#include "codec/common/H264Headers.h"

#include "codec/common/BitReader.h"

#include <algorithm>
#include <cstring>

namespace MpegCommon {
namespace h264 {

namespace {

// Limits of the syntax (ITU-T H.264 7.4.2).
constexpr uint32_t kMaxSpsId = 31;
constexpr uint32_t kMaxPpsId = 255;
constexpr uint32_t kMaxLog2Minus4 = 28;  // larger values are kept at this
constexpr uint32_t kMaxSliceGroupsMinus1 = 7;
constexpr uint32_t kMaxSliceGroupMapType = 6;
constexpr uint32_t kMaxSliceType = 9;
constexpr uint32_t kExtendedSar = 255;
constexpr int64_t kHundredNsPerSecond = 10000000;

// A reader past the NAL header byte.
BitReader Open(const uint8_t* nal, size_t size) {
    BitReader r(true);
    r.Attach(size > 1 ? nal + 1 : nal, size > 1 ? size - 1 : 0);
    return r;
}

void SkipScalingList(BitReader& r, int size) {
    int last = 8, next = 8;
    for (int j = 0; j < size; ++j) {
        if (next != 0) {
            const int32_t delta = r.ReadSE();
            next = ((last + delta) % 256 + 256) % 256;
        }
        last = next == 0 ? last : next;
    }
}

bool ParseHrd(BitReader& r, Hrd& h) {
    h.present = true;
    h.cpb_cnt_minus1 = r.ReadUE();
    if (h.cpb_cnt_minus1 >= kMaxCpb) return false;
    h.bit_rate_scale = r.Read(4);
    h.cpb_size_scale = r.Read(4);
    for (uint32_t i = 0; i <= h.cpb_cnt_minus1; ++i) {
        h.bit_rate_value_minus1[i] = r.ReadUE();
        h.cpb_size_value_minus1[i] = r.ReadUE();
        h.cbr_flag[i] = static_cast<uint8_t>(r.ReadBit());
    }
    h.initial_cpb_removal_delay_length_minus1 = r.Read(5);
    h.cpb_removal_delay_length_minus1 = r.Read(5);
    h.dpb_output_delay_length_minus1 = r.Read(5);
    h.time_offset_length = r.Read(5);
    return !r.Overrun();
}

bool ParseVui(BitReader& r, Sps& s) {
    if (r.ReadBit()) {
        s.aspect_ratio_idc = r.Read(8);
        if (s.aspect_ratio_idc == kExtendedSar) {
            s.sar_width = r.Read(16);
            s.sar_height = r.Read(16);
        }
    }
    if (r.ReadBit()) r.Skip(1);  // overscan_appropriate_flag
    if (r.ReadBit()) {
        s.video_format = r.Read(3);
        s.video_full_range_flag = static_cast<uint8_t>(r.ReadBit());
        if (r.ReadBit()) {
            s.colour_primaries = r.Read(8);
            s.transfer_characteristics = r.Read(8);
            s.matrix_coefficients = r.Read(8);
        }
    }
    if (r.ReadBit()) {  // chroma sample locations
        r.ReadUE();
        r.ReadUE();
    }
    s.timing_info_present_flag = static_cast<uint8_t>(r.ReadBit());
    if (s.timing_info_present_flag) {
        s.num_units_in_tick = r.Read(32);
        s.time_scale = r.Read(32);
        s.fixed_frame_rate_flag = static_cast<uint8_t>(r.ReadBit());
    }
    if (r.ReadBit() && !ParseHrd(r, s.nal_hrd)) return false;
    if (r.ReadBit() && !ParseHrd(r, s.vcl_hrd)) return false;
    if (s.nal_hrd.present || s.vcl_hrd.present) s.low_delay_hrd_flag = static_cast<uint8_t>(r.ReadBit());
    s.pic_struct_present_flag = static_cast<uint8_t>(r.ReadBit());
    s.bitstream_restriction_flag = static_cast<uint8_t>(r.ReadBit());
    if (s.bitstream_restriction_flag) {
        r.Skip(1);  // motion_vectors_over_pic_boundaries_flag
        for (int i = 0; i < 4; ++i) r.ReadUE();
        s.max_num_reorder_frames = r.ReadUE();
        s.max_dec_frame_buffering = r.ReadUE();
    }
    return !r.Overrun();
}

}  // namespace

bool Sps::HasChromaFields(uint8_t p) {
    switch (p) {
        case 44:   // CAVLC 4:4:4 Intra
        case 83:   // Scalable Baseline
        case 86:   // Scalable High
        case 100:  // High
        case 110:  // High 10
        case 118:  // Multiview High
        case 122:  // High 4:2:2
        case 128:  // Stereo High
        case 134:  // MFC High
        case 135:  // MFC Depth High
        case 138:  // Multiview Depth High
        case 139:  // Enhanced Multiview Depth High
        case 144:  // High 4:4:4 (first edition)
        case 244:  // High 4:4:4 Predictive
            return true;
        default:
            return false;
    }
}

bool Sps::Parse(const uint8_t* nal, size_t size) {
    if (!nal || size < 2 || (nal[0] & 0x80) || (nal[0] & 0x1F) != kNalSps) return false;
    *this = Sps();
    BitReader r = Open(nal, size);
    profile_idc = static_cast<uint8_t>(r.Read(8));
    constraint_flags = static_cast<uint8_t>(r.Read(6));
    reserved_zero_2bits = static_cast<uint8_t>(r.Read(2));
    level_idc = static_cast<uint8_t>(r.Read(8));
    seq_parameter_set_id = r.ReadUE();
    if (seq_parameter_set_id > kMaxSpsId) return false;
    if (HasChromaFields(profile_idc)) {
        chroma_format_idc = r.ReadUE();
        if (chroma_format_idc > 3) return false;
        if (chroma_format_idc == 3) separate_colour_plane_flag = static_cast<uint8_t>(r.ReadBit());
        bit_depth_luma_minus8 = r.ReadUE();
        bit_depth_chroma_minus8 = r.ReadUE();
        qpprime_y_zero_transform_bypass_flag = static_cast<uint8_t>(r.ReadBit());
        seq_scaling_matrix_present_flag = static_cast<uint8_t>(r.ReadBit());
        if (seq_scaling_matrix_present_flag) {
            const int lists = chroma_format_idc != 3 ? 8 : 12;
            for (int i = 0; i < lists; ++i)
                if (r.ReadBit()) SkipScalingList(r, i < 6 ? 16 : 64);
        }
    }
    log2_max_frame_num_minus4 = std::min(r.ReadUE(), kMaxLog2Minus4);
    pic_order_cnt_type = r.ReadUE();
    if (pic_order_cnt_type > 2) return false;
    if (pic_order_cnt_type == 0) {
        log2_max_pic_order_cnt_lsb_minus4 = std::min(r.ReadUE(), kMaxLog2Minus4);
    } else if (pic_order_cnt_type == 1) {
        delta_pic_order_always_zero_flag = static_cast<uint8_t>(r.ReadBit());
        offset_for_non_ref_pic = r.ReadSE();
        offset_for_top_to_bottom_field = r.ReadSE();
        num_ref_frames_in_pic_order_cnt_cycle = r.ReadUE();
        if (num_ref_frames_in_pic_order_cnt_cycle > kMaxRefFramesInPocCycle) return false;
        for (uint32_t i = 0; i < num_ref_frames_in_pic_order_cnt_cycle; ++i) offset_for_ref_frame[i] = r.ReadSE();
    }
    max_num_ref_frames = r.ReadUE();
    gaps_in_frame_num_value_allowed_flag = static_cast<uint8_t>(r.ReadBit());
    pic_width_in_mbs_minus1 = r.ReadUE();
    pic_height_in_map_units_minus1 = r.ReadUE();
    frame_mbs_only_flag = static_cast<uint8_t>(r.ReadBit());
    if (!frame_mbs_only_flag) mb_adaptive_frame_field_flag = static_cast<uint8_t>(r.ReadBit());
    direct_8x8_inference_flag = static_cast<uint8_t>(r.ReadBit());
    frame_cropping_flag = static_cast<uint8_t>(r.ReadBit());
    if (frame_cropping_flag) {
        crop_left = r.ReadUE();
        crop_right = r.ReadUE();
        crop_top = r.ReadUE();
        crop_bottom = r.ReadUE();
    }
    vui_parameters_present_flag = static_cast<uint8_t>(r.ReadBit());
    if (vui_parameters_present_flag && !ParseVui(r, *this)) return false;
    return !r.Overrun();
}

int64_t Sps::FrameDuration() const {
    if (!timing_info_present_flag || num_units_in_tick == 0 || time_scale == 0) return 0;
    return 2 * kHundredNsPerSecond * static_cast<int64_t>(num_units_in_tick) / time_scale;
}

bool Pps::Parse(const uint8_t* nal, size_t size, const Sps* sps) {
    if (!nal || size < 2 || (nal[0] & 0x80) || (nal[0] & 0x1F) != kNalPps) return false;
    *this = Pps();
    BitReader r = Open(nal, size);
    pic_parameter_set_id = r.ReadUE();
    seq_parameter_set_id = r.ReadUE();
    if (pic_parameter_set_id > kMaxPpsId || seq_parameter_set_id > kMaxSpsId) return false;
    entropy_coding_mode_flag = static_cast<uint8_t>(r.ReadBit());
    bottom_field_pic_order_in_frame_present_flag = static_cast<uint8_t>(r.ReadBit());
    num_slice_groups_minus1 = r.ReadUE();
    if (num_slice_groups_minus1 > kMaxSliceGroupsMinus1) return false;
    if (num_slice_groups_minus1 > 0) {
        slice_group_map_type = r.ReadUE();
        if (slice_group_map_type > kMaxSliceGroupMapType) return false;
        if (slice_group_map_type == 0) {
            for (uint32_t i = 0; i <= num_slice_groups_minus1; ++i) r.ReadUE();
        } else if (slice_group_map_type == 2) {
            for (uint32_t i = 0; i < num_slice_groups_minus1; ++i) {
                r.ReadUE();
                r.ReadUE();
            }
        } else if (slice_group_map_type >= 3 && slice_group_map_type <= 5) {
            r.Skip(1);
            r.ReadUE();
        } else if (slice_group_map_type == 6) {
            const uint32_t units = r.ReadUE();
            unsigned bits = 0;
            while ((1u << bits) < num_slice_groups_minus1 + 1) ++bits;
            // The map has one id per map unit of the picture: never more ids
            // than the picture has units, nor than the bits left can hold.
            if (sps && units != (sps->pic_width_in_mbs_minus1 + 1) * (sps->pic_height_in_map_units_minus1 + 1) - 1)
                return false;
            if ((uint64_t{units} + 1) * bits > r.BitsLeft()) return false;
            r.Skip(static_cast<unsigned>((units + 1) * bits));
        }
    }
    num_ref_idx_l0_default_active_minus1 = r.ReadUE();
    num_ref_idx_l1_default_active_minus1 = r.ReadUE();
    weighted_pred_flag = static_cast<uint8_t>(r.ReadBit());
    weighted_bipred_idc = r.Read(2);
    pic_init_qp_minus26 = r.ReadSE();
    pic_init_qs_minus26 = r.ReadSE();
    chroma_qp_index_offset = r.ReadSE();
    deblocking_filter_control_present_flag = static_cast<uint8_t>(r.ReadBit());
    constrained_intra_pred_flag = static_cast<uint8_t>(r.ReadBit());
    redundant_pic_cnt_present_flag = static_cast<uint8_t>(r.ReadBit());
    return !r.Overrun();
}

bool SliceHeader::Parse(const uint8_t* nal, size_t size, const Sps& sps, const Pps& pps) {
    if (!nal || size < 2 || (nal[0] & 0x80)) return false;
    const uint8_t type = nal[0] & 0x1F;
    if (type != kNalSlice && type != kNalIdr) return false;
    *this = SliceHeader();
    nal_ref_idc = static_cast<uint8_t>((nal[0] >> 5) & 3);
    nal_unit_type = type;
    BitReader r = Open(nal, size);
    first_mb_in_slice = r.ReadUE();
    slice_type = r.ReadUE();
    if (slice_type > kMaxSliceType) return false;
    pic_parameter_set_id = r.ReadUE();
    if (pic_parameter_set_id != pps.pic_parameter_set_id) return false;
    if (sps.separate_colour_plane_flag) r.Skip(2);
    frame_num = r.Read(sps.log2_max_frame_num_minus4 + 4);
    if (!sps.frame_mbs_only_flag) {
        field_pic_flag = static_cast<uint8_t>(r.ReadBit());
        if (field_pic_flag) bottom_field_flag = static_cast<uint8_t>(r.ReadBit());
    }
    if (IsIdr()) idr_pic_id = r.ReadUE();
    if (sps.pic_order_cnt_type == 0) {
        pic_order_cnt_lsb = r.Read(sps.log2_max_pic_order_cnt_lsb_minus4 + 4);
        if (pps.bottom_field_pic_order_in_frame_present_flag && !field_pic_flag)
            delta_pic_order_cnt_bottom = r.ReadSE();
    } else if (sps.pic_order_cnt_type == 1 && !sps.delta_pic_order_always_zero_flag) {
        delta_pic_order_cnt[0] = r.ReadSE();
        if (pps.bottom_field_pic_order_in_frame_present_flag && !field_pic_flag) delta_pic_order_cnt[1] = r.ReadSE();
    }
    if (pps.redundant_pic_cnt_present_flag) redundant_pic_cnt = r.ReadUE();
    return !r.Overrun();
}

bool FirstSliceOfNewPicture(const SliceHeader& a, const SliceHeader& b, const Sps& sps) {
    if (b.redundant_pic_cnt > 0) return false;  // redundant slices belong to the primary picture
    if (a.frame_num != b.frame_num || a.pic_parameter_set_id != b.pic_parameter_set_id ||
        a.field_pic_flag != b.field_pic_flag || (a.field_pic_flag && a.bottom_field_flag != b.bottom_field_flag))
        return true;
    if ((a.nal_ref_idc == 0) != (b.nal_ref_idc == 0)) return true;
    if (sps.pic_order_cnt_type == 0 &&
        (a.pic_order_cnt_lsb != b.pic_order_cnt_lsb || a.delta_pic_order_cnt_bottom != b.delta_pic_order_cnt_bottom))
        return true;
    if (sps.pic_order_cnt_type == 1 &&
        (a.delta_pic_order_cnt[0] != b.delta_pic_order_cnt[0] || a.delta_pic_order_cnt[1] != b.delta_pic_order_cnt[1]))
        return true;
    if (a.IsIdr() != b.IsIdr()) return true;
    return a.IsIdr() && b.IsIdr() && a.idr_pic_id != b.idr_pic_id;
}

int FieldsOfPicStruct(uint32_t s) {
    static const int kFields[9] = {2, 1, 1, 2, 2, 3, 3, 4, 6};
    return s < 9 ? kFields[s] : 0;
}

bool Sei::Parse(const uint8_t* nal, size_t size, const Sps* sps) {
    if (!nal || size < 2 || (nal[0] & 0x80) || (nal[0] & 0x1F) != kNalSei) return false;
    *this = Sei();
    // The raw payload without emulation-prevention bytes: message sizes count it.
    std::vector<uint8_t> rbsp;
    rbsp.reserve(size);
    int zeros = 0;
    for (size_t i = 1; i < size; ++i) {
        if (zeros >= 2 && nal[i] == 3) {
            zeros = 0;
            continue;
        }
        zeros = nal[i] == 0 ? zeros + 1 : 0;
        rbsp.push_back(nal[i]);
    }
    size_t at = 0;
    const size_t n = rbsp.size();
    // A message needs a type and a size byte; a lone 0x80 is the trailing bits.
    while (at + 2 <= n && !(rbsp[at] == 0x80 && at + 1 == n)) {
        uint32_t type = 0, len = 0;
        while (at < n && rbsp[at] == 0xFF) type += rbsp[at++];
        if (at >= n) break;
        type += rbsp[at++];
        while (at < n && rbsp[at] == 0xFF) len += rbsp[at++];
        if (at >= n) break;
        len += rbsp[at++];
        if (len > n - at) break;
        payloadTypes.push_back(type);
        BitReader r;
        r.Attach(rbsp.data() + at, len);
        if (type == 0 && sps) {
            bp_seq_parameter_set_id = r.ReadUE();
            const Hrd& h = sps->nal_hrd.present ? sps->nal_hrd : sps->vcl_hrd;
            if (h.present) {
                initial_cpb_removal_delay = r.Read(h.initial_cpb_removal_delay_length_minus1 + 1);
                hasBufferingPeriod = !r.Overrun();
            }
        } else if (type == 1 && sps) {
            const Hrd& h = sps->nal_hrd.present ? sps->nal_hrd : sps->vcl_hrd;
            if (h.present) {
                cpb_removal_delay = r.Read(h.cpb_removal_delay_length_minus1 + 1);
                dpb_output_delay = r.Read(h.dpb_output_delay_length_minus1 + 1);
            }
            if (sps->pic_struct_present_flag) {
                pic_struct = r.Read(4);
                hasPicStruct = FieldsOfPicStruct(pic_struct) > 0;
            }
            hasPictureTiming = !r.Overrun();
        }
        at += len;
    }
    return !payloadTypes.empty();
}

bool Sei::Has(uint32_t type) const {
    return std::find(payloadTypes.begin(), payloadTypes.end(), type) != payloadTypes.end();
}

int64_t OrderCount::Update(const SliceHeader& s, const Sps& sps) {
    const bool field = s.field_pic_flag != 0, bottom = s.bottom_field_flag != 0;
    int64_t top = 0, bot = 0;
    if (sps.pic_order_cnt_type == 0) {
        if (s.IsIdr()) prevPocMsb_ = prevPocLsb_ = 0;
        const int64_t max = sps.MaxPocLsb(), lsb = s.pic_order_cnt_lsb;
        int64_t msb = prevPocMsb_;
        if (lsb < prevPocLsb_ && prevPocLsb_ - lsb >= max / 2)
            msb += max;
        else if (lsb > prevPocLsb_ && lsb - prevPocLsb_ > max / 2)
            msb -= max;
        top = msb + lsb;
        bot = field ? top : top + s.delta_pic_order_cnt_bottom;
        if (s.nal_ref_idc != 0) {
            prevPocMsb_ = msb;
            prevPocLsb_ = lsb;
        }
    } else {
        int64_t offset = 0;
        if (!s.IsIdr())
            offset = prevFrameNumOffset_ + (prevFrameNum_ > s.frame_num ? static_cast<int64_t>(sps.MaxFrameNum()) : 0);
        if (sps.pic_order_cnt_type == 1) {
            const int64_t n = sps.num_ref_frames_in_pic_order_cnt_cycle;
            int64_t abs = n != 0 ? offset + s.frame_num : 0;
            if (s.nal_ref_idc == 0 && abs > 0) --abs;
            int64_t expected = 0;
            if (abs > 0) {
                int64_t perCycle = 0;
                for (int64_t i = 0; i < n; ++i) perCycle += sps.offset_for_ref_frame[static_cast<size_t>(i)];
                const int64_t cycle = (abs - 1) / n, inCycle = (abs - 1) % n;
                expected = cycle * perCycle;
                for (int64_t i = 0; i <= inCycle; ++i) expected += sps.offset_for_ref_frame[static_cast<size_t>(i)];
            }
            if (s.nal_ref_idc == 0) expected += sps.offset_for_non_ref_pic;
            if (!field) {
                top = expected + s.delta_pic_order_cnt[0];
                bot = top + sps.offset_for_top_to_bottom_field + s.delta_pic_order_cnt[1];
            } else {
                top = expected + s.delta_pic_order_cnt[0];
                bot = expected + sps.offset_for_top_to_bottom_field + s.delta_pic_order_cnt[0];
            }
        } else {
            top = bot = s.IsIdr() ? 0 : 2 * (offset + s.frame_num) - (s.nal_ref_idc == 0 ? 1 : 0);
        }
        prevFrameNumOffset_ = offset;
        prevFrameNum_ = s.frame_num;
    }
    if (!field) return std::min(top, bot);
    return bottom ? bot : top;
}

size_t NalUnitLength(const uint8_t* p, size_t avail) {
    size_t i = 1;
    while (i + 2 < avail) {
        // Zero bytes are rare in coded data: jump to the next one.
        const void* z = std::memchr(p + i, 0, avail - 2 - i);
        if (!z) break;
        i = static_cast<size_t>(static_cast<const uint8_t*>(z) - p);
        if (p[i + 1] == 0 && p[i + 2] <= 1) return i;
        ++i;
    }
    return avail;
}

}  // namespace h264
}  // namespace MpegCommon
