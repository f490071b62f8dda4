// AM_MEDIA_TYPE helpers and the pin and media-type enumerators the
// companion filters share.
#pragma once

// COM objects are deleted through their own class, never through an
// interface pointer.
#pragma GCC diagnostic ignored "-Wnon-virtual-dtor"

#include <dshow.h>
#include <windows.h>

#include <atomic>
#include <vector>

namespace kit {

void FreeMediaTypeFields(AM_MEDIA_TYPE& mt);
HRESULT CopyMediaTypeFields(AM_MEDIA_TYPE* to, const AM_MEDIA_TYPE& from);
// A task-allocated copy (for IEnumMediaTypes::Next); null on failure.
AM_MEDIA_TYPE* CreateMediaTypeCopy(const AM_MEDIA_TYPE& from);

// Enumerates a fixed list of pins; keeps the owning filter alive.
class PinEnumerator : public IEnumPins {
public:
    PinEnumerator(IUnknown* owner, std::vector<IPin*> pins, ULONG position = 0);
    virtual ~PinEnumerator();
    STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override;
    STDMETHODIMP_(ULONG) AddRef() override;
    STDMETHODIMP_(ULONG) Release() override;
    STDMETHODIMP Next(ULONG count, IPin** pins, ULONG* fetched) override;
    STDMETHODIMP Skip(ULONG count) override;
    STDMETHODIMP Reset() override;
    STDMETHODIMP Clone(IEnumPins** out) override;

private:
    std::atomic<long> refs_{1};
    IUnknown* owner_;
    std::vector<IPin*> pins_;
    ULONG position_;
};

// Enumerates a fixed list of media types (copied in).
class MediaTypeEnumerator : public IEnumMediaTypes {
public:
    MediaTypeEnumerator(const std::vector<AM_MEDIA_TYPE>& types, ULONG position = 0);
    virtual ~MediaTypeEnumerator();
    STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override;
    STDMETHODIMP_(ULONG) AddRef() override;
    STDMETHODIMP_(ULONG) Release() override;
    STDMETHODIMP Next(ULONG count, AM_MEDIA_TYPE** types, ULONG* fetched) override;
    STDMETHODIMP Skip(ULONG count) override;
    STDMETHODIMP Reset() override;
    STDMETHODIMP Clone(IEnumMediaTypes** out) override;

private:
    std::atomic<long> refs_{1};
    std::vector<AM_MEDIA_TYPE> types_;
    ULONG position_;
};

}  // namespace kit
