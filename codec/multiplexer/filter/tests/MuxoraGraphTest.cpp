// "Korvell MPEG Muxteron" in graphs of the platform's filter graph manager:
// pins on demand, the structure rules of its parameters, program and
// transport streams written by "Korvell Sink Filter" (read afterwards by an
// independent demuxer), and Stop while data flows or downstream holds on.
#include <gtest/gtest.h>

#include "tests/support/EsSource.h"
#include "tests/support/TestFilters.h"

#include <initguid.h>

#include "codec/paramkit/ParamInterfaces.h"
#include "tests/support/GraphHelpers.h"

#include <dvdmedia.h>

#include <chrono>
#include <string>
#include <vector>

using namespace graphtest;
using namespace testfilters;

namespace {

const GUID kOutput = {0x6E7564E3, 0x05FA, 0x417A, {0xAA, 0x8E, 0x50, 0xE4, 0x74, 0x53, 0x7E, 0xC3}};
const GUID kCompatibility = {0x6165514A, 0xBF3D, 0x40B3, {0xBB, 0x2C, 0xD9, 0x7B, 0xA3, 0x44, 0x85, 0x0A}};
const GUID kDmb = {0x200FF445, 0xB535, 0x4A71, {0xA2, 0x84, 0x8B, 0x1E, 0x38, 0xEE, 0x7D, 0x3C}};
const GUID kMuxerTime = {0xA32C0F2B, 0x37FE, 0x4417, {0xB4, 0x69, 0x34, 0x9C, 0x3C, 0x27, 0x1E, 0x88}};
const GUID kRealOutputBitrate = {0x762F0204, 0xDB00, 0x44E4, {0x99, 0x28, 0xEF, 0x78, 0x28, 0xDB, 0x9E, 0x5F}};
const GUID kUsePadding = {0x218C3E56, 0x54FC, 0x43FE, {0x87, 0xAC, 0x39, 0xD3, 0xEE, 0x2A, 0xB3, 0xBB}};
const GUID kAddProgram = {0x1C10A3F8, 0x98AA, 0x45A7, {0x83, 0x32, 0x3E, 0x82, 0x64, 0x0C, 0x64, 0xAA}};
const GUID kRemoveProgram = {0x06250D30, 0xF7D6, 0x4F5C, {0xA4, 0xB4, 0x36, 0x17, 0x0F, 0x3F, 0xE5, 0x52}};
const GUID kStreamType = {0x1811ABAA, 0xF568, 0x4016, {0xA7, 0x28, 0x0A, 0x9B, 0x8E, 0x77, 0x99, 0xAE}};
const GUID kPesPacketSize = {0x769E9811, 0x5D67, 0x472A, {0x88, 0x46, 0x95, 0xB3, 0x55, 0xA6, 0x06, 0xED}};
const GUID kInputBufferSize = {0xA4FE0D19, 0x6AB8, 0x4367, {0x81, 0x24, 0x07, 0xD4, 0x5B, 0x13, 0x84, 0xDA}};
const GUID kStreamId = {0x4F382B24, 0x2E36, 0x43D7, {0xAF, 0xF3, 0x04, 0x04, 0x7B, 0x0C, 0x2F, 0x87}};
const GUID kMpeg2Program = {0xE06D8022, 0xDB46, 0x11CF, {0xB4, 0xD1, 0x00, 0x80, 0x5F, 0x6C, 0xBB, 0xEA}};
const GUID kMpeg2Transport = {0xE06D8023, 0xDB46, 0x11CF, {0xB4, 0xD1, 0x00, 0x80, 0x5F, 0x6C, 0xBB, 0xEA}};
const GUID kAnnouncedBitrate = {0xD2BF1AF3, 0x2AA6, 0x47A9, {0xB9, 0x83, 0xB5, 0x28, 0xE0, 0x42, 0xAA, 0x17}};
const GUID kFrequency = {0x9A49DB34, 0x8EDB, 0x4358, {0x9C, 0x94, 0xCC, 0xE4, 0x47, 0x95, 0x4E, 0xF8}};
const GUID kAnnouncedFrameRate = {0x2B50384B, 0x03C0, 0x4576, {0xB2, 0x8A, 0x85, 0xB0, 0xF9, 0x6A, 0x9D, 0xE2}};
const GUID kMpeg2VideoSubtype = {0xE06D8026, 0xDB46, 0x11CF, {0xB4, 0xD1, 0x00, 0x80, 0x5F, 0x6C, 0xBB, 0xEA}};
const GUID kH264Subtype = {0x8D2D71CB, 0x243F, 0x45E3, {0xB2, 0xD8, 0x5F, 0xD7, 0x96, 0x7E, 0xC0, 0x9B}};
const GUID kEnumPrograms = {0x197745C4, 0xA403, 0x44DE, {0x89, 0xC3, 0x96, 0x9B, 0x12, 0x79, 0x01, 0xF3}};
const GUID kAssignProgram = {0xF3A8774E, 0x58F3, 0x44E5, {0x94, 0x0D, 0x84, 0x21, 0x55, 0x35, 0x3B, 0xAB}};
const GUID kProgramId = {0xF21C447B, 0x3870, 0x4FF1, {0xB9, 0x7E, 0x61, 0x54, 0x06, 0x7F, 0xCC, 0xE8}};
const GUID kProgramNumber = {0xBFB26B95, 0xAC4A, 0x4D48, {0x8F, 0x2F, 0x7D, 0xF8, 0xD0, 0x3C, 0x67, 0x3F}};
const GUID kPcrPid = {0xC54AFA11, 0x3172, 0x42A6, {0xB9, 0x2F, 0xCE, 0xAC, 0x92, 0xAB, 0x3D, 0x12}};
const GUID kEnumInputs = {0x8DB05E7F, 0x3AE4, 0x4738, {0xAD, 0xB2, 0x13, 0x41, 0x75, 0xDD, 0x23, 0x8C}};
const GUID kPcrInterval = {0x4F6F3CCD, 0x989A, 0x4318, {0xB9, 0xF7, 0xFC, 0x60, 0x5C, 0x7E, 0xDF, 0xED}};
const GUID kInitialDataWait = {0x002D6EC9, 0x8E71, 0x4B4C, {0xAA, 0x75, 0x29, 0x7C, 0x94, 0xED, 0xF9, 0xF6}};
const GUID kUserPcrPid = {0x6B914A19, 0x555D, 0x42C2, {0x86, 0x38, 0x3E, 0xF7, 0x6D, 0x34, 0x43, 0x6A}};
const GUID kStreamPesId = {0x474C78F4, 0x2DC9, 0x4CE2, {0x9C, 0xA9, 0x16, 0x1E, 0x0C, 0x93, 0xB9, 0x88}};
const GUID kRealBitrate = {0xD59D182B, 0xA954, 0x4759, {0x81, 0xE7, 0x73, 0x11, 0xCC, 0x58, 0x27, 0x1B}};
const GUID kCurrentPinPts = {0xE808C80B, 0x4298, 0x4DEA, {0xB6, 0x4C, 0x48, 0x84, 0xBB, 0xDF, 0xFD, 0x36}};
const GUID kEsInfoLength = {0xBA0B67A0, 0x6D9A, 0x4AF8, {0xAC, 0xB3, 0x3A, 0x18, 0x47, 0x68, 0x1F, 0xAD}};
const GUID kEsInfoPointer = {0xC8F37A44, 0x1131, 0x4D21, {0xAE, 0xDC, 0x12, 0x5C, 0x9E, 0x83, 0x4B, 0x47}};
const GUID kMediaTypeInternal = {0x05D41460, 0x9666, 0x4EBC, {0x91, 0x81, 0xFC, 0xC4, 0xDC, 0x9B, 0x90, 0xD2}};
const GUID kFormatMpeg2Video = {0xE06D80E3, 0xDB46, 0x11CF, {0xB4, 0xD1, 0x00, 0x80, 0x5F, 0x6C, 0xBB, 0xEA}};
const GUID kRequiredBitrate = {0x94E294E0, 0x8B4C, 0x40DF, {0xB4, 0x29, 0xB4, 0x3B, 0x3F, 0x2B, 0xE4, 0xE7}};
const GUID kStreamSubId = {0x5CAED249, 0x7594, 0x410E, {0x8E, 0x5C, 0x2F, 0xA5, 0xD9, 0x73, 0xBE, 0x6C}};
constexpr long kEcMuxOverload = EC_USER + 0x4D58;  // the multiplexer's own event
const CLSID kHoldingClsid = {0x3F1B7A52, 0x6C0D, 0x4B8E, {0x9D, 0x21, 0x5A, 0x7E, 0x30, 0x44, 0x18, 0xC6}};

constexpr REFERENCE_TIME kFrame = 400000;

GUID Fourcc(DWORD code) {
    GUID g = {0x00000000, 0x0000, 0x0010, {0x80, 0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71}};
    g.Data1 = code;
    return g;
}

CMediaType VideoOf(const GUID& subtype, LONG w, LONG h, DWORD bitrate, REFERENCE_TIME frame, DWORD compression = 0) {
    CMediaType mt = MpegVideoType(w, h, frame, bitrate);
    mt.SetSubtype(&subtype);
    reinterpret_cast<VIDEOINFOHEADER*>(mt.Format())->bmiHeader.biCompression = compression;
    return mt;
}

CMediaType AudioOf(WORD tag, DWORD rate, WORD channels, DWORD bytesPerSecond) {
    CMediaType mt = MpegAudioType(rate, channels, bytesPerSecond * 8);
    const GUID sub = Fourcc(tag);
    mt.SetSubtype(&sub);
    auto* wfx = reinterpret_cast<WAVEFORMATEX*>(mt.Format());
    wfx->wFormatTag = tag;
    wfx->wBitsPerSample = tag == 1 ? 16 : 0;
    return mt;
}

CMediaType PcmOf(DWORD rate, WORD channels, WORD bits) {
    CMediaType mt = AudioOf(1, rate, channels, rate * channels * bits / 8);
    auto* wfx = reinterpret_cast<WAVEFORMATEX*>(mt.Format());
    wfx->wBitsPerSample = bits;
    wfx->nBlockAlign = static_cast<WORD>(channels * bits / 8);
    return mt;
}

long long MsSince(std::chrono::steady_clock::time_point t0) {
    return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - t0).count();
}

std::wstring Widen(const char* s) {
    return std::wstring(s, s + strlen(s));
}
std::wstring InPath(const wchar_t* name) {
    return Widen(KORVELL_E2E_OUT) + L"/" + name;
}

VARIANT Long(long v) {
    VARIANT x;
    VariantInit(&x);
    x.vt = VT_I4;
    x.lVal = v;
    return x;
}

long long ReadNumber(IModuleConfig* config, const GUID& id) {
    VARIANT v;
    VariantInit(&v);
    if (FAILED(config->GetValue(&id, &v))) return -12345;
    VARIANT w;
    VariantInit(&w);
    VariantChangeType(&w, &v, 0, VT_I8);
    VariantClear(&v);
    return w.llVal;
}

std::vector<BYTE> Concatenated(const std::vector<SeenSample>& seen) {
    std::vector<BYTE> all;
    for (const SeenSample& s : seen) all.insert(all.end(), s.bytes.begin(), s.bytes.end());
    return all;
}

// The first program map of a transport stream, as an independent reader sees it.
struct PmtView {
    int pcrPid = -1;
    struct Entry {
        int type, pid;
        std::vector<BYTE> info;
    };
    std::vector<Entry> entries;
};

// The payload of the first packet of the PID that starts a section, after its pointer field.
std::vector<BYTE> FirstSection(const std::vector<BYTE>& ts, int pid) {
    for (size_t p = 0; p + 188 <= ts.size(); p += 188) {
        const BYTE* k = &ts[p];
        if (k[0] != 0x47 || ((k[1] & 0x1F) << 8 | k[2]) != pid || !(k[1] & 0x40) || !(k[3] & 0x10)) continue;
        size_t at = 4 + ((k[3] & 0x20) ? 1 + k[4] : 0);
        if (at >= 188) continue;
        at += 1 + k[at];
        if (at < 188) return std::vector<BYTE>(k + at, k + 188);
    }
    return {};
}

PmtView ReadPmt(const std::vector<BYTE>& ts) {
    PmtView view;
    const std::vector<BYTE> pat = FirstSection(ts, 0);
    if (pat.size() < 12) return view;
    const int pmtPid = (pat[10] & 0x1F) << 8 | pat[11];
    const std::vector<BYTE> pmt = FirstSection(ts, pmtPid);
    if (pmt.size() < 12) return view;
    const size_t end = std::min(pmt.size(), 3 + static_cast<size_t>((pmt[1] & 0x0F) << 8 | pmt[2]) - 4);
    view.pcrPid = (pmt[8] & 0x1F) << 8 | pmt[9];
    for (size_t at = 12 + ((pmt[10] & 0x0F) << 8 | pmt[11]); at + 5 <= end;) {
        PmtView::Entry e;
        e.type = pmt[at];
        e.pid = (pmt[at + 1] & 0x1F) << 8 | pmt[at + 2];
        const size_t n = (pmt[at + 3] & 0x0F) << 8 | pmt[at + 4];
        e.info.assign(pmt.begin() + static_cast<long>(at + 5),
                      pmt.begin() + static_cast<long>(std::min(end, at + 5 + n)));
        view.entries.push_back(e);
        at += 5 + n;
    }
    return view;
}

bool HasPcr(const BYTE* k) {
    return (k[3] & 0x20) && k[4] > 0 && (k[5] & 0x10);
}

// A renderer that keeps each sample until it is stopped or flushed: the
// multiplexer's delivery blocks while upstream keeps pushing.
class HoldingPin : public CBaseInputPin {
public:
    HoldingPin(CBaseFilter* f, CCritSec* lock, HRESULT* phr) : CBaseInputPin("holding", f, lock, phr, L"Input") {}
    HRESULT CheckMediaType(const CMediaType*) override { return S_OK; }
    STDMETHODIMP Receive(IMediaSample* s) override {
        HRESULT hr = CBaseInputPin::Receive(s);
        if (hr != S_OK) return hr;
        InterlockedIncrement(&received_);
        release_.Wait();
        return S_FALSE;
    }
    STDMETHODIMP BeginFlush() override {
        InterlockedIncrement(&flushes_);
        release_.Set();
        return CBaseInputPin::BeginFlush();
    }
    HRESULT Active() override {
        release_.Reset();
        return CBaseInputPin::Active();
    }
    HRESULT Inactive() override {
        release_.Set();
        return CBaseInputPin::Inactive();
    }
    LONG Received() const { return received_; }
    LONG Flushes() const { return flushes_; }

private:
    CAMEvent release_{TRUE};
    volatile LONG received_ = 0;
    volatile LONG flushes_ = 0;
};

class HoldingFilter : public CBaseFilter {
public:
    HoldingFilter() : CBaseFilter("holding renderer", nullptr, &lock_, kHoldingClsid), pin_(this, &lock_, &hr_) {}
    int GetPinCount() override { return 1; }
    CBasePin* GetPin(int n) override { return n == 0 ? &pin_ : nullptr; }
    HoldingPin& Pin() { return pin_; }

private:
    CCritSec lock_;
    HRESULT hr_ = S_OK;
    HoldingPin pin_;
};

const CLSID kPacedClsid = {0x8A41C2D7, 0x3E5B, 0x4F90, {0xB1, 0x6C, 0x27, 0xD8, 0x4E, 0x93, 0x05, 0xAF}};

// Pushes its units when their times come due, as a live source does, so a
// Stop arrives while the stream still flows and no end of stream came.
class PacedStream : public CSourceStream {
public:
    PacedStream(CSource* filter, HRESULT* phr, const CMediaType& type, std::vector<EsUnit> units)
        : CSourceStream("paced stream", phr, filter, L"Output"), type_(type), units_(std::move(units)) {}
    HRESULT GetMediaType(CMediaType* mt) override {
        *mt = type_;
        return S_OK;
    }
    HRESULT DecideBufferSize(IMemAllocator* alloc, ALLOCATOR_PROPERTIES* props) override {
        size_t largest = 1;
        for (const EsUnit& u : units_) largest = std::max(largest, u.bytes.size());
        props->cBuffers = 4;
        props->cbBuffer = static_cast<long>(largest);
        props->cbAlign = 1;
        ALLOCATOR_PROPERTIES actual = {};
        return alloc->SetProperties(props, &actual);
    }
    HRESULT OnThreadStartPlay() override {
        next_ = 0;
        start_ = std::chrono::steady_clock::now();
        return S_OK;
    }
    HRESULT FillBuffer(IMediaSample* sample) override {
        if (next_ >= units_.size()) return S_FALSE;
        const EsUnit& u = units_[next_++];
        if (u.start > 0) {
            const long long due = u.start / 10000 - MsSince(start_);
            if (due > 0) Sleep(static_cast<DWORD>(due));
        }
        BYTE* p = nullptr;
        HRESULT hr = sample->GetPointer(&p);
        if (FAILED(hr)) return hr;
        const size_t n = std::min(u.bytes.size(), static_cast<size_t>(sample->GetSize()));
        std::copy(u.bytes.begin(), u.bytes.begin() + static_cast<long>(n), p);
        sample->SetActualDataLength(static_cast<long>(n));
        REFERENCE_TIME start = u.start, stop = u.start + 1;
        sample->SetTime(&start, &stop);
        sample->SetSyncPoint(TRUE);
        return S_OK;
    }

private:
    CMediaType type_;
    std::vector<EsUnit> units_;
    size_t next_ = 0;
    std::chrono::steady_clock::time_point start_;
};

class PacedSource : public CSource {
public:
    PacedSource(const CMediaType& type, std::vector<EsUnit> units) : CSource("paced source", nullptr, kPacedClsid) {
        stream_ = new PacedStream(this, &hr_, type, std::move(units));
    }

private:
    HRESULT hr_ = S_OK;
    PacedStream* stream_;
};

class MuxGraph : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(SUCCEEDED(CoInitializeEx(nullptr, COINIT_MULTITHREADED)));
        ASSERT_EQ(S_OK, CoCreateInstance(CLSID_FilterGraph, nullptr, CLSCTX_INPROC_SERVER, IID_IGraphBuilder,
                                         graph_.PutVoid()));
        ASSERT_EQ(S_OK, graph_->QueryInterface(IID_IMediaControl, control_.PutVoid()));
        ASSERT_EQ(S_OK, graph_->QueryInterface(IID_IMediaEvent, events_.PutVoid()));
        ASSERT_EQ(S_OK, FindFilterByFriendlyName(kLegacyFilterCategory, L"Korvell MPEG Muxteron", mux_.Put()))
            << "Muxora.ax not registered";
        ASSERT_EQ(S_OK, graph_->AddFilter(mux_.Get(), L"Mux"));
        ASSERT_EQ(S_OK, mux_->QueryInterface(IID_IModuleConfig, config_.PutVoid()));
    }

    void TearDown() override {
        if (control_) control_->Stop();
        for (IUnknown* u : held_) u->Release();
        config_.Reset();
        events_.Reset();
        control_.Reset();
        mux_.Reset();
        graph_.Reset();
        for (CBaseFilter* f : owned_) f->NonDelegatingRelease();
        CoUninitialize();
    }

    // "Korvell Sink Filter" in the graph, writing a fresh file at target.
    void AddFileSink(const std::wstring& target, ComPtr<IBaseFilter>* sink) {
        ASSERT_EQ(S_OK, FindFilterByFriendlyName(kLegacyFilterCategory, L"Korvell Sink Filter", sink->Put()));
        ASSERT_EQ(S_OK, graph_->AddFilter(sink->Get(), L"Korvell Sink Filter"));
        ComPtr<IFileSinkFilter> file;
        ASSERT_EQ(S_OK, (*sink)->QueryInterface(IID_IFileSinkFilter, file.PutVoid()));
        DeleteFileW(target.c_str());
        ASSERT_EQ(S_OK, file->SetFileName(target.c_str(), nullptr));
    }

    template <class F>
    F* Own(F* f) {
        f->NonDelegatingAddRef();
        owned_.push_back(f);
        return f;
    }

    std::vector<BYTE> Load(const wchar_t* name) {
        std::vector<BYTE> bytes;
        EXPECT_TRUE(ReadFileBytes(InPath(name), &bytes)) << "no elementary stream; the fixture makes it";
        return bytes;
    }

    void ConnectSource(const CMediaType& type, std::vector<EsUnit> units, const wchar_t* pin) {
        auto* source = Own(new EsSourceFilter(type, std::move(units)));
        ASSERT_EQ(S_OK, graph_->AddFilter(source, pin));
        ComPtr<IPin> in;
        ASSERT_EQ(S_OK, FindPinByName(mux_.Get(), PINDIR_INPUT, pin, in.Put()));
        ASSERT_EQ(S_OK, graph_->ConnectDirect(source->GetPin(0), in.Get(), nullptr));
    }

    // The test streams: MPEG-2 video on "Input0", Layer II on "Input1"
    // (its frames without times when audioTimed is false).
    void ConnectStreams(bool audioTimed = true) {
        ConnectSource(MpegVideoType(352, 288, kFrame, 2000000), SplitMpegVideo(Load(L"video.m2v"), kFrame), L"Input0");
        std::vector<EsUnit> audio = SplitMpegAudio(Load(L"audio.mp2"));
        if (!audioTimed)
            for (EsUnit& u : audio) u.start = -1;
        ConnectSource(MpegAudioType(48000, 2, 192000), std::move(audio), L"Input1");
    }

    void ConnectOutputTo(IPin* in) {
        ComPtr<IPin> out;
        ASSERT_EQ(S_OK, FindPinByName(mux_.Get(), PINDIR_OUTPUT, L"Out", out.Put()));
        ASSERT_EQ(S_OK, graph_->ConnectDirect(out.Get(), in, nullptr));
    }

    // The pin's parameters; the reference is dropped at the end of the test.
    IModuleConfig* PinConfig(const wchar_t* name) {
        ComPtr<IPin> pin;
        IModuleConfig* c = nullptr;
        EXPECT_EQ(S_OK, FindPinByName(mux_.Get(), PINDIR_INPUT, name, pin.Put()));
        if (pin) {
            EXPECT_EQ(S_OK, pin->QueryInterface(IID_IModuleConfig, reinterpret_cast<void**>(&c)));
        }
        if (c) held_.push_back(c);
        return c;
    }

    HRESULT Set(const GUID& id, long v) {
        VARIANT x = Long(v);
        return config_->SetValue(&id, &x);
    }

    // Enumerates through a "next" identifier: programs of the muxer or inputs
    // of a program. Each call releases the item the variant brings in.
    std::vector<IModuleConfig*> Enumerate(IModuleConfig* owner, const GUID& id) {
        std::vector<IModuleConfig*> items;
        VARIANT v;
        VariantInit(&v);
        while (items.size() < 20 && SUCCEEDED(owner->GetValue(&id, &v))) {
            EXPECT_EQ(VT_UNKNOWN, v.vt);
            IModuleConfig* c = nullptr;
            v.punkVal->QueryInterface(IID_IModuleConfig, reinterpret_cast<void**>(&c));
            held_.push_back(c);
            items.push_back(c);
        }
        EXPECT_EQ(VT_EMPTY, v.vt) << "the variant after the last item";
        VariantClear(&v);
        return items;
    }

    IModuleConfig* AddProgram() {
        IUnknown* made = nullptr;
        VARIANT v;
        VariantInit(&v);
        v.vt = VT_BYREF | VT_UNKNOWN;
        v.ppunkVal = &made;
        EXPECT_EQ(S_OK, config_->SetValue(&kAddProgram, &v));
        if (made) held_.push_back(made);
        return static_cast<IModuleConfig*>(made);
    }

    std::vector<std::wstring> PinNames() {
        std::vector<std::wstring> names;
        ComPtr<IEnumPins> pins;
        mux_->EnumPins(pins.Put());
        IPin* p = nullptr;
        while (pins && pins->Next(1, &p, nullptr) == S_OK) {
            PIN_INFO info = {};
            p->QueryPinInfo(&info);
            names.push_back(info.achName);
            if (info.pFilter) info.pFilter->Release();
            p->Release();
        }
        return names;
    }

    ComPtr<IGraphBuilder> graph_;
    ComPtr<IMediaControl> control_;
    ComPtr<IMediaEvent> events_;
    ComPtr<IBaseFilter> mux_;
    ComPtr<IModuleConfig> config_;
    std::vector<CBaseFilter*> owned_;
    std::vector<IUnknown*> held_;
};

// The recorder connects "Input1" only after "Input0": the spare pin appears
// once the previous one connects, never earlier.
TEST_F(MuxGraph, SparePinAppearsOnlyAfterConnection) {
    EXPECT_EQ(PinNames(), (std::vector<std::wstring>{L"Out", L"Input0"}));
    ConnectSource(MpegVideoType(352, 288, kFrame, 0), {}, L"Input0");
    EXPECT_EQ(PinNames(), (std::vector<std::wstring>{L"Out", L"Input0", L"Input1"}));
    EXPECT_EQ(1, ReadNumber(PinConfig(L"Input0"), kStreamType));  // "MPEG-2 Video"
    EXPECT_EQ(0, ReadNumber(PinConfig(L"Input1"), kStreamType));
    ConnectSource(MpegAudioType(48000, 2, 192000), {}, L"Input1");
    EXPECT_EQ(PinNames(), (std::vector<std::wstring>{L"Out", L"Input0", L"Input1", L"Input2"}));
    EXPECT_EQ(7, ReadNumber(PinConfig(L"Input1"), kStreamType));  // "MPEG-1 Audio" (wave tag 0x50)
    // Each input gets its own PID, apart from the program's.
    const long long v = ReadNumber(PinConfig(L"Input0"), kStreamId);
    const long long a = ReadNumber(PinConfig(L"Input1"), kStreamId);
    EXPECT_NE(v, a);
    EXPECT_NE(1000, v);
    EXPECT_NE(1000, a);
    // A type is fixed while connected.
    VARIANT t = Long(2);
    EXPECT_EQ(E_FAIL, PinConfig(L"Input0")->SetValue(&kStreamType, &t));
}

TEST_F(MuxGraph, StructureRulesOfOutputCompatibilityAndDmb) {
    EXPECT_EQ(2, ReadNumber(config_.Get(), kOutput));
    EXPECT_EQ(E_FAIL, Set(kOutput, 3));  // only through IParamConfig
    EXPECT_EQ(E_FAIL, Set(kOutput, 0));
    EXPECT_EQ(E_FAIL, Set(kCompatibility, 1));  // DVD needs a program stream
    EXPECT_EQ(E_FAIL, Set(kDmb, 2));
    ConnectSource(MpegVideoType(352, 288, kFrame, 0), {}, L"Input0");
    ConnectSource(MpegAudioType(48000, 2, 192000), {}, L"Input1");
    EXPECT_EQ(S_FALSE, Set(kDmb, 1));  // MPEG-2 video is not DMB
    EXPECT_EQ(0, ReadNumber(config_.Get(), kDmb));

    // Structure changes take effect at SetValue; declining cannot undo them.
    ASSERT_EQ(S_OK, Set(kOutput, 1));
    EXPECT_EQ(S_OK, config_->DeclineChanges());
    EXPECT_EQ(1, ReadNumber(config_.Get(), kOutput));
    EXPECT_EQ(E_FAIL, Set(kAddProgram, 0));
    EXPECT_EQ(E_FAIL, Set(kRemoveProgram, 0));

    // 352x288 at 25 fps with 48 kHz audio fits DVD: every typed input gets 2028-byte packets.
    ASSERT_EQ(S_OK, Set(kCompatibility, 1));
    EXPECT_EQ(2028, ReadNumber(PinConfig(L"Input0"), kPesPacketSize));
    EXPECT_EQ(2028, ReadNumber(PinConfig(L"Input1"), kPesPacketSize));
    // Another packet size on an input leaves DVD.
    VARIANT size = Long(2048);
    EXPECT_TRUE(SUCCEEDED(PinConfig(L"Input0")->SetValue(&kPesPacketSize, &size)));
    EXPECT_EQ(0, ReadNumber(config_.Get(), kCompatibility));
    // SVCD wants 480x576: refused with a success code, nothing changes.
    EXPECT_EQ(S_FALSE, Set(kCompatibility, 2));
    EXPECT_EQ(0, ReadNumber(config_.Get(), kCompatibility));

    // Back to a transport stream: compatibility drops to None.
    ASSERT_EQ(S_OK, Set(kCompatibility, 1));
    ASSERT_EQ(S_OK, Set(kOutput, 2));
    EXPECT_EQ(0, ReadNumber(config_.Get(), kCompatibility));
}

TEST_F(MuxGraph, OutputTypeFollowsOutputAndIsFixedWhileRunning) {
    auto* recorder = Own(new RecorderFilter);
    ASSERT_EQ(S_OK, graph_->AddFilter(recorder, L"Recorder"));
    ConnectOutputTo(&recorder->Pin());
    ComPtr<IPin> out;
    ASSERT_EQ(S_OK, FindPinByName(mux_.Get(), PINDIR_OUTPUT, L"Out", out.Put()));
    AM_MEDIA_TYPE mt = {};
    ASSERT_EQ(S_OK, out->ConnectionMediaType(&mt));
    EXPECT_TRUE(mt.subtype == kMpeg2Transport);
    FreeMediaType(mt);

    // The output reconnects with the program-stream type.
    ASSERT_EQ(S_OK, Set(kOutput, 1));
    ASSERT_EQ(S_OK, out->ConnectionMediaType(&mt));
    EXPECT_TRUE(mt.subtype == kMpeg2Program);
    mt.subtype = kMpeg2Transport;
    EXPECT_NE(S_OK, out->QueryAccept(&mt));
    FreeMediaType(mt);

    ConnectSource(MpegVideoType(352, 288, kFrame, 0), {}, L"Input0");
    ASSERT_TRUE(SUCCEEDED(control_->Pause()));
    EXPECT_EQ(E_FAIL, Set(kOutput, 2));
    EXPECT_EQ(1, ReadNumber(config_.Get(), kOutput));
    // A disconnect while running is refused.
    ComPtr<IPin> in;
    ASSERT_EQ(S_OK, FindPinByName(mux_.Get(), PINDIR_INPUT, L"Input0", in.Put()));
    EXPECT_EQ(E_FAIL, in->Disconnect());
    EXPECT_EQ(S_OK, control_->Stop());
}

// Programs of a transport stream: numbers and PMT PIDs kept apart, inputs
// assigned, the PCR PID following the connected inputs, and a file with both
// programs; a program stream keeps only the first.
TEST_F(MuxGraph, ProgramsOfATransportStream) {
    std::vector<IModuleConfig*> programs = Enumerate(config_.Get(), kEnumPrograms);
    ASSERT_EQ(1u, programs.size());
    IModuleConfig* first = programs[0];
    IModuleConfig* second = AddProgram();
    ASSERT_NE(nullptr, second);
    EXPECT_EQ(2u, Enumerate(config_.Get(), kEnumPrograms).size());
    EXPECT_EQ(1, ReadNumber(first, kProgramNumber));
    EXPECT_EQ(2, ReadNumber(second, kProgramNumber));
    const long long firstPmt = ReadNumber(first, kProgramId);
    EXPECT_NE(firstPmt, ReadNumber(second, kProgramId));
    VARIANT pid = Long(static_cast<long>(firstPmt));
    EXPECT_EQ(E_FAIL, second->SetValue(&kProgramId, &pid));

    ComPtr<IBaseFilter> sink;
    const std::wstring target = InPath(L"muxora_two_programs.ts");
    ASSERT_NO_FATAL_FAILURE(AddFileSink(target, &sink));

    ConnectSource(MpegVideoType(352, 288, kFrame, 2000000), SplitMpegVideo(Load(L"video.m2v"), kFrame), L"Input0");
    VARIANT to;
    VariantInit(&to);
    to.vt = VT_UNKNOWN;
    to.punkVal = second;
    ASSERT_EQ(S_OK, PinConfig(L"Input1")->SetValue(&kAssignProgram, &to));
    ConnectSource(MpegAudioType(48000, 2, 192000), SplitMpegAudio(Load(L"audio.mp2")), L"Input1");
    const long long videoPid = ReadNumber(PinConfig(L"Input0"), kStreamId);
    const long long audioPid = ReadNumber(PinConfig(L"Input1"), kStreamId);
    EXPECT_EQ(videoPid, ReadNumber(first, kPcrPid));
    EXPECT_EQ(audioPid, ReadNumber(second, kPcrPid));
    EXPECT_EQ(1u, Enumerate(second, kEnumInputs).size());
    VARIANT other = Long(static_cast<long>(audioPid));
    EXPECT_EQ(E_FAIL, first->SetValue(&kPcrPid, &other));  // not an input of this program
    VARIANT victim;
    VariantInit(&victim);
    victim.vt = VT_UNKNOWN;
    victim.punkVal = second;
    EXPECT_EQ(E_FAIL, config_->SetValue(&kRemoveProgram, &victim));  // it has a connected input

    ComPtr<IPin> in;
    ASSERT_EQ(S_OK, FindPinByName(sink.Get(), PINDIR_INPUT, L"Input", in.Put()));
    ConnectOutputTo(in.Get());
    ASSERT_TRUE(SUCCEEDED(control_->Run()));
    LONG_PTR result = E_FAIL;
    EXPECT_EQ(EC_COMPLETE, WaitForEvent(events_.Get(), {EC_COMPLETE, EC_ERRORABORT}, 30000, &result));
    ASSERT_EQ(S_OK, control_->Stop());

    // A program stream has one program: the audio input moves to the first.
    ASSERT_EQ(S_OK, Set(kOutput, 1));
    programs = Enumerate(config_.Get(), kEnumPrograms);
    ASSERT_EQ(1u, programs.size());
    EXPECT_EQ(first, programs[0]);
    EXPECT_EQ(1, ReadNumber(first, kProgramNumber));
    EXPECT_EQ(3u, Enumerate(first, kEnumInputs).size());  // with the spare "Input2"
}

// The enumeration variant is in and out: each call releases the item it
// brings and hands out a reference of the caller's; past the last it comes
// back empty. A walk, whole or cut short, leaves every count as it was.
TEST_F(MuxGraph, EnumerationKeepsReferenceCountsBalanced) {
    ASSERT_NE(nullptr, AddProgram());
    ConnectSource(MpegVideoType(352, 288, kFrame, 0), {}, L"Input0");  // "Input1" appears
    const std::vector<IModuleConfig*> programs = Enumerate(config_.Get(), kEnumPrograms);
    ASSERT_EQ(2u, programs.size());
    const std::vector<IModuleConfig*> inputs = Enumerate(programs[0], kEnumInputs);
    ASSERT_EQ(2u, inputs.size());
    auto count = [](IUnknown* u) {
        u->AddRef();
        return u->Release();
    };
    const struct {
        const char* what;
        IModuleConfig* owner;
        GUID id;
        std::vector<IModuleConfig*> items;
    } walks[] = {{"programs", config_.Get(), kEnumPrograms, programs}, {"inputs", programs[0], kEnumInputs, inputs}};
    for (const auto& w : walks) {
        SCOPED_TRACE(w.what);
        std::vector<ULONG> before;
        for (IModuleConfig* item : w.items) before.push_back(count(item));
        VARIANT v;
        VariantInit(&v);
        size_t seen = 0;
        while (seen < 20 && SUCCEEDED(w.owner->GetValue(&w.id, &v))) ++seen;
        EXPECT_EQ(w.items.size(), seen);
        EXPECT_EQ(VT_EMPTY, v.vt) << "the variant after the last item";
        EXPECT_EQ(S_OK, VariantClear(&v));
        ASSERT_EQ(S_OK, w.owner->GetValue(&w.id, &v));  // cut short after the first
        EXPECT_EQ(S_OK, VariantClear(&v));
        for (size_t i = 0; i < w.items.size(); ++i) EXPECT_EQ(before[i], count(w.items[i])) << "item " << i;
    }
}

// "Stream Sub ID" shows what the program stream carries in private stream
// 1: AC-3 from 0x80 and LPCM from 0xA0, counted per type in input order;
// other types have none.
TEST_F(MuxGraph, StreamSubIdShowsThePrivateStreamSubStream) {
    ASSERT_EQ(S_OK, Set(kOutput, 1));
    const struct {
        const wchar_t* pin;
        CMediaType type;
        long subId;
    } cases[] = {
        {L"Input0", AudioOf(0x2000, 48000, 2, 0), 0x80},
        {L"Input1", PcmOf(48000, 2, 16), 0xA0},
        {L"Input2", AudioOf(0x2000, 48000, 2, 0), 0x81},
        {L"Input3", AudioOf(0x50, 48000, 2, 24000), 0},
    };
    for (const auto& c : cases) ConnectSource(c.type, {}, c.pin);
    for (const auto& c : cases) EXPECT_EQ(c.subId, ReadNumber(PinConfig(c.pin), kStreamSubId)) << c.subId;
}

// Save writes the muxer's, the programs' and the connected inputs' images;
// another instance loads them back.
TEST_F(MuxGraph, SaveAndLoadCarryParametersAndInputs) {
    ASSERT_EQ(S_OK, Set(kOutput, 1));
    ASSERT_EQ(S_OK, Set(kPcrInterval, 120));
    ASSERT_EQ(S_OK, config_->CommitChanges(nullptr));
    ConnectSource(MpegVideoType(352, 288, kFrame, 0), {}, L"Input0");
    IModuleConfig* pin = PinConfig(L"Input0");
    VARIANT size = Long(1500);
    ASSERT_TRUE(SUCCEEDED(pin->SetValue(&kPesPacketSize, &size)));
    ASSERT_EQ(S_OK, pin->CommitChanges(nullptr));

    ComPtr<IStream> stream;
    ASSERT_EQ(S_OK, CreateStreamOnHGlobal(nullptr, TRUE, stream.Put()));
    ComPtr<IPersistStream> persist;
    ASSERT_EQ(S_OK, mux_->QueryInterface(IID_IPersistStream, persist.PutVoid()));
    ASSERT_EQ(S_OK, persist->Save(stream.Get(), TRUE));

    ComPtr<IBaseFilter> copy;
    ASSERT_EQ(S_OK, FindFilterByFriendlyName(kLegacyFilterCategory, L"Korvell MPEG Muxteron", copy.Put()));
    ComPtr<IPersistStream> load;
    ASSERT_EQ(S_OK, copy->QueryInterface(IID_IPersistStream, load.PutVoid()));
    LARGE_INTEGER zero = {};
    ASSERT_EQ(S_OK, stream->Seek(zero, STREAM_SEEK_SET, nullptr));
    ASSERT_EQ(S_OK, load->Load(stream.Get()));
    ComPtr<IModuleConfig> loaded;
    ASSERT_EQ(S_OK, copy->QueryInterface(IID_IModuleConfig, loaded.PutVoid()));
    EXPECT_EQ(1, ReadNumber(loaded.Get(), kOutput));
    EXPECT_EQ(120, ReadNumber(loaded.Get(), kPcrInterval));
    std::vector<IModuleConfig*> programs = Enumerate(loaded.Get(), kEnumPrograms);
    ASSERT_EQ(1u, programs.size());
    std::vector<IModuleConfig*> inputs = Enumerate(programs[0], kEnumInputs);
    ASSERT_EQ(1u, inputs.size());  // the stored input is free again and waits for its stream
    EXPECT_EQ(1500, ReadNumber(inputs[0], kPesPacketSize));
    // A loaded settings image is refused while an input is connected.
    ASSERT_EQ(S_OK, stream->Seek(zero, STREAM_SEEK_SET, nullptr));
    EXPECT_NE(S_OK, persist->Load(stream.Get()));
}

// A caller holds an input pin (and its parameters) across Load, which
// replaces every input: the held pin is dead and refuses every call, the
// filter lists a new one, and releasing the old one is safe.
TEST_F(MuxGraph, PinHeldAcrossLoadIsDeadNotFreed) {
    ComPtr<IPin> held;
    ASSERT_EQ(S_OK, FindPinByName(mux_.Get(), PINDIR_INPUT, L"Input0", held.Put()));
    ComPtr<IModuleConfig> heldConfig;
    ASSERT_EQ(S_OK, held->QueryInterface(IID_IModuleConfig, heldConfig.PutVoid()));

    ComPtr<IStream> stream;
    ASSERT_EQ(S_OK, CreateStreamOnHGlobal(nullptr, TRUE, stream.Put()));
    ComPtr<IPersistStream> persist;
    ASSERT_EQ(S_OK, mux_->QueryInterface(IID_IPersistStream, persist.PutVoid()));
    ASSERT_EQ(S_OK, persist->Save(stream.Get(), TRUE));
    LARGE_INTEGER zero = {};
    ASSERT_EQ(S_OK, stream->Seek(zero, STREAM_SEEK_SET, nullptr));
    ASSERT_EQ(S_OK, persist->Load(stream.Get()));

    PIN_INFO info = {};
    EXPECT_TRUE(FAILED(held->QueryPinInfo(&info)));
    PIN_DIRECTION dir;
    EXPECT_TRUE(FAILED(held->QueryDirection(&dir)));
    LPWSTR id = nullptr;
    EXPECT_TRUE(FAILED(held->QueryId(&id)));
    ComPtr<IEnumMediaTypes> types;
    EXPECT_TRUE(FAILED(held->EnumMediaTypes(types.Put())));
    ComPtr<IPin> peer;
    EXPECT_EQ(VFW_E_NOT_CONNECTED, held->ConnectedTo(peer.Put()));
    EXPECT_TRUE(FAILED(held->EndOfStream()));
    EXPECT_TRUE(FAILED(held->BeginFlush()));
    ComPtr<IMemInputPin> memInput;
    ASSERT_EQ(S_OK, held->QueryInterface(IID_IMemInputPin, memInput.PutVoid()));
    ComPtr<IMemAllocator> allocator;
    EXPECT_TRUE(FAILED(memInput->GetAllocator(allocator.Put())));
    VARIANT v;
    VariantInit(&v);
    EXPECT_TRUE(FAILED(heldConfig->GetValue(&kStreamType, &v)));
    VARIANT size = Long(1500);
    EXPECT_TRUE(FAILED(heldConfig->SetValue(&kPesPacketSize, &size)));
    // A connection through the dead pin is refused; the new "Input0" takes it.
    auto* source = Own(new EsSourceFilter(MpegVideoType(352, 288, kFrame, 0), {}));
    ASSERT_EQ(S_OK, graph_->AddFilter(source, L"Video"));
    EXPECT_TRUE(FAILED(graph_->ConnectDirect(source->GetPin(0), held.Get(), nullptr)));
    ComPtr<IPin> fresh;
    ASSERT_EQ(S_OK, FindPinByName(mux_.Get(), PINDIR_INPUT, L"Input0", fresh.Put()));
    EXPECT_NE(held.Get(), fresh.Get());
    EXPECT_EQ(S_OK, graph_->ConnectDirect(source->GetPin(0), fresh.Get(), nullptr));
    heldConfig.Reset();
    memInput.Reset();
    held.Reset();
    EXPECT_EQ(1, ReadNumber(PinConfig(L"Input0"), kStreamType));
}

// Raw AAC frames (no ADTS headers) with their AudioSpecificConfig after the
// wave format: the input puts an ADTS header in front of each frame.
TEST_F(MuxGraph, RawAacFramesGetAdtsHeaders) {
    const std::vector<BYTE> adts = Load(L"audio.aac");
    std::vector<EsUnit> frames;
    for (size_t i = 0; i + 7 <= adts.size();) {
        const size_t length = (adts[i + 3] & 3u) << 11 | adts[i + 4] << 3 | adts[i + 5] >> 5;
        ASSERT_EQ(0xFF, adts[i]);
        ASSERT_GT(length, 7u);
        EsUnit u;
        const size_t end = std::min(i + length, adts.size());
        u.bytes.assign(adts.begin() + static_cast<long>(i + 7), adts.begin() + static_cast<long>(end));
        u.start = static_cast<REFERENCE_TIME>(frames.size()) * 1024 * 10000000 / 48000;
        frames.push_back(std::move(u));
        i += length;
    }
    ASSERT_GT(frames.size(), 180u);
    CMediaType type = AudioOf(0xFF, 48000, 2, 16000);
    BYTE* format = type.ReallocFormatBuffer(sizeof(WAVEFORMATEX) + 2);
    reinterpret_cast<WAVEFORMATEX*>(format)->cbSize = 2;
    format[sizeof(WAVEFORMATEX)] = 0x11;      // AAC LC, 48 kHz
    format[sizeof(WAVEFORMATEX) + 1] = 0x90;  // two channels

    ComPtr<IBaseFilter> sink;
    const std::wstring target = InPath(L"muxora_aac.ts");
    ASSERT_NO_FATAL_FAILURE(AddFileSink(target, &sink));
    ConnectSource(type, frames, L"Input0");
    EXPECT_EQ(11, ReadNumber(PinConfig(L"Input0"), kStreamType));
    ComPtr<IPin> in;
    ASSERT_EQ(S_OK, FindPinByName(sink.Get(), PINDIR_INPUT, L"Input", in.Put()));
    ConnectOutputTo(in.Get());
    ASSERT_TRUE(SUCCEEDED(control_->Run()));
    LONG_PTR result = E_FAIL;
    ASSERT_EQ(EC_COMPLETE, WaitForEvent(events_.Get(), {EC_COMPLETE, EC_ERRORABORT}, 30000, &result));
    ASSERT_EQ(S_OK, control_->Stop());

    // The first frame's header in the first audio PES: frame length = payload + 7.
    std::vector<BYTE> ts;
    ASSERT_TRUE(ReadFileBytes(target, &ts));
    bool found = false;
    for (size_t p = 0; p + 188 <= ts.size() && !found; p += 188) {
        if (!(ts[p + 1] & 0x40)) continue;  // no payload unit start
        size_t at = p + 4;
        if (ts[p + 3] & 0x20) at += 1 + ts[p + 4];
        if (ts[at] != 0 || ts[at + 1] != 0 || ts[at + 2] != 1 || (ts[at + 3] & 0xE0) != 0xC0) continue;
        const BYTE* h = &ts[at + 9 + ts[at + 8]];
        const size_t length = (h[3] & 3u) << 11 | h[4] << 3 | h[5] >> 5;
        EXPECT_EQ(0xFF, h[0]);
        EXPECT_EQ(0xF1, h[1]);
        EXPECT_EQ(frames[0].bytes.size() + 7, length);
        found = true;
    }
    EXPECT_TRUE(found);
}

// Transport samples hold "Number of TS Packets to Deliver" packets (5 by
// default), 188 or 192 bytes each; only the last may be shorter.
TEST_F(MuxGraph, TransportSamplesHoldWholePackets) {
    const GUID kTs192 = {0x8727A467, 0x7C6C, 0x4BF9, {0x91, 0xAE, 0xFB, 0x8D, 0xE6, 0x4B, 0xCA, 0xE9}};
    const GUID kPerSample = {0x2394EEE2, 0x51FD, 0x4169, {0x96, 0xD1, 0x74, 0xD9, 0xE4, 0x5B, 0x33, 0x43}};
    auto* recorder = Own(new RecorderFilter);
    ASSERT_EQ(S_OK, graph_->AddFilter(recorder, L"Recorder"));
    ConnectSource(MpegAudioType(48000, 2, 192000), SplitMpegAudio(Load(L"audio.mp2")), L"Input0");
    ConnectOutputTo(&recorder->Pin());
    struct Case {
        long ts192, perSample;
        size_t sampleBytes;
    };
    for (const Case c : {Case{0, 5, 940}, Case{1, 5, 960}, Case{0, 7, 1316}}) {
        SCOPED_TRACE(c.sampleBytes);
        ASSERT_EQ(S_OK, Set(kTs192, c.ts192));
        ASSERT_EQ(S_OK, Set(kPerSample, c.perSample));
        ASSERT_EQ(S_OK, config_->CommitChanges(nullptr));
        recorder->Pin().Clear();
        ASSERT_TRUE(SUCCEEDED(control_->Run()));
        ASSERT_TRUE(recorder->Pin().WaitForEnd(30000));
        ASSERT_EQ(S_OK, control_->Stop());
        const std::vector<SeenSample> seen = recorder->Pin().Seen();
        ASSERT_GT(seen.size(), 10u);
        for (size_t i = 0; i + 1 < seen.size(); ++i) ASSERT_EQ(c.sampleBytes, seen[i].bytes.size()) << "sample " << i;
        const size_t packet = c.ts192 ? 192 : 188;
        EXPECT_EQ(0u, seen.back().bytes.size() % packet);
        EXPECT_EQ(0x47, seen[0].bytes[c.ts192 ? 4 : 0]);
        // Stamped with the muxer's clock, which never runs backwards.
        for (size_t i = 1; i < seen.size(); ++i) ASSERT_GE(seen[i].start, seen[i - 1].start);
    }
}

// Without a connected input there is no muxing thread: nothing goes out.
TEST_F(MuxGraph, NoInputNoOutput) {
    auto* recorder = Own(new RecorderFilter);
    ASSERT_EQ(S_OK, graph_->AddFilter(recorder, L"Recorder"));
    ConnectOutputTo(&recorder->Pin());
    ASSERT_TRUE(SUCCEEDED(control_->Run()));
    Sleep(300);
    EXPECT_EQ(S_OK, control_->Stop());
    EXPECT_TRUE(recorder->Pin().Seen().empty());
    EXPECT_FALSE(recorder->Pin().WaitForEnd(0));
}

struct ConnectCase {
    const char* what;
    long output;
    CMediaType type;
    bool accepted;
    long streamType, bitrate, frequency, frameRate;
};

// What an input makes of the upstream media type: its stream type, the
// announced bitrate and frame rate, the sample rate, and the refusals.
TEST_F(MuxGraph, ConnectionClassifiesAndAnnouncesTheStream) {
    const DWORD div5 = MAKEFOURCC('D', 'I', 'V', '5');
    const ConnectCase cases[] = {
        {"mpeg2 720x576 no rate", 2, VideoOf(kMpeg2VideoSubtype, 720, 576, 0, 400000), true, 1, 10500000, 0, 3},
        {"h264 720x576 no rate", 2, VideoOf(kH264Subtype, 720, 576, 0, 333667), true, 10, 5250000, 0, 4},
        {"rate beyond 20x the picture's", 2, VideoOf(kMpeg2VideoSubtype, 352, 288, 60000000, 417188), true, 1, 2500000,
         0, 1},
        {"divx coded DIV5 is MPEG-4 v5", 2, VideoOf(Fourcc(MAKEFOURCC('D', 'I', 'V', 'X')), 352, 288, 1000000, 0, div5),
         true, 6, 1000000, 0, 0},
        {"layer II wave tag 0x55", 2, AudioOf(0x55, 48000, 2, 24000), true, 2, 192000, 48000, 0},
        {"ac3 without a byte rate", 2, AudioOf(0x2000, 48000, 2, 0), true, 3, 256000, 48000, 0},
        {"pcm at 48 kHz in a program stream", 1, AudioOf(1, 48000, 2, 192000), true, 13, 1536000, 48000, 0},
        {"pcm at 44.1 kHz", 1, AudioOf(1, 44100, 2, 176400), false, 0, 0, 0, 0},
        {"8-bit pcm, which LPCM cannot code", 1, PcmOf(48000, 2, 8), false, 0, 0, 0, 0},
        {"pcm in a transport stream", 2, AudioOf(1, 48000, 2, 192000), false, 0, 0, 0, 0},
        {"unknown audio", 2, AudioOf(0x1234, 48000, 2, 0), false, 0, 0, 0, 0},
    };
    for (const ConnectCase& c : cases) {
        SCOPED_TRACE(c.what);
        ASSERT_EQ(S_OK, Set(kOutput, c.output));
        auto* source = Own(new EsSourceFilter(c.type, {}));
        ASSERT_EQ(S_OK, graph_->AddFilter(source, nullptr));
        ComPtr<IPin> in;
        ASSERT_EQ(S_OK, FindPinByName(mux_.Get(), PINDIR_INPUT, L"Input0", in.Put()));
        const HRESULT hr = graph_->ConnectDirect(source->GetPin(0), in.Get(), nullptr);
        EXPECT_EQ(c.accepted, hr == S_OK) << std::hex << hr;
        IModuleConfig* pin = PinConfig(L"Input0");
        EXPECT_EQ(c.streamType, ReadNumber(pin, kStreamType));
        if (c.accepted) {
            EXPECT_EQ(c.bitrate, ReadNumber(pin, kAnnouncedBitrate));
            EXPECT_EQ(c.frequency, ReadNumber(pin, kFrequency));
            EXPECT_EQ(c.frameRate, ReadNumber(pin, kAnnouncedFrameRate));
            // A disconnect while stopped makes the pin free again.
            EXPECT_EQ(S_OK, graph_->Disconnect(source->GetPin(0)));
            EXPECT_EQ(S_OK, graph_->Disconnect(in.Get()));
            EXPECT_EQ(0, ReadNumber(pin, kStreamType));
        }
        ASSERT_EQ(S_OK, graph_->RemoveFilter(source));
    }
}

struct WriteCase {
    long output;
    const wchar_t* file;
};

class MuxGraphWrite : public MuxGraph, public ::testing::WithParamInterface<WriteCase> {};

// Video and audio streams into a file through "Korvell Sink Filter", the way
// the recorder builds its graph; parameters are read and written from this
// thread while the muxing thread runs.
TEST_P(MuxGraphWrite, WritesStreamThatAnotherDemuxerReads) {
    const WriteCase c = GetParam();
    ComPtr<IBaseFilter> sink;
    const std::wstring target = InPath(c.file);
    ASSERT_NO_FATAL_FAILURE(AddFileSink(target, &sink));
    if (c.output == 3) {
        // Fixed PIDs are not offered by IModuleConfig::SetValue, only by the parameter itself.
        ComPtr<IParamConfig> param;
        ASSERT_EQ(S_OK, config_->GetParamConfig(&kOutput, param.Put()));
        VARIANT three = Long(3);
        ASSERT_TRUE(SUCCEEDED(param->SetValue(&three, TRUE)));
        ASSERT_EQ(3, ReadNumber(config_.Get(), kOutput));
    } else {
        ASSERT_EQ(S_OK, Set(kOutput, c.output));
    }
    ConnectStreams();
    ComPtr<IPin> in;
    ASSERT_EQ(S_OK, FindPinByName(sink.Get(), PINDIR_INPUT, L"Input", in.Put()));
    ConnectOutputTo(in.Get());

    ASSERT_TRUE(SUCCEEDED(control_->Run()));
    long long lastTime = 0;
    long code = 0;
    LONG_PTR result = E_FAIL;
    for (int i = 0; i < 400 && code == 0; ++i) {
        const long long t = ReadNumber(config_.Get(), kMuxerTime);
        EXPECT_GE(t, lastTime);
        lastTime = t;
        ReadNumber(config_.Get(), kRealOutputBitrate);
        Set(kUsePadding, i & 1);
        EXPECT_EQ(E_FAIL, Set(kOutput, c.output == 1 ? 2 : 1));
        code = WaitForEvent(events_.Get(), {EC_COMPLETE, EC_ERRORABORT, EC_USERABORT}, 50, &result);
    }
    config_->DeclineChanges();
    ASSERT_EQ(EC_COMPLETE, code);
    EXPECT_GT(ReadNumber(config_.Get(), kMuxerTime), 35000000);  // about 4 s of stream
    EXPECT_GT(ReadNumber(config_.Get(), kRealOutputBitrate), 0);
    EXPECT_EQ(S_OK, control_->Stop());
    // The end code of a program stream closes the file.
    std::vector<BYTE> written;
    ASSERT_TRUE(ReadFileBytes(target, &written));
    ASSERT_GT(written.size(), 300000u);
    if (c.output == 1) {
        EXPECT_EQ(std::vector<BYTE>({0x00, 0x00, 0x01, 0xB9}), std::vector<BYTE>(written.end() - 4, written.end()));
    } else {
        EXPECT_EQ(0u, written.size() % 188);
        for (size_t i = 0; i < written.size(); i += 188) ASSERT_EQ(0x47, written[i]) << "packet " << i / 188;
    }
}

INSTANTIATE_TEST_SUITE_P(Outputs, MuxGraphWrite,
                         ::testing::Values(WriteCase{1, L"muxora_ps.mpg"}, WriteCase{2, L"muxora_ts.ts"},
                                           WriteCase{3, L"muxora_ts3.ts"}));

struct StopCase {
    long output;
    DWORD runMs;
    const wchar_t* file;
};

class MuxGraphStop : public MuxGraph, public ::testing::WithParamInterface<StopCase> {};

// A host that stops the graph while the sources still deliver (no end of
// stream): the file still holds what the inputs had and ends whole, with the
// end code of a program stream. The checking script decodes the files.
TEST_P(MuxGraphStop, StopWithoutEndOfStreamClosesTheFile) {
    const StopCase c = GetParam();
    ComPtr<IBaseFilter> sink;
    const std::wstring target = InPath(c.file);
    ASSERT_NO_FATAL_FAILURE(AddFileSink(target, &sink));
    ASSERT_EQ(S_OK, Set(kOutput, c.output));
    const struct {
        CMediaType type;
        std::vector<EsUnit> units;
        const wchar_t* pin;
    } inputs[] = {
        {MpegVideoType(352, 288, kFrame, 2000000), SplitMpegVideo(Load(L"video.m2v"), kFrame), L"Input0"},
        {MpegAudioType(48000, 2, 192000), SplitMpegAudio(Load(L"audio.mp2")), L"Input1"},
    };
    for (const auto& in : inputs) {
        auto* source = Own(new PacedSource(in.type, in.units));
        ASSERT_EQ(S_OK, graph_->AddFilter(source, in.pin));
        ComPtr<IPin> pin;
        ASSERT_EQ(S_OK, FindPinByName(mux_.Get(), PINDIR_INPUT, in.pin, pin.Put()));
        ASSERT_EQ(S_OK, graph_->ConnectDirect(source->GetPin(0), pin.Get(), nullptr));
    }
    ComPtr<IPin> in;
    ASSERT_EQ(S_OK, FindPinByName(sink.Get(), PINDIR_INPUT, L"Input", in.Put()));
    ConnectOutputTo(in.Get());

    ASSERT_TRUE(SUCCEEDED(control_->Run()));
    Sleep(c.runMs);
    LONG_PTR result = 0;
    EXPECT_EQ(0, WaitForEvent(events_.Get(), {EC_COMPLETE}, 0, &result)) << "the sources ended first";
    const auto t0 = std::chrono::steady_clock::now();
    ASSERT_EQ(S_OK, control_->Stop());
    EXPECT_LT(MsSince(t0), 3500);

    std::vector<BYTE> written;
    ASSERT_TRUE(ReadFileBytes(target, &written));
    ASSERT_GT(written.size(), 10000u);
    if (c.output == 1) {
        EXPECT_EQ(std::vector<BYTE>({0x00, 0x00, 0x01, 0xB9}), std::vector<BYTE>(written.end() - 4, written.end()));
    } else {
        EXPECT_EQ(0u, written.size() % 188);
        for (size_t i = 0; i < written.size(); i += 188) ASSERT_EQ(0x47, written[i]) << "packet " << i / 188;
    }
}

INSTANTIATE_TEST_SUITE_P(Moments, MuxGraphStop,
                         ::testing::Values(StopCase{1, 500, L"muxora_stop_early.mpg"},
                                           StopCase{1, 3000, L"muxora_stop_late.mpg"},
                                           StopCase{2, 3000, L"muxora_stop_late.ts"}));

// What a host hands the multiplexer through the parameters reaches the
// stream: ES-info descriptors in the PMT entry (either order of pointer and
// length), a user-defined PCR PID carried by PCR-only packets; and the
// inputs report their real bitrate and current PTS.
TEST_F(MuxGraph, DescriptorsUserPcrPidAndReadoutsReachTheTransportStream) {
    ASSERT_EQ(S_OK, Set(kOutput, 2));
    auto* recorder = Own(new RecorderFilter);
    ASSERT_EQ(S_OK, graph_->AddFilter(recorder, L"Recorder"));
    ConnectStreams();
    ConnectOutputTo(&recorder->Pin());
    IModuleConfig* audio = PinConfig(L"Input1");
    BYTE language[] = {0x0A, 4, 'e', 'n', 'g', 0};
    BYTE identifier[] = {0x52, 1, 0x07};
    VARIANT pointer;
    VariantInit(&pointer);
    pointer.vt = VT_PTR;
    pointer.byref = language;
    VARIANT length = Long(sizeof language);
    ASSERT_EQ(S_OK, audio->SetValue(&kEsInfoPointer, &pointer));
    ASSERT_EQ(S_OK, audio->SetValue(&kEsInfoLength, &length));
    length = Long(sizeof identifier);
    pointer.byref = identifier;
    ASSERT_EQ(S_OK, audio->SetValue(&kEsInfoLength, &length));
    ASSERT_EQ(S_OK, audio->SetValue(&kEsInfoPointer, &pointer));

    std::vector<IModuleConfig*> programs = Enumerate(config_.Get(), kEnumPrograms);
    ASSERT_EQ(1u, programs.size());
    const long videoPid = static_cast<long>(ReadNumber(PinConfig(L"Input0"), kStreamId));
    VARIANT taken = Long(videoPid);
    EXPECT_EQ(E_FAIL, programs[0]->SetValue(&kUserPcrPid, &taken));
    constexpr long kPcrOnlyPid = 0x1F0;
    VARIANT own = Long(kPcrOnlyPid);
    ASSERT_TRUE(SUCCEEDED(programs[0]->SetValue(&kUserPcrPid, &own)));  // S_FALSE: converted to int
    ASSERT_EQ(S_OK, programs[0]->CommitChanges(nullptr));

    ASSERT_TRUE(SUCCEEDED(control_->Run()));
    ASSERT_TRUE(recorder->Pin().WaitForEnd(30000));
    EXPECT_GT(ReadNumber(PinConfig(L"Input0"), kRealBitrate), 0);
    EXPECT_GT(ReadNumber(PinConfig(L"Input0"), kCurrentPinPts), 30000000);  // near the end of 4 s
    EXPECT_GT(ReadNumber(audio, kCurrentPinPts), 30000000);
    ASSERT_EQ(S_OK, control_->Stop());

    const std::vector<BYTE> ts = Concatenated(recorder->Pin().Seen());
    const PmtView pmt = ReadPmt(ts);
    EXPECT_EQ(kPcrOnlyPid, pmt.pcrPid);
    const long audioPid = static_cast<long>(ReadNumber(audio, kStreamId));
    bool audioSeen = false;
    for (const PmtView::Entry& e : pmt.entries) {
        EXPECT_NE(kPcrOnlyPid, e.pid) << "the PCR carrier has no PMT entry";
        if (e.pid != audioPid) continue;
        audioSeen = true;
        EXPECT_EQ(std::vector<BYTE>({0x0A, 4, 'e', 'n', 'g', 0, 0x52, 1, 0x07}), e.info);
    }
    EXPECT_TRUE(audioSeen);
    size_t pcrs = 0;
    for (size_t p = 0; p + 188 <= ts.size(); p += 188)
        if (((ts[p + 1] & 0x1F) << 8 | ts[p + 2]) == kPcrOnlyPid) pcrs += HasPcr(&ts[p]) ? 1 : 0;
    EXPECT_GT(pcrs, 40u) << "a PCR at least every 50 ms over 4 s";
}

// An H.264 input reports the media type its parameter sets describe
// ("mediatype filled internally"): MPEG-2 video info with the sets.
TEST_F(MuxGraph, H264InputFillsItsMediaType) {
    ASSERT_EQ(S_OK, Set(kOutput, 2));
    const std::vector<BYTE> es = Load(L"video.h264");
    ASSERT_GT(es.size(), 1000u);
    std::vector<EsUnit> chunks;
    constexpr size_t kChunk = 4096;
    for (size_t i = 0; i < es.size(); i += kChunk)
        chunks.push_back({std::vector<BYTE>(es.begin() + static_cast<long>(i),
                                            es.begin() + static_cast<long>(std::min(i + kChunk, es.size()))),
                          -1});
    auto* recorder = Own(new RecorderFilter);
    ASSERT_EQ(S_OK, graph_->AddFilter(recorder, L"Recorder"));
    ConnectSource(VideoOf(kH264Subtype, 352, 288, 0, 400000), chunks, L"Input0");
    ASSERT_EQ(10, ReadNumber(PinConfig(L"Input0"), kStreamType));
    ConnectOutputTo(&recorder->Pin());
    ASSERT_TRUE(SUCCEEDED(control_->Run()));
    ASSERT_TRUE(recorder->Pin().WaitForEnd(30000));
    VARIANT v;
    VariantInit(&v);
    ASSERT_EQ(S_OK, PinConfig(L"Input0")->GetValue(&kMediaTypeInternal, &v));
    ASSERT_EQ(VT_PTR, v.vt);
    const auto* mt = static_cast<const AM_MEDIA_TYPE*>(v.byref);
    ASSERT_NE(nullptr, mt);
    EXPECT_TRUE(IsEqualGUID(kH264Subtype, mt->subtype));
    EXPECT_TRUE(IsEqualGUID(kFormatMpeg2Video, mt->formattype));
    ASSERT_GE(mt->cbFormat, sizeof(MPEG2VIDEOINFO));
    const auto* info = reinterpret_cast<const MPEG2VIDEOINFO*>(mt->pbFormat);
    EXPECT_EQ(352, info->hdr.bmiHeader.biWidth);
    EXPECT_EQ(288, info->hdr.bmiHeader.biHeight);
    EXPECT_EQ(66u, info->dwProfile);
    ASSERT_EQ(mt->cbFormat, offsetof(MPEG2VIDEOINFO, dwSequenceHeader) + info->cbSequenceHeader);
    const BYTE* seq = reinterpret_cast<const BYTE*>(info->dwSequenceHeader);
    EXPECT_EQ(std::vector<BYTE>({0, 0, 0, 1, 0x67}), std::vector<BYTE>(seq, seq + 5));
    ASSERT_EQ(S_OK, control_->Stop());
}

// A requested "Stream PES ID" outside the type's range, or taken, is
// refused; an accepted one is what the program stream carries.
TEST_F(MuxGraph, StreamPesIdIsCheckedAndUsed) {
    ASSERT_EQ(S_OK, Set(kOutput, 1));
    auto* recorder = Own(new RecorderFilter);
    ASSERT_EQ(S_OK, graph_->AddFilter(recorder, L"Recorder"));
    ConnectStreams();
    ConnectOutputTo(&recorder->Pin());
    IModuleConfig* video = PinConfig(L"Input0");
    IModuleConfig* audio = PinConfig(L"Input1");
    struct Case {
        IModuleConfig* pin;
        long id;
        HRESULT hr;
    } cases[] = {
        {video, 0xC0, E_FAIL}, {video, 0xBD, E_FAIL}, {video, 0xE3, S_OK}, {audio, 0xE3, E_FAIL}, {audio, 0xC5, S_OK},
    };
    for (const Case& c : cases) {
        VARIANT v = Long(c.id);
        EXPECT_EQ(c.hr, c.pin->SetValue(&kStreamPesId, &v)) << std::hex << c.id;
        ASSERT_EQ(S_OK, c.pin->CommitChanges(nullptr));
    }
    ASSERT_TRUE(SUCCEEDED(control_->Run()));
    ASSERT_TRUE(recorder->Pin().WaitForEnd(30000));
    ASSERT_EQ(S_OK, control_->Stop());
    const std::vector<BYTE> ps = Concatenated(recorder->Pin().Seen());
    size_t counts[256] = {};
    for (size_t i = 0; i + 4 <= ps.size(); ++i)
        if (ps[i] == 0 && ps[i + 1] == 0 && ps[i + 2] == 1) ++counts[ps[i + 3]];
    EXPECT_GT(counts[0xE3], 50u);
    EXPECT_GT(counts[0xC5], 50u);
    EXPECT_EQ(0u, counts[0xC0]);
}

// An output rate far below the inputs' makes units late: the graph hears
// of it once, naming the input.
TEST_F(MuxGraph, OverloadIsReportedToTheGraph) {
    ASSERT_EQ(S_OK, Set(kOutput, 2));
    ASSERT_EQ(S_OK, Set(kRequiredBitrate, 300000));  // the video alone needs 2 Mbit/s
    ASSERT_EQ(S_OK, config_->CommitChanges(nullptr));
    auto* recorder = Own(new RecorderFilter);
    ASSERT_EQ(S_OK, graph_->AddFilter(recorder, L"Recorder"));
    ConnectStreams();
    ConnectOutputTo(&recorder->Pin());
    ASSERT_TRUE(SUCCEEDED(control_->Run()));
    LONG_PTR input = -1;
    ASSERT_EQ(kEcMuxOverload, WaitForEvent(events_.Get(), {kEcMuxOverload, EC_ERRORABORT}, 30000, &input));
    EXPECT_TRUE(input == 0 || input == 1) << input;
    EXPECT_EQ(0, WaitForEvent(events_.Get(), {kEcMuxOverload}, 300)) << "once per run";
    EXPECT_EQ(S_OK, control_->Stop());
}

// A pause closes the stream (a graph stops by pausing first); Run after it
// starts a new stream from the data that keeps coming, closed again at Stop.
TEST_F(MuxGraph, PauseClosesTheStreamAndRunStartsAnother) {
    ASSERT_EQ(S_OK, Set(kOutput, 1));
    auto* recorder = Own(new RecorderFilter);
    ASSERT_EQ(S_OK, graph_->AddFilter(recorder, L"Recorder"));
    const struct {
        CMediaType type;
        std::vector<EsUnit> units;
        const wchar_t* pin;
    } inputs[] = {
        {MpegVideoType(352, 288, kFrame, 2000000), SplitMpegVideo(Load(L"video.m2v"), kFrame), L"Input0"},
        {MpegAudioType(48000, 2, 192000), SplitMpegAudio(Load(L"audio.mp2")), L"Input1"},
    };
    for (const auto& in : inputs) {
        auto* source = Own(new PacedSource(in.type, in.units));
        ASSERT_EQ(S_OK, graph_->AddFilter(source, in.pin));
        ComPtr<IPin> pin;
        ASSERT_EQ(S_OK, FindPinByName(mux_.Get(), PINDIR_INPUT, in.pin, pin.Put()));
        ASSERT_EQ(S_OK, graph_->ConnectDirect(source->GetPin(0), pin.Get(), nullptr));
    }
    ConnectOutputTo(&recorder->Pin());
    const std::vector<BYTE> kEnd = {0x00, 0x00, 0x01, 0xB9};
    ASSERT_TRUE(SUCCEEDED(control_->Run()));
    Sleep(700);
    ASSERT_TRUE(SUCCEEDED(control_->Pause()));
    const std::vector<BYTE> first = Concatenated(recorder->Pin().Seen());
    ASSERT_GT(first.size(), 4u);
    EXPECT_EQ(kEnd, std::vector<BYTE>(first.end() - 4, first.end()));
    recorder->Pin().Clear();
    ASSERT_TRUE(SUCCEEDED(control_->Run()));
    // A loaded machine may take a while to begin the second stream: wait
    // for its first bytes (bounded) rather than for a fixed time.
    const DWORD kSecondStreamWaitMs = 10000;
    for (DWORD waited = 0; waited < kSecondStreamWaitMs && Concatenated(recorder->Pin().Seen()).size() <= 10000u;
         waited += 100)
        Sleep(100);
    ASSERT_EQ(S_OK, control_->Stop());
    const std::vector<BYTE> second = Concatenated(recorder->Pin().Seen());
    ASSERT_GT(second.size(), 10000u) << "the second stream carries the data after the pause";
    EXPECT_EQ(0xBA, second[3]) << "it starts with a pack";
    EXPECT_EQ(kEnd, std::vector<BYTE>(second.end() - 4, second.end()));
}

// Each Stop returns promptly with data flowing, whichever moment it hits.
TEST_F(MuxGraph, RunStopCyclesWithDataFlowing) {
    ASSERT_EQ(S_OK, Set(kOutput, 1));
    auto* recorder = Own(new RecorderFilter);
    ASSERT_EQ(S_OK, graph_->AddFilter(recorder, L"Recorder"));
    ConnectStreams();
    ConnectOutputTo(&recorder->Pin());
    int withData = 0;
    for (int cycle = 0; cycle < 200; ++cycle) {
        ASSERT_TRUE(SUCCEEDED(control_->Run())) << "cycle " << cycle;
        Sleep(static_cast<DWORD>(cycle % 7) * 3);
        // Parameters from this thread while the muxing thread runs.
        ReadNumber(config_.Get(), kMuxerTime);
        ReadNumber(PinConfig(L"Input0"), kStreamId);
        Set(kUsePadding, cycle & 1);
        const auto t0 = std::chrono::steady_clock::now();
        ASSERT_EQ(S_OK, control_->Stop()) << "cycle " << cycle;
        const auto ms =
            std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - t0).count();
        ASSERT_LT(ms, 2000) << "cycle " << cycle;
        withData += recorder->Pin().Seen().empty() ? 0 : 1;
        recorder->Pin().Clear();
    }
    EXPECT_GT(withData, 20);
    config_->DeclineChanges();
    // After all that the filter still makes a whole stream.
    ASSERT_TRUE(SUCCEEDED(control_->Run()));
    EXPECT_TRUE(recorder->Pin().WaitForEnd(30000));
    EXPECT_FALSE(recorder->Pin().Seen().empty());
}

struct FirstDataCase {
    const char* what;
    bool audioTimed;
    long waitMs;
    bool atTheLimit;  // else well before it
};

class MuxGraphFirstData : public MuxGraph, public ::testing::WithParamInterface<FirstDataCase> {};

// The first pass waits until every input has had a first time stamp, for at
// most "Initial data waiting mode": the stream starts with the data when both
// inputs carry times, at the limit when the audio carries none, and without a
// wait with 0. The stream is whole in every case.
TEST_P(MuxGraphFirstData, StreamStartsWithFirstDataOrAtTheLimit) {
    const FirstDataCase c = GetParam();
    SCOPED_TRACE(c.what);
    ASSERT_EQ(S_OK, Set(kOutput, 2));
    ASSERT_EQ(S_OK, Set(kInitialDataWait, c.waitMs));
    ASSERT_EQ(S_OK, config_->CommitChanges(nullptr));
    auto* recorder = Own(new RecorderFilter);
    ASSERT_EQ(S_OK, graph_->AddFilter(recorder, L"Recorder"));
    ConnectStreams(c.audioTimed);
    ConnectOutputTo(&recorder->Pin());
    const auto t0 = std::chrono::steady_clock::now();
    ASSERT_TRUE(SUCCEEDED(control_->Run()));
    long long first = -1;
    while (first < 0 && MsSince(t0) < 30000) {
        if (!recorder->Pin().Seen().empty())
            first = MsSince(t0);
        else
            Sleep(5);
    }
    ASSERT_GE(first, 0) << "nothing came out";
    if (c.atTheLimit)
        EXPECT_GE(first, c.waitMs - 50);
    else
        EXPECT_LT(first, 800) << "the limit is 1000 ms";
    EXPECT_TRUE(recorder->Pin().WaitForEnd(30000));
    EXPECT_EQ(S_OK, control_->Stop());
}

INSTANTIATE_TEST_SUITE_P(Cases, MuxGraphFirstData,
                         ::testing::Values(FirstDataCase{"times on both inputs", true, 1000, false},
                                           FirstDataCase{"no times on the audio", false, 1000, true},
                                           FirstDataCase{"no times on the audio, no wait", false, 0, false}),
                         [](const ::testing::TestParamInfo<FirstDataCase>& i) { return std::to_string(i.index); });

// Stop while the muxing thread waits for the audio's first time stamp
// returns at once, not when the wait would end.
TEST_F(MuxGraph, StopDuringTheFirstDataWaitIsPrompt) {
    ASSERT_EQ(S_OK, Set(kOutput, 2));
    ASSERT_EQ(S_OK, Set(kInitialDataWait, 1000));
    ASSERT_EQ(S_OK, config_->CommitChanges(nullptr));
    auto* recorder = Own(new RecorderFilter);
    ASSERT_EQ(S_OK, graph_->AddFilter(recorder, L"Recorder"));
    ConnectStreams(false);
    ConnectOutputTo(&recorder->Pin());
    for (int round = 0; round < 3; ++round) {
        ASSERT_TRUE(SUCCEEDED(control_->Run()));
        Sleep(100);
        const auto t0 = std::chrono::steady_clock::now();
        ASSERT_EQ(S_OK, control_->Stop());
        EXPECT_LT(MsSince(t0), 500) << "round " << round;
        EXPECT_TRUE(recorder->Pin().Seen().empty()) << "the wait was over before Stop";
    }
}

// Downstream keeps the first sample: the muxing thread waits in delivery, the
// inputs fill (small buffers) and their streaming threads wait for room.
// Stop still returns promptly.
TEST_F(MuxGraph, StopWhileDownstreamHoldsDelivery) {
    ASSERT_EQ(S_OK, Set(kOutput, 2));
    auto* holder = Own(new HoldingFilter);
    ASSERT_EQ(S_OK, graph_->AddFilter(holder, L"Holder"));
    ConnectStreams();
    for (const wchar_t* pin : {L"Input0", L"Input1"}) {
        VARIANT size = Long(100000);
        IModuleConfig* c = PinConfig(pin);
        ASSERT_EQ(S_OK, c->SetValue(&kInputBufferSize, &size));
        ASSERT_EQ(S_OK, c->CommitChanges(nullptr));
    }
    ConnectOutputTo(&holder->Pin());
    for (int round = 0; round < 3; ++round) {
        ASSERT_TRUE(SUCCEEDED(control_->Run()));
        for (int i = 0; i < 100 && holder->Pin().Received() <= round; ++i) Sleep(20);
        Sleep(300);  // the inputs fill meanwhile
        const auto t0 = std::chrono::steady_clock::now();
        ASSERT_EQ(S_OK, control_->Stop());
        const auto ms =
            std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - t0).count();
        EXPECT_LT(ms, 1500) << "round " << round;
    }
    EXPECT_GE(holder->Pin().Received(), 3);
}

// A flush of every input while delivery is held and the inputs are full:
// each BeginFlush returns promptly, downstream sees one begin-flush, and
// Stop afterwards is prompt too.
TEST_F(MuxGraph, FlushWhileDownstreamHoldsDelivery) {
    ASSERT_EQ(S_OK, Set(kOutput, 1));
    auto* holder = Own(new HoldingFilter);
    ASSERT_EQ(S_OK, graph_->AddFilter(holder, L"Holder"));
    ConnectStreams();
    for (const wchar_t* pin : {L"Input0", L"Input1"}) {
        VARIANT size = Long(100000);
        IModuleConfig* c = PinConfig(pin);
        ASSERT_EQ(S_OK, c->SetValue(&kInputBufferSize, &size));
        ASSERT_EQ(S_OK, c->CommitChanges(nullptr));
    }
    ConnectOutputTo(&holder->Pin());
    ASSERT_TRUE(SUCCEEDED(control_->Run()));
    for (int i = 0; i < 100 && holder->Pin().Received() == 0; ++i) Sleep(20);
    ASSERT_GT(holder->Pin().Received(), 0);
    Sleep(300);
    ComPtr<IPin> in0, in1;
    ASSERT_EQ(S_OK, FindPinByName(mux_.Get(), PINDIR_INPUT, L"Input0", in0.Put()));
    ASSERT_EQ(S_OK, FindPinByName(mux_.Get(), PINDIR_INPUT, L"Input1", in1.Put()));
    const auto t0 = std::chrono::steady_clock::now();
    EXPECT_EQ(S_OK, in0->BeginFlush());
    EXPECT_EQ(0, holder->Pin().Flushes());  // only when every input flushes
    EXPECT_EQ(S_OK, in1->BeginFlush());
    EXPECT_EQ(1, holder->Pin().Flushes());
    EXPECT_EQ(S_OK, in0->EndFlush());
    EXPECT_EQ(S_OK, in1->EndFlush());
    EXPECT_LT(MsSince(t0), 1500);
    const auto t1 = std::chrono::steady_clock::now();
    ASSERT_EQ(S_OK, control_->Stop());
    EXPECT_LT(MsSince(t1), 1500);
}

}  // namespace
