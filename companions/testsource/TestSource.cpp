#include "companions/testsource/TestSource.h"

#include <new>

#include "platform/dshow/FileIo.h"

namespace {

constexpr long kBufferCount = 4;

}  // namespace

// ---------------------------------------------------------------------------
// Output pin

CTestFileStream::CTestFileStream(HRESULT* phr, CTestFileSource* pFilter)
    : CSourceStream(NAME("Korvell Test File Source output"), phr, pFilter, L"Output"),
      m_pSource(pFilter),
      m_hFile(INVALID_HANDLE_VALUE) {}

HRESULT CTestFileStream::GetMediaType(CMediaType* pMediaType) {
    CheckPointer(pMediaType, E_POINTER);
    pMediaType->InitMediaType();
    pMediaType->SetType(&MEDIATYPE_Stream);
    pMediaType->SetSubtype(&m_pSource->m_subtype);
    pMediaType->SetFormatType(&FORMAT_None);
    pMediaType->SetTemporalCompression(FALSE);
    pMediaType->SetSampleSize(m_pSource->m_sampleBytes);
    return S_OK;
}

HRESULT CTestFileStream::DecideBufferSize(IMemAllocator* pAlloc, ALLOCATOR_PROPERTIES* pRequest) {
    CheckPointer(pAlloc, E_POINTER);
    CheckPointer(pRequest, E_POINTER);
    if (pRequest->cBuffers < kBufferCount) pRequest->cBuffers = kBufferCount;
    pRequest->cbBuffer = static_cast<long>(m_pSource->m_sampleBytes);
    if (pRequest->cbAlign <= 0) pRequest->cbAlign = 1;
    ALLOCATOR_PROPERTIES actual;
    HRESULT hr = pAlloc->SetProperties(pRequest, &actual);
    if (FAILED(hr)) return hr;
    return actual.cbBuffer < pRequest->cbBuffer ? E_FAIL : S_OK;
}

HRESULT CTestFileStream::Deliver(IMediaSample* pSample) {
    HRESULT hr = CBaseOutputPin::Deliver(pSample);
    if (hr != S_OK) return hr;
    InterlockedIncrement(&m_pSource->m_delivered);
    const LONG delay = m_pSource->m_delayMs;
    if (delay > 0) Sleep(static_cast<DWORD>(delay));
    return hr;
}

// The thread lives from Pause to Stop, so each run plays the file from its
// start.
HRESULT CTestFileStream::OnThreadCreate() {
    m_pSource->m_delivered = 0;
    // No lock: the thread is created under the state lock, and the name only
    // changes while stopped.
    const std::wstring& name = m_pSource->m_fileName;
    if (name.empty()) return E_UNEXPECTED;
    m_hFile =
        CreateFileW(name.c_str(), GENERIC_READ, FILE_SHARE_READ, NULL, OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, NULL);
    return m_hFile == INVALID_HANDLE_VALUE ? LastErrorResult() : S_OK;
}

HRESULT CTestFileStream::OnThreadDestroy() {
    if (m_hFile != INVALID_HANDLE_VALUE) CloseHandle(m_hFile);
    m_hFile = INVALID_HANDLE_VALUE;
    return S_OK;
}

HRESULT CTestFileStream::FillBuffer(IMediaSample* pSample) {
    BYTE* pData = NULL;
    HRESULT hr = pSample->GetPointer(&pData);
    if (FAILED(hr)) return hr;
    DWORD got = 0;
    if (!ReadFile(m_hFile, pData, static_cast<DWORD>(pSample->GetSize()), &got, NULL)) return LastErrorResult();
    if (got == 0) return S_FALSE;  // end of file: end of stream
    pSample->SetActualDataLength(static_cast<long>(got));
    pSample->SetSyncPoint(TRUE);
    return S_OK;
}

// ---------------------------------------------------------------------------
// Filter

CUnknown* WINAPI CTestFileSource::CreateInstance(LPUNKNOWN pUnk, HRESULT* phr) {
    CTestFileSource* pSource = new (std::nothrow) CTestFileSource(pUnk, phr);
    if (pSource == NULL) {
        *phr = E_OUTOFMEMORY;
    } else if (FAILED(*phr)) {
        delete pSource;
        pSource = NULL;
    }
    return pSource;
}

CTestFileSource::CTestFileSource(LPUNKNOWN pUnk, HRESULT* phr)
    : CSource(NAME("Korvell Test File Source"), pUnk, CLSID_KorvellTestFileSource),
      m_pStream(NULL),
      m_subtype(MEDIASUBTYPE_NULL),
      m_sampleBytes(kTestSourceDefaultSampleBytes),
      m_delayMs(0),
      m_delivered(0) {
    // The pin adds itself to the filter and is deleted with it.
    m_pStream = new (std::nothrow) CTestFileStream(phr, this);
    if (m_pStream == NULL) *phr = E_OUTOFMEMORY;
}

STDMETHODIMP CTestFileSource::NonDelegatingQueryInterface(REFIID riid, void** ppv) {
    CheckPointer(ppv, E_POINTER);
    if (riid == IID_IFileSourceFilter) return GetInterface(static_cast<IFileSourceFilter*>(this), ppv);
    if (riid == IID_ITestSourceControl) return GetInterface(static_cast<ITestSourceControl*>(this), ppv);
    return CSource::NonDelegatingQueryInterface(riid, ppv);
}

STDMETHODIMP CTestFileSource::Load(LPCOLESTR pszFileName, const AM_MEDIA_TYPE* pmt) {
    CheckPointer(pszFileName, E_POINTER);
    CAutoLock lock(pStateLock());
    if (!IsStopped()) return VFW_E_NOT_STOPPED;
    if (GetFileAttributesW(pszFileName) == INVALID_FILE_ATTRIBUTES) return LastErrorResult();
    m_fileName = pszFileName;
    m_subtype = pmt ? pmt->subtype : MEDIASUBTYPE_NULL;
    return S_OK;
}

STDMETHODIMP CTestFileSource::GetCurFile(LPOLESTR* ppszFileName, AM_MEDIA_TYPE* pmt) {
    CheckPointer(ppszFileName, E_POINTER);
    CAutoLock lock(pStateLock());
    *ppszFileName = NULL;
    if (m_fileName.empty()) return E_FAIL;
    if (pmt) {
        CMediaType mt;
        m_pStream->GetMediaType(&mt);
        HRESULT hr = CopyMediaType(pmt, &mt);
        if (FAILED(hr)) return hr;
    }
    return AMGetWideString(m_fileName.c_str(), ppszFileName);
}

HRESULT STDMETHODCALLTYPE CTestFileSource::SetPacing(ULONG sampleBytes, ULONG delayMs) {
    CAutoLock lock(pStateLock());
    const ULONG bytes = sampleBytes ? sampleBytes : kTestSourceDefaultSampleBytes;
    if (bytes != m_sampleBytes) {
        if (m_pStream->IsConnected()) return VFW_E_ALREADY_CONNECTED;
        m_sampleBytes = bytes;
    }
    m_delayMs = static_cast<LONG>(delayMs);
    return S_OK;
}

HRESULT STDMETHODCALLTYPE CTestFileSource::GetDelivered(ULONG* samples) {
    CheckPointer(samples, E_POINTER);
    *samples = static_cast<ULONG>(m_delivered);
    return S_OK;
}
