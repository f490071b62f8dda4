// "WAV Dest" found by its friendly name and fed a generated tone: the file
// it writes is a WAV file with the connection's format and every byte that
// arrived; without a file name the graph still runs to its end.
#include <windows.h>

#include <dshow.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <vector>

#include "tests/support/GraphHelpers.h"
#include "tests/support/TestFilters.h"

namespace {

using graphtest::ComPtr;

std::uint32_t U32(const std::vector<unsigned char>& b, size_t at) {
    return b[at] | b[at + 1] << 8 | b[at + 2] << 16 | static_cast<std::uint32_t>(b[at + 3]) << 24;
}

class WavDestGraph : public ::testing::Test {
protected:
    void SetUp() override {
        ::CoInitializeEx(nullptr, COINIT_MULTITHREADED);
        ASSERT_EQ(S_OK, ::CoCreateInstance(CLSID_FilterGraph, nullptr, CLSCTX_INPROC_SERVER, IID_IGraphBuilder,
                                           graph_.PutVoid()));
        ASSERT_EQ(S_OK, graphtest::FindFilterByFriendlyName(graphtest::kLegacyFilterCategory, L"WAV Dest", dest_.Put()))
            << "WavDest.ax is not registered";
        ASSERT_EQ(S_OK, graph_->AddFilter(dest_.Get(), L"WAV Dest"));
    }
    void TearDown() override {
        dest_.Reset();
        graph_.Reset();
        ::CoUninitialize();
    }

    // Connects a source of `seconds` of 16-bit PCM and runs it to the end.
    void Play(const testfilters::PcmFormat& format) {
        auto* source = new testfilters::PcmSourceFilter(format);
        source->NonDelegatingAddRef();
        ASSERT_EQ(S_OK, graph_->AddFilter(source, L"PCM"));
        ComPtr<IPin> out;
        ComPtr<IPin> in;
        ASSERT_EQ(S_OK, graphtest::FindPinByName(source, PINDIR_OUTPUT, L"Output", out.Put()));
        ASSERT_EQ(S_OK, graphtest::FindPinByName(dest_.Get(), PINDIR_INPUT, L"In", in.Put()));
        ASSERT_EQ(S_OK, graph_->ConnectDirect(out.Get(), in.Get(), nullptr));
        ComPtr<IMediaControl> control;
        ComPtr<IMediaEvent> events;
        ASSERT_EQ(S_OK, graph_->QueryInterface(IID_IMediaControl, control.PutVoid()));
        ASSERT_EQ(S_OK, graph_->QueryInterface(IID_IMediaEvent, events.PutVoid()));
        ASSERT_TRUE(SUCCEEDED(control->Run()));
        EXPECT_EQ(EC_COMPLETE, graphtest::WaitForEvent(events.Get(), {EC_COMPLETE, EC_ERRORABORT}, 20000));
        control->Stop();
        graph_->RemoveFilter(source);
        source->NonDelegatingRelease();
    }

    ComPtr<IGraphBuilder> graph_;
    ComPtr<IBaseFilter> dest_;
};

TEST_F(WavDestGraph, WritesAWaveFileOfEverySample) {
    const std::wstring folder = graphtest::MakeTempFolder();
    const std::wstring file = folder + L"\\tone.wav";
    ComPtr<IFileSinkFilter> sink;
    ASSERT_EQ(S_OK, dest_->QueryInterface(IID_IFileSinkFilter, sink.PutVoid()));
    ASSERT_EQ(S_OK, sink->SetFileName(file.c_str(), nullptr));

    // 0.5 s of 22050 Hz mono: 11025 frames of 2 bytes.
    Play({22050, 1, 16, 0.5, 100});
    std::vector<unsigned char> bytes;
    ASSERT_TRUE(graphtest::ReadFileBytes(file, &bytes));
    ASSERT_GE(bytes.size(), 44u);
    EXPECT_EQ(0, std::memcmp(bytes.data(), "RIFF", 4));
    EXPECT_EQ(0, std::memcmp(bytes.data() + 8, "WAVEfmt ", 8));
    const std::uint32_t formatSize = U32(bytes, 16);
    ASSERT_GE(formatSize, 16u);
    EXPECT_EQ(1u, bytes[20] | bytes[21] << 8);  // PCM
    EXPECT_EQ(1u, bytes[22] | bytes[23] << 8);  // mono
    EXPECT_EQ(22050u, U32(bytes, 24));
    const size_t data = 20 + formatSize + (formatSize & 1);
    ASSERT_GE(bytes.size(), data + 8);
    EXPECT_EQ(0, std::memcmp(bytes.data() + data, "data", 4));
    EXPECT_EQ(22050u, U32(bytes, data + 4));
    EXPECT_EQ(bytes.size(), data + 8 + 22050);
    EXPECT_EQ(bytes.size() - 8, U32(bytes, 4));
    // The tone is there, not silence.
    int loud = 0;
    for (size_t i = data + 8; i + 1 < bytes.size(); i += 2)
        if (std::abs(static_cast<short>(bytes[i] | bytes[i + 1] << 8)) > 1000) ++loud;
    EXPECT_GT(loud, 5000);

    // A second run replaces the file.
    Play({44100, 2, 16, 0.2, 100});
    ASSERT_TRUE(graphtest::ReadFileBytes(file, &bytes));
    EXPECT_EQ(44100u * 4 / 5, U32(bytes, data + 4));
    graphtest::RemoveTree(folder);
}

TEST_F(WavDestGraph, WithoutAFileNameTheSoundIsDropped) {
    Play({44100, 2, 16, 0.3, 100});
    ComPtr<IFileSinkFilter> sink;
    ASSERT_EQ(S_OK, dest_->QueryInterface(IID_IFileSinkFilter, sink.PutVoid()));
    LPOLESTR name = nullptr;
    EXPECT_EQ(E_FAIL, sink->GetCurFile(&name, nullptr));
}

}  // namespace
