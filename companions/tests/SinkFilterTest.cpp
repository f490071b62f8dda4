// The sink filter's own contract, outside a running graph: IFileSinkFilter,
// the input pin's media types, and what it does while unconnected.
#include <gtest/gtest.h>

#include <windows.h>
#include <cguid.h>
#include <initguid.h>

#include "companions/sinkfilter/KorvellSinkIds.h"
#include "companions/testsource/TestSourceControl.h"

#include "tests/support/GraphHelpers.h"

using namespace graphtest;

namespace {

class SinkFilter : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(SUCCEEDED(CoInitializeEx(nullptr, COINIT_MULTITHREADED)));
        ASSERT_EQ(
            CoCreateInstance(CLSID_KorvellSinkFilter, nullptr, CLSCTX_INPROC_SERVER, IID_IBaseFilter, sink_.PutVoid()),
            S_OK)
            << "KorvellSink.dll not registered";
        ASSERT_EQ(sink_->QueryInterface(IID_IFileSinkFilter, file_.PutVoid()), S_OK);
        folder_ = MakeTempFolder();
    }
    void TearDown() override {
        if (sink_) sink_->Stop();
        file_.Reset();
        sink_.Reset();
        RemoveTree(folder_);
        CoUninitialize();
    }

    ComPtr<IBaseFilter> sink_;
    ComPtr<IFileSinkFilter> file_;
    std::wstring folder_;
};

TEST_F(SinkFilter, FileNameArgumentsAndRoundTrip) {
    LPOLESTR name = reinterpret_cast<LPOLESTR>(1);
    EXPECT_EQ(file_->GetCurFile(&name, nullptr), E_FAIL);  // nothing set yet
    EXPECT_EQ(name, nullptr);
    EXPECT_EQ(file_->GetCurFile(nullptr, nullptr), E_POINTER);
    EXPECT_EQ(file_->SetFileName(nullptr, nullptr), E_POINTER);
    EXPECT_EQ(file_->SetFileName(L"", nullptr), E_INVALIDARG);

    AM_MEDIA_TYPE typed{};
    typed.majortype = MEDIATYPE_Stream;
    typed.subtype = MEDIASUBTYPE_MPEG2_PROGRAM;
    ASSERT_EQ(file_->SetFileName(L"C:\\out\\first.mpg", &typed), S_OK);
    AM_MEDIA_TYPE got{};
    ASSERT_EQ(file_->GetCurFile(&name, &got), S_OK);
    EXPECT_STREQ(name, L"C:\\out\\first.mpg");
    EXPECT_TRUE(got.majortype == MEDIATYPE_Stream && got.subtype == MEDIASUBTYPE_MPEG2_PROGRAM);
    CoTaskMemFree(name);

    // The recorder passes no media type; an earlier one is forgotten.
    ASSERT_EQ(file_->SetFileName(L"C:\\out\\second.mpg", nullptr), S_OK);
    ASSERT_EQ(file_->GetCurFile(&name, &got), S_OK);
    EXPECT_STREQ(name, L"C:\\out\\second.mpg");
    EXPECT_TRUE(got.majortype == GUID_NULL);
    CoTaskMemFree(name);
}

TEST_F(SinkFilter, IsARendererWithOneInputPin) {
    ComPtr<IAMFilterMiscFlags> flags;
    ASSERT_EQ(sink_->QueryInterface(IID_IAMFilterMiscFlags, flags.PutVoid()), S_OK);
    EXPECT_EQ(flags->GetMiscFlags(), static_cast<ULONG>(AM_FILTER_MISC_FLAGS_IS_RENDERER));
    ComPtr<IPin> pin;
    ASSERT_EQ(sink_->FindPin(L"Input", pin.Put()), S_OK);
    PIN_DIRECTION dir;
    ASSERT_EQ(pin->QueryDirection(&dir), S_OK);
    EXPECT_EQ(dir, PINDIR_INPUT);
    ComPtr<IPin> none;
    EXPECT_EQ(sink_->FindPin(L"input", none.Put()), VFW_E_NOT_FOUND);  // exact names only
}

// Besides byte streams it takes any type: the bytes are stored as they come.
TEST_F(SinkFilter, AcceptsStreamAndOtherMajorTypes) {
    ComPtr<IPin> in;
    ASSERT_EQ(sink_->FindPin(L"Input", in.Put()), S_OK);
    ComPtr<IBaseFilter> source;
    ASSERT_EQ(
        CoCreateInstance(CLSID_KorvellTestFileSource, nullptr, CLSCTX_INPROC_SERVER, IID_IBaseFilter, source.PutVoid()),
        S_OK);
    ComPtr<IPin> out;
    ASSERT_EQ(source->FindPin(L"Output", out.Put()), S_OK);

    const GUID majors[] = {MEDIATYPE_Stream, MEDIATYPE_Video, MEDIATYPE_Audio};
    const GUID subtypes[] = {MEDIASUBTYPE_MPEG2_PROGRAM, MEDIASUBTYPE_MPEG2_VIDEO, MEDIASUBTYPE_PCM};
    for (size_t i = 0; i < 3; ++i) {
        AM_MEDIA_TYPE mt{};
        mt.majortype = majors[i];
        mt.subtype = subtypes[i];
        EXPECT_EQ(in->QueryAccept(&mt), S_OK);
        ASSERT_EQ(in->ReceiveConnection(out.Get(), &mt), S_OK);
        AM_MEDIA_TYPE got{};
        ASSERT_EQ(in->ConnectionMediaType(&got), S_OK);
        EXPECT_TRUE(got.majortype == majors[i] && got.subtype == subtypes[i]);
        if (got.pbFormat) CoTaskMemFree(got.pbFormat);
        EXPECT_EQ(in->ReceiveConnection(out.Get(), &mt), VFW_E_ALREADY_CONNECTED);
        EXPECT_EQ(in->Disconnect(), S_OK);
    }
}

// Unconnected, a pause does not create the target; the name is fixed while
// the filter is active.
TEST_F(SinkFilter, UnconnectedPauseLeavesNoFileAndKeepsTheName) {
    const std::wstring target = folder_ + L"\\never.mpg";
    ASSERT_EQ(file_->SetFileName(target.c_str(), nullptr), S_OK);
    ASSERT_EQ(sink_->Pause(), S_OK);
    EXPECT_EQ(GetFileAttributesW(target.c_str()), INVALID_FILE_ATTRIBUTES);
    EXPECT_EQ(file_->SetFileName(L"C:\\other.mpg", nullptr), VFW_E_NOT_STOPPED);
    ASSERT_EQ(sink_->Stop(), S_OK);
    EXPECT_EQ(file_->SetFileName(L"C:\\other.mpg", nullptr), S_OK);
}

}  // namespace
