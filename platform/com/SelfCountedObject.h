// Reference counting and QueryInterface for small objects that are not
// aggregated (enumerators, stand-in runtime objects): created by plain new
// with one reference, they delete themselves on their last Release. The
// first interface named also answers IUnknown.
#pragma once

#include <windows.h>

#include <unknwn.h>

// The interfaces have no virtual destructors; the object deletes itself
// through its own virtual one.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wnon-virtual-dtor"

template <class First, class... Rest>
class SelfCountedObject : public First, public Rest... {
public:
    STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override {
        if (!ppv) return E_POINTER;
        *ppv = nullptr;
        if (riid == IID_IUnknown || riid == __uuidof(First))
            *ppv = static_cast<First*>(this);
        else
            (void)((riid == __uuidof(Rest) ? (*ppv = static_cast<Rest*>(this), true) : false) || ... || false);
        if (!*ppv) return E_NOINTERFACE;
        AddRef();
        return S_OK;
    }
    STDMETHODIMP_(ULONG) AddRef() override { return static_cast<ULONG>(::InterlockedIncrement(&refs_)); }
    STDMETHODIMP_(ULONG) Release() override {
        const LONG left = ::InterlockedDecrement(&refs_);
        if (left == 0) delete this;
        return static_cast<ULONG>(left);
    }

protected:
    SelfCountedObject() = default;
    virtual ~SelfCountedObject() = default;

private:
    LONG refs_ = 1;
};

#pragma GCC diagnostic pop
