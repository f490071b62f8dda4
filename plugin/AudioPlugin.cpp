#include "plugin/AudioPlugin.h"

#include <cstring>
#include <new>

#include "plugin/ScaleFactorStore.h"
#include "plugin/SharedMemory.h"
#include "plugin/core/MediaFormat.h"
#include "plugin/core/ScaleFactor.h"

namespace {

bool IsSet(const DMO_MEDIA_TYPE& mt) {
    return !IsEqualGUID(mt.majortype, GUID_NULL);
}

plugin::Guid ToGuid(const GUID& g) {
    plugin::Guid out;
    static_assert(sizeof out == sizeof g, "GUID layout");
    std::memcpy(&out, &g, sizeof out);
    return out;
}

plugin::MediaTypeView ToView(const DMO_MEDIA_TYPE& mt) {
    return {ToGuid(mt.majortype), ToGuid(mt.subtype), ToGuid(mt.formattype), mt.pbFormat, mt.cbFormat};
}

void Clear(DMO_MEDIA_TYPE& mt) {
    // MoFreeMediaType frees the format block and the format object only.
    (void)MoFreeMediaType(&mt);
    std::memset(&mt, 0, sizeof mt);
}

const WAVEFORMATEX* WaveFormatOf(const DMO_MEDIA_TYPE& mt) {
    return reinterpret_cast<const WAVEFORMATEX*>(mt.pbFormat);
}

}  // namespace

CUnknown* WINAPI CAnveloAudioPlugin::CreateInstance(LPUNKNOWN pUnk, HRESULT* phr) {
    CAnveloAudioPlugin* p = new (std::nothrow) CAnveloAudioPlugin(pUnk);
    if (p == nullptr && phr) *phr = E_OUTOFMEMORY;
    return p;
}

CAnveloAudioPlugin::CAnveloAudioPlugin(LPUNKNOWN pUnk) : CUnknown(NAME("Anvelo_Audio_Plugin"), pUnk) {
    InitializeCriticalSection(&lock_);
    std::memset(&input_, 0, sizeof input_);
    std::memset(&output_, 0, sizeof output_);
    double stored = 1.0;
    if (plugin::ReadStoredScaleFactor(&stored)) scaleFactor_ = stored;
    sonifer_ = MakeAudioSonifer();
}

CAnveloAudioPlugin::~CAnveloAudioPlugin() {
    ReleaseHeld();
    Clear(input_);
    Clear(output_);
    DropAudioSonifer(sonifer_);
    DeleteCriticalSection(&lock_);
}

STDMETHODIMP CAnveloAudioPlugin::NonDelegatingQueryInterface(REFIID riid, void** ppv) {
    CheckPointer(ppv, E_POINTER);
    if (IsEqualIID(riid, IID_IMediaObject)) return GetInterface(static_cast<IMediaObject*>(this), ppv);
    if (IsEqualIID(riid, IID_IWMPPluginEnable)) return GetInterface(static_cast<IWMPPluginEnable*>(this), ppv);
    if (IsEqualIID(riid, IID_ISpecifyPropertyPages))
        return GetInterface(static_cast<ISpecifyPropertyPages*>(this), ppv);
    if (IsEqualIID(riid, IID_IScaleFactorSetting)) return GetInterface(static_cast<IScaleFactorSetting*>(this), ppv);
    return CUnknown::NonDelegatingQueryInterface(riid, ppv);
}

STDMETHODIMP CAnveloAudioPlugin::GetStreamCount(DWORD* pcInputStreams, DWORD* pcOutputStreams) {
    CheckPointer(pcInputStreams, E_POINTER);
    CheckPointer(pcOutputStreams, E_POINTER);
    *pcInputStreams = 1;
    *pcOutputStreams = 1;
    return S_OK;
}

STDMETHODIMP CAnveloAudioPlugin::GetInputStreamInfo(DWORD dwInputStreamIndex, DWORD* pdwFlags) {
    if (dwInputStreamIndex != 0) return DMO_E_INVALIDSTREAMINDEX;
    CheckPointer(pdwFlags, E_POINTER);
    *pdwFlags = 0;
    return S_OK;
}

STDMETHODIMP CAnveloAudioPlugin::GetOutputStreamInfo(DWORD dwOutputStreamIndex, DWORD* pdwFlags) {
    return GetInputStreamInfo(dwOutputStreamIndex, pdwFlags);
}

HRESULT CAnveloAudioPlugin::OfferType(const DMO_MEDIA_TYPE& other, DWORD dwTypeIndex, DMO_MEDIA_TYPE* pmt) {
    if (dwTypeIndex != 0) return DMO_E_NO_MORE_ITEMS;
    CheckPointer(pmt, E_POINTER);
    if (IsSet(other)) return MoCopyMediaType(pmt, &other);
    std::memset(pmt, 0, sizeof *pmt);
    pmt->majortype = MEDIATYPE_Audio;
    pmt->subtype = MEDIASUBTYPE_PCM;
    return S_OK;
}

STDMETHODIMP CAnveloAudioPlugin::GetInputType(DWORD dwInputStreamIndex, DWORD dwTypeIndex, DMO_MEDIA_TYPE* pmt) {
    if (dwInputStreamIndex != 0) return DMO_E_INVALIDSTREAMINDEX;
    return OfferType(output_, dwTypeIndex, pmt);
}

STDMETHODIMP CAnveloAudioPlugin::GetOutputType(DWORD dwOutputStreamIndex, DWORD dwTypeIndex, DMO_MEDIA_TYPE* pmt) {
    if (dwOutputStreamIndex != 0) return DMO_E_INVALIDSTREAMINDEX;
    return OfferType(input_, dwTypeIndex, pmt);
}

HRESULT CAnveloAudioPlugin::SetType(DMO_MEDIA_TYPE& mine, const DMO_MEDIA_TYPE& other, const DMO_MEDIA_TYPE* pmt,
                                    DWORD dwFlags) {
    if (dwFlags & DMO_SET_TYPEF_CLEAR) {
        Clear(mine);
        return S_OK;
    }
    CheckPointer(pmt, E_POINTER);
    plugin::MediaTypeView otherView = ToView(other);
    bool ok = plugin::TypeAcceptable(ToView(*pmt), IsSet(other) ? &otherView : nullptr);
    if (dwFlags & DMO_SET_TYPEF_TEST_ONLY) return ok ? S_OK : S_FALSE;
    if (!ok) return DMO_E_TYPE_NOT_ACCEPTED;
    DMO_MEDIA_TYPE copy;
    std::memset(&copy, 0, sizeof copy);
    HRESULT hr = MoCopyMediaType(&copy, pmt);
    if (FAILED(hr)) return hr;
    Clear(mine);
    mine = copy;
    return S_OK;
}

STDMETHODIMP CAnveloAudioPlugin::SetInputType(DWORD dwInputStreamIndex, const DMO_MEDIA_TYPE* pmt, DWORD dwFlags) {
    if (dwInputStreamIndex != 0) return DMO_E_INVALIDSTREAMINDEX;
    return SetType(input_, output_, pmt, dwFlags);
}

STDMETHODIMP CAnveloAudioPlugin::SetOutputType(DWORD dwOutputStreamIndex, const DMO_MEDIA_TYPE* pmt, DWORD dwFlags) {
    if (dwOutputStreamIndex != 0) return DMO_E_INVALIDSTREAMINDEX;
    return SetType(output_, input_, pmt, dwFlags);
}

STDMETHODIMP CAnveloAudioPlugin::GetInputCurrentType(DWORD dwInputStreamIndex, DMO_MEDIA_TYPE* pmt) {
    if (dwInputStreamIndex != 0) return DMO_E_INVALIDSTREAMINDEX;
    CheckPointer(pmt, E_POINTER);
    if (!IsSet(input_)) return DMO_E_TYPE_NOT_SET;
    return MoCopyMediaType(pmt, &input_);
}

STDMETHODIMP CAnveloAudioPlugin::GetOutputCurrentType(DWORD dwOutputStreamIndex, DMO_MEDIA_TYPE* pmt) {
    if (dwOutputStreamIndex != 0) return DMO_E_INVALIDSTREAMINDEX;
    CheckPointer(pmt, E_POINTER);
    if (!IsSet(output_)) return DMO_E_TYPE_NOT_SET;
    return MoCopyMediaType(pmt, &output_);
}

STDMETHODIMP CAnveloAudioPlugin::GetInputSizeInfo(DWORD dwInputStreamIndex, DWORD* pcbSize, DWORD* pcbMaxLookahead,
                                                  DWORD* pcbAlignment) {
    if (dwInputStreamIndex != 0) return DMO_E_INVALIDSTREAMINDEX;
    CheckPointer(pcbSize, E_POINTER);
    CheckPointer(pcbMaxLookahead, E_POINTER);
    CheckPointer(pcbAlignment, E_POINTER);
    if (!IsSet(input_)) return DMO_E_TYPE_NOT_SET;
    *pcbSize = input_.lSampleSize;
    *pcbMaxLookahead = 0;
    *pcbAlignment = WaveFormatOf(input_)->nBlockAlign;
    return S_OK;
}

STDMETHODIMP CAnveloAudioPlugin::GetOutputSizeInfo(DWORD dwOutputStreamIndex, DWORD* pcbSize, DWORD* pcbAlignment) {
    if (dwOutputStreamIndex != 0) return DMO_E_INVALIDSTREAMINDEX;
    CheckPointer(pcbSize, E_POINTER);
    CheckPointer(pcbAlignment, E_POINTER);
    if (!IsSet(output_)) return DMO_E_TYPE_NOT_SET;
    *pcbSize = output_.lSampleSize;
    *pcbAlignment = WaveFormatOf(output_)->nBlockAlign;
    return S_OK;
}

STDMETHODIMP CAnveloAudioPlugin::GetInputMaxLatency(DWORD, REFERENCE_TIME*) {
    return E_NOTIMPL;
}

STDMETHODIMP CAnveloAudioPlugin::SetInputMaxLatency(DWORD, REFERENCE_TIME) {
    return E_NOTIMPL;
}

void CAnveloAudioPlugin::ReleaseHeld() {
    held_.Reset();
    heldData_ = nullptr;
    heldState_ = plugin::HeldInput{};
}

STDMETHODIMP CAnveloAudioPlugin::Flush() {
    ReleaseHeld();
    return S_OK;
}

STDMETHODIMP CAnveloAudioPlugin::Discontinuity(DWORD) {
    return S_OK;
}

STDMETHODIMP CAnveloAudioPlugin::AllocateStreamingResources() {
    return S_OK;
}

STDMETHODIMP CAnveloAudioPlugin::FreeStreamingResources() {
    ReleaseHeld();
    return S_OK;
}

STDMETHODIMP CAnveloAudioPlugin::GetInputStatus(DWORD dwInputStreamIndex, DWORD* dwFlags) {
    if (dwInputStreamIndex != 0) return DMO_E_INVALIDSTREAMINDEX;
    CheckPointer(dwFlags, E_POINTER);
    *dwFlags = held_ ? 0 : DMO_INPUT_STATUSF_ACCEPT_DATA;
    return S_OK;
}

STDMETHODIMP CAnveloAudioPlugin::ProcessInput(DWORD dwInputStreamIndex, IMediaBuffer* pBuffer, DWORD dwFlags,
                                              REFERENCE_TIME rtTimestamp, REFERENCE_TIME) {
    if (dwInputStreamIndex != 0) return DMO_E_INVALIDSTREAMINDEX;
    CheckPointer(pBuffer, E_POINTER);
    if (!IsSet(input_)) return DMO_E_TYPE_NOT_SET;
    // Unread data of the held buffer must go out before another comes in.
    if (held_ && heldState_.remaining > 0) return DMO_E_NOTACCEPTING;
    BYTE* data = nullptr;
    DWORD length = 0;
    HRESULT hr = pBuffer->GetBufferAndLength(&data, &length);
    if (FAILED(hr)) return hr;
    held_ = com::ComPtr<IMediaBuffer>(pBuffer);
    heldData_ = data;
    heldState_ = plugin::HeldInput{};
    heldState_.remaining = data != nullptr ? length : 0;
    heldState_.hasTime = (dwFlags & DMO_INPUT_DATA_BUFFERF_TIME) != 0;
    heldState_.time = heldState_.hasTime ? rtTimestamp : 0;
    return S_OK;
}

STDMETHODIMP CAnveloAudioPlugin::ProcessOutput(DWORD, DWORD cOutputBufferCount, DMO_OUTPUT_DATA_BUFFER* pOutputBuffers,
                                               DWORD* pdwStatus) {
    CheckPointer(pOutputBuffers, E_POINTER);
    if (cOutputBufferCount != 1) return E_INVALIDARG;
    if (!IsSet(output_)) return DMO_E_TYPE_NOT_SET;
    if (pdwStatus) *pdwStatus = 0;
    DMO_OUTPUT_DATA_BUFFER& out = pOutputBuffers[0];
    out.dwStatus = 0;

    if (!held_) {
        if (out.pBuffer) {
            HRESULT hr = out.pBuffer->SetLength(0);
            if (FAILED(hr)) return hr;
        }
        return S_FALSE;
    }

    CheckPointer(out.pBuffer, E_POINTER);
    BYTE* dest = nullptr;
    DWORD current = 0, capacity = 0;
    HRESULT hr = out.pBuffer->GetBufferAndLength(&dest, &current);
    if (FAILED(hr)) return hr;
    hr = out.pBuffer->GetMaxLength(&capacity);
    if (FAILED(hr)) return hr;
    CheckPointer(dest, E_POINTER);

    plugin::HeldInput next = heldState_;
    plugin::OutputSlice slice = plugin::TakeSlice(next, capacity, WaveFormatOf(output_)->nAvgBytesPerSec);
    hr = out.pBuffer->SetLength(slice.size);
    if (FAILED(hr)) return hr;
    const BYTE* src = heldData_ + slice.offset;
    if (slice.size > 0) std::memcpy(dest, src, slice.size);

    if (enabled_ && slice.size > 0) {
        std::shared_ptr<CAudioSonifer> sonifer = CurrentAudioSonifer();
        if (sonifer) sonifer->Send(src, slice.size, input_.pbFormat, input_.cbFormat);
    }

    if (slice.hasTime) {
        out.dwStatus |= DMO_OUTPUT_DATA_BUFFERF_TIME | DMO_OUTPUT_DATA_BUFFERF_TIMELENGTH;
        out.rtTimestamp = slice.time;
        out.rtTimelength = slice.length;
    }
    if (slice.complete) {
        ReleaseHeld();
    } else {
        heldState_ = next;
        out.dwStatus |= DMO_OUTPUT_DATA_BUFFERF_INCOMPLETE;
    }
    return S_OK;
}

STDMETHODIMP CAnveloAudioPlugin::Lock(LONG) {
    return S_OK;
}

STDMETHODIMP CAnveloAudioPlugin::SetEnable(BOOL fEnable) {
    InterlockedExchange(&enabled_, fEnable ? TRUE : FALSE);
    return S_OK;
}

STDMETHODIMP CAnveloAudioPlugin::GetEnable(BOOL* pfEnable) {
    CheckPointer(pfEnable, E_POINTER);
    *pfEnable = enabled_;
    return S_OK;
}

STDMETHODIMP CAnveloAudioPlugin::GetPages(CAUUID* pPages) {
    CheckPointer(pPages, E_POINTER);
    pPages->cElems = 0;
    pPages->pElems = static_cast<GUID*>(CoTaskMemAlloc(sizeof(GUID)));
    if (pPages->pElems == nullptr) return E_OUTOFMEMORY;
    pPages->pElems[0] = CLSID_AnveloAudioPluginPropPage;
    pPages->cElems = 1;
    return S_OK;
}

STDMETHODIMP CAnveloAudioPlugin::GetScaleFactor(double* pFactor) {
    CheckPointer(pFactor, E_POINTER);
    EnterCriticalSection(&lock_);
    *pFactor = scaleFactor_;
    LeaveCriticalSection(&lock_);
    return S_OK;
}

STDMETHODIMP CAnveloAudioPlugin::SetScaleFactor(double factor) {
    EnterCriticalSection(&lock_);
    scaleFactor_ = factor;
    LeaveCriticalSection(&lock_);
    return S_OK;
}
