// "Korvell Chronel" between the test source and the sink, in a graph of the
// platform's filter graph manager, found by friendly name as the recorder
// finds it.
#include <gtest/gtest.h>

#include <initguid.h>

#include "companions/testsource/TestSourceControl.h"
#include "tests/support/GraphHelpers.h"
#include "restamp/FilterStuff/ChronelIds.h"

#include <tlhelp32.h>

#include <algorithm>
#include <chrono>

using namespace graphtest;

namespace {

constexpr DWORD kEventTimeoutMs = 20000;

class ChronelGraph : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(SUCCEEDED(CoInitializeEx(nullptr, COINIT_MULTITHREADED)));
        folder_ = MakeTempFolder();
        ASSERT_FALSE(folder_.empty());
        ASSERT_EQ(S_OK, CoCreateInstance(CLSID_FilterGraph, nullptr, CLSCTX_INPROC_SERVER, IID_IGraphBuilder,
                                         graph_.PutVoid()));
        ASSERT_EQ(S_OK, graph_->QueryInterface(IID_IMediaControl, control_.PutVoid()));
        ASSERT_EQ(S_OK, graph_->QueryInterface(IID_IMediaEvent, events_.PutVoid()));
        ASSERT_EQ(S_OK, FindFilterByFriendlyName(kLegacyFilterCategory, L"Korvell Test File Source", source_.Put()));
        ASSERT_EQ(S_OK, FindFilterByFriendlyName(kLegacyFilterCategory, L"Korvell Chronel", chronel_.Put()))
            << "Chronel.ax not registered";
        ASSERT_EQ(S_OK, FindFilterByFriendlyName(kLegacyFilterCategory, L"Korvell Sink Filter", sink_.Put()));
        ASSERT_EQ(S_OK, graph_->AddFilter(source_.Get(), L"Source"));
        ASSERT_EQ(S_OK, graph_->AddFilter(chronel_.Get(), L"MPEG Chronel"));
        ASSERT_EQ(S_OK, graph_->AddFilter(sink_.Get(), L"Korvell Sink Filter"));
        ASSERT_EQ(S_OK, source_->QueryInterface(IID_ITestSourceControl, pacing_.PutVoid()));
    }

    void TearDown() override {
        if (control_) control_->Stop();
        pacing_.Reset();
        sink_.Reset();
        chronel_.Reset();
        source_.Reset();
        events_.Reset();
        control_.Reset();
        graph_.Reset();
        RemoveTree(folder_);
        CoUninitialize();
    }

    void Connect(const std::wstring& source, const std::wstring& target, ULONG sampleBytes, ULONG delayMs = 0) {
        ASSERT_EQ(S_OK, pacing_->SetPacing(sampleBytes, delayMs));
        ComPtr<IFileSourceFilter> load;
        ASSERT_EQ(S_OK, source_->QueryInterface(IID_IFileSourceFilter, load.PutVoid()));
        ASSERT_EQ(S_OK, load->Load(source.c_str(), nullptr));
        ComPtr<IFileSinkFilter> sinkFile;
        ASSERT_EQ(S_OK, sink_->QueryInterface(IID_IFileSinkFilter, sinkFile.PutVoid()));
        ASSERT_EQ(S_OK, sinkFile->SetFileName(target.c_str(), nullptr));
        ComPtr<IPin> srcOut, in, out, sinkIn;
        ASSERT_EQ(S_OK, FindPinByName(source_.Get(), PINDIR_OUTPUT, L"Output", srcOut.Put()));
        ASSERT_EQ(S_OK, FindPinByName(chronel_.Get(), PINDIR_INPUT, L"Input", in.Put()));
        ASSERT_EQ(S_OK, FindPinByName(chronel_.Get(), PINDIR_OUTPUT, L"Output", out.Put()));
        ASSERT_EQ(S_OK, FindPinByName(sink_.Get(), PINDIR_INPUT, L"Input", sinkIn.Put()));
        // As the recorder connects: directly, with no media type.
        ASSERT_EQ(S_OK, graph_->ConnectDirect(srcOut.Get(), in.Get(), nullptr));
        ASSERT_EQ(S_OK, graph_->ConnectDirect(out.Get(), sinkIn.Get(), nullptr));
    }

    std::wstring Path(const wchar_t* name) const { return folder_ + L"\\" + name; }

    std::wstring folder_;
    ComPtr<IGraphBuilder> graph_;
    ComPtr<IMediaControl> control_;
    ComPtr<IMediaEvent> events_;
    ComPtr<IBaseFilter> source_, chronel_, sink_;
    ComPtr<ITestSourceControl> pacing_;
};

struct CopyCase {
    size_t bytes;
    ULONG sampleBytes;
};

class ChronelCopy : public ChronelGraph, public ::testing::WithParamInterface<CopyCase> {};

// Every byte passes, the last partial chunk included.
TEST_P(ChronelCopy, OutputIsTheInputByteForByte) {
    const CopyCase c = GetParam();
    const auto content = PatternBytes(c.bytes, static_cast<unsigned>(c.bytes + 11));
    const std::wstring source = Path(L"in.mpg"), target = Path(L"out.mpg");
    ASSERT_TRUE(WriteFileBytes(source, content));
    Connect(source, target, c.sampleBytes);
    ASSERT_TRUE(SUCCEEDED(control_->Run()));
    LONG_PTR result = E_FAIL;
    ASSERT_EQ(EC_COMPLETE, WaitForEvent(events_.Get(), {EC_COMPLETE, EC_ERRORABORT}, kEventTimeoutMs, &result));
    EXPECT_EQ(S_OK, control_->Stop());
    std::vector<unsigned char> written;
    ASSERT_TRUE(ReadFileBytes(target, &written));
    EXPECT_EQ(content.size(), written.size());
    EXPECT_TRUE(written == content);
}

INSTANTIATE_TEST_SUITE_P(Sizes, ChronelCopy,
                         ::testing::Values(CopyCase{10123, 600},      // carried bytes join the next sample
                                           CopyCase{2500 * 7, 2500},  // several chunks per sample
                                           CopyCase{999, 0},          // never one whole chunk
                                           CopyCase{1 << 20, 65536},  // the ring wraps
                                           CopyCase{500 * 1000, 1000}));

// Stop while data flows returns promptly; what reached the file is a prefix.
TEST_F(ChronelGraph, StopDuringARunIsPromptAndLosesNothingWritten) {
    const auto content = PatternBytes(4 << 20, 5);
    const std::wstring source = Path(L"in.mpg"), target = Path(L"out.mpg");
    ASSERT_TRUE(WriteFileBytes(source, content));
    Connect(source, target, 4096, 2);
    ASSERT_TRUE(SUCCEEDED(control_->Run()));
    Sleep(300);
    auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(S_OK, control_->Stop());
    auto took = std::chrono::steady_clock::now() - start;
    EXPECT_LT(took, std::chrono::seconds(5));
    std::vector<unsigned char> written;
    ASSERT_TRUE(ReadFileBytes(target, &written));
    EXPECT_GT(written.size(), 0u);
    ASSERT_LE(written.size(), content.size());
    EXPECT_TRUE(std::equal(written.begin(), written.end(), content.begin()));
}

// The filter's own interfaces answer as a host expects.
TEST_F(ChronelGraph, StreamSelectAndParserSettings) {
    ComPtr<IAMStreamSelect> select;
    ASSERT_EQ(S_OK, chronel_->QueryInterface(IID_IAMStreamSelect, select.PutVoid()));
    DWORD count = 0;
    ASSERT_EQ(S_OK, select->Count(&count));
    EXPECT_EQ(1u, count);
    EXPECT_EQ(S_FALSE, select->Info(1, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr));
    EXPECT_EQ(S_FALSE, select->Enable(1, 0));
    EXPECT_EQ(S_OK, select->Info(0, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr));
    WCHAR* name = nullptr;
    DWORD flags = 0;
    ASSERT_EQ(S_OK, select->Info(0, nullptr, &flags, nullptr, nullptr, &name, nullptr, nullptr));
    EXPECT_STREQ(L"Output", name);
    EXPECT_EQ(static_cast<DWORD>(AMSTREAMSELECTINFO_ENABLED), flags);
    CoTaskMemFree(name);

    ComPtr<IVexoParserSettings> settings;
    ASSERT_EQ(S_OK, chronel_->QueryInterface(IID_IVexoParserSettings, settings.PutVoid()));
    LPWSTR format = nullptr;
    int context = 0;
    EXPECT_EQ(E_POINTER, settings->GetFormatName(&format, nullptr));
    EXPECT_EQ(E_POINTER, settings->GetFormatName(nullptr, &context));
    ASSERT_EQ(S_OK, settings->GetFormatName(&format, &context));
    EXPECT_STREQ(L"Not Initialized", format);
    CoTaskMemFree(format);

    ComPtr<IUnknown> none;
    EXPECT_EQ(E_NOINTERFACE, chronel_->QueryInterface(IID_IFileSinkFilter, none.PutVoid()));
    EXPECT_FALSE(none);
}

// A caller-owned block of IAMStreamSelect::Info, freed as DeleteMediaType does.
void FreeInfoType(AM_MEDIA_TYPE* mt) {
    if (mt->cbFormat) CoTaskMemFree(mt->pbFormat);
    if (mt->pUnk) mt->pUnk->Release();
    CoTaskMemFree(mt);
}

// Every out-parameter comes back set, whatever the caller left in it.
TEST_F(ChronelGraph, StreamInfoSetsEveryOutParameter) {
    ComPtr<IAMStreamSelect> select;
    ASSERT_EQ(S_OK, chronel_->QueryInterface(IID_IAMStreamSelect, select.PutVoid()));
    IUnknown* const kJunk = reinterpret_cast<IUnknown*>(static_cast<uintptr_t>(0x10));
    AM_MEDIA_TYPE* mt = reinterpret_cast<AM_MEDIA_TYPE*>(kJunk);
    DWORD flags = 0, group = 77;
    LCID lcid = 0x409;
    WCHAR* name = nullptr;
    IUnknown* object = nullptr;
    IUnknown* unk = kJunk;
    ASSERT_EQ(S_OK, select->Info(0, &mt, &flags, &lcid, &group, &name, &object, &unk));
    ASSERT_NE(reinterpret_cast<AM_MEDIA_TYPE*>(kJunk), mt) << "media type left as it was";
    ASSERT_NE(nullptr, mt);
    EXPECT_TRUE(IsEqualGUID(MEDIATYPE_Stream, mt->majortype));
    FreeInfoType(mt);
    EXPECT_EQ(0u, lcid);
    EXPECT_EQ(0u, group);
    EXPECT_EQ(nullptr, unk);
    ASSERT_NE(nullptr, object);
    ComPtr<IPin> pin;
    EXPECT_EQ(S_OK, object->QueryInterface(IID_IPin, pin.PutVoid()));
    object->Release();
    CoTaskMemFree(name);

    // Beyond the count nothing is handed out, and nothing is left dangling.
    mt = reinterpret_cast<AM_MEDIA_TYPE*>(kJunk);
    name = reinterpret_cast<WCHAR*>(kJunk);
    object = unk = kJunk;
    EXPECT_EQ(S_FALSE, select->Info(1, &mt, &flags, &lcid, &group, &name, &object, &unk));
    EXPECT_EQ(nullptr, mt);
    EXPECT_EQ(nullptr, name);
    EXPECT_EQ(nullptr, object);
    EXPECT_EQ(nullptr, unk);
}

// A graph stopped with no end of stream (a recorder's Stop) still gets every
// byte the filter took in: the carried part of the last chunk and the queue.
TEST_F(ChronelGraph, StopWithoutEndOfStreamWritesTheBytesHeld) {
    constexpr ULONG kSample = 2345;  // leaves a part chunk carried after most samples
    constexpr ULONG kBeforeStop = 41;
    const auto content = PatternBytes(kSample * 400, 17);
    const std::wstring source = Path(L"in.mpg"), target = Path(L"out.mpg");
    ASSERT_TRUE(WriteFileBytes(source, content));
    Connect(source, target, kSample, 5);
    ASSERT_TRUE(SUCCEEDED(control_->Run()));
    ULONG delivered = 0;
    const DWORD start = GetTickCount();
    while (delivered < kBeforeStop && GetTickCount() - start < kEventTimeoutMs) {
        Sleep(10);
        ASSERT_EQ(S_OK, pacing_->GetDelivered(&delivered));
    }
    ASSERT_GE(delivered, kBeforeStop);
    // The source parks after its next sample; stop while it waits.
    ASSERT_EQ(S_OK, pacing_->SetPacing(kSample, 4000));
    Sleep(500);
    ASSERT_EQ(S_OK, pacing_->GetDelivered(&delivered));
    EXPECT_EQ(S_OK, control_->Stop());
    std::vector<unsigned char> written;
    ASSERT_TRUE(ReadFileBytes(target, &written));
    EXPECT_EQ(size_t(delivered) * kSample, written.size());
    ASSERT_LE(written.size(), content.size());
    EXPECT_TRUE(std::equal(written.begin(), written.end(), content.begin()));
}

// Threads of this process now.
int ThreadCount() {
    const HANDLE snap = CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0);
    if (snap == INVALID_HANDLE_VALUE) return -1;
    THREADENTRY32 t = {};
    t.dwSize = sizeof t;
    int n = 0;
    for (BOOL more = Thread32First(snap, &t); more; more = Thread32Next(snap, &t))
        n += t.th32OwnerProcessID == GetCurrentProcessId() ? 1 : 0;
    CloseHandle(snap);
    return n;
}

// Each filter keeps a clock of its own (with the clock's advise thread) for
// its lifetime and hands it to nobody: the graph must not take the filter for
// a clock, and filters made and released leave no thread behind.
TEST_F(ChronelGraph, OwnClockIsNeitherOfferedNorLeaked) {
    ComPtr<IUnknown> clock;
    EXPECT_EQ(E_NOINTERFACE, chronel_->QueryInterface(IID_IReferenceClock, clock.PutVoid()));
    EXPECT_FALSE(clock);

    constexpr int kFilters = 16;
    const int before = ThreadCount();
    ASSERT_GT(before, 0);
    std::vector<IBaseFilter*> made;
    for (int i = 0; i < kFilters; ++i) {
        IBaseFilter* f = nullptr;
        ASSERT_EQ(S_OK, CoCreateInstance(CLSID_KorvellChronel, nullptr, CLSCTX_INPROC_SERVER, IID_IBaseFilter,
                                         reinterpret_cast<void**>(&f)));
        made.push_back(f);
    }
    EXPECT_GE(ThreadCount(), before + kFilters) << "a clock per filter";
    for (IBaseFilter* f : made) EXPECT_EQ(0u, f->Release());
    EXPECT_LE(ThreadCount(), before + 2) << "threads left by released filters";
}

}  // namespace
