// "Korvell Layer II Audio Encoder" in a graph: generated PCM in, recorded
// frames out. The coded streams are written out for an independent decoder
// check after this program.
#include <gtest/gtest.h>

#include "tests/support/TestFilters.h"

#include <initguid.h>

#include "codec/paramkit/ParamInterfaces.h"
#include "tests/support/GraphHelpers.h"

#include <cmath>
#include <cstdio>
#include <string>

using namespace graphtest;
using namespace testfilters;

namespace {

// {BDD50372-38E2-4A26-BA15-482B70EE136C}
const GUID kBitRate = {0xBDD50372, 0x38E2, 0x4A26, {0xBA, 0x15, 0x48, 0x2B, 0x70, 0xEE, 0x13, 0x6C}};

class AudrelGraph : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(SUCCEEDED(CoInitializeEx(nullptr, COINIT_MULTITHREADED)));
        // Each test starts from the defaults, not from what the last one saved.
        RegDeleteTreeW(HKEY_CURRENT_USER, L"Software\\Korvell\\Korvell Layer II Audio Encoder");
        ASSERT_EQ(S_OK, CoCreateInstance(CLSID_FilterGraph, nullptr, CLSCTX_INPROC_SERVER, IID_IGraphBuilder,
                                         graph_.PutVoid()));
        ASSERT_EQ(S_OK, graph_->QueryInterface(IID_IMediaControl, control_.PutVoid()));
        ASSERT_EQ(S_OK,
                  FindFilterByFriendlyName(kLegacyFilterCategory, L"Korvell Layer II Audio Encoder", encoder_.Put()))
            << "Audrel.ax not registered";
        ASSERT_EQ(S_OK, graph_->AddFilter(encoder_.Get(), L"MPEG Audio Encoder"));
        recorder_ = new RecorderFilter;
        recorder_->NonDelegatingAddRef();
        ASSERT_EQ(S_OK, graph_->AddFilter(recorder_, L"Recorder"));
    }

    void TearDown() override {
        if (control_) control_->Stop();
        control_.Reset();
        encoder_.Reset();
        graph_.Reset();
        if (source_) source_->NonDelegatingRelease();
        if (recorder_) recorder_->NonDelegatingRelease();
        CoUninitialize();
    }

    void ConnectSource(const PcmFormat& format) {
        source_ = new PcmSourceFilter(format);
        source_->NonDelegatingAddRef();
        ASSERT_EQ(S_OK, graph_->AddFilter(source_, L"PCM"));
        ComPtr<IPin> in, out;
        ASSERT_EQ(S_OK, FindPinByName(encoder_.Get(), PINDIR_INPUT, L"XForm In", in.Put()));
        ASSERT_EQ(S_OK, graph_->ConnectDirect(source_->GetPin(0), in.Get(), nullptr));
        ASSERT_EQ(S_OK, FindPinByName(encoder_.Get(), PINDIR_OUTPUT, L"XForm Out", out.Put()));
        ASSERT_EQ(S_OK, graph_->ConnectDirect(out.Get(), &recorder_->Pin(), nullptr));
    }

    ComPtr<IGraphBuilder> graph_;
    ComPtr<IMediaControl> control_;
    ComPtr<IBaseFilter> encoder_;
    RecorderFilter* recorder_ = nullptr;
    PcmSourceFilter* source_ = nullptr;
};

int FrameBytes(const std::vector<BYTE>& f) {
    if (f.size() < 4 || f[0] != 0xFF || (f[1] & 0xE0) != 0xE0) return -1;
    return static_cast<int>(f.size());
}

struct EncodeCase {
    DWORD rate;
    WORD channels;
    const char* file;
};

class AudrelEncode : public AudrelGraph, public ::testing::WithParamInterface<EncodeCase> {};

// One coded frame per sample, times one frame apart, the whole input coded.
TEST_P(AudrelEncode, FramesCoverTheInput) {
    const EncodeCase c = GetParam();
    const double seconds = 3.0;
    ConnectSource(PcmFormat{c.rate, c.channels, 16, seconds, 100});
    ASSERT_TRUE(SUCCEEDED(control_->Run()));
    ASSERT_TRUE(recorder_->Pin().WaitForEnd(30000)) << "samples seen: " << recorder_->Pin().Seen().size();
    control_->Stop();
    std::vector<SeenSample> seen = recorder_->Pin().Seen();
    ASSERT_FALSE(seen.empty());
    const double frame = 1152.0 * 10000000.0 / c.rate;
    const size_t expected = static_cast<size_t>(std::ceil(seconds * c.rate / 1152.0));
    EXPECT_NEAR(static_cast<double>(expected), static_cast<double>(seen.size()), 1.0);
    std::string out = std::string(KORVELL_E2E_OUT) + "/" + c.file;
    FILE* f = std::fopen(out.c_str(), "wb");
    ASSERT_NE(nullptr, f) << out;
    for (size_t i = 0; i < seen.size(); ++i) {
        ASSERT_GT(FrameBytes(seen[i].bytes), 0) << "sample " << i << " is not one frame";
        std::fwrite(seen[i].bytes.data(), 1, seen[i].bytes.size(), f);
        ASSERT_TRUE(seen[i].timed);
        EXPECT_NEAR(frame * static_cast<double>(i), static_cast<double>(seen[i].start), 2.0) << i;
        EXPECT_NEAR(frame, static_cast<double>(seen[i].stop - seen[i].start), 1.0) << i;
    }
    std::fclose(f);
}

INSTANTIATE_TEST_SUITE_P(Rates, AudrelEncode,
                         ::testing::Values(EncodeCase{48000, 2, "audrel_48000_2.mp2"},
                                           EncodeCase{44100, 1, "audrel_44100_1.mp2"},
                                           EncodeCase{22050, 2, "audrel_22050_2.mp2"}

                                           ));

// Pass-through LPCM is stamped as coded frames are: the multiplexer takes a
// sample's time as its PTS. The times run on without gaps from the input's.
TEST_F(AudrelGraph, PassThroughSamplesCarryTheirTimes) {
    const DWORD rate = 48000;
    const WORD channels = 2;
    source_ = new PcmSourceFilter(PcmFormat{rate, channels, 16, 1.0, 100});
    source_->NonDelegatingAddRef();
    ASSERT_EQ(S_OK, graph_->AddFilter(source_, L"PCM"));
    ComPtr<IPin> in, out;
    ASSERT_EQ(S_OK, FindPinByName(encoder_.Get(), PINDIR_INPUT, L"XForm In", in.Put()));
    ASSERT_EQ(S_OK, graph_->ConnectDirect(source_->GetPin(0), in.Get(), nullptr));
    ASSERT_EQ(S_OK, FindPinByName(encoder_.Get(), PINDIR_OUTPUT, L"XForm Out", out.Put()));
    // The last type offered is DVD LPCM.
    ComPtr<IEnumMediaTypes> types;
    ASSERT_EQ(S_OK, out->EnumMediaTypes(types.Put()));
    AM_MEDIA_TYPE* offered[4] = {};
    ULONG count = 0;
    types->Next(4, offered, &count);
    ASSERT_EQ(3u, count);
    CMediaType lpcm(*offered[2]);
    for (ULONG i = 0; i < count; ++i) DeleteMediaType(offered[i]);
    ASSERT_TRUE(IsEqualGUID(*lpcm.Subtype(), MEDIASUBTYPE_DVD_LPCM_AUDIO));
    ASSERT_EQ(S_OK, graph_->ConnectDirect(out.Get(), &recorder_->Pin(), &lpcm));
    ASSERT_TRUE(SUCCEEDED(control_->Run()));
    ASSERT_TRUE(recorder_->Pin().WaitForEnd(30000));
    control_->Stop();
    std::vector<SeenSample> seen = recorder_->Pin().Seen();
    ASSERT_FALSE(seen.empty());
    const double perByte = 10000000.0 / (rate * channels * 2);
    double bytes = 0;
    for (size_t i = 0; i < seen.size(); ++i) {
        ASSERT_TRUE(seen[i].timed) << i;
        EXPECT_NEAR(bytes * perByte, static_cast<double>(seen[i].start), 2.0) << i;
        EXPECT_NEAR(seen[i].bytes.size() * perByte, static_cast<double>(seen[i].stop - seen[i].start), 2.0) << i;
        bytes += static_cast<double>(seen[i].bytes.size());
    }
    EXPECT_EQ(static_cast<double>(rate * channels * 2), bytes);
}

TEST_F(AudrelGraph, RefusesWhatItCannotCode) {
    ComPtr<IPin> in;
    ASSERT_EQ(S_OK, FindPinByName(encoder_.Get(), PINDIR_INPUT, L"XForm In", in.Put()));
    for (auto bad : {PcmFormat{48000, 2, 8, 1, 100}, PcmFormat{11025, 2, 16, 1, 100}}) {
        PcmSourceFilter* source = new PcmSourceFilter(bad);
        source->NonDelegatingAddRef();
        ASSERT_EQ(S_OK, graph_->AddFilter(source, L"bad"));
        EXPECT_TRUE(FAILED(graph_->ConnectDirect(source->GetPin(0), in.Get(), nullptr)));
        graph_->RemoveFilter(source);
        source->NonDelegatingRelease();
    }
}

TEST_F(AudrelGraph, OutputTypesAndBitRatesFollowTheInput) {
    struct Case {
        DWORD rate;
        ULONG types;
        const wchar_t* lowestRate;
    };
    for (const Case& c : {Case{48000, 3, L"64"}, Case{22050, 2, L"48"}}) {
        SCOPED_TRACE(c.rate);
        ConnectSource(PcmFormat{c.rate, 2, 16, 1, 100});
        ComPtr<IPin> out;
        ASSERT_EQ(S_OK, FindPinByName(encoder_.Get(), PINDIR_OUTPUT, L"XForm Out", out.Put()));
        ComPtr<IEnumMediaTypes> types;
        ASSERT_EQ(S_OK, out->EnumMediaTypes(types.Put()));
        ULONG count = 0;
        AM_MEDIA_TYPE* mt[4] = {};
        types->Next(4, mt, &count);
        EXPECT_EQ(c.types, count);
        for (ULONG i = 0; i < count; ++i) {
            if (mt[i]->pbFormat) CoTaskMemFree(mt[i]->pbFormat);
            CoTaskMemFree(mt[i]);
        }
        ComPtr<IModuleConfig> config;
        ASSERT_EQ(S_OK, encoder_->QueryInterface(IID_IModuleConfig, config.PutVoid()));
        ComPtr<IParamConfig> bitRate;
        ASSERT_EQ(S_OK, config->GetParamConfig(&kBitRate, bitRate.Put()));
        long n = 0;
        ASSERT_EQ(S_FALSE, bitRate->EnumValidValues(&n, nullptr, nullptr));
        ASSERT_GT(n, 0);
        std::vector<VARIANT> values(static_cast<size_t>(n));
        std::vector<BSTR> names(static_cast<size_t>(n));
        ASSERT_EQ(S_OK, bitRate->EnumValidValues(&n, values.data(), names.data()));
        EXPECT_STREQ(c.lowestRate, names[0]);
        for (BSTR b : names) SysFreeString(b);
        graph_->Disconnect(out.Get());
        graph_->Disconnect(&recorder_->Pin());
        ComPtr<IPin> in;
        FindPinByName(encoder_.Get(), PINDIR_INPUT, L"XForm In", in.Put());
        graph_->Disconnect(in.Get());
        graph_->Disconnect(source_->GetPin(0));
        graph_->RemoveFilter(source_);
        source_->NonDelegatingRelease();
        source_ = nullptr;
    }
}

}  // namespace
