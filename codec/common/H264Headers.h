// H.264 (ITU-T H.264 / ISO/IEC 14496-10) headers shared by the multiplexer's
// scanner and the time marker: sequence and picture parameter sets with the
// VUI and HRD, slice headers as far as picture boundaries and order counts
// need them, the SEI walk, and the picture order count of clause 8.2.1.
//
// Every Parse takes the NAL unit from its header byte on (no start code) and
// reads it with emulation-prevention removal; a read past the given bytes
// refuses the header.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <vector>

namespace MpegCommon {
namespace h264 {

enum NalType : uint8_t {
    kNalSlice = 1,
    kNalIdr = 5,
    kNalSei = 6,
    kNalSps = 7,
    kNalPps = 8,
    kNalAud = 9,
    kNalEndOfSequence = 10,
    kNalEndOfStream = 11,
    kNalFiller = 12,
};

// The CPB lists of one HRD.
constexpr int kMaxCpb = 32;
struct Hrd {
    bool present = false;
    uint32_t cpb_cnt_minus1 = 0;
    uint32_t bit_rate_scale = 0;
    uint32_t cpb_size_scale = 0;
    std::array<uint32_t, kMaxCpb> bit_rate_value_minus1{};
    std::array<uint32_t, kMaxCpb> cpb_size_value_minus1{};
    std::array<uint8_t, kMaxCpb> cbr_flag{};
    uint32_t initial_cpb_removal_delay_length_minus1 = 23;
    uint32_t cpb_removal_delay_length_minus1 = 23;
    uint32_t dpb_output_delay_length_minus1 = 23;
    uint32_t time_offset_length = 24;

    // Of the first CPB: bit/s and bits.
    uint64_t BitRate() const { return (uint64_t{bit_rate_value_minus1[0]} + 1) << (6 + bit_rate_scale); }
    uint64_t CpbSize() const { return (uint64_t{cpb_size_value_minus1[0]} + 1) << (4 + cpb_size_scale); }
};

// Offsets of a POC type 1 cycle: the syntax allows up to 255.
constexpr int kMaxRefFramesInPocCycle = 255;

struct Sps {
    uint8_t profile_idc = 0;
    uint8_t constraint_flags = 0;  // constraint_set0 (bit 5) .. constraint_set5 (bit 0)
    uint8_t reserved_zero_2bits = 0;
    uint8_t level_idc = 0;
    uint32_t seq_parameter_set_id = 0;
    uint32_t chroma_format_idc = 1;
    uint8_t separate_colour_plane_flag = 0;
    uint32_t bit_depth_luma_minus8 = 0;
    uint32_t bit_depth_chroma_minus8 = 0;
    uint8_t qpprime_y_zero_transform_bypass_flag = 0;
    uint8_t seq_scaling_matrix_present_flag = 0;
    uint32_t log2_max_frame_num_minus4 = 0;
    uint32_t pic_order_cnt_type = 0;
    uint32_t log2_max_pic_order_cnt_lsb_minus4 = 0;
    uint8_t delta_pic_order_always_zero_flag = 0;
    int32_t offset_for_non_ref_pic = 0;
    int32_t offset_for_top_to_bottom_field = 0;
    uint32_t num_ref_frames_in_pic_order_cnt_cycle = 0;
    std::array<int32_t, kMaxRefFramesInPocCycle> offset_for_ref_frame{};
    uint32_t max_num_ref_frames = 0;
    uint8_t gaps_in_frame_num_value_allowed_flag = 0;
    uint32_t pic_width_in_mbs_minus1 = 0;
    uint32_t pic_height_in_map_units_minus1 = 0;
    uint8_t frame_mbs_only_flag = 1;
    uint8_t mb_adaptive_frame_field_flag = 0;
    uint8_t direct_8x8_inference_flag = 0;
    uint8_t frame_cropping_flag = 0;
    uint32_t crop_left = 0, crop_right = 0, crop_top = 0, crop_bottom = 0;

    uint8_t vui_parameters_present_flag = 0;
    uint32_t aspect_ratio_idc = 0;
    uint32_t sar_width = 0, sar_height = 0;
    uint8_t video_full_range_flag = 0;
    uint32_t video_format = 5;
    uint32_t colour_primaries = 2, transfer_characteristics = 2, matrix_coefficients = 2;
    uint8_t timing_info_present_flag = 0;
    uint32_t num_units_in_tick = 0;
    uint32_t time_scale = 0;
    uint8_t fixed_frame_rate_flag = 0;
    Hrd nal_hrd, vcl_hrd;
    uint8_t low_delay_hrd_flag = 0;
    uint8_t pic_struct_present_flag = 0;
    uint8_t bitstream_restriction_flag = 0;
    uint32_t max_num_reorder_frames = 0;
    uint32_t max_dec_frame_buffering = 0;

    bool Parse(const uint8_t* nal, size_t size);

    // Profiles whose sequence parameter set carries the chroma format, bit
    // depths and scaling matrices (all High and later profiles).
    static bool HasChromaFields(uint8_t profile);
    // One frame (two ticks), 100 ns: 2 x 10^7 x num_units_in_tick /
    // time_scale whenever the timing is given, fixed rate or not; else 0.
    int64_t FrameDuration() const;
    uint32_t MaxFrameNum() const { return 1u << (log2_max_frame_num_minus4 + 4); }
    uint32_t MaxPocLsb() const { return 1u << (log2_max_pic_order_cnt_lsb_minus4 + 4); }
    uint32_t Width() const { return (pic_width_in_mbs_minus1 + 1) * 16; }
    uint32_t Height() const { return (pic_height_in_map_units_minus1 + 1) * 16 * (frame_mbs_only_flag ? 1 : 2); }
    bool Constraint(int n) const { return (constraint_flags >> (5 - n)) & 1; }
};

struct Pps {
    uint32_t pic_parameter_set_id = 0;
    uint32_t seq_parameter_set_id = 0;
    uint8_t entropy_coding_mode_flag = 0;
    uint8_t bottom_field_pic_order_in_frame_present_flag = 0;
    uint32_t num_slice_groups_minus1 = 0;
    uint32_t slice_group_map_type = 0;
    uint32_t num_ref_idx_l0_default_active_minus1 = 0;
    uint32_t num_ref_idx_l1_default_active_minus1 = 0;
    uint8_t weighted_pred_flag = 0;
    uint32_t weighted_bipred_idc = 0;
    int32_t pic_init_qp_minus26 = 0;
    int32_t pic_init_qs_minus26 = 0;
    int32_t chroma_qp_index_offset = 0;
    uint8_t deblocking_filter_control_present_flag = 0;
    uint8_t constrained_intra_pred_flag = 0;
    uint8_t redundant_pic_cnt_present_flag = 0;

    // The slice-group map of type 6 is bounded by the picture size of sps
    // when given, else by the bits the NAL unit holds.
    bool Parse(const uint8_t* nal, size_t size, const Sps* sps = nullptr);
};

// The start of a slice header: what a new-picture test and the order count use.
struct SliceHeader {
    uint8_t nal_ref_idc = 0;
    uint8_t nal_unit_type = 0;
    uint32_t first_mb_in_slice = 0;
    uint32_t slice_type = 0;  // 0..9
    uint32_t pic_parameter_set_id = 0;
    uint32_t frame_num = 0;
    uint8_t field_pic_flag = 0;
    uint8_t bottom_field_flag = 0;
    uint32_t idr_pic_id = 0;
    uint32_t pic_order_cnt_lsb = 0;
    int32_t delta_pic_order_cnt_bottom = 0;
    int32_t delta_pic_order_cnt[2] = {0, 0};
    uint32_t redundant_pic_cnt = 0;

    bool Parse(const uint8_t* nal, size_t size, const Sps& sps, const Pps& pps);
    bool IsIdr() const { return nal_unit_type == kNalIdr; }
    // slice_type mod 5: 0 P, 1 B, 2 I, 3 SP, 4 SI.
    uint32_t Kind() const { return slice_type % 5; }
    bool IsIntra() const { return Kind() == 2 || Kind() == 4; }
};

// ITU-T H.264 7.4.1.2.4: whether cur begins a new primary picture after prev.
bool FirstSliceOfNewPicture(const SliceHeader& prev, const SliceHeader& cur, const Sps& sps);

// Table D-1: display length of a picture in fields by pic_struct (0: reserved).
int FieldsOfPicStruct(uint32_t picStruct);

struct Sei {
    std::vector<uint32_t> payloadTypes;  // in the order met
    bool hasBufferingPeriod = false;
    uint32_t bp_seq_parameter_set_id = 0;
    uint32_t initial_cpb_removal_delay = 0;  // first CPB of the NAL HRD, else of the VCL HRD (90 kHz)
    bool hasPictureTiming = false;
    uint32_t cpb_removal_delay = 0;
    uint32_t dpb_output_delay = 0;
    uint32_t pic_struct = 0;
    bool hasPicStruct = false;

    // Payload types and sizes continue over 0xFF bytes; a message whose size
    // runs past the NAL unit ends the walk (the messages before it stay).
    bool Parse(const uint8_t* nal, size_t size, const Sps* sps);
    bool Has(uint32_t type) const;
};

// Order counts of clause 8.2.1 for the pictures of one stream in decoding
// order. Memory-management operation 5 is not followed.
class OrderCount {
public:
    void Reset() { *this = OrderCount(); }
    // The picture order count of the picture whose first slice is s:
    // the smaller of its field counts for a frame, its own field's count
    // for a field.
    int64_t Update(const SliceHeader& s, const Sps& sps);

private:
    int64_t prevPocMsb_ = 0;
    int64_t prevPocLsb_ = 0;
    int64_t prevFrameNumOffset_ = 0;
    int64_t prevFrameNum_ = 0;
};

// The bytes of a NAL unit without its start code: from p (its header byte)
// up to the next 00 00 0x (x < 2) prefix or the end.
size_t NalUnitLength(const uint8_t* p, size_t avail);

}  // namespace h264
}  // namespace MpegCommon
