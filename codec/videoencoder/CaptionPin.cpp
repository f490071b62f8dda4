#include "codec/videoencoder/CaptionPin.h"

#include <cstdio>

Mpeg2EncCCPin::Mpeg2EncCCPin(CBaseFilter* filter, CCritSec* lock, HRESULT* phr, std::function<int()> mode)
    : CBaseInputPin(NAME("Video encoder caption input"), filter, lock, phr, L"CC Input"), mode_(std::move(mode)) {}

HRESULT Mpeg2EncCCPin::CheckMediaType(const CMediaType* mt) {
    CheckPointer(mt, E_POINTER);
    const bool passthrough = mode_() == static_cast<int>(videoenc::CaptionForm::Passthrough);
    const GUID& subtype = passthrough ? MEDIASUBTYPE_Line21_GOPPacket : MEDIASUBTYPE_Line21_BytePair;
    return IsEqualGUID(*mt->Type(), MEDIATYPE_AUXLine21Data) && IsEqualGUID(*mt->Subtype(), subtype) ? S_OK : E_FAIL;
}

STDMETHODIMP Mpeg2EncCCPin::Receive(IMediaSample* sample) {
    HRESULT hr = CBaseInputPin::Receive(sample);
    if (hr != S_OK) return hr;
    BYTE* data = nullptr;
    if (FAILED(sample->GetPointer(&data)) || !data) return S_OK;
    REFERENCE_TIME start = 0, stop = 0;
    if (FAILED(sample->GetTime(&start, &stop))) start = stop = 0;
    const long length = sample->GetActualDataLength();
    if (length <= 0) return S_OK;
    const std::size_t dropped = queue_.Push(data, static_cast<std::size_t>(length), start, stop);
    if (dropped > 0) {
        char text[96];
        std::snprintf(text, sizeof text, "Vidrel: caption sample of %ld bytes, %u past 256 dropped\n", length,
                      static_cast<unsigned>(dropped));
        OutputDebugStringA(text);
    }
    return S_OK;
}

HRESULT Mpeg2EncCCPin::Active() {
    queue_.SetStopped(false);
    return CBaseInputPin::Active();
}

HRESULT Mpeg2EncCCPin::Inactive() {
    queue_.SetStopped(true);
    return CBaseInputPin::Inactive();
}

std::optional<std::vector<std::uint8_t>> Mpeg2EncCCPin::BuildCcUserData(REFERENCE_TIME start, REFERENCE_TIME stop,
                                                                        videoenc::CaptionForm form) {
    return queue_.BuildUserData(start, stop, form);
}
