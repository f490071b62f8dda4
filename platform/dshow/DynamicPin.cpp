#include "platform/dshow/Filter.h"

CDynamicOutputPin::CDynamicOutputPin(LPCTSTR pObjectName, CBaseFilter* pFilter, CCritSec* pLock, HRESULT* phr,
                                     LPCWSTR pName)
    : CBaseOutputPin(pObjectName, pFilter, pLock, phr, pName) {
    InitDynamic();
    if (m_hUnblockOutputPinEvent == NULL && phr != NULL) *phr = E_OUTOFMEMORY;
}

CDynamicOutputPin::CDynamicOutputPin(LPCSTR pObjectName, CBaseFilter* pFilter, CCritSec* pLock, HRESULT* phr,
                                     LPCWSTR pName)
    : CBaseOutputPin(pObjectName, pFilter, pLock, phr, pName) {
    InitDynamic();
    if (m_hUnblockOutputPinEvent == NULL && phr != NULL) *phr = E_OUTOFMEMORY;
}

void CDynamicOutputPin::InitDynamic() {
    // Manual reset, signalled while the pin is not blocked.
    m_hUnblockOutputPinEvent = CreateEventW(NULL, TRUE, TRUE, NULL);
    m_hNotifyCallerPinBlockedEvent = NULL;
    m_BlockState = NOT_BLOCKED;
    m_dwBlockCallerThreadID = 0;
    m_dwNumOutstandingOutputPinUsers = 0;
    m_hStopEvent = NULL;
    m_pGraphConfig = NULL;
    m_bPinUsesReadOnlyAllocator = FALSE;
}

CDynamicOutputPin::~CDynamicOutputPin() {
    if (m_hUnblockOutputPinEvent) CloseHandle(m_hUnblockOutputPinEvent);
}

STDMETHODIMP CDynamicOutputPin::NonDelegatingQueryInterface(REFIID riid, void** ppv) {
    CheckPointer(ppv, E_POINTER);
    if (IsEqualIID(riid, IID_IPinFlowControl)) return GetInterface(static_cast<IPinFlowControl*>(this), ppv);
    return CBaseOutputPin::NonDelegatingQueryInterface(riid, ppv);
}

STDMETHODIMP CDynamicOutputPin::Disconnect() {
    // A dynamic pin may be disconnected while the graph runs.
    CAutoLock lock(m_pLock);
    return DisconnectInternal();
}

STDMETHODIMP CDynamicOutputPin::Block(DWORD dwBlockFlags, HANDLE hEvent) {
    if (dwBlockFlags & ~static_cast<DWORD>(AM_PIN_FLOW_CONTROL_BLOCK)) return E_INVALIDARG;
    if (dwBlockFlags & AM_PIN_FLOW_CONTROL_BLOCK) {
        return hEvent == NULL ? SynchronousBlockOutputPin() : AsynchronousBlockOutputPin(hEvent);
    }
    if (hEvent != NULL) return E_INVALIDARG;
    return UnblockOutputPin();
}

HRESULT CDynamicOutputPin::SynchronousBlockOutputPin() {
    HANDLE hBlocked = CreateEventW(NULL, FALSE, FALSE, NULL);
    if (hBlocked == NULL) return E_OUTOFMEMORY;
    HRESULT hr = AsynchronousBlockOutputPin(hBlocked);
    if (FAILED(hr)) {
        CloseHandle(hBlocked);
        return hr;
    }
    HANDLE h[2] = {hBlocked, m_hStopEvent};
    DWORD r = WaitForMultipleObjects(m_hStopEvent ? 2 : 1, h, FALSE, INFINITE);
    {
        CAutoLock lock(&m_BlockStateLock);
        if (m_hNotifyCallerPinBlockedEvent == hBlocked) m_hNotifyCallerPinBlockedEvent = NULL;
    }
    CloseHandle(hBlocked);
    if (r == WAIT_OBJECT_0) return S_OK;
    UnblockOutputPin();
    return r == WAIT_OBJECT_0 + 1 ? VFW_E_STATE_CHANGED : E_FAIL;
}

HRESULT CDynamicOutputPin::AsynchronousBlockOutputPin(HANDLE hNotifyCallerPinBlockedEvent) {
    CAutoLock lock(&m_BlockStateLock);
    if (m_BlockState != NOT_BLOCKED) return VFW_E_PIN_ALREADY_BLOCKED;
    ResetEvent(m_hUnblockOutputPinEvent);
    m_dwBlockCallerThreadID = GetCurrentThreadId();
    if (m_dwNumOutstandingOutputPinUsers == 0) {
        m_BlockState = BLOCKED;
        SetEvent(hNotifyCallerPinBlockedEvent);
    } else {
        m_BlockState = PENDING;
        m_hNotifyCallerPinBlockedEvent = hNotifyCallerPinBlockedEvent;
    }
    return S_OK;
}

HRESULT CDynamicOutputPin::UnblockOutputPin() {
    CAutoLock lock(&m_BlockStateLock);
    if (m_BlockState == NOT_BLOCKED) return S_FALSE;
    m_BlockState = NOT_BLOCKED;
    m_dwBlockCallerThreadID = 0;
    m_hNotifyCallerPinBlockedEvent = NULL;
    SetEvent(m_hUnblockOutputPinEvent);
    return S_OK;
}

void CDynamicOutputPin::SetBlockingState() {
    if (m_BlockState == PENDING && m_dwNumOutstandingOutputPinUsers == 0) {
        m_BlockState = BLOCKED;
        if (m_hNotifyCallerPinBlockedEvent) SetEvent(m_hNotifyCallerPinBlockedEvent);
        m_hNotifyCallerPinBlockedEvent = NULL;
    }
}

HRESULT CDynamicOutputPin::StartUsingOutputPin() {
    for (;;) {
        {
            CAutoLock lock(&m_BlockStateLock);
            if (m_BlockState == NOT_BLOCKED || m_dwBlockCallerThreadID == GetCurrentThreadId()) {
                m_dwNumOutstandingOutputPinUsers++;
                return S_OK;
            }
        }
        HANDLE h[2] = {m_hUnblockOutputPinEvent, m_hStopEvent};
        DWORD r = WaitForMultipleObjects(m_hStopEvent ? 2 : 1, h, FALSE, INFINITE);
        if (r == WAIT_OBJECT_0 + 1) return VFW_E_STATE_CHANGED;
        if (r != WAIT_OBJECT_0) return E_FAIL;
    }
}

void CDynamicOutputPin::StopUsingOutputPin() {
    CAutoLock lock(&m_BlockStateLock);
    if (m_dwNumOutstandingOutputPinUsers > 0) m_dwNumOutstandingOutputPinUsers--;
    SetBlockingState();
}

bool CDynamicOutputPin::StreamingThreadUsingOutputPin() {
    CAutoLock lock(&m_BlockStateLock);
    return m_dwNumOutstandingOutputPinUsers > 0;
}

void CDynamicOutputPin::SetConfigInfo(IGraphConfig* pGraphConfig, HANDLE hStopEvent) {
    m_pGraphConfig = pGraphConfig;  // not referenced: the graph owns us
    m_hStopEvent = hStopEvent;
}

HRESULT CDynamicOutputPin::Active() {
    return CBaseOutputPin::Active();
}

HRESULT CDynamicOutputPin::Inactive() {
    HRESULT hr = CBaseOutputPin::Inactive();
    UnblockOutputPin();
    return hr;
}

HRESULT CDynamicOutputPin::CompleteConnect(IPin* pReceivePin) {
    HRESULT hr = CBaseOutputPin::CompleteConnect(pReceivePin);
    if (FAILED(hr)) return hr;
    // Reconnected while the graph runs: the new allocator must be live.
    if (!IsStopped() && m_pAllocator) {
        hr = m_pAllocator->Commit();
        if (FAILED(hr)) return hr;
    }
    return S_OK;
}

HRESULT CDynamicOutputPin::DeliverBeginFlush() {
    return CBaseOutputPin::DeliverBeginFlush();
}
HRESULT CDynamicOutputPin::DeliverEndFlush() {
    return CBaseOutputPin::DeliverEndFlush();
}
HRESULT CDynamicOutputPin::DeliverEndOfStream() {
    return CBaseOutputPin::DeliverEndOfStream();
}
HRESULT CDynamicOutputPin::DeliverNewSegment(REFERENCE_TIME tStart, REFERENCE_TIME tStop, double dRate) {
    return CBaseOutputPin::DeliverNewSegment(tStart, tStop, dRate);
}

HRESULT CDynamicOutputPin::ChangeMediaType(const CMediaType* pmt) {
    CheckPointer(pmt, E_POINTER);
    if (!IsConnected()) return VFW_E_NOT_CONNECTED;
    // The downstream pin takes the new type on the next sample if it can.
    if (m_Connected->QueryAccept(pmt) == S_OK) return SetMediaType(pmt);
    return DynamicReconnect(pmt);
}

HRESULT CDynamicOutputPin::DynamicReconnect(const CMediaType* pmt) {
    if (m_pGraphConfig == NULL || !IsConnected()) return E_FAIL;
    return m_pGraphConfig->Reconnect(this, NULL, pmt, NULL, m_hStopEvent,
                                     AM_GRAPH_CONFIG_RECONNECT_CACHE_REMOVED_FILTERS);
}

HRESULT CDynamicOutputPin::ChangeOutputFormat(const AM_MEDIA_TYPE* pmt, REFERENCE_TIME tSegmentStart,
                                              REFERENCE_TIME tSegmentStop, double dSegmentRate) {
    CheckPointer(pmt, E_POINTER);
    HRESULT hr = DeliverBeginFlush();
    if (FAILED(hr)) return hr;
    hr = DeliverEndFlush();
    if (FAILED(hr)) return hr;
    hr = DeliverNewSegment(tSegmentStart, tSegmentStop, dSegmentRate);
    if (FAILED(hr)) return hr;
    CMediaType cmt(*pmt, &hr);
    if (FAILED(hr)) return hr;
    return ChangeMediaType(&cmt);
}

HRESULT CDynamicOutputPin::CompleteConnectPeerCheck() {
    return IsConnected() ? S_OK : VFW_E_NOT_CONNECTED;
}
