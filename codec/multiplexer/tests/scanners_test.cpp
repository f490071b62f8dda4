// Scanners driven through a real input: bytes in, access units out.
#include "codec/multiplexer/Multiplexer.h"
#include "codec/scanning/scanners/StartCodeSearch.h"
#include "es_builder.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

using namespace muxcore;
using muxtest::Bytes;

namespace {

struct Rig {
    Multiplexer mux;
    InputStream* in = nullptr;
    explicit Rig(int32_t type, int32_t output = kProgramStream, int32_t timing = kCaptureMode) {
        mux.Settings().output = output;
        mux.Settings().timingMode = timing;
        StreamSettings s;
        s.streamType = type;
        in = mux.AddInput(s);
        EXPECT_NE(in, nullptr);
        EXPECT_EQ(mux.Start(nullptr), kS_OK);
    }
    std::vector<AccessUnit> Units(const Bytes& b, int64_t time = kNoTime, bool end = true) {
        EXPECT_EQ(in->Push(b.data(), b.size(), time), kS_OK);
        if (end) in->EndOfStream();
        in->PullInput();
        std::vector<AccessUnit> v;
        AccessUnit u;
        for (int32_t i = 0; in->Units().At(i, u) == 0; ++i) v.push_back(u);
        return v;
    }
};

}  // namespace

TEST(MpegVideoScanner, OneUnitPerPictureWithLeadingHeaders) {
    Rig rig(kPinMpeg2Video);
    Bytes b = {0x00, 0x00, 0x00, 0x00, 0x00};  // bytes before the first header travel with it
    muxtest::SequenceHeader(b);
    muxtest::SequenceExtension(b);
    muxtest::Gop(b);
    const size_t firstPicture = b.size();
    muxtest::Picture(b, 0, 1);
    const size_t second = b.size();
    muxtest::Picture(b, 1, 2);
    const auto u = rig.Units(b, 1000000);
    ASSERT_EQ(u.size(), 2u);
    EXPECT_EQ(u[0].kind, kUnitIWithSequence);
    EXPECT_EQ(u[0].location, rig.in->DataStart());
    EXPECT_EQ(u[0].size, static_cast<int32_t>(second));
    EXPECT_GT(second, firstPicture);
    EXPECT_EQ(u[1].kind, kUnitP);
    EXPECT_EQ(u[1].size, static_cast<int32_t>(b.size() - second));
    // 25 frames/s from the sequence header: the I picture decodes a frame early,
    // the P picture at the I picture's presentation time.
    EXPECT_EQ(rig.in->FrameDuration(), 400000);
    EXPECT_EQ(u[0].pts, 1000000);
    EXPECT_EQ(u[0].dts, 600000);
    EXPECT_EQ(u[1].dts, 1000000);
    EXPECT_EQ(u[1].pts, 1400000) << "a picture without its own sample counts on from the stamped one";
}

TEST(MpegVideoScanner, ReorderedGroupsGetIncreasingDecodingTimes) {
    Rig rig(kPinMpeg2Video);
    const auto u = rig.Units(muxtest::SimpleGop(2));
    ASSERT_EQ(u.size(), 8u);
    const int kinds[] = {kUnitIWithSequence, kUnitP, kUnitB, kUnitB};
    const int64_t f = 400000;
    const int64_t pts[] = {0, 3 * f, f, 2 * f, 4 * f, 7 * f, 5 * f, 6 * f};
    for (size_t i = 0; i < u.size(); ++i) {
        EXPECT_EQ(u[i].kind, kinds[i % 4]) << i;
        EXPECT_EQ(u[i].pts, pts[i]) << i;
        if (i) {
            EXPECT_EQ(u[i].dts, u[i - 1].dts + f) << i;
        }
        EXPECT_LE(u[i].dts, u[i].pts) << i;
    }
}

TEST(MpegVideoScanner, ReconstructionRebuildsTimesPerGroup) {
    Rig rig(kPinMpeg2Video, kProgramStream, kReconstructionMode);
    const Bytes b = muxtest::SimpleGop(2);
    // One stamp for the whole stream: every group is timed from it on.
    const auto u = rig.Units(b, 2000000);
    ASSERT_EQ(u.size(), 8u);
    const int64_t f = 400000, t0 = 2000000;
    const int64_t pts[] = {t0, t0 + 3 * f, t0 + f, t0 + 2 * f, t0 + 4 * f, t0 + 7 * f, t0 + 5 * f, t0 + 6 * f};
    const int64_t dts[] = {t0 - 2 * f, t0, t0 + f, t0 + 2 * f, t0 + 3 * f, t0 + 4 * f, t0 + 5 * f, t0 + 6 * f};
    int32_t bytes = 0;
    for (size_t i = 0; i < u.size(); ++i) {
        EXPECT_EQ(u[i].pts, pts[i]) << i;
        EXPECT_EQ(u[i].dts, dts[i]) << i;
        EXPECT_EQ(u[i].location, rig.in->DataStart() + bytes) << "units follow each other";
        bytes += u[i].size;
    }
    EXPECT_EQ(bytes, static_cast<int32_t>(b.size()));
    EXPECT_EQ(u[0].kind, kUnitIWithSequence);
    EXPECT_EQ(u[4].kind, kUnitIWithSequence);
}

TEST(MpegVideoScanner, TwoUnitsInOneSampleShareNoStamp) {
    Rig rig(kPinMpeg2Video);
    Bytes b;
    muxtest::SequenceHeader(b);
    muxtest::SequenceExtension(b);
    muxtest::Gop(b);
    muxtest::Picture(b, 0, 1);
    muxtest::Picture(b, 1, 2);
    Bytes c;
    muxtest::Picture(c, 2, 2);
    ASSERT_EQ(rig.in->Push(b.data(), b.size(), 5000000), kS_OK);
    const auto u = rig.Units(c, 9000000);
    ASSERT_EQ(u.size(), 3u);
    EXPECT_EQ(u[0].pts, 5000000);
    EXPECT_EQ(u[1].pts, 5400000) << "computed, not the sample's";
    EXPECT_EQ(u[2].pts, 9000000);
}

TEST(AudioScanner, MpegAudioFrames) {
    Rig rig(kPinMpeg1Audio);
    const Bytes b = muxtest::Mp2Frames(5);
    const auto u = rig.Units(b);
    ASSERT_EQ(u.size(), 5u);
    EXPECT_EQ(rig.in->FrameDuration(), 240000) << "1152 x 10000000 / 48000";
    for (size_t i = 0; i < u.size(); ++i) {
        EXPECT_EQ(u[i].size, 576);
        EXPECT_EQ(u[i].pts, static_cast<int64_t>(i) * 240000);
        EXPECT_EQ(u[i].dts, u[i].pts);
        EXPECT_EQ(u[i].kind, kUnitAudio);
    }
    EXPECT_EQ(rig.in->AnnouncedBitrate(), 192000);
}

TEST(AudioScanner, TruncatedLastFrameIsKept) {
    Rig rig(kPinMpeg1Audio);
    Bytes b = muxtest::Mp2Frames(3);
    b.resize(b.size() - 100);
    const auto u = rig.Units(b);
    ASSERT_EQ(u.size(), 3u);
    EXPECT_EQ(u[2].size, 476);
}

TEST(LpcmScanner, BlocksOfWholeSamples) {
    Rig rig(kPinPcm);
    const Bytes b(2008 * 3 + 100, 0x22);
    const auto u = rig.Units(b, 0);
    ASSERT_EQ(u.size(), 4u);
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(u[i].size, 2008);
        EXPECT_EQ(u[i].pts, i * 104583);
        EXPECT_TRUE(u[i].dtsPresent);
    }
    EXPECT_EQ(u[3].size, 100);
    EXPECT_FALSE(u[3].dtsPresent) << "the short last block";
}

TEST(PesScanner, PacketWithoutStampTakesThePrevious) {
    Rig rig(kPinPesMpegAudio);
    Bytes b = {0x00, 0x00, 0x01, 0xC0, 0x00, 0x0D, 0x80, 0x80, 0x05, 0x21,
               0x00, 0x01, 0x46, 0x51, 0xAA, 0xAA, 0xAA, 0xAA, 0xAA};  // PTS 9000
    const Bytes second = {0x00, 0x00, 0x01, 0xC0, 0x00, 0x05, 0x80, 0x00, 0x00, 0xBB, 0xBB};
    b.insert(b.end(), second.begin(), second.end());
    const auto u = rig.Units(b);
    ASSERT_EQ(u.size(), 2u);
    EXPECT_EQ(u[0].pts, 1000000);
    EXPECT_EQ(u[0].size, 19);
    EXPECT_EQ(u[1].pts, 1000000);
    EXPECT_EQ(u[1].size, 11);
}

TEST(InputQueue, TransportPiecesOfALargeUnit) {
    Rig rig(kPinMpeg1Audio, kTransportStream);
    static uint8_t bytes[70000];
    AccessUnit u = ZeroUnit();
    u.location = bytes;
    u.size = 70000;
    u.ptsPresent = u.dtsPresent = 1;
    u.kind = kUnitAudio;
    rig.in->QueueAccessUnit(u);
    ASSERT_EQ(rig.in->Units().GetCount(), 2);
    AccessUnit a, b;
    rig.in->Units().At(0, a);
    rig.in->Units().At(1, b);
    EXPECT_EQ(a.size, 65520 - 14);
    EXPECT_EQ(a.size + b.size, 70000);
    EXPECT_EQ(a.unitStart, 1);
    EXPECT_EQ(b.unitStart, 0);
}

TEST(MpegVideoScanner, DecodingTimesIncreaseWithReorderedAndOpenGroups) {
    // A closed group, and an open first group whose I picture follows two B
    // pictures that refer back before the stream's start.
    Bytes open;
    muxtest::SequenceHeader(open);
    muxtest::SequenceExtension(open);
    muxtest::Gop(open);
    const unsigned order[][2] = {{2, 1}, {0, 3}, {1, 3}, {5, 2}, {3, 3}, {4, 3}};
    for (const auto& p : order) muxtest::Picture(open, p[0], p[1]);
    const Bytes closed = muxtest::SimpleGop(2);
    for (const Bytes* b : std::vector<const Bytes*>{&closed, &open})
        for (int32_t output : {kProgramStream, kTransportStream, kTransportFixedPids})
            for (int32_t timing : {kCaptureMode, kReconstructionMode}) {
                SCOPED_TRACE((b == &open ? "open, output " : "closed, output ") + std::to_string(output) + ", timing " +
                             std::to_string(timing));
                Rig rig(kPinMpeg2Video, output, timing);
                const auto u = rig.Units(*b, 1000000);
                int64_t last = INT64_MIN;
                size_t units = 0;
                for (const AccessUnit& x : u) {
                    if (!x.unitStart) continue;
                    ++units;
                    EXPECT_LE(x.dts, x.pts) << units;
                    EXPECT_GT(x.dts, last) << units;
                    last = x.dts;
                }
                EXPECT_EQ(units, b == &open ? 6u : 8u);
            }
}

TEST(MpegVideoScanner, RepeatedFieldsLengthenThePicturesBeforeTheNext) {
    // 3:2 pulldown: every other picture (in display order) repeats its first
    // field and lasts 1.5 frames. An open group whose I picture carries the
    // only sample time, then a closed group counted on from it.
    Bytes b;
    muxtest::SequenceHeader(b);
    muxtest::SequenceExtension(b);
    muxtest::Gop(b);
    const struct {
        unsigned tr, type;
        bool rff;
    } pictures[] = {{2, 1, true},  {0, 3, true}, {1, 3, false}, {5, 2, false},
                    {3, 3, false}, {4, 3, true}, {0, 1, true},  {1, 2, false}};
    for (size_t i = 0; i < 8; ++i) {
        if (i == 6) {
            muxtest::SequenceHeader(b);
            muxtest::SequenceExtension(b);
            muxtest::Gop(b);
        }
        muxtest::Picture(b, pictures[i].tr, pictures[i].type, 200, pictures[i].rff);
    }
    Rig rig(kPinMpeg2Video);
    const int64_t f = 400000, t0 = 10000000;
    const auto u = rig.Units(b, t0);
    ASSERT_EQ(u.size(), 8u);
    // Display order 0..5 lasts 1.5, 1, 1.5, 1, 1.5, 1 frames: the group starts 2.5 frames before its I picture.
    const int64_t base = t0 - 5 * f / 2;
    const int64_t pts[] = {t0,           base,         base + 3 * f / 2,  base + 13 * f / 2,
                           base + 4 * f, base + 5 * f, base + 15 * f / 2, base + 9 * f};
    int64_t last = INT64_MIN;
    for (size_t i = 0; i < u.size(); ++i) {
        EXPECT_EQ(u[i].pts, pts[i]) << i;
        EXPECT_LE(u[i].dts, u[i].pts) << i;
        EXPECT_GT(u[i].dts, last) << i;
        last = u[i].dts;
    }
}

// The block search and the plain one agree on every start position and every
// end: prefixes at each offset of a block, across block edges, within the
// last four bytes (not a start code there), and near-misses (00 00 02,
// 00 01, 00 00 00 01 whose prefix starts one byte in).
TEST(StartCodeSearch, BlockSearchMatchesThePlainOne) {
    const std::vector<std::vector<uint8_t>> pieces = {{0, 0, 1, 0xB3},    {0, 0, 2},    {0, 1, 0},
                                                      {0, 0, 0, 1, 0x00}, {0xFF, 0, 0}, {1, 1, 1}};
    uint32_t seed = 12345;
    for (int round = 0; round < 200; ++round) {
        // Random filler from a byte set rich in 0 and 1, or (every other pair
        // of rounds) with few of them, as coded data has, with pieces dropped in.
        const bool sparse = (round / 2) % 2 == 1;
        std::vector<uint8_t> b(static_cast<size_t>(round % 70) + 1);
        for (uint8_t& x : b) {
            seed = seed * 1103515245u + 12345u;
            const bool filler = sparse ? (seed >> 16) % 12 != 0 : (seed >> 16) % 4 == 0;
            x = static_cast<uint8_t>(filler ? 0x47 : (seed >> 20) % 3);
        }
        const std::vector<uint8_t>& piece = pieces[static_cast<size_t>(round) % pieces.size()];
        const size_t at = static_cast<size_t>(round * 7) % b.size();
        for (size_t i = 0; i < piece.size() && at + i < b.size(); ++i) b[at + i] = piece[i];
        uint8_t* base = b.data();
        uint8_t* end = base + b.size();
        for (uint8_t* from = base; from <= end; ++from)
            for (uint8_t* to = from; to <= end; ++to)
                ASSERT_EQ(startcode::Find(from, to), startcode::FindPlain(from, to))
                    << "round " << round << " from " << (from - base) << " to " << (to - base);
    }
}

TEST(StartCodeSearch, FindsThePrefixNeedingFourBytes) {
    // 00 00 01 xx at every offset of a 40-byte run of 0xFF.
    for (size_t at = 0; at + 4 <= 40; ++at) {
        std::vector<uint8_t> b(40, 0xFF);
        b[at] = 0;
        b[at + 1] = 0;
        b[at + 2] = 1;
        EXPECT_EQ(startcode::Find(b.data(), b.data() + b.size()), b.data() + at) << at;
        // Without its fourth byte it is not found.
        EXPECT_EQ(startcode::Find(b.data(), b.data() + at + 3), nullptr) << at;
    }
}
