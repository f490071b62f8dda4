// The audio encoder's property pages under Wine: created from the class ids
// the filter lists, shown in a hidden frame, and driven as a user would.
#include <gtest/gtest.h>

#include "tests/support/TestFilters.h"

#include <initguid.h>

#include "codec/audioencoder/AudioEncIds.h"
#include "codec/audioencoder/AudrelResource.h"
#include "codec/paramkit/ParamInterfaces.h"
#include "tests/support/GraphHelpers.h"
#include "tests/support/PageHost.h"

#include <string>

using namespace graphtest;
using namespace testfilters;
using pagehost::PageHost;
using namespace audioenc;

namespace {

class AudrelPages : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(SUCCEEDED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED)));
        RegDeleteTreeW(HKEY_CURRENT_USER, L"Software\\Korvell\\Korvell Layer II Audio Encoder");
        ASSERT_EQ(S_OK, CoCreateInstance(CLSID_FilterGraph, nullptr, CLSCTX_INPROC_SERVER, IID_IGraphBuilder,
                                         graph_.PutVoid()));
        ASSERT_EQ(S_OK,
                  FindFilterByFriendlyName(kLegacyFilterCategory, L"Korvell Layer II Audio Encoder", encoder_.Put()));
        ASSERT_EQ(S_OK, graph_->AddFilter(encoder_.Get(), L"Encoder"));
        ASSERT_EQ(S_OK, encoder_->QueryInterface(IID_IModuleConfig, config_.PutVoid()));
        // A stereo 48 kHz input: the page shows it and commits are checked against it.
        source_ = new PcmSourceFilter(PcmFormat{48000, 2, 16, 1, 100});
        source_->NonDelegatingAddRef();
        ASSERT_EQ(S_OK, graph_->AddFilter(source_, L"PCM"));
        ComPtr<IPin> in;
        ASSERT_EQ(S_OK, FindPinByName(encoder_.Get(), PINDIR_INPUT, L"XForm In", in.Put()));
        ASSERT_EQ(S_OK, graph_->ConnectDirect(source_->GetPin(0), in.Get(), nullptr));
    }

    void TearDown() override {
        config_.Reset();
        if (graph_ && source_) graph_->RemoveFilter(source_);
        encoder_.Reset();
        graph_.Reset();
        if (source_) source_->NonDelegatingRelease();
        CoUninitialize();
    }

    int Committed(const GUID& id) {
        VARIANT v;
        VariantInit(&v);
        if (FAILED(config_->GetValue(&id, &v))) return -12345;
        VARIANT i;
        VariantInit(&i);
        int result = SUCCEEDED(VariantChangeType(&i, &v, 0, VT_I4)) ? i.lVal : -12345;
        VariantClear(&v);
        return result;
    }

    int Pending(const GUID& id) {
        ComPtr<IParamConfig> p;
        if (FAILED(config_->GetParamConfig(&id, p.Put()))) return -12345;
        VARIANT v;
        VariantInit(&v);
        if (FAILED(p->GetValue(&v, FALSE))) return -12345;
        VARIANT i;
        VariantInit(&i);
        int result = SUCCEEDED(VariantChangeType(&i, &v, 0, VT_I4)) ? i.lVal : -12345;
        VariantClear(&v);
        return result;
    }

    HRESULT SetPending(const GUID& id, int value) {
        VARIANT v;
        VariantInit(&v);
        v.vt = VT_I4;
        v.lVal = value;
        return config_->SetValue(&id, &v);
    }

    ComPtr<IGraphBuilder> graph_;
    ComPtr<IBaseFilter> encoder_;
    ComPtr<IModuleConfig> config_;
    PcmSourceFilter* source_ = nullptr;
};

TEST_F(AudrelPages, ListsSettingsThenAbout) {
    std::vector<CLSID> pages = pagehost::PagesOf(encoder_.Get());
    ASSERT_EQ(pages.size(), 2u);
    EXPECT_TRUE(IsEqualGUID(pages[0], CLSID_AudioEncSettingsPage));
    EXPECT_TRUE(IsEqualGUID(pages[1], CLSID_AudioEncAboutPage));
    ComPtr<ISpecifyPropertyPages> specify;
    ASSERT_EQ(S_OK, specify.QueryFrom(encoder_.Get(), IID_ISpecifyPropertyPages));
    EXPECT_EQ(E_POINTER, specify->GetPages(nullptr));
}

TEST_F(AudrelPages, EachChangeIsCommittedAtOnce) {
    PageHost host;
    ASSERT_EQ(S_OK, host.Open(CLSID_AudioEncSettingsPage, encoder_.Get()));
    EXPECT_EQ(host.Text(IDC_INPUT_LINE), "Input is stereo 48000 Hz");
    EXPECT_EQ(host.Text(IDC_OUTPUT_LINE), "Output is stereo 48000 Hz");
    EXPECT_EQ(host.ComboText(IDC_LAYER), "layer 2");
    EXPECT_EQ(host.ComboText(IDC_BITRATE), "128");
    EXPECT_EQ(IsDlgButtonChecked(host.Dialog(), IDC_MODE_STEREO), BST_CHECKED);
    host.SaveShot(KORVELL_PAGE_SHOTS "/audrel_settings.bmp");

    // The mode: committed without Apply, and the output line follows.
    host.Click(IDC_MODE_MONO);
    EXPECT_EQ(Committed(kAudioMode), 3);
    EXPECT_EQ(host.Text(IDC_OUTPUT_LINE), "Output is mono 48000 Hz");
    EXPECT_EQ(host.Site().dirty, 1);
    EXPECT_EQ(host.Page()->IsPageDirty(), S_FALSE) << "nothing is left to apply";

    // The bit rates offered for mono at 48 kHz.
    ASSERT_TRUE(host.Choose(IDC_BITRATE, "64"));
    EXPECT_EQ(host.ComboText(IDC_BITRATE), "64");
    const int chosen = Committed(kBitRate);
    EXPECT_EQ(Pending(kBitRate), chosen);
    EXPECT_EQ(chosen, 4);

    host.Click(IDC_COPYRIGHT);
    EXPECT_EQ(Committed(kCopyright), 1);
    host.Click(IDC_CRC);
    EXPECT_EQ(Committed(kCrc), 1);
    host.Click(IDC_CRC);
    EXPECT_EQ(Committed(kCrc), 0);
    EXPECT_EQ(host.Page()->Apply(), S_OK);

    // A change made elsewhere shows on the page.
    ASSERT_TRUE(SUCCEEDED(SetPending(kOriginal, 1)));
    ASSERT_EQ(S_OK, config_->CommitChanges(nullptr));
    pagehost::Pump();
    EXPECT_EQ(IsDlgButtonChecked(host.Dialog(), IDC_ORIGINAL), BST_CHECKED);
}

TEST_F(AudrelPages, DisconnectDropsWhatWasNotCommitted) {
    PageHost host;
    ASSERT_EQ(S_OK, host.Open(CLSID_AudioEncSettingsPage, encoder_.Get()));
    ASSERT_TRUE(SUCCEEDED(SetPending(kCopyright, 1)));
    EXPECT_EQ(Pending(kCopyright), 1);
    host.Close();
    EXPECT_EQ(Pending(kCopyright), 0);
    EXPECT_EQ(Committed(kCopyright), 0);
}

TEST_F(AudrelPages, ARefusedChangeStaysPendingUntilDisconnect) {
    RecorderFilter* recorder = new RecorderFilter;
    recorder->NonDelegatingAddRef();
    ASSERT_EQ(S_OK, graph_->AddFilter(recorder, L"Recorder"));
    ComPtr<IPin> out;
    ASSERT_EQ(S_OK, FindPinByName(encoder_.Get(), PINDIR_OUTPUT, L"XForm Out", out.Put()));
    ASSERT_EQ(S_OK, graph_->ConnectDirect(out.Get(), &recorder->Pin(), nullptr));
    ComPtr<IMediaControl> control;
    ASSERT_EQ(S_OK, control.QueryFrom(graph_.Get(), IID_IMediaControl));
    {
        PageHost host;
        ASSERT_EQ(S_OK, host.Open(CLSID_AudioEncSettingsPage, encoder_.Get()));
        ASSERT_TRUE(SUCCEEDED(control->Run()));
        // The running filter refuses the commit: the choice stays pending.
        host.Click(IDC_MODE_MONO);
        EXPECT_EQ(Committed(kAudioMode), 0);
        EXPECT_EQ(Pending(kAudioMode), 3);
    }
    EXPECT_EQ(Pending(kAudioMode), 0) << "closing the page drops it";
    control->Stop();
    graph_->RemoveFilter(recorder);
    recorder->NonDelegatingRelease();
}

TEST_F(AudrelPages, AboutPageShowsNameAndVersion) {
    PageHost host;
    ASSERT_EQ(S_OK, host.Open(CLSID_AudioEncAboutPage, encoder_.Get()));
    EXPECT_EQ(host.Text(IDC_ABOUT_NAME), "Korvell Layer-II Audio Encoder");
    EXPECT_EQ(host.Text(IDC_ABOUT_VERSION), "Version: 7.3.0.27713");
    host.SaveShot(KORVELL_PAGE_SHOTS "/audrel_about.bmp");
    // An object without the configuration cannot be shown.
    ComPtr<IUnknown> stranger;
    ASSERT_EQ(S_OK,
              CoCreateInstance(CLSID_FilterGraph, nullptr, CLSCTX_INPROC_SERVER, IID_IUnknown, stranger.PutVoid()));
    PageHost refused;
    EXPECT_EQ(E_NOINTERFACE, refused.Open(CLSID_AudioEncAboutPage, stranger.Get()));
}

}  // namespace
