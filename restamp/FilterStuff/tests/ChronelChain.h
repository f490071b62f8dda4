// "Korvell Test File Source" -> the time marker -> a recording renderer of
// the test's own, over one file: the graph the time marker's tests run their
// streams through.
#pragma once

#include <windows.h>

#include <dshow.h>

#include <vector>

#include "companions/testsource/TestSourceControl.h"
#include "tests/support/GraphHelpers.h"
#include "tests/support/TestFilters.h"

class ChronelChain {
public:
    ChronelChain() = default;
    ChronelChain(const ChronelChain&) = delete;
    ChronelChain& operator=(const ChronelChain&) = delete;
    ~ChronelChain() {
        if (control_) control_->Stop();
        if (graph_ && recorder_) graph_->RemoveFilter(recorder_);
        if (recorder_) recorder_->NonDelegatingRelease();
    }

    // chronel: the filter to use, or null for a new "Korvell Chronel";
    // sampleBytes: the source's sample size (0 keeps its own).
    HRESULT Build(const wchar_t* path, IBaseFilter* chronel = nullptr, ULONG sampleBytes = 0) {
        using namespace graphtest;
        HRESULT hr =
            CoCreateInstance(CLSID_FilterGraph, nullptr, CLSCTX_INPROC_SERVER, IID_IGraphBuilder, graph_.PutVoid());
        if (SUCCEEDED(hr)) hr = graph_->QueryInterface(IID_IMediaControl, control_.PutVoid());
        if (SUCCEEDED(hr))
            hr = FindFilterByFriendlyName(kLegacyFilterCategory, L"Korvell Test File Source", source_.Put());
        if (SUCCEEDED(hr) && chronel)
            chronel_ = graphtest::ComPtr<IBaseFilter>(chronel);
        else if (SUCCEEDED(hr))
            hr = FindFilterByFriendlyName(kLegacyFilterCategory, L"Korvell Chronel", chronel_.Put());
        if (FAILED(hr)) return hr;
        recorder_ = new testfilters::RecorderFilter;
        recorder_->NonDelegatingAddRef();
        hr = graph_->AddFilter(source_.Get(), L"Source");
        if (SUCCEEDED(hr)) hr = graph_->AddFilter(chronel_.Get(), L"MPEG Chronel");
        if (SUCCEEDED(hr)) hr = graph_->AddFilter(recorder_, L"Recorder");
        if (SUCCEEDED(hr) && sampleBytes) {
            ComPtr<ITestSourceControl> pacing;
            hr = source_->QueryInterface(IID_ITestSourceControl, pacing.PutVoid());
            if (SUCCEEDED(hr)) hr = pacing->SetPacing(sampleBytes, 0);
        }
        ComPtr<IFileSourceFilter> load;
        if (SUCCEEDED(hr)) hr = source_->QueryInterface(IID_IFileSourceFilter, load.PutVoid());
        if (SUCCEEDED(hr)) hr = load->Load(path, nullptr);
        ComPtr<IPin> srcOut, in, out;
        if (SUCCEEDED(hr)) hr = FindPinByName(source_.Get(), PINDIR_OUTPUT, L"Output", srcOut.Put());
        if (SUCCEEDED(hr)) hr = FindPinByName(chronel_.Get(), PINDIR_INPUT, L"Input", in.Put());
        if (SUCCEEDED(hr)) hr = FindPinByName(chronel_.Get(), PINDIR_OUTPUT, L"Output", out.Put());
        if (SUCCEEDED(hr)) hr = graph_->ConnectDirect(srcOut.Get(), in.Get(), nullptr);
        if (SUCCEEDED(hr)) hr = graph_->ConnectDirect(out.Get(), &recorder_->Pin(), nullptr);
        return hr;
    }

    // Runs until the recorder has the end of the stream; the graph keeps running.
    bool RunUntilEnd(DWORD ms) {
        recorder_->Pin().Clear();
        return SUCCEEDED(control_->Run()) && recorder_->Pin().WaitForEnd(ms);
    }

    // Runs to the end of the stream and stops; the samples seen.
    std::vector<testfilters::SeenSample> RunToEnd(DWORD ms) {
        EXPECT_TRUE(RunUntilEnd(ms));
        EXPECT_EQ(S_OK, control_->Stop());
        return recorder_->Pin().Seen();
    }

    IBaseFilter* Chronel() const { return chronel_.Get(); }

private:
    graphtest::ComPtr<IGraphBuilder> graph_;
    graphtest::ComPtr<IMediaControl> control_;
    graphtest::ComPtr<IBaseFilter> source_, chronel_;
    testfilters::RecorderFilter* recorder_ = nullptr;
};
