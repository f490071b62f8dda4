// MPEG-1/MPEG-2 video headers (ISO/IEC 11172-2, 13818-2), their consumer and
// the stream that dispatches them.
#pragma once

#include "codec/scanning/ParserFramework.h"

namespace SPL_VES {

class VESParser : public SPL::StartCodeParser {
public:
    VESParser() : SPL::StartCodeParser(1, 10) {}
};

class VESSeqHdr : public SPL::BaseHeaderSimple {
public:
    // A frame_rate_code without a table entry (0, 9..15) is accepted with a
    // frame rate and frame duration of 0.
    bool Parse(const uint8_t* bytes, uint32_t length, bool strict);

    uint32_t horizontal_size_value = 0;
    uint32_t vertical_size_value = 0;
    uint32_t aspect_ratio_information = 0;
    uint32_t frame_rate_code = 0;
    uint32_t bit_rate_value = 0;
    uint32_t vbv_buffer_size_value = 0;
    uint8_t constrained_parameters_flag = 0;
    uint8_t load_intra_quantiser_matrix = 0;
    uint8_t load_non_intra_quantiser_matrix = 0;

    double frameRate = 0;
    int64_t frameDuration = 0;  // 100-ns units
    double pelAspectRatio = 0;
    uint32_t bitRate = 0;  // bit/s
    uint32_t displayWidth = 0;
    uint32_t displayHeight = 0;
};

class VESSeqExt : public SPL::BaseHeaderSimple {
public:
    bool Parse(const uint8_t* bytes, uint32_t length, bool strict);

    uint32_t profile_and_level_indication = 0;
    uint8_t progressive_sequence = 0;
    uint32_t chroma_format = 0;
    uint32_t horizontal_size_extension = 0;
    uint32_t vertical_size_extension = 0;
    uint32_t bit_rate_extension = 0;
    uint32_t vbv_buffer_size_extension = 0;
    uint8_t low_delay = 0;
    uint32_t frame_rate_extension_n = 0;
    uint32_t frame_rate_extension_d = 0;

    uint32_t profile = 0;  // 1 high .. 5 simple, 6 escape, 0 unknown
    uint32_t level = 0;    // 1 high .. 4 low, 5 from escape 0x_5, 0 unknown
    uint32_t chroma = 0;
};

class VESHdrSeqDisplayExt : public SPL::BaseHeaderSimple {
public:
    bool Parse(const uint8_t* bytes, uint32_t length, bool strict);

    uint32_t video_format = 0;
    uint8_t colour_description = 0;
    uint32_t colour_primaries = 0;
    uint32_t transfer_characteristics = 0;
    uint32_t matrix_coefficients = 0;
    uint32_t display_horizontal_size = 0;
    uint32_t display_vertical_size = 0;
};

class VESGop : public SPL::BaseHeaderSimple {
public:
    bool Parse(const uint8_t* bytes, uint32_t length, bool strict);

    uint8_t drop_frame_flag = 0;
    uint32_t time_code_hours = 0;
    uint32_t time_code_minutes = 0;
    uint32_t time_code_seconds = 0;
    uint32_t time_code_pictures = 0;
    uint8_t closed_gop = 0;
    uint8_t broken_link = 0;
};

class VESPictureHdr : public SPL::BaseHeaderSimple {
public:
    enum { I = 1, P = 2, B = 3, D = 4 };
    bool Parse(const uint8_t* bytes, uint32_t length);

    uint32_t temporal_reference = 0;
    uint32_t picture_coding_type = 0;
    uint32_t vbv_delay = 0;
    uint8_t full_pel_forward_vector = 0;
    uint32_t forward_f_code = 0;
    uint8_t full_pel_backward_vector = 0;
    uint32_t backward_f_code = 0;
    uint32_t pictureType = 0;
};

class VESPictureCodingExt : public SPL::BaseHeaderSimple {
public:
    bool Parse(const uint8_t* bytes, uint32_t length);

    uint32_t f_code[2][2] = {};
    uint32_t intra_dc_precision = 0;
    uint32_t picture_structure = 0;
    uint8_t top_field_first = 0;
    uint8_t frame_pred_frame_dct = 0;
    uint8_t concealment_motion_vectors = 0;
    uint8_t q_scale_type = 0;
    uint8_t intra_vlc_format = 0;
    uint8_t alternate_scan = 0;
    uint8_t repeat_first_field = 0;
    uint8_t chroma_420_type = 0;
    uint8_t progressive_frame = 0;
    uint8_t composite_display_flag = 0;
    uint8_t v_axis = 0;
    uint32_t field_sequence = 0;
    uint8_t sub_carrier = 0;
    uint32_t burst_amplitude = 0;
    uint32_t sub_carrier_phase = 0;
};

class VESHdrUserData : public SPL::BaseHeaderSimple {
public:
    bool Parse(const uint8_t* bytes, uint32_t length);
};

class VESParserConsumer : public SPL::BaseParserConsumer {
public:
    SPL::BaseEvent* ParseHeader(int64_t position, const uint8_t* data, uint32_t length) override;

    VESSeqHdr seqHdr;
    VESSeqExt seqExt;
    VESHdrSeqDisplayExt seqDisplayExt;
    VESGop gop;
    VESPictureHdr pictureHdr;
    VESPictureCodingExt pictureCodingExt;
    VESHdrUserData userData;

private:
    SPL::BaseEventParser<VESSeqHdr> evSeqHdr_;
    SPL::BaseEventParser<VESSeqExt> evSeqExt_;
    SPL::BaseEventParser<VESHdrSeqDisplayExt> evSeqDisplayExt_;
    SPL::BaseEventParser<VESGop> evGop_;
    SPL::BaseEventParser<VESPictureHdr> evPictureHdr_;
    SPL::BaseEventParser<VESPictureCodingExt> evPictureCodingExt_;
    SPL::BaseEventParser<VESHdrUserData> evUserData_;
};

enum E_VESStreamState {
    VES_SEQUENCE_HEADER = 0,
    VES_SEQUENCE_EXTENSION = 1,
    VES_GOP = 2,
    VES_PICTURE_HEADER = 3,
    VES_PICTURE_CODING_EXTENSION = 4,
    VES_SEQUENCE_DISPLAY_EXTENSION = 5,
    VES_USER_DATA = 6,
};

class VESStream : public SPL::BaseStream, public SPL::BaseEventConsumer, public SPL::StreamState<E_VESStreamState> {
public:
    VESStream() = default;
    explicit VESStream(const SPL::StreamKey& key) : SPL::BaseStream(key) {}

    bool OnEvent(SPL::BaseEvent* event, uint32_t* out) override;
    bool OnData(int64_t, const uint8_t*, uint32_t, SPL::PayloadResult*, uint8_t) override { return true; }

    virtual bool OnSeqHdr(SPL::BaseEventParser<VESSeqHdr>* ev, uint32_t* out);
    virtual bool OnSeqExt(SPL::BaseEventParser<VESSeqExt>* ev, uint32_t* out);
    virtual bool OnGop(SPL::BaseEventParser<VESGop>* ev, uint32_t* out);
    virtual bool OnPictureHdr(SPL::BaseEventParser<VESPictureHdr>* ev, uint32_t* out);
    virtual bool OnPictureCodingExt(SPL::BaseEventParser<VESPictureCodingExt>* ev, uint32_t* out);
    virtual bool OnSeqDisplayExt(SPL::BaseEventParser<VESHdrSeqDisplayExt>* ev, uint32_t* out);
    virtual bool OnUserData(SPL::BaseEventParser<VESHdrUserData>* ev, uint32_t* out);

protected:
    bool Handle(E_VESStreamState code, SPL::BaseEvent* ev, uint32_t* out) {
        SetState(code, ev);
        if (out) *out = 1;
        return true;
    }
};

}  // namespace SPL_VES
