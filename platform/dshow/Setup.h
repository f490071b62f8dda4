// Class factory template table and filter registration records.
#pragma once

#include "platform/dshow/ComBase.h"

typedef REGPINTYPES AMOVIESETUP_MEDIATYPE, *PAMOVIESETUP_MEDIATYPE, *LPAMOVIESETUP_MEDIATYPE;
typedef REGFILTERPINS AMOVIESETUP_PIN, *PAMOVIESETUP_PIN, *LPAMOVIESETUP_PIN;

struct AMOVIESETUP_FILTER {
    const CLSID* clsID;
    const WCHAR* strName;
    DWORD dwMerit;
    UINT nPins;
    const AMOVIESETUP_PIN* lpPin;
};
typedef AMOVIESETUP_FILTER *PAMOVIESETUP_FILTER, *LPAMOVIESETUP_FILTER;

class CUnknown;
typedef CUnknown*(CALLBACK* LPFNNewCOMObject)(LPUNKNOWN pUnkOuter, HRESULT* phr);
typedef void(CALLBACK* LPFNInitRoutine)(BOOL bLoading, const CLSID* rclsid);

// One COM class of a DLL. The DLL defines g_Templates[] and g_cTemplates.
class CFactoryTemplate {
public:
    const WCHAR* m_Name;
    const CLSID* m_ClsID;
    LPFNNewCOMObject m_lpfnNew;
    LPFNInitRoutine m_lpfnInit;
    const AMOVIESETUP_FILTER* m_pAMovieSetup_Filter;

    BOOL IsClassID(REFCLSID rclsid) const { return IsEqualCLSID(*m_ClsID, rclsid); }
    CUnknown* CreateInstance(LPUNKNOWN pUnk, HRESULT* phr) const { return m_lpfnNew(pUnk, phr); }
};

extern CFactoryTemplate g_Templates[];
extern int g_cTemplates;

// COM server keys under HKEY_CLASSES_ROOT\CLSID\{clsid}.
STDAPI AMovieSetupRegisterServer(CLSID clsServer, LPCWSTR szDescription, LPCWSTR szFileName,
                                 LPCWSTR szThreadingModel = L"Both", LPCWSTR szServerType = L"InprocServer32");
STDAPI AMovieSetupUnregisterServer(CLSID clsServer);

// Registers (or removes) a filter's record in the DirectShow filter category
// through the filter mapper. A missing entry on removal is not an error.
STDAPI AMovieSetupRegisterFilter2(const AMOVIESETUP_FILTER* psetupdata, IFilterMapper2* pIFM2, BOOL bRegister);
// Same for any category (encoders, compressors).
STDAPI AMovieSetupRegisterFilterInCategory(const AMOVIESETUP_FILTER* psetupdata, IFilterMapper2* pIFM2,
                                           REFCLSID category, BOOL bRegister);

// Every template of the table: COM server keys, then the filter records.
STDAPI AMovieDllRegisterServer2(BOOL bRegister);

// Called from DllMain: keeps the module handle and runs the init routines.
BOOL WINAPI DllEntryPoint(HINSTANCE hInstance, ULONG ulReason, LPVOID pv);
