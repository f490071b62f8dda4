// Files written by ffmpeg: OP1a with MPEG-2 video and PCM at 2 s (the
// footer's index) and 12 s (an index per partition), D-10 and OP-Atom.
#include <gtest/gtest.h>

#include <cstring>

#include "mxf/demux/tests/TestSupport.h"

using namespace mxfdemux;
using namespace mxftest;

namespace {

const uint8_t kSystemPackKey[16] = {0x06, 0x0E, 0x2B, 0x34, 0x02, 0x05, 0x01, 0x01,
                                    0x0D, 0x01, 0x03, 0x01, 0x04, 0x01, 0x01, 0x00};

uint64_t EntryOffset(const uint8_t* e) {
    uint64_t v = 0;
    for (int i = 3; i < 11; ++i) v = v << 8 | e[i];
    return v;
}

}  // namespace

TEST(FfmpegFiles, GenericFilesPushPullAndIndex) {
    REQUIRE_FFMPEG();
    for (const char* name : {"a2", "a12"}) {
        SCOPED_TRACE(name);
        const std::string path = Fixture(name);
        ASSERT_FALSE(path.empty());
        const Bytes file = ReadAll(path);
        const Bytes m2v = ReadAll(Dir() + "/" + name + ".m2v");
        const Bytes pcm = ReadAll(Dir() + "/" + name + ".raw");
        const PushResult r = PushFile(path);
        ASSERT_EQ(r.openResult, 0);
        EXPECT_EQ(r.info.fileKind, kGenericFile);
        ASSERT_EQ(r.info.streamCount, 2);
        EXPECT_EQ(r.streams[0].kind, kPicture);
        EXPECT_EQ(r.streams[0].itemType, 0x15);
        EXPECT_EQ(r.streams[1].kind, kGenericSound);
        EXPECT_EQ(r.streams[1].bitsPerSample, 16);
        EXPECT_EQ(r.streams[1].sampleRate, 48000);
        EXPECT_EQ(r.streams[1].channels, 2);
        const int frames = std::strcmp(name, "a2") == 0 ? 50 : 300;
        EXPECT_EQ(r.info.duration, frames);
        EXPECT_TRUE(r.data[0] == m2v) << r.data[0].size() << " vs " << m2v.size();
        EXPECT_TRUE(r.data[1] == pcm) << r.data[1].size() << " vs " << pcm.size();
        ASSERT_EQ(r.info.indexCount, frames);
        ASSERT_GE(r.info.indexEntryLength, 11);
        ASSERT_NE(r.info.index, nullptr);
        // PushFile closed the instance: the index went with it. Read it again.
        Host h;
        ASSERT_EQ(Open(h.in, path.c_str()), 0);
        FileInfo fi{};
        ASSERT_EQ(GetFileInfo(h.in, &fi), 0);
        ASSERT_EQ(fi.indexCount, frames);
        for (int i = 0; i < fi.indexCount; ++i) {
            const uint64_t at = EntryOffset(fi.index + static_cast<size_t>(i) * fi.indexEntryLength);
            ASSERT_LT(at + 16, file.size()) << i;
            EXPECT_EQ(std::memcmp(file.data() + at, kSystemPackKey, 16), 0) << "entry " << i;
        }
        // Pull gives the same bytes.
        ParserSettings ps{};
        const int p = NewParser(h.in, &ps);
        Sink v(0);
        StreamSettings ss{0, &v.bs};
        ASSERT_EQ(AddStream(h.in, p, &ss), 0);
        ASSERT_TRUE(v.PullAll());
        EXPECT_TRUE(v.data == m2v);
    }
}

namespace {

// The 331M words' channels 0 and 1 as 16-bit little-endian PCM.
Bytes DecodeD10(const PushResult& r) {
    Bytes pcm;
    const Bytes& d = r.data[1];
    size_t at = 0;
    for (const ElementRecord& rec : r.records[1]) {
        const uint32_t samples = rec.params[1] | rec.params[2] << 8;
        const uint32_t channels = samples ? rec.elementLength / (samples * 4) : 0;
        for (uint32_t s = 0; s < samples; ++s) {
            for (uint32_t c = 0; c < 2; ++c) {
                const uint8_t* w = d.data() + at + (s * channels + c) * 4;
                const uint32_t word = w[0] | w[1] << 8 | w[2] << 16 | static_cast<uint32_t>(w[3]) << 24;
                const uint32_t s16 = (word >> 12) & 0xFFFF;
                pcm.push_back(static_cast<uint8_t>(s16));
                pcm.push_back(static_cast<uint8_t>(s16 >> 8));
            }
        }
        at += rec.elementLength;
    }
    return pcm;
}

}  // namespace

TEST(FfmpegFiles, D10) {
    REQUIRE_FFMPEG();
    const std::string path = Fixture("d10");
    ASSERT_FALSE(path.empty());
    const PushResult r = PushFile(path, 1 << 20);
    ASSERT_EQ(r.openResult, 0);
    EXPECT_EQ(r.info.fileKind, kD10File);
    EXPECT_NE(r.info.editUnitByteCount, 0u);
    ASSERT_EQ(r.info.streamCount, 2);
    const StreamInfo& a = r.streams[0].kind == kPicture ? r.streams[1] : r.streams[0];
    EXPECT_EQ(a.kind, kD10Sound);
    EXPECT_EQ(a.channels, 8);
    EXPECT_EQ(a.sampleRate, 48000);
    EXPECT_EQ(a.bitsPerSample, 24);
    ASSERT_EQ(r.streams[1].kind, kD10Sound);
    ASSERT_FALSE(r.records[1].empty());
    for (const ElementRecord& rec : r.records[1]) {
        EXPECT_EQ(rec.flags, kFirstPiece | kD10SoundElement);
        EXPECT_EQ(rec.headerLength, 4);
    }
    const Bytes want = ReadAll(Dir() + "/d10.raw");
    const Bytes got = DecodeD10(r);
    ASSERT_GE(got.size(), want.size());
    EXPECT_TRUE(Bytes(got.begin(), got.begin() + static_cast<std::ptrdiff_t>(want.size())) == want);

    // The sound descriptor made an AES3 one: its 2 channels replace the 8.
    Bytes file = ReadAll(path);
    const uint8_t generic[16] = {0x06, 0x0E, 0x2B, 0x34, 0x02, 0x53, 0x01, 0x01,
                                 0x0D, 0x01, 0x01, 0x01, 0x01, 0x01, 0x42, 0x00};
    size_t found = 0;
    for (size_t i = 0; i + 16 <= file.size() && !found; ++i)
        if (std::memcmp(file.data() + i, generic, 16) == 0) found = i;
    ASSERT_NE(found, 0u);
    file[found + 14] = 0x47;
    const std::string changed = Dir() + "/d10-aes3.mxf";
    WriteAll(changed, file);
    Host h;
    ASSERT_EQ(Open(h.in, changed.c_str()), 0);
    StreamInfo si{};
    ASSERT_EQ(GetStreamInfo(h.in, &si, 1), 0);
    EXPECT_EQ(si.channels, 2);
}

TEST(FfmpegFiles, OpAtomOpensWithNoStreams) {
    REQUIRE_FFMPEG();
    const std::string path = Fixture("opatom");
    ASSERT_FALSE(path.empty());
    Host h;
    ASSERT_EQ(Open(h.in, path.c_str()), 0);
    FileInfo fi{};
    ASSERT_EQ(GetFileInfo(h.in, &fi), 0);
    EXPECT_EQ(fi.streamCount, 0);
}
