// The Windows Media Format runtime's creator functions, loaded from
// wmvcore.dll at run time (mingw-w64 has its interfaces in wmsdkidl.h but
// no import library): a machine without the runtime gets a failing result
// from these calls, not a program that cannot start.
#pragma once

#include <windows.h>
#include <wmsdkidl.h>

typedef HRESULT(STDMETHODCALLTYPE* PFN_WMCreateProfileManager)(IWMProfileManager** ppProfileManager);
typedef HRESULT(STDMETHODCALLTYPE* PFN_WMCreateWriter)(IUnknown* pUnkCert, IWMWriter** ppWriter);

// One loaded module for the life of the process; null entries when the
// runtime is missing.
struct WmvCoreFunctions {
    PFN_WMCreateProfileManager createProfileManager;
    PFN_WMCreateWriter createWriter;
};

inline const WmvCoreFunctions& WmvCore() {
    static const WmvCoreFunctions f = [] {
        WmvCoreFunctions r = {NULL, NULL};
        HMODULE h = LoadLibraryW(L"wmvcore.dll");
        if (h != NULL) {
            r.createProfileManager = reinterpret_cast<PFN_WMCreateProfileManager>(
                reinterpret_cast<void (*)()>(GetProcAddress(h, "WMCreateProfileManager")));
            r.createWriter =
                reinterpret_cast<PFN_WMCreateWriter>(reinterpret_cast<void (*)()>(GetProcAddress(h, "WMCreateWriter")));
        }
        return r;
    }();
    return f;
}

inline HRESULT WmvCreateProfileManager(IWMProfileManager** pp) {
    if (pp == NULL) return E_POINTER;
    *pp = NULL;
    return WmvCore().createProfileManager ? WmvCore().createProfileManager(pp) : REGDB_E_CLASSNOTREG;
}

inline HRESULT WmvCreateWriter(IWMWriter** pp) {
    if (pp == NULL) return E_POINTER;
    *pp = NULL;
    return WmvCore().createWriter ? WmvCore().createWriter(NULL, pp) : REGDB_E_CLASSNOTREG;
}
