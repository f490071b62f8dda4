#include "platform/dshow/ComBase.h"

#include <cwchar>

volatile LONG CBaseObject::m_cObjects = 0;

CBaseObject::CBaseObject(LPCTSTR) {
    InterlockedIncrement(&m_cObjects);
}
CBaseObject::CBaseObject(LPCSTR) {
    InterlockedIncrement(&m_cObjects);
}
CBaseObject::~CBaseObject() {
    InterlockedDecrement(&m_cObjects);
}

static LPUNKNOWN OwnerOf(CUnknown* self, LPUNKNOWN pUnk) {
    // The non-delegating unknown has IUnknown's vtable layout.
    return pUnk != NULL ? pUnk : reinterpret_cast<LPUNKNOWN>(static_cast<PNDUNKNOWN>(self));
}

CUnknown::CUnknown(LPCTSTR pName, LPUNKNOWN pUnk) : CBaseObject(pName), m_cRef(0), m_pUnknown(OwnerOf(this, pUnk)) {}
CUnknown::CUnknown(LPCTSTR pName, LPUNKNOWN pUnk, HRESULT*)
    : CBaseObject(pName), m_cRef(0), m_pUnknown(OwnerOf(this, pUnk)) {}
CUnknown::CUnknown(LPCSTR pName, LPUNKNOWN pUnk) : CBaseObject(pName), m_cRef(0), m_pUnknown(OwnerOf(this, pUnk)) {}
CUnknown::CUnknown(LPCSTR pName, LPUNKNOWN pUnk, HRESULT*)
    : CBaseObject(pName), m_cRef(0), m_pUnknown(OwnerOf(this, pUnk)) {}

STDMETHODIMP CUnknown::NonDelegatingQueryInterface(REFIID riid, LPVOID* ppv) {
    CheckPointer(ppv, E_POINTER);
    if (IsEqualIID(riid, IID_IUnknown))
        return GetInterface(reinterpret_cast<LPUNKNOWN>(static_cast<PNDUNKNOWN>(this)), ppv);
    *ppv = NULL;
    return E_NOINTERFACE;
}

STDMETHODIMP_(ULONG) CUnknown::NonDelegatingAddRef() {
    return static_cast<ULONG>(InterlockedIncrement(&m_cRef));
}

STDMETHODIMP_(ULONG) CUnknown::NonDelegatingRelease() {
    LONG lRef = InterlockedDecrement(&m_cRef);
    if (lRef == 0) {
        // Guard against a reentrant release from the destructor.
        m_cRef++;
        delete this;
        return 0;
    }
    return static_cast<ULONG>(lRef > 1 ? lRef : 1);
}

HRESULT WINAPI GetInterface(LPUNKNOWN pUnk, void** ppv) {
    CheckPointer(ppv, E_POINTER);
    *ppv = pUnk;
    pUnk->AddRef();
    return NOERROR;
}

HRESULT WINAPI AMGetWideString(LPCWSTR psz, LPWSTR* ppszReturn) {
    CheckPointer(ppszReturn, E_POINTER);
    CheckPointer(psz, E_POINTER);
    *ppszReturn = NULL;
    size_t bytes = (wcslen(psz) + 1) * sizeof(WCHAR);
    *ppszReturn = static_cast<LPWSTR>(CoTaskMemAlloc(bytes));
    if (*ppszReturn == NULL) return E_OUTOFMEMORY;
    CopyMemory(*ppszReturn, psz, bytes);
    return NOERROR;
}

HINSTANCE g_hInst = NULL;

HINSTANCE AMGetModuleInstance() {
    if (g_hInst == NULL) {
        HMODULE h = NULL;
        // The module that holds this code: the DLL we are linked into.
        if (GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                               reinterpret_cast<LPCWSTR>(&AMGetModuleInstance), &h))
            g_hInst = h;
    }
    return g_hInst;
}
