#include <cwchar>

#include "platform/dshow/Setup.h"

static void ClsidKeyName(REFCLSID clsid, WCHAR* buf, size_t cch) {
    WCHAR guid[40];
    StringFromGUID2(clsid, guid, 40);
    StringCchPrintfW(buf, cch, L"CLSID\\%ls", guid);
}

static HRESULT SetDefaultValue(HKEY hKey, LPCWSTR name, LPCWSTR value) {
    DWORD cb = static_cast<DWORD>((wcslen(value) + 1) * sizeof(WCHAR));
    LONG r = RegSetValueExW(hKey, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value), cb);
    return HRESULT_FROM_WIN32(r);
}

STDAPI AMovieSetupRegisterServer(CLSID clsServer, LPCWSTR szDescription, LPCWSTR szFileName, LPCWSTR szThreadingModel,
                                 LPCWSTR szServerType) {
    CheckPointer(szFileName, E_POINTER);
    WCHAR key[64];
    ClsidKeyName(clsServer, key, 64);
    HKEY hClsid = NULL;
    LONG r = RegCreateKeyExW(HKEY_CLASSES_ROOT, key, 0, NULL, 0, KEY_WRITE, NULL, &hClsid, NULL);
    if (r != ERROR_SUCCESS) return HRESULT_FROM_WIN32(r);
    HRESULT hr = SetDefaultValue(hClsid, NULL, szDescription ? szDescription : L"");
    if (SUCCEEDED(hr)) {
        HKEY hServer = NULL;
        r = RegCreateKeyExW(hClsid, szServerType ? szServerType : L"InprocServer32", 0, NULL, 0, KEY_WRITE, NULL,
                            &hServer, NULL);
        hr = HRESULT_FROM_WIN32(r);
        if (SUCCEEDED(hr)) {
            hr = SetDefaultValue(hServer, NULL, szFileName);
            if (SUCCEEDED(hr) && szThreadingModel != NULL)
                hr = SetDefaultValue(hServer, L"ThreadingModel", szThreadingModel);
            RegCloseKey(hServer);
        }
    }
    RegCloseKey(hClsid);
    return hr;
}

STDAPI AMovieSetupUnregisterServer(CLSID clsServer) {
    WCHAR key[64];
    ClsidKeyName(clsServer, key, 64);
    LONG r = RegDeleteTreeW(HKEY_CLASSES_ROOT, key);
    if (r == ERROR_FILE_NOT_FOUND) return S_OK;
    return HRESULT_FROM_WIN32(r);
}

STDAPI AMovieSetupRegisterFilterInCategory(const AMOVIESETUP_FILTER* psetupdata, IFilterMapper2* pIFM2,
                                           REFCLSID category, BOOL bRegister) {
    if (psetupdata == NULL) return S_FALSE;
    CheckPointer(pIFM2, E_POINTER);
    HRESULT hr;
    if (bRegister) {
        REGFILTER2 rf2;
        rf2.dwVersion = 1;
        rf2.dwMerit = psetupdata->dwMerit;
        rf2.cPins = psetupdata->nPins;
        rf2.rgPins = psetupdata->lpPin;
        hr = pIFM2->RegisterFilter(*psetupdata->clsID, psetupdata->strName, NULL, &category, NULL, &rf2);
    } else {
        hr = pIFM2->UnregisterFilter(&category, NULL, *psetupdata->clsID);
        // Not registered in the first place is fine.
        if (hr == HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND) || hr == HRESULT_FROM_WIN32(ERROR_PATH_NOT_FOUND)) hr = S_OK;
    }
    return hr;
}

STDAPI AMovieSetupRegisterFilter2(const AMOVIESETUP_FILTER* psetupdata, IFilterMapper2* pIFM2, BOOL bRegister) {
    return AMovieSetupRegisterFilterInCategory(psetupdata, pIFM2, CLSID_LegacyAmFilterCategory, bRegister);
}
