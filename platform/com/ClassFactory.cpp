// The class factory over the DLL's template table and the two standard
// COM exports that use it.
#include <new>

#include "platform/dshow/BaseClasses.h"

namespace {

volatile LONG g_cServerLocks = 0;

class CClassFactory : public IClassFactory, public CBaseObject {
public:
    explicit CClassFactory(const CFactoryTemplate* pTemplate)
        : CBaseObject(NAME("Class factory")), m_cRef(0), m_pTemplate(pTemplate) {}

    STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override {
        CheckPointer(ppv, E_POINTER);
        if (IsEqualIID(riid, IID_IClassFactory) || IsEqualIID(riid, IID_IUnknown)) {
            *ppv = static_cast<IClassFactory*>(this);
            AddRef();
            return S_OK;
        }
        *ppv = NULL;
        return E_NOINTERFACE;
    }
    STDMETHODIMP_(ULONG) AddRef() override { return InterlockedIncrement(&m_cRef); }
    STDMETHODIMP_(ULONG) Release() override {
        LONG c = InterlockedDecrement(&m_cRef);
        if (c == 0) delete this;
        return static_cast<ULONG>(c);
    }

    STDMETHODIMP CreateInstance(LPUNKNOWN pUnkOuter, REFIID riid, void** ppv) override {
        CheckPointer(ppv, E_POINTER);
        *ppv = NULL;
        // An aggregating outer object must ask for our inner IUnknown.
        if (pUnkOuter != NULL && !IsEqualIID(riid, IID_IUnknown)) return CLASS_E_NOAGGREGATION;
        HRESULT hr = S_OK;
        CUnknown* pObj = m_pTemplate->CreateInstance(pUnkOuter, &hr);
        if (pObj == NULL) return FAILED(hr) ? hr : E_OUTOFMEMORY;
        if (FAILED(hr)) {
            delete pObj;
            return hr;
        }
        pObj->NonDelegatingAddRef();
        hr = pObj->NonDelegatingQueryInterface(riid, ppv);
        pObj->NonDelegatingRelease();
        return hr;
    }

    STDMETHODIMP LockServer(BOOL fLock) override {
        if (fLock)
            InterlockedIncrement(&g_cServerLocks);
        else
            InterlockedDecrement(&g_cServerLocks);
        return S_OK;
    }

private:
    virtual ~CClassFactory() = default;
    LONG m_cRef;
    const CFactoryTemplate* m_pTemplate;
};

}  // namespace

STDAPI DllGetClassObject(REFCLSID rClsID, REFIID riid, void** pv) {
    CheckPointer(pv, E_POINTER);
    *pv = NULL;
    if (!IsEqualIID(riid, IID_IUnknown) && !IsEqualIID(riid, IID_IClassFactory)) return E_NOINTERFACE;
    for (int i = 0; i < g_cTemplates; i++) {
        const CFactoryTemplate* pT = &g_Templates[i];
        if (!pT->IsClassID(rClsID) || pT->m_lpfnNew == NULL) continue;
        CClassFactory* pFactory = new (std::nothrow) CClassFactory(pT);
        if (pFactory == NULL) return E_OUTOFMEMORY;
        pFactory->AddRef();
        HRESULT hr = pFactory->QueryInterface(riid, pv);
        pFactory->Release();
        return hr;
    }
    return CLASS_E_CLASSNOTAVAILABLE;
}

STDAPI DllCanUnloadNow() {
    return (g_cServerLocks == 0 && CBaseObject::ObjectsActive() == 0) ? S_OK : S_FALSE;
}

BOOL WINAPI DllEntryPoint(HINSTANCE hInstance, ULONG ulReason, LPVOID) {
    switch (ulReason) {
        case DLL_PROCESS_ATTACH:
            g_hInst = hInstance;
            DisableThreadLibraryCalls(hInstance);
            for (int i = 0; i < g_cTemplates; i++)
                if (g_Templates[i].m_lpfnInit) g_Templates[i].m_lpfnInit(TRUE, g_Templates[i].m_ClsID);
            break;
        case DLL_PROCESS_DETACH:
            for (int i = 0; i < g_cTemplates; i++)
                if (g_Templates[i].m_lpfnInit) g_Templates[i].m_lpfnInit(FALSE, g_Templates[i].m_ClsID);
            break;
        default:
            break;
    }
    return TRUE;
}
