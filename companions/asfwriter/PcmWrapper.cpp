#include "companions/asfwriter/PcmWrapper.h"

#include <mmreg.h>

#include <cstring>
#include <new>

const CLSID CLSID_KorvellPcmWrapper = {0x0b6a8e52, 0x2c4f, 0x4d19, {0xb7, 0xe3, 0x5a, 0x9c, 0x1d, 0x2e, 0x3f, 0x40}};

namespace {
const long kBuffers = 8;
}  // namespace

CUnknown* WINAPI CPcmWrapper::CreateInstance(LPUNKNOWN unk, HRESULT* phr) {
    CPcmWrapper* filter = new (std::nothrow) CPcmWrapper(unk);
    if (!filter) *phr = E_OUTOFMEMORY;
    return filter;
}

CPcmWrapper::CPcmWrapper(LPUNKNOWN unk) : CTransformFilter(NAME("ACM Wrapper"), unk, CLSID_KorvellPcmWrapper) {}

CBasePin* CPcmWrapper::GetPin(int n) {
    if (!m_pInput) {
        HRESULT hr = S_OK;
        m_pInput = new (std::nothrow) CTransformInputPin(NAME("ACM Wrapper input"), this, &hr, L"Input");
        m_pOutput = new (std::nothrow) CTransformOutputPin(NAME("ACM Wrapper output"), this, &hr, L"Output");
        if (!m_pInput || !m_pOutput || FAILED(hr)) {
            delete m_pInput;
            delete m_pOutput;
            m_pInput = nullptr;
            m_pOutput = nullptr;
            return nullptr;
        }
    }
    return CTransformFilter::GetPin(n);
}

HRESULT CPcmWrapper::CheckInputType(const CMediaType* mt) {
    if (*mt->Type() != MEDIATYPE_Audio || *mt->Subtype() != MEDIASUBTYPE_PCM ||
        *mt->FormatType() != FORMAT_WaveFormatEx || mt->FormatLength() < sizeof(WAVEFORMATEX) || !mt->Format())
        return VFW_E_TYPE_NOT_ACCEPTED;
    const WAVEFORMATEX* w = reinterpret_cast<const WAVEFORMATEX*>(mt->Format());
    return w->wFormatTag == WAVE_FORMAT_PCM && w->nBlockAlign > 0 && w->nAvgBytesPerSec > 0 ? S_OK
                                                                                            : VFW_E_TYPE_NOT_ACCEPTED;
}

HRESULT CPcmWrapper::CheckTransform(const CMediaType* in, const CMediaType* out) {
    return *in == *out ? S_OK : VFW_E_TYPE_NOT_ACCEPTED;
}

HRESULT CPcmWrapper::GetMediaType(int position, CMediaType* pmt) {
    CheckPointer(pmt, E_POINTER);
    if (!m_pInput || !m_pInput->IsConnected()) return E_UNEXPECTED;
    if (position < 0) return E_INVALIDARG;
    if (position > 0) return VFW_S_NO_MORE_ITEMS;
    *pmt = m_pInput->CurrentMediaType();
    return S_OK;
}

HRESULT CPcmWrapper::DecideBufferSize(IMemAllocator* allocator, ALLOCATOR_PROPERTIES* props) {
    CheckPointer(allocator, E_POINTER);
    CheckPointer(props, E_POINTER);
    const WAVEFORMATEX* w = reinterpret_cast<const WAVEFORMATEX*>(m_pInput->CurrentMediaType().Format());
    // Half a second per buffer holds whatever block the source sends.
    props->cBuffers = props->cBuffers > kBuffers ? props->cBuffers : kBuffers;
    const long half = static_cast<long>(w->nAvgBytesPerSec / 2);
    props->cbBuffer = props->cbBuffer > half ? props->cbBuffer : half;
    props->cbAlign = props->cbAlign > 0 ? props->cbAlign : 1;
    ALLOCATOR_PROPERTIES actual = {};
    const HRESULT hr = allocator->SetProperties(props, &actual);
    if (FAILED(hr)) return hr;
    return actual.cbBuffer < props->cbBuffer ? E_FAIL : S_OK;
}

HRESULT CPcmWrapper::Transform(IMediaSample* in, IMediaSample* out) {
    BYTE* from = nullptr;
    BYTE* to = nullptr;
    HRESULT hr = in->GetPointer(&from);
    if (SUCCEEDED(hr)) hr = out->GetPointer(&to);
    if (FAILED(hr)) return hr;
    const long length = in->GetActualDataLength();
    if (length < 0 || length > out->GetSize()) return E_UNEXPECTED;
    std::memcpy(to, from, static_cast<std::size_t>(length));
    return out->SetActualDataLength(length);
}
