// A window object bound to its HWND with virtual message dispatch.
#pragma once

#include <windows.h>

#include <string>

namespace mfc {

class Wnd {
public:
    Wnd() = default;
    virtual ~Wnd();
    Wnd(const Wnd&) = delete;
    Wnd& operator=(const Wnd&) = delete;

    HWND Handle() const { return hwnd_; }
    bool Exists() const { return hwnd_ != nullptr && ::IsWindow(hwnd_); }

    // The object that owns `hwnd`, or null for foreign windows.
    static Wnd* FromHandle(HWND hwnd);

    void SetTitle(const std::wstring& text);
    std::wstring Title() const;
    void Show(int command);
    void Update();
    bool StartTimer(UINT_PTR id, UINT milliseconds);
    void StopTimer(UINT_PTR id);
    HWND Item(int id) const { return ::GetDlgItem(hwnd_, id); }
    void Destroy();

protected:
    // Called for every message; return true when handled (with `result`).
    virtual bool OnMessage(UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result);
    // The window is gone; the HWND is no longer valid.
    virtual void OnDestroyed() {}

    void Attach(HWND hwnd);
    void Detach();

    HWND hwnd_ = nullptr;

    friend class FrameWnd;
    friend class Dialog;
    static LRESULT CALLBACK FrameProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);
};

// A top-level window of its own registered class.
class FrameWnd : public Wnd {
public:
    // Registers `className` (arrow cursor, the given icon) on first use and
    // creates the window.
    bool Create(const wchar_t* className, const wchar_t* title, DWORD style, int x, int y, int width, int height,
                HICON icon);
};

}  // namespace mfc
