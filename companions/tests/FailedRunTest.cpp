// A graph whose Run fails leaves the filters it paused in Paused while it
// believes itself stopped: its own Stop then does nothing. The companions
// must still come apart: each one stops when told to (and lets go of its
// connections), and the file writers let go of their input even unstopped,
// so releasing such a graph cannot spin on a refused Disconnect.
#include <gtest/gtest.h>

#include <windows.h>
#include <mmreg.h>

#include <cguid.h>
#include <initguid.h>

#include "companions/sinkfilter/KorvellSinkIds.h"
#include "companions/testsource/TestSourceControl.h"
#include "companions/wavdest/WavDest.h"
#include "platform/com/ComPtr.h"
#include "tests/support/GraphHelpers.h"
#include "tests/support/TestFilters.h"

using graphtest::FindPinByName;
using graphtest::MakeTempFolder;
using graphtest::RemoveTree;
using graphtest::WriteFileBytes;

namespace {

// {7D2E4C91-5A3B-4F6E-8C1D-9E0F2A3B4C5D}
const CLSID kFailingClsid = {0x7d2e4c91, 0x5a3b, 0x4f6e, {0x8c, 0x1d, 0x9e, 0x0f, 0x2a, 0x3b, 0x4c, 0x5d}};
// "UScreenCapture" {4E7B8C21-7F4A-4C51-9B1E-2D3A6F8E5C90}
const CLSID kScreenClsid = {0x4e7b8c21, 0x7f4a, 0x4c51, {0x9b, 0x1e, 0x2d, 0x3a, 0x6f, 0x8e, 0x5c, 0x90}};
// "Korvell Audio Capture" {8F3C2B6A-1D4E-4F70-A5B9-C6D7E8F90A1B}
const CLSID kAudioCaptureClsid = {0x8f3c2b6a, 0x1d4e, 0x4f70, {0xa5, 0xb9, 0xc6, 0xd7, 0xe8, 0xf9, 0x0a, 0x1b}};

const DWORD kReleaseTimeoutMs = 10000;

// Fails to pause, so the graph's Run fails (under Wine a filter that fails
// only its own Run does not fail the graph's Run). Its output pin offers
// 16-bit stereo PCM and never streams, so it lets go of a connection in any
// state: whatever holds on is the filter under test.
class FailingFilter : public CBaseFilter {
public:
    FailingFilter() : CBaseFilter("failing filter", nullptr, &lock_, kFailingClsid), pin_(this, &lock_, &hr_) {}
    int GetPinCount() override { return 1; }
    CBasePin* GetPin(int n) override { return n == 0 ? &pin_ : nullptr; }
    IPin* Pin() { return &pin_; }
    STDMETHODIMP Pause() override { return E_FAIL; }

private:
    class OutPin : public CBaseOutputPin {
    public:
        OutPin(CBaseFilter* filter, CCritSec* lock, HRESULT* phr)
            : CBaseOutputPin("failing pin", filter, lock, phr, L"Out") {}
        HRESULT CheckMediaType(const CMediaType* mt) override {
            CMediaType mine;
            HRESULT hr = GetMediaType(0, &mine);
            if (FAILED(hr)) return hr;
            return *mt == mine ? S_OK : VFW_E_TYPE_NOT_ACCEPTED;
        }
        HRESULT GetMediaType(int position, CMediaType* mt) override {
            if (position < 0) return E_INVALIDARG;
            if (position > 0) return VFW_S_NO_MORE_ITEMS;
            WAVEFORMATEX wfx = {};
            wfx.wFormatTag = WAVE_FORMAT_PCM;
            wfx.nChannels = 2;
            wfx.nSamplesPerSec = 44100;
            wfx.wBitsPerSample = 16;
            wfx.nBlockAlign = 4;
            wfx.nAvgBytesPerSec = 44100 * 4;
            mt->InitMediaType();
            mt->SetType(&MEDIATYPE_Audio);
            mt->SetSubtype(&MEDIASUBTYPE_PCM);
            mt->SetFormatType(&FORMAT_WaveFormatEx);
            mt->SetSampleSize(4);
            return mt->SetFormat(reinterpret_cast<BYTE*>(&wfx), sizeof wfx) ? S_OK : E_OUTOFMEMORY;
        }
        HRESULT DecideBufferSize(IMemAllocator* alloc, ALLOCATOR_PROPERTIES* props) override {
            props->cBuffers = 1;
            props->cbBuffer = 4096;
            props->cbAlign = 1;
            ALLOCATOR_PROPERTIES actual = {};
            return alloc->SetProperties(props, &actual);
        }
        STDMETHODIMP Disconnect() override {
            CAutoLock lock(m_pLock);
            return DisconnectInternal();
        }
    };

    CCritSec lock_;
    HRESULT hr_ = S_OK;
    OutPin pin_;
};

// How the filter under test is wired: fed by the failing filter's PCM, or
// feeding a recorder from its output pin.
enum class Wiring { FedByFailing, FeedsRecorder };

struct Case {
    const char* name;
    const CLSID* clsid;
    const wchar_t* pin;
    Wiring wiring;
    bool fileSink;    // takes a target through IFileSinkFilter
    bool fileSource;  // plays a file through IFileSourceFilter
};

const Case kCases[] = {
    {"KorvellSinkFilter", &CLSID_KorvellSinkFilter, L"Input", Wiring::FedByFailing, true, false},
    {"WavDest", &CLSID_WavDest, L"In", Wiring::FedByFailing, true, false},
    {"UScreenCapture", &kScreenClsid, L"Capture", Wiring::FeedsRecorder, false, false},
    {"KorvellAudioCapture", &kAudioCaptureClsid, L"Capture", Wiring::FeedsRecorder, false, false},
    {"KorvellTestFileSource", &CLSID_KorvellTestFileSource, L"Output", Wiring::FeedsRecorder, false, true},
};

FILTER_STATE StateOf(IBaseFilter* filter) {
    FILTER_STATE state = State_Stopped;
    EXPECT_EQ(S_OK, filter->GetState(0, &state));
    return state;
}

DWORD WINAPI ReleaseOnThread(void* graph) {
    // The graph was made in the multithreaded apartment; so is this thread.
    if (FAILED(CoInitializeEx(nullptr, COINIT_MULTITHREADED))) return 1;
    static_cast<IUnknown*>(graph)->Release();
    CoUninitialize();
    return 0;
}

class FailedRun : public ::testing::TestWithParam<Case> {
protected:
    void SetUp() override {
        ASSERT_TRUE(SUCCEEDED(CoInitializeEx(nullptr, COINIT_MULTITHREADED)));
        folder_ = MakeTempFolder();
        ASSERT_EQ(S_OK, CoCreateInstance(CLSID_FilterGraph, nullptr, CLSCTX_INPROC_SERVER, IID_IGraphBuilder,
                                         graph_.PutVoid()));
        ASSERT_EQ(S_OK, graph_->QueryInterface(IID_IMediaControl, control_.PutVoid()));
        const Case& c = GetParam();
        ASSERT_EQ(S_OK, CoCreateInstance(*c.clsid, nullptr, CLSCTX_INPROC_SERVER, IID_IBaseFilter, filter_.PutVoid()))
            << c.name << " not registered";
        failing_ = new FailingFilter;
        failing_->NonDelegatingAddRef();
        recorder_ = new testfilters::RecorderFilter;
        recorder_->NonDelegatingAddRef();
        if (c.fileSink) {
            com::ComPtr<IFileSinkFilter> sink;
            ASSERT_EQ(S_OK, filter_->QueryInterface(IID_IFileSinkFilter, sink.PutVoid()));
            ASSERT_EQ(S_OK, sink->SetFileName((folder_ + L"\\target.bin").c_str(), nullptr));
        }
        if (c.fileSource) {
            const std::wstring input = folder_ + L"\\input.bin";
            ASSERT_TRUE(WriteFileBytes(input, graphtest::PatternBytes(1 << 20, 7)));
            com::ComPtr<IFileSourceFilter> source;
            ASSERT_EQ(S_OK, filter_->QueryInterface(IID_IFileSourceFilter, source.PutVoid()));
            ASSERT_EQ(S_OK, source->Load(input.c_str(), nullptr));
            com::ComPtr<ITestSourceControl> pacing;
            ASSERT_EQ(S_OK, filter_->QueryInterface(IID_ITestSourceControl, pacing.PutVoid()));
            ASSERT_EQ(S_OK, pacing->SetPacing(4096, 50));
        }
        ASSERT_EQ(S_OK, graph_->AddFilter(filter_.Get(), L"Under test"));
        ASSERT_EQ(S_OK, graph_->AddFilter(failing_, L"Failing"));
        ASSERT_EQ(S_OK, graph_->AddFilter(recorder_, L"Recorder"));
        const PIN_DIRECTION dir = c.wiring == Wiring::FedByFailing ? PINDIR_INPUT : PINDIR_OUTPUT;
        ASSERT_EQ(S_OK, FindPinByName(filter_.Get(), dir, c.pin, pin_.Put()));
        if (c.wiring == Wiring::FedByFailing)
            ASSERT_EQ(S_OK, graph_->ConnectDirect(failing_->Pin(), pin_.Get(), nullptr));
        else
            ASSERT_EQ(S_OK, graph_->ConnectDirect(pin_.Get(), &recorder_->Pin(), nullptr));
    }
    void TearDown() override {
        pin_.Reset();
        control_.Reset();
        filter_.Reset();
        if (graph_) ReleaseWithin(kReleaseTimeoutMs);
        if (recorder_) recorder_->NonDelegatingRelease();
        if (failing_) failing_->NonDelegatingRelease();
        RemoveTree(folder_);
        CoUninitialize();
    }

    // Runs the graph, which fails, and checks that it left the filter under
    // test paused: the state the rest of the test starts from.
    void RunAndFail() {
        EXPECT_TRUE(FAILED(control_->Run()));
        ASSERT_EQ(State_Paused, StateOf(filter_.Get())) << "the failed Run left it paused";
    }

    // Releases the graph on a thread of its own: a graph that cannot take a
    // filter apart retries forever. False when it did not finish in time.
    bool ReleaseWithin(DWORD ms) {
        IGraphBuilder* graph = graph_.Detach();
        HANDLE thread = CreateThread(nullptr, 0, ReleaseOnThread, graph, 0, nullptr);
        if (!thread) {
            ADD_FAILURE() << "CreateThread: " << GetLastError();
            graph->Release();
            return true;
        }
        const bool done = WaitForSingleObject(thread, ms) == WAIT_OBJECT_0;
        // A spinning release never ends: give up on it (and its thread).
        CloseHandle(thread);
        return done;
    }

    std::wstring folder_;
    com::ComPtr<IGraphBuilder> graph_;
    com::ComPtr<IMediaControl> control_;
    com::ComPtr<IBaseFilter> filter_;
    com::ComPtr<IPin> pin_;
    FailingFilter* failing_ = nullptr;
    testfilters::RecorderFilter* recorder_ = nullptr;
};

TEST_P(FailedRun, AnExplicitStopStopsTheFilterAndFreesItsPins) {
    RunAndFail();
    EXPECT_EQ(S_OK, filter_->Stop());
    EXPECT_EQ(State_Stopped, StateOf(filter_.Get()));
    EXPECT_EQ(S_OK, failing_->Stop());
    EXPECT_EQ(S_OK, recorder_->Stop());
    EXPECT_EQ(S_OK, pin_->Disconnect());
    EXPECT_EQ(S_OK, filter_->Stop()) << "a second Stop is harmless";
    EXPECT_TRUE(ReleaseWithin(kReleaseTimeoutMs)) << "the graph's release spun";
}

TEST_P(FailedRun, AFileWriterLetsGoOfItsInputUnstopped) {
    const Case& c = GetParam();
    if (!c.fileSink) GTEST_SKIP() << "not a file writer";
    RunAndFail();
    EXPECT_EQ(S_OK, pin_->Disconnect()) << "paused by a failed Run, never run";
    EXPECT_EQ(State_Stopped, StateOf(filter_.Get())) << "it stopped itself to let go";
    // The target is closed: it can be opened for writing again.
    HANDLE file = CreateFileW((folder_ + L"\\target.bin").c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    EXPECT_NE(INVALID_HANDLE_VALUE, file) << GetLastError();
    if (file != INVALID_HANDLE_VALUE) CloseHandle(file);
}

TEST_P(FailedRun, AGraphWithAFileWriterIsReleasedWithoutAStop) {
    const Case& c = GetParam();
    if (!c.fileSink) GTEST_SKIP() << "not a file writer";
    RunAndFail();
    pin_.Reset();
    control_.Reset();
    filter_.Reset();
    EXPECT_TRUE(ReleaseWithin(kReleaseTimeoutMs)) << "the graph's release spun on the writer's pin";
}

TEST_P(FailedRun, ARunningFileWriterStillRefusesToDisconnect) {
    const Case& c = GetParam();
    if (!c.fileSink) GTEST_SKIP() << "not a file writer";
    // Run it alone, as a graph would after a Pause that succeeded.
    ASSERT_EQ(S_OK, filter_->Pause());
    ASSERT_EQ(S_OK, filter_->Run(0));
    EXPECT_EQ(VFW_E_NOT_STOPPED, pin_->Disconnect());
    ASSERT_EQ(S_OK, filter_->Pause());
    EXPECT_EQ(VFW_E_NOT_STOPPED, pin_->Disconnect()) << "paused after a run: the graph will stop it";
    EXPECT_EQ(S_OK, filter_->Stop());
    EXPECT_EQ(S_OK, pin_->Disconnect());
}

INSTANTIATE_TEST_SUITE_P(Companions, FailedRun, ::testing::ValuesIn(kCases),
                         [](const ::testing::TestParamInfo<Case>& i) { return std::string(i.param.name); });

}  // namespace
