#include "codec/scanning/VESHeaders.h"
#include "test_util.h"

#include <gtest/gtest.h>

using namespace spltest;
using namespace SPL_VES;

namespace {

struct SeqFields {
    uint32_t w = 720, h = 576, ar = 2, frc = 3, brv = 15000, marker = 1, vbv = 112;
    bool intra = false, nonIntra = false;
};

Bytes SeqHeader(const SeqFields& f) {
    return Build([&](SPL::BitstreamWriter& w) {
        StartCode(w, 0xB3);
        w.PutBits(f.w, 12);
        w.PutBits(f.h, 12);
        w.PutBits(f.ar, 4);
        w.PutBits(f.frc, 4);
        w.PutBits(f.brv, 18);
        w.PutBits(f.marker, 1);
        w.PutBits(f.vbv, 10);
        w.PutBits(0, 1);
        w.PutBits(f.intra, 1);
        for (int i = 0; f.intra && i < 64; ++i) w.PutBits(0x10 + i, 8);
        w.PutBits(f.nonIntra, 1);
        for (int i = 0; f.nonIntra && i < 64; ++i) w.PutBits(0x10, 8);
    });
}

Bytes SeqExtension(uint32_t pli, uint32_t marker = 1, uint32_t id = 1) {
    return Build([&](SPL::BitstreamWriter& w) {
        StartCode(w, 0xB5);
        w.PutBits(id, 4);
        w.PutBits(pli, 8);
        w.PutBits(0, 1);  // progressive_sequence
        w.PutBits(2, 2);  // chroma 4:2:2
        w.PutBits(1, 2);  // horizontal_size_extension
        w.PutBits(0, 2);
        w.PutBits(0x123, 12);  // bit_rate_extension
        w.PutBits(marker, 1);
        w.PutBits(0xAB, 8);
        w.PutBits(1, 1);  // low_delay
        w.PutBits(2, 2);
        w.PutBits(0x11, 5);
    });
}

Bytes Gop(uint32_t hh, uint32_t mm, uint32_t ss, uint32_t pp, uint32_t marker = 1) {
    return Build([&](SPL::BitstreamWriter& w) {
        StartCode(w, 0xB8);
        w.PutBits(1, 1);
        w.PutBits(hh, 5);
        w.PutBits(mm, 6);
        w.PutBits(marker, 1);
        w.PutBits(ss, 6);
        w.PutBits(pp, 6);
        w.PutBits(1, 1);
        w.PutBits(0, 1);
        w.PutBits(0, 5);
    });
}

Bytes Picture(uint32_t type, uint32_t tref = 5) {
    return Build([&](SPL::BitstreamWriter& w) {
        StartCode(w, 0x00);
        w.PutBits(tref, 10);
        w.PutBits(type, 3);
        w.PutBits(0x1234, 16);
        if (type == 2 || type == 3) {
            w.PutBits(1, 1);
            w.PutBits(5, 3);
        }
        if (type == 3) {
            w.PutBits(0, 1);
            w.PutBits(6, 3);
        }
        w.PutBits(0, 8);
    });
}

}  // namespace

TEST(VESSeqHdr, FieldsAndDerivedValues) {
    struct Case {
        uint32_t ar, frc;
        bool ok;
        int64_t duration;
        double pel;
    } cases[] = {
        {1, 1, true, 417083, 1.0},    {2, 2, true, 416666, 0.6735},
        {3, 3, true, 400000, 0.7031}, {14, 4, true, 333667, 1.2015},
        {4, 5, true, 333333, 0.7615}, {5, 6, true, 200000, 0.8055},
        {6, 7, true, 166833, 0.8437}, {7, 8, true, 166666, 0.8935},
        {2, 0, true, 0, 0.6735},                            // no frame rate entry: accepted, rate 0
        {2, 15, true, 0, 0.6735},     {0, 3, false, 0, 0},  // forbidden aspect codes
        {15, 3, false, 0, 0},
    };
    for (const auto& c : cases) {
        SeqFields f;
        f.ar = c.ar;
        f.frc = c.frc;
        const Bytes b = SeqHeader(f);
        Exact e(b);
        VESSeqHdr h;
        ASSERT_EQ(c.ok, h.Parse(e.data(), e.size(), true)) << c.ar << "/" << c.frc;
        EXPECT_EQ(c.ok, h.IsValid());
        if (!c.ok) continue;
        EXPECT_EQ(c.duration, h.frameDuration) << c.frc;
        EXPECT_DOUBLE_EQ(c.pel, h.pelAspectRatio);
        EXPECT_EQ(720u, h.horizontal_size_value);
        EXPECT_EQ(576u, h.displayHeight);
        EXPECT_EQ(15000u * 400u, h.bitRate);
        EXPECT_EQ(112u, h.vbv_buffer_size_value);
    }
}

TEST(VESSeqHdr, MarkerMatricesAndTruncation) {
    SeqFields f;
    f.marker = 0;
    Bytes b = SeqHeader(f);
    VESSeqHdr h;
    EXPECT_FALSE(h.Parse(b.data(), static_cast<uint32_t>(b.size()), true));
    EXPECT_FALSE(h.IsTruncated());  // refused for its content, not its length
    EXPECT_TRUE(h.Parse(b.data(), static_cast<uint32_t>(b.size()), false));

    // The intra matrix is skipped, so the non-intra flag after it is found.
    f = SeqFields();
    f.intra = true;
    f.nonIntra = true;
    b = SeqHeader(f);
    Exact e(b);
    ASSERT_TRUE(h.Parse(e.data(), e.size(), true));
    EXPECT_EQ(1, h.load_intra_quantiser_matrix);
    EXPECT_EQ(1, h.load_non_intra_quantiser_matrix);
    // Cut inside the intra matrix: refused, and nothing read past the cut.
    Exact cut(b.data(), 40);
    EXPECT_FALSE(h.Parse(cut.data(), cut.size(), true));
    EXPECT_FALSE(h.IsValid());
    EXPECT_TRUE(h.IsTruncated());  // a scanner keeps these bytes for more data
    // Eleven bytes, as a scanner may see at the end of its buffer.
    f = SeqFields();
    b = SeqHeader(f);
    Exact eleven(b.data(), 11);
    EXPECT_FALSE(h.Parse(eleven.data(), eleven.size(), true));
    EXPECT_TRUE(h.IsTruncated());
    // Cut before the start code ends.
    EXPECT_FALSE(h.Parse(e.data(), 3, true));
}

TEST(VESSeqExt, ProfileAndLevelMapping) {
    struct Case {
        uint32_t pli, profile, level;
    } cases[] = {
        {0x48, 2, 2}, {0x85, 2, 5}, {0x90, 0, 0}, {0x14, 5, 4}, {0x5A, 1, 1},
        {0x44, 2, 4}, {0x35, 2, 5}, {0x82, 6, 0}, {0x66, 0, 3}, {0x0A, 0, 1},
    };
    for (const auto& c : cases) {
        const Bytes b = SeqExtension(c.pli);
        Exact e(b);
        VESSeqExt x;
        ASSERT_TRUE(x.Parse(e.data(), e.size(), true)) << std::hex << c.pli;
        EXPECT_EQ(c.profile, x.profile) << std::hex << c.pli;
        EXPECT_EQ(c.level, x.level) << std::hex << c.pli;
    }
    const Bytes b = SeqExtension(0x48);
    VESSeqExt x;
    ASSERT_TRUE(x.Parse(b.data(), static_cast<uint32_t>(b.size()), true));
    EXPECT_EQ(2u, x.chroma);
    EXPECT_EQ(1u, x.horizontal_size_extension);
    EXPECT_EQ(0x123u, x.bit_rate_extension);
    EXPECT_EQ(0xABu, x.vbv_buffer_size_extension);
    EXPECT_EQ(1, x.low_delay);
    EXPECT_EQ(2u, x.frame_rate_extension_n);
    EXPECT_EQ(0x11u, x.frame_rate_extension_d);

    const Bytes noMarker = SeqExtension(0x48, 0);
    EXPECT_FALSE(x.Parse(noMarker.data(), static_cast<uint32_t>(noMarker.size()), true));
    EXPECT_TRUE(x.Parse(noMarker.data(), static_cast<uint32_t>(noMarker.size()), false));
}

TEST(VESExtensions, ExtensionIdSelectsTheClass) {
    // Byte 4 carrying id 2 is a display extension, not a sequence extension.
    const Bytes disp = Build([](SPL::BitstreamWriter& w) {
        StartCode(w, 0xB5);
        w.PutBits(2, 4);
        w.PutBits(5, 3);
        w.PutBits(1, 1);
        w.PutBits(1, 8);
        w.PutBits(4, 8);
        w.PutBits(6, 8);
        w.PutBits(1920, 14);
        w.PutBits(1, 1);
        w.PutBits(1080, 14);
        w.PutBits(0, 3);
    });
    Exact e(disp);
    VESSeqExt x;
    EXPECT_FALSE(x.Parse(e.data(), e.size(), true));
    VESHdrSeqDisplayExt d;
    ASSERT_TRUE(d.Parse(e.data(), e.size(), true));
    EXPECT_EQ(5u, d.video_format);
    EXPECT_EQ(4u, d.transfer_characteristics);
    EXPECT_EQ(6u, d.matrix_coefficients);
    EXPECT_EQ(1920u, d.display_horizontal_size);
    EXPECT_EQ(1080u, d.display_vertical_size);
    VESParserConsumer consumer;
    SPL::BaseEvent* ev = consumer.ParseHeader(0, e.data(), e.size());
    ASSERT_NE(nullptr, ev);
    EXPECT_NE(nullptr, dynamic_cast<SPL::BaseEventParser<VESHdrSeqDisplayExt>*>(ev));

    const Bytes pce = Build([](SPL::BitstreamWriter& w) {
        StartCode(w, 0xB5);
        w.PutBits(8, 4);
        w.PutBits(0x1234, 16);  // f_codes
        w.PutBits(2, 2);        // intra_dc_precision
        w.PutBits(1, 2);        // top field
        w.PutBits(0x2AB, 10);   // 1010101011: flags through composite_display_flag
        w.PutBits(1, 1);
        w.PutBits(5, 3);
        w.PutBits(1, 1);
        w.PutBits(0x55, 7);
        w.PutBits(0xC3, 8);
    });
    VESPictureCodingExt p;
    ASSERT_TRUE(p.Parse(pce.data(), static_cast<uint32_t>(pce.size())));
    EXPECT_EQ(1u, p.f_code[0][0]);
    EXPECT_EQ(4u, p.f_code[1][1]);
    EXPECT_EQ(2u, p.intra_dc_precision);
    EXPECT_EQ(1u, p.picture_structure);
    EXPECT_EQ(1, p.top_field_first);
    EXPECT_EQ(0, p.frame_pred_frame_dct);
    EXPECT_EQ(1, p.repeat_first_field);
    EXPECT_EQ(1, p.progressive_frame);
    EXPECT_EQ(1, p.composite_display_flag);
    EXPECT_EQ(5u, p.field_sequence);
    EXPECT_EQ(0x55u, p.burst_amplitude);
    EXPECT_EQ(0xC3u, p.sub_carrier_phase);
    // Without the composite fields the same header is too short.
    EXPECT_FALSE(p.Parse(pce.data(), 9));
}

TEST(VESGop, StrictRangeChecks) {
    struct Case {
        uint32_t hh, mm, ss, pp, marker;
        bool strict, lax;
    } cases[] = {
        {23, 59, 59, 59, 1, true, true}, {0, 0, 0, 60, 1, false, true}, {24, 0, 0, 0, 1, false, true},
        {0, 60, 0, 0, 1, false, true},   {0, 0, 60, 0, 1, false, true}, {1, 2, 3, 4, 0, false, true},
    };
    for (const auto& c : cases) {
        const Bytes b = Gop(c.hh, c.mm, c.ss, c.pp, c.marker);
        Exact e(b);
        VESGop g;
        EXPECT_EQ(c.strict, g.Parse(e.data(), e.size(), true)) << c.hh << ":" << c.mm << ":" << c.ss << "." << c.pp;
        EXPECT_EQ(c.lax, g.Parse(e.data(), e.size(), false));
        EXPECT_EQ(c.pp, g.time_code_pictures);
        EXPECT_EQ(1, g.drop_frame_flag);
        EXPECT_EQ(1, g.closed_gop);
    }
}

TEST(VESPictureHdr, CodingTypesAndMotionCodes) {
    for (uint32_t type = 0; type < 8; ++type) {
        const Bytes b = Picture(type);
        Exact e(b);
        VESPictureHdr p;
        const bool ok = type >= 1 && type <= 4;
        EXPECT_EQ(ok, p.Parse(e.data(), e.size())) << type;
        if (!ok) continue;
        EXPECT_EQ(type, p.pictureType);
        EXPECT_EQ(5u, p.temporal_reference);
        EXPECT_EQ(0x1234u, p.vbv_delay);
        if (type == 2 || type == 3) {
            EXPECT_EQ(5u, p.forward_f_code);
        }
        if (type == 3) {
            EXPECT_EQ(6u, p.backward_f_code);
        }
    }
}
