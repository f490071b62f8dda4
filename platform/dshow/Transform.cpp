#include "platform/dshow/Transform.h"

#include <cwchar>
#include <new>

// ---- CTransformFilter ----

CTransformFilter::CTransformFilter(LPCTSTR pName, LPUNKNOWN pUnk, REFCLSID clsid)
    : CBaseFilter(pName, pUnk, &m_csFilter, clsid),
      m_bEOSDelivered(FALSE),
      m_bSampleSkipped(FALSE),
      m_bQualityChanged(FALSE),
      m_pInput(NULL),
      m_pOutput(NULL) {}

CTransformFilter::CTransformFilter(LPCSTR, LPUNKNOWN pUnk, REFCLSID clsid)
    : CTransformFilter(static_cast<LPCTSTR>(NULL), pUnk, clsid) {}

CTransformFilter::~CTransformFilter() {
    delete m_pInput;
    delete m_pOutput;
}

CBasePin* CTransformFilter::GetPin(int n) {
    // The pins are made on first use, so a derived class may make its own.
    if (m_pInput == NULL) {
        HRESULT hr = S_OK;
        m_pInput = new (std::nothrow) CTransformInputPin(NAME("Transform input pin"), this, &hr, L"XForm In");
        if (m_pInput == NULL || FAILED(hr)) {
            delete m_pInput;
            m_pInput = NULL;
            return NULL;
        }
        m_pOutput = new (std::nothrow) CTransformOutputPin(NAME("Transform output pin"), this, &hr, L"XForm Out");
        if (m_pOutput == NULL || FAILED(hr)) {
            delete m_pInput;
            delete m_pOutput;
            m_pInput = NULL;
            m_pOutput = NULL;
            return NULL;
        }
    }
    if (n == 0) return m_pInput;
    if (n == 1) return m_pOutput;
    return NULL;
}

STDMETHODIMP CTransformFilter::FindPin(LPCWSTR Id, IPin** ppPin) {
    CheckPointer(ppPin, E_POINTER);
    *ppPin = NULL;
    CheckPointer(Id, E_POINTER);
    // Pin names and the short identifiers from QueryId are both accepted.
    if (wcscmp(Id, L"In") == 0 || wcscmp(Id, L"XForm In") == 0)
        *ppPin = GetPin(0);
    else if (wcscmp(Id, L"Out") == 0 || wcscmp(Id, L"XForm Out") == 0)
        *ppPin = GetPin(1);
    else
        return CBaseFilter::FindPin(Id, ppPin);
    if (*ppPin == NULL) return VFW_E_NOT_FOUND;
    (*ppPin)->AddRef();
    return S_OK;
}

STDMETHODIMP CTransformFilter::Stop() {
    CAutoLock lck1(&m_csFilter);
    if (m_State == State_Stopped) return NOERROR;
    if (m_pInput == NULL || !m_pInput->IsConnected() || !m_pOutput->IsConnected()) {
        m_State = State_Stopped;
        m_bEOSDelivered = FALSE;
        return NOERROR;
    }
    // Input first and outside the receive lock: decommitting its allocator
    // frees an upstream thread waiting for a buffer, and a Receive in
    // progress finishes before we take the receive lock below.
    // A failing pin does not keep the filter running: stop anyway, report it.
    HRESULT hrIn = m_pInput->Inactive();
    CAutoLock lck2(&m_csReceive);
    HRESULT hrOut = m_pOutput->Inactive();
    HRESULT hr = StopStreaming();
    if (SUCCEEDED(hr)) {
        m_State = State_Stopped;
        m_bEOSDelivered = FALSE;
    }
    if (FAILED(hr)) return hr;
    return FAILED(hrIn) ? hrIn : hrOut;
}

STDMETHODIMP CTransformFilter::Pause() {
    CAutoLock lck(&m_csFilter);
    HRESULT hr = NOERROR;
    if (m_State == State_Paused) {
        // nothing to do
    } else if (m_pInput == NULL || !m_pInput->IsConnected()) {
        // Nothing will ever come in: tell downstream at once.
        if (m_pOutput && m_pOutput->IsConnected() && !m_bEOSDelivered) {
            m_pOutput->DeliverEndOfStream();
            m_bEOSDelivered = TRUE;
        }
        m_State = State_Paused;
    } else if (!m_pOutput->IsConnected()) {
        m_State = State_Paused;
    } else {
        if (m_State == State_Stopped) {
            CAutoLock lck2(&m_csReceive);
            hr = StartStreaming();
        }
        if (SUCCEEDED(hr)) hr = CBaseFilter::Pause();
    }
    m_bSampleSkipped = FALSE;
    m_bQualityChanged = FALSE;
    return hr;
}

HRESULT CTransformFilter::Transform(IMediaSample*, IMediaSample*) {
    return E_UNEXPECTED;
}

HRESULT CTransformFilter::InitializeOutputSample(IMediaSample* pSample, IMediaSample** ppOutSample) {
    CheckPointer(ppOutSample, E_POINTER);
    *ppOutSample = NULL;
    AM_SAMPLE2_PROPERTIES* const pProps = m_pInput->SampleProps();
    DWORD dwFlags = m_bSampleSkipped ? AM_GBF_PREVFRAMESKIPPED : 0;
    if (!(pProps->dwSampleFlags & AM_SAMPLE_SPLICEPOINT)) dwFlags |= AM_GBF_NOTASYNCPOINT;

    IMediaSample* pOutSample = NULL;
    bool timed = (pProps->dwSampleFlags & AM_SAMPLE_TIMEVALID) != 0;
    HRESULT hr = m_pOutput->GetDeliveryBuffer(&pOutSample, timed ? &pProps->tStart : NULL,
                                              timed ? &pProps->tStop : NULL, dwFlags);
    if (FAILED(hr)) return hr;
    if (pOutSample == NULL) return E_UNEXPECTED;

    if (!timed)
        hr = pOutSample->SetTime(NULL, NULL);
    else if (pProps->dwSampleFlags & AM_SAMPLE_STOPVALID)
        hr = pOutSample->SetTime(&pProps->tStart, &pProps->tStop);
    else
        hr = pOutSample->SetTime(&pProps->tStart, NULL);
    if (SUCCEEDED(hr)) hr = pOutSample->SetSyncPoint((pProps->dwSampleFlags & AM_SAMPLE_SPLICEPOINT) != 0);
    if (SUCCEEDED(hr)) hr = pOutSample->SetPreroll((pProps->dwSampleFlags & AM_SAMPLE_PREROLL) != 0);
    // A skipped frame before this one breaks the stream too.
    if (SUCCEEDED(hr))
        hr = pOutSample->SetDiscontinuity((pProps->dwSampleFlags & AM_SAMPLE_DATADISCONTINUITY) != 0 ||
                                          m_bSampleSkipped);
    LONGLONG mStart, mEnd;
    if (SUCCEEDED(hr)) {
        if (pSample->GetMediaTime(&mStart, &mEnd) == NOERROR)
            hr = pOutSample->SetMediaTime(&mStart, &mEnd);
        else
            hr = pOutSample->SetMediaTime(NULL, NULL);
    }
    if (FAILED(hr)) {
        pOutSample->Release();
        return hr;
    }
    *ppOutSample = pOutSample;
    return S_OK;
}

HRESULT CTransformFilter::Receive(IMediaSample* pSample) {
    AM_SAMPLE2_PROPERTIES* const pProps = m_pInput->SampleProps();
    if (pProps->dwStreamId != AM_STREAM_MEDIA) return m_pOutput->Deliver(pSample);

    IMediaSample* pOutSample = NULL;
    HRESULT hr = InitializeOutputSample(pSample, &pOutSample);
    if (FAILED(hr)) return hr;
    hr = Transform(pSample, pOutSample);
    if (FAILED(hr)) {
        pOutSample->Release();
        return hr;
    }
    if (hr == NOERROR) {
        hr = m_pOutput->Deliver(pOutSample);
        m_bSampleSkipped = FALSE;
    } else {
        // S_FALSE: the transform dropped this sample.
        pOutSample->Release();
        m_bSampleSkipped = TRUE;
        if (!m_bQualityChanged) {
            NotifyEvent(EC_QUALITY_CHANGE, 0, 0);
            m_bQualityChanged = TRUE;
        }
        return NOERROR;
    }
    pOutSample->Release();
    return hr;
}

HRESULT CTransformFilter::EndOfStream() {
    HRESULT hr = NOERROR;
    if (m_pOutput != NULL) hr = m_pOutput->DeliverEndOfStream();
    return hr;
}

HRESULT CTransformFilter::BeginFlush() {
    return m_pOutput != NULL ? m_pOutput->DeliverBeginFlush() : NOERROR;
}

HRESULT CTransformFilter::EndFlush() {
    return m_pOutput != NULL ? m_pOutput->DeliverEndFlush() : NOERROR;
}

HRESULT CTransformFilter::NewSegment(REFERENCE_TIME tStart, REFERENCE_TIME tStop, double dRate) {
    return m_pOutput != NULL ? m_pOutput->DeliverNewSegment(tStart, tStop, dRate) : S_OK;
}

// ---- CTransformInputPin ----

CTransformInputPin::CTransformInputPin(LPCTSTR pObjectName, CTransformFilter* pTransformFilter, HRESULT* phr,
                                       LPCWSTR pName)
    : CBaseInputPin(pObjectName, pTransformFilter, &pTransformFilter->m_csFilter, phr, pName),
      m_pTransformFilter(pTransformFilter) {}

CTransformInputPin::CTransformInputPin(LPCSTR pObjectName, CTransformFilter* pTransformFilter, HRESULT* phr,
                                       LPCWSTR pName)
    : CBaseInputPin(pObjectName, pTransformFilter, &pTransformFilter->m_csFilter, phr, pName),
      m_pTransformFilter(pTransformFilter) {}

HRESULT CTransformInputPin::CheckConnect(IPin* pPin) {
    HRESULT hr = m_pTransformFilter->CheckConnect(PINDIR_INPUT, pPin);
    if (FAILED(hr)) return hr;
    return CBaseInputPin::CheckConnect(pPin);
}

HRESULT CTransformInputPin::BreakConnect() {
    HRESULT hr = m_pTransformFilter->BreakConnect(PINDIR_INPUT);
    HRESULT hrBase = CBaseInputPin::BreakConnect();
    return FAILED(hr) ? hr : hrBase;
}

HRESULT CTransformInputPin::CompleteConnect(IPin* pReceivePin) {
    HRESULT hr = m_pTransformFilter->CompleteConnect(PINDIR_INPUT, pReceivePin);
    if (FAILED(hr)) return hr;
    return CBaseInputPin::CompleteConnect(pReceivePin);
}

HRESULT CTransformInputPin::CheckMediaType(const CMediaType* mtIn) {
    HRESULT hr = m_pTransformFilter->CheckInputType(mtIn);
    if (hr != S_OK) return hr;
    // With the output connected the pair must still work.
    if (m_pTransformFilter->m_pOutput != NULL && m_pTransformFilter->m_pOutput->IsConnected())
        return m_pTransformFilter->CheckTransform(mtIn, &m_pTransformFilter->m_pOutput->CurrentMediaType());
    return S_OK;
}

HRESULT CTransformInputPin::SetMediaType(const CMediaType* mt) {
    HRESULT hr = CBasePin::SetMediaType(mt);
    if (FAILED(hr)) return hr;
    return m_pTransformFilter->SetMediaType(PINDIR_INPUT, mt);
}

HRESULT CTransformInputPin::CheckStreaming() {
    if (!m_pTransformFilter->m_pOutput->IsConnected()) return VFW_E_NOT_CONNECTED;
    return CBaseInputPin::CheckStreaming();
}

STDMETHODIMP CTransformInputPin::Receive(IMediaSample* pSample) {
    CAutoLock lck(&m_pTransformFilter->m_csReceive);
    HRESULT hr = CBaseInputPin::Receive(pSample);
    if (hr == S_OK) hr = m_pTransformFilter->Receive(pSample);
    return hr;
}

STDMETHODIMP CTransformInputPin::EndOfStream() {
    CAutoLock lck(&m_pTransformFilter->m_csReceive);
    HRESULT hr = CheckStreaming();
    if (hr == S_OK) hr = m_pTransformFilter->EndOfStream();
    return hr;
}

STDMETHODIMP CTransformInputPin::BeginFlush() {
    CAutoLock lck(&m_pTransformFilter->m_csFilter);
    if (!IsConnected() || !m_pTransformFilter->m_pOutput->IsConnected()) return VFW_E_NOT_CONNECTED;
    HRESULT hr = CBaseInputPin::BeginFlush();
    if (FAILED(hr)) return hr;
    return m_pTransformFilter->BeginFlush();
}

STDMETHODIMP CTransformInputPin::EndFlush() {
    CAutoLock lck(&m_pTransformFilter->m_csFilter);
    if (!IsConnected() || !m_pTransformFilter->m_pOutput->IsConnected()) return VFW_E_NOT_CONNECTED;
    HRESULT hr = m_pTransformFilter->EndFlush();
    if (FAILED(hr)) return hr;
    return CBaseInputPin::EndFlush();
}

STDMETHODIMP CTransformInputPin::NewSegment(REFERENCE_TIME tStart, REFERENCE_TIME tStop, double dRate) {
    CBasePin::NewSegment(tStart, tStop, dRate);
    return m_pTransformFilter->NewSegment(tStart, tStop, dRate);
}

// ---- CTransformOutputPin ----

CTransformOutputPin::CTransformOutputPin(LPCTSTR pObjectName, CTransformFilter* pTransformFilter, HRESULT* phr,
                                         LPCWSTR pName)
    : CBaseOutputPin(pObjectName, pTransformFilter, &pTransformFilter->m_csFilter, phr, pName),
      m_pTransformFilter(pTransformFilter),
      m_pPosition(NULL) {}

CTransformOutputPin::CTransformOutputPin(LPCSTR pObjectName, CTransformFilter* pTransformFilter, HRESULT* phr,
                                         LPCWSTR pName)
    : CBaseOutputPin(pObjectName, pTransformFilter, &pTransformFilter->m_csFilter, phr, pName),
      m_pTransformFilter(pTransformFilter),
      m_pPosition(NULL) {}

CTransformOutputPin::~CTransformOutputPin() {
    if (m_pPosition) m_pPosition->Release();
}

STDMETHODIMP CTransformOutputPin::NonDelegatingQueryInterface(REFIID riid, void** ppv) {
    CheckPointer(ppv, E_POINTER);
    // Seeking is answered by the upstream filter's output pin.
    if (IsEqualIID(riid, IID_IMediaSeeking) || IsEqualIID(riid, IID_IMediaPosition)) {
        *ppv = NULL;
        CTransformInputPin* pIn = m_pTransformFilter->m_pInput;
        IPin* pUp = pIn ? pIn->GetConnected() : NULL;
        if (pUp == NULL) return E_NOINTERFACE;
        return pUp->QueryInterface(riid, ppv);
    }
    return CBaseOutputPin::NonDelegatingQueryInterface(riid, ppv);
}

HRESULT CTransformOutputPin::CheckConnect(IPin* pPin) {
    if (m_pTransformFilter->m_pInput == NULL || !m_pTransformFilter->m_pInput->IsConnected()) return E_UNEXPECTED;
    HRESULT hr = m_pTransformFilter->CheckConnect(PINDIR_OUTPUT, pPin);
    if (FAILED(hr)) return hr;
    return CBaseOutputPin::CheckConnect(pPin);
}

HRESULT CTransformOutputPin::BreakConnect() {
    HRESULT hr = m_pTransformFilter->BreakConnect(PINDIR_OUTPUT);
    HRESULT hrBase = CBaseOutputPin::BreakConnect();
    return FAILED(hr) ? hr : hrBase;
}

HRESULT CTransformOutputPin::CompleteConnect(IPin* pReceivePin) {
    HRESULT hr = m_pTransformFilter->CompleteConnect(PINDIR_OUTPUT, pReceivePin);
    if (FAILED(hr)) return hr;
    return CBaseOutputPin::CompleteConnect(pReceivePin);
}

HRESULT CTransformOutputPin::DecideBufferSize(IMemAllocator* pAlloc, ALLOCATOR_PROPERTIES* pProp) {
    return m_pTransformFilter->DecideBufferSize(pAlloc, pProp);
}

HRESULT CTransformOutputPin::CheckMediaType(const CMediaType* mtOut) {
    if (m_pTransformFilter->m_pInput == NULL || !m_pTransformFilter->m_pInput->IsConnected()) return E_INVALIDARG;
    return m_pTransformFilter->CheckTransform(&m_pTransformFilter->m_pInput->CurrentMediaType(), mtOut);
}

HRESULT CTransformOutputPin::SetMediaType(const CMediaType* pmt) {
    HRESULT hr = CBasePin::SetMediaType(pmt);
    if (FAILED(hr)) return hr;
    return m_pTransformFilter->SetMediaType(PINDIR_OUTPUT, pmt);
}

HRESULT CTransformOutputPin::GetMediaType(int iPosition, CMediaType* pMediaType) {
    if (m_pTransformFilter->m_pInput != NULL && m_pTransformFilter->m_pInput->IsConnected())
        return m_pTransformFilter->GetMediaType(iPosition, pMediaType);
    return VFW_S_NO_MORE_ITEMS;
}

STDMETHODIMP CTransformOutputPin::Notify(IBaseFilter*, Quality q) {
    HRESULT hr = m_pTransformFilter->AlterQuality(q);
    if (hr != S_FALSE) return hr;
    return m_pTransformFilter->m_pInput ? m_pTransformFilter->m_pInput->PassNotify(q) : VFW_E_NOT_FOUND;
}
