// "Korvell MPEG-2 Video Encoder" under Wine: parameters through IModuleConfig
// with the real engine behind the commit, and graphs from a raw frame source
// to a recording renderer. Coded streams are written out for an independent
// decoder check after this program.
#include <gtest/gtest.h>

#include "tests/support/CaptionUnits.h"
#include "tests/support/TestFilters.h"
#include "tests/support/VideoSource.h"

#include <initguid.h>

#include "codec/paramkit/ParamInterfaces.h"
#include "codec/videoencoder/VideoEncParams.h"
#include "tests/support/GraphHelpers.h"

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

using namespace graphtest;
using namespace testfilters;
using namespace vidcore;

namespace {

const GUID kBitrate = {0xBDD50372, 0x38E2, 0x4A26, {0xBA, 0x15, 0x48, 0x2B, 0x70, 0xEE, 0x13, 0x6C}};
const GUID kMinBitrate = {0x38A26DF5, 0xD04E, 0x4931, {0xBB, 0xC2, 0x19, 0x09, 0x7F, 0x81, 0x20, 0x69}};
const GUID kMaxBitrate = {0x51EB9A74, 0xB317, 0x4FBB, {0x83, 0x2B, 0xCA, 0x5C, 0x2D, 0xAA, 0x19, 0x3F}};
const CLSID kVideoEncoder = {0x00098205, 0x76CC, 0x497E, {0x98, 0xA1, 0x6E, 0xF1, 0x0D, 0x0B, 0xF2, 0x6C}};
const wchar_t kName[] = L"Korvell MPEG-2 Video Encoder";

const GUID& Id(int index) {
    return *reinterpret_cast<const GUID*>(&kParamRows[index].id);
}

HRESULT SetInt(IModuleConfig* c, const GUID& id, int v) {
    VARIANT x;
    VariantInit(&x);
    x.vt = VT_INT;
    x.intVal = v;
    return c->SetValue(&id, &x);
}

int GetInt(IModuleConfig* c, const GUID& id) {
    VARIANT x;
    VariantInit(&x);
    if (FAILED(c->GetValue(&id, &x))) return -12345;
    int v = x.vt == VT_INT || x.vt == VT_I4 ? x.intVal : -12345;
    VariantClear(&x);
    return v;
}

double GetReal(IModuleConfig* c, const GUID& id) {
    VARIANT x;
    VariantInit(&x);
    if (FAILED(c->GetValue(&id, &x)) || x.vt != VT_R8) return -1;
    return x.dblVal;
}

int PendingInt(IModuleConfig* c, const GUID& id) {
    ComPtr<IParamConfig> p;
    if (FAILED(c->GetParamConfig(&id, p.Put()))) return -12345;
    VARIANT x;
    VariantInit(&x);
    p->GetValue(&x, FALSE);
    return x.intVal;
}

// Commits and hands back the reason of a refusal.
HRESULT Commit(IModuleConfig* c, std::wstring* reason = nullptr) {
    VARIANT r;
    VariantInit(&r);
    HRESULT hr = c->CommitChanges(&r);
    if (reason) *reason = r.vt == VT_BSTR && r.bstrVal ? r.bstrVal : L"";
    VariantClear(&r);
    return hr;
}

class VidrelGraph : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(SUCCEEDED(CoInitializeEx(nullptr, COINIT_MULTITHREADED)));
        // Each test starts from the defaults, not from what the last one saved.
        RegDeleteTreeW(HKEY_CURRENT_USER, L"Software\\Korvell\\Korvell MPEG-2 Video Encoder");
        ASSERT_EQ(S_OK, CoCreateInstance(CLSID_FilterGraph, nullptr, CLSCTX_INPROC_SERVER, IID_IGraphBuilder,
                                         graph_.PutVoid()));
        ASSERT_EQ(S_OK, graph_->QueryInterface(IID_IMediaControl, control_.PutVoid()));
        ASSERT_EQ(S_OK, FindFilterByFriendlyName(kLegacyFilterCategory, kName, encoder_.Put()))
            << "Vidrel.ax not registered";
        ASSERT_EQ(S_OK, graph_->AddFilter(encoder_.Get(), L"MPEG Encoder"));
        ASSERT_EQ(S_OK, encoder_->QueryInterface(IID_IModuleConfig, config_.PutVoid()));
        recorder_ = new RecorderFilter;
        recorder_->NonDelegatingAddRef();
        ASSERT_EQ(S_OK, graph_->AddFilter(recorder_, L"Recorder"));
    }

    void TearDown() override {
        if (control_) control_->Stop();
        control_.Reset();
        config_.Reset();
        encoder_.Reset();
        graph_.Reset();
        if (source_) source_->NonDelegatingRelease();
        if (recorder_) recorder_->NonDelegatingRelease();
        source_ = nullptr;
        recorder_ = nullptr;
        CoUninitialize();
    }

    void ConnectInput(const VideoFormat& format) {
        source_ = new VideoSourceFilter(format);
        source_->NonDelegatingAddRef();
        ASSERT_EQ(S_OK, graph_->AddFilter(source_, L"Video"));
        ComPtr<IPin> in;
        ASSERT_EQ(S_OK, FindPinByName(encoder_.Get(), PINDIR_INPUT, L"Input", in.Put()));
        ASSERT_EQ(S_OK, graph_->ConnectDirect(source_->GetPin(0), in.Get(), nullptr));
    }
    void ConnectOutput() {
        ComPtr<IPin> out;
        ASSERT_EQ(S_OK, FindPinByName(encoder_.Get(), PINDIR_OUTPUT, L"Output", out.Put()));
        ASSERT_EQ(S_OK, graph_->ConnectDirect(out.Get(), &recorder_->Pin(), nullptr));
    }
    std::vector<SeenSample> RunToEnd() {
        EXPECT_TRUE(SUCCEEDED(control_->Run()));
        EXPECT_TRUE(recorder_->Pin().WaitForEnd(60000));
        control_->Stop();
        return recorder_->Pin().Seen();
    }
    static void WriteOut(const std::vector<SeenSample>& seen, const char* file) {
        std::string path = std::string(KORVELL_E2E_OUT) + "/" + file;
        FILE* f = std::fopen(path.c_str(), "wb");
        ASSERT_NE(nullptr, f) << path;
        for (const SeenSample& s : seen) std::fwrite(s.bytes.data(), 1, s.bytes.size(), f);
        std::fclose(f);
    }

    ComPtr<IGraphBuilder> graph_;
    ComPtr<IMediaControl> control_;
    ComPtr<IBaseFilter> encoder_;
    ComPtr<IModuleConfig> config_;
    RecorderFilter* recorder_ = nullptr;
    VideoSourceFilter* source_ = nullptr;
};

VideoFormat Format(VideoColour colour, int w, int h, double fps, int frames) {
    return VideoFormat{colour, w, h, fps, frames, true, false, 0, 0, 0};
}

TEST_F(VidrelGraph, PinsAndNameAsTheGraphsFindThem) {
    ComPtr<IPin> in, out;
    EXPECT_EQ(S_OK, FindPinByName(encoder_.Get(), PINDIR_INPUT, L"Input", in.Put()));
    EXPECT_EQ(S_OK, FindPinByName(encoder_.Get(), PINDIR_OUTPUT, L"Output", out.Put()));
    FILTER_INFO info = {};
    ASSERT_EQ(S_OK, encoder_->QueryFilterInfo(&info));
    EXPECT_STREQ(kName, info.achName);  // not "MPEG Encoder"
    if (info.pGraph) info.pGraph->Release();
    long count = 0;
    EXPECT_EQ(S_FALSE, config_->EnumParams(&count, nullptr));
    EXPECT_EQ(72, count);
    DWORD capable = 0, size = sizeof capable;
    EXPECT_EQ(
        ERROR_SUCCESS,
        RegGetValueW(
            HKEY_CLASSES_ROOT,
            L"CLSID\\{7D22E920-5CA9-4787-8C2B-A6779BD11781}\\Instance\\Korvell MPEG-2 Video Encoder\\Capabilities",
            L"{BB4FAA02-596C-4129-8FB3-74E75421FA02}", RRF_RT_REG_DWORD, nullptr, &capable, &size));
    EXPECT_EQ(1u, capable);
}

// The recorder's sequence: bitrate, minimum, maximum, commit. Before the
// input is connected the commit fails and the values wait; the connection
// carries them into effect.
TEST_F(VidrelGraph, BitrateCommittedBeforeConnectionAppliesAtConnection) {
    const int bitrate = 3000000;
    // Constant rate, so the stream's size shows the bitrate in effect.
    ASSERT_EQ(S_OK, SetInt(config_.Get(), Id(P_BitrateMode), 1));
    ASSERT_EQ(S_OK, SetInt(config_.Get(), kBitrate, bitrate));
    if (PendingInt(config_.Get(), kMinBitrate) > bitrate) SetInt(config_.Get(), kMinBitrate, bitrate / 2);
    if (PendingInt(config_.Get(), kMaxBitrate) < bitrate) SetInt(config_.Get(), kMaxBitrate, bitrate * 3 / 2);
    std::wstring reason;
    EXPECT_EQ(E_FAIL, Commit(config_.Get(), &reason));
    EXPECT_FALSE(reason.empty());
    EXPECT_NE(bitrate, GetInt(config_.Get(), kBitrate));
    ConnectInput(Format(VideoColour::RGB32, 320, 240, 25, 50));
    EXPECT_EQ(bitrate, GetInt(config_.Get(), kBitrate));
    ConnectOutput();
    std::vector<SeenSample> seen = RunToEnd();
    ASSERT_FALSE(seen.empty());
    size_t bytes = 0;
    for (const SeenSample& s : seen) bytes += s.bytes.size();
    // Two seconds at 3 Mbit/s, not at the default 6 Mbit/s.
    EXPECT_NEAR(2.0 * bitrate / 8, static_cast<double>(bytes), 2.0 * bitrate / 8 * 0.2);
    EXPECT_EQ(50, GetInt(config_.Get(), Id(P_EncodedFrames)));
    // One picture a sample, stamped with its frame's time: the multiplexer
    // takes a sample's start as the time of its first picture.
    ASSERT_EQ(50u, seen.size());
    for (size_t i = 0; i < seen.size(); ++i) {
        ASSERT_TRUE(seen[i].timed) << i;
        EXPECT_EQ(static_cast<REFERENCE_TIME>(i) * 400000, seen[i].start) << i;
        EXPECT_TRUE(seen[i].sync) << i;
    }
    WriteOut(seen, "vidrel_rgb32_320x240_25.m2v");
}

TEST_F(VidrelGraph, TopDownI420AndYuy2AreCoded) {
    struct Case {
        VideoColour colour;
        int w, h;
        double fps;
        bool topDown;
        const char* file;
    } cases[] = {
        {VideoColour::I420, 352, 288, 30000.0 / 1001, false, "vidrel_i420_352x288_2997.m2v"},
        {VideoColour::RGB24, 320, 240, 25, true, "vidrel_rgb24_topdown_320x240_25.m2v"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.file);
        TearDown();
        SetUp();
        VideoFormat f = Format(c.colour, c.w, c.h, c.fps, 30);
        f.topDown = c.topDown;
        ConnectInput(f);
        ConnectOutput();
        std::vector<SeenSample> seen = RunToEnd();
        ASSERT_FALSE(seen.empty());
        EXPECT_EQ(30, GetInt(config_.Get(), Id(P_EncodedFrames)));
        for (const SeenSample& s : seen) EXPECT_TRUE(s.timed);
        WriteOut(seen, c.file);
    }
}

class VidrelCaptions : public VidrelGraph {
protected:
    // The coded stream of 25 paced frames, with the caption pin fed when
    // `connect` is set and "ClosedCaption" set to `mode` after the
    // connections (whose preset turns captions off).
    std::vector<BYTE> Code(int mode, bool connect) {
        const REFERENCE_TIME frame = 400000;
        VideoFormat paced = Format(VideoColour::I420, 352, 288, 25, 25);
        paced.paceMs = 20;  // the captions are queued before their frames come
        ConnectInput(paced);
        if (connect) {
            captions_ = new EsSourceFilter(Line21BytePairType(), PopOnCaption("HELLO", 2 * frame, frame));
            captions_->NonDelegatingAddRef();
            EXPECT_EQ(S_OK, graph_->AddFilter(captions_, L"Captions"));
            ComPtr<IPin> cc;
            EXPECT_EQ(S_OK, encoder_->FindPin(L"CC Input", cc.Put()));
            EXPECT_EQ(S_OK, graph_->ConnectDirect(captions_->GetPin(0), cc.Get(), nullptr));
        }
        ConnectOutput();
        EXPECT_EQ(S_OK, SetInt(config_.Get(), Id(P_ClosedCaption), mode));
        EXPECT_EQ(S_OK, Commit(config_.Get()));
        std::vector<BYTE> bytes;
        for (const SeenSample& s : RunToEnd()) bytes.insert(bytes.end(), s.bytes.begin(), s.bytes.end());
        return bytes;
    }
    void TearDown() override {
        if (control_) control_->Stop();
        if (graph_ && captions_) graph_->RemoveFilter(captions_);
        if (captions_) captions_->NonDelegatingRelease();
        captions_ = nullptr;
        VidrelGraph::TearDown();
    }
    static void Write(const std::vector<BYTE>& bytes, const char* file) {
        SeenSample all = {};
        all.bytes = bytes;
        WriteOut({all}, file);
    }
    EsSourceFilter* captions_ = nullptr;
};

// Captions reach the stream as picture user data; an independent decoder
// reads the text back (check_captions.sh).
TEST_F(VidrelCaptions, AtscFormIsPictureUserData) {
    std::vector<BYTE> coded = Code(1, true);
    ASSERT_FALSE(coded.empty());
    Write(coded, "vidrel_captions_atsc.m2v");
}

TEST_F(VidrelCaptions, Scte20FormIsPictureUserData) {
    std::vector<BYTE> coded = Code(2, true);
    ASSERT_FALSE(coded.empty());
    Write(coded, "vidrel_captions_scte20.m2v");
}

// With captions off, a connected pin changes nothing in the stream.
TEST_F(VidrelCaptions, CaptionsOffLeaveTheStreamAsWithoutThePin) {
    std::vector<BYTE> without = Code(0, false);
    TearDown();
    SetUp();
    std::vector<BYTE> off = Code(0, true);
    ASSERT_FALSE(without.empty());
    EXPECT_TRUE(without == off) << without.size() << " bytes without the pin, " << off.size() << " with it";
}

TEST_F(VidrelGraph, Mpeg1TypeGivesMpeg1OutputTypes) {
    ASSERT_EQ(S_OK, SetInt(config_.Get(), Id(P_VideoType), 0));
    ASSERT_EQ(S_OK, SetInt(config_.Get(), kBitrate, 1150000));
    ASSERT_EQ(S_OK, SetInt(config_.Get(), kMaxBitrate, 1150000));
    ASSERT_EQ(S_OK, SetInt(config_.Get(), kMinBitrate, 500000));
    ConnectInput(Format(VideoColour::YUY2, 352, 288, 25, 25));
    ASSERT_EQ(0, GetInt(config_.Get(), Id(P_VideoType)));
    ComPtr<IPin> out;
    ASSERT_EQ(S_OK, FindPinByName(encoder_.Get(), PINDIR_OUTPUT, L"Output", out.Put()));
    ComPtr<IEnumMediaTypes> types;
    ASSERT_EQ(S_OK, out->EnumMediaTypes(types.Put()));
    AM_MEDIA_TYPE* mt[5] = {};
    ULONG count = 0;
    types->Next(5, mt, &count);
    ASSERT_EQ(4u, count);
    EXPECT_TRUE(IsEqualGUID(mt[0]->subtype, MEDIASUBTYPE_MPEG1Payload));
    EXPECT_TRUE(IsEqualGUID(mt[1]->majortype, MEDIATYPE_Stream));
    EXPECT_TRUE(IsEqualGUID(mt[2]->subtype, MEDIASUBTYPE_MPEG1Video));
    EXPECT_TRUE(IsEqualGUID(mt[0]->formattype, FORMAT_MPEGVideo));
    for (ULONG i = 0; i < count; ++i) {
        // Pictures differ in size: the samples are not fixed-size.
        EXPECT_FALSE(mt[i]->bFixedSizeSamples) << i;
        EXPECT_EQ(static_cast<ULONG>(GetInt(config_.Get(), Id(P_OutSampleSize))), mt[i]->lSampleSize) << i;
        if (mt[i]->pbFormat) CoTaskMemFree(mt[i]->pbFormat);
        CoTaskMemFree(mt[i]);
    }
    ConnectOutput();
    std::vector<SeenSample> seen = RunToEnd();
    ASSERT_FALSE(seen.empty());
    WriteOut(seen, "vidrel_mpeg1_352x288_25.m1v");
}

// A committed video type reconnects a connected output with the new type.
TEST_F(VidrelGraph, VideoTypeChangeReconnectsTheOutput) {
    ConnectInput(Format(VideoColour::YUY2, 352, 288, 25, 5));
    ConnectOutput();
    ComPtr<IPin> out;
    ASSERT_EQ(S_OK, FindPinByName(encoder_.Get(), PINDIR_OUTPUT, L"Output", out.Put()));
    AM_MEDIA_TYPE mt = {};
    ASSERT_EQ(S_OK, out->ConnectionMediaType(&mt));
    EXPECT_FALSE(IsEqualGUID(mt.subtype, MEDIASUBTYPE_MPEG1Payload));
    FreeMediaType(mt);
    ASSERT_EQ(S_OK, SetInt(config_.Get(), Id(P_VideoType), 0));
    ASSERT_EQ(S_OK, SetInt(config_.Get(), kBitrate, 1150000));
    ASSERT_EQ(S_OK, SetInt(config_.Get(), kMaxBitrate, 1150000));
    ASSERT_EQ(S_OK, SetInt(config_.Get(), kMinBitrate, 500000));
    std::wstring reason;
    ASSERT_EQ(S_OK, Commit(config_.Get(), &reason)) << std::string(reason.begin(), reason.end());
    ASSERT_EQ(S_OK, out->ConnectionMediaType(&mt));
    EXPECT_TRUE(IsEqualGUID(mt.subtype, MEDIASUBTYPE_MPEG1Payload));
    FreeMediaType(mt);
}

TEST_F(VidrelGraph, InputRateIsMatchedToTheOutputRate) {
    struct Case {
        double inRate;
        bool announce;
        int frameRate;  // "Frame rate": 0 auto
        int frames, wantCoded;
    } cases[] = {
        {30, true, 3, 60, 50},  // 30 into 25: 5 of every 6
        {25, true, 0, 40, 40},
        {30, false, 3, 30, 30},  // no AvgTimePerFrame: all pass
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.inRate);
        TearDown();
        SetUp();
        ASSERT_EQ(S_OK, SetInt(config_.Get(), Id(P_FrameRate), c.frameRate));
        VideoFormat f = Format(VideoColour::RGB32, 320, 240, c.inRate, c.frames);
        f.announceRate = c.announce;
        ConnectInput(f);
        ConnectOutput();
        RunToEnd();
        EXPECT_NEAR(c.wantCoded, GetInt(config_.Get(), Id(P_EncodedFrames)), 1);
    }
}

TEST_F(VidrelGraph, PaddingFillsRealGapsOnly) {
    ASSERT_EQ(S_OK, SetInt(config_.Get(), Id(P_PadSkipped), 1));
    VideoFormat f = Format(VideoColour::RGB32, 320, 240, 25, 20);
    f.jitter = 30000;  // 3 ms of jitter: no repeats
    f.gapAt = 10;
    f.gap = 2 * 400000;  // two frame times missing: two repeats
    ConnectInput(f);
    ConnectOutput();
    std::vector<SeenSample> seen = RunToEnd();
    EXPECT_EQ(22, GetInt(config_.Get(), Id(P_EncodedFrames)));
    EXPECT_FALSE(seen.empty());
}

TEST_F(VidrelGraph, RefusesInputsItCannotCode) {
    ComPtr<IPin> in;
    ASSERT_EQ(S_OK, FindPinByName(encoder_.Get(), PINDIR_INPUT, L"Input", in.Put()));
    for (VideoFormat bad :
         {Format(VideoColour::RGB32, 4096, 240, 25, 1), Format(VideoColour::RGB32, 320, 4096, 25, 1)}) {
        VideoSourceFilter* source = new VideoSourceFilter(bad);
        source->NonDelegatingAddRef();
        ASSERT_EQ(S_OK, graph_->AddFilter(source, L"bad"));
        EXPECT_TRUE(FAILED(graph_->ConnectDirect(source->GetPin(0), in.Get(), nullptr)));
        graph_->RemoveFilter(source);
        source->NonDelegatingRelease();
    }
}

// Picture start codes in a stream: one a coded picture.
int CountPictures(const std::vector<SeenSample>& seen) {
    std::vector<BYTE> all;
    for (const SeenSample& s : seen) all.insert(all.end(), s.bytes.begin(), s.bytes.end());
    int pictures = 0;
    for (size_t i = 0; i + 3 < all.size(); ++i)
        if (all[i] == 0 && all[i + 1] == 0 && all[i + 2] == 1 && all[i + 3] == 0) ++pictures;
    return pictures;
}

// Every layout the input accepts is coded, planar 4:2:2 included: the
// picture size follows the plane layout, not the bit count of the type.
TEST_F(VidrelGraph, EveryAcceptedLayoutIsCoded) {
    struct Case {
        VideoColour colour;
        const char* name;
    } cases[] = {
        {VideoColour::YV16, "YV16"},   {VideoColour::YV12, "YV12"}, {VideoColour::I420, "I420"},
        {VideoColour::YUY2, "YUY2"},   {VideoColour::UYVY, "UYVY"}, {VideoColour::RGB24, "RGB24"},
        {VideoColour::RGB32, "RGB32"},
    };
    const int frames = 8;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TearDown();
        SetUp();
        ConnectInput(Format(c.colour, 176, 144, 25, frames));
        ConnectOutput();
        std::vector<SeenSample> seen = RunToEnd();
        EXPECT_EQ(frames, GetInt(config_.Get(), Id(P_EncodedFrames)));
        EXPECT_EQ(frames, CountPictures(seen));
    }
}

// A picture larger than one output sample is spread over several, the
// first one with its sequence header included; only the first part of a
// picture carries its time.
TEST_F(VidrelGraph, PicturesLargerThanOneSampleSpanSeveral) {
    const int sampleSize = 4096, frames = 10;
    ASSERT_EQ(S_OK, SetInt(config_.Get(), Id(P_OutSampleSize), sampleSize));
    ASSERT_EQ(S_OK, SetInt(config_.Get(), Id(P_BitrateMode), 3));  // constant quantisers
    // PAL pictures: the intra pictures of the pattern take several samples.
    ConnectInput(Format(VideoColour::I420, 720, 576, 25, frames));
    ConnectOutput();
    ASSERT_EQ(sampleSize, GetInt(config_.Get(), Id(P_OutSampleSize)));
    std::vector<SeenSample> seen = RunToEnd();
    ASSERT_GT(seen.size(), static_cast<size_t>(frames));
    const BYTE sequenceHeader[4] = {0, 0, 1, 0xB3};
    ASSERT_GE(seen[0].bytes.size(), 4u);
    EXPECT_EQ(0, std::memcmp(seen[0].bytes.data(), sequenceHeader, 4));
    int timed = 0;
    for (const SeenSample& s : seen) {
        EXPECT_LE(s.bytes.size(), static_cast<size_t>(sampleSize));
        if (s.timed) {
            EXPECT_EQ(static_cast<REFERENCE_TIME>(timed++) * 400000, s.start);
        }
    }
    EXPECT_EQ(frames, timed);
    EXPECT_EQ(frames, CountPictures(seen));
    WriteOut(seen, "vidrel_small_samples_720x576_25.m2v");
}

HRESULT QueryInput(IBaseFilter* encoder, const GUID& subtype, LONG w, LONG h, WORD bits) {
    ComPtr<IPin> in;
    HRESULT hr = FindPinByName(encoder, PINDIR_INPUT, L"Input", in.Put());
    if (FAILED(hr)) return hr;
    VIDEOINFOHEADER vih = {};
    vih.AvgTimePerFrame = 400000;
    vih.bmiHeader.biSize = sizeof vih.bmiHeader;
    vih.bmiHeader.biWidth = w;
    vih.bmiHeader.biHeight = h;
    vih.bmiHeader.biPlanes = 1;
    vih.bmiHeader.biBitCount = bits;
    CMediaType mt;
    mt.SetType(&MEDIATYPE_Video);
    mt.SetSubtype(&subtype);
    mt.SetFormatType(&FORMAT_VideoInfo);
    if (!mt.SetFormat(reinterpret_cast<BYTE*>(&vih), sizeof vih)) return E_OUTOFMEMORY;
    return in->QueryAccept(&mt);
}

// What the engine could not start is refused at connection, not accepted
// and then coded to nothing.
TEST_F(VidrelGraph, RefusesSizesAndDepthsTheEngineCannotCode) {
    EXPECT_EQ(S_OK, QueryInput(encoder_.Get(), MEDIASUBTYPE_RGB32, 320, 240, 32));
    EXPECT_EQ(S_FALSE, QueryInput(encoder_.Get(), MEDIASUBTYPE_RGB32, 100000, 100000, 32));
    EXPECT_EQ(S_FALSE, QueryInput(encoder_.Get(), MEDIASUBTYPE_RGB32, 16384 + 1, 240, 32));
    EXPECT_EQ(S_FALSE, QueryInput(encoder_.Get(), MEDIASUBTYPE_RGB24, 320, 240, 0));
    EXPECT_EQ(S_FALSE, QueryInput(encoder_.Get(), MEDIASUBTYPE_RGB24, 320, 240, 7));
    EXPECT_EQ(S_FALSE, QueryInput(encoder_.Get(), MEDIASUBTYPE_RGB32, 320, 240, 0));
}

// Commit rules on a connected 720x576 input at 25 fps.
class VidrelParams : public VidrelGraph {
protected:
    void SetUp() override {
        VidrelGraph::SetUp();
        ConnectInput(Format(VideoColour::YUY2, 720, 576, 25, 1));
    }
};

TEST_F(VidrelParams, RangesAndNamedValues) {
    EXPECT_EQ(E_INVALIDARG, SetInt(config_.Get(), Id(P_GopLength), 101));
    EXPECT_EQ(E_INVALIDARG, SetInt(config_.Get(), Id(P_QuantI), 0));
    EXPECT_EQ(S_OK, SetInt(config_.Get(), Id(P_SearchQuality), 17));
    EXPECT_EQ(E_FAIL, SetInt(config_.Get(), Id(P_SearchQuality), 16));  // in range, not a named value
    EXPECT_EQ(E_FAIL, SetInt(config_.Get(), Id(P_VideoType), 5));
    EXPECT_EQ(E_ACCESSDENIED, SetInt(config_.Get(), Id(P_EncodedFrames), 3));
    const GUID unknown = {0x12345678, 0, 0, {0}};
    EXPECT_EQ(E_FAIL, SetInt(config_.Get(), unknown, 1));
    ComPtr<IParamConfig> p;
    ASSERT_EQ(S_OK, config_->GetParamConfig(&Id(P_VideoType), p.Put()));
    VARIANT v;
    VariantInit(&v);
    v.vt = VT_INT;
    v.intVal = 0;
    BSTR name = nullptr;
    ASSERT_EQ(S_OK, p->ValueToName(&v, &name));
    EXPECT_STREQ(L"MPEG-1  ", name);
    SysFreeString(name);
}

TEST_F(VidrelParams, BitrateRulesAndProfileLevel) {
    ASSERT_EQ(S_OK, SetInt(config_.Get(), Id(P_BitrateMode), 0));
    ASSERT_EQ(S_OK, SetInt(config_.Get(), kMaxBitrate, 6000000));
    ASSERT_EQ(S_OK, SetInt(config_.Get(), kBitrate, 8000000));
    ASSERT_EQ(S_OK, Commit(config_.Get()));
    EXPECT_EQ(8000000, GetInt(config_.Get(), kMaxBitrate));
    ASSERT_EQ(S_OK, SetInt(config_.Get(), kMinBitrate, 2000000));
    ASSERT_EQ(S_OK, SetInt(config_.Get(), kBitrate, 1000000));
    ASSERT_EQ(S_OK, Commit(config_.Get()));
    EXPECT_EQ(500000, GetInt(config_.Get(), kMinBitrate));
    EXPECT_EQ(4, GetInt(config_.Get(), Id(P_Profile)));
    EXPECT_EQ(8, GetInt(config_.Get(), Id(P_Level)));              // PAL fits Main level
    EXPECT_EQ(0, GetInt(config_.Get(), Id(P_OrigFrameType)) + 1);  // VIDEOINFOHEADER: not known
    EXPECT_EQ(1, GetInt(config_.Get(), Id(P_OrigColorSpace)));
    EXPECT_NEAR(25.0, GetReal(config_.Get(), Id(P_InputFramerate)), 0.01);
}

TEST_F(VidrelParams, Mpeg1ForcesProgressive420WithoutPulldown) {
    ASSERT_EQ(S_OK, SetInt(config_.Get(), Id(P_VideoType), 0));
    ASSERT_EQ(S_OK, SetInt(config_.Get(), kBitrate, 1150000));
    ASSERT_EQ(S_OK, SetInt(config_.Get(), kMaxBitrate, 1150000));
    ASSERT_EQ(S_OK, SetInt(config_.Get(), Id(P_ProgressiveSeq), 0));
    ASSERT_EQ(S_OK, SetInt(config_.Get(), Id(P_IntraDcPrecision), 2));
    std::wstring reason;
    Commit(config_.Get(), &reason);
    EXPECT_EQ(1, PendingInt(config_.Get(), Id(P_ProgressiveSeq)));
    EXPECT_EQ(1, PendingInt(config_.Get(), Id(P_ProgressiveFrame)));
    EXPECT_EQ(1, PendingInt(config_.Get(), Id(P_ChromaFormat)));
    EXPECT_EQ(0, PendingInt(config_.Get(), Id(P_Pulldown)));
    EXPECT_EQ(0, PendingInt(config_.Get(), Id(P_IntraDcPrecision)));
}

// Rules that carry one parameter into others, seen through the values they
// leave behind after a commit.
TEST_F(VidrelParams, FollowOnRules) {
    struct Set {
        int param, value;
    };
    struct Case {
        const char* what;
        std::vector<Set> sets;
        std::vector<Set> want;
    } cases[] = {
        {"interlaced frames make an interlaced sequence",
         {{P_ProgressiveSeq, 1}, {P_ProgressiveFrame, 0}},
         {{P_ProgressiveSeq, 0}, {P_Pulldown, 0}}},
        {"a progressive sequence has progressive frames, no field order",
         {{P_ProgressiveSeq, 1}, {P_ProgressiveFrame, 1}, {P_TopFieldFirst, 1}},
         {{P_ProgressiveFrame, 1}, {P_TopFieldFirst, 0}}},
        {"interlaced frames repeat no field",
         {{P_ProgressiveFrame, 0}, {P_RepeatFirstField, 1}},
         {{P_RepeatFirstField, 0}}},
        {"constant quality leaves the rates alone",
         {{P_BitrateMode, 2}, {P_MaxBitrate, 2000000}, {P_Bitrate, 4000000}},
         {{P_MaxBitrate, 2000000}}},
        {"the automatic frame rate follows the input", {{P_FrameRate, 0}}, {{P_FrameRate, 0}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        for (const Set& s : c.sets) ASSERT_EQ(S_OK, SetInt(config_.Get(), Id(s.param), s.value)) << s.param;
        std::wstring reason;
        HRESULT hr = Commit(config_.Get(), &reason);
        EXPECT_EQ(S_OK, hr) << std::string(reason.begin(), reason.end());
        for (const Set& w : c.want) {
            EXPECT_EQ(w.value, PendingInt(config_.Get(), Id(w.param))) << kParamRows[w.param].name;
            if (hr == S_OK) {
                EXPECT_EQ(w.value, GetInt(config_.Get(), Id(w.param))) << kParamRows[w.param].name;
            }
        }
        config_->DeclineChanges();
    }
}

TEST_F(VidrelParams, RefusedCommitsGiveReasonsAndChangeNothing) {
    struct Case {
        int param, value;
        const wchar_t* reason;  // null: the engine's own message
    } cases[] = {
        {P_OutSampleSize, -1, L"Out sample size must be > 0."},
        {P_ChromaFormat, 2, nullptr},  // 4:2:2 is not Main profile: the engine says why
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(kParamRows[c.param].name);
        const int before = GetInt(config_.Get(), Id(c.param));
        ASSERT_EQ(S_OK, SetInt(config_.Get(), Id(c.param), c.value));
        std::wstring reason;
        EXPECT_EQ(E_FAIL, Commit(config_.Get(), &reason));
        if (c.reason) {
            EXPECT_EQ(c.reason, reason);
        } else {
            EXPECT_FALSE(reason.empty());
        }
        EXPECT_EQ(before, GetInt(config_.Get(), Id(c.param)));
        config_->DeclineChanges();
    }
}

TEST_F(VidrelParams, SimpleProfileDropsBFramesAndPresetSetsPendingValues) {
    ASSERT_EQ(S_OK, SetInt(config_.Get(), Id(P_Profile), 5));
    ASSERT_EQ(S_OK, Commit(config_.Get()));
    EXPECT_EQ(5, GetInt(config_.Get(), Id(P_Profile)));
    EXPECT_EQ(0, GetInt(config_.Get(), Id(P_BFrames)));

    // HD DVD at 25 fps: a GOP of 30.
    ASSERT_EQ(S_OK, SetInt(config_.Get(), Id(P_VideoType), 25));
    ASSERT_EQ(S_OK, SetInt(config_.Get(), Id(P_FrameRate), 0));
    ASSERT_EQ(S_OK, SetInt(config_.Get(), Id(P_SetDefaults), 1));
    EXPECT_EQ(30, PendingInt(config_.Get(), Id(P_GopLength)));
    config_->DeclineChanges();

    // The MPEG-2 preset: quantisers 2, 4, 6, motion search optimal.
    ASSERT_EQ(S_OK, SetInt(config_.Get(), Id(P_QuantI), 9));
    ASSERT_EQ(S_OK, SetInt(config_.Get(), Id(P_VideoType), 2));
    ASSERT_EQ(S_OK, SetInt(config_.Get(), Id(P_SetDefaults), 1));
    EXPECT_EQ(2, PendingInt(config_.Get(), Id(P_QuantI)));
    EXPECT_EQ(17, PendingInt(config_.Get(), Id(P_SearchQuality)));
    const int share = 4 * PendingInt(config_.Get(), kBitrate) / 25;
    EXPECT_EQ(share > 720 * 576 ? share : 720 * 576, PendingInt(config_.Get(), Id(P_OutSampleSize)));
    EXPECT_EQ(S_OK, Commit(config_.Get()));
}

bool Exists(const std::string& path) {
    return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

HRESULT SetText(IModuleConfig* c, const GUID& id, const std::string& text) {
    std::wstring wide(text.begin(), text.end());
    VARIANT x;
    VariantInit(&x);
    x.vt = VT_BSTR;
    x.bstrVal = SysAllocString(wide.c_str());
    HRESULT hr = c->SetValue(&id, &x);
    VariantClear(&x);
    return hr;
}

// The statistics file name and "ClosedCaption" are neighbours in the
// settings record; setting one leaves the other whole.
TEST_F(VidrelParams, StatisticsNameSurvivesCaptionSetting) {
    ASSERT_TRUE(SUCCEEDED(SetText(config_.Get(), Id(P_StatsFile), "C:\\stats\\pass")));
    ASSERT_EQ(S_OK, Commit(config_.Get()));
    ASSERT_EQ(S_OK, SetInt(config_.Get(), Id(P_ClosedCaption), 1));
    ASSERT_EQ(S_OK, Commit(config_.Get()));
    VARIANT x;
    VariantInit(&x);
    ASSERT_EQ(S_OK, config_->GetValue(&Id(P_StatsFile), &x));
    ASSERT_EQ(VT_BSTR, x.vt);
    EXPECT_STREQ(L"C:\\stats\\pass", x.bstrVal);
    VariantClear(&x);
    EXPECT_EQ(1, GetInt(config_.Get(), Id(P_ClosedCaption)));
}

// A flush in the middle of the second pass restarts a pass that reads the
// statistics again: only the end of the run deletes them.
TEST_F(VidrelGraph, SecondPassKeepsStatisticsUntilTheRunEnds) {
    char temp[MAX_PATH] = {};
    GetTempPathA(MAX_PATH, temp);
    const std::string base = std::string(temp) + "vidrel_pass_test";
    for (int i = 0; i < 2; ++i) {
        FILE* f = std::fopen((base + ".md" + std::to_string(i)).c_str(), "wb");
        ASSERT_NE(nullptr, f);
        std::fputs("statistics", f);
        std::fclose(f);
    }
    VideoFormat f = Format(VideoColour::RGB32, 320, 240, 25, 0);  // nothing but the end
    ConnectInput(f);
    ConnectOutput();
    ASSERT_TRUE(SUCCEEDED(SetText(config_.Get(), Id(P_StatsFile), base)));
    ASSERT_EQ(S_OK, SetInt(config_.Get(), Id(P_TwoPass), 2));
    ASSERT_EQ(S_OK, Commit(config_.Get()));
    ASSERT_TRUE(SUCCEEDED(control_->Run()));
    ComPtr<IPin> in;
    ASSERT_EQ(S_OK, FindPinByName(encoder_.Get(), PINDIR_INPUT, L"Input", in.Put()));
    recorder_->Pin().WaitForEnd(10000);
    in->BeginFlush();
    in->EndFlush();
    EXPECT_TRUE(Exists(base + ".md0"));
    EXPECT_TRUE(Exists(base + ".md1"));
    control_->Stop();
    EXPECT_FALSE(Exists(base + ".md0"));
    EXPECT_FALSE(Exists(base + ".md1"));
}

// A statistics path that does not convert into the engine's 256 bytes is an
// error, not a cut-off name.
TEST_F(VidrelGraph, UnconvertibleStatisticsPathFailsTheRun) {
    ConnectInput(Format(VideoColour::RGB32, 320, 240, 25, 5));
    ConnectOutput();
    ASSERT_TRUE(SUCCEEDED(SetText(config_.Get(), Id(P_StatsFile), std::string(300, 'p'))));
    ASSERT_EQ(S_OK, SetInt(config_.Get(), Id(P_TwoPass), 1));
    ASSERT_EQ(S_OK, Commit(config_.Get()));
    // The encoder alone: a graph whose run failed half way is not what is tested.
    EXPECT_EQ(E_FAIL, encoder_->Pause());
    encoder_->Stop();
}

// A sample whose in-band type is refused leaves no engine: what follows is
// refused, never handed to a freed engine.
TEST_F(VidrelGraph, RefusedInBandTypeStopsTheStream) {
    ConnectInput(Format(VideoColour::RGB32, 320, 240, 25, 0));
    ConnectOutput();
    ASSERT_TRUE(SUCCEEDED(control_->Run()));
    ComPtr<IPin> in;
    ASSERT_EQ(S_OK, FindPinByName(encoder_.Get(), PINDIR_INPUT, L"Input", in.Put()));
    ComPtr<IMemInputPin> mem;
    ASSERT_EQ(S_OK, in->QueryInterface(IID_IMemInputPin, mem.PutVoid()));
    ComPtr<IMemAllocator> alloc;
    ASSERT_EQ(S_OK, mem->GetAllocator(alloc.Put()));
    ALLOCATOR_PROPERTIES want = {2, 320 * 240 * 4, 1, 0}, got = {};
    alloc->Decommit();
    ASSERT_EQ(S_OK, alloc->SetProperties(&want, &got));
    ASSERT_EQ(S_OK, alloc->Commit());
    auto push = [&](const AM_MEDIA_TYPE* type) {
        ComPtr<IMediaSample> sample;
        EXPECT_EQ(S_OK, alloc->GetBuffer(sample.Put(), nullptr, nullptr, 0));
        sample->SetActualDataLength(320 * 240 * 4);
        REFERENCE_TIME a = 0, b = 400000;
        sample->SetTime(&a, &b);
        if (type) sample->SetMediaType(const_cast<AM_MEDIA_TYPE*>(type));
        return mem->Receive(sample.Get());
    };
    EXPECT_EQ(S_OK, push(nullptr));
    CMediaType bad;
    VIDEOINFOHEADER vih = {};
    vih.bmiHeader.biSize = sizeof vih.bmiHeader;
    vih.bmiHeader.biWidth = 4096;
    vih.bmiHeader.biHeight = 240;
    vih.bmiHeader.biBitCount = 32;
    vih.bmiHeader.biPlanes = 1;
    bad.SetType(&MEDIATYPE_Video);
    bad.SetSubtype(&MEDIASUBTYPE_RGB32);
    bad.SetFormatType(&FORMAT_VideoInfo);
    bad.SetFormat(reinterpret_cast<BYTE*>(&vih), sizeof vih);
    EXPECT_TRUE(FAILED(push(&bad)));
    EXPECT_TRUE(FAILED(push(nullptr)));
    control_->Stop();
}

// HD DVD at an automatic 30 fps cannot be preset: the GOP stays.
TEST_F(VidrelGraph, HdDvdPresetStopsAtThirtyFramesPerSecond) {
    ConnectInput(Format(VideoColour::RGB32, 320, 240, 30, 1));
    ASSERT_EQ(S_OK, SetInt(config_.Get(), Id(P_GopLength), 15));
    ASSERT_EQ(S_OK, SetInt(config_.Get(), Id(P_VideoType), 25));
    ASSERT_EQ(S_OK, SetInt(config_.Get(), Id(P_FrameRate), 0));
    ASSERT_EQ(S_OK, SetInt(config_.Get(), Id(P_SetDefaults), 1));
    EXPECT_EQ(15, PendingInt(config_.Get(), Id(P_GopLength)));
    EXPECT_EQ(0, PendingInt(config_.Get(), Id(P_FrameRate)));
}

TEST_F(VidrelGraph, SettingsAreKeptPerHostProgram) {
    ASSERT_EQ(S_OK, SetInt(config_.Get(), Id(P_GopLength), 7));
    ConnectInput(Format(VideoColour::RGB32, 320, 240, 25, 1));
    ASSERT_EQ(7, GetInt(config_.Get(), Id(P_GopLength)));
    config_.Reset();
    graph_->RemoveFilter(encoder_.Get());
    encoder_.Reset();
    wchar_t exe[MAX_PATH] = {};
    GetModuleFileNameW(nullptr, exe, MAX_PATH);
    std::wstring key = std::wstring(L"Software\\Korvell\\Korvell MPEG-2 Video Encoder\\") + (wcsrchr(exe, L'\\') + 1);
    DWORD gop = 0, size = sizeof gop;
    EXPECT_EQ(ERROR_SUCCESS,
              RegGetValueW(HKEY_CURRENT_USER, key.c_str(), L"GOP length", RRF_RT_REG_DWORD, nullptr, &gop, &size));
    EXPECT_EQ(7u, gop);
}

}  // namespace
