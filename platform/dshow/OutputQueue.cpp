#include "platform/dshow/OutputQueue.h"

#include <new>
#include <vector>

COutputQueue::COutputQueue(IPin* pInputPin, HRESULT* phr, BOOL bAuto, BOOL bQueue, LONG lBatchSize, BOOL bBatchExact,
                           LONG, DWORD dwPriority, bool)
    : m_pPin(pInputPin),
      m_pInputPin(NULL),
      m_bBatchExact(bBatchExact),
      m_lBatchSize(lBatchSize > 0 ? lBatchSize : 1),
      m_lSamplesQueued(0),
      m_hSem(NULL),
      m_evFlushComplete(FALSE, phr),
      m_hThread(NULL),
      m_ppSamples(NULL),
      m_nBatched(0),
      m_bFlushing(FALSE),
      m_bTerminate(FALSE),
      m_bSendAnyway(FALSE),
      m_bThreadBusy(FALSE),
      m_hr(S_OK),
      m_hEventPop(NULL) {
    if (m_pPin == NULL) {
        if (phr) *phr = E_POINTER;
        return;
    }
    m_pPin->AddRef();
    HRESULT hr = m_pPin->QueryInterface(IID_IMemInputPin, reinterpret_cast<void**>(&m_pInputPin));
    if (FAILED(hr)) {
        if (phr) *phr = hr;
        return;
    }
    if (bAuto) bQueue = m_pInputPin->ReceiveCanBlock() == S_OK;

    m_ppSamples = new (std::nothrow) IMediaSample*[m_lBatchSize];
    if (m_ppSamples == NULL) {
        if (phr) *phr = E_OUTOFMEMORY;
        return;
    }
    if (bQueue) {
        m_hSem = CreateEventW(NULL, FALSE, FALSE, NULL);
        if (m_hSem == NULL) {
            if (phr) *phr = E_OUTOFMEMORY;
            return;
        }
        DWORD id;
        m_hThread = CreateThread(NULL, 0, InitialThreadProc, this, 0, &id);
        if (m_hThread == NULL) {
            if (phr) *phr = HRESULT_FROM_WIN32(GetLastError());
            return;
        }
        SetThreadPriority(m_hThread, static_cast<int>(dwPriority));
    }
}

COutputQueue::~COutputQueue() {
    if (m_hThread) {
        {
            CAutoLock lck(this);
            m_bTerminate = TRUE;
        }
        SetEvent(m_hSem);
        WaitForSingleObject(m_hThread, INFINITE);
        CloseHandle(m_hThread);
        m_hThread = NULL;
    }
    FreeSamples();
    if (m_hSem) CloseHandle(m_hSem);
    delete[] m_ppSamples;
    if (m_pInputPin) m_pInputPin->Release();
    if (m_pPin) m_pPin->Release();
}

void COutputQueue::FreeSamples() {
    CAutoLock lck(this);
    for (Item& it : m_List)
        if (it.pSample) it.pSample->Release();
    m_List.clear();
    m_lSamplesQueued = 0;
    for (LONG i = 0; i < m_nBatched; i++) m_ppSamples[i]->Release();
    m_nBatched = 0;
}

HRESULT COutputQueue::SendBatch(IMediaSample** ppSamples, long n) {
    HRESULT hr = S_OK;
    if (n > 0) {
        long done = 0;
        hr = m_pInputPin->ReceiveMultiple(ppSamples, n, &done);
    }
    for (long i = 0; i < n; i++) ppSamples[i]->Release();
    return hr;
}

void COutputQueue::DeliverBatched() {
    if (m_nBatched == 0) return;
    HRESULT hr = SendBatch(m_ppSamples, m_nBatched);
    m_nBatched = 0;
    if (hr != S_OK && SUCCEEDED(m_hr)) m_hr = FAILED(hr) ? hr : S_FALSE;
}

HRESULT COutputQueue::Push(const Item& item, bool wake) {
    {
        CAutoLock lck(this);
        try {
            m_List.push_back(item);
        } catch (const std::bad_alloc&) {
            return E_OUTOFMEMORY;
        }
        if (item.kind == ITEM_SAMPLE) m_lSamplesQueued++;
    }
    if (wake) SetEvent(m_hSem);
    return S_OK;
}

DWORD WINAPI COutputQueue::InitialThreadProc(LPVOID pv) {
    HRESULT hrInit = CoInitializeEx(NULL, COINIT_MULTITHREADED);
    DWORD r = static_cast<COutputQueue*>(pv)->ThreadProc();
    if (SUCCEEDED(hrInit)) CoUninitialize();
    return r;
}

DWORD COutputQueue::ThreadProc() {
    std::vector<IMediaSample*> batch;
    batch.reserve(static_cast<size_t>(m_lBatchSize));
    for (;;) {
        WaitForSingleObject(m_hSem, INFINITE);
        for (;;) {
            Item control = {ITEM_SAMPLE, NULL, 0, 0, 0.0};
            bool haveControl = false;
            batch.clear();
            {
                CAutoLock lck(this);
                if (m_bTerminate) return 0;
                // How many samples may go now: whole batches, or everything when
                // a control item or SendAnyway forces it out.
                bool forced = m_bSendAnyway || !m_bBatchExact;
                for (const Item& it : m_List)
                    if (it.kind != ITEM_SAMPLE) {
                        forced = true;
                        break;
                    }
                LONG available = 0;
                for (const Item& it : m_List) {
                    if (it.kind != ITEM_SAMPLE) break;
                    available++;
                }
                if (available >= m_lBatchSize || (forced && available > 0)) {
                    LONG take = available < m_lBatchSize ? available : m_lBatchSize;
                    for (LONG i = 0; i < take; i++) {
                        batch.push_back(m_List.front().pSample);
                        m_List.pop_front();
                    }
                    m_lSamplesQueued -= take;
                } else if (!m_List.empty() && m_List.front().kind != ITEM_SAMPLE) {
                    control = m_List.front();
                    m_List.pop_front();
                    haveControl = true;
                } else {
                    if (m_List.empty()) m_bSendAnyway = FALSE;
                    m_bThreadBusy = FALSE;
                    break;
                }
                m_bThreadBusy = TRUE;
            }
            if (m_hEventPop) SetEvent(m_hEventPop);

            if (!batch.empty()) {
                if (m_bFlushing || FAILED(m_hr) || m_hr == S_FALSE) {
                    for (IMediaSample* p : batch) p->Release();
                } else {
                    HRESULT hr = SendBatch(batch.data(), static_cast<long>(batch.size()));
                    if (hr != S_OK) {
                        CAutoLock lck(this);
                        if (m_hr == S_OK) m_hr = FAILED(hr) ? hr : S_FALSE;
                    }
                }
            } else if (haveControl) {
                switch (control.kind) {
                    case ITEM_EOS:
                        if (!m_bFlushing) m_pPin->EndOfStream();
                        break;
                    case ITEM_SEGMENT:
                        if (!m_bFlushing) m_pPin->NewSegment(control.tStart, control.tStop, control.dRate);
                        break;
                    case ITEM_RESET:
                        m_hr = S_OK;
                        break;
                    case ITEM_SYNC:
                        m_evFlushComplete.Set();
                        break;
                    default:
                        break;
                }
            }
        }
    }
}

HRESULT COutputQueue::Receive(IMediaSample* pSample) {
    long n = 0;
    return ReceiveMultiple(&pSample, 1, &n);
}

HRESULT COutputQueue::ReceiveMultiple(IMediaSample** ppSamples, long nSamples, long* nSamplesProcessed) {
    if (nSamplesProcessed) *nSamplesProcessed = 0;
    CheckPointer(ppSamples, E_POINTER);
    if (!IsQueued()) {
        // Direct: batch on the caller's thread.
        if (m_bFlushing || m_hr != S_OK) {
            for (long i = 0; i < nSamples; i++) ppSamples[i]->Release();
            return m_bFlushing ? S_FALSE : m_hr;
        }
        for (long i = 0; i < nSamples; i++) {
            m_ppSamples[m_nBatched++] = ppSamples[i];
            if (m_nBatched >= m_lBatchSize) DeliverBatched();
        }
        if (!m_bBatchExact || m_bSendAnyway) DeliverBatched();
        if (nSamplesProcessed) *nSamplesProcessed = nSamples;
        return m_hr == S_OK ? S_OK : m_hr;
    }

    HRESULT hrState;
    {
        CAutoLock lck(this);
        hrState = m_bFlushing ? S_FALSE : m_hr;
    }
    if (hrState != S_OK) {
        for (long i = 0; i < nSamples; i++) ppSamples[i]->Release();
        return hrState;
    }
    bool wake = false;
    for (long i = 0; i < nSamples; i++) {
        Item it = {ITEM_SAMPLE, ppSamples[i], 0, 0, 0.0};
        HRESULT hr = Push(it, false);
        if (FAILED(hr)) {
            for (long j = i; j < nSamples; j++) ppSamples[j]->Release();
            return hr;
        }
    }
    {
        CAutoLock lck(this);
        wake = m_lSamplesQueued >= m_lBatchSize || !m_bBatchExact || m_bSendAnyway;
    }
    if (wake) SetEvent(m_hSem);
    if (nSamplesProcessed) *nSamplesProcessed = nSamples;
    return S_OK;
}

void COutputQueue::SendAnyway() {
    if (!IsQueued()) {
        DeliverBatched();
        return;
    }
    {
        CAutoLock lck(this);
        m_bSendAnyway = TRUE;
    }
    SetEvent(m_hSem);
}

void COutputQueue::EOS() {
    if (!IsQueued()) {
        DeliverBatched();
        m_pPin->EndOfStream();
        return;
    }
    Item it = {ITEM_EOS, NULL, 0, 0, 0.0};
    Push(it, true);
}

void COutputQueue::NewSegment(REFERENCE_TIME tStart, REFERENCE_TIME tStop, double dRate) {
    if (!IsQueued()) {
        DeliverBatched();
        m_pPin->NewSegment(tStart, tStop, dRate);
        return;
    }
    Item it = {ITEM_SEGMENT, NULL, tStart, tStop, dRate};
    Push(it, true);
}

void COutputQueue::BeginFlush() {
    {
        CAutoLock lck(this);
        m_bFlushing = TRUE;
    }
    // Queued samples are dropped; one the thread is delivering returns once
    // the downstream pin starts flushing below.
    FreeSamples();
    m_pPin->BeginFlush();
}

void COutputQueue::EndFlush() {
    if (IsQueued()) {
        // Wait until the thread has finished whatever it was delivering.
        m_evFlushComplete.Reset();
        Item it = {ITEM_SYNC, NULL, 0, 0, 0.0};
        if (SUCCEEDED(Push(it, true))) m_evFlushComplete.Wait();
    }
    {
        CAutoLock lck(this);
        m_bFlushing = FALSE;
        m_bSendAnyway = FALSE;
        m_hr = S_OK;
    }
    m_pPin->EndFlush();
}

void COutputQueue::Reset() {
    if (!IsQueued()) {
        m_hr = S_OK;
        return;
    }
    Item it = {ITEM_RESET, NULL, 0, 0, 0.0};
    Push(it, true);
}

BOOL COutputQueue::IsIdle() {
    CAutoLock lck(this);
    if (!IsQueued()) return m_nBatched == 0;
    return m_List.empty() && !m_bThreadBusy;
}
