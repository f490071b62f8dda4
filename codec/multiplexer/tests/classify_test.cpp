// Media types: classification, facts from format blocks, compatibility,
// and the ADTS header for raw AAC.
#include "codec/multiplexer/MediaClassify.h"
#include "codec/multiplexer/Multiplexer.h"

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

using namespace muxcore;
namespace mt = muxcore::mediatype;

namespace {

void Put32(std::vector<uint8_t>& b, size_t at, uint32_t v) {
    for (int i = 0; i < 4; ++i) b[at + i] = static_cast<uint8_t>(v >> (8 * i));
}

// VIDEOINFOHEADER (88 bytes) or VIDEOINFOHEADER2 (112) with a source rectangle.
std::vector<uint8_t> VideoFormat(bool v2, int32_t w, int32_t h, uint32_t bitrate, int64_t avgTime,
                                 uint32_t compression = 0) {
    std::vector<uint8_t> b(v2 ? 112 : 88);
    Put32(b, 8, static_cast<uint32_t>(w));
    Put32(b, 12, static_cast<uint32_t>(h));
    Put32(b, 32, bitrate);
    std::memcpy(&b[40], &avgTime, 8);
    const size_t bmi = v2 ? 72 : 48;
    Put32(b, bmi, 40);
    Put32(b, bmi + 4, static_cast<uint32_t>(w));
    Put32(b, bmi + 8, static_cast<uint32_t>(h));
    Put32(b, bmi + 16, compression);
    return b;
}

std::vector<uint8_t> WaveFormat(uint16_t tag, uint16_t channels, uint32_t rate, uint16_t bits) {
    std::vector<uint8_t> b(18);
    b[0] = static_cast<uint8_t>(tag);
    b[1] = static_cast<uint8_t>(tag >> 8);
    b[2] = static_cast<uint8_t>(channels);
    Put32(b, 4, rate);
    Put32(b, 8, rate * channels * bits / 8);
    b[14] = static_cast<uint8_t>(bits);
    return b;
}

}  // namespace

TEST(MediaClassify, TypesFromMajorAndSubtype) {
    const auto divx = VideoFormat(false, 640, 480, 0, 400000, Fourcc('D', 'I', 'V', '5'));
    struct Case {
        Guid major, subtype;
        const std::vector<uint8_t>* format;
        int32_t type;
    } cases[] = {
        {mt::kMpeg2Pes, mt::kMpeg2Audio, nullptr, kPinPesMpegAudio},
        {mt::kMpeg2Pes, mt::kDvdSubpicture, nullptr, kPinPesDvdSubtitles},
        {mt::kIgPesMajor, mt::kIgPes, nullptr, kPinIgPes},
        {mt::kStream, mt::kMpeg2Program, nullptr, kPinMpeg2Program},
        {mt::kStream, mt::kNull, nullptr, kPinPrivateData},
        {mt::kDvdEncryptedPack, mt::kMpeg2Video, nullptr, kPinMpeg2Video},
        {mt::kDvdEncryptedPack, mt::kDvdSubpicture, nullptr, kPinFree},
        {mt::kVideo, mt::kH264, nullptr, kPinH264},
        {mt::kVideo, FourccGuid(Fourcc('A', 'V', 'C', '1')), nullptr, kPinH264},
        {mt::kVideo, FourccGuid(Fourcc('m', 'p', '4', 'v')), nullptr, kPinMpeg4},
        {mt::kVideo, FourccGuid(Fourcc('W', 'V', 'C', '1')), nullptr, kPinVc1},
        {mt::kVideo, mt::kMpeg1Payload, nullptr, kPinMpeg1Video},
        {mt::kVideo, mt::kMpeg2Video, nullptr, kPinMpeg2Video},
        {mt::kVideo, FourccGuid(Fourcc('D', 'I', 'V', 'X')), &divx, kPinMpeg4v5},
        {mt::kAudio, FourccGuid(0x55), nullptr, kPinMpeg2Audio},
        {mt::kAudio, FourccGuid(0x50), nullptr, kPinMpeg1Audio},
        {mt::kAudio, FourccGuid(0x2000), nullptr, kPinAc3},
        {mt::kAudio, FourccGuid(0xFF), nullptr, kPinAac},
        {mt::kAudio, FourccGuid(1), nullptr, kPinPcm},
        {mt::kAudio, mt::kDvdLpcm, nullptr, kPinPcm},
        {mt::kAudio, mt::kMpeg1Payload, nullptr, kPinMpeg1Audio},
        {mt::kAudio, mt::kMpeg2Video, nullptr, kPinFree},
    };
    int i = 0;
    for (const Case& c : cases) {
        MediaTypeDesc d;
        d.major = c.major;
        d.subtype = c.subtype;
        if (c.format) {
            d.formatType = mt::kFormatVideoInfo;
            d.format = c.format->data();
            d.formatSize = static_cast<uint32_t>(c.format->size());
        }
        EXPECT_EQ(ClassifyMediaType(d).streamType, c.type) << "case " << i++;
    }
    MediaTypeDesc lpcm;
    lpcm.major = mt::kAudio;
    lpcm.subtype = mt::kDvdLpcm;
    EXPECT_TRUE(ClassifyMediaType(lpcm).dvdLpcm);
}

TEST(MediaClassify, FactsFromFormatBlocks) {
    MuxerSettings ps;
    ps.output = kProgramStream;
    MediaTypeDesc d;
    d.major = mt::kVideo;
    d.formatType = mt::kFormatVideoInfo;
    // Bit rate 0: from the picture size, (720 x 576 / 19200) x 500000; half for H.264.
    const auto vih = VideoFormat(false, 720, 576, 0, 333667);
    d.format = vih.data();
    d.formatSize = static_cast<uint32_t>(vih.size());
    ConnectFacts f;
    ASSERT_EQ(ReadConnectFacts(d, kPinMpeg2Video, ps, f), kS_OK);
    EXPECT_EQ(f.announcedBitrate, 10500000);
    EXPECT_EQ(f.announcedFrameRate, 4) << "29.97";
    EXPECT_EQ(f.frameDuration, 333667);
    EXPECT_EQ(f.width, 720);
    ASSERT_EQ(ReadConnectFacts(d, kPinH264, ps, f), kS_OK);
    EXPECT_EQ(f.announcedBitrate, 5250000);
    // A header rate above 20 times the size estimate is not believed.
    const auto wild = VideoFormat(false, 720, 576, 400000000, 400000);
    d.format = wild.data();
    ASSERT_EQ(ReadConnectFacts(d, kPinMpeg2Video, ps, f), kS_OK);
    EXPECT_EQ(f.announcedBitrate, 10500000);

    MediaTypeDesc a;
    a.major = mt::kAudio;
    a.formatType = mt::kFormatWaveFormatEx;
    const auto w441 = WaveFormat(1, 2, 44100, 16), w48 = WaveFormat(1, 2, 48000, 16);
    a.format = w441.data();
    a.formatSize = 18;
    EXPECT_EQ(ReadConnectFacts(a, kPinPcm, ps, f), kE_FAIL) << "LPCM at 44.1 kHz";
    a.format = w48.data();
    EXPECT_EQ(ReadConnectFacts(a, kPinPcm, ps, f), kS_OK);
    EXPECT_EQ(f.announcedBitrate, 1536000);
    MuxerSettings ts;
    EXPECT_EQ(ReadConnectFacts(a, kPinPcm, ts, f), kE_FAIL) << "LPCM only in a program stream";
    a.format = nullptr;
    a.formatSize = 0;
    EXPECT_EQ(ReadConnectFacts(a, kPinPcm, ps, f), kE_FAIL) << "no format block";
    EXPECT_EQ(FrameRateCode(417188), 1);
    EXPECT_EQ(FrameRateCode(400001), 0);
}

TEST(MediaClassify, CompatibilityModes) {
    ConnectFacts pal;
    pal.hasFormat = true;
    pal.width = 720;
    pal.height = 576;
    pal.announcedFrameRate = 3;
    EXPECT_TRUE(CheckCompatibility(kCompatDvd, kPinMpeg2Video, kProgramStream, pal));
    EXPECT_FALSE(CheckCompatibility(kCompatSvcd, kPinMpeg2Video, kProgramStream, pal));
    EXPECT_FALSE(CheckCompatibility(kCompatDvd, kPinMpeg2Video, kTransportStream, pal));
    EXPECT_TRUE(CheckCompatibility(kCompatNone, kPinMpeg2Video, kTransportStream, pal));
    ConnectFacts audio;
    audio.hasFormat = true;
    audio.frequency = 44100;
    audio.channels = 2;
    EXPECT_FALSE(CheckCompatibility(kCompatDvd, kPinMpeg1Audio, kProgramStream, audio));
    EXPECT_TRUE(CheckCompatibility(kCompatSvcd, kPinMpeg1Audio, kProgramStream, audio));
    EXPECT_FALSE(CheckCompatibility(kCompatSvcd, kPinMpeg2Audio, kProgramStream, audio));
    audio.frequency = 48000;
    EXPECT_TRUE(CheckCompatibility(kCompatDvd, kPinPcm, kProgramStream, audio));
}

TEST(MediaClassify, RawAacGetsAnAdtsHeader) {
    uint8_t h[7];
    BuildAdtsHeader(0x11, 0x90, 300, h);  // AAC LC, 48 kHz, stereo
    EXPECT_EQ(h[0], 0xFF);
    EXPECT_EQ(h[1] & 0xF6, 0xF0);
    EXPECT_EQ(((h[3] & 3) << 11) | (h[4] << 3) | (h[5] >> 5), 307);
    EXPECT_EQ((h[2] >> 2) & 0xF, 3) << "48 kHz";
    EXPECT_EQ(((h[2] & 1) << 2) | (h[3] >> 6), 2) << "two channels";

    // Through an input: each raw frame becomes one ADTS frame and one unit.
    Multiplexer mux;
    StreamSettings s;
    s.streamType = kPinAac;
    s.aacConfig[0] = 0x11;
    s.aacConfig[1] = 0x90;
    s.hasAacConfig = true;
    InputStream* in = mux.AddInput(s);
    ASSERT_EQ(mux.Start(nullptr), kS_OK);
    const std::vector<uint8_t> frame(300, 0x21);
    for (int i = 0; i < 4; ++i) ASSERT_EQ(in->Push(frame.data(), frame.size(), i * 213333), kS_OK);
    in->EndOfStream();
    in->PullInput();
    ASSERT_EQ(in->Units().GetCount(), 4);
    EXPECT_EQ(in->Units().Peek().size, 307);
    EXPECT_EQ(in->Units().Peek().location[0], 0xFF);
}
