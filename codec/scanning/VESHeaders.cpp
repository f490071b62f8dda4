#include "codec/scanning/VESHeaders.h"

#include "codec/common/MpegCodes.h"

#include "codec/common/MpegTables.h"
#include "codec/scanning/Bitstream.h"

namespace SPL_VES {

namespace {

bool HasCode(const uint8_t* b, uint32_t length, uint8_t code) {
    return b && length >= 4 && b[0] == 0 && b[1] == 0 && b[2] == 1 && b[3] == code;
}

// Extension start code with the given extension id in the high nibble of byte 4.
bool HasExtension(const uint8_t* b, uint32_t length, unsigned id) {
    return HasCode(b, length, MpegCommon::kExtensionStartCode) && length >= 5 && (b[4] >> 4) == id;
}

void AttachAfterCode(SPL::BitstreamReader& r, const uint8_t* b, uint32_t length) {
    r.Attach(b + 4, static_cast<int32_t>(length - 4));
}

}  // namespace

bool VESSeqHdr::Parse(const uint8_t* bytes, uint32_t length, bool strict) {
    Clear();
    if (!HasCode(bytes, length, MpegCommon::kSequenceHeaderCode)) return false;
    SPL::BitstreamReader r;
    AttachAfterCode(r, bytes, length);
    horizontal_size_value = r.ReadBits(12);
    vertical_size_value = r.ReadBits(12);
    aspect_ratio_information = r.ReadBits(4);
    frame_rate_code = r.ReadBits(4);
    bit_rate_value = r.ReadBits(18);
    const uint32_t marker = r.ReadBit();
    vbv_buffer_size_value = r.ReadBits(10);
    constrained_parameters_flag = static_cast<uint8_t>(r.ReadBit());
    load_intra_quantiser_matrix = static_cast<uint8_t>(r.ReadBit());
    if (load_intra_quantiser_matrix) r.SkipBits(64 * 8);
    load_non_intra_quantiser_matrix = static_cast<uint8_t>(r.ReadBit());
    if (r.Overrun()) return Truncated();
    if (strict && marker != 1) return false;
    if (aspect_ratio_information < 1 || aspect_ratio_information > 14) return false;

    frameRate = MpegCommon::FrameRate(frame_rate_code);
    frameDuration = frameRate > 0 ? static_cast<int64_t>(10000000.0 / frameRate) : 0;
    pelAspectRatio = MpegCommon::PelAspectRatio(aspect_ratio_information);
    bitRate = bit_rate_value * 400u;
    displayWidth = horizontal_size_value;
    displayHeight = vertical_size_value;
    valid_ = 1;
    return true;
}

bool VESSeqExt::Parse(const uint8_t* bytes, uint32_t length, bool strict) {
    Clear();
    if (!HasExtension(bytes, length, 1)) return false;
    SPL::BitstreamReader r;
    AttachAfterCode(r, bytes, length);
    r.SkipBits(4);
    profile_and_level_indication = r.ReadBits(8);
    progressive_sequence = static_cast<uint8_t>(r.ReadBit());
    chroma_format = r.ReadBits(2);
    horizontal_size_extension = r.ReadBits(2);
    vertical_size_extension = r.ReadBits(2);
    bit_rate_extension = r.ReadBits(12);
    const uint32_t marker = r.ReadBit();
    vbv_buffer_size_extension = r.ReadBits(8);
    low_delay = static_cast<uint8_t>(r.ReadBit());
    frame_rate_extension_n = r.ReadBits(2);
    frame_rate_extension_d = r.ReadBits(5);
    if (r.Overrun()) return Truncated();
    if (strict && marker != 1) return false;

    const MpegCommon::ProfileLevel pl = MpegCommon::DecodeProfileLevel(profile_and_level_indication);
    profile = pl.profile;
    level = pl.level;
    chroma = chroma_format;
    valid_ = 1;
    return true;
}

bool VESHdrSeqDisplayExt::Parse(const uint8_t* bytes, uint32_t length, bool strict) {
    Clear();
    if (!HasExtension(bytes, length, 2)) return false;
    SPL::BitstreamReader r;
    AttachAfterCode(r, bytes, length);
    r.SkipBits(4);
    video_format = r.ReadBits(3);
    colour_description = static_cast<uint8_t>(r.ReadBit());
    if (colour_description) {
        colour_primaries = r.ReadBits(8);
        transfer_characteristics = r.ReadBits(8);
        matrix_coefficients = r.ReadBits(8);
    }
    display_horizontal_size = r.ReadBits(14);
    const uint32_t marker = r.ReadBit();
    display_vertical_size = r.ReadBits(14);
    if (r.Overrun()) return Truncated();
    if (strict && marker != 1) return false;
    valid_ = 1;
    return true;
}

bool VESGop::Parse(const uint8_t* bytes, uint32_t length, bool strict) {
    Clear();
    if (!HasCode(bytes, length, MpegCommon::kGroupStartCode)) return false;
    SPL::BitstreamReader r;
    AttachAfterCode(r, bytes, length);
    drop_frame_flag = static_cast<uint8_t>(r.ReadBit());
    time_code_hours = r.ReadBits(5);
    time_code_minutes = r.ReadBits(6);
    const uint32_t marker = r.ReadBit();
    time_code_seconds = r.ReadBits(6);
    time_code_pictures = r.ReadBits(6);
    closed_gop = static_cast<uint8_t>(r.ReadBit());
    broken_link = static_cast<uint8_t>(r.ReadBit());
    if (r.Overrun()) return Truncated();
    if (strict && (marker != 1 || time_code_hours >= 24 || time_code_minutes >= 60 || time_code_seconds >= 60 ||
                   time_code_pictures >= 60))
        return false;
    valid_ = 1;
    return true;
}

bool VESPictureHdr::Parse(const uint8_t* bytes, uint32_t length) {
    Clear();
    if (!HasCode(bytes, length, MpegCommon::kPictureStartCode)) return false;
    SPL::BitstreamReader r;
    AttachAfterCode(r, bytes, length);
    temporal_reference = r.ReadBits(10);
    picture_coding_type = r.ReadBits(3);
    vbv_delay = r.ReadBits(16);
    if (picture_coding_type == 2 || picture_coding_type == 3) {
        full_pel_forward_vector = static_cast<uint8_t>(r.ReadBit());
        forward_f_code = r.ReadBits(3);
    }
    if (picture_coding_type == 3) {
        full_pel_backward_vector = static_cast<uint8_t>(r.ReadBit());
        backward_f_code = r.ReadBits(3);
    }
    if (r.Overrun()) return Truncated();
    if (picture_coding_type < 1 || picture_coding_type > 4) return false;
    pictureType = picture_coding_type;
    valid_ = 1;
    return true;
}

bool VESPictureCodingExt::Parse(const uint8_t* bytes, uint32_t length) {
    Clear();
    if (!HasExtension(bytes, length, 8)) return false;
    SPL::BitstreamReader r;
    AttachAfterCode(r, bytes, length);
    r.SkipBits(4);
    f_code[0][0] = r.ReadBits(4);
    f_code[0][1] = r.ReadBits(4);
    f_code[1][0] = r.ReadBits(4);
    f_code[1][1] = r.ReadBits(4);
    intra_dc_precision = r.ReadBits(2);
    picture_structure = r.ReadBits(2);
    top_field_first = static_cast<uint8_t>(r.ReadBit());
    frame_pred_frame_dct = static_cast<uint8_t>(r.ReadBit());
    concealment_motion_vectors = static_cast<uint8_t>(r.ReadBit());
    q_scale_type = static_cast<uint8_t>(r.ReadBit());
    intra_vlc_format = static_cast<uint8_t>(r.ReadBit());
    alternate_scan = static_cast<uint8_t>(r.ReadBit());
    repeat_first_field = static_cast<uint8_t>(r.ReadBit());
    chroma_420_type = static_cast<uint8_t>(r.ReadBit());
    progressive_frame = static_cast<uint8_t>(r.ReadBit());
    composite_display_flag = static_cast<uint8_t>(r.ReadBit());
    if (composite_display_flag) {
        v_axis = static_cast<uint8_t>(r.ReadBit());
        field_sequence = r.ReadBits(3);
        sub_carrier = static_cast<uint8_t>(r.ReadBit());
        burst_amplitude = r.ReadBits(7);
        sub_carrier_phase = r.ReadBits(8);
    }
    if (r.Overrun()) return Truncated();
    valid_ = 1;
    return true;
}

bool VESHdrUserData::Parse(const uint8_t* bytes, uint32_t length) {
    Clear();
    if (!HasCode(bytes, length, MpegCommon::kUserDataStartCode)) return false;
    valid_ = 1;
    return true;
}

SPL::BaseEvent* VESParserConsumer::ParseHeader(int64_t position, const uint8_t* data, uint32_t length) {
    using SPL::FillEvent;
    if (pictureHdr.Parse(data, length)) return FillEvent(evPictureHdr_, pictureHdr, position, data, length);
    if (pictureCodingExt.Parse(data, length))
        return FillEvent(evPictureCodingExt_, pictureCodingExt, position, data, length);
    if (seqHdr.Parse(data, length, true)) return FillEvent(evSeqHdr_, seqHdr, position, data, length);
    if (seqExt.Parse(data, length, true)) return FillEvent(evSeqExt_, seqExt, position, data, length);
    if (gop.Parse(data, length, true)) return FillEvent(evGop_, gop, position, data, length);
    if (seqDisplayExt.Parse(data, length, true))
        return FillEvent(evSeqDisplayExt_, seqDisplayExt, position, data, length);
    if (userData.Parse(data, length)) return FillEvent(evUserData_, userData, position, data, length);
    return nullptr;
}

bool VESStream::OnEvent(SPL::BaseEvent* event, uint32_t* out) {
    using SPL::BaseEventParser;
    if (auto* e = dynamic_cast<BaseEventParser<VESSeqHdr>*>(event)) return OnSeqHdr(e, out);
    if (auto* e = dynamic_cast<BaseEventParser<VESSeqExt>*>(event)) return OnSeqExt(e, out);
    if (auto* e = dynamic_cast<BaseEventParser<VESGop>*>(event)) return OnGop(e, out);
    if (auto* e = dynamic_cast<BaseEventParser<VESPictureHdr>*>(event)) return OnPictureHdr(e, out);
    if (auto* e = dynamic_cast<BaseEventParser<VESPictureCodingExt>*>(event)) return OnPictureCodingExt(e, out);
    if (auto* e = dynamic_cast<BaseEventParser<VESHdrSeqDisplayExt>*>(event)) return OnSeqDisplayExt(e, out);
    if (auto* e = dynamic_cast<BaseEventParser<VESHdrUserData>*>(event)) return OnUserData(e, out);
    return false;
}

bool VESStream::OnSeqHdr(SPL::BaseEventParser<VESSeqHdr>* ev, uint32_t* out) {
    return Handle(VES_SEQUENCE_HEADER, ev, out);
}
bool VESStream::OnSeqExt(SPL::BaseEventParser<VESSeqExt>* ev, uint32_t* out) {
    return Handle(VES_SEQUENCE_EXTENSION, ev, out);
}
bool VESStream::OnGop(SPL::BaseEventParser<VESGop>* ev, uint32_t* out) {
    return Handle(VES_GOP, ev, out);
}
bool VESStream::OnPictureHdr(SPL::BaseEventParser<VESPictureHdr>* ev, uint32_t* out) {
    return Handle(VES_PICTURE_HEADER, ev, out);
}
bool VESStream::OnPictureCodingExt(SPL::BaseEventParser<VESPictureCodingExt>* ev, uint32_t* out) {
    return Handle(VES_PICTURE_CODING_EXTENSION, ev, out);
}
bool VESStream::OnSeqDisplayExt(SPL::BaseEventParser<VESHdrSeqDisplayExt>* ev, uint32_t* out) {
    return Handle(VES_SEQUENCE_DISPLAY_EXTENSION, ev, out);
}
bool VESStream::OnUserData(SPL::BaseEventParser<VESHdrUserData>* ev, uint32_t* out) {
    return Handle(VES_USER_DATA, ev, out);
}

}  // namespace SPL_VES
