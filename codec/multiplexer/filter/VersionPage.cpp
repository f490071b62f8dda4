#include "codec/multiplexer/filter/VersionPage.h"

#include "codec/multiplexer/filter/MuxoraPagesRes.h"
#include "codec/multiplexer/pages/PageText.h"
#include "codec/multiplexer/pages/ResourceData.h"

#include <new>

namespace muxora {

namespace {

constexpr int kLogoX = 80;
constexpr int kLogoY = 5;
constexpr int kProductNameId = -1;
const wchar_t kProductName[] = L"Korvell MPEG Muxteron";
const wchar_t kLine1[] = L"MPEG-2 program and transport stream multiplexer";
const wchar_t kLine2[] = L"Copyright (C) Korvell. All rights reserved.";

// "Version: a.b.c.d" from the library's own version resource; empty when it
// cannot be found or read.
std::wstring LibraryVersionText() {
    HINSTANCE module = AMGetModuleInstance();
    HRSRC found = FindResourceW(module, MAKEINTRESOURCEW(IDR_VERSION), MAKEINTRESOURCEW(16) /* RT_VERSION */);
    if (!found) return std::wstring();
    HGLOBAL loaded = LoadResource(module, found);
    const DWORD size = SizeofResource(module, found);
    const void* bytes = loaded ? LockResource(loaded) : nullptr;
    if (!bytes || size == 0) return std::wstring();
    auto v = muxpages::FindFileVersion(static_cast<const uint8_t*>(bytes), size);
    if (!v) return std::wstring();
    const std::string text = muxpages::VersionText((*v)[0], (*v)[1], (*v)[2], (*v)[3]);
    return std::wstring(text.begin(), text.end());
}

// AlphaBlend takes colours already scaled by alpha; the resource holds them plain.
void PremultiplyLogo(HBITMAP bitmap) {
    DIBSECTION dib{};
    if (GetObjectW(bitmap, sizeof dib, &dib) != sizeof dib) return;
    if (dib.dsBm.bmBitsPixel != 32 || !dib.dsBm.bmBits) return;
    GdiFlush();
    muxpages::PremultiplyAlpha(static_cast<uint8_t*>(dib.dsBm.bmBits),
                               static_cast<size_t>(dib.dsBm.bmWidth) * static_cast<size_t>(dib.dsBm.bmHeight));
}

}  // namespace

void DrawLogo(HDC dc, HBITMAP bitmap, int x, int y) {
    if (!bitmap || !dc) return;
    HDC memory = CreateCompatibleDC(dc);
    if (!memory) return;
    BITMAP info{};
    if (GetObjectW(bitmap, sizeof info, &info) == sizeof info) {
        HGDIOBJ old = SelectObject(memory, bitmap);
        BLENDFUNCTION blend = {AC_SRC_OVER, 0, 255, AC_SRC_ALPHA};
        AlphaBlend(dc, x, y, info.bmWidth, info.bmHeight, memory, 0, 0, info.bmWidth, info.bmHeight, blend);
        SelectObject(memory, old);
    }
    DeleteDC(memory);
}

CUnknown* WINAPI CVersionInfoPropPage::CreateInstance(LPUNKNOWN outer, HRESULT* phr) {
    CVersionInfoPropPage* page = new (std::nothrow) CVersionInfoPropPage(outer);
    if (!page && phr) *phr = E_OUTOFMEMORY;
    return page;
}

CVersionInfoPropPage::CVersionInfoPropPage(LPUNKNOWN outer)
    : CBasePropertyPage(NAME("Muxteron About Page"), outer, IDD_ABOUT, IDS_ABOUT_TITLE) {}

CVersionInfoPropPage::~CVersionInfoPropPage() {
    FreeLogo();
}

void CVersionInfoPropPage::FreeLogo() {
    if (logo_) DeleteObject(logo_);
    logo_ = nullptr;
}

HRESULT CVersionInfoPropPage::OnConnect(IUnknown* object) {
    if (!config_) {
        if (!object) return E_POINTER;
        HRESULT hr = config_.QueryFrom(object, IID_IModuleConfig);
        if (FAILED(hr)) return E_NOINTERFACE;
    }
    FreeLogo();
    logo_ = static_cast<HBITMAP>(
        LoadImageW(AMGetModuleInstance(), MAKEINTRESOURCEW(IDB_LOGO), IMAGE_BITMAP, 0, 0, LR_CREATEDIBSECTION));
    if (logo_) PremultiplyLogo(logo_);
    return S_OK;
}

HRESULT CVersionInfoPropPage::OnDisconnect() {
    FreeLogo();
    config_.Reset();
    return S_OK;
}

HRESULT CVersionInfoPropPage::OnActivate() {
    if (!m_Dlg) return E_UNEXPECTED;
    // The static without an id is also the dialog's first control.
    HWND name = GetDlgItem(m_Dlg, kProductNameId);
    if (!name) name = GetWindow(m_Dlg, GW_CHILD);
    if (name) SetWindowTextW(name, kProductName);
    const std::wstring version = LibraryVersionText();
    if (!version.empty()) SetDlgItemTextW(m_Dlg, IDC_VERSION, version.c_str());
    SetDlgItemTextW(m_Dlg, IDC_ABOUT_LINE1, kLine1);
    SetDlgItemTextW(m_Dlg, IDC_ABOUT_LINE2, kLine2);
    return S_OK;
}

INT_PTR CVersionInfoPropPage::OnReceiveMessage(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    window_ = hwnd;
    if (message == WM_PAINT) {
        // The dialog's own background first (BeginPaint erases it), then the logo.
        PAINTSTRUCT ps;
        HDC dc = BeginPaint(hwnd, &ps);
        if (dc) {
            DrawLogo(dc, logo_, kLogoX, kLogoY);
            EndPaint(hwnd, &ps);
        }
        return TRUE;
    }
    return CBasePropertyPage::OnReceiveMessage(hwnd, message, wParam, lParam);
}

}  // namespace muxora
