#include "companions/sinkfilter/SinkFilter.h"

#include <new>

#include "platform/dshow/FileIo.h"

namespace {

// What the disk keeps free for the end of a recording: at 8 Mbit/s, 16 s for
// the host to stop it, and more than a closing flush needs.
const ULONGLONG kDiskReserveBytes = 16ull << 20;
const DWORD kFreeSpaceStep = 256 * 1024;

std::wstring FolderOf(const std::wstring& path) {
    const size_t slash = path.find_last_of(L"\\/");
    return slash == std::wstring::npos ? std::wstring() : path.substr(0, slash + 1);
}

}  // namespace

// ---------------------------------------------------------------------------
// Input pin

CSinkInputPin::CSinkInputPin(CKorvellSink* pFilter, CCritSec* pLock, HRESULT* phr)
    : CWriterInputPin(NAME("Korvell Sink input"), pFilter, pFilter, pLock, phr, L"Input") {}

HRESULT CSinkInputPin::CheckMediaType(const CMediaType*) {
    return S_OK;
}

// ---------------------------------------------------------------------------
// Filter

CUnknown* WINAPI CKorvellSink::CreateInstance(LPUNKNOWN pUnk, HRESULT* phr) {
    CKorvellSink* pSink = new (std::nothrow) CKorvellSink(pUnk, phr);
    if (pSink == NULL) {
        *phr = E_OUTOFMEMORY;
    } else if (FAILED(*phr)) {
        delete pSink;
        pSink = NULL;
    }
    return pSink;
}

CKorvellSink::CKorvellSink(LPUNKNOWN pUnk, HRESULT* phr)
    : CBaseFilter(NAME("Korvell Sink Filter"), pUnk, &m_filterLock, CLSID_KorvellSinkFilter),
      m_pPin(NULL),
      m_hasFileType(false),
      m_hFile(INVALID_HANDLE_VALUE),
      m_failure(S_OK),
      m_diskLow(S_OK),
      m_sinceFreeSpaceCheck(0),
      m_endOfStream(false),
      m_failureReported(false),
      m_completePending(false),
      m_config(this, &CLSID_KorvellSinkFilter) {
    m_pPin = new (std::nothrow) CSinkInputPin(this, &m_filterLock, phr);
    if (m_pPin == NULL) *phr = E_OUTOFMEMORY;
}

CKorvellSink::~CKorvellSink() {
    CloseTarget();
    delete m_pPin;
}

STDMETHODIMP CKorvellSink::NonDelegatingQueryInterface(REFIID riid, void** ppv) {
    CheckPointer(ppv, E_POINTER);
    if (riid == IID_IFileSinkFilter) return GetInterface(static_cast<IFileSinkFilter*>(this), ppv);
    if (riid == IID_IAMFilterMiscFlags) return GetInterface(static_cast<IAMFilterMiscFlags*>(this), ppv);
    if (riid == IID_IModuleConfig) return GetInterface(static_cast<IModuleConfig*>(&m_config), ppv);
    return CBaseFilter::NonDelegatingQueryInterface(riid, ppv);
}

CBasePin* CKorvellSink::GetPin(int n) {
    return n == 0 ? m_pPin : NULL;
}

STDMETHODIMP CKorvellSink::Stop() {
    HRESULT hr;
    {
        CAutoLock lock(&m_filterLock);
        const bool wasActive = m_State != State_Stopped;
        hr = CBaseFilter::Stop();
        if (!wasActive) return hr;
        // Waits for a Receive in progress; nothing is written after this.
        CAutoLock stream(&m_receiveLock);
        HRESULT closed = CloseTarget();
        if (FAILED(closed) && SUCCEEDED(m_failure)) m_failure = closed;
        m_completePending = false;
    }
    // Events go out with no lock held.
    ReportFailure(true);
    return hr;
}

STDMETHODIMP CKorvellSink::Pause() {
    CAutoLock lock(&m_filterLock);
    if (m_State == State_Stopped) {
        // A failed open leaves the state change itself successful: the graph
        // learns of it from EC_ERRORABORT (at Run or at the first sample), and
        // every sample is refused with it.
        CAutoLock stream(&m_receiveLock);
        m_failure = S_OK;
        m_diskLow = S_OK;
        m_failureReported = false;
        m_endOfStream = false;
        m_completePending = false;
        if (m_pPin->IsConnected()) m_failure = OpenTarget();
        if (SUCCEEDED(m_failure) && m_pPin->IsConnected()) CheckFreeSpace(0, true);
    }
    return CBaseFilter::Pause();
}

STDMETHODIMP CKorvellSink::Run(REFERENCE_TIME tStart) {
    HRESULT hr;
    bool complete;
    {
        CAutoLock lock(&m_filterLock);
        hr = CBaseFilter::Run(tStart);
        if (FAILED(hr)) return hr;
        CAutoLock stream(&m_receiveLock);
        complete = m_completePending;
        m_completePending = false;
    }
    ReportFailure();
    if (complete) NotifyEvent(EC_COMPLETE, S_OK, reinterpret_cast<LONG_PTR>(static_cast<IBaseFilter*>(this)));
    return hr;
}

void CKorvellSink::ReportFailure(bool stopping) {
    HRESULT failure;
    {
        CAutoLock stream(&m_receiveLock);
        const HRESULT reported = FAILED(m_failure) ? m_failure : m_diskLow;
        if (SUCCEEDED(reported) || m_failureReported) return;
        // Like EC_COMPLETE, the event waits for Run: events sent while the graph
        // is still pausing on its way to Run can be lost.
        if (m_State != State_Running && !stopping) return;
        m_failureReported = true;
        failure = reported;
    }
    // Outside the stream lock: the graph may stop us from within the event.
    NotifyEvent(EC_ERRORABORT, failure, 0);
}

STDMETHODIMP CKorvellSink::SetFileName(LPCOLESTR pszFileName, const AM_MEDIA_TYPE* pmt) {
    CheckPointer(pszFileName, E_POINTER);
    if (*pszFileName == 0) return E_INVALIDARG;
    CAutoLock lock(&m_filterLock);
    if (m_State != State_Stopped) return VFW_E_NOT_STOPPED;
    if (pmt) {
        HRESULT hr = m_fileType.Set(*pmt);
        if (FAILED(hr)) return hr;
    } else {
        m_fileType.InitMediaType();
    }
    m_hasFileType = pmt != NULL;
    m_fileName = pszFileName;
    return S_OK;
}

STDMETHODIMP CKorvellSink::GetCurFile(LPOLESTR* ppszFileName, AM_MEDIA_TYPE* pmt) {
    CheckPointer(ppszFileName, E_POINTER);
    CAutoLock lock(&m_filterLock);
    *ppszFileName = NULL;
    if (m_fileName.empty()) return E_FAIL;
    if (pmt) {
        if (m_hasFileType) {
            HRESULT hr = CopyMediaType(pmt, &m_fileType);
            if (FAILED(hr)) return hr;
        } else {
            ZeroMemory(pmt, sizeof(*pmt));
        }
    }
    HRESULT hr = AMGetWideString(m_fileName.c_str(), ppszFileName);
    if (FAILED(hr) && pmt) FreeMediaType(*pmt);
    return hr;
}

STDMETHODIMP_(ULONG) CKorvellSink::GetMiscFlags() {
    return AM_FILTER_MISC_FLAGS_IS_RENDERER;
}

HRESULT CKorvellSink::WriteSample(IMediaSample* pSample) {
    HRESULT hr;
    {
        CAutoLock stream(&m_receiveLock);
        hr = m_failure;  // a failed open refuses every sample
        if (SUCCEEDED(hr)) {
            if (m_pPin->IsFlushing()) return S_FALSE;
            if (m_endOfStream) return VFW_E_SAMPLE_REJECTED_EOS;
            if (m_hFile == INVALID_HANDLE_VALUE) return VFW_E_WRONG_STATE;  // stopped meanwhile
            hr = WriteAll(pSample);
            if (SUCCEEDED(hr)) {
                const HRESULT before = m_diskLow;
                CheckFreeSpace(static_cast<DWORD>(pSample->GetActualDataLength()), false);
                if (m_diskLow == before) return S_OK;
            } else {
                m_failure = hr;
                CloseTarget();
            }
        }
    }
    ReportFailure();
    return hr;
}

void CKorvellSink::CheckFreeSpace(DWORD written, bool force) {
    if (FAILED(m_diskLow)) return;
    m_sinceFreeSpaceCheck += written;
    if (!force && m_sinceFreeSpaceCheck < kFreeSpaceStep) return;
    m_sinceFreeSpaceCheck = 0;
    ULARGE_INTEGER available = {};
    const wchar_t* folder = m_targetFolder.empty() ? NULL : m_targetFolder.c_str();
    // A disk that cannot tell is not taken for full: the writes say so if it is.
    if (!GetDiskFreeSpaceExW(folder, &available, NULL, NULL)) return;
    if (available.QuadPart < kDiskReserveBytes) m_diskLow = HRESULT_FROM_WIN32(ERROR_DISK_FULL);
}

HRESULT CKorvellSink::WriteAll(IMediaSample* pSample) {
    BYTE* pData = NULL;
    HRESULT hr = pSample->GetPointer(&pData);
    if (FAILED(hr)) return hr;
    const long length = pSample->GetActualDataLength();
    if (length < 0) return E_INVALIDARG;
    return WriteAllBytes(m_hFile, pData, static_cast<DWORD>(length));
}

HRESULT CKorvellSink::EndOfStreamReached() {
    HRESULT hr;
    bool running;
    {
        CAutoLock stream(&m_receiveLock);
        if (m_endOfStream) return S_OK;
        m_endOfStream = true;
        hr = CloseTarget();
        if (FAILED(hr) && SUCCEEDED(m_failure)) m_failure = hr;
        hr = m_failure;
        running = m_State == State_Running;
        if (SUCCEEDED(hr) && !running) m_completePending = true;
    }
    if (FAILED(hr)) {
        ReportFailure();  // never a success after a failure
        return hr;
    }
    if (running) NotifyEvent(EC_COMPLETE, S_OK, reinterpret_cast<LONG_PTR>(static_cast<IBaseFilter*>(this)));
    return S_OK;
}

HRESULT CKorvellSink::OpenTarget() {
    CloseTarget();
    if (m_fileName.empty()) return E_UNEXPECTED;
    // Readers may look at the growing file (the recorder shows its size).
    const bool append = m_config.WriteMode() == kSinkAppend;
    m_hFile =
        CreateFileW(m_fileName.c_str(), GENERIC_WRITE, FILE_SHARE_READ, NULL, append ? OPEN_ALWAYS : CREATE_ALWAYS,
                    FILE_ATTRIBUTE_NORMAL | FILE_FLAG_SEQUENTIAL_SCAN, NULL);
    if (m_hFile == INVALID_HANDLE_VALUE) return LastErrorResult();
    m_targetFolder = FolderOf(m_fileName);
    m_sinceFreeSpaceCheck = 0;
    LARGE_INTEGER zero = {};
    if (append && !SetFilePointerEx(m_hFile, zero, NULL, FILE_END)) {
        HRESULT hr = LastErrorResult();
        CloseTarget();
        return hr;
    }
    return S_OK;
}

HRESULT CKorvellSink::CloseTarget() {
    if (m_hFile == INVALID_HANDLE_VALUE) return S_OK;
    HRESULT hr = FlushFileBuffers(m_hFile) ? S_OK : LastErrorResult();
    if (!CloseHandle(m_hFile) && SUCCEEDED(hr)) hr = LastErrorResult();
    m_hFile = INVALID_HANDLE_VALUE;
    return hr;
}
