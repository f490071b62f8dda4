// The recorder's MPEG chain without the control program: the screen source
// and a tone through both encoders, the multiplexer (program stream), the
// time marker and the file writer, each found by friendly name and joined
// by pin names. The file is checked afterwards by the host's ffprobe.
#include <gtest/gtest.h>

#include "tests/support/CaptionUnits.h"
#include "tests/support/TestFilters.h"

#include <initguid.h>

#include <string>
#include <vector>

#include "codec/paramkit/ParamInterfaces.h"
#include "tests/support/GraphHelpers.h"

using namespace graphtest;
using namespace testfilters;

namespace {

// {6E7564E3-05FA-417A-AA8E-50E474537EC3}: multiplexer "Output", 1 program stream.
const GUID kMuxOutput = {0x6E7564E3, 0x05FA, 0x417A, {0xAA, 0x8E, 0x50, 0xE4, 0x74, 0x53, 0x7E, 0xC3}};
// {093B53C0-62DA-44F5-802B-615CF07C84D4}: video "ClosedCaption" (1: ATSC user data).
const GUID kClosedCaption = {0x093B53C0, 0x62DA, 0x44F5, {0x80, 0x2B, 0x61, 0x5C, 0xF0, 0x7C, 0x84, 0xD4}};
// {BDD50372-38E2-4A26-BA15-482B70EE136C}: video "Bitrate" in bit/s.
const GUID kBitrate = {0xBDD50372, 0x38E2, 0x4A26, {0xBA, 0x15, 0x48, 0x2B, 0x70, 0xEE, 0x13, 0x6C}};

HRESULT SetAndCommit(IBaseFilter* filter, const GUID& id, LONG value) {
    ComPtr<IModuleConfig> config;
    HRESULT hr = filter->QueryInterface(IID_IModuleConfig, config.PutVoid());
    if (FAILED(hr)) return hr;
    VARIANT v;
    VariantInit(&v);
    hr = config->GetValue(&id, &v);
    if (FAILED(hr)) return hr;
    VariantClear(&v);
    v.vt = VT_I4;
    v.lVal = value;
    hr = config->SetValue(&id, &v);
    return FAILED(hr) ? hr : config->CommitChanges(nullptr);
}

void Connect(IGraphBuilder* graph, IBaseFilter* from, const wchar_t* out, IBaseFilter* to, const wchar_t* in) {
    ComPtr<IPin> o, i;
    ASSERT_EQ(S_OK, FindPinByName(from, PINDIR_OUTPUT, out, o.Put())) << "no pin " << static_cast<const void*>(out);
    ASSERT_EQ(S_OK, FindPinByName(to, PINDIR_INPUT, in, i.Put()));
    ASSERT_EQ(S_OK, graph->ConnectDirect(o.Get(), i.Get(), nullptr));
}

// The screen source captures 320x240 at 25 frames per second.
void SetScreenRegion() {
    const DWORD region[] = {0, 0, 320, 240, 25};  // left, top, right, bottom, rate
    const wchar_t* names[] = {L"Left", L"Top", L"Right", L"Bottom", L"FrameRate"};
    for (int i = 0; i < 5; ++i)
        RegSetKeyValueW(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Unreal\\Live\\UScreenCapture", names[i], REG_DWORD, &region[i],
                        sizeof(DWORD));
}

struct Named {
    const CLSID* category;
    const wchar_t* name;
    ComPtr<IBaseFilter> filter;
};

// A graph with the screen source set up, the filters found by friendly name,
// and the in-process sources the test adds.
class MpegChain : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(SUCCEEDED(CoInitializeEx(nullptr, COINIT_MULTITHREADED)));
        SetScreenRegion();
        ASSERT_EQ(S_OK, CoCreateInstance(CLSID_FilterGraph, nullptr, CLSCTX_INPROC_SERVER, IID_IGraphBuilder,
                                         graph_.PutVoid()));
        ASSERT_EQ(S_OK, graph_->QueryInterface(IID_IMediaControl, control_.PutVoid()));
    }
    void TearDown() override {
        if (control_) control_->Stop();
        for (CBaseFilter* f : sources_) {
            if (graph_) graph_->RemoveFilter(f);
            f->NonDelegatingRelease();
        }
        control_.Reset();
        graph_.Reset();
        CoUninitialize();
    }
    template <size_t N>
    void AddAll(Named (&filters)[N]) {
        for (Named& f : filters) {
            ASSERT_EQ(S_OK, FindFilterByFriendlyName(*f.category, f.name, f.filter.Put())) << "missing filter";
            ASSERT_EQ(S_OK, graph_->AddFilter(f.filter.Get(), f.name));
        }
    }
    // Keeps an in-process source alive for the graph's life.
    void AddSource(CBaseFilter* source, const wchar_t* name) {
        source->NonDelegatingAddRef();
        sources_.push_back(source);
        ASSERT_EQ(S_OK, graph_->AddFilter(source, name));
    }
    void Record(DWORD ms) {
        ASSERT_TRUE(SUCCEEDED(control_->Run()));
        Sleep(ms);
        EXPECT_EQ(S_OK, control_->Stop());
    }

    ComPtr<IGraphBuilder> graph_;
    ComPtr<IMediaControl> control_;
    std::vector<CBaseFilter*> sources_;
};

// Points the file writer at a fresh file in the output folder.
void SetTarget(IBaseFilter* sink, const char* name) {
    const std::string target = std::string(KORVELL_E2E_OUT) + "\\" + name;
    std::wstring wideTarget(target.begin(), target.end());
    DeleteFileW(wideTarget.c_str());
    ComPtr<IFileSinkFilter> file;
    ASSERT_EQ(S_OK, sink->QueryInterface(IID_IFileSinkFilter, file.PutVoid()));
    ASSERT_EQ(S_OK, file->SetFileName(wideTarget.c_str(), nullptr));
}

TEST_F(MpegChain, ScreenAndToneMakeAProgramStream) {
    Named filters[] = {{&CLSID_VideoInputDeviceCategory, L"UScreenCapture", {}},
                       {&kLegacyFilterCategory, L"Korvell MPEG-2 Video Encoder", {}},
                       {&kLegacyFilterCategory, L"Korvell Layer II Audio Encoder", {}},
                       {&kLegacyFilterCategory, L"Korvell MPEG Muxteron", {}},
                       {&kLegacyFilterCategory, L"Korvell Chronel", {}},
                       {&kLegacyFilterCategory, L"Korvell Sink Filter", {}}};
    AddAll(filters);
    if (HasFatalFailure()) return;
    IBaseFilter* screen = filters[0].filter.Get();
    IBaseFilter* video = filters[1].filter.Get();
    IBaseFilter* audio = filters[2].filter.Get();
    IBaseFilter* mux = filters[3].filter.Get();
    IBaseFilter* timer = filters[4].filter.Get();
    IBaseFilter* sink = filters[5].filter.Get();
    PcmSourceFilter* tone = new PcmSourceFilter(PcmFormat{48000, 2, 16, 60, 40});
    AddSource(tone, L"Tone");
    SetTarget(sink, "chain.mpg");
    ASSERT_EQ(S_OK, SetAndCommit(mux, kMuxOutput, 1));

    Connect(graph_.Get(), screen, L"Capture", video, L"Input");
    ASSERT_EQ(S_OK, SetAndCommit(video, kBitrate, 2000000));
    Connect(graph_.Get(), video, L"Output", mux, L"Input0");
    ComPtr<IPin> audioIn;
    ASSERT_EQ(S_OK, FindPinByName(audio, PINDIR_INPUT, L"XForm In", audioIn.Put()));
    ASSERT_EQ(S_OK, graph_->ConnectDirect(tone->GetPin(0), audioIn.Get(), nullptr));
    Connect(graph_.Get(), audio, L"XForm Out", mux, L"Input1");
    Connect(graph_.Get(), mux, L"Out", timer, L"Input");
    Connect(graph_.Get(), timer, L"Output", sink, L"Input");
    Record(6000);
}

// Captions from a line-21 source ride in the video of the recorded file as
// picture user data (check_captions.sh reads the text back).
TEST_F(MpegChain, CaptionsReachTheRecordedFile) {
    Named filters[] = {{&CLSID_VideoInputDeviceCategory, L"UScreenCapture", {}},
                       {&kLegacyFilterCategory, L"Korvell MPEG-2 Video Encoder", {}},
                       {&kLegacyFilterCategory, L"Korvell MPEG Muxteron", {}},
                       {&kLegacyFilterCategory, L"Korvell Sink Filter", {}}};
    AddAll(filters);
    if (HasFatalFailure()) return;
    IBaseFilter* screen = filters[0].filter.Get();
    IBaseFilter* video = filters[1].filter.Get();
    IBaseFilter* mux = filters[2].filter.Get();
    IBaseFilter* sink = filters[3].filter.Get();
    const REFERENCE_TIME frame = 400000;  // 25 frames per second
    EsSourceFilter* captions = new EsSourceFilter(Line21BytePairType(), PopOnCaption("HELLO", frame, frame));
    AddSource(captions, L"Captions");
    SetTarget(sink, "captions.mpg");
    ASSERT_EQ(S_OK, SetAndCommit(mux, kMuxOutput, 1));

    Connect(graph_.Get(), screen, L"Capture", video, L"Input");
    ComPtr<IPin> cc;
    ASSERT_EQ(S_OK, FindPinByName(video, PINDIR_INPUT, L"CC Input", cc.Put()));
    ASSERT_EQ(S_OK, graph_->ConnectDirect(captions->GetPin(0), cc.Get(), nullptr));
    Connect(graph_.Get(), video, L"Output", mux, L"Input0");
    Connect(graph_.Get(), mux, L"Out", sink, L"Input");
    // After the connections, whose preset turns captions off.
    ASSERT_EQ(S_OK, SetAndCommit(video, kBitrate, 2000000));
    ASSERT_EQ(S_OK, SetAndCommit(video, kClosedCaption, 1));
    Record(5000);
}

}  // namespace
