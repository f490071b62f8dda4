#include "codec/scanning/AudioHeaders.h"
#include "test_util.h"

#include <gtest/gtest.h>

using namespace spltest;

namespace {

Bytes MpegAudio(unsigned version, unsigned layer, unsigned br, unsigned sf, unsigned pad) {
    return Build([&](SPL::BitstreamWriter& w) {
        w.PutBits(0x7FF, 11);
        w.PutBits(version, 2);
        w.PutBits(layer, 2);
        w.PutBits(1, 1);
        w.PutBits(br, 4);
        w.PutBits(sf, 2);
        w.PutBits(pad, 1);
        w.PutBits(0, 1);
        w.PutBits(1, 2);  // joint stereo
        w.PutBits(2, 2);
        w.PutBits(0, 4);
    });
}

Bytes Adts(unsigned sfIndex, unsigned channels, unsigned frameLength, unsigned rawBlocks) {
    return Build([&](SPL::BitstreamWriter& w) {
        w.PutBits(0xFFF, 12);
        w.PutBits(0, 1);
        w.PutBits(0, 2);
        w.PutBits(1, 1);
        w.PutBits(1, 2);
        w.PutBits(sfIndex, 4);
        w.PutBits(0, 1);
        w.PutBits(channels, 3);
        w.PutBits(0, 4);
        w.PutBits(frameLength, 13);
        w.PutBits(0x7FF, 11);
        w.PutBits(rawBlocks, 2);
    });
}

Bytes Ac3(unsigned fscod, unsigned frmsizecod, unsigned acmod, unsigned lfe, unsigned bsid = 8) {
    return Build([&](SPL::BitstreamWriter& w) {
        w.PutBits(0x0B77, 16);
        w.PutBits(0xBEEF, 16);
        w.PutBits(fscod, 2);
        w.PutBits(frmsizecod, 6);
        w.PutBits(bsid, 5);
        w.PutBits(0, 3);
        w.PutBits(acmod, 3);
        if ((acmod & 1) && acmod != 1) w.PutBits(1, 2);
        if (acmod & 4) w.PutBits(2, 2);
        if (acmod == 2) w.PutBits(3, 2);
        w.PutBits(lfe, 1);
        w.PutBits(27, 5);
        w.PutBits(1, 1);
        w.PutBits(0x5A, 8);
        w.PutBits(0, 1);
        w.PutBits(0, 16);
    });
}

Bytes Eac3(unsigned strmtyp, unsigned frmsiz, unsigned fscod, unsigned fscod2OrBlocks, unsigned acmod, unsigned lfe) {
    return Build([&](SPL::BitstreamWriter& w) {
        w.PutBits(0x0B77, 16);
        w.PutBits(strmtyp, 2);
        w.PutBits(2, 3);
        w.PutBits(frmsiz, 11);
        w.PutBits(fscod, 2);
        w.PutBits(fscod2OrBlocks, 2);
        w.PutBits(acmod, 3);
        w.PutBits(lfe, 1);
        w.PutBits(16, 5);
        w.PutBits(31, 5);
        w.PutBits(0, 1);
        if (acmod == 0) {
            w.PutBits(20, 5);
            w.PutBits(0, 1);
        }
        if (strmtyp == 1) {
            w.PutBits(1, 1);
            w.PutBits(0xA5A5, 16);
        }
        w.PutBits(0, 16);
    });
}

}  // namespace

TEST(AESHdr, FrameLengthsAndDurations) {
    struct Case {
        unsigned version, layer, br, sf, pad;
        bool ok;
        uint32_t rate, bitRate, length;
        int64_t duration;
    } cases[] = {
        {3, 2, 10, 1, 0, true, 48000, 192000, 576, 240000},  // MPEG-1 Layer II
        {3, 2, 10, 0, 1, true, 44100, 192000, 627, 261224},  // padded
        {3, 1, 9, 0, 0, true, 44100, 128000, 417, 261224},   // MPEG-1 Layer III
        {2, 1, 8, 0, 0, true, 22050, 64000, 208, 261224},    // MPEG-2 Layer III, halved
        {2, 2, 8, 1, 0, true, 24000, 64000, 384, 480000},    // MPEG-2 Layer II keeps 1152
        {0, 1, 8, 2, 0, true, 8000, 64000, 576, 720000},     // MPEG-2.5 Layer III
        {3, 3, 12, 1, 1, true, 48000, 384000, 388, 80000},   // Layer I, padding adds a slot
        {3, 2, 0, 1, 0, false, 0, 0, 0, 0},                  // free format
        {3, 2, 15, 1, 0, false, 0, 0, 0, 0},
        {1, 2, 10, 1, 0, false, 0, 0, 0, 0},  // reserved version
        {3, 0, 10, 1, 0, false, 0, 0, 0, 0},  // reserved layer
        {3, 2, 10, 3, 0, false, 0, 0, 0, 0},  // reserved rate
    };
    for (const auto& c : cases) {
        const Bytes b = MpegAudio(c.version, c.layer, c.br, c.sf, c.pad);
        Exact e(b);
        SPL_AES::AESHdr h;
        ASSERT_EQ(c.ok, h.Parse(e.data(), e.size())) << c.version << "/" << c.layer << "/" << c.br;
        if (!c.ok) continue;
        EXPECT_EQ(c.rate, h.sampleRate);
        EXPECT_EQ(c.bitRate, h.bitRate);
        EXPECT_EQ(c.length, h.frameLength) << c.version << "/" << c.layer;
        EXPECT_EQ(c.duration, h.frameDuration) << c.version << "/" << c.layer;
        EXPECT_EQ(1u, h.mode);
        EXPECT_EQ(2u, h.mode_extension);
    }
}

TEST(AACHdr, AdtsFields) {
    struct Case {
        unsigned sf, ch, len, raw;
        bool ok;
        uint32_t rate, channels;
        int64_t duration;
    } cases[] = {
        {3, 2, 371, 0, true, 48000, 2, 213333},
        {4, 1, 200, 0, true, 44100, 1, 232199},
        {3, 2, 900, 3, true, 48000, 2, 4 * 213333},
        {0, 6, 10, 0, true, 96000, 6, 106666},
        {11, 7, 10, 0, true, 8000, 2, 1280000},
        {12, 2, 371, 0, false, 0, 0, 0},
        {3, 2, 0, 0, false, 0, 0, 0},
    };
    for (const auto& c : cases) {
        const Bytes b = Adts(c.sf, c.ch, c.len, c.raw);
        Exact e(b);
        SPL_AAC::AACHdr h;
        ASSERT_EQ(c.ok, h.Parse(e.data(), e.size())) << c.sf << "/" << c.len;
        if (!c.ok) continue;
        EXPECT_EQ(c.rate, h.sampleRate);
        EXPECT_EQ(c.channels, h.channels);
        EXPECT_EQ(c.duration, h.frameDuration);
        EXPECT_EQ(c.len, h.aac_frame_length);
        EXPECT_EQ(1u, h.profile);
        EXPECT_EQ(0x7FFu, h.adts_buffer_fullness);
    }
    SPL_AAC::AACHdr h;
    const Bytes b = Adts(3, 2, 371, 0);
    Exact cut(b.data(), 6);
    EXPECT_FALSE(h.Parse(cut.data(), cut.size()));
    EXPECT_TRUE(h.IsTruncated());
    const Bytes bad = Adts(12, 2, 371, 0);
    EXPECT_FALSE(h.Parse(bad.data(), static_cast<uint32_t>(bad.size())));
    EXPECT_FALSE(h.IsTruncated());
}

TEST(AC3Hdr, Ac3AndEac3Frames) {
    struct Case {
        Bytes b;
        bool ok;
        uint32_t length, rate, bitRate, channels;
        int64_t duration;
    } cases[] = {
        {Ac3(0, 8, 2, 0), true, 256, 48000, 64000, 2, 320000},
        {Ac3(1, 9, 2, 0), true, 280, 44100, 64312, 2, 348299},
        {Ac3(1, 8, 2, 0), true, 278, 44100, 63853, 2, 348299},
        {Ac3(2, 37, 7, 1), true, 3840, 32000, 640000, 6, 480000},
        {Ac3(0, 28, 1, 0), true, 1536, 48000, 384000, 1, 320000},
        {Ac3(0, 38, 2, 0), false, 0, 0, 0, 0, 0},  // no such frame size
        {Ac3(3, 8, 2, 0), false, 0, 0, 0, 0, 0},   // fscod 3 is E-AC-3 only
        {Ac3(0, 8, 2, 0, 17), false, 0, 0, 0, 0, 0},
        {Eac3(0, 767, 0, 3, 7, 1), true, 1536, 48000, 384000, 6, 320000},
        {Eac3(1, 99, 1, 1, 2, 0), true, 200, 44100, 45937, 2, 348299},
        {Eac3(0, 255, 3, 0, 0, 0), true, 512, 24000, 64000, 2, 640000},  // reduced rate
        {Eac3(0, 255, 3, 3, 2, 0), false, 0, 0, 0, 0, 0},
    };
    for (size_t i = 0; i < sizeof cases / sizeof cases[0]; ++i) {
        const auto& c = cases[i];
        Exact e(c.b);
        SPL_AC3::AC3Hdr h;
        ASSERT_EQ(c.ok, h.Parse(e.data(), e.size())) << i;
        if (!c.ok) continue;
        EXPECT_EQ(c.length, h.frameLength) << i;
        EXPECT_EQ(c.rate, h.sampleRate) << i;
        EXPECT_EQ(c.bitRate, h.bitRate) << i;
        EXPECT_EQ(c.channels, h.channels) << i;
        EXPECT_EQ(c.duration, h.frameDuration) << i;
    }
    SPL_AC3::AC3Hdr h;
    const Bytes eac3 = Eac3(1, 99, 1, 1, 0, 0);
    ASSERT_TRUE(h.Parse(eac3.data(), static_cast<uint32_t>(eac3.size())));
    EXPECT_EQ(20u, h.dialnorm2);
    EXPECT_EQ(0xA5A5u, h.chanmap);
    EXPECT_EQ(16u, h.bsid);
}

TEST(AC3Parser, ByteSwappedSyncIsFoundButRefused) {
    Bytes frame = Ac3(0, 8, 2, 0);
    frame.resize(256, 0);
    Bytes swapped = frame;
    for (size_t i = 0; i + 1 < swapped.size(); i += 2) std::swap(swapped[i], swapped[i + 1]);
    Bytes stream = frame;
    stream.insert(stream.end(), swapped.begin(), swapped.end());
    stream.insert(stream.end(), frame.begin(), frame.end());
    Exact e(stream);

    SPL_AC3::AC3Parser parser;
    SPL_AC3::AC3ParserConsumer consumer;
    SPL_AC3::AC3Stream s;
    parser.SetBuffer(e.data(), e.size());
    std::vector<long> hits, accepted;
    while (const uint8_t* hit = parser.FindNextHeader()) {
        hits.push_back(hit - e.data());
        SPL::BaseEvent* ev = consumer.ParseHeader(hit - e.data(), hit, parser.GetHeaderSpan());
        if (!ev) continue;
        uint32_t out = 0;
        ASSERT_TRUE(s.OnEvent(ev, &out));
        EXPECT_EQ(256u, out);
        accepted.push_back(hit - e.data());
        parser.Advance(out);
    }
    EXPECT_EQ((std::vector<long>{0, 256, 512}), hits);
    EXPECT_EQ((std::vector<long>{0, 512}), accepted);

    // bsid 17 after a valid frame: refused, the old values stay but invalid.
    SPL_AC3::AC3Hdr h;
    ASSERT_TRUE(h.Parse(frame.data(), static_cast<uint32_t>(frame.size())));
    const Bytes bad = Ac3(0, 8, 2, 0, 17);
    EXPECT_FALSE(h.Parse(bad.data(), static_cast<uint32_t>(bad.size())));
    EXPECT_FALSE(h.IsValid());
}

TEST(AudioStreams, FrameToFrameWalk) {
    // Three Layer II frames of 576 bytes, with junk in front.
    Bytes stream(7, 0x00);
    for (int i = 0; i < 3; ++i) {
        Bytes f = MpegAudio(3, 2, 10, 1, 0);
        f.resize(576, 0x11);
        stream.insert(stream.end(), f.begin(), f.end());
    }
    Exact e(stream);
    SPL_AES::AESParser parser;
    SPL_AES::AESParserConsumer consumer;
    SPL_AES::AESStream s;
    parser.SetBuffer(e.data(), e.size());
    std::vector<long> frames;
    while (const uint8_t* hit = parser.FindNextHeader()) {
        SPL::BaseEvent* ev = consumer.ParseHeader(hit - e.data(), hit, parser.GetHeaderSpan());
        uint32_t out = 0;
        if (ev && s.OnEvent(ev, &out)) {
            frames.push_back(hit - e.data());
            parser.Advance(out);
        }
    }
    EXPECT_EQ((std::vector<long>{7, 7 + 576, 7 + 1152}), frames);

    Bytes adts = Adts(3, 2, 20, 0);
    adts.resize(20, 0);
    Bytes two = adts;
    two.insert(two.end(), adts.begin(), adts.end());
    two.resize(two.size() + 12, 0);
    Exact a(two);
    SPL_AAC::AACParser ap;
    SPL_AAC::AACParserConsumer ac;
    SPL_AAC::AACStream as;
    ap.SetBuffer(a.data(), a.size());
    int n = 0;
    while (const uint8_t* hit = ap.FindNextHeader()) {
        SPL::BaseEvent* ev = ac.ParseHeader(hit - a.data(), hit, ap.GetHeaderSpan());
        uint32_t out = 0;
        if (ev && as.OnEvent(ev, &out)) {
            EXPECT_EQ(20u, out);
            ++n;
            ap.Advance(out);
        }
    }
    EXPECT_EQ(2, n);
}
