// The audio encoder's property pages: the settings page, whose every change
// is committed at once, and the about page.
#pragma once

#include "codec/paramkit/ParamInterfaces.h"
#include "platform/com/ComPtr.h"
#include "platform/dshow/AboutPage.h"
#include "platform/dshow/BaseClasses.h"

class AudioEncSettingsPage : public CBasePropertyPage, public IModuleCallback {
public:
    static CUnknown* WINAPI CreateInstance(LPUNKNOWN pUnk, HRESULT* phr);

    DECLARE_IUNKNOWN
    STDMETHODIMP NonDelegatingQueryInterface(REFIID riid, void** ppv) override;

    // IModuleCallback
    STDMETHODIMP OnModuleChanged(long count, const GUID* changedIds) override;

    HRESULT OnConnect(IUnknown* object) override;
    HRESULT OnDisconnect() override;
    HRESULT OnActivate() override;
    HRESULT OnApplyChanges() override;
    INT_PTR OnReceiveMessage(HWND hwnd, UINT uMsg, WPARAM wParam, LPARAM lParam) override;

private:
    explicit AudioEncSettingsPage(LPUNKNOWN pUnk);
    ~AudioEncSettingsPage() override;

    // The held parameters, in this order.
    enum Held { kLayer, kBitRate, kMode, kCopyright, kOriginal, kCrc, kHeldCount };

    void Fill();
    void FillCombo(int control, IParamConfig* param);
    int PendingInt(IParamConfig* param);
    int CommittedInt(const GUID& id);
    // The controls into pending values; true when a value was taken.
    bool ReadControls();
    bool SetComboValue(int control, IParamConfig* param);
    bool SetIntValue(IParamConfig* param, int value);

    com::ComPtr<IModuleConfig> config_;
    com::ComPtr<IParamConfig> params_[kHeldCount];
    bool registered_ = false;
    bool filling_ = false;
};

class AudioEncAboutPage : public CAboutPage {
public:
    static CUnknown* WINAPI CreateInstance(LPUNKNOWN pUnk, HRESULT* phr);

    HRESULT OnActivate() override;

private:
    explicit AudioEncAboutPage(LPUNKNOWN pUnk);
    POINT LogoOrigin(const RECT& client, SIZE logo) const override;
};
