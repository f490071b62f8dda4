#include "levelmeter/app/MeterDialog.h"

#include <commctrl.h>

#include <cstdio>

#include "levelmeter/app/Meter.h"
#include "levelmeter/app/WaveInput.h"
#include "levelmeter/app/resource.h"
#include "levelmeter/core/Layout.h"

namespace wavrel {

namespace {

const UINT_PTR kMiniTimer = 1;
const UINT kMiniDelayMs = 1000;
const UINT kTrayMessage = WM_USER + 3;
const UINT kTrayId = 104;
const int kSliderMax = 100;
const int kSliderTicks = 11;
const int kReadoutFontHeight = 14;
const UINT kVerdictTimeoutMs = 5000;
const COLORREF kFillColour = RGB(60, 240, 120);
const int kBarPen = 8;

RECT ToRect(const Rect& r) {
    return RECT{r.left, r.top, r.right, r.bottom};
}

void DrawRectangle(HDC dc, COLORREF colour, int width, int left, int top, int right, int bottom) {
    HPEN pen = ::CreatePen(PS_SOLID, width, colour);
    HBRUSH brush = ::CreateSolidBrush(colour);
    HGDIOBJ oldPen = ::SelectObject(dc, pen);
    HGDIOBJ oldBrush = ::SelectObject(dc, brush);
    ::Rectangle(dc, left, top, right, bottom);
    ::SelectObject(dc, oldBrush);
    ::SelectObject(dc, oldPen);
    ::DeleteObject(brush);
    ::DeleteObject(pen);
}

void DrawLine(HDC dc, int x0, int y0, int x1, int y1) {
    HGDIOBJ old = ::SelectObject(dc, ::GetStockObject(BLACK_PEN));
    ::MoveToEx(dc, x0, y0, nullptr);
    ::LineTo(dc, x1, y1);
    ::SelectObject(dc, old);
}

void DrawFrame(HDC dc, int left, int top, int right, int bottom) {
    DrawLine(dc, left, top, right, top);
    DrawLine(dc, right, top, right, bottom);
    DrawLine(dc, right, bottom, left, bottom);
    DrawLine(dc, left, bottom, left, top);
}

HBITMAP LoadBitmapNamed(const char* name) {
    return static_cast<HBITMAP>(::LoadImageA(::GetModuleHandleW(nullptr), name, IMAGE_BITMAP, 0, 0, LR_DEFAULTCOLOR));
}

}  // namespace

MeterDialog::MeterDialog() : mfc::Dialog(IDD_METER) {}

MeterDialog::~MeterDialog() {
    for (HBITMAP b : {background_, up_, down_, mini_})
        if (b) ::DeleteObject(b);
    if (font_) ::DeleteObject(font_);
}

HWND MeterDialog::MakePicture(int id, int left, int top, int right, int bottom, const char* bitmap) {
    // No SS_NOTIFY: clicks reach the dialog, which hit-tests them.
    HWND control = ::CreateWindowExW(0, L"STATIC", nullptr, WS_CHILD | WS_VISIBLE | SS_BITMAP, left, top, right - left,
                                     bottom - top, hwnd_, reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)),
                                     ::GetModuleHandleW(nullptr), nullptr);
    SetPicture(control, bitmap);
    return control;
}

void MeterDialog::SetPicture(HWND control, const char* bitmap) {
    HBITMAP image = up_;
    if (std::string(bitmap) == "BUTTONDOWN") image = down_;
    if (std::string(bitmap) == "BUTTONMINIUP") image = mini_;
    if (control) ::SendMessageW(control, STM_SETIMAGE, IMAGE_BITMAP, reinterpret_cast<LPARAM>(image));
}

BOOL MeterDialog::OnInitDialog() {
    background_ = LoadBitmapNamed("BUTTONS");
    up_ = LoadBitmapNamed("BUTTONUP");
    down_ = LoadBitmapNamed("BUTTONDOWN");
    mini_ = LoadBitmapNamed("BUTTONMINIUP");
    ::SendDlgItemMessageW(hwnd_, IDC_BACKGROUND, STM_SETIMAGE, IMAGE_BITMAP, reinterpret_cast<LPARAM>(background_));
    ::SetWindowPos(hwnd_, nullptr, 0, 0, kWindowWidth, kWindowHeight, SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
    RECT client;
    ::GetClientRect(hwnd_, &client);
    const Rect compress = CompressionButtonRect();
    const Rect reset = PeakResetButtonRect();
    const Rect hide = HideButtonRect(client.right);
    compressButton_ =
        MakePicture(IDC_COMPRESS_BUTTON, compress.left, compress.top, compress.right, compress.bottom, "BUTTONUP");
    resetButton_ = MakePicture(IDC_RESET_BUTTON, reset.left, reset.top, reset.right, reset.bottom, "BUTTONUP");
    MakePicture(IDC_HIDE_BUTTON, hide.left, hide.top, hide.right, hide.bottom, "BUTTONMINIUP");
    SetTitle(L"Wavrel");

    HWND slider = Item(IDC_SLIDER);
    ::SendMessageW(slider, TBM_SETRANGE, TRUE, MAKELPARAM(0, kSliderMax));
    ::SendMessageW(slider, TBM_SETTICFREQ, kSliderTicks, 0);
    const RECT s = ToRect(SliderRect(client.right, client.bottom));
    ::MoveWindow(slider, s.left, s.top, s.right - s.left, s.bottom - s.top, TRUE);
    std::uint32_t volume = 0;
    if (ReadOutputVolume(volume))
        SetSliderPosition(SliderPositionForVolume(volume));
    else
        Trace("\r\nCannot read the output volume");

    const RECT r = ToRect(ReadoutRect());
    HWND readout = ::CreateWindowExW(
        0, L"EDIT", L"", WS_CHILD | WS_VISIBLE | ES_READONLY, r.left, r.top, r.right - r.left, r.bottom - r.top, hwnd_,
        reinterpret_cast<HMENU>(static_cast<INT_PTR>(IDC_READOUT)), ::GetModuleHandleW(nullptr), nullptr);
    font_ = ::CreateFontW(kReadoutFontHeight, 0, 0, 0, FW_NORMAL, FALSE, FALSE, FALSE, DEFAULT_CHARSET,
                          OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY, DEFAULT_PITCH | FF_SWISS, L"arial");
    ::SendMessageW(readout, WM_SETFONT, reinterpret_cast<WPARAM>(font_), TRUE);
    barLeft_ = barRight_ = 0;

    icon_ = ::LoadIconW(::GetModuleHandleW(nullptr), MAKEINTRESOURCEW(IDI_METER));
    ::SendMessageW(hwnd_, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(icon_));
    tray_.cbSize = sizeof tray_;
    tray_.hWnd = hwnd_;
    tray_.uID = kTrayId;
    tray_.uFlags = NIF_ICON | NIF_MESSAGE | NIF_TIP;
    tray_.uCallbackMessage = kTrayMessage;
    tray_.hIcon = icon_;
    wcscpy_s(tray_.szTip, L"Wavrel Meter");
    trayAdded_ = ::Shell_NotifyIconW(NIM_ADD, &tray_) != FALSE;
    if (!trayAdded_) Trace("\r\nNo tray icon");

    const StartOptions& options = State().options;
    if (!options.mini) {
        Place();
        if (options.compressOff) SetCompression(false);
        if (options.compressOn) SetCompression(true);
    }
    if (options.audioTest) {
        State().view.SetAudioTest(true);
        Show(SW_HIDE);
    }
    if (options.mini) StartTimer(kMiniTimer, kMiniDelayMs);
    return TRUE;
}

void MeterDialog::Place() {
    PlacementInput in;
    RECT window;
    RECT client;
    RECT desktop;
    ::GetWindowRect(hwnd_, &window);
    ::GetClientRect(hwnd_, &client);
    ::GetWindowRect(::GetDesktopWindow(), &desktop);
    in.windowWidth = window.right - window.left;
    in.windowHeight = window.bottom - window.top;
    in.clientWidth = client.right;
    in.clientHeight = client.bottom;
    in.desktopWidth = desktop.right - desktop.left;
    in.desktopHeight = desktop.bottom - desktop.top;
    in.showMode = State().options.show;
    RECT other;
    if (HWND test = ::FindWindowA(nullptr, "Audio Test")) {
        ::GetWindowRect(test, &other);
        in.audioTestWindow = true;
        in.audioTest = {other.left, other.top, other.right, other.bottom};
    }
    if (HWND panel = ::FindWindowA(nullptr, "Zelbo")) {
        ::GetWindowRect(panel, &other);
        in.panelWindow = true;
        in.panel = {other.left, other.top, other.right, other.bottom};
    }
    const Placement p = PlaceMeter(in);
    ::SetWindowPos(hwnd_, p.topMost ? HWND_TOPMOST : nullptr, p.x, p.y, 0, 0,
                   SWP_NOSIZE | SWP_NOACTIVATE | (p.topMost ? 0 : SWP_NOZORDER));
}

void MeterDialog::SetSliderPosition(int position) {
    ::SendDlgItemMessageW(hwnd_, IDC_SLIDER, TBM_SETPOS, TRUE, position);
}

void MeterDialog::SetCompression(bool on) {
    State().limiter.SetCompression(!on);
    ToggleCompression();
}

void MeterDialog::ToggleCompression() {
    Limiter& limiter = State().limiter;
    if (limiter.Compression()) {
        SetPicture(compressButton_, "BUTTONUP");
        limiter.SetCompression(false);
        return;
    }
    SetPicture(compressButton_, "BUTTONDOWN");
    limiter.SetCompression(true);
    // The volume before any limiting, for the user to go back to.
    const std::string& path = State().soundFile;
    FILE* probe = std::fopen(path.c_str(), "a");
    if (!probe) return;
    std::fclose(probe);
    std::uint32_t volume = 0;
    if (!ReadOutputVolume(volume)) return;
    FILE* out = std::fopen(path.c_str(), "w");
    if (!out) return;
    const std::string text = SoundFileText(volume);
    if (std::fputs(text.c_str(), out) < 0) Trace("\r\nCannot write Sound.txt");
    if (std::fclose(out) != 0) Trace("\r\nCannot close Sound.txt");
}

void MeterDialog::SetReadout(const std::string& text) {
    ::SetDlgItemTextA(hwnd_, IDC_READOUT, text.c_str());
}

void MeterDialog::ResetPeaks() {
    State().view.ResetPeaks();
    barLeft_ = barRight_ = 0;
    ::InvalidateRect(hwnd_, nullptr, TRUE);
}

void MeterDialog::OnLevelUpdate(int left, int right) {
    MeterState& state = State();
    bool mark = state.limiter.Mark();
    const UpdateResult r = state.view.Update(left, right, mark);
    if (!mark) state.limiter.ClearMark();
    if (r.setReadout) SetReadout(r.readout);
    if (r.verdict != Verdict::None) {
        // Without the window the test ends all the same.
        if (HWND test = ::FindWindowA(nullptr, "Audio Test")) {
            DWORD_PTR answer = 0;
            if (!::SendMessageTimeoutA(test, r.verdict == Verdict::SoundDetected ? kSoundDetected : kNoSound,
                                       static_cast<WPARAM>(r.reportLeft), static_cast<LPARAM>(r.reportRight),
                                       SMTO_NORMAL, kVerdictTimeoutMs, &answer))
                Trace("\r\nThe audio test window did not answer");
        }
    }
    DrawBars(left, right);
}

void MeterDialog::DrawBars(int left, int right) {
    RECT client;
    ::GetClientRect(hwnd_, &client);
    HDC dc = ::GetDC(hwnd_);
    if (!dc) return;
    const int levels[2] = {left, right};
    int* stored[2] = {&barLeft_, &barRight_};
    for (int i = 0; i < 2; ++i) {
        const Bar bar = LevelBar(client.right, client.bottom, i == 1);
        DrawFrame(dc, bar.x, bar.top, bar.x + 15, bar.bottom);
        DrawRectangle(dc, RGB(255, 255, 255), kBarPen, bar.x + 6, bar.top + 6, bar.x + 11, bar.bottom - 4);
        const int h = FillHeight(levels[i], bar.height);
        DrawRectangle(dc, kFillColour, kBarPen, bar.x + 6, bar.bottom - h - 2, bar.x + 11, bar.bottom - 4);
        DrawLine(dc, bar.x + 2, bar.bottom - h - 5, bar.x + 13, bar.bottom - h - 5);
        *stored[i] = h;
    }
    ::ReleaseDC(hwnd_, dc);
}

void MeterDialog::OnSlider() {
    const int position = static_cast<int>(::SendDlgItemMessageW(hwnd_, IDC_SLIDER, TBM_GETPOS, 0, 0));
    if (!WriteOutputVolume(BothChannels(ChannelForSliderPosition(position)))) Trace("\r\nCannot set the output volume");
    ReportVolume(SliderPercent(position));
}

void MeterDialog::ShowRestored() {
    State().hidden = false;
    Show(SW_RESTORE);
    Update();
    ::SetForegroundWindow(hwnd_);
}

void MeterDialog::HideMeter() {
    State().hidden = true;
    Show(SW_HIDE);
}

bool MeterDialog::OnCommand(int code, LPARAM value) {
    switch (code) {
        case kCompressionOn:
            SetCompression(true);
            return true;
        case kCompressionOff:
            SetCompression(false);
            return true;
        case kShow:
            ShowRestored();
            return true;
        case kHide:
            HideMeter();
            return true;
        case kSliderPercent:
            // Only the slider follows: the volume was set by the sender.
            SetSliderPosition(100 - static_cast<int>(value));
            return true;
        default:
            return false;
    }
}

void MeterDialog::OnButtonDown(int x, int y) {
    char text[32];
    std::snprintf(text, sizeof text, "%d,%d", x, y);
    SetReadout(text);
    switch (HitPress(x, y)) {
        case PressTarget::PeakReset:
            SetPicture(resetButton_, "BUTTONDOWN");
            break;
        case PressTarget::Hide:
            HideMeter();
            break;
        case PressTarget::None:
            break;
    }
}

void MeterDialog::OnButtonUp(int x, int y) {
    switch (HitRelease(x, y)) {
        case ReleaseTarget::Compression:
            ToggleCompression();
            break;
        case ReleaseTarget::PeakReset:
            ResetPeaks();
            SetPicture(resetButton_, "BUTTONUP");
            break;
        case ReleaseTarget::None:
            break;
    }
}

void MeterDialog::OnTray(LPARAM event) {
    if (event != WM_LBUTTONUP) return;
    if (State().hidden)
        ShowRestored();
    else
        HideMeter();
}

void MeterDialog::Close() {
    State().closing = true;
    if (trayAdded_ && !::Shell_NotifyIconW(NIM_DELETE, &tray_)) Trace("\r\nCannot remove the tray icon");
    TheWaveInput().Stop();
    ::ExitProcess(0);
}

bool MeterDialog::OnMessage(UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result) {
    const Messages& m = RegisteredMessages();
    if (message == m.levelUpdate) {
        OnLevelUpdate(static_cast<int>(wParam), static_cast<int>(lParam));
        result = 0;
        return true;
    }
    if (message == m.meter) {
        OnCommand(static_cast<int>(wParam), lParam);
        result = 1;
        return true;
    }
    switch (message) {
        case kTrayMessage:
            OnTray(lParam);
            return true;
        case WM_VSCROLL:
            OnSlider();
            return true;
        case WM_LBUTTONDOWN:
            OnButtonDown(static_cast<short>(LOWORD(lParam)), static_cast<short>(HIWORD(lParam)));
            return true;
        case WM_LBUTTONUP:
            OnButtonUp(static_cast<short>(LOWORD(lParam)), static_cast<short>(HIWORD(lParam)));
            return true;
        case WM_MOUSEMOVE:
            ::SetFocus(hwnd_);
            return true;
        case WM_TIMER:
            if (wParam != kMiniTimer) return false;
            StopTimer(kMiniTimer);
            HideMeter();
            return true;
        case WM_CLOSE:
            Close();
            return true;
        default:
            return false;
    }
}

}  // namespace wavrel
