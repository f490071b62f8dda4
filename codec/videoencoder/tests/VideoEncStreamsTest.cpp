// The parameter table data and the objects handed to the engine.
#include <gtest/gtest.h>

#include "codec/videoencoder/VideoEncCore.h"
#include "codec/videoencoder/VideoEncParams.h"
#include "codec/videoencoder/VideoEncStreams.h"
#include "companions/vidova/FileOutput.h"
#include "codec/common/engine/vidova.h"

#include <cmath>
#include <cstdio>
#include <cstring>
#include <set>
#include <string>
#include <tuple>
#include <unistd.h>
#include <vector>

using namespace vidcore;

namespace {

TEST(VideoEncTable, RowsFitTheRecordWithoutOverlap) {
    std::set<std::tuple<uint32_t, uint16_t, uint16_t>> ids;
    std::vector<int> owner(kRecordBytes, -1);
    for (int i = 0; i < kParamCount; ++i) {
        const ParamRow& r = kParamRows[i];
        ids.insert({r.id.d1, r.id.d2, r.id.d3});
        const int size = r.kind == kReal ? 8 : 4;
        ASSERT_LE(r.offset + size, kRecordBytes) << r.name;
        for (int b = r.offset; b < r.offset + size; ++b) {
            EXPECT_EQ(-1, owner[b]) << r.name << " overlaps " << (owner[b] >= 0 ? kParamRows[owner[b]].name : "");
            owner[b] = i;
        }
        if (r.hasRange) {
            EXPECT_TRUE(r.defaultValue >= r.min && r.defaultValue <= r.max) << r.name;
        }
        if (r.valueCount && r.kind == kInt && !r.readOnly) {
            EXPECT_NE(nullptr, NameOfValue(r, r.defaultValue)) << r.name;
        }
    }
    EXPECT_EQ(72u, ids.size());
}

TEST(VideoEncTable, NamesAndValuesKeepTheirExactText) {
    EXPECT_STREQ("Quantization paramer for I-Frames", kParamRows[P_QuantI].name);
    EXPECT_STREQ("Padding limint int %", kParamRows[P_PaddingLimit].name);
    EXPECT_STREQ("initial VBV-fullnes in %", kParamRows[P_VbvInitial].name);
    EXPECT_STREQ("Encoded frames", kParamRows[P_EncodingSpeed].name);
    EXPECT_EQ(kReal, kParamRows[P_EncodingSpeed].kind);
    EXPECT_STREQ("MPEG-1  ", NameOfValue(kParamRows[P_VideoType], 0));
    EXPECT_STREQ("24.0  fps", NameOfValue(kParamRows[P_FrameRate], 2));
    EXPECT_STREQ("Optimal", NameOfValue(kParamRows[P_SearchQuality], 17));
    EXPECT_EQ(nullptr, NameOfValue(kParamRows[P_SearchQuality], 16));
    EXPECT_STREQ("31", NameOfValue(kParamRows[P_SearchRange], 31));
    EXPECT_STREQ("0 - disabled", NameOfValue(kParamRows[P_Prefiltering], 0));
    EXPECT_STREQ("Info is NA", NameOfValue(kParamRows[P_OrigColorSpace], -1));
    EXPECT_EQ(23 * 4, kParamRows[P_MbQuant].offset);
    EXPECT_EQ(817, kParamRows[P_SvcdOffsets].offset);
    for (int i : {P_Primaries, P_Transfer, P_Flags, P_Matrix, P_IntraMatrix, P_InterMatrix, P_SvcdOffsets, P_VbvInitial,
                  P_PaddingLimit})
        EXPECT_EQ(4, kParamRows[i].defaultValue) << kParamRows[i].name;
    EXPECT_EQ(6000000, kParamRows[P_Bitrate].defaultValue);
    EXPECT_EQ(0xBDD50372u, kParamRows[P_Bitrate].id.d1);
}

struct FakeSink : OutputSink {
    std::vector<std::vector<uint8_t>> buffers;
    std::vector<std::pair<size_t, uint32_t>> delivered;  // buffer index, bytes
    std::vector<int64_t> starts;
    std::vector<uint32_t> notices;
    uint32_t bufferSize = 64;
    bool fail = false;

    bool GetBuffer(uint8_t** data, uint32_t* size) override {
        if (fail) return false;
        buffers.emplace_back(bufferSize);
        *data = buffers.back().data();
        *size = bufferSize;
        return true;
    }
    void Deliver(uint8_t* data, uint32_t used, const int32_t times[4]) override {
        for (size_t i = 0; i < buffers.size(); ++i)
            if (buffers[i].data() == data) delivered.push_back({i, used});
        int64_t start;
        std::memcpy(&start, times, 8);
        starts.push_back(start);
    }
    void Notify(uint32_t id, const void*, uint32_t) override { notices.push_back(id); }
};

TEST(VideoEncOutput, RequestsDeliverFullBuffersAndRefuseOversize) {
    FakeSink sink;
    bufstream* bs = CreateBitstreamOutput(&sink, 64, nullptr);
    ASSERT_NE(nullptr, bs);
    int64_t times[2] = {400000, 800000};
    EXPECT_EQ(0, bs->info(bs, 0, kInfoTimes, times, 16));
    uint8_t* p = bs->request(bs, 40);
    ASSERT_NE(nullptr, p);
    EXPECT_EQ(40u, bs->commit(bs, 40));
    EXPECT_EQ(24u, bs->bytes_available(bs));
    // Larger than the room left: the held buffer goes out, a fresh one comes back.
    uint8_t* q = bs->request(bs, 30);
    ASSERT_NE(nullptr, q);
    ASSERT_EQ(1u, sink.delivered.size());
    EXPECT_EQ(40u, sink.delivered[0].second);
    EXPECT_EQ(400000, sink.starts[0]);
    EXPECT_EQ(sink.buffers[1].data(), q);
    bs->commit(bs, 30);
    // Larger than any buffer: null, without overrunning.
    EXPECT_EQ(nullptr, bs->request(bs, 65));
    EXPECT_EQ(2u, sink.delivered.size());
    EXPECT_EQ(0u, bs->copy_bytes(bs, q, 4));
    // The end of a picture hands its bytes on.
    ASSERT_NE(nullptr, bs->request(bs, 8));
    EXPECT_EQ(8u, bs->commit(bs, 8));
    EXPECT_EQ(56u, bs->commit(bs, 1000) + 0 * bs->commit(bs, 0));  // never past the buffer
    bs->info(bs, 0, kInfoUnitEnd, nullptr, 0);
    EXPECT_EQ(64u, sink.delivered.back().second);
    EXPECT_EQ(134u, BitstreamOutputTotal(bs));
    // done clears the state: closing afterwards frees nothing twice.
    bs->done(bs, 0);
    EXPECT_EQ(nullptr, bs->state);
    BufstreamClose(&bs, 0);
    EXPECT_EQ(nullptr, bs);
}

TEST(VideoEncOutput, FailedBufferRequestsKeepFailingUntilOneSucceeds) {
    FakeSink sink;
    sink.fail = true;
    bufstream* bs = CreateBitstreamOutput(&sink, 64, nullptr);
    EXPECT_EQ(nullptr, bs->request(bs, 4));
    EXPECT_EQ(nullptr, bs->request(bs, 4));
    EXPECT_EQ(0u, bs->commit(bs, 4));
    sink.fail = false;
    uint8_t* p = bs->request(bs, 4);
    ASSERT_NE(nullptr, p);
    bs->commit(bs, 4);
    BufstreamClose(&bs, 1);
    ASSERT_EQ(1u, sink.delivered.size());
    EXPECT_EQ(4u, sink.delivered[0].second);
}

// The engine cuts each picture by the output's buffer size, which is known
// before the first buffer is held: a picture larger than one sample is
// spread over several, the first one included.
TEST(VideoEncOutput, PicturesLargerThanOneSampleSpanSeveral) {
    FakeSink sink;
    sink.bufferSize = 4096;
    bufstream* bs = CreateBitstreamOutput(&sink, 4096, nullptr);
    ASSERT_NE(nullptr, bs);
    EXPECT_EQ(4096u, bs->buffer_size(bs));  // no buffer held yet
    const int w = 352, h = 288, frames = 10;
    VidovaSettings s{};
    VidovaDefaults(&s, 2, 1);
    vidova_set_int(&s, VIDOVA_B_WIDTH, w);
    vidova_set_int(&s, VIDOVA_B_HEIGHT, h);
    s.w[VIDOVA_W_FRAME_RATE_CODE] = 3;
    s.w[VIDOVA_W_RC_MODE] = 3;                                   // constant quantisers
    s.w[VIDOVA_W_QUANTISERS] = (2 + 4 * 256 + 6 * 65536) * 256;  // fine: large pictures
    vidova_handle engine = VidovaCreate(nullptr, &s, 0, -1, 0, 0);
    ASSERT_NE(nullptr, engine);
    ASSERT_EQ(0, VidovaStart(engine, bs, 0, nullptr));
    std::vector<uint8_t> picture(static_cast<size_t>(w) * h * 3 / 2);
    uint32_t seed = 1;
    for (int f = 0; f < frames; ++f) {
        for (uint8_t& b : picture) b = static_cast<uint8_t>((seed = seed * 1103515245u + 12345u) >> 24);
        VidovaTimes t = {f * 400000LL, (f + 1) * 400000LL, 0};
        void* options[1] = {&t};
        ASSERT_EQ(0, VidovaPutFrame(engine, picture.data(), w, w, h, Fourcc('I', '4', '2', '0'), VIDOVA_FRAME_TIMES,
                                    options));
    }
    EXPECT_EQ(0, VidovaDone(engine, 0));
    VidovaFree(engine);
    BufstreamClose(&bs, 0);
    std::vector<uint8_t> stream;
    std::vector<int64_t> timed;
    ASSERT_EQ(sink.delivered.size(), sink.starts.size());
    for (size_t i = 0; i < sink.delivered.size(); ++i) {
        const auto& d = sink.delivered[i];
        EXPECT_LE(d.second, 4096u);
        const uint8_t* bytes = sink.buffers[d.first].data();
        // Only the first part of a picture carries its time, and it starts the picture.
        if (sink.starts[i] >= 0 && d.second > 0) {
            timed.push_back(sink.starts[i]);
            EXPECT_TRUE(bytes[0] == 0 && bytes[1] == 0 && bytes[2] == 1 && (bytes[3] == 0xB3 || bytes[3] == 0)) << i;
        }
        stream.insert(stream.end(), bytes, bytes + d.second);
    }
    ASSERT_EQ(static_cast<size_t>(frames), timed.size());
    for (int f = 0; f < frames; ++f) EXPECT_EQ(f * 400000LL, timed[static_cast<size_t>(f)]);
    ASSERT_GT(stream.size(), 4u * 4096);
    const uint8_t sequenceHeader[4] = {0, 0, 1, 0xB3};
    EXPECT_EQ(0, std::memcmp(stream.data(), sequenceHeader, 4));
    int pictures = 0;
    for (size_t i = 0; i + 3 < stream.size(); ++i)
        if (stream[i] == 0 && stream[i + 1] == 0 && stream[i + 2] == 1 && stream[i + 3] == 0) ++pictures;
    EXPECT_EQ(frames, pictures);
}

class StatsFileTest : public ::testing::Test {
protected:
    void SetUp() override {
        base_ = "/tmp/vidrel_stats_test_" + std::to_string(getpid());
        for (int i = 0; i < kStatsFiles; ++i) DeleteStatsFile(base_.c_str(), i);
    }
    void TearDown() override {
        for (int i = 0; i < kStatsFiles; ++i) DeleteStatsFile(base_.c_str(), i);
    }
    bool Exists(int i) {
        FILE* f = std::fopen(StatsFileName(base_.c_str(), i).c_str(), "rb");
        if (f) std::fclose(f);
        return f != nullptr;
    }
    std::string base_;
};

TEST_F(StatsFileTest, WritesReadsAndDeletesItsFiles) {
    bufstream* bs = CreateStatsFile(base_.c_str());
    ASSERT_NE(nullptr, bs);
    EXPECT_EQ(nullptr, bs->request);
    EXPECT_EQ(-1, bs->info(bs, 0, kStatsWrite, const_cast<char*>("x"), 1));  // not open
    EXPECT_EQ(0, bs->info(bs, 0, kStatsOpenWrite, nullptr, 0));
    EXPECT_EQ(-1, bs->info(bs, 0, kStatsOpenWrite, nullptr, 0));  // already open
    const char data[] = "analysis";
    EXPECT_EQ(0, bs->info(bs, 0, kStatsWrite, const_cast<char*>(data), sizeof data));
    int32_t size = -1;
    EXPECT_EQ(0, bs->info(bs, 0, kStatsSize, &size, 4));
    EXPECT_EQ(static_cast<int32_t>(sizeof data), size);
    // Deleting an open file is refused and leaves it usable.
    EXPECT_EQ(-1, bs->info(bs, 0, kStatsDelete, nullptr, 0));
    EXPECT_EQ(0, bs->info(bs, 0, kStatsWrite, const_cast<char*>(data), 1));
    EXPECT_EQ(0, bs->info(bs, 0, kStatsClose, nullptr, 0));
    EXPECT_EQ(0, bs->info(bs, 0, kStatsOpenRead, nullptr, 0));
    char back[sizeof data] = {};
    EXPECT_EQ(0, bs->info(bs, 0, kStatsRead, back, sizeof back));
    EXPECT_STREQ(data, back);
    EXPECT_EQ(-1, bs->info(bs, 0, kStatsRead, back, 100));  // past the end
    EXPECT_EQ(0, bs->info(bs, 0, kStatsRewind, nullptr, 0));
    EXPECT_EQ(-1, bs->info(bs, 8, kStatsOpenWrite, nullptr, 0));
    EXPECT_EQ(-1, bs->info(bs, 0, 0x42, nullptr, 0));
    EXPECT_EQ(0, bs->info(bs, 1, kStatsOpenWrite, nullptr, 0));
    bs->done(bs, 0);
    EXPECT_TRUE(Exists(0));  // no delete was asked
    bs->free(bs);

    bs = CreateStatsFile(base_.c_str());
    EXPECT_EQ(0, bs->info(bs, 0, kStatsDelete, nullptr, 0));
    EXPECT_FALSE(Exists(0));
    bs->free(bs);
    EXPECT_FALSE(Exists(1));  // the delete flag removes every file of the run
}

// A clip whose complexity changes half way: a still picture, then noise.
std::vector<uint8_t> StillThenNoise(int w, int h, int frames) {
    const size_t size = static_cast<size_t>(w) * h * 3 / 2;
    std::vector<uint8_t> clip(size * static_cast<size_t>(frames));
    uint32_t seed = 7;
    for (int f = 0; f < frames; ++f) {
        uint8_t* p = clip.data() + size * static_cast<size_t>(f);
        for (size_t i = 0; i < size; ++i) {
            const int x = static_cast<int>(i % static_cast<size_t>(w)),
                      y = static_cast<int>(i / static_cast<size_t>(w));
            p[i] = f < frames / 2 ? static_cast<uint8_t>(64 + (x + y) / 4)
                                  : static_cast<uint8_t>((seed = seed * 1103515245u + 12345u) >> 24);
        }
    }
    return clip;
}

// Codes a clip at a variable rate; returns the stream's bytes.
uint64_t CodeClip(const std::vector<uint8_t>& clip, int w, int h, double bitrate, uint32_t flags, bufstream* stats) {
    VidovaSettings s{};
    VidovaDefaults(&s, 2, 1);
    vidova_set_int(&s, VIDOVA_B_WIDTH, w);
    vidova_set_int(&s, VIDOVA_B_HEIGHT, h);
    s.w[VIDOVA_W_FRAME_RATE_CODE] = 3;
    s.w[VIDOVA_W_RC_MODE] = 0;
    vidova_set_double(&s, VIDOVA_B_BITRATE, bitrate);
    vidova_set_double(&s, VIDOVA_B_RC_BITRATE, bitrate);
    vidova_set_double(&s, VIDOVA_B_MAX_BITRATE, bitrate * 4);
    vidova_set_double(&s, VIDOVA_B_MIN_BITRATE, bitrate / 4);
    vidova_handle engine = VidovaCreate(nullptr, &s, 0, -1, 0, 0);
    EXPECT_NE(nullptr, engine);
    if (!engine) return 0;
    vidova::MemoryOutput out;
    void* options[1] = {stats};
    EXPECT_EQ(0, VidovaStart(engine, &out.bs, flags, options));
    const size_t size = static_cast<size_t>(w) * h * 3 / 2;
    for (size_t f = 0; f + 1 <= clip.size() / size; ++f)
        EXPECT_EQ(0, VidovaPutFrame(engine, clip.data() + f * size, w, w, h, Fourcc('I', '4', '2', '0'), 0, nullptr));
    EXPECT_EQ(0, VidovaDone(engine, 0));
    VidovaFree(engine);
    return out.bytes();
}

// The analysis pass records each picture's complexity in the statistics
// store; the second pass shares the clip's bits out by it and meets the
// target where a single pass, which cannot know what is coming, misses it.
TEST_F(StatsFileTest, SecondPassMeetsTheTargetBitrate) {
    const int w = 176, h = 144, frames = 150;
    const double bitrate = 1500000, seconds = frames / 25.0;
    const std::vector<uint8_t> clip = StillThenNoise(w, h, frames);
    const double onePass = CodeClip(clip, w, h, bitrate, 0, nullptr) * 8 / seconds;
    EXPECT_GT(std::abs(onePass / bitrate - 1), 0.02) << onePass;

    bufstream* stats = CreateStatsFile(base_.c_str());
    ASSERT_NE(nullptr, stats);
    CodeClip(clip, w, h, bitrate, VIDOVA_START_ANALYSIS, stats);
    EXPECT_TRUE(Exists(0));
    const double twoPass = CodeClip(clip, w, h, bitrate, VIDOVA_START_ENCODE_PASS, stats) * 8 / seconds;
    EXPECT_NEAR(1.0, twoPass / bitrate, 0.02) << twoPass << " bit/s, one pass " << onePass;
    stats->free(stats);
}

// Without its analysis the second pass codes as one pass would; without a
// statistics store a two-pass start is refused.
TEST_F(StatsFileTest, SecondPassWithoutAnalysisCodesAsOnePass) {
    const int w = 64, h = 48, frames = 10;
    const std::vector<uint8_t> clip = StillThenNoise(w, h, frames);
    const uint64_t onePass = CodeClip(clip, w, h, 400000, 0, nullptr);
    bufstream* stats = CreateStatsFile(base_.c_str());
    ASSERT_NE(nullptr, stats);
    EXPECT_EQ(onePass, CodeClip(clip, w, h, 400000, VIDOVA_START_ENCODE_PASS, stats));
    FILE* f = std::fopen(StatsFileName(base_.c_str(), 0).c_str(), "wb");
    ASSERT_NE(nullptr, f);
    std::fputs("statistics", f);
    std::fclose(f);
    EXPECT_EQ(onePass, CodeClip(clip, w, h, 400000, VIDOVA_START_ENCODE_PASS, stats));
    stats->free(stats);

    VidovaSettings s{};
    VidovaDefaults(&s, 2, 1);
    vidova_handle engine = VidovaCreate(nullptr, &s, 0, -1, 0, 0);
    ASSERT_NE(nullptr, engine);
    vidova::MemoryOutput out;
    void* none[1] = {nullptr};
    EXPECT_NE(0, VidovaStart(engine, &out.bs, VIDOVA_START_ANALYSIS, none));
    VidovaFree(engine);
}

TEST(VideoEncStatsPath, BoundsOfTheBasePath) {
    EXPECT_EQ(nullptr, CreateStatsFile(""));
    EXPECT_EQ(nullptr, CreateStatsFile(nullptr));
    std::string longPath(2048, 'a');
    EXPECT_EQ(nullptr, CreateStatsFile(longPath.c_str()));
    longPath.resize(2047);
    bufstream* bs = CreateStatsFile(longPath.c_str());
    ASSERT_NE(nullptr, bs);
    bs->free(bs);
    EXPECT_EQ("C:\\Temp\\Vidrel_stat_41", DefaultStatsBase("C:\\Temp", 41));
    std::string deep(300, 'd');
    EXPECT_EQ("Vidrel_stat_7", DefaultStatsBase(deep.c_str(), 7));
}

TEST(VideoEncMessages, LookupAndBoundedMessage) {
    auto err = reinterpret_cast<bufstream_printf_t>(VideoEncGetCallback("err_printf"));
    ASSERT_NE(nullptr, err);
    err("Bitrate %d too high", 99);
    EXPECT_STREQ("Bitrate 99 too high\n", LastEngineMessage());
    std::string huge(5000, 'x');
    err("%s", huge.c_str());
    EXPECT_LT(std::strlen(LastEngineMessage()), 1024u);
    EXPECT_EQ('\n', LastEngineMessage()[std::strlen(LastEngineMessage()) - 1]);
    for (const char* quiet : {"prg_printf", "wrn_printf", "inf_printf", "dbg_printf"})
        EXPECT_NE(nullptr, VideoEncGetCallback(quiet)) << quiet;
    EXPECT_EQ(nullptr, VideoEncGetCallback("malloc"));
    EXPECT_EQ(nullptr, VideoEncGetCallback(nullptr));
}

}  // namespace
