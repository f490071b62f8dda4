// What "Korvell Chronel" stamps on its output, seen by a recording renderer
// of our own inside the test.
#include <gtest/gtest.h>

#include "tests/support/TestFilters.h"

#include <initguid.h>

#include "restamp/FilterStuff/tests/ChronelChain.h"

#include <algorithm>
#include <cstdlib>
#include <memory>
#include <vector>

using namespace graphtest;
using namespace testfilters;

namespace {

class ChronelStamps : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(SUCCEEDED(CoInitializeEx(nullptr, COINIT_MULTITHREADED)));
        folder_ = MakeTempFolder();
        const std::wstring source = folder_ + L"\\in.bin";
        ASSERT_TRUE(WriteFileBytes(source, PatternBytes(10000, 3)));
        chain_ = std::make_unique<ChronelChain>();
        ASSERT_EQ(S_OK, chain_->Build(source.c_str(), nullptr, 2500));
    }

    void TearDown() override {
        chain_.reset();
        RemoveTree(folder_);
        CoUninitialize();
    }

    std::vector<SeenSample> RunToEnd() { return chain_->RunToEnd(20000); }

    std::wstring folder_;
    std::unique_ptr<ChronelChain> chain_;
};

// The first chunk after a start is stamped [0, 1], sync point and
// discontinuity; the rest carry no time until the parser reports one. A
// second run after Stop starts the same way.
TEST_F(ChronelStamps, FirstChunkAfterEachStartIsStampedZero) {
    for (int run = 0; run < 2; ++run) {
        SCOPED_TRACE(run);
        std::vector<SeenSample> seen = RunToEnd();
        ASSERT_EQ(10u, seen.size());
        EXPECT_TRUE(seen[0].timed);
        EXPECT_EQ(0, seen[0].start);
        EXPECT_EQ(1, seen[0].stop);
        EXPECT_TRUE(seen[0].sync);
        EXPECT_TRUE(seen[0].discontinuity);
        long total = 0;
        for (size_t i = 0; i < seen.size(); ++i) {
            total += static_cast<long>(seen[i].bytes.size());
            if (i == 0) continue;
            EXPECT_FALSE(seen[i].timed) << i;
            EXPECT_FALSE(seen[i].discontinuity) << i;
        }
        EXPECT_EQ(10000, total);
    }
}

}  // namespace

namespace {

// A real program stream: every byte passes, the first chunk is stamped 0 and
// the re-stamped timeline runs on without jumps (audio and video times
// interleave, so small steps back are normal).
TEST(ChronelProgramStream, StampsFollowTheStreamTimes) {
    ASSERT_TRUE(SUCCEEDED(CoInitializeEx(nullptr, COINIT_MULTITHREADED)));
    {
        std::vector<unsigned char> content;
        ASSERT_TRUE(ReadFileBytes(KORVELL_PROGRAM_STREAM, &content)) << "made by make_program_stream.sh";
        ChronelChain chain;
        ASSERT_EQ(S_OK, chain.Build(KORVELL_PROGRAM_STREAM));
        std::vector<SeenSample> seen = chain.RunToEnd(60000);
        std::vector<unsigned char> joined;
        std::vector<REFERENCE_TIME> stamps;
        for (const SeenSample& s : seen) {
            joined.insert(joined.end(), s.bytes.begin(), s.bytes.end());
            if (s.timed) stamps.push_back(s.start);
        }
        EXPECT_TRUE(joined == content) << joined.size() << " of " << content.size();
        ASSERT_GE(stamps.size(), 10u) << "the parser reported too few times";
        EXPECT_EQ(0, stamps.front());
        for (size_t i = 1; i < stamps.size(); ++i) EXPECT_LE(std::llabs(stamps[i] - stamps[i - 1]), 25000000) << i;
        // A 4 s stream ends near 4 s.
        EXPECT_GT(stamps.back(), 25000000);
        EXPECT_LT(stamps.back(), 60000000);
    }
    CoUninitialize();
}

}  // namespace

namespace {

// Runs a file through source, Chronel and a recorder; the samples seen.
std::vector<SeenSample> RunFile(const wchar_t* path) {
    ChronelChain chain;
    const HRESULT built = chain.Build(path);
    EXPECT_EQ(S_OK, built);
    return SUCCEEDED(built) ? chain.RunToEnd(60000) : std::vector<SeenSample>();
}

size_t CountCode(const std::vector<unsigned char>& d, unsigned char code) {
    size_t n = 0;
    for (size_t i = 0; i + 4 <= d.size(); ++i) n += !d[i] && !d[i + 1] && d[i + 2] == 1 && d[i + 3] == code;
    return n;
}

// Walks the packs and packets of an MPEG-1 system stream; the video payload
// joined, or empty when a length does not lead to the next start code.
std::vector<unsigned char> VideoOfSystemStream(const std::vector<unsigned char>& d, bool* whole) {
    constexpr size_t kPackHeader = 12;
    std::vector<unsigned char> es;
    size_t i = 0;
    *whole = false;
    while (i + 4 <= d.size()) {
        if (d[i] || d[i + 1] || d[i + 2] != 1) return es;
        const unsigned char id = d[i + 3];
        if (id == 0xB9) {
            i += 4;
            break;
        }
        if (id == 0xBA) {
            i += kPackHeader;
            continue;
        }
        if (i + 6 > d.size()) return es;
        const size_t len = (size_t(d[i + 4]) << 8) | d[i + 5], end = i + 6 + len;
        if (end > d.size()) return es;
        if (id == 0xE0) {
            size_t p = i + 6;
            while (p < end && d[p] == 0xFF) ++p;                              // stuffing
            if (p < end && (d[p] & 0xC0) == 0x40) p += 2;                     // STD buffer
            p += (d[p] & 0xF0) == 0x30 ? 10 : (d[p] & 0xF0) == 0x20 ? 5 : 1;  // PTS, PTS and DTS, none
            if (p < end) es.insert(es.end(), d.begin() + long(p), d.begin() + long(end));
        }
        i = end;
    }
    *whole = i == d.size();
    return es;
}

// The video of an MPEG-1 system stream has its sequence header only in front
// of its first GOP: the filter puts it in front of later GOPs, as separate
// untimed samples, and grows the enclosing packet's length so that the
// stream still walks from pack to pack.
TEST(ChronelSystemStream, SequenceHeadersGoInFrontOfGops) {
    ASSERT_TRUE(SUCCEEDED(CoInitializeEx(nullptr, COINIT_MULTITHREADED)));
    {
        std::vector<unsigned char> content;
        ASSERT_TRUE(ReadFileBytes(KORVELL_SYSTEM_STREAM, &content)) << "made by make_system_stream.sh";
        ASSERT_EQ(1u, CountCode(content, 0xB3));
        bool whole = false;
        const std::vector<unsigned char> inVideo = VideoOfSystemStream(content, &whole);
        ASSERT_TRUE(whole);
        const size_t gops = CountCode(inVideo, 0xB8);
        ASSERT_GE(gops, 4u);
        const size_t seqAt = 0;
        size_t gopAt = 0;
        while (gopAt + 4 <= inVideo.size() && !(inVideo[gopAt] == 0 && inVideo[gopAt + 1] == 0 &&
                                                inVideo[gopAt + 2] == 1 && inVideo[gopAt + 3] == 0xB8))
            ++gopAt;
        const std::vector<unsigned char> header(inVideo.begin() + long(seqAt), inVideo.begin() + long(gopAt));

        const std::vector<SeenSample> seen = RunFile(KORVELL_SYSTEM_STREAM);
        std::vector<unsigned char> joined;
        size_t inserted = 0;
        for (const SeenSample& s : seen) {
            joined.insert(joined.end(), s.bytes.begin(), s.bytes.end());
            if (s.bytes == header) {
                ++inserted;
                EXPECT_FALSE(s.timed);
            }
        }
        ASSERT_GE(inserted, 1u);
        EXPECT_EQ(joined.size(), content.size() + inserted * header.size());
        const std::vector<unsigned char> outVideo = VideoOfSystemStream(joined, &whole);
        EXPECT_TRUE(whole) << "a packet length does not fit its packet";
        EXPECT_EQ(CountCode(outVideo, 0xB3), 1 + inserted);
        // Each header stands right before a GOP header.
        std::vector<unsigned char> pattern = header;
        pattern.insert(pattern.end(), {0, 0, 1, 0xB8});
        size_t before = 0;
        for (auto it = outVideo.begin();
             (it = std::search(it, outVideo.end(), pattern.begin(), pattern.end())) != outVideo.end(); ++it)
            ++before;
        EXPECT_EQ(before, 1 + inserted);
    }
    CoUninitialize();
}

// Bare H.264 carries no time stamps: the filter makes them up from the frame
// rate of the sequence parameter set, so the stamps rise through the stream.
TEST(ChronelBareH264, StampsRiseWithThePictures) {
    ASSERT_TRUE(SUCCEEDED(CoInitializeEx(nullptr, COINIT_MULTITHREADED)));
    {
        std::vector<unsigned char> content;
        ASSERT_TRUE(ReadFileBytes(KORVELL_BARE_H264, &content)) << "made by make_bare_h264.sh";
        const std::vector<SeenSample> seen = RunFile(KORVELL_BARE_H264);
        std::vector<unsigned char> joined;
        std::vector<REFERENCE_TIME> stamps;
        for (const SeenSample& s : seen) {
            joined.insert(joined.end(), s.bytes.begin(), s.bytes.end());
            if (s.timed) stamps.push_back(s.start);
        }
        EXPECT_TRUE(joined == content) << joined.size() << " of " << content.size();
        ASSERT_GE(stamps.size(), 20u) << "no made-up times";
        EXPECT_EQ(0, stamps.front());
        for (size_t i = 1; i < stamps.size(); ++i) EXPECT_GE(stamps[i], stamps[i - 1]) << i;
        // 8 s of pictures, less those of the detection collection.
        EXPECT_GT(stamps.back(), 20000000);
        EXPECT_LE(stamps.back(), 80000000);
    }
    CoUninitialize();
}

}  // namespace
