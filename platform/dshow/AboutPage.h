// An about page: the derived page fills in its texts when it is shown, and
// the module's logo is drawn with its alpha. It connects only to objects
// that answer the filter's own interface.
#pragma once

#include "platform/com/ComPtr.h"
#include "platform/dshow/PropPage.h"

class CAboutPage : public CBasePropertyPage {
public:
    HRESULT OnConnect(IUnknown* object) override;
    HRESULT OnDisconnect() override;
    INT_PTR OnReceiveMessage(HWND hwnd, UINT uMsg, WPARAM wParam, LPARAM lParam) override;

protected:
    CAboutPage(LPCTSTR name, LPUNKNOWN pUnk, int dialogId, int titleId, int logoId, REFIID objectIid);
    ~CAboutPage() override;

    // Where the logo's top-left corner goes in the page's client area.
    virtual POINT LogoOrigin(const RECT& client, SIZE logo) const = 0;

private:
    const int logoId_;
    const IID objectIid_;
    com::ComPtr<IUnknown> object_;
    HBITMAP logo_ = NULL;
};
