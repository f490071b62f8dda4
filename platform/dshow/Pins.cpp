#include <cwchar>
#include <new>

#include "platform/dshow/Allocator.h"
#include "platform/dshow/Filter.h"

// ---- CBasePin ----

CBasePin::CBasePin(LPCTSTR pObjectName, CBaseFilter* pFilter, CCritSec* pLock, HRESULT* phr, LPCWSTR pName,
                   PIN_DIRECTION dir)
    : CUnknown(pObjectName, NULL) {
    Init(pFilter, pLock, pName, dir);
    if (pName != NULL && m_pName == NULL && phr != NULL) *phr = E_OUTOFMEMORY;
}

CBasePin::CBasePin(LPCSTR pObjectName, CBaseFilter* pFilter, CCritSec* pLock, HRESULT* phr, LPCWSTR pName,
                   PIN_DIRECTION dir)
    : CUnknown(pObjectName, NULL) {
    Init(pFilter, pLock, pName, dir);
    if (pName != NULL && m_pName == NULL && phr != NULL) *phr = E_OUTOFMEMORY;
}

void CBasePin::Init(CBaseFilter* pFilter, CCritSec* pLock, LPCWSTR pName, PIN_DIRECTION dir) {
    m_pName = NULL;
    m_Connected = NULL;
    m_dir = dir;
    m_pLock = pLock;
    m_bRunTimeError = false;
    m_bCanReconnectWhenActive = false;
    m_bTryMyTypesFirst = false;
    m_pFilter = pFilter;
    m_pQSink = NULL;
    m_TypeVersion = 1;
    m_tStart = CRefTime();
    m_tStop = CRefTime(static_cast<REFERENCE_TIME>(0x7FFFFFFFFFFFFFFFLL));
    m_dRate = 1.0;
    if (pName) {
        size_t n = wcslen(pName) + 1;
        m_pName = new (std::nothrow) WCHAR[n];
        if (m_pName) CopyMemory(m_pName, pName, n * sizeof(WCHAR));
    }
}

CBasePin::~CBasePin() {
    if (m_Connected) m_Connected->Release();
    delete[] m_pName;
}

STDMETHODIMP CBasePin::NonDelegatingQueryInterface(REFIID riid, void** ppv) {
    CheckPointer(ppv, E_POINTER);
    if (IsEqualIID(riid, IID_IPin)) return GetInterface(static_cast<IPin*>(this), ppv);
    if (IsEqualIID(riid, IID_IQualityControl)) return GetInterface(static_cast<IQualityControl*>(this), ppv);
    return CUnknown::NonDelegatingQueryInterface(riid, ppv);
}

STDMETHODIMP_(ULONG) CBasePin::NonDelegatingAddRef() {
    return m_pFilter->AddRef();
}
STDMETHODIMP_(ULONG) CBasePin::NonDelegatingRelease() {
    return m_pFilter->Release();
}

STDMETHODIMP CBasePin::Connect(IPin* pReceivePin, const AM_MEDIA_TYPE* pmt) {
    CheckPointer(pReceivePin, E_POINTER);
    CAutoLock lock(m_pLock);
    if (m_Connected) return VFW_E_ALREADY_CONNECTED;
    if (!IsStopped() && !m_bCanReconnectWhenActive) return VFW_E_NOT_STOPPED;
    return AgreeMediaType(pReceivePin, static_cast<const CMediaType*>(pmt));
}

HRESULT CBasePin::AttemptConnection(IPin* pReceivePin, const CMediaType* pmt) {
    HRESULT hr = CheckConnect(pReceivePin);
    if (FAILED(hr)) {
        BreakConnect();
        return hr;
    }
    hr = CheckMediaType(pmt);
    if (hr == S_OK) {
        m_Connected = pReceivePin;
        m_Connected->AddRef();
        hr = SetMediaType(pmt);
        if (SUCCEEDED(hr)) {
            hr = pReceivePin->ReceiveConnection(static_cast<IPin*>(this), pmt);
            if (SUCCEEDED(hr)) {
                hr = CompleteConnect(pReceivePin);
                if (SUCCEEDED(hr)) return hr;
                pReceivePin->Disconnect();
            }
        }
    } else if (SUCCEEDED(hr) || hr == E_FAIL || hr == E_INVALIDARG) {
        hr = VFW_E_TYPE_NOT_ACCEPTED;
    }
    if (m_Connected) {
        m_Connected->Release();
        m_Connected = NULL;
    }
    BreakConnect();
    return hr;
}

HRESULT CBasePin::TryMediaTypes(IPin* pReceivePin, const CMediaType* pmt, IEnumMediaTypes* pEnum) {
    HRESULT hr = pEnum->Reset();
    if (FAILED(hr)) return hr;
    HRESULT hrFailure = S_OK;
    for (;;) {
        AM_MEDIA_TYPE* pMediaType = NULL;
        ULONG ulFetched = 0;
        hr = pEnum->Next(1, &pMediaType, &ulFetched);
        if (hr != S_OK || ulFetched != 1 || pMediaType == NULL) {
            if (pMediaType) DeleteMediaType(pMediaType);
            return SUCCEEDED(hrFailure) ? VFW_E_NO_ACCEPTABLE_TYPES : hrFailure;
        }
        hr = VFW_E_NO_ACCEPTABLE_TYPES;
        const CMediaType* pCandidate = static_cast<CMediaType*>(pMediaType);
        if (pmt == NULL || pCandidate->MatchesPartial(pmt)) {
            hr = AttemptConnection(pReceivePin, pCandidate);
            if (FAILED(hr) && SUCCEEDED(hrFailure) && hr != E_FAIL && hr != E_INVALIDARG &&
                hr != VFW_E_TYPE_NOT_ACCEPTED)
                hrFailure = hr;
        }
        DeleteMediaType(pMediaType);
        if (SUCCEEDED(hr)) return hr;
    }
}

HRESULT CBasePin::AgreeMediaType(IPin* pReceivePin, const CMediaType* pmt) {
    if (pmt != NULL && !pmt->IsPartiallySpecified()) return AttemptConnection(pReceivePin, pmt);

    HRESULT hrFailure = VFW_E_NO_ACCEPTABLE_TYPES;
    for (int i = 0; i < 2; i++) {
        IEnumMediaTypes* pEnum = NULL;
        HRESULT hr;
        // Unless told otherwise the receiving pin's types come first.
        if (i == static_cast<int>(m_bTryMyTypesFirst))
            hr = pReceivePin->EnumMediaTypes(&pEnum);
        else
            hr = EnumMediaTypes(&pEnum);
        if (SUCCEEDED(hr) && pEnum != NULL) {
            hr = TryMediaTypes(pReceivePin, pmt, pEnum);
            pEnum->Release();
            if (SUCCEEDED(hr)) return NOERROR;
            if (hr != E_FAIL && hr != E_INVALIDARG && hr != VFW_E_TYPE_NOT_ACCEPTED && hr != VFW_E_NO_ACCEPTABLE_TYPES)
                hrFailure = hr;
        }
    }
    return hrFailure;
}

STDMETHODIMP CBasePin::ReceiveConnection(IPin* pConnector, const AM_MEDIA_TYPE* pmt) {
    CheckPointer(pConnector, E_POINTER);
    CheckPointer(pmt, E_POINTER);
    CAutoLock lock(m_pLock);
    if (m_Connected) return VFW_E_ALREADY_CONNECTED;
    if (!IsStopped() && !m_bCanReconnectWhenActive) return VFW_E_NOT_STOPPED;
    HRESULT hr = CheckConnect(pConnector);
    if (FAILED(hr)) {
        BreakConnect();
        return hr;
    }
    const CMediaType* pcmt = static_cast<const CMediaType*>(pmt);
    hr = CheckMediaType(pcmt);
    if (hr != S_OK) {
        BreakConnect();
        if (SUCCEEDED(hr) || hr == E_FAIL || hr == E_INVALIDARG) hr = VFW_E_TYPE_NOT_ACCEPTED;
        return hr;
    }
    m_Connected = pConnector;
    m_Connected->AddRef();
    hr = SetMediaType(pcmt);
    if (SUCCEEDED(hr)) {
        hr = CompleteConnect(pConnector);
        if (SUCCEEDED(hr)) return NOERROR;
    }
    m_Connected->Release();
    m_Connected = NULL;
    BreakConnect();
    return hr;
}

STDMETHODIMP CBasePin::Disconnect() {
    CAutoLock lock(m_pLock);
    if (!IsStopped()) return VFW_E_NOT_STOPPED;
    return DisconnectInternal();
}

STDMETHODIMP CTerminalInputPin::Disconnect() {
    if (m_pFilter->PausedNeverRun()) {
        HRESULT hr = m_pFilter->Stop();
        if (FAILED(hr)) return hr;
    }
    return CBaseInputPin::Disconnect();
}

CWriterInputPin::CWriterInputPin(LPCTSTR pObjectName, CBaseFilter* pFilter, CWriterTarget* pTarget, CCritSec* pLock,
                                 HRESULT* phr, LPCWSTR pName)
    : CTerminalInputPin(pObjectName, pFilter, pLock, phr, pName), m_pTarget(pTarget) {}

STDMETHODIMP CWriterInputPin::Receive(IMediaSample* pSample) {
    HRESULT hr = CBaseInputPin::Receive(pSample);
    if (hr != S_OK) return hr;
    return m_pTarget->WriteSample(pSample);
}

STDMETHODIMP CWriterInputPin::EndOfStream() {
    if (IsStopped()) return VFW_E_WRONG_STATE;
    if (IsFlushing()) return S_FALSE;
    return m_pTarget->EndOfStreamReached();
}

STDMETHODIMP CWriterInputPin::BeginFlush() {
    CAutoLock lock(m_pTarget->ReceiveLock());
    return CBaseInputPin::BeginFlush();
}

STDMETHODIMP CWriterInputPin::EndFlush() {
    CAutoLock lock(m_pTarget->ReceiveLock());
    return CBaseInputPin::EndFlush();
}

STDMETHODIMP CWriterInputPin::ReceiveCanBlock() {
    return S_FALSE;
}

HRESULT CBasePin::DisconnectInternal() {
    if (m_Connected == NULL) return S_FALSE;
    HRESULT hr = BreakConnect();
    if (FAILED(hr)) return hr;
    m_Connected->Release();
    m_Connected = NULL;
    return S_OK;
}

STDMETHODIMP CBasePin::ConnectedTo(IPin** ppPin) {
    CheckPointer(ppPin, E_POINTER);
    IPin* pPin = m_Connected;
    *ppPin = pPin;
    if (pPin == NULL) return VFW_E_NOT_CONNECTED;
    pPin->AddRef();
    return S_OK;
}

STDMETHODIMP CBasePin::ConnectionMediaType(AM_MEDIA_TYPE* pmt) {
    CheckPointer(pmt, E_POINTER);
    CAutoLock lock(m_pLock);
    if (IsConnected()) return CopyMediaType(pmt, &m_mt);
    ZeroMemory(pmt, sizeof(*pmt));
    pmt->lSampleSize = 1;
    pmt->bFixedSizeSamples = TRUE;
    return VFW_E_NOT_CONNECTED;
}

STDMETHODIMP CBasePin::QueryPinInfo(PIN_INFO* pInfo) {
    CheckPointer(pInfo, E_POINTER);
    pInfo->pFilter = m_pFilter;
    if (m_pFilter) m_pFilter->AddRef();
    if (m_pName)
        lstrcpynW(pInfo->achName, m_pName, MAX_PIN_NAME);
    else
        pInfo->achName[0] = L'\0';
    pInfo->dir = m_dir;
    return NOERROR;
}

STDMETHODIMP CBasePin::QueryDirection(PIN_DIRECTION* pPinDir) {
    CheckPointer(pPinDir, E_POINTER);
    *pPinDir = m_dir;
    return NOERROR;
}

STDMETHODIMP CBasePin::QueryId(LPWSTR* Id) {
    CheckPointer(Id, E_POINTER);
    return AMGetWideString(m_pName ? m_pName : L"", Id);
}

STDMETHODIMP CBasePin::QueryAccept(const AM_MEDIA_TYPE* pmt) {
    CheckPointer(pmt, E_POINTER);
    HRESULT hr = CheckMediaType(static_cast<const CMediaType*>(pmt));
    return FAILED(hr) ? S_FALSE : hr;
}

STDMETHODIMP CBasePin::EnumMediaTypes(IEnumMediaTypes** ppEnum) {
    CheckPointer(ppEnum, E_POINTER);
    *ppEnum = new (std::nothrow) CEnumMediaTypes(this, NULL);
    return *ppEnum ? NOERROR : E_OUTOFMEMORY;
}

STDMETHODIMP CBasePin::QueryInternalConnections(IPin**, ULONG*) {
    return E_NOTIMPL;
}

STDMETHODIMP CBasePin::EndOfStream() {
    return S_OK;
}

STDMETHODIMP CBasePin::NewSegment(REFERENCE_TIME tStart, REFERENCE_TIME tStop, double dRate) {
    m_tStart = tStart;
    m_tStop = tStop;
    m_dRate = dRate;
    return S_OK;
}

STDMETHODIMP CBasePin::Notify(IBaseFilter*, Quality) {
    return E_NOTIMPL;
}

STDMETHODIMP CBasePin::SetSink(IQualityControl* piqc) {
    CAutoLock lock(m_pLock);
    m_pQSink = piqc;
    return NOERROR;
}

HRESULT CBasePin::SetMediaType(const CMediaType* pmt) {
    return m_mt.Set(*pmt);
}

HRESULT CBasePin::CheckConnect(IPin* pPin) {
    PIN_DIRECTION pd;
    HRESULT hr = pPin->QueryDirection(&pd);
    if (FAILED(hr)) return hr;
    if (pd == m_dir) return VFW_E_INVALID_DIRECTION;
    return NOERROR;
}

HRESULT CBasePin::BreakConnect() {
    return NOERROR;
}
HRESULT CBasePin::CompleteConnect(IPin*) {
    return NOERROR;
}
HRESULT CBasePin::GetMediaType(int, CMediaType*) {
    return E_UNEXPECTED;
}
HRESULT CBasePin::Run(REFERENCE_TIME) {
    return NOERROR;
}

// ---- CBaseOutputPin ----

CBaseOutputPin::CBaseOutputPin(LPCTSTR pObjectName, CBaseFilter* pFilter, CCritSec* pLock, HRESULT* phr, LPCWSTR pName)
    : CBasePin(pObjectName, pFilter, pLock, phr, pName, PINDIR_OUTPUT), m_pAllocator(NULL), m_pInputPin(NULL) {}

CBaseOutputPin::CBaseOutputPin(LPCSTR pObjectName, CBaseFilter* pFilter, CCritSec* pLock, HRESULT* phr, LPCWSTR pName)
    : CBasePin(pObjectName, pFilter, pLock, phr, pName, PINDIR_OUTPUT), m_pAllocator(NULL), m_pInputPin(NULL) {}

HRESULT CBaseOutputPin::CompleteConnect(IPin*) {
    return DecideAllocator(m_pInputPin, &m_pAllocator);
}

HRESULT CBaseOutputPin::CheckConnect(IPin* pPin) {
    HRESULT hr = CBasePin::CheckConnect(pPin);
    if (FAILED(hr)) return hr;
    hr = pPin->QueryInterface(IID_IMemInputPin, reinterpret_cast<void**>(&m_pInputPin));
    if (FAILED(hr)) {
        m_pInputPin = NULL;
        return hr;
    }
    return NOERROR;
}

HRESULT CBaseOutputPin::BreakConnect() {
    if (m_pAllocator) {
        HRESULT hr = m_pAllocator->Decommit();
        if (FAILED(hr)) return hr;
        m_pAllocator->Release();
        m_pAllocator = NULL;
    }
    if (m_pInputPin) {
        m_pInputPin->Release();
        m_pInputPin = NULL;
    }
    return NOERROR;
}

HRESULT CBaseOutputPin::InitAllocator(IMemAllocator** ppAlloc) {
    return CreateMemoryAllocator(ppAlloc);
}

HRESULT CBaseOutputPin::DecideAllocator(IMemInputPin* pPin, IMemAllocator** ppAlloc) {
    CheckPointer(pPin, E_POINTER);
    CheckPointer(ppAlloc, E_POINTER);
    *ppAlloc = NULL;
    ALLOCATOR_PROPERTIES prop;
    ZeroMemory(&prop, sizeof(prop));
    pPin->GetAllocatorRequirements(&prop);
    if (prop.cbAlign == 0) prop.cbAlign = 1;

    HRESULT hr = pPin->GetAllocator(ppAlloc);
    if (SUCCEEDED(hr) && *ppAlloc != NULL) {
        hr = DecideBufferSize(*ppAlloc, &prop);
        if (SUCCEEDED(hr)) {
            hr = pPin->NotifyAllocator(*ppAlloc, FALSE);
            if (SUCCEEDED(hr)) return NOERROR;
        }
    }
    if (*ppAlloc) {
        (*ppAlloc)->Release();
        *ppAlloc = NULL;
    }
    hr = InitAllocator(ppAlloc);
    if (SUCCEEDED(hr)) {
        hr = DecideBufferSize(*ppAlloc, &prop);
        if (SUCCEEDED(hr)) {
            hr = pPin->NotifyAllocator(*ppAlloc, FALSE);
            if (SUCCEEDED(hr)) return NOERROR;
        }
    }
    if (*ppAlloc) {
        (*ppAlloc)->Release();
        *ppAlloc = NULL;
    }
    return hr;
}

HRESULT CBaseOutputPin::GetDeliveryBuffer(IMediaSample** ppSample, REFERENCE_TIME* pStartTime, REFERENCE_TIME* pEndTime,
                                          DWORD dwFlags) {
    if (m_pAllocator == NULL) return E_NOINTERFACE;
    return m_pAllocator->GetBuffer(ppSample, pStartTime, pEndTime, dwFlags);
}

HRESULT CBaseOutputPin::Deliver(IMediaSample* pSample) {
    if (m_pInputPin == NULL) return VFW_E_NOT_CONNECTED;
    return m_pInputPin->Receive(pSample);
}

HRESULT CBaseOutputPin::DeliverEndOfStream() {
    if (m_Connected == NULL) return VFW_E_NOT_CONNECTED;
    return m_Connected->EndOfStream();
}

HRESULT CBaseOutputPin::DeliverBeginFlush() {
    if (m_Connected == NULL) return VFW_E_NOT_CONNECTED;
    return m_Connected->BeginFlush();
}

HRESULT CBaseOutputPin::DeliverEndFlush() {
    if (m_Connected == NULL) return VFW_E_NOT_CONNECTED;
    return m_Connected->EndFlush();
}

HRESULT CBaseOutputPin::DeliverNewSegment(REFERENCE_TIME tStart, REFERENCE_TIME tStop, double dRate) {
    if (m_Connected == NULL) return VFW_E_NOT_CONNECTED;
    return m_Connected->NewSegment(tStart, tStop, dRate);
}

HRESULT CBaseOutputPin::Active() {
    if (m_pAllocator == NULL) return VFW_E_NO_ALLOCATOR;
    return m_pAllocator->Commit();
}

HRESULT CBaseOutputPin::Inactive() {
    m_bRunTimeError = false;
    if (m_pAllocator == NULL) return VFW_E_NO_ALLOCATOR;
    return m_pAllocator->Decommit();
}

STDMETHODIMP CBaseOutputPin::EndOfStream() {
    return E_UNEXPECTED;
}
STDMETHODIMP CBaseOutputPin::BeginFlush() {
    return E_UNEXPECTED;
}
STDMETHODIMP CBaseOutputPin::EndFlush() {
    return E_UNEXPECTED;
}

// ---- CBaseInputPin ----

CBaseInputPin::CBaseInputPin(LPCTSTR pObjectName, CBaseFilter* pFilter, CCritSec* pLock, HRESULT* phr, LPCWSTR pName)
    : CBasePin(pObjectName, pFilter, pLock, phr, pName, PINDIR_INPUT),
      m_pAllocator(NULL),
      m_bReadOnly(FALSE),
      m_bFlushing(FALSE) {
    ZeroMemory(&m_SampleProps, sizeof(m_SampleProps));
}

CBaseInputPin::CBaseInputPin(LPCSTR pObjectName, CBaseFilter* pFilter, CCritSec* pLock, HRESULT* phr, LPCWSTR pName)
    : CBasePin(pObjectName, pFilter, pLock, phr, pName, PINDIR_INPUT),
      m_pAllocator(NULL),
      m_bReadOnly(FALSE),
      m_bFlushing(FALSE) {
    ZeroMemory(&m_SampleProps, sizeof(m_SampleProps));
}

CBaseInputPin::~CBaseInputPin() {
    if (m_pAllocator) {
        m_pAllocator->Release();
        m_pAllocator = NULL;
    }
}

STDMETHODIMP CBaseInputPin::NonDelegatingQueryInterface(REFIID riid, void** ppv) {
    CheckPointer(ppv, E_POINTER);
    if (IsEqualIID(riid, IID_IMemInputPin)) return GetInterface(static_cast<IMemInputPin*>(this), ppv);
    return CBasePin::NonDelegatingQueryInterface(riid, ppv);
}

STDMETHODIMP CBaseInputPin::GetAllocator(IMemAllocator** ppAllocator) {
    CheckPointer(ppAllocator, E_POINTER);
    CAutoLock lock(m_pLock);
    *ppAllocator = NULL;
    if (m_pAllocator == NULL) {
        HRESULT hr = CreateMemoryAllocator(&m_pAllocator);
        if (FAILED(hr)) return hr;
    }
    *ppAllocator = m_pAllocator;
    m_pAllocator->AddRef();
    return NOERROR;
}

STDMETHODIMP CBaseInputPin::NotifyAllocator(IMemAllocator* pAllocator, BOOL bReadOnly) {
    CheckPointer(pAllocator, E_POINTER);
    CAutoLock lock(m_pLock);
    IMemAllocator* pOld = m_pAllocator;
    pAllocator->AddRef();
    m_pAllocator = pAllocator;
    if (pOld) pOld->Release();
    m_bReadOnly = static_cast<BYTE>(bReadOnly ? TRUE : FALSE);
    return NOERROR;
}

STDMETHODIMP CBaseInputPin::GetAllocatorRequirements(ALLOCATOR_PROPERTIES*) {
    return E_NOTIMPL;
}

HRESULT CBaseInputPin::CheckStreaming() {
    if (IsStopped()) return VFW_E_WRONG_STATE;
    if (m_bFlushing) return S_FALSE;
    if (m_bRunTimeError) return VFW_E_RUNTIME_ERROR;
    return S_OK;
}

STDMETHODIMP CBaseInputPin::Receive(IMediaSample* pSample) {
    CheckPointer(pSample, E_POINTER);
    HRESULT hr = CheckStreaming();
    if (hr != S_OK) return hr;

    AM_MEDIA_TYPE* pOwnedType = NULL;
    IMediaSample2* pSample2 = NULL;
    if (SUCCEEDED(pSample->QueryInterface(IID_IMediaSample2, reinterpret_cast<void**>(&pSample2)))) {
        hr = pSample2->GetProperties(sizeof(m_SampleProps), reinterpret_cast<BYTE*>(&m_SampleProps));
        pSample2->Release();
        if (FAILED(hr)) return hr;
    } else {
        ZeroMemory(&m_SampleProps, sizeof(m_SampleProps));
        m_SampleProps.cbData = sizeof(m_SampleProps);
        m_SampleProps.dwStreamId = AM_STREAM_MEDIA;
        hr = pSample->GetTime(&m_SampleProps.tStart, &m_SampleProps.tStop);
        if (SUCCEEDED(hr)) {
            m_SampleProps.dwSampleFlags |= AM_SAMPLE_TIMEVALID;
            if (hr == S_OK) m_SampleProps.dwSampleFlags |= AM_SAMPLE_STOPVALID;
        }
        if (pSample->GetMediaType(&pOwnedType) == S_OK && pOwnedType != NULL) {
            m_SampleProps.dwSampleFlags |= AM_SAMPLE_TYPECHANGED;
            m_SampleProps.pMediaType = pOwnedType;
        }
        if (pSample->IsDiscontinuity() == S_OK) m_SampleProps.dwSampleFlags |= AM_SAMPLE_DATADISCONTINUITY;
        if (pSample->IsPreroll() == S_OK) m_SampleProps.dwSampleFlags |= AM_SAMPLE_PREROLL;
        if (pSample->IsSyncPoint() == S_OK) m_SampleProps.dwSampleFlags |= AM_SAMPLE_SPLICEPOINT;
        pSample->GetPointer(&m_SampleProps.pbBuffer);
        m_SampleProps.lActual = pSample->GetActualDataLength();
        m_SampleProps.cbBuffer = pSample->GetSize();
    }

    hr = NOERROR;
    if (m_SampleProps.dwSampleFlags & AM_SAMPLE_TYPECHANGED) {
        const CMediaType* pmt = static_cast<const CMediaType*>(m_SampleProps.pMediaType);
        if (pmt == NULL || CheckMediaType(pmt) != S_OK) {
            // A format we cannot take mid-stream ends the stream with an error.
            m_bRunTimeError = true;
            EndOfStream();
            m_pFilter->NotifyEvent(EC_ERRORABORT, VFW_E_TYPE_NOT_ACCEPTED, 0);
            hr = VFW_E_INVALIDMEDIATYPE;
        }
    }
    if (pOwnedType) {
        DeleteMediaType(pOwnedType);
        m_SampleProps.pMediaType = NULL;
    }
    return hr;
}

STDMETHODIMP CBaseInputPin::ReceiveMultiple(IMediaSample** pSamples, long nSamples, long* nSamplesProcessed) {
    CheckPointer(pSamples, E_POINTER);
    CheckPointer(nSamplesProcessed, E_POINTER);
    HRESULT hr = S_OK;
    *nSamplesProcessed = 0;
    while (nSamples-- > 0) {
        hr = Receive(pSamples[*nSamplesProcessed]);
        if (hr != S_OK) break;
        (*nSamplesProcessed)++;
    }
    return hr;
}

STDMETHODIMP CBaseInputPin::ReceiveCanBlock() {
    // Blocks when any downstream input blocks, or when we are a renderer.
    int cPins = m_pFilter->GetPinCount();
    int nOutputPins = 0;
    for (int c = 0; c < cPins; c++) {
        CBasePin* pPin = m_pFilter->GetPin(c);
        if (pPin == NULL) continue;
        PIN_DIRECTION pd;
        if (FAILED(pPin->QueryDirection(&pd)) || pd != PINDIR_OUTPUT) continue;
        nOutputPins++;
        IPin* pConnected = NULL;
        if (SUCCEEDED(pPin->ConnectedTo(&pConnected))) {
            IMemInputPin* pInput = NULL;
            HRESULT hr = pConnected->QueryInterface(IID_IMemInputPin, reinterpret_cast<void**>(&pInput));
            pConnected->Release();
            if (SUCCEEDED(hr)) {
                hr = pInput->ReceiveCanBlock();
                pInput->Release();
                if (hr != S_FALSE) return S_OK;
            } else {
                return S_OK;
            }
        }
    }
    return nOutputPins == 0 ? S_OK : S_FALSE;
}

STDMETHODIMP CBaseInputPin::BeginFlush() {
    CAutoLock lock(m_pLock);
    m_bFlushing = TRUE;
    return S_OK;
}

STDMETHODIMP CBaseInputPin::EndFlush() {
    CAutoLock lock(m_pLock);
    m_bFlushing = FALSE;
    m_bRunTimeError = false;
    return S_OK;
}

STDMETHODIMP CBaseInputPin::Notify(IBaseFilter*, Quality) {
    return E_NOTIMPL;
}

HRESULT CBaseInputPin::PassNotify(Quality& q) {
    if (m_pQSink != NULL) return m_pQSink->Notify(m_pFilter, q);
    if (m_Connected == NULL) return VFW_E_NOT_FOUND;
    IQualityControl* pIQC = NULL;
    HRESULT hr = m_Connected->QueryInterface(IID_IQualityControl, reinterpret_cast<void**>(&pIQC));
    if (FAILED(hr)) return VFW_E_NOT_FOUND;
    hr = pIQC->Notify(m_pFilter, q);
    pIQC->Release();
    return hr;
}

HRESULT CBaseInputPin::BreakConnect() {
    if (m_pAllocator) {
        HRESULT hr = m_pAllocator->Decommit();
        if (FAILED(hr)) return hr;
        m_pAllocator->Release();
        m_pAllocator = NULL;
    }
    return S_OK;
}

HRESULT CBaseInputPin::Inactive() {
    m_bRunTimeError = false;
    if (m_pAllocator == NULL) return VFW_E_NO_ALLOCATOR;
    m_bFlushing = FALSE;
    return m_pAllocator->Decommit();
}
