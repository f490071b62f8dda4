// The parameter table data and the objects handed to the engine.
#include <gtest/gtest.h>

#include "codec/videoencoder/VideoEncCore.h"
#include "codec/videoencoder/VideoEncParams.h"
#include "codec/videoencoder/VideoEncStreams.h"

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
