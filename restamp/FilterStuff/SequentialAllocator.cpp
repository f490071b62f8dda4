#include "restamp/FilterStuff/SequentialAllocator.h"

#include "restamp/FilterStuff/DebugLog.h"

using chronel::LOG_ERROR;
using chronel::LOG_TRACE;

CSequentialAllocator::CSequentialAllocator(LPUNKNOWN pUnk, HRESULT* phr)
    : CMemAllocator("CSequential Allocator", pUnk, phr), m_evSliceFree(FALSE, phr) {}

CSequentialAllocator::~CSequentialAllocator() {
    Decommit();
    Reset();
    Free();
}

STDMETHODIMP CSequentialAllocator::SetProperties(ALLOCATOR_PROPERTIES* pRequest, ALLOCATOR_PROPERTIES* pActual) {
    CheckPointer(pRequest, E_POINTER);
    CheckPointer(pActual, E_POINTER);
    SYSTEM_INFO info;
    GetSystemInfo(&info);
    long align = pRequest->cbAlign;
    if (align & (align - 1))
        DMX_LOG(LOG_ERROR, 1, "Alignment requested 0x%x not a power of 2!", static_cast<unsigned>(align));
    if (align <= 0 || info.dwAllocationGranularity % static_cast<DWORD>(align) != 0) {
        DMX_LOG(LOG_ERROR, 1, "Invalid alignment 0x%x requested - granularity = 0x%x", static_cast<unsigned>(align),
                static_cast<unsigned>(info.dwAllocationGranularity));
        return VFW_E_BADALIGN;
    }
    if (pRequest->cBuffers <= 0 || pRequest->cbBuffer <= 0 || pRequest->cbPrefix < 0) return E_INVALIDARG;
    CAutoLock lock(this);
    if (m_bCommitted) return VFW_E_ALREADY_COMMITTED;
    if (AnySliceInUse()) return VFW_E_BUFFERS_OUTSTANDING;
    long slice = (pRequest->cbBuffer + pRequest->cbPrefix + align - 1) / align * align;
    m_lCount = pRequest->cBuffers;
    m_lSize = slice - pRequest->cbPrefix;
    m_lAlignment = align;
    m_lPrefix = pRequest->cbPrefix;
    m_bChanged = TRUE;
    pActual->cBuffers = m_lCount;
    pActual->cbBuffer = m_lSize;
    pActual->cbAlign = m_lAlignment;
    pActual->cbPrefix = m_lPrefix;
    return S_OK;
}

HRESULT CSequentialAllocator::Alloc() {
    if (m_lCount <= 0 || m_lSize <= 0 || m_lAlignment <= 0) return VFW_E_SIZENOTSET;
    if (m_pBlock && !m_bChanged) return S_FALSE;
    Free();
    DWORD slice = static_cast<DWORD>(m_lSize + m_lPrefix);
    unsigned long long total = static_cast<unsigned long long>(slice) * static_cast<unsigned long long>(m_lCount);
    if (total > 0x7FFFFFFFu) return E_OUTOFMEMORY;
    m_pBlock = static_cast<BYTE*>(VirtualAlloc(NULL, static_cast<SIZE_T>(total), MEM_COMMIT, PAGE_READWRITE));
    if (!m_pBlock) return E_OUTOFMEMORY;
    m_cbBlock = static_cast<DWORD>(total);
    for (long i = 0; i < m_lCount; ++i) {
        HRESULT hr = S_OK;
        auto* sample = new (std::nothrow) CMediaSample("CSequential sample", this, &hr,
                                                       m_pBlock + static_cast<size_t>(i) * slice + m_lPrefix, m_lSize);
        if (!sample || FAILED(hr)) {
            delete sample;
            Free();
            return E_OUTOFMEMORY;
        }
        m_samples.push_back(sample);
    }
    m_ring.Reset(m_pBlock, static_cast<uint32_t>(m_lCount), slice);
    m_lAllocated = m_lCount;
    m_bChanged = FALSE;
    return S_OK;
}

void CSequentialAllocator::Free() {
    for (CMediaSample* s : m_samples) delete s;
    m_samples.clear();
    if (m_pBlock) VirtualFree(m_pBlock, 0, MEM_RELEASE);
    m_pBlock = nullptr;
    m_cbBlock = 0;
    m_ring.Reset(nullptr, 0, 0);
    m_lAllocated = 0;
}

STDMETHODIMP CSequentialAllocator::Commit() {
    CAutoLock lock(this);
    if (m_bCommitted) return S_OK;
    if (m_bDecommitInProgress && !m_bChanged) {
        // The old block is still in use: take it up again as it is.
        m_bDecommitInProgress = FALSE;
        m_bCommitted = TRUE;
        return S_OK;
    }
    m_bDecommitInProgress = FALSE;
    HRESULT hr = Alloc();
    if (FAILED(hr)) return hr;
    m_bCommitted = TRUE;
    return S_OK;
}

STDMETHODIMP CSequentialAllocator::Decommit() {
    {
        CAutoLock lock(this);
        if (!m_bCommitted) return S_OK;
        m_bCommitted = FALSE;
        m_bDecommitInProgress = TRUE;
        FreeIfDone();
    }
    m_evSliceFree.Set();  // a waiting GetBuffer gives up
    return S_OK;
}

bool CSequentialAllocator::AnySliceInUse() const {
    for (uint32_t i = 0; i < m_ring.SliceCount(); ++i)
        if (m_ring.InUse(i)) return true;
    return false;
}

void CSequentialAllocator::FreeIfDone() {
    if (m_bDecommitInProgress && !AnySliceInUse()) {
        Free();
        m_bDecommitInProgress = FALSE;
    }
}

bool CSequentialAllocator::OwnsPointer(const BYTE* p) const {
    return m_pBlock && p >= m_pBlock && p < m_pBlock + m_cbBlock;
}

STDMETHODIMP CSequentialAllocator::GetBuffer(IMediaSample** ppBuffer, REFERENCE_TIME*, REFERENCE_TIME*, DWORD dwFlags) {
    CheckPointer(ppBuffer, E_POINTER);
    *ppBuffer = NULL;
    for (;;) {
        {
            CAutoLock lock(this);
            if (!m_bCommitted) return VFW_E_NOT_COMMITTED;
            int index = m_ring.TryAcquireNext();
            if (index >= 0) {
                CMediaSample* sample = m_samples[static_cast<size_t>(index)];
                sample->m_cRef = 1;
                sample->SetActualDataLength(0);
                *ppBuffer = sample;
                return S_OK;
            }
            if (dwFlags & AM_GBF_NOWAIT) return VFW_E_TIMEOUT;
        }
        DMX_LOG(LOG_TRACE, 7, "Waiting - %d buffers available", 0);
        m_evSliceFree.Wait(100);
    }
}

STDMETHODIMP CSequentialAllocator::ReleaseBuffer(IMediaSample* pBuffer) {
    CheckPointer(pBuffer, E_POINTER);
    BYTE* p = NULL;
    pBuffer->GetPointer(&p);
    {
        CAutoLock lock(this);
        if (!OwnsPointer(p)) return E_INVALIDARG;
        m_ring.Release(m_ring.IndexOf(p));
        FreeIfDone();
    }
    m_evSliceFree.Set();
    return S_OK;
}

HRESULT CSequentialAllocator::AddBuffer(IMediaSample* pSample) {
    CheckPointer(pSample, E_POINTER);
    BYTE* p = NULL;
    HRESULT hr = pSample->GetPointer(&p);
    if (FAILED(hr)) return hr;
    long length = pSample->GetActualDataLength();
    CAutoLock lock(this);
    if (!OwnsPointer(p) || length < 0) return E_INVALIDARG;
    if (!m_ring.AddBuffer(m_ring.IndexOf(p), static_cast<uint32_t>(length))) return E_FAIL;
    uint32_t valid = 0;
    m_ring.GetValid(&valid);
    DMX_LOG(LOG_TRACE, 7, "AddBuffer(%ld) - valid %u", length, valid);
    return S_OK;
}

const BYTE* CSequentialAllocator::GetValid(DWORD* pValid) {
    CAutoLock lock(this);
    uint32_t valid = 0;
    const BYTE* p = m_pBlock ? m_ring.GetValid(&valid) : nullptr;
    if (pValid) *pValid = valid;
    return p;
}

HRESULT CSequentialAllocator::Advance(DWORD cb) {
    bool ok;
    {
        CAutoLock lock(this);
        if (!m_pBlock) return cb == 0 ? S_OK : E_UNEXPECTED;
        ok = m_ring.Advance(cb);
        uint32_t valid = 0;
        m_ring.GetValid(&valid);
        DMX_LOG(LOG_TRACE, 7, "Advance(%lu) - valid %u", static_cast<unsigned long>(cb), valid);
        FreeIfDone();
    }
    m_evSliceFree.Set();
    return ok ? S_OK : E_FAIL;
}

DWORD CSequentialAllocator::TakeDropped() {
    CAutoLock lock(this);
    return m_ring.TakeDropped();
}

void CSequentialAllocator::Reset() {
    {
        CAutoLock lock(this);
        if (!m_pBlock) return;
        m_ring.DropSpan();
        FreeIfDone();
    }
    m_evSliceFree.Set();
}

void CSequentialAllocator::AddSliceRef(const BYTE* p) {
    CAutoLock lock(this);
    if (!OwnsPointer(p)) return;
    // A sub-allocated sample holds its slice like the span does.
    m_ring.AddUse(m_ring.IndexOf(p));
}

void CSequentialAllocator::ReleaseSliceRef(const BYTE* p) {
    {
        CAutoLock lock(this);
        if (!OwnsPointer(p)) return;
        m_ring.Release(m_ring.IndexOf(p));
        FreeIfDone();
    }
    m_evSliceFree.Set();
}

// ---- CSubAllocator ----

CSubAllocator::CSubAllocator(CSequentialAllocator* pSource, HRESULT* phr)
    : CBaseAllocator(static_cast<LPCTSTR>(NULL), NULL, phr, TRUE, FALSE), m_pSource(pSource) {
    m_pSource->AddRef();
}

CSubAllocator::~CSubAllocator() {
    m_pSource->Release();
}

IMediaSample* CSubAllocator::GetSample(BYTE* p, LONG cb) {
    HRESULT hr = S_OK;
    auto* sample = new (std::nothrow) CMediaSample(static_cast<LPCTSTR>(NULL), this, &hr, p, cb);
    if (!sample) return NULL;
    if (FAILED(hr)) {
        delete sample;
        return NULL;
    }
    m_pSource->AddSliceRef(p);
    DMX_LOG(LOG_TRACE, 7, "CSubAllocator::GetSample sample 0x%p data 0x%p len %ld", static_cast<void*>(sample),
            static_cast<void*>(p), cb);
    sample->AddRef();
    AddRef();
    return sample;
}

STDMETHODIMP CSubAllocator::ReleaseBuffer(IMediaSample* pBuffer) {
    CheckPointer(pBuffer, E_POINTER);
    BYTE* p = NULL;
    pBuffer->GetPointer(&p);
    m_pSource->ReleaseSliceRef(p);
    DMX_LOG(LOG_TRACE, 7, "CSubAllocator::ReleaseBuffer sample 0x%p", static_cast<void*>(pBuffer));
    delete static_cast<CMediaSample*>(pBuffer);
    Release();
    return S_OK;
}
