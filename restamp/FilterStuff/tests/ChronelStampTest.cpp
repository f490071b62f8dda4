// What "Korvell Chronel" stamps on its output, seen by a recording renderer
// of our own inside the test.
#include <gtest/gtest.h>

#include "tests/support/TestFilters.h"

#include <initguid.h>

#include "companions/testsource/TestSourceControl.h"
#include "tests/support/GraphHelpers.h"

#include <algorithm>
#include <cstdlib>
#include <vector>

using namespace graphtest;
using namespace testfilters;

namespace {

class ChronelStamps : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(SUCCEEDED(CoInitializeEx(nullptr, COINIT_MULTITHREADED)));
        folder_ = MakeTempFolder();
        ASSERT_EQ(S_OK, CoCreateInstance(CLSID_FilterGraph, nullptr, CLSCTX_INPROC_SERVER, IID_IGraphBuilder,
                                         graph_.PutVoid()));
        ASSERT_EQ(S_OK, graph_->QueryInterface(IID_IMediaControl, control_.PutVoid()));
        ASSERT_EQ(S_OK, FindFilterByFriendlyName(kLegacyFilterCategory, L"Korvell Test File Source", source_.Put()));
        ASSERT_EQ(S_OK, FindFilterByFriendlyName(kLegacyFilterCategory, L"Korvell Chronel", chronel_.Put()));
        recorder_ = new RecorderFilter;
        recorder_->NonDelegatingAddRef();
        ASSERT_EQ(S_OK, graph_->AddFilter(source_.Get(), L"Source"));
        ASSERT_EQ(S_OK, graph_->AddFilter(chronel_.Get(), L"MPEG Chronel"));
        ASSERT_EQ(S_OK, graph_->AddFilter(recorder_, L"Recorder"));

        const auto content = PatternBytes(10000, 3);
        const std::wstring source = folder_ + L"\\in.bin";
        ASSERT_TRUE(WriteFileBytes(source, content));
        ComPtr<ITestSourceControl> pacing;
        ASSERT_EQ(S_OK, source_->QueryInterface(IID_ITestSourceControl, pacing.PutVoid()));
        ASSERT_EQ(S_OK, pacing->SetPacing(2500, 0));
        ComPtr<IFileSourceFilter> load;
        ASSERT_EQ(S_OK, source_->QueryInterface(IID_IFileSourceFilter, load.PutVoid()));
        ASSERT_EQ(S_OK, load->Load(source.c_str(), nullptr));
        ComPtr<IPin> srcOut, in, out;
        ASSERT_EQ(S_OK, FindPinByName(source_.Get(), PINDIR_OUTPUT, L"Output", srcOut.Put()));
        ASSERT_EQ(S_OK, FindPinByName(chronel_.Get(), PINDIR_INPUT, L"Input", in.Put()));
        ASSERT_EQ(S_OK, FindPinByName(chronel_.Get(), PINDIR_OUTPUT, L"Output", out.Put()));
        ASSERT_EQ(S_OK, graph_->ConnectDirect(srcOut.Get(), in.Get(), nullptr));
        ASSERT_EQ(S_OK, graph_->ConnectDirect(out.Get(), &recorder_->Pin(), nullptr));
    }

    void TearDown() override {
        if (control_) control_->Stop();
        control_.Reset();
        source_.Reset();
        chronel_.Reset();
        graph_.Reset();
        if (recorder_) recorder_->NonDelegatingRelease();
        RemoveTree(folder_);
        CoUninitialize();
    }

    std::vector<SeenSample> RunToEnd() {
        recorder_->Pin().Clear();
        EXPECT_TRUE(SUCCEEDED(control_->Run()));
        EXPECT_TRUE(recorder_->Pin().WaitForEnd(20000));
        EXPECT_EQ(S_OK, control_->Stop());
        return recorder_->Pin().Seen();
    }

    std::wstring folder_;
    ComPtr<IGraphBuilder> graph_;
    ComPtr<IMediaControl> control_;
    ComPtr<IBaseFilter> source_, chronel_;
    RecorderFilter* recorder_ = nullptr;
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
        ComPtr<IGraphBuilder> graph;
        ASSERT_EQ(S_OK, CoCreateInstance(CLSID_FilterGraph, nullptr, CLSCTX_INPROC_SERVER, IID_IGraphBuilder,
                                         graph.PutVoid()));
        ComPtr<IMediaControl> control;
        ASSERT_EQ(S_OK, graph->QueryInterface(IID_IMediaControl, control.PutVoid()));
        ComPtr<IBaseFilter> source, chronel;
        ASSERT_EQ(S_OK, FindFilterByFriendlyName(kLegacyFilterCategory, L"Korvell Test File Source", source.Put()));
        ASSERT_EQ(S_OK, FindFilterByFriendlyName(kLegacyFilterCategory, L"Korvell Chronel", chronel.Put()));
        RecorderFilter* recorder = new RecorderFilter;
        recorder->NonDelegatingAddRef();
        ASSERT_EQ(S_OK, graph->AddFilter(source.Get(), L"Source"));
        ASSERT_EQ(S_OK, graph->AddFilter(chronel.Get(), L"MPEG Chronel"));
        ASSERT_EQ(S_OK, graph->AddFilter(recorder, L"Recorder"));
        ComPtr<IFileSourceFilter> load;
        ASSERT_EQ(S_OK, source->QueryInterface(IID_IFileSourceFilter, load.PutVoid()));
        ASSERT_EQ(S_OK, load->Load(KORVELL_PROGRAM_STREAM, nullptr));
        ComPtr<IPin> srcOut, in, out;
        ASSERT_EQ(S_OK, FindPinByName(source.Get(), PINDIR_OUTPUT, L"Output", srcOut.Put()));
        ASSERT_EQ(S_OK, FindPinByName(chronel.Get(), PINDIR_INPUT, L"Input", in.Put()));
        ASSERT_EQ(S_OK, FindPinByName(chronel.Get(), PINDIR_OUTPUT, L"Output", out.Put()));
        ASSERT_EQ(S_OK, graph->ConnectDirect(srcOut.Get(), in.Get(), nullptr));
        ASSERT_EQ(S_OK, graph->ConnectDirect(out.Get(), &recorder->Pin(), nullptr));
        ASSERT_TRUE(SUCCEEDED(control->Run()));
        EXPECT_TRUE(recorder->Pin().WaitForEnd(60000));
        control->Stop();
        std::vector<SeenSample> seen = recorder->Pin().Seen();
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
        graph->RemoveFilter(recorder);
        recorder->NonDelegatingRelease();
    }
    CoUninitialize();
}

}  // namespace

namespace {

// Runs a file through source, Chronel and a recorder; the samples seen.
std::vector<SeenSample> RunFile(const wchar_t* path) {
    std::vector<SeenSample> seen;
    ComPtr<IGraphBuilder> graph;
    EXPECT_EQ(S_OK,
              CoCreateInstance(CLSID_FilterGraph, nullptr, CLSCTX_INPROC_SERVER, IID_IGraphBuilder, graph.PutVoid()));
    if (!graph) return seen;
    ComPtr<IMediaControl> control;
    ComPtr<IBaseFilter> source, chronel;
    ComPtr<IFileSourceFilter> load;
    ComPtr<IPin> srcOut, in, out;
    RecorderFilter* recorder = new RecorderFilter;
    recorder->NonDelegatingAddRef();
    const bool built =
        graph->QueryInterface(IID_IMediaControl, control.PutVoid()) == S_OK &&
        FindFilterByFriendlyName(kLegacyFilterCategory, L"Korvell Test File Source", source.Put()) == S_OK &&
        FindFilterByFriendlyName(kLegacyFilterCategory, L"Korvell Chronel", chronel.Put()) == S_OK &&
        graph->AddFilter(source.Get(), L"Source") == S_OK && graph->AddFilter(chronel.Get(), L"MPEG Chronel") == S_OK &&
        graph->AddFilter(recorder, L"Recorder") == S_OK &&
        source->QueryInterface(IID_IFileSourceFilter, load.PutVoid()) == S_OK && load->Load(path, nullptr) == S_OK &&
        FindPinByName(source.Get(), PINDIR_OUTPUT, L"Output", srcOut.Put()) == S_OK &&
        FindPinByName(chronel.Get(), PINDIR_INPUT, L"Input", in.Put()) == S_OK &&
        FindPinByName(chronel.Get(), PINDIR_OUTPUT, L"Output", out.Put()) == S_OK &&
        graph->ConnectDirect(srcOut.Get(), in.Get(), nullptr) == S_OK &&
        graph->ConnectDirect(out.Get(), &recorder->Pin(), nullptr) == S_OK;
    EXPECT_TRUE(built);
    if (built && SUCCEEDED(control->Run())) {
        EXPECT_TRUE(recorder->Pin().WaitForEnd(60000));
        EXPECT_EQ(S_OK, control->Stop());
        seen = recorder->Pin().Seen();
    }
    graph->RemoveFilter(recorder);
    recorder->NonDelegatingRelease();
    return seen;
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
