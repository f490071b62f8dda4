#include "recorder/app/MainWindow.h"

#include "recorder/app/MainDlg.h"
#include "recorder/app/Program.h"
#include "recorder/app/resource.h"

namespace zelbo {

namespace {
const UINT_PTR kTimer = 1;
const int kSplashWidth = 425;
const int kSplashHeight = 159;
}  // namespace

SplashDlg::SplashDlg() : mfc::Dialog(IDD_SPLASH) {}

BOOL SplashDlg::OnInitDialog() {
    RECT r;
    ::GetWindowRect(hwnd_, &r);
    ::SetWindowPos(hwnd_, nullptr, r.left, r.top, kSplashWidth, kSplashHeight, SWP_NOZORDER);
    HWND picture = Item(IDC_SPLASH_BITMAP);
    ::SetWindowPos(picture, nullptr, 0, 0, kSplashWidth, kSplashHeight, SWP_NOZORDER);
    ::SendMessageW(picture, STM_SETIMAGE, IMAGE_BITMAP,
                   reinterpret_cast<LPARAM>(
                       ::LoadImageA(::GetModuleHandleW(nullptr), "splash", IMAGE_BITMAP, 0, 0, LR_DEFAULTCOLOR)));
    StartTimer(kTimer, 1000);
    return TRUE;
}

void SplashDlg::Close() {
    StopTimer(kTimer);
    HWND picture = Item(IDC_SPLASH_BITMAP);
    if (picture) {
        HBITMAP bitmap = reinterpret_cast<HBITMAP>(::SendMessageW(picture, STM_GETIMAGE, IMAGE_BITMAP, 0));
        ::DestroyWindow(picture);
        if (bitmap) ::DeleteObject(bitmap);
    }
    EndModal(IDOK);
}

bool SplashDlg::OnMessage(UINT message, WPARAM wParam, LPARAM, LRESULT& result) {
    if (message == WM_TIMER && wParam == kTimer) {
        if (++ticks_ >= 4) Close();
        result = 0;
        return true;
    }
    if (message == WM_LBUTTONDOWN) {
        Close();
        result = 0;
        return true;
    }
    return false;
}

bool MainWindow::Create() {
    HICON icon = ::LoadIconW(::GetModuleHandleW(nullptr), MAKEINTRESOURCEW(IDI_PROGRAM));
    // Far off screen: the frame only carries the title peers look for.
    return FrameWnd::Create(L"ZelboMainFrame", L"Vantor", WS_OVERLAPPEDWINDOW, -32000, -32000, -32000, -32000, icon);
}

bool MainWindow::OnMessage(UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result) {
    const Messages& m = RegisteredMessages();
    if (message == m.engine && m.engine != 0) {
        recorder::Controller* control = ThePanel().Control();
        result = control ? control->OnEngineCode(static_cast<int>(wParam)) : 1;
        return true;
    }
    switch (message) {
        case WM_CREATE: {
            MainFrameHandle() = hwnd_;
            SplashDlg splash;
            splash.DoModal(hwnd_);
            StartTimer(kTimer, 1000);
            result = 0;
            return true;
        }
        case WM_TIMER:
            if (wParam != kTimer) return false;
            StopTimer(kTimer);
            if (!ThePanel().Exists() && ThePanel().CreateModeless(hwnd_)) {
                ThePanel().Show(SW_RESTORE);
                ThePanel().PlaceOnDesktop();
                ThePanel().Update();
            }
            result = 0;
            return true;
        case WM_CLOSE:
            // The exit sequence asks about a running recording itself.
            ThePanel().RunExitSequence();
            result = 0;
            return true;
        default:
            break;
    }
    (void)lParam;
    return false;
}

}  // namespace zelbo
