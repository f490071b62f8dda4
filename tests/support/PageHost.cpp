#include "tests/support/PageHost.h"

#include <cstdio>

namespace pagehost {

namespace {

constexpr DWORD kFrameStyle = WS_OVERLAPPEDWINDOW | WS_CLIPCHILDREN;
constexpr int kMargin = 6;

}  // namespace

STDMETHODIMP TestPageSite::QueryInterface(REFIID riid, void** ppv) {
    if (!ppv) return E_POINTER;
    if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_IPropertyPageSite)) {
        *ppv = static_cast<IPropertyPageSite*>(this);
        return S_OK;
    }
    *ppv = nullptr;
    return E_NOINTERFACE;
}

STDMETHODIMP TestPageSite::OnStatusChange(DWORD flags) {
    if (flags & PROPPAGESTATUS_DIRTY) ++dirty;
    if (flags & PROPPAGESTATUS_VALIDATE) ++validate;
    return S_OK;
}

STDMETHODIMP TestPageSite::GetLocaleID(LCID* id) {
    if (!id) return E_POINTER;
    *id = LOCALE_USER_DEFAULT;
    return S_OK;
}

STDMETHODIMP TestPageSite::GetPageContainer(IUnknown** unk) {
    if (unk) *unk = nullptr;
    return E_NOTIMPL;
}

std::vector<CLSID> PagesOf(IUnknown* filter) {
    std::vector<CLSID> ids;
    com::ComPtr<ISpecifyPropertyPages> specify;
    if (FAILED(specify.QueryFrom(filter, IID_ISpecifyPropertyPages))) return ids;
    CAUUID pages = {};
    if (FAILED(specify->GetPages(&pages))) return ids;
    ids.assign(pages.pElems, pages.pElems + pages.cElems);
    CoTaskMemFree(pages.pElems);
    return ids;
}

HRESULT PageHost::Open(REFCLSID page, IUnknown* object) {
    Close();
    HRESULT hr = CoCreateInstance(page, NULL, CLSCTX_INPROC_SERVER, IID_IPropertyPage, page_.PutVoid());
    if (FAILED(hr)) return hr;
    hr = page_->SetPageSite(&site_);
    if (FAILED(hr)) return hr;
    sited_ = true;
    hr = page_->SetObjects(1, &object);
    if (FAILED(hr)) return hr;
    connected_ = true;
    PROPPAGEINFO info = {};
    hr = page_->GetPageInfo(&info);
    if (FAILED(hr)) return hr;
    CoTaskMemFree(info.pszTitle);
    // The frame fits the page with a small margin.
    RECT outer = {0, 0, info.size.cx + 2 * kMargin, info.size.cy + 2 * kMargin};
    AdjustWindowRect(&outer, kFrameStyle, FALSE);
    frame_ = CreateWindowExA(0, "STATIC", "Properties", kFrameStyle, 0, 0, outer.right - outer.left,
                             outer.bottom - outer.top, NULL, NULL, NULL, NULL);
    if (frame_ == NULL) return HRESULT_FROM_WIN32(GetLastError());
    RECT rc = {kMargin, kMargin, kMargin + info.size.cx, kMargin + info.size.cy};
    hr = page_->Activate(frame_, &rc, FALSE);
    if (FAILED(hr)) return hr;
    activated_ = true;
    Pump();
    return S_OK;
}

void PageHost::Close() {
    if (page_) {
        if (activated_) (void)page_->Deactivate();
        if (connected_) (void)page_->SetObjects(0, nullptr);
        if (sited_) (void)page_->SetPageSite(nullptr);
    }
    activated_ = connected_ = sited_ = false;
    page_.Reset();
    if (frame_) DestroyWindow(frame_);
    frame_ = NULL;
    Pump();
}

HWND PageHost::Dialog() const {
    return frame_ ? FindWindowExA(frame_, NULL, NULL, NULL) : NULL;
}

std::string PageHost::Text(int control) const {
    char text[512] = "";
    GetDlgItemTextA(Dialog(), control, text, sizeof text);
    return text;
}

void PageHost::SetText(int control, const char* text) const {
    SetDlgItemTextA(Dialog(), control, text);
}

void PageHost::Click(int control) const {
    SendMessageA(GetDlgItem(Dialog(), control), BM_CLICK, 0, 0);
}

bool PageHost::Choose(int control, const char* text) const {
    HWND combo = GetDlgItem(Dialog(), control);
    LRESULT i = SendMessageA(combo, CB_FINDSTRINGEXACT, static_cast<WPARAM>(-1), reinterpret_cast<LPARAM>(text));
    if (i == CB_ERR) return false;
    SendMessageA(combo, CB_SETCURSEL, static_cast<WPARAM>(i), 0);
    SendMessageA(Dialog(), WM_COMMAND, MAKEWPARAM(control, CBN_SELCHANGE), reinterpret_cast<LPARAM>(combo));
    return true;
}

std::vector<std::string> PageHost::ComboItems(int control) const {
    std::vector<std::string> items;
    HWND combo = GetDlgItem(Dialog(), control);
    LRESULT n = SendMessageA(combo, CB_GETCOUNT, 0, 0);
    for (LRESULT i = 0; i < n; ++i) {
        char text[512] = "";
        if (SendMessageA(combo, CB_GETLBTEXTLEN, static_cast<WPARAM>(i), 0) >= static_cast<LRESULT>(sizeof text))
            continue;
        SendMessageA(combo, CB_GETLBTEXT, static_cast<WPARAM>(i), reinterpret_cast<LPARAM>(text));
        items.push_back(text);
    }
    return items;
}

std::string PageHost::ComboText(int control) const {
    HWND combo = GetDlgItem(Dialog(), control);
    LRESULT i = SendMessageA(combo, CB_GETCURSEL, 0, 0);
    if (i == CB_ERR) return std::string();
    char text[512] = "";
    if (SendMessageA(combo, CB_GETLBTEXTLEN, static_cast<WPARAM>(i), 0) >= static_cast<LRESULT>(sizeof text))
        return std::string();
    SendMessageA(combo, CB_GETLBTEXT, static_cast<WPARAM>(i), reinterpret_cast<LPARAM>(text));
    return text;
}

bool PageHost::Enabled(int control) const {
    return IsWindowEnabled(GetDlgItem(Dialog(), control)) != FALSE;
}

bool PageHost::SaveShot(const std::string& path) const {
    if (frame_ == NULL) return false;
    ShowWindow(frame_, SW_SHOWNOACTIVATE);
    UpdateWindow(frame_);
    RedrawWindow(frame_, NULL, NULL, RDW_INVALIDATE | RDW_ERASE | RDW_ALLCHILDREN | RDW_UPDATENOW);
    Pump(300);
    RECT rc = {};
    GetWindowRect(frame_, &rc);
    const int w = rc.right - rc.left, h = rc.bottom - rc.top;
    HDC screen = GetDC(NULL);
    HDC mem = CreateCompatibleDC(screen);
    BITMAPINFO bi = {};
    bi.bmiHeader.biSize = sizeof bi.bmiHeader;
    bi.bmiHeader.biWidth = w;
    bi.bmiHeader.biHeight = h;
    bi.bmiHeader.biPlanes = 1;
    bi.bmiHeader.biBitCount = 24;
    void* bits = nullptr;
    HBITMAP shot = CreateDIBSection(screen, &bi, DIB_RGB_COLORS, &bits, NULL, 0);
    bool ok = false;
    if (mem && shot && bits) {
        HGDIOBJ old = SelectObject(mem, shot);
        ok = BitBlt(mem, 0, 0, w, h, screen, rc.left, rc.top, SRCCOPY) != FALSE;
        GdiFlush();
        SelectObject(mem, old);
        const DWORD stride = (static_cast<DWORD>(w) * 3 + 3) & ~3u;
        BITMAPFILEHEADER fh = {};
        fh.bfType = 0x4D42;
        fh.bfOffBits = sizeof fh + sizeof bi.bmiHeader;
        fh.bfSize = fh.bfOffBits + stride * static_cast<DWORD>(h);
        FILE* f = ok ? std::fopen(path.c_str(), "wb") : nullptr;
        ok = f != nullptr && std::fwrite(&fh, sizeof fh, 1, f) == 1 &&
             std::fwrite(&bi.bmiHeader, sizeof bi.bmiHeader, 1, f) == 1 &&
             std::fwrite(bits, stride * static_cast<DWORD>(h), 1, f) == 1;
        if (f && std::fclose(f) != 0) ok = false;
    }
    if (shot) DeleteObject(shot);
    if (mem) DeleteDC(mem);
    ReleaseDC(NULL, screen);
    ShowWindow(frame_, SW_HIDE);
    return ok;
}

void Pump(DWORD ms) {
    const DWORD start = GetTickCount();
    do {
        MSG msg;
        while (PeekMessageW(&msg, NULL, 0, 0, PM_REMOVE)) {
            TranslateMessage(&msg);
            DispatchMessageW(&msg);
        }
        if (ms) Sleep(10);
    } while (GetTickCount() - start < ms);
}

}  // namespace pagehost
