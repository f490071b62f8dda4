// "About": the multiplexer's version page, with the product name, the
// library's version and the logo.
#pragma once

#include "platform/dshow/BaseClasses.h"
#include "platform/dshow/PropPage.h"

#include "codec/paramkit/ParamInterfaces.h"
#include "platform/com/ComPtr.h"

namespace muxora {

// Draws a 32-bit bitmap with per-pixel alpha 1:1 at (x, y); nothing for a null bitmap.
void DrawLogo(HDC dc, HBITMAP bitmap, int x, int y);

class CVersionInfoPropPage : public CBasePropertyPage {
public:
    static CUnknown* WINAPI CreateInstance(LPUNKNOWN outer, HRESULT* phr);
    explicit CVersionInfoPropPage(LPUNKNOWN outer);
    ~CVersionInfoPropPage() override;

    HRESULT OnConnect(IUnknown* object) override;
    HRESULT OnDisconnect() override;
    HRESULT OnActivate() override;
    INT_PTR OnReceiveMessage(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) override;

private:
    void FreeLogo();

    com::ComPtr<IModuleConfig> config_;
    HWND window_ = nullptr;
    HBITMAP logo_ = nullptr;
};

}  // namespace muxora
