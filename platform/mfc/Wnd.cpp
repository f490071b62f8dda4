#include "platform/mfc/Wnd.h"

namespace mfc {

namespace {
const wchar_t kObjectProp[] = L"mfc.Wnd";
}

Wnd::~Wnd() {
    if (hwnd_ && ::IsWindow(hwnd_)) {
        HWND h = hwnd_;
        Detach();
        ::DestroyWindow(h);
    }
}

Wnd* Wnd::FromHandle(HWND hwnd) {
    return hwnd ? static_cast<Wnd*>(::GetPropW(hwnd, kObjectProp)) : nullptr;
}

void Wnd::Attach(HWND hwnd) {
    hwnd_ = hwnd;
    ::SetPropW(hwnd, kObjectProp, this);
}

void Wnd::Detach() {
    if (hwnd_) ::RemovePropW(hwnd_, kObjectProp);
    hwnd_ = nullptr;
}

void Wnd::SetTitle(const std::wstring& text) {
    ::SetWindowTextW(hwnd_, text.c_str());
}

std::wstring Wnd::Title() const {
    wchar_t buffer[512] = {};
    ::GetWindowTextW(hwnd_, buffer, 512);
    return buffer;
}

void Wnd::Show(int command) {
    ::ShowWindow(hwnd_, command);
}
void Wnd::Update() {
    ::UpdateWindow(hwnd_);
}
bool Wnd::StartTimer(UINT_PTR id, UINT milliseconds) {
    return ::SetTimer(hwnd_, id, milliseconds, nullptr) != 0;
}
void Wnd::StopTimer(UINT_PTR id) {
    ::KillTimer(hwnd_, id);
}

void Wnd::Destroy() {
    if (hwnd_) ::DestroyWindow(hwnd_);
}

bool Wnd::OnMessage(UINT, WPARAM, LPARAM, LRESULT&) {
    return false;
}

LRESULT CALLBACK Wnd::FrameProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    Wnd* self = FromHandle(hwnd);
    if (!self && message == WM_NCCREATE) {
        self = static_cast<Wnd*>(reinterpret_cast<CREATESTRUCTW*>(lParam)->lpCreateParams);
        if (self) self->Attach(hwnd);
    }
    if (self) {
        LRESULT result = 0;
        const bool handled = self->OnMessage(message, wParam, lParam, result);
        if (message == WM_NCDESTROY) {
            self->Detach();
            self->OnDestroyed();
        }
        if (handled) return result;
    }
    return ::DefWindowProcW(hwnd, message, wParam, lParam);
}

bool FrameWnd::Create(const wchar_t* className, const wchar_t* title, DWORD style, int x, int y, int width, int height,
                      HICON icon) {
    HINSTANCE instance = ::GetModuleHandleW(nullptr);
    WNDCLASSEXW wc{};
    if (!::GetClassInfoExW(instance, className, &wc)) {
        wc = WNDCLASSEXW{};
        wc.cbSize = sizeof wc;
        wc.lpfnWndProc = &Wnd::FrameProc;
        wc.hInstance = instance;
        wc.hCursor = ::LoadCursorW(nullptr, reinterpret_cast<LPCWSTR>(IDC_ARROW));
        wc.hIcon = icon;
        wc.hIconSm = icon;
        wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_WINDOW + 1);
        wc.lpszClassName = className;
        if (!::RegisterClassExW(&wc)) return false;
    }
    return ::CreateWindowExW(0, className, title, style, x, y, width, height, nullptr, nullptr, instance, this) !=
           nullptr;
}

}  // namespace mfc
