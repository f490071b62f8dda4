// CAnvelo_Audio_PluginPropPage: shows and edits the scale factor, stores it
// as "ScaleFactor" and passes it to the plug-in object.
#pragma once

#include "platform/dshow/BaseClasses.h"

#include "platform/com/ComPtr.h"
#include "plugin/PluginIds.h"

class CAnveloAudioPluginPropPage : public CBasePropertyPage {
public:
    static CUnknown* WINAPI CreateInstance(LPUNKNOWN pUnk, HRESULT* phr);

    // Keeps the first object that answers IScaleFactorSetting.
    STDMETHODIMP SetObjects(ULONG cObjects, LPUNKNOWN* ppUnk) override;

    INT_PTR OnReceiveMessage(HWND hwnd, UINT uMsg, WPARAM wParam, LPARAM lParam) override;
    HRESULT OnApplyChanges() override;

private:
    explicit CAnveloAudioPluginPropPage(LPUNKNOWN pUnk);
    double ShownFactor();

    com::ComPtr<IScaleFactorSetting> setting_;
    bool initializing_ = false;
};
