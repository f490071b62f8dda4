#include "platform/dshow/AboutPage.h"

#include "platform/dshow/PageLogo.h"

CAboutPage::CAboutPage(LPCTSTR name, LPUNKNOWN pUnk, int dialogId, int titleId, int logoId, REFIID objectIid)
    : CBasePropertyPage(name, pUnk, dialogId, titleId), logoId_(logoId), objectIid_(objectIid) {}

CAboutPage::~CAboutPage() {
    if (logo_) DeleteObject(logo_);
}

HRESULT CAboutPage::OnConnect(IUnknown* object) {
    if (!object_) {
        HRESULT hr = object_.QueryFrom(object, objectIid_);
        if (FAILED(hr)) return hr;
    }
    if (logo_ == NULL) logo_ = LoadPageLogo(logoId_);
    return S_OK;
}

HRESULT CAboutPage::OnDisconnect() {
    object_.Reset();
    if (logo_) DeleteObject(logo_);
    logo_ = NULL;
    return S_OK;
}

INT_PTR CAboutPage::OnReceiveMessage(HWND hwnd, UINT uMsg, WPARAM wParam, LPARAM lParam) {
    if (uMsg == WM_PAINT) {
        DefWindowProcW(hwnd, uMsg, wParam, lParam);
        HDC dc = GetDC(hwnd);
        if (dc) {
            RECT client = {};
            GetClientRect(hwnd, &client);
            const POINT at = LogoOrigin(client, LogoSize(logo_));
            DrawAlphaLogo(dc, logo_, at.x, at.y);
            ReleaseDC(hwnd, dc);
        }
        return TRUE;
    }
    return CBasePropertyPage::OnReceiveMessage(hwnd, uMsg, wParam, lParam);
}
