#include "platform/dshow/Source.h"

#include <cwchar>
#include <new>

CSource::CSource(LPCTSTR pName, LPUNKNOWN lpunk, CLSID clsid, HRESULT*)
    : CBaseFilter(pName, lpunk, &m_cStateLock, clsid), m_iPins(0), m_paStreams(NULL) {}
CSource::CSource(LPCTSTR pName, LPUNKNOWN lpunk, CLSID clsid)
    : CBaseFilter(pName, lpunk, &m_cStateLock, clsid), m_iPins(0), m_paStreams(NULL) {}
CSource::CSource(LPCSTR, LPUNKNOWN lpunk, CLSID clsid, HRESULT*)
    : CBaseFilter(static_cast<LPCTSTR>(NULL), lpunk, &m_cStateLock, clsid), m_iPins(0), m_paStreams(NULL) {}
CSource::CSource(LPCSTR, LPUNKNOWN lpunk, CLSID clsid)
    : CBaseFilter(static_cast<LPCTSTR>(NULL), lpunk, &m_cStateLock, clsid), m_iPins(0), m_paStreams(NULL) {}

CSource::~CSource() {
    while (m_iPins != 0) delete m_paStreams[m_iPins - 1];
    delete[] m_paStreams;
}

int CSource::GetPinCount() {
    CAutoLock lock(&m_cStateLock);
    return m_iPins;
}

CBasePin* CSource::GetPin(int n) {
    CAutoLock lock(&m_cStateLock);
    if (n >= 0 && n < m_iPins) return m_paStreams[n];
    return NULL;
}

HRESULT CSource::AddPin(CSourceStream* pStream) {
    CAutoLock lock(&m_cStateLock);
    CSourceStream** paStreams = new (std::nothrow) CSourceStream*[m_iPins + 1];
    if (paStreams == NULL) return E_OUTOFMEMORY;
    for (int i = 0; i < m_iPins; i++) paStreams[i] = m_paStreams[i];
    paStreams[m_iPins] = pStream;
    delete[] m_paStreams;
    m_paStreams = paStreams;
    m_iPins++;
    IncrementPinVersion();
    return S_OK;
}

HRESULT CSource::RemovePin(CSourceStream* pStream) {
    CAutoLock lock(&m_cStateLock);
    for (int i = 0; i < m_iPins; i++) {
        if (m_paStreams[i] != pStream) continue;
        for (int j = i + 1; j < m_iPins; j++) m_paStreams[j - 1] = m_paStreams[j];
        m_iPins--;
        if (m_iPins == 0) {
            delete[] m_paStreams;
            m_paStreams = NULL;
        }
        IncrementPinVersion();
        return S_OK;
    }
    return S_FALSE;
}

STDMETHODIMP CSource::FindPin(LPCWSTR Id, IPin** ppPin) {
    CheckPointer(ppPin, E_POINTER);
    *ppPin = NULL;
    CheckPointer(Id, E_POINTER);
    // Pin identifiers are their names; a number is taken as a 1-based index.
    HRESULT hr = CBaseFilter::FindPin(Id, ppPin);
    if (hr == S_OK) return hr;
    int i = _wtoi(Id);
    CBasePin* pPin = i > 0 ? GetPin(i - 1) : NULL;
    if (pPin == NULL) return VFW_E_NOT_FOUND;
    *ppPin = pPin;
    pPin->AddRef();
    return S_OK;
}

int CSource::FindPinNumber(IPin* iPin) {
    CAutoLock lock(&m_cStateLock);
    for (int i = 0; i < m_iPins; i++)
        if (static_cast<IPin*>(m_paStreams[i]) == iPin) return i;
    return -1;
}

// ---- CSourceStream ----

CSourceStream::CSourceStream(LPCTSTR pObjectName, HRESULT* phr, CSource* ps, LPCWSTR pPinName)
    : CAMThread(phr), CBaseOutputPin(pObjectName, ps, ps->pStateLock(), phr, pPinName), m_pFilter(ps) {
    HRESULT hr = m_pFilter->AddPin(this);
    if (FAILED(hr) && phr) *phr = hr;
}

CSourceStream::CSourceStream(LPCSTR pObjectName, HRESULT* phr, CSource* ps, LPCWSTR pPinName)
    : CAMThread(phr), CBaseOutputPin(pObjectName, ps, ps->pStateLock(), phr, pPinName), m_pFilter(ps) {
    HRESULT hr = m_pFilter->AddPin(this);
    if (FAILED(hr) && phr) *phr = hr;
}

CSourceStream::~CSourceStream() {
    m_pFilter->RemovePin(this);
}

STDMETHODIMP CSourceStream::QueryId(LPWSTR* Id) {
    CheckPointer(Id, E_POINTER);
    return CBasePin::QueryId(Id);
}

HRESULT CSourceStream::CheckMediaType(const CMediaType* pMediaType) {
    CAutoLock lock(m_pFilter->pStateLock());
    CMediaType mt;
    HRESULT hr = GetMediaType(&mt);
    if (FAILED(hr)) return E_FAIL;
    return mt == *pMediaType ? NOERROR : E_FAIL;
}

HRESULT CSourceStream::GetMediaType(int iPosition, CMediaType* pMediaType) {
    CAutoLock lock(m_pFilter->pStateLock());
    if (iPosition < 0) return E_INVALIDARG;
    if (iPosition > 0) return VFW_S_NO_MORE_ITEMS;
    return GetMediaType(pMediaType);
}

HRESULT CSourceStream::GetMediaType(CMediaType*) {
    return E_UNEXPECTED;
}

HRESULT CSourceStream::Active() {
    CAutoLock lock(m_pFilter->pStateLock());
    if (m_pFilter->IsActive()) return S_FALSE;
    if (!IsConnected()) return NOERROR;
    HRESULT hr = CBaseOutputPin::Active();
    if (FAILED(hr)) return hr;
    if (ThreadExists()) return E_UNEXPECTED;
    if (!Create()) return E_FAIL;
    hr = Init();
    if (FAILED(hr)) return hr;
    return Pause();
}

HRESULT CSourceStream::Inactive() {
    CAutoLock lock(m_pFilter->pStateLock());
    if (!IsConnected()) return NOERROR;
    // Decommit first: a thread waiting for a buffer gets an error and can
    // then see the stop request.
    HRESULT hr = CBaseOutputPin::Inactive();
    if (FAILED(hr)) return hr;
    if (ThreadExists()) {
        hr = Stop();
        if (FAILED(hr)) return hr;
        hr = Exit();
        if (FAILED(hr)) return hr;
        Close();
    }
    return NOERROR;
}

DWORD CSourceStream::ThreadProc() {
    HRESULT hrCo = CoInitializeEx(NULL, COINIT_MULTITHREADED);
    Command com;
    do {
        com = GetRequest();
        if (com != CMD_INIT) Reply(static_cast<DWORD>(E_UNEXPECTED));
    } while (com != CMD_INIT);

    HRESULT hr = OnThreadCreate();
    if (FAILED(hr)) {
        OnThreadDestroy();
        Reply(static_cast<DWORD>(hr));
        if (SUCCEEDED(hrCo)) CoUninitialize();
        return 1;
    }
    Reply(NOERROR);

    Command cmd;
    do {
        cmd = GetRequest();
        switch (cmd) {
            case CMD_EXIT:
                Reply(NOERROR);
                break;
            case CMD_RUN:
            case CMD_PAUSE:
                Reply(NOERROR);
                DoBufferProcessingLoop();
                break;
            case CMD_STOP:
                Reply(NOERROR);
                break;
            default:
                Reply(static_cast<DWORD>(E_NOTIMPL));
                break;
        }
    } while (cmd != CMD_EXIT);

    OnThreadDestroy();
    if (SUCCEEDED(hrCo)) CoUninitialize();
    return 0;
}

HRESULT CSourceStream::DoBufferProcessingLoop() {
    OnThreadStartPlay();
    Command com;
    do {
        while (!CheckRequest(&com)) {
            IMediaSample* pSample = NULL;
            HRESULT hr = GetDeliveryBuffer(&pSample, NULL, NULL, 0);
            if (FAILED(hr)) {
                // Decommitted: a stop request is on its way.
                Sleep(1);
                continue;
            }
            hr = FillBuffer(pSample);
            if (hr == S_OK) {
                hr = Deliver(pSample);
                pSample->Release();
                if (hr != S_OK) return S_OK;  // downstream wants no more
            } else if (hr == S_FALSE) {
                pSample->Release();
                DeliverEndOfStream();
                return S_OK;
            } else {
                pSample->Release();
                DeliverEndOfStream();
                m_pFilter->NotifyEvent(EC_ERRORABORT, hr, 0);
                return hr;
            }
        }
    } while (AnswerLoopCommand(com));
    return S_FALSE;
}

bool CSourceStream::AnswerLoopCommand(Command com) {
    if (com == CMD_RUN || com == CMD_PAUSE)
        Reply(NOERROR);
    else if (com != CMD_STOP)
        Reply(static_cast<DWORD>(E_UNEXPECTED));
    return com != CMD_STOP;
}
