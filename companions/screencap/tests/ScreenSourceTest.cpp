// "UScreenCapture" found among the video capture devices, capturing the
// region and rate of its registry values with true frame times.
#include <gtest/gtest.h>

#include <string>

#include "tests/support/TestFilters.h"

#include <initguid.h>

#include "tests/support/GraphHelpers.h"

using namespace graphtest;
using namespace testfilters;

namespace {

const wchar_t kKey[] = L"SOFTWARE\\Unreal\\Live\\UScreenCapture";

void SetRegion(DWORD left, DWORD top, DWORD right, DWORD bottom, DWORD rate) {
    const std::pair<const wchar_t*, DWORD> values[] = {
        {L"Left", left}, {L"Top", top}, {L"Right", right}, {L"Bottom", bottom}, {L"FrameRate", rate}};
    for (auto& v : values) RegSetKeyValueW(HKEY_LOCAL_MACHINE, kKey, v.first, REG_DWORD, &v.second, sizeof(DWORD));
}

// A plain window of one colour over the captured region.
HWND ShowColourWindow(int x, int y, int w, int h, COLORREF colour) {
    WNDCLASSW wc = {};
    wc.lpfnWndProc = DefWindowProcW;
    wc.hInstance = GetModuleHandleW(nullptr);
    wc.hbrBackground = CreateSolidBrush(colour);
    // One class per colour: the background brush belongs to the class.
    const std::wstring name = L"ScreenSourceTestColour" + std::to_wstring(colour);
    wc.lpszClassName = name.c_str();
    RegisterClassW(&wc);
    HWND wnd = CreateWindowExW(WS_EX_TOPMOST, wc.lpszClassName, L"colour", WS_POPUP | WS_VISIBLE, x, y, w, h, nullptr,
                               nullptr, wc.hInstance, nullptr);
    UpdateWindow(wnd);
    MSG msg;
    for (int i = 0; i < 20; ++i) {
        while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) DispatchMessageW(&msg);
        Sleep(10);
    }
    return wnd;
}

class ScreenSourceTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(SUCCEEDED(CoInitializeEx(nullptr, COINIT_MULTITHREADED)));
        ASSERT_EQ(S_OK, CoCreateInstance(CLSID_FilterGraph, nullptr, CLSCTX_INPROC_SERVER, IID_IGraphBuilder,
                                         graph_.PutVoid()));
        ASSERT_EQ(S_OK, graph_->QueryInterface(IID_IMediaControl, control_.PutVoid()));
        recorder_ = new RecorderFilter;
        recorder_->NonDelegatingAddRef();
        ASSERT_EQ(S_OK, graph_->AddFilter(recorder_, L"Recorder"));
    }
    void TearDown() override {
        if (control_) control_->Stop();
        control_.Reset();
        source_.Reset();
        graph_.Reset();
        if (recorder_) recorder_->NonDelegatingRelease();
        CoUninitialize();
    }
    void AddSource() {
        ASSERT_EQ(S_OK, FindFilterByFriendlyName(CLSID_VideoInputDeviceCategory, L"UScreenCapture", source_.Put()))
            << "UScreenCapture.ax not registered as a video capture device";
        ASSERT_EQ(S_OK, graph_->AddFilter(source_.Get(), L"Screen Capture"));
        ComPtr<IPin> capture;
        ASSERT_EQ(S_OK, FindPinByName(source_.Get(), PINDIR_OUTPUT, L"Capture", capture.Put()));
        ASSERT_EQ(S_OK, graph_->ConnectDirect(capture.Get(), &recorder_->Pin(), nullptr));
        AM_MEDIA_TYPE mt = {};
        ASSERT_EQ(S_OK, capture->ConnectionMediaType(&mt));
        ASSERT_TRUE(IsEqualGUID(mt.formattype, FORMAT_VideoInfo));
        vih_ = *reinterpret_cast<VIDEOINFOHEADER*>(mt.pbFormat);
        subtype_ = mt.subtype;
        CoTaskMemFree(mt.pbFormat);
    }

    ComPtr<IGraphBuilder> graph_;
    ComPtr<IMediaControl> control_;
    ComPtr<IBaseFilter> source_;
    RecorderFilter* recorder_ = nullptr;
    VIDEOINFOHEADER vih_{};
    GUID subtype_{};
};

TEST_F(ScreenSourceTest, MissingKeyIsMadeWithDefaults) {
    RegDeleteTreeW(HKEY_LOCAL_MACHINE, kKey);
    AddSource();
    EXPECT_EQ(400, vih_.bmiHeader.biWidth);
    EXPECT_EQ(400, vih_.bmiHeader.biHeight);
    EXPECT_EQ(333333, vih_.AvgTimePerFrame);
    DWORD rate = 0, size = sizeof rate;
    ASSERT_EQ(ERROR_SUCCESS,
              RegGetValueW(HKEY_LOCAL_MACHINE, kKey, L"FrameRate", RRF_RT_REG_DWORD, nullptr, &rate, &size));
    EXPECT_EQ(30u, rate);
}

TEST_F(ScreenSourceTest, CapturesTheRegionAtItsRateWithTrueTimes) {
    SetRegion(100, 80, 420, 320, 25);
    HWND wnd = ShowColourWindow(100, 80, 320, 240, RGB(10, 200, 30));
    // A strip along the bottom: the frame is grabbed in bands, and this one
    // lies in the last band.
    HWND strip = ShowColourWindow(100, 300, 320, 20, RGB(220, 40, 90));
    AddSource();
    ASSERT_EQ(320, vih_.bmiHeader.biWidth);
    ASSERT_EQ(240, vih_.bmiHeader.biHeight);
    ASSERT_TRUE(IsEqualGUID(subtype_, MEDIASUBTYPE_RGB32));
    ASSERT_TRUE(SUCCEEDED(control_->Run()));
    Sleep(1200);
    control_->Stop();
    DestroyWindow(strip);
    DestroyWindow(wnd);
    std::vector<SeenSample> seen = recorder_->Pin().Seen();
    // About 30 frames in 1.2 s; a slow machine may skip some, never add.
    EXPECT_GE(seen.size(), 15u);
    EXPECT_LE(seen.size(), 32u);
    REFERENCE_TIME last = -1;
    for (const SeenSample& s : seen) {
        ASSERT_TRUE(s.timed);
        EXPECT_EQ(400000, s.stop - s.start);
        EXPECT_EQ(0, s.start % 400000);
        EXPECT_GT(s.start, last);
        last = s.start;
        ASSERT_EQ(320u * 240u * 4u, s.bytes.size());
    }
    ASSERT_FALSE(seen.empty());
    // The middle pixel is the window's colour (BGRA).
    const BYTE* px = &seen.back().bytes[(120 * 320 + 160) * 4];
    EXPECT_EQ(30, px[0]);
    EXPECT_EQ(200, px[1]);
    EXPECT_EQ(10, px[2]);
    // Bottom-up: the strip's rows come first in the buffer.
    const BYTE* low = &seen.back().bytes[(10 * 320 + 160) * 4];
    EXPECT_EQ(90, low[0]);
    EXPECT_EQ(40, low[1]);
    EXPECT_EQ(220, low[2]);
    const BYTE* top = &seen.back().bytes[(239 * 320 + 5) * 4];
    EXPECT_EQ(30, top[0]);
}

}  // namespace
