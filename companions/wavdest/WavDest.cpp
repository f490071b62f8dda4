#include "companions/wavdest/WavDest.h"

#include <mmreg.h>

#include <new>
#include <vector>

#include "platform/dshow/FileIo.h"

namespace {

// {00000003-0000-0010-8000-00AA00389B71}
const GUID kSubtypeFloat = {0x00000003, 0x0000, 0x0010, {0x80, 0x00, 0x00, 0xaa, 0x00, 0x38, 0x9b, 0x71}};

// RIFF sizes are 32-bit: a longer recording keeps the largest size there is.
DWORD Clamp32(unsigned long long value) {
    return value > 0xFFFFFFFFull ? 0xFFFFFFFFu : static_cast<DWORD>(value);
}

}  // namespace

CWavDestInputPin::CWavDestInputPin(CWavDest* pFilter, CCritSec* pLock, HRESULT* phr)
    : CWriterInputPin(NAME("WAV Dest input"), pFilter, pFilter, pLock, phr, L"In") {}

HRESULT CWavDestInputPin::CheckMediaType(const CMediaType* pmt) {
    if (*pmt->Type() != MEDIATYPE_Audio || *pmt->FormatType() != FORMAT_WaveFormatEx) return VFW_E_TYPE_NOT_ACCEPTED;
    if (pmt->FormatLength() < sizeof(WAVEFORMATEX) || pmt->Format() == NULL) return VFW_E_TYPE_NOT_ACCEPTED;
    const WAVEFORMATEX* wfx = reinterpret_cast<const WAVEFORMATEX*>(pmt->Format());
    if (wfx->nChannels == 0 || wfx->nBlockAlign == 0 || wfx->nSamplesPerSec == 0) return VFW_E_TYPE_NOT_ACCEPTED;
    if (wfx->wFormatTag == WAVE_FORMAT_EXTENSIBLE && pmt->FormatLength() < sizeof(WAVEFORMATEX) + wfx->cbSize)
        return VFW_E_TYPE_NOT_ACCEPTED;
    const bool pcm = wfx->wFormatTag == WAVE_FORMAT_PCM || wfx->wFormatTag == WAVE_FORMAT_IEEE_FLOAT ||
                     wfx->wFormatTag == WAVE_FORMAT_EXTENSIBLE;
    const bool subtype = *pmt->Subtype() == MEDIASUBTYPE_PCM || *pmt->Subtype() == kSubtypeFloat;
    return pcm && subtype ? S_OK : VFW_E_TYPE_NOT_ACCEPTED;
}

CUnknown* WINAPI CWavDest::CreateInstance(LPUNKNOWN pUnk, HRESULT* phr) {
    CWavDest* pDest = new (std::nothrow) CWavDest(pUnk, phr);
    if (pDest == NULL) {
        *phr = E_OUTOFMEMORY;
    } else if (FAILED(*phr)) {
        delete pDest;
        pDest = NULL;
    }
    return pDest;
}

CWavDest::CWavDest(LPUNKNOWN pUnk, HRESULT* phr)
    : CBaseFilter(NAME("WAV Dest"), pUnk, &m_filterLock, CLSID_WavDest),
      m_pPin(NULL),
      m_hFile(INVALID_HANDLE_VALUE),
      m_dataOffset(0),
      m_dataBytes(0),
      m_endOfStream(false),
      m_completePending(false) {
    m_pPin = new (std::nothrow) CWavDestInputPin(this, &m_filterLock, phr);
    if (m_pPin == NULL) *phr = E_OUTOFMEMORY;
}

CWavDest::~CWavDest() {
    {
        CAutoLock stream(&m_receiveLock);
        CloseTarget();
    }
    delete m_pPin;
}

STDMETHODIMP CWavDest::NonDelegatingQueryInterface(REFIID riid, void** ppv) {
    CheckPointer(ppv, E_POINTER);
    if (riid == IID_IFileSinkFilter) return GetInterface(static_cast<IFileSinkFilter*>(this), ppv);
    if (riid == IID_IAMFilterMiscFlags) return GetInterface(static_cast<IAMFilterMiscFlags*>(this), ppv);
    return CBaseFilter::NonDelegatingQueryInterface(riid, ppv);
}

CBasePin* CWavDest::GetPin(int n) {
    return n == 0 ? m_pPin : NULL;
}

STDMETHODIMP CWavDest::Stop() {
    HRESULT hr, closed;
    {
        CAutoLock lock(&m_filterLock);
        hr = CBaseFilter::Stop();
        CAutoLock stream(&m_receiveLock);
        closed = CloseTarget();
        m_completePending = false;
    }
    // The host learns that the file was left without its sizes; events go
    // out with no lock held.
    if (FAILED(closed)) NotifyEvent(EC_ERRORABORT, closed, 0);
    return hr;
}

STDMETHODIMP CWavDest::Pause() {
    CAutoLock lock(&m_filterLock);
    if (m_State == State_Stopped) {
        CAutoLock stream(&m_receiveLock);
        m_endOfStream = false;
        m_completePending = false;
        if (m_pPin->IsConnected() && !m_fileName.empty()) {
            HRESULT hr = OpenTarget();
            if (FAILED(hr)) return hr;
        }
    }
    return CBaseFilter::Pause();
}

STDMETHODIMP CWavDest::Run(REFERENCE_TIME tStart) {
    bool complete;
    HRESULT hr;
    {
        CAutoLock lock(&m_filterLock);
        hr = CBaseFilter::Run(tStart);
        if (FAILED(hr)) return hr;
        CAutoLock stream(&m_receiveLock);
        complete = m_completePending;
        m_completePending = false;
    }
    if (complete) NotifyEvent(EC_COMPLETE, S_OK, reinterpret_cast<LONG_PTR>(static_cast<IBaseFilter*>(this)));
    return hr;
}

STDMETHODIMP CWavDest::SetFileName(LPCOLESTR pszFileName, const AM_MEDIA_TYPE*) {
    CheckPointer(pszFileName, E_POINTER);
    if (*pszFileName == 0) return E_INVALIDARG;
    CAutoLock lock(&m_filterLock);
    if (m_State != State_Stopped) return VFW_E_NOT_STOPPED;
    m_fileName = pszFileName;
    return S_OK;
}

STDMETHODIMP CWavDest::GetCurFile(LPOLESTR* ppszFileName, AM_MEDIA_TYPE* pmt) {
    CheckPointer(ppszFileName, E_POINTER);
    CAutoLock lock(&m_filterLock);
    *ppszFileName = NULL;
    if (m_fileName.empty()) return E_FAIL;
    if (pmt) {
        ZeroMemory(pmt, sizeof(*pmt));
        pmt->majortype = MEDIATYPE_Audio;
    }
    return AMGetWideString(m_fileName.c_str(), ppszFileName);
}

STDMETHODIMP_(ULONG) CWavDest::GetMiscFlags() {
    return AM_FILTER_MISC_FLAGS_IS_RENDERER;
}

HRESULT CWavDest::OpenTarget() {
    CloseTarget();
    m_hFile = CreateFileW(m_fileName.c_str(), GENERIC_WRITE, FILE_SHARE_READ, NULL, CREATE_ALWAYS,
                          FILE_ATTRIBUTE_NORMAL, NULL);
    if (m_hFile == INVALID_HANDLE_VALUE) return LastErrorResult();
    // RIFF header with the format as connected; sizes come at the close.
    const CMediaType& mt = m_pPin->CurrentMediaType();
    const DWORD formatSize = mt.FormatLength();
    std::vector<BYTE> header(20 + formatSize + (formatSize & 1) + 8, 0);
    memcpy(&header[0], "RIFF", 4);
    memcpy(&header[8], "WAVEfmt ", 8);
    memcpy(&header[16], &formatSize, 4);
    memcpy(&header[20], mt.Format(), formatSize);
    memcpy(&header[header.size() - 8], "data", 4);
    m_dataOffset = static_cast<DWORD>(header.size());
    m_dataBytes = 0;
    HRESULT hr = WriteAllBytes(m_hFile, header.data(), m_dataOffset);
    if (FAILED(hr)) {
        CloseHandle(m_hFile);
        m_hFile = INVALID_HANDLE_VALUE;
    }
    return hr;
}

HRESULT CWavDest::CloseTarget() {
    if (m_hFile == INVALID_HANDLE_VALUE) return S_OK;
    HRESULT hr = S_OK;
    // An odd data chunk gets its pad byte.
    if (m_dataBytes & 1) {
        const BYTE pad = 0;
        hr = WriteAllBytes(m_hFile, &pad, 1);
    }
    const DWORD riff = Clamp32(m_dataOffset - 8 + m_dataBytes + (m_dataBytes & 1));
    const DWORD data = Clamp32(m_dataBytes);
    LARGE_INTEGER at = {};
    at.QuadPart = 4;
    if (SUCCEEDED(hr) && SetFilePointerEx(m_hFile, at, NULL, FILE_BEGIN)) hr = WriteAllBytes(m_hFile, &riff, 4);
    at.QuadPart = m_dataOffset - 4;
    if (SUCCEEDED(hr) && SetFilePointerEx(m_hFile, at, NULL, FILE_BEGIN)) hr = WriteAllBytes(m_hFile, &data, 4);
    if (!CloseHandle(m_hFile) && SUCCEEDED(hr)) hr = LastErrorResult();
    m_hFile = INVALID_HANDLE_VALUE;
    return hr;
}

HRESULT CWavDest::WriteSample(IMediaSample* pSample) {
    HRESULT hr = S_OK;
    {
        CAutoLock stream(&m_receiveLock);
        if (m_pPin->IsFlushing()) return S_FALSE;
        if (m_endOfStream) return VFW_E_SAMPLE_REJECTED_EOS;
        if (m_hFile == INVALID_HANDLE_VALUE) return S_OK;  // no target: the sound is dropped
        BYTE* pData = NULL;
        hr = pSample->GetPointer(&pData);
        const long length = pSample->GetActualDataLength();
        if (SUCCEEDED(hr) && length > 0) hr = WriteAllBytes(m_hFile, pData, static_cast<DWORD>(length));
        if (SUCCEEDED(hr)) {
            m_dataBytes += length > 0 ? static_cast<unsigned long long>(length) : 0;
            return S_OK;
        }
        CloseTarget();
    }
    NotifyEvent(EC_ERRORABORT, hr, 0);
    return hr;
}

HRESULT CWavDest::EndOfStreamReached() {
    bool running;
    HRESULT hr;
    {
        CAutoLock stream(&m_receiveLock);
        if (m_endOfStream) return S_OK;
        m_endOfStream = true;
        hr = CloseTarget();
        running = m_State == State_Running;
        if (SUCCEEDED(hr) && !running) m_completePending = true;
    }
    // A file whose sizes could not be written is not a finished recording.
    if (FAILED(hr)) {
        NotifyEvent(EC_ERRORABORT, hr, 0);
        return hr;
    }
    if (running) NotifyEvent(EC_COMPLETE, S_OK, reinterpret_cast<LONG_PTR>(static_cast<IBaseFilter*>(this)));
    return S_OK;
}
