#include "restamp/FilterStuff/DmxOutPin.h"

#include "restamp/DemuxCommon/ChunkDispatcher.h"
#include "restamp/FilterStuff/DebugLog.h"

#include <cstring>

using chronel::LOG_ERROR;
using chronel::LOG_TIMING;
using chronel::LOG_TRACE;

namespace {
constexpr DWORD kDrainPollMs = 5;
}  // namespace

CDmxOutPin::CDmxOutPin(CBaseFilter* pFilter, CCritSec* pLock, HRESULT* phr, LPCWSTR pName,
                       const DmxStreamDescriptor& stream)
    : CDynamicOutputPin("CDmxOutPin", pFilter, pLock, phr, pName), m_stream(stream) {}

CDmxOutPin::~CDmxOutPin() {
    delete m_pQueue;
}

void CDmxOutPin::SetMediaTypes(const CMediaType& mt) {
    m_types.clear();
    m_types.push_back(mt);
    IncrementTypeVersion();
}

// Accepts what it offers; with nothing offered yet, any stream type.
HRESULT CDmxOutPin::CheckMediaType(const CMediaType* pmt) {
    CheckPointer(pmt, E_POINTER);
    if (m_types.empty()) return S_OK;
    for (const CMediaType& t : m_types)
        if (IsEqualGUID(t.majortype, pmt->majortype) && IsEqualGUID(t.subtype, pmt->subtype)) return S_OK;
    return S_FALSE;
}

HRESULT CDmxOutPin::GetMediaType(int iPosition, CMediaType* pMediaType) {
    CheckPointer(pMediaType, E_POINTER);
    if (iPosition < 0) return E_INVALIDARG;
    if (static_cast<size_t>(iPosition) < m_types.size()) {
        *pMediaType = m_types[static_cast<size_t>(iPosition)];
        return S_OK;
    }
    // Before the input is connected a plain byte stream is all we can promise.
    if (m_types.empty() && iPosition == 0) {
        pMediaType->InitMediaType();
        pMediaType->SetType(&MEDIATYPE_Stream);
        pMediaType->SetSubtype(&MEDIASUBTYPE_NULL);
        return S_OK;
    }
    return VFW_S_NO_MORE_ITEMS;
}

HRESULT CDmxOutPin::DecideBufferSize(IMemAllocator* pAlloc, ALLOCATOR_PROPERTIES* pProps) {
    CheckPointer(pAlloc, E_POINTER);
    CheckPointer(pProps, E_POINTER);
    pProps->cBuffers = 16;
    pProps->cbBuffer = 65535;
    pProps->cbAlign = 1;
    pProps->cbPrefix = 0;
    ALLOCATOR_PROPERTIES actual;
    HRESULT hr = pAlloc->SetProperties(pProps, &actual);
    if (FAILED(hr)) return hr;
    return actual.cbBuffer < pProps->cbBuffer || actual.cBuffers < 1 ? E_FAIL : S_OK;
}

HRESULT CDmxOutPin::DecideAllocator(IMemInputPin* pPin, IMemAllocator** ppAlloc) {
    CheckPointer(pPin, E_POINTER);
    CheckPointer(ppAlloc, E_POINTER);
    *ppAlloc = NULL;
    HRESULT hr = InitAllocator(ppAlloc);
    if (FAILED(hr)) return hr;
    ALLOCATOR_PROPERTIES props = {};
    hr = DecideBufferSize(*ppAlloc, &props);
    if (SUCCEEDED(hr)) hr = pPin->NotifyAllocator(*ppAlloc, TRUE);
    if (FAILED(hr)) {
        (*ppAlloc)->Release();
        *ppAlloc = NULL;
    }
    return hr;
}

HRESULT CDmxOutPin::Active() {
    HRESULT hr = CDynamicOutputPin::Active();
    if (FAILED(hr)) return hr;
    CAutoLock lock(&m_queueLock);
    m_discontinuityPending = true;
    m_bytesSent = 0;
    delete m_pQueue;
    m_pQueue = NULL;
    if (!IsConnected()) return S_OK;
    hr = S_OK;
    m_pQueue =
        new (std::nothrow) COutputQueue(GetConnected(), &hr, FALSE, TRUE, 100, FALSE, 1024, THREAD_PRIORITY_NORMAL);
    if (!m_pQueue) return E_OUTOFMEMORY;
    if (FAILED(hr)) {
        delete m_pQueue;
        m_pQueue = NULL;
    }
    return hr;
}

HRESULT CDmxOutPin::Inactive() {
    {
        CAutoLock lock(&m_queueLock);
        delete m_pQueue;
        m_pQueue = NULL;
    }
    return CDynamicOutputPin::Inactive();
}

HRESULT CDmxOutPin::DeliverEndOfStream() {
    CAutoLock lock(&m_queueLock);
    if (!m_pQueue) return S_FALSE;
    m_pQueue->EOS();
    return S_OK;
}

HRESULT CDmxOutPin::DeliverBeginFlush() {
    CAutoLock lock(&m_queueLock);
    if (m_pQueue) m_pQueue->BeginFlush();
    return S_OK;
}

HRESULT CDmxOutPin::DeliverEndFlush() {
    CAutoLock lock(&m_queueLock);
    if (m_pQueue) m_pQueue->EndFlush();
    m_discontinuityPending = true;
    return S_OK;
}

HRESULT CDmxOutPin::DeliverChunk(const BYTE* p, long cb, REFERENCE_TIME t) {
    if (!IsConnected()) return S_FALSE;
    if (!m_pAllocator || !p || cb <= 0) return E_FAIL;
    long offset = 0;
    bool first = true;
    while (offset < cb) {
        IMediaSample* sample = NULL;
        HRESULT hr = GetDeliveryBuffer(&sample, NULL, NULL, 0);
        if (FAILED(hr)) {
            DMX_LOG(LOG_ERROR, 1, " FAILED hr = 0x%X", static_cast<unsigned>(hr));
            return hr;
        }
        BYTE* dst = NULL;
        sample->GetPointer(&dst);
        long room = sample->GetSize();
        long n = cb - offset < room ? cb - offset : room;
        if (!dst || n <= 0) {
            sample->Release();
            return E_FAIL;
        }
        std::memcpy(dst, p + offset, static_cast<size_t>(n));
        sample->SetActualDataLength(n);
        CAutoLock lock(&m_queueLock);
        if (first && t != chronel::kNoTime) {
            REFERENCE_TIME start = t, stop = t + 1;
            sample->SetTime(&start, &stop);
            sample->SetSyncPoint(TRUE);
            DMX_LOG(LOG_TIMING, 1, "Stream @ %lu: TIME %lld", static_cast<unsigned long>(m_stream.number),
                    static_cast<long long>(t));
            if (m_discontinuityPending) {
                m_discontinuityPending = false;
                sample->SetDiscontinuity(TRUE);
            }
        }
        if (!m_pQueue) {
            sample->Release();
            return VFW_E_NOT_COMMITTED;
        }
        // The queue takes over our reference; a downstream failure comes back.
        hr = m_pQueue->Receive(sample);
        m_bytesSent += n;
        DMX_LOG(LOG_TRACE, 1, "SENT %ld byte, all %lld", n, static_cast<long long>(m_bytesSent));
        if (FAILED(hr)) return hr;
        offset += n;
        first = false;
    }
    return S_OK;
}

void CDmxOutPin::DrainQueue(DWORD timeoutMs) {
    CAutoLock lock(&m_queueLock);
    if (!m_pQueue) return;
    m_pQueue->SendAnyway();
    const DWORD start = GetTickCount();
    while (!m_pQueue->IsIdle() && GetTickCount() - start < timeoutMs) Sleep(kDrainPollMs);
}
