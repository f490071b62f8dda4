#include "recorder/app/RegionWindows.h"

#include <mmsystem.h>

#include <cstdio>
#include <string>
#include <vector>

#include "platform/mfc/Pump.h"
#include "recorder/app/MainDlg.h"
#include "recorder/app/Program.h"
#include "recorder/app/SettingsStore.h"

namespace zelbo {

namespace {

const wchar_t kMarkerClass[] = L"ZelboMarker";
const wchar_t kBarClass[] = L"ZelboFrameBar";
const wchar_t kPickerClass[] = L"ZelboPicker";
const wchar_t kInfoClass[] = L"ZelboMarkInfo";
const UINT_PTR kBlink = 1;
const COLORREF kGreen = RGB(0, 200, 0);

// Per-window blink phase and colour.
struct Look {
    COLORREF colour;
    bool blank = false;
};

Look* LookOf(HWND hwnd) {
    return reinterpret_cast<Look*>(::GetWindowLongPtrW(hwnd, GWLP_USERDATA));
}

void PaintSolid(HWND hwnd, COLORREF colour) {
    PAINTSTRUCT ps;
    HDC dc = ::BeginPaint(hwnd, &ps);
    RECT client;
    ::GetClientRect(hwnd, &client);
    HBRUSH brush = ::CreateSolidBrush(colour);
    ::FillRect(dc, &client, brush);
    ::DeleteObject(brush);
    ::EndPaint(hwnd, &ps);
}

POINT CursorOf(HWND hwnd, LPARAM lParam) {
    POINT p{static_cast<short>(LOWORD(lParam)), static_cast<short>(HIWORD(lParam))};
    ::ClientToScreen(hwnd, &p);
    return p;
}

LRESULT CALLBACK MarkerProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    RegionSelector& selector = TheRegionSelector();
    switch (message) {
        case WM_PAINT: {
            const Look* look = LookOf(hwnd);
            PaintSolid(hwnd, look && !look->blank ? look->colour : RGB(255, 255, 255));
            return 0;
        }
        case WM_TIMER:
            if (Look* look = LookOf(hwnd)) {
                look->blank = !look->blank;
                ::InvalidateRect(hwnd, nullptr, FALSE);
            }
            return 0;
        case WM_LBUTTONDOWN:
            selector.MarkerDown(hwnd, CursorOf(hwnd, lParam));
            return 0;
        case WM_MOUSEMOVE:
            selector.MarkerMove(hwnd, CursorOf(hwnd, lParam));
            return 0;
        case WM_LBUTTONUP:
            selector.MarkerUp(hwnd);
            return 0;
        case WM_NCDESTROY:
            delete LookOf(hwnd);
            break;
        default:
            break;
    }
    return ::DefWindowProcW(hwnd, message, wParam, lParam);
}

LRESULT CALLBACK BarProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_PAINT) {
        PaintSolid(hwnd, kGreen);
        return 0;
    }
    if (message == WM_NCHITTEST) return HTTRANSPARENT;
    return ::DefWindowProcW(hwnd, message, wParam, lParam);
}

LRESULT CALLBACK PickerProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    RegionSelector& selector = TheRegionSelector();
    switch (message) {
        case WM_PAINT: {
            const Look* look = LookOf(hwnd);
            PaintSolid(hwnd, look && look->blank ? RGB(255, 255, 255) : RGB(40, 90, 230));
            return 0;
        }
        case WM_TIMER:
            if (Look* look = LookOf(hwnd)) {
                look->blank = !look->blank;
                ::InvalidateRect(hwnd, nullptr, FALSE);
            }
            selector.PickerTick();
            return 0;
        case WM_MOUSEMOVE:
            selector.PickerMove(CursorOf(hwnd, lParam));
            return 0;
        case WM_LBUTTONUP:
            selector.PickerUp(CursorOf(hwnd, lParam));
            return 0;
        case WM_NCDESTROY:
            delete LookOf(hwnd);
            break;
        default:
            break;
    }
    return ::DefWindowProcW(hwnd, message, wParam, lParam);
}

void RegisterClasses() {
    static bool done = false;
    if (done) return;
    done = true;
    const struct {
        const wchar_t* name;
        WNDPROC proc;
    } classes[] = {
        {kMarkerClass, MarkerProc}, {kBarClass, BarProc}, {kPickerClass, PickerProc}, {kInfoClass, ::DefWindowProcW}};
    for (const auto& c : classes) {
        WNDCLASSW wc{};
        wc.lpfnWndProc = c.proc;
        wc.hInstance = ::GetModuleHandleW(nullptr);
        wc.hCursor = ::LoadCursorW(nullptr, reinterpret_cast<LPCWSTR>(IDC_ARROW));
        wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_INFOBK + 1);
        wc.lpszClassName = c.name;
        ::RegisterClassW(&wc);
    }
}

HWND MakePopup(const wchar_t* cls, const wchar_t* title, int x, int y, int w, int h, Look* look) {
    RegisterClasses();
    HWND hwnd = ::CreateWindowExW(WS_EX_TOPMOST | WS_EX_TOOLWINDOW | WS_EX_NOACTIVATE, cls, title, WS_POPUP, x, y, w, h,
                                  ThePanel().Handle(), nullptr, ::GetModuleHandleW(nullptr), nullptr);
    if (hwnd && look) ::SetWindowLongPtrW(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(look));
    return hwnd;
}

void DestroyIf(HWND& hwnd) {
    if (hwnd && ::IsWindow(hwnd)) ::DestroyWindow(hwnd);
    hwnd = nullptr;
}

recorder::Rect ScreenRect() {
    RECT desktop;
    ::GetWindowRect(::GetDesktopWindow(), &desktop);
    return {desktop.left, desktop.top, desktop.right, desktop.bottom};
}

// Every monitor together: a region may lie on any of them.
recorder::Rect VirtualScreenRect() {
    const int left = ::GetSystemMetrics(SM_XVIRTUALSCREEN);
    const int top = ::GetSystemMetrics(SM_YVIRTUALSCREEN);
    const int width = ::GetSystemMetrics(SM_CXVIRTUALSCREEN);
    const int height = ::GetSystemMetrics(SM_CYVIRTUALSCREEN);
    if (width <= 0 || height <= 0) {
        RECT desktop;
        ::GetWindowRect(::GetDesktopWindow(), &desktop);
        return {desktop.left, desktop.top, desktop.right, desktop.bottom};
    }
    return {left, top, left + width, top + height};
}

std::string RegionText(const recorder::Region& r) {
    char text[64];
    std::snprintf(text, sizeof text, "%d,%d,%d,%d", r.left, r.top, r.right, r.bottom);
    return text;
}

void PlayPickSound() {
    ::PlaySoundA(InProgramFolder("sound1.wav").c_str(), nullptr, SND_FILENAME | SND_ASYNC | SND_NODEFAULT);
}

// The window search's candidate table.
struct Search {
    POINT point;
    HWND picker;
    std::vector<recorder::CandidateRow> rows;
    std::vector<RECT> rects;
};

BOOL CALLBACK CollectChild(HWND child, LPARAM context) {
    Search* search = reinterpret_cast<Search*>(context);
    if (search->rows.back().size() >= 100) return FALSE;
    RECT r;
    ::GetWindowRect(child, &r);
    if (search->point.x >= r.left && search->point.x <= r.right && search->point.y >= r.top &&
        search->point.y <= r.bottom) {
        search->rows.back().push_back({{r.left, r.top, r.right, r.bottom}, static_cast<int>(search->rects.size())});
        search->rects.push_back(r);
    }
    return TRUE;
}

BOOL CALLBACK CollectTopLevel(HWND hwnd, LPARAM context) {
    Search* search = reinterpret_cast<Search*>(context);
    if (search->rows.size() >= 100) return FALSE;
    if (hwnd == search->picker || !::IsWindowVisible(hwnd) || ::IsIconic(hwnd)) return TRUE;
    char title[256] = {};
    ::GetWindowTextA(hwnd, title, sizeof title);
    if (recorder::IsOwnWindowTitle(title)) return TRUE;
    DWORD pid = 0;
    ::GetWindowThreadProcessId(hwnd, &pid);
    if (pid == ::GetCurrentProcessId()) return TRUE;  // markers, bars and the panel
    RECT r;
    ::GetWindowRect(hwnd, &r);
    const POINT p = search->point;
    if (!(p.x > r.left && p.x < r.right && p.y > r.top && p.y < r.bottom)) return TRUE;
    search->rows.push_back({{{r.left, r.top, r.right, r.bottom}, static_cast<int>(search->rects.size())}});
    search->rects.push_back(r);
    if (title[0]) ::EnumChildWindows(hwnd, CollectChild, context);
    return TRUE;
}

}  // namespace

RegionSelector& TheRegionSelector() {
    static RegionSelector selector;
    return selector;
}

void RegionSelector::CreateMarkers() {
    if (!left_)
        left_ = MakePopup(kMarkerClass, L"", 0, 0, recorder::kMarkerSize, recorder::kMarkerSize,
                          new Look{RGB(40, 90, 230)});
    if (!right_)
        right_ = MakePopup(kMarkerClass, L"", 0, 0, recorder::kMarkerSize, recorder::kMarkerSize,
                           new Look{RGB(220, 40, 40)});
    for (HWND m : {left_, right_}) ::SetTimer(m, kBlink, 400, nullptr);
    ParkMarkers(false);
}

void RegionSelector::ParkMarkers(bool inProcessPaused) {
    ClosePicker();
    pickerMode_ = false;
    MainDlg& panel = ThePanel();
    panel.SetImage(recorder::Button::Picker, recorder::Image::GetWindow);
    if (inProcessPaused || !left_ || !right_) return;
    RECT p;
    ::GetWindowRect(panel.Handle(), &p);
    const int y = p.top + recorder::kPanelHeight / 3;
    ::SetWindowPos(left_, HWND_TOPMOST, p.left + recorder::kPanelWidth / 15, y, recorder::kMarkerSize,
                   recorder::kMarkerSize, SWP_NOACTIVATE);
    ::SetWindowPos(right_, HWND_TOPMOST, p.left + recorder::kPanelWidth / 6, y, recorder::kMarkerSize,
                   recorder::kMarkerSize, SWP_NOACTIVATE);
    markersShown_ = false;
}

void RegionSelector::ShowCornerMarkers(bool show) {
    for (HWND m : {left_, right_})
        if (m) ::ShowWindow(m, show ? SW_SHOWNOACTIVATE : SW_HIDE);
}

void RegionSelector::HideMarkers() {
    CloseFrameBars();
}

void RegionSelector::SetFullScreenRegion() {
    HideMarkers();
    const recorder::Rect s = ScreenRect();
    recorder::Region& region = TheRegion();
    region.left = s.left;
    region.top = s.top;
    region.right = s.right;
    region.bottom = s.bottom;
    FullScreenRegion() = true;
    WriteSourceRegion(region);
    ThePanel().SetStatus("SetRegion: Full Screen");
}

void RegionSelector::PlaceMarkersAtRegion() {
    PlaceMarkersAt(TheRegion());
}

void RegionSelector::PlaceMarkersAt(const recorder::Region& r) {
    if (left_)
        ::SetWindowPos(left_, HWND_TOPMOST, r.left - recorder::kMarkerSize, r.top - recorder::kMarkerSize,
                       recorder::kMarkerSize, recorder::kMarkerSize, SWP_NOACTIVATE | SWP_SHOWWINDOW);
    if (right_)
        ::SetWindowPos(right_, HWND_TOPMOST, r.right, r.bottom, recorder::kMarkerSize, recorder::kMarkerSize,
                       SWP_NOACTIVATE | SWP_SHOWWINDOW);
}

void RegionSelector::ShowMarkers(bool recording) {
    dragging_ = false;
    HideMarkers();
    // The markers keep to the screen; the region stays what is recorded, so
    // the panel's text and the recording agree.
    const recorder::Region shown = recorder::ClampForMarkers(TheRegion(), VirtualScreenRect());
    PlaceMarkersAt(shown);
    markersShown_ = true;
    // The outline is drawn with the frame bars on every platform: an overlay
    // over the region would hide what is being recorded.
    (void)recording;
    ShowFrameBars(shown);
}

void RegionSelector::OnMarkersButton(bool recording) {
    dragging_ = false;
    HideMarkers();
    if (!markersShown_) {
        ShowInfo(
            "Move the left marker then the right marker to the upper/lower corners of the window you'd like "
            "to capture.",
            markerInfoShown_);
        markersShown_ = true;
        PlaceMarkersAtRegion();
        if (!recording) ShowFrameBars(TheRegion());
    } else {
        CloseInfo();
        markersShown_ = false;
        CloseFrameBars();
        ParkMarkers(false);
    }
}

void RegionSelector::MarkerDown(HWND marker, POINT screen) {
    ::SetCapture(marker);
    RECT r;
    ::GetWindowRect(marker, &r);
    grab_ = {screen.x - r.left, screen.y - r.top};
    dragging_ = true;
    working_ = TheRegion();
    // A drag by hand brings the corner guard back after a window pick.
    TheSettings().autoWnd = 0;
}

void RegionSelector::MarkerMove(HWND marker, POINT screen) {
    if (!dragging_ || ::GetCapture() != marker) return;
    HideMarkers();
    const int x = screen.x - grab_.x;
    const int y = screen.y - grab_.y;
    const bool topLeft = marker == left_;
    // The inner corner of the marker is the region's corner.
    const int cornerX = topLeft ? x + recorder::kMarkerSize : x;
    const int cornerY = topLeft ? y + recorder::kMarkerSize : y;
    if (!recorder::MoveCorner(working_, topLeft ? recorder::Corner::TopLeft : recorder::Corner::BottomRight, cornerX,
                              cornerY, TheSettings().autoWnd == 0))
        return;
    ::SetWindowPos(marker, HWND_TOPMOST, x, y, 0, 0, SWP_NOSIZE | SWP_NOACTIVATE);
    ThePanel().SetStatus(RegionText(working_));
    markersShown_ = true;
}

void RegionSelector::MarkerUp(HWND marker) {
    if (::GetCapture() == marker) ::ReleaseCapture();
    if (!dragging_) return;
    dragging_ = false;
    if (working_.right > 0 && working_.bottom > 0) {
        Commit(working_);
        ShowFrameBars(TheRegion());
        ThePanel().SetStatus(RegionText(TheRegion()));
    }
}

void RegionSelector::Commit(recorder::Region region) {
    region = recorder::NormaliseRegion(region, VirtualScreenRect());
    region.frameRate = TheRegion().frameRate;
    WriteSourceRegion(region);
    TheRegion() = region;
    FullScreenRegion() = false;
}

void RegionSelector::ShowFrameBars(const recorder::Region& r) {
    CloseFrameBars();
    const int t = recorder::kFrameBarThickness;
    const int w = r.right - r.left;
    const int h = r.bottom - r.top;
    const RECT places[4] = {{r.left - t, r.top - t, t, h + 2 * t},
                            {r.right, r.top - t, t, h + 2 * t},
                            {r.left, r.top - t, w, t},
                            {r.left, r.bottom, w, t}};
    for (int i = 0; i < 4; ++i) {
        bars_[i] = MakePopup(kBarClass, L"", places[i].left, places[i].top, places[i].right, places[i].bottom, nullptr);
        ::ShowWindow(bars_[i], SW_SHOWNOACTIVATE);
    }
}

void RegionSelector::CloseFrameBars() {
    bool any = false;
    for (HWND& bar : bars_) {
        any = any || bar;
        DestroyIf(bar);
    }
    if (any) ThePanel().RedrawPanel();
}

void RegionSelector::ShowInfo(const char* text, bool& shownOnce) {
    if (shownOnce) return;
    shownOnce = true;
    CloseInfo();
    RECT p;
    ::GetWindowRect(ThePanel().Handle(), &p);
    const int width = recorder::kPanelWidth - 3;
    info_ = MakePopup(kInfoClass, L"", p.left, p.top - 34, width, 34, nullptr);
    HWND label = ::CreateWindowExA(0, "STATIC", text, WS_CHILD | WS_VISIBLE, 4, 2, width - 8, 30, info_,
                                   reinterpret_cast<HMENU>(1103), ::GetModuleHandleW(nullptr), nullptr);
    ::SendMessageW(label, WM_SETFONT, reinterpret_cast<WPARAM>(::GetStockObject(DEFAULT_GUI_FONT)), TRUE);
    ::ShowWindow(info_, SW_SHOWNOACTIVATE);
}

void RegionSelector::CloseInfo() {
    DestroyIf(info_);
}

void RegionSelector::ClosePicker() {
    if (picker_ && ::GetCapture() == picker_) ::ReleaseCapture();
    pickerDragging_ = false;
    DestroyIf(picker_);
}

void RegionSelector::OnPickerButton(bool recording) {
    if (recording) return;
    if (pickerMode_) {
        ClosePicker();
        CloseInfo();
        CloseFrameBars();
        ThePanel().SetImage(recorder::Button::Picker, recorder::Image::GetWindow);
        pickerMode_ = false;
        return;
    }
    HideMarkers();
    ClosePicker();
    CloseInfo();
    pickerMode_ = true;
    PlayPickSound();
    ShowInfo("Move the marker over the window you'd like to capture, then release the mouse.", pickerInfoShown_);
    const POINT start = PickerPressPoint();
    picker_ = MakePopup(kPickerClass, L"", start.x - recorder::kMarkerSize / 2, start.y - recorder::kMarkerSize / 2,
                        recorder::kMarkerSize, recorder::kMarkerSize, new Look{RGB(40, 90, 230)});
    ::ShowWindow(picker_, SW_SHOWNOACTIVATE);
    ::SetTimer(picker_, kBlink, 250, nullptr);
    lastFound_ = RECT{};
    pickerDragging_ = true;
    ::SetCapture(picker_);
}

void RegionSelector::PickerMove(POINT screen) {
    if (!pickerDragging_) return;
    ::SetWindowPos(picker_, HWND_TOPMOST, screen.x - recorder::kMarkerSize / 2, screen.y - recorder::kMarkerSize / 2, 0,
                   0, SWP_NOSIZE | SWP_NOACTIVATE);
    hotPoint_ = screen;
    RECT panel;
    ::GetWindowRect(ThePanel().Handle(), &panel);
    if (!::PtInRect(&panel, screen)) CloseInfo();
}

void RegionSelector::PickerTick() {
    if (!pickerDragging_) {
        CloseFrameBars();
        return;
    }
    RECT found;
    if (!SearchWindow(hotPoint_, true, found)) return;
    if (::EqualRect(&found, &lastFound_)) return;
    lastFound_ = found;
    ShowFrameBars({found.left, found.top, found.right, found.bottom, 0});
}

bool RegionSelector::SearchWindow(POINT point, bool hover, RECT& found) {
    Search search{point, picker_, {}, {}};
    ::EnumWindows(CollectTopLevel, reinterpret_cast<LPARAM>(&search));
    const int id = recorder::ChooseWindow(search.rows, point.x, point.y, hover);
    if (id < 0) return false;
    found = search.rects[static_cast<std::size_t>(id)];
    return true;
}

void RegionSelector::PickerUp(POINT screen) {
    if (!pickerDragging_) return;
    RECT panel;
    ::GetWindowRect(ThePanel().Handle(), &panel);
    if (::PtInRect(&panel, screen)) {
        // Released over the panel: nothing changes.
        ::KillTimer(picker_, kBlink);
        mfc::PumpMessagesFor(200);
        ClosePicker();
        HideMarkers();
        ThePanel().SetImage(recorder::Button::Picker, recorder::Image::GetWindow);
        pickerMode_ = false;
        return;
    }
    pickerDragging_ = false;
    if (::GetCapture() == picker_) ::ReleaseCapture();
    TheSettings().autoWnd = 1;
    RECT found;
    if (SearchWindow(screen, false, found)) {
        PlayPickSound();
        const recorder::Region chosen{found.left, found.top, found.right, found.bottom, TheRegion().frameRate};
        if (chosen.right > 0 && chosen.bottom > 0) {
            Commit(chosen);
            // The picker lies under the point itself: it goes first, so the
            // window found is the one picked.
            ClosePicker();
            mfc::PumpMessagesFor(200);
            HWND top = ::WindowFromPoint(screen);
            if (top) top = ::GetAncestor(top, GA_ROOT);
            if (top) ::SetWindowPos(top, HWND_NOTOPMOST, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
            ClosePicker();
            mfc::PumpMessagesFor(250);
            ShowMarkers(false);
            ThePanel().SetStatus(RegionText(TheRegion()));
        }
    }
    ClosePicker();
    CloseFrameBars();
    if (markersShown_) ShowFrameBars(TheRegion());
    pickerMode_ = false;
    ThePanel().SetImage(recorder::Button::Picker, recorder::Image::GetWindow);
}

void RegionSelector::CloseAll() {
    ClosePicker();
    CloseInfo();
    CloseFrameBars();
    DestroyIf(left_);
    DestroyIf(right_);
}

}  // namespace zelbo
