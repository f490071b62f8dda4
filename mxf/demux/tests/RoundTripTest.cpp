// Every XDCAM HD file the writer Mexora makes comes back byte for byte
// through the reader: the picture, each sound track by its element number,
// pushed and pulled, with an index entry at every system item.
#include <gtest/gtest.h>

#include <cstring>

#include "mxf/demux/tests/TestSupport.h"
#include "mxf/mux/MuxInterface.h"
#include "mxf/mux/MxfFileWriter.h"

using namespace mxfdemux;
using namespace mxftest;

namespace {

const uint8_t kSystemPackKey[16] = {0x06, 0x0E, 0x2B, 0x34, 0x02, 0x05, 0x01, 0x01,
                                    0x0D, 0x01, 0x03, 0x01, 0x04, 0x01, 0x01, 0x00};
constexpr int32_t kPresetXdcamHd = 32;
constexpr uint32_t kFlagB = 1u << 12;
constexpr int kTracks = 8;

int32_t WriteMxf(uint32_t flags, const std::string& out, const std::vector<std::string>& inputs) {
    mexora::Settings s;
    mexora::Defaults(&s, kPresetXdcamHd);
    s.flags = flags;
    mexora::MuxServices services;
    services.makeWriter = mexora::mxf::FileWriterFactory();
    services.writer.newGuid = [](uint8_t g[16]) { std::memset(g, 0x5A, 16); };
    services.writer.localTime = [] { return int64_t{0}; };
    mexora::Instance* inst = mexora::New(nullptr, &s, services);
    if (!inst) return -1;
    int32_t r = mexora::AddOutputFile(inst, 0, out.c_str());
    for (const std::string& in : inputs) r |= mexora::AddInputFile(inst, 0, in.c_str());
    if (r == 0) r = mexora::Mux(inst);
    const int32_t done = mexora::Done(inst, r);
    mexora::Free(inst);
    return r != 0 ? r : done;
}

uint64_t EntryOffset(const uint8_t* e) {
    uint64_t v = 0;
    for (int i = 3; i < 11; ++i) v = v << 8 | e[i];
    return v;
}

// The writer pads the last sound unit of each track with silence.
void ExpectTrack(const Bytes& got, const Bytes& want, int k) {
    ASSERT_GE(got.size(), want.size()) << "track " << k;
    EXPECT_TRUE(std::equal(want.begin(), want.end(), got.begin())) << "track " << k;
    for (size_t i = want.size(); i < got.size(); ++i) ASSERT_EQ(got[i], 0) << "track " << k << " at " << i;
}

}  // namespace

TEST(RoundTrip, MexoraXdcamHdFilesComeBackByteForByte) {
    REQUIRE_FFMPEG();
    struct Case {
        const char* name;
        const char* video;  // lavfi source and encoder options
        double seconds;
        uint32_t flags;
        int frames;
    };
    const Case cases[] = {
        {"rt3", "testsrc=size=640x360:rate=30000/1001 -pix_fmt yuv422p -b:v 8M -g 15 -bf 2 -flags +ilme+ildct", 3, 0,
         90},
        {"rt30", "testsrc=size=176x144:rate=25 -g 12 -b:v 500k", 30, 0, 750},          // several body partitions
        {"rtb", "testsrc=size=176x144:rate=25 -g 12 -bf 2 -b:v 500k", 2, kFlagB, 50},  // no index
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string base = Dir() + "/" + c.name;
        const std::string secs = std::to_string(c.seconds);
        ASSERT_TRUE(Ffmpeg("-f lavfi -i " + std::string(c.video) + " -t " + secs + " -c:v mpeg2video -f mpeg2video '" +
                           base + ".m2v'"));
        std::string exprs;
        for (int k = 0; k < kTracks; ++k)
            exprs += (k ? "|" : "") + std::string("0.3*sin(") + std::to_string(90 * (k + 2)) + "*2*PI*t)";
        ASSERT_TRUE(Ffmpeg("-f lavfi -i \"aevalsrc=exprs=" + exprs + ":s=48000:d=" + secs + "\" -c:a pcm_s24le '" +
                           base + ".wav'"));
        const std::string mxf = base + ".mxf";
        ASSERT_EQ(WriteMxf(c.flags, mxf, {base + ".m2v", base + ".wav"}), 0);
        const Bytes file = ReadAll(mxf);
        const Bytes m2v = ReadAll(base + ".m2v");

        const PushResult r = PushFile(mxf);
        ASSERT_EQ(r.openResult, 0);
        ASSERT_EQ(r.info.streamCount, 2);
        EXPECT_EQ(r.streams[0].kind, kPicture);
        EXPECT_EQ(r.streams[0].itemType, 0x15);
        EXPECT_EQ(r.streams[1].kind, kGenericSound);
        EXPECT_EQ(r.streams[1].bitsPerSample, 24);
        EXPECT_EQ(r.streams[1].sampleRate, 48000);
        EXPECT_EQ(r.streams[1].channels, kTracks);
        EXPECT_EQ(r.info.duration, c.frames);
        EXPECT_TRUE(r.data[0] == m2v) << r.data[0].size() << " vs " << m2v.size();
        // Each element number's payloads are its WAV channel.
        std::vector<Bytes> tracks(kTracks);
        size_t at = 0;
        for (const ElementRecord& rec : r.records[1]) {
            ASSERT_LT(rec.elementNumber, static_cast<uint32_t>(kTracks));
            tracks[rec.elementNumber].insert(tracks[rec.elementNumber].end(), r.data[1].begin() + at,
                                             r.data[1].begin() + at + rec.length);
            at += rec.length;
        }
        EXPECT_EQ(at, r.data[1].size());
        // The WAV's samples, de-interleaved.
        ASSERT_TRUE(Ffmpeg("-i '" + base + ".wav' -c:a pcm_s24le -f s24le '" + base + ".s24'"));
        const Bytes interleaved = ReadAll(base + ".s24");
        std::vector<Bytes> channels(kTracks);
        for (size_t s = 0; s + 3 * kTracks <= interleaved.size(); s += 3 * kTracks) {
            for (size_t k = 0; k < kTracks; ++k) {
                channels[k].insert(channels[k].end(), interleaved.begin() + static_cast<long>(s + 3 * k),
                                   interleaved.begin() + static_cast<long>(s + 3 * k + 3));
            }
        }
        for (int k = 0; k < kTracks; ++k)
            ExpectTrack(tracks[static_cast<size_t>(k)], channels[static_cast<size_t>(k)], k);

        Host h;
        ASSERT_EQ(Open(h.in, mxf.c_str()), 0);
        FileInfo fi{};
        ASSERT_EQ(GetFileInfo(h.in, &fi), 0);
        if (c.flags & kFlagB) {
            EXPECT_EQ(fi.indexCount, 0);  // the RIP lists no body partition to index
        } else {
            ASSERT_EQ(fi.indexCount, c.frames);
            for (int i = 0; i < fi.indexCount; ++i) {
                const uint64_t e = EntryOffset(fi.index + static_cast<size_t>(i) * fi.indexEntryLength);
                ASSERT_LT(e + 16, file.size()) << i;
                EXPECT_EQ(std::memcmp(file.data() + e, kSystemPackKey, 16), 0) << "entry " << i;
            }
        }
        // Pull gives the same bytes as push (a parser per stream).
        ParserSettings ps{};
        const int pv = NewParser(h.in, &ps);
        const int pa = NewParser(h.in, &ps);
        Sink v(0), a(0);
        StreamSettings sv{0, &v.bs}, sa{1, &a.bs};
        ASSERT_EQ(AddStream(h.in, pv, &sv), 0);
        ASSERT_EQ(AddStream(h.in, pa, &sa), 0);
        ASSERT_TRUE(v.PullAll());
        ASSERT_TRUE(a.PullAll());
        EXPECT_TRUE(v.data == m2v);
        EXPECT_TRUE(a.data == r.data[1]);
    }
}
