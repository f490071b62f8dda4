// COM object base: object counting, the non-delegating IUnknown that makes
// aggregation work, and the small helpers every filter uses.
#pragma once

#include <windows.h>
#include <dshow.h>
#include <olectl.h>
#include <strsafe.h>

// COM objects die through Release, never through a pointer to one of their
// interfaces, so interface bases without virtual destructors are fine in
// every class that implements them.
#pragma GCC diagnostic ignored "-Wnon-virtual-dtor"

#ifndef NAME
#define NAME(x) TEXT(x)
#endif

#define CheckPointer(p, ret)           \
    do {                               \
        if ((p) == NULL) return (ret); \
    } while (0)

// Accepted for source compatibility; pointer checks are done with CheckPointer.
#define ValidateReadPtr(p, cb) ((void)0)
#define ValidateWritePtr(p, cb) ((void)0)
#define ValidateReadWritePtr(p, cb) ((void)0)

#ifndef AM_NOVTABLE
#define AM_NOVTABLE
#endif

// The inner unknown of an aggregatable object. Same vtable layout as IUnknown,
// so a pointer to it can be handed out as the object's real IUnknown.
struct INonDelegatingUnknown {
    virtual STDMETHODIMP NonDelegatingQueryInterface(REFIID riid, LPVOID* ppv) = 0;
    virtual STDMETHODIMP_(ULONG) NonDelegatingAddRef() = 0;
    virtual STDMETHODIMP_(ULONG) NonDelegatingRelease() = 0;

protected:
    ~INonDelegatingUnknown() = default;
};
typedef INonDelegatingUnknown* PNDUNKNOWN;

// Counts live objects so DllCanUnloadNow can answer.
class CBaseObject {
public:
    explicit CBaseObject(LPCTSTR pName);
    explicit CBaseObject(LPCSTR pName);
    CBaseObject(const CBaseObject&) = delete;
    CBaseObject& operator=(const CBaseObject&) = delete;
    virtual ~CBaseObject();
    static LONG ObjectsActive() { return m_cObjects; }

private:
    static volatile LONG m_cObjects;
};

class AM_NOVTABLE CUnknown : public INonDelegatingUnknown, public CBaseObject {
public:
    CUnknown(LPCTSTR pName, LPUNKNOWN pUnk);
    CUnknown(LPCTSTR pName, LPUNKNOWN pUnk, HRESULT* phr);
    CUnknown(LPCSTR pName, LPUNKNOWN pUnk);
    CUnknown(LPCSTR pName, LPUNKNOWN pUnk, HRESULT* phr);
    ~CUnknown() override = default;

    // The outer unknown when aggregated, else our own non-delegating one.
    LPUNKNOWN GetOwner() const { return m_pUnknown; }

    STDMETHODIMP NonDelegatingQueryInterface(REFIID riid, LPVOID* ppv) override;
    STDMETHODIMP_(ULONG) NonDelegatingAddRef() override;
    STDMETHODIMP_(ULONG) NonDelegatingRelease() override;

protected:
    volatile LONG m_cRef;

private:
    const LPUNKNOWN m_pUnknown;
};

// Hands out pUnk through ppv with a reference.
HRESULT WINAPI GetInterface(LPUNKNOWN pUnk, void** ppv);

// CoTaskMemAlloc'ed copy of a wide string.
HRESULT WINAPI AMGetWideString(LPCWSTR psz, LPWSTR* ppszReturn);

// The module our code lives in (the filter DLL or the program).
extern HINSTANCE g_hInst;
HINSTANCE AMGetModuleInstance();

// IUnknown of a class derived from CUnknown, routed through the owner.
#define DECLARE_IUNKNOWN                                            \
    STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override { \
        return GetOwner()->QueryInterface(riid, ppv);               \
    }                                                               \
    STDMETHODIMP_(ULONG) AddRef() override {                        \
        return GetOwner()->AddRef();                                \
    }                                                               \
    STDMETHODIMP_(ULONG) Release() override {                       \
        return GetOwner()->Release();                               \
    }
