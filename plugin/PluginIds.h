// Class ids of the plug-in's two classes and its own scale-factor interface.
#pragma once

#include <objbase.h>

// {2F903E7C-BE52-4546-97B4-63B79F6156CF}
const CLSID CLSID_AnveloAudioPlugin = {0x2f903e7c, 0xbe52, 0x4546, {0x97, 0xb4, 0x63, 0xb7, 0x9f, 0x61, 0x56, 0xcf}};
// {5985C5C4-3254-471F-B65D-F89C38D07E22}
const CLSID CLSID_AnveloAudioPluginPropPage = {
    0x5985c5c4, 0x3254, 0x471f, {0xb6, 0x5d, 0xf8, 0x9c, 0x38, 0xd0, 0x7e, 0x22}};
// {D5CFEA5E-A3DE-48AF-8FCC-2089CFF7109C}
const IID IID_IScaleFactorSetting = {0xd5cfea5e, 0xa3de, 0x48af, {0x8f, 0xcc, 0x20, 0x89, 0xcf, 0xf7, 0x10, 0x9c}};

#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wnon-virtual-dtor"
// The factor the property page edits; the plug-in only stores it.
struct IScaleFactorSetting : public IUnknown {
    virtual HRESULT STDMETHODCALLTYPE GetScaleFactor(double* pFactor) = 0;
    virtual HRESULT STDMETHODCALLTYPE SetScaleFactor(double factor) = 0;

protected:
    ~IScaleFactorSetting() = default;
};
#pragma GCC diagnostic pop

// Where the page keeps the factor (HKEY_CURRENT_USER), as factor x 65,536.
constexpr wchar_t kScaleFactorKey[] = L"Software\\Anvelo_Audio_Plugin\\DSP Plugin";
constexpr wchar_t kScaleFactorValue[] = L"ScaleFactor";
