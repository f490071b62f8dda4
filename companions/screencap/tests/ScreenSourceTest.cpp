// "UScreenCapture" found among the video capture devices, capturing the
// region and rate of its registry values with true frame times.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

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

// What the process sends to the debug output, seen as the exception that
// OutputDebugString raises on its way to a debugger.
class DebugOutput {
public:
    DebugOutput() {
        lines_.clear();
        handler_ = AddVectoredExceptionHandler(1, &DebugOutput::Seen);
    }
    ~DebugOutput() {
        if (handler_) RemoveVectoredExceptionHandler(handler_);
    }
    DebugOutput(const DebugOutput&) = delete;
    DebugOutput& operator=(const DebugOutput&) = delete;
    std::string Text() const {
        std::string all;
        for (const std::string& line : lines_) all += line;
        return all;
    }

private:
    static LONG CALLBACK Seen(EXCEPTION_POINTERS* info) {
        const EXCEPTION_RECORD* r = info->ExceptionRecord;
        if (r->ExceptionCode == DBG_PRINTEXCEPTION_C && r->NumberParameters >= 2 && r->ExceptionInformation[1])
            lines_.emplace_back(reinterpret_cast<const char*>(r->ExceptionInformation[1]));
        return EXCEPTION_CONTINUE_SEARCH;
    }
    static std::vector<std::string> lines_;
    void* handler_ = nullptr;
};
std::vector<std::string> DebugOutput::lines_;

// The frame's size when the registry holds this rectangle.
SIZE ConnectedSize(IGraphBuilder* graph, IPin* recorderPin, LONG left, LONG top, LONG right, LONG bottom) {
    SetRegion(static_cast<DWORD>(left), static_cast<DWORD>(top), static_cast<DWORD>(right), static_cast<DWORD>(bottom),
              25);
    SIZE size = {-1, -1};
    ComPtr<IBaseFilter> source;
    ComPtr<IPin> capture;
    EXPECT_EQ(S_OK, FindFilterByFriendlyName(CLSID_VideoInputDeviceCategory, L"UScreenCapture", source.Put()));
    if (!source) return size;
    EXPECT_EQ(S_OK, graph->AddFilter(source.Get(), L"Screen Capture"));
    EXPECT_EQ(S_OK, FindPinByName(source.Get(), PINDIR_OUTPUT, L"Capture", capture.Put()));
    if (capture && SUCCEEDED(graph->ConnectDirect(capture.Get(), recorderPin, nullptr))) {
        AM_MEDIA_TYPE mt = {};
        if (capture->ConnectionMediaType(&mt) == S_OK) {
            const auto* vih = reinterpret_cast<const VIDEOINFOHEADER*>(mt.pbFormat);
            size = {vih->bmiHeader.biWidth, vih->bmiHeader.biHeight};
            CoTaskMemFree(mt.pbFormat);
        }
    }
    EXPECT_EQ(S_OK, graph->RemoveFilter(source.Get()));
    return size;
}

TEST_F(ScreenSourceTest, ASideOutsideTheFrameSizesIsClampedToTheScreen) {
    const LONG screenRight = GetSystemMetrics(SM_XVIRTUALSCREEN) + GetSystemMetrics(SM_CXVIRTUALSCREEN);
    const LONG screenBottom = GetSystemMetrics(SM_YVIRTUALSCREEN) + GetSystemMetrics(SM_CYVIRTUALSCREEN);
    ASSERT_GT(screenRight, 500);
    ASSERT_GT(screenBottom, 400);
    struct Case {
        const char* what;
        LONG left, top, right, bottom;
        SIZE expected;
    } const cases[] = {
        {"in range", 100, 80, 420, 320, {320, 240}},
        {"in range, partly off the screen", screenRight - 100, 80, screenRight + 100, 320, {200, 240}},
        {"too wide", 100, 80, 20100, 320, {screenRight - 100, 240}},
        {"too tall", 100, 80, 420, 80 + 9000, {320, screenBottom - 80}},
        {"too narrow", 100, 80, 104, 320, {8, 240}},
        {"empty height", 100, 80, 420, 80, {320, 8}},
        {"inverted width", 420, 80, 100, 320, {320, 240}},
    };
    for (const Case& c : cases) {
        const SIZE got = ConnectedSize(graph_.Get(), &recorder_->Pin(), c.left, c.top, c.right, c.bottom);
        EXPECT_EQ(c.expected.cx, got.cx) << c.what;
        EXPECT_EQ(c.expected.cy, got.cy) << c.what;
    }
    // The debug output names the side, what it was and what it became.
    DebugOutput output;
    ConnectedSize(graph_.Get(), &recorder_->Pin(), 100, 80, 20100, 320);
    const std::string said = output.Text();
    const std::string expected = "capture width 20000 (100..20100) is outside 8..8192; clamped to the screen: 100.." +
                                 std::to_string(screenRight);
    EXPECT_NE(std::string::npos, said.find(expected)) << said;
}

// A 32 x 32 cursor, transparent but for a black 3 x 3 block around its
// hotspot at (9, 9): where the block lands shows that the hotspot is honoured.
HCURSOR MakeBlockCursor() {
    BYTE andMask[32 * 4], xorMask[32 * 4] = {};
    std::memset(andMask, 0xFF, sizeof andMask);
    for (int y = 8; y <= 10; ++y)
        for (int x = 8; x <= 10; ++x) andMask[y * 4 + x / 8] &= static_cast<BYTE>(~(0x80 >> (x % 8)));
    return CreateCursor(GetModuleHandleW(nullptr), 9, 9, 32, 32, andMask, xorMask);
}

TEST_F(ScreenSourceTest, DrawsTheMouseCursorAtItsHotspot) {
    SetRegion(100, 80, 420, 320, 25);
    HWND wnd = ShowColourWindow(100, 80, 320, 240, RGB(10, 200, 30));
    HCURSOR cursor = MakeBlockCursor();
    ASSERT_NE(nullptr, cursor);
    // The pointer at (160, 120) inside the region.
    ASSERT_TRUE(SetCursorPos(100 + 160, 80 + 120));
    SetClassLongPtrW(wnd, GCLP_HCURSOR, reinterpret_cast<LONG_PTR>(cursor));
    SetCursor(cursor);
    MSG msg;
    for (int i = 0; i < 20; ++i) {
        while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) DispatchMessageW(&msg);
        Sleep(10);
    }
    CURSORINFO info = {};
    info.cbSize = sizeof info;
    const bool shown = GetCursorInfo(&info) && (info.flags & CURSOR_SHOWING) && info.hCursor;
    AddSource();
    ASSERT_TRUE(SUCCEEDED(control_->Run()));
    Sleep(500);
    control_->Stop();
    DestroyWindow(wnd);
    DestroyCursor(cursor);
    if (!shown) GTEST_SKIP() << "the platform reports no cursor on this display";
    EXPECT_EQ(100 + 160, info.ptScreenPos.x);
    EXPECT_EQ(80 + 120, info.ptScreenPos.y);
    std::vector<SeenSample> seen = recorder_->Pin().Seen();
    ASSERT_FALSE(seen.empty());
    const std::vector<BYTE>& frame = seen.back().bytes;
    ASSERT_EQ(320u * 240u * 4u, frame.size());
    // (x, y) from the region's top-left; the frame is bottom-up BGRA.
    auto pixel = [&](int x, int y) { return &frame[((239 - y) * 320 + x) * 4]; };
    auto isBackground = [](const BYTE* px) { return px[0] == 30 && px[1] == 200 && px[2] == 10; };
    RecordProperty("cursor", info.hCursor == cursor ? "the test's block" : "another");
    if (info.hCursor == cursor) {
        for (int dy = -1; dy <= 1; ++dy)
            for (int dx = -1; dx <= 1; ++dx) {
                const BYTE* px = pixel(160 + dx, 120 + dy);
                EXPECT_TRUE(px[0] == 0 && px[1] == 0 && px[2] == 0) << "block pixel " << dx << "," << dy;
            }
        // Placed by its corner instead, the block would sit 9 pixels on.
        EXPECT_TRUE(isBackground(pixel(169, 129)));
        EXPECT_TRUE(isBackground(pixel(160 + 5, 120 + 5))) << "the transparent part shows the screen";
    } else {
        // Another cursor (the platform's own): something is drawn near the
        // pointer, where the window alone would show its colour.
        int drawn = 0;
        for (int dy = -12; dy < 20; ++dy)
            for (int dx = -12; dx < 20; ++dx) drawn += isBackground(pixel(160 + dx, 120 + dy)) ? 0 : 1;
        EXPECT_GT(drawn, 0) << "no cursor pixels near the pointer";
    }
    EXPECT_TRUE(isBackground(pixel(40, 40))) << "away from the pointer the screen is untouched";
}

}  // namespace
