// Self-registration of every class in the DLL's template table.
#include "platform/dshow/BaseClasses.h"

STDAPI AMovieDllRegisterServer2(BOOL bRegister) {
    WCHAR path[MAX_PATH];
    DWORD n = GetModuleFileNameW(AMGetModuleInstance(), path, MAX_PATH);
    if (n == 0 || n >= MAX_PATH) return HRESULT_FROM_WIN32(GetLastError() ? GetLastError() : ERROR_INSUFFICIENT_BUFFER);

    HRESULT hrInit = CoInitializeEx(NULL, COINIT_APARTMENTTHREADED);
    HRESULT hr = S_OK;

    if (bRegister) {
        for (int i = 0; i < g_cTemplates && SUCCEEDED(hr); i++)
            hr = AMovieSetupRegisterServer(*g_Templates[i].m_ClsID, g_Templates[i].m_Name, path, L"Both",
                                           L"InprocServer32");
    }

    if (SUCCEEDED(hr)) {
        IFilterMapper2* pMapper = NULL;
        bool any = false;
        for (int i = 0; i < g_cTemplates; i++) any = any || g_Templates[i].m_pAMovieSetup_Filter != NULL;
        if (any) {
            hr = CoCreateInstance(CLSID_FilterMapper2, NULL, CLSCTX_INPROC_SERVER, IID_IFilterMapper2,
                                  reinterpret_cast<void**>(&pMapper));
            for (int i = 0; i < g_cTemplates && SUCCEEDED(hr); i++) {
                const AMOVIESETUP_FILTER* pSetup = g_Templates[i].m_pAMovieSetup_Filter;
                if (pSetup != NULL) hr = AMovieSetupRegisterFilter2(pSetup, pMapper, bRegister);
            }
            if (pMapper) pMapper->Release();
        }
    }

    if (!bRegister) {
        // Removal goes on past failures so as much as possible is cleaned up.
        for (int i = 0; i < g_cTemplates; i++) {
            HRESULT hrDel = AMovieSetupUnregisterServer(*g_Templates[i].m_ClsID);
            if (FAILED(hrDel) && SUCCEEDED(hr)) hr = hrDel;
        }
    }

    if (SUCCEEDED(hrInit)) CoUninitialize();
    return SUCCEEDED(hr) ? S_OK : hr;
}
