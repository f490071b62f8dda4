#include "companions/kit/MediaType.h"

#include <cstring>
#include <new>

namespace kit {

void FreeMediaTypeFields(AM_MEDIA_TYPE& mt) {
    if (mt.cbFormat && mt.pbFormat) CoTaskMemFree(mt.pbFormat);
    mt.cbFormat = 0;
    mt.pbFormat = nullptr;
    if (mt.pUnk) {
        mt.pUnk->Release();
        mt.pUnk = nullptr;
    }
}

HRESULT CopyMediaTypeFields(AM_MEDIA_TYPE* to, const AM_MEDIA_TYPE& from) {
    *to = from;
    if (from.cbFormat && from.pbFormat) {
        to->pbFormat = static_cast<BYTE*>(CoTaskMemAlloc(from.cbFormat));
        if (!to->pbFormat) {
            to->cbFormat = 0;
            to->pUnk = nullptr;
            return E_OUTOFMEMORY;
        }
        memcpy(to->pbFormat, from.pbFormat, from.cbFormat);
    } else {
        to->cbFormat = 0;
        to->pbFormat = nullptr;
    }
    if (to->pUnk) to->pUnk->AddRef();
    return S_OK;
}

AM_MEDIA_TYPE* CreateMediaTypeCopy(const AM_MEDIA_TYPE& from) {
    auto* mt = static_cast<AM_MEDIA_TYPE*>(CoTaskMemAlloc(sizeof(AM_MEDIA_TYPE)));
    if (!mt) return nullptr;
    if (FAILED(CopyMediaTypeFields(mt, from))) {
        CoTaskMemFree(mt);
        return nullptr;
    }
    return mt;
}

// The enumerators follow IEnumXXXX rules: a count above 1 needs a fetched
// pointer, S_FALSE when fewer than asked were returned.

PinEnumerator::PinEnumerator(IUnknown* owner, std::vector<IPin*> pins, ULONG position)
    : owner_(owner), pins_(std::move(pins)), position_(position) {
    owner_->AddRef();
}

PinEnumerator::~PinEnumerator() { owner_->Release(); }

STDMETHODIMP PinEnumerator::QueryInterface(REFIID riid, void** ppv) {
    if (!ppv) return E_POINTER;
    if (riid == IID_IUnknown || riid == IID_IEnumPins) {
        *ppv = static_cast<IEnumPins*>(this);
        AddRef();
        return S_OK;
    }
    *ppv = nullptr;
    return E_NOINTERFACE;
}

STDMETHODIMP_(ULONG) PinEnumerator::AddRef() { return ++refs_; }

STDMETHODIMP_(ULONG) PinEnumerator::Release() {
    const long left = --refs_;
    if (left == 0) delete this;
    return left;
}

STDMETHODIMP PinEnumerator::Next(ULONG count, IPin** pins, ULONG* fetched) {
    if (!pins) return E_POINTER;
    if (count > 1 && !fetched) return E_INVALIDARG;
    ULONG n = 0;
    while (n < count && position_ < pins_.size()) {
        pins[n] = pins_[position_++];
        pins[n]->AddRef();
        ++n;
    }
    if (fetched) *fetched = n;
    return n == count ? S_OK : S_FALSE;
}

STDMETHODIMP PinEnumerator::Skip(ULONG count) {
    const ULONG left = static_cast<ULONG>(pins_.size()) - position_;
    if (count > left) {
        position_ = static_cast<ULONG>(pins_.size());
        return S_FALSE;
    }
    position_ += count;
    return S_OK;
}

STDMETHODIMP PinEnumerator::Reset() {
    position_ = 0;
    return S_OK;
}

STDMETHODIMP PinEnumerator::Clone(IEnumPins** out) {
    if (!out) return E_POINTER;
    *out = new (std::nothrow) PinEnumerator(owner_, pins_, position_);
    return *out ? S_OK : E_OUTOFMEMORY;
}

MediaTypeEnumerator::MediaTypeEnumerator(const std::vector<AM_MEDIA_TYPE>& types, ULONG position)
    : position_(position) {
    for (const AM_MEDIA_TYPE& mt : types) {
        AM_MEDIA_TYPE copy;
        if (SUCCEEDED(CopyMediaTypeFields(&copy, mt))) types_.push_back(copy);
    }
}

MediaTypeEnumerator::~MediaTypeEnumerator() {
    for (AM_MEDIA_TYPE& mt : types_) FreeMediaTypeFields(mt);
}

STDMETHODIMP MediaTypeEnumerator::QueryInterface(REFIID riid, void** ppv) {
    if (!ppv) return E_POINTER;
    if (riid == IID_IUnknown || riid == IID_IEnumMediaTypes) {
        *ppv = static_cast<IEnumMediaTypes*>(this);
        AddRef();
        return S_OK;
    }
    *ppv = nullptr;
    return E_NOINTERFACE;
}

STDMETHODIMP_(ULONG) MediaTypeEnumerator::AddRef() { return ++refs_; }

STDMETHODIMP_(ULONG) MediaTypeEnumerator::Release() {
    const long left = --refs_;
    if (left == 0) delete this;
    return left;
}

STDMETHODIMP MediaTypeEnumerator::Next(ULONG count, AM_MEDIA_TYPE** types, ULONG* fetched) {
    if (!types) return E_POINTER;
    if (count > 1 && !fetched) return E_INVALIDARG;
    ULONG n = 0;
    while (n < count && position_ < types_.size()) {
        types[n] = CreateMediaTypeCopy(types_[position_]);
        if (!types[n]) break;
        ++position_;
        ++n;
    }
    if (fetched) *fetched = n;
    return n == count ? S_OK : S_FALSE;
}

STDMETHODIMP MediaTypeEnumerator::Skip(ULONG count) {
    const ULONG left = static_cast<ULONG>(types_.size()) - position_;
    if (count > left) {
        position_ = static_cast<ULONG>(types_.size());
        return S_FALSE;
    }
    position_ += count;
    return S_OK;
}

STDMETHODIMP MediaTypeEnumerator::Reset() {
    position_ = 0;
    return S_OK;
}

STDMETHODIMP MediaTypeEnumerator::Clone(IEnumMediaTypes** out) {
    if (!out) return E_POINTER;
    *out = new (std::nothrow) MediaTypeEnumerator(types_, position_);
    return *out ? S_OK : E_OUTOFMEMORY;
}

}  // namespace kit
