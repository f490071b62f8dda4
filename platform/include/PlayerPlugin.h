// The media player's plug-in interface and registrar, which mingw-w64 does
// not declare. The registrar lives in the player's wmp.dll and is loaded at
// run time (there is no import library for it).
#pragma once

#include <objbase.h>

// {5FCA444C-7AD1-479D-A4EF-40566A5309D6}
const GUID IID_IWMPPluginEnable = {0x5fca444c, 0x7ad1, 0x479d, {0xa4, 0xef, 0x40, 0x56, 0x6a, 0x53, 0x09, 0xd6}};

#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wnon-virtual-dtor"
struct IWMPPluginEnable : public IUnknown {
    virtual HRESULT STDMETHODCALLTYPE SetEnable(BOOL fEnable) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetEnable(BOOL* pfEnable) = 0;

protected:
    ~IWMPPluginEnable() = default;
};
#pragma GCC diagnostic pop

// Plug-in type of an in-process DSP plug-in: {6434BAEA-4954-498D-ABD5-2B07123E1F04}.
const GUID WMP_PLUGINTYPE_DSP = {0x6434baea, 0x4954, 0x498d, {0xab, 0xd5, 0x2b, 0x07, 0x12, 0x3e, 0x1f, 0x04}};

#define WMP_PLUGIN_ENABLED_DEFAULT 0  // registration priority used by most plug-ins

typedef HRESULT(WINAPI* PFN_WMPRegisterPlayerPlugin)(LPWSTR pwszFriendlyName, LPWSTR pwszDescription,
                                                     LPWSTR pwszUninstallString, DWORD dwPriority, GUID guidPluginType,
                                                     CLSID clsid, UINT cMediaTypes, LPVOID pMediaTypes);
typedef HRESULT(WINAPI* PFN_WMPUnRegisterPlayerPlugin)(GUID guidPluginType, CLSID clsid);

// The registrar's entry points, or null (and the module stays unloaded)
// when the player is not installed.
inline HMODULE WmpLoadRegistrar(PFN_WMPRegisterPlayerPlugin* pRegister, PFN_WMPUnRegisterPlayerPlugin* pUnregister) {
    *pRegister = NULL;
    *pUnregister = NULL;
    HMODULE h = LoadLibraryW(L"wmp.dll");
    if (h == NULL) return NULL;
    *pRegister = reinterpret_cast<PFN_WMPRegisterPlayerPlugin>(
        reinterpret_cast<void (*)()>(GetProcAddress(h, "WMPRegisterPlayerPlugin")));
    *pUnregister = reinterpret_cast<PFN_WMPUnRegisterPlayerPlugin>(
        reinterpret_cast<void (*)()>(GetProcAddress(h, "WMPUnRegisterPlayerPlugin")));
    if (*pRegister == NULL || *pUnregister == NULL) {
        FreeLibrary(h);
        *pRegister = NULL;
        *pUnregister = NULL;
        return NULL;
    }
    return h;
}

// Plug-in type of a DSP plug-in for the player's Media Foundation playback,
// which runs out of process: {EF29B174-C347-44CC-9A4F-2399118FF38C}.
const GUID WMP_PLUGINTYPE_DSP_OUTOFPROC = {
    0xef29b174, 0xc347, 0x44cc, {0x9a, 0x4f, 0x23, 0x99, 0x11, 0x8f, 0xf3, 0x8c}};

// The player's plug-in registrar as a COM class (wmpservices.h):
// CLSID {5569E7F5-424B-4B93-89CA-79D17924689A},
// IWMPMediaPluginRegistrar {68E27045-05BD-40B2-9720-23088C78E390}.
const CLSID CLSID_WMPMediaPluginRegistrar = {
    0x5569e7f5, 0x424b, 0x4b93, {0x89, 0xca, 0x79, 0xd1, 0x79, 0x24, 0x68, 0x9a}};
const IID IID_IWMPMediaPluginRegistrar = {0x68e27045, 0x05bd, 0x40b2, {0x97, 0x20, 0x23, 0x08, 0x8c, 0x78, 0xe3, 0x90}};

#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wnon-virtual-dtor"
// pMediaTypes points at cMediaTypes major type / subtype GUID pairs.
struct IWMPMediaPluginRegistrar : public IUnknown {
    virtual HRESULT STDMETHODCALLTYPE WMPRegisterPlayerPlugin(LPWSTR pwszFriendlyName, LPWSTR pwszDescription,
                                                              LPWSTR pwszUninstallString, DWORD dwPriority,
                                                              GUID guidPluginType, CLSID clsid, UINT cMediaTypes,
                                                              LPVOID pMediaTypes) = 0;
    virtual HRESULT STDMETHODCALLTYPE WMPUnRegisterPlayerPlugin(GUID guidPluginType, CLSID clsid) = 0;

protected:
    ~IWMPMediaPluginRegistrar() = default;
};
#pragma GCC diagnostic pop
