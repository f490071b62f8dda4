#include "platform/dshow/Allocator.h"

#include "platform/dshow/MediaType.h"

#include <cstddef>
#include <new>

// ---- CMediaSample ----

CMediaSample::CMediaSample(LPCTSTR, CBaseAllocator* pAllocator, HRESULT* phr, LPBYTE pBuffer, LONG length)
    : m_dwFlags(0),
      m_dwTypeSpecificFlags(0),
      m_pBuffer(pBuffer),
      m_lActual(length),
      m_cbBuffer(length),
      m_pAllocator(pAllocator),
      m_pNext(NULL),
      m_Start(0),
      m_End(0),
      m_MediaStart(0),
      m_MediaEnd(0),
      m_pMediaType(NULL),
      m_dwStreamId(AM_STREAM_MEDIA),
      m_cRef(0) {
    if (length < 0 && phr != NULL) *phr = VFW_E_BUFFER_OVERFLOW;
}

CMediaSample::CMediaSample(LPCSTR, CBaseAllocator* pAllocator, HRESULT* phr, LPBYTE pBuffer, LONG length)
    : CMediaSample(static_cast<LPCTSTR>(NULL), pAllocator, phr, pBuffer, length) {}

CMediaSample::~CMediaSample() {
    if (m_pMediaType) DeleteMediaType(m_pMediaType);
}

STDMETHODIMP CMediaSample::QueryInterface(REFIID riid, void** ppv) {
    CheckPointer(ppv, E_POINTER);
    if (IsEqualIID(riid, IID_IMediaSample) || IsEqualIID(riid, IID_IMediaSample2) || IsEqualIID(riid, IID_IUnknown))
        return GetInterface(static_cast<IMediaSample2*>(this), ppv);
    *ppv = NULL;
    return E_NOINTERFACE;
}

STDMETHODIMP_(ULONG) CMediaSample::AddRef() {
    return InterlockedIncrement(&m_cRef);
}

STDMETHODIMP_(ULONG) CMediaSample::Release() {
    LONG lRef = InterlockedDecrement(&m_cRef);
    if (lRef == 0) {
        if (m_dwFlags & Sample_TypeChanged) SetMediaType(NULL);
        m_dwFlags = 0;
        m_dwTypeSpecificFlags = 0;
        m_dwStreamId = AM_STREAM_MEDIA;
        m_pAllocator->ReleaseBuffer(this);
    }
    return static_cast<ULONG>(lRef);
}

HRESULT CMediaSample::SetPointer(BYTE* ptr, LONG cBytes) {
    if (cBytes < 0) return VFW_E_BUFFER_OVERFLOW;
    m_pBuffer = ptr;
    m_cbBuffer = cBytes;
    m_lActual = cBytes;
    return S_OK;
}

STDMETHODIMP CMediaSample::GetPointer(BYTE** ppBuffer) {
    CheckPointer(ppBuffer, E_POINTER);
    *ppBuffer = m_pBuffer;
    return NOERROR;
}

STDMETHODIMP_(LONG) CMediaSample::GetSize() {
    return m_cbBuffer;
}

STDMETHODIMP CMediaSample::GetTime(REFERENCE_TIME* pTimeStart, REFERENCE_TIME* pTimeEnd) {
    CheckPointer(pTimeStart, E_POINTER);
    CheckPointer(pTimeEnd, E_POINTER);
    if (!(m_dwFlags & Sample_StopValid)) {
        if (!(m_dwFlags & Sample_TimeValid)) return VFW_E_SAMPLE_TIME_NOT_SET;
        *pTimeStart = m_Start;
        *pTimeEnd = m_Start + 1;
        return VFW_S_NO_STOP_TIME;
    }
    *pTimeStart = m_Start;
    *pTimeEnd = m_End;
    return NOERROR;
}

STDMETHODIMP CMediaSample::SetTime(REFERENCE_TIME* pTimeStart, REFERENCE_TIME* pTimeEnd) {
    if (pTimeStart == NULL) {
        m_dwFlags &= ~(Sample_TimeValid | Sample_StopValid);
    } else if (pTimeEnd == NULL) {
        m_Start = *pTimeStart;
        m_dwFlags |= Sample_TimeValid;
        m_dwFlags &= ~Sample_StopValid;
    } else {
        m_Start = *pTimeStart;
        m_End = *pTimeEnd;
        m_dwFlags |= Sample_TimeValid | Sample_StopValid;
    }
    return NOERROR;
}

STDMETHODIMP CMediaSample::IsSyncPoint() {
    return (m_dwFlags & Sample_SyncPoint) ? S_OK : S_FALSE;
}

STDMETHODIMP CMediaSample::SetSyncPoint(BOOL b) {
    if (b)
        m_dwFlags |= Sample_SyncPoint;
    else
        m_dwFlags &= ~Sample_SyncPoint;
    return NOERROR;
}

STDMETHODIMP CMediaSample::IsPreroll() {
    return (m_dwFlags & Sample_Preroll) ? S_OK : S_FALSE;
}

STDMETHODIMP CMediaSample::SetPreroll(BOOL b) {
    if (b)
        m_dwFlags |= Sample_Preroll;
    else
        m_dwFlags &= ~Sample_Preroll;
    return NOERROR;
}

STDMETHODIMP_(LONG) CMediaSample::GetActualDataLength() {
    return m_lActual;
}

STDMETHODIMP CMediaSample::SetActualDataLength(LONG lActual) {
    if (lActual < 0 || lActual > m_cbBuffer) return VFW_E_BUFFER_OVERFLOW;
    m_lActual = lActual;
    return NOERROR;
}

STDMETHODIMP CMediaSample::GetMediaType(AM_MEDIA_TYPE** ppMediaType) {
    CheckPointer(ppMediaType, E_POINTER);
    if (!(m_dwFlags & Sample_TypeChanged) || m_pMediaType == NULL) {
        *ppMediaType = NULL;
        return S_FALSE;
    }
    *ppMediaType = CreateMediaType(m_pMediaType);
    return *ppMediaType ? NOERROR : E_OUTOFMEMORY;
}

STDMETHODIMP CMediaSample::SetMediaType(AM_MEDIA_TYPE* pMediaType) {
    if (m_pMediaType) {
        DeleteMediaType(m_pMediaType);
        m_pMediaType = NULL;
    }
    if (pMediaType == NULL) {
        m_dwFlags &= ~Sample_TypeChanged;
        return NOERROR;
    }
    m_pMediaType = CreateMediaType(pMediaType);
    if (m_pMediaType == NULL) {
        m_dwFlags &= ~Sample_TypeChanged;
        return E_OUTOFMEMORY;
    }
    m_dwFlags |= Sample_TypeChanged;
    return NOERROR;
}

STDMETHODIMP CMediaSample::IsDiscontinuity() {
    return (m_dwFlags & Sample_Discontinuity) ? S_OK : S_FALSE;
}

STDMETHODIMP CMediaSample::SetDiscontinuity(BOOL b) {
    if (b)
        m_dwFlags |= Sample_Discontinuity;
    else
        m_dwFlags &= ~Sample_Discontinuity;
    return NOERROR;
}

STDMETHODIMP CMediaSample::GetMediaTime(LONGLONG* pTimeStart, LONGLONG* pTimeEnd) {
    CheckPointer(pTimeStart, E_POINTER);
    CheckPointer(pTimeEnd, E_POINTER);
    if (!(m_dwFlags & Sample_MediaTimeValid)) return VFW_E_MEDIA_TIME_NOT_SET;
    *pTimeStart = m_MediaStart;
    *pTimeEnd = m_MediaStart + m_MediaEnd;
    return NOERROR;
}

STDMETHODIMP CMediaSample::SetMediaTime(LONGLONG* pTimeStart, LONGLONG* pTimeEnd) {
    if (pTimeStart == NULL) {
        m_dwFlags &= ~Sample_MediaTimeValid;
        return NOERROR;
    }
    CheckPointer(pTimeEnd, E_POINTER);
    m_MediaStart = *pTimeStart;
    m_MediaEnd = static_cast<LONG>(*pTimeEnd - *pTimeStart);
    m_dwFlags |= Sample_MediaTimeValid;
    return NOERROR;
}

STDMETHODIMP CMediaSample::GetProperties(DWORD cbProperties, BYTE* pbProperties) {
    if (cbProperties == 0) return S_OK;
    CheckPointer(pbProperties, E_POINTER);
    AM_SAMPLE2_PROPERTIES p;
    p.cbData = cbProperties < sizeof(p) ? cbProperties : static_cast<DWORD>(sizeof(p));
    p.dwTypeSpecificFlags = m_dwTypeSpecificFlags;
    p.dwSampleFlags = m_dwFlags & ~Sample_MediaTimeValid;
    p.lActual = m_lActual;
    p.tStart = m_Start;
    p.tStop = m_End;
    p.dwStreamId = m_dwStreamId;
    p.pMediaType = (m_dwFlags & AM_SAMPLE_TYPECHANGED) ? m_pMediaType : NULL;
    p.pbBuffer = m_pBuffer;
    p.cbBuffer = m_cbBuffer;
    CopyMemory(pbProperties, &p, p.cbData);
    return S_OK;
}

STDMETHODIMP CMediaSample::SetProperties(DWORD cbProperties, const BYTE* pbProperties) {
    if (cbProperties == 0) return S_OK;
    CheckPointer(pbProperties, E_POINTER);
    AM_SAMPLE2_PROPERTIES p;
    ZeroMemory(&p, sizeof(p));
    CopyMemory(&p, pbProperties, cbProperties < sizeof(p) ? cbProperties : sizeof(p));
    // Only whole leading fields are taken.
    const DWORD end_flags = offsetof(AM_SAMPLE2_PROPERTIES, dwSampleFlags) + sizeof(DWORD);
    const DWORD end_actual = offsetof(AM_SAMPLE2_PROPERTIES, lActual) + sizeof(LONG);
    const DWORD end_times = offsetof(AM_SAMPLE2_PROPERTIES, tStop) + sizeof(REFERENCE_TIME);
    const DWORD end_stream = offsetof(AM_SAMPLE2_PROPERTIES, dwStreamId) + sizeof(DWORD);
    const DWORD end_type = offsetof(AM_SAMPLE2_PROPERTIES, pMediaType) + sizeof(void*);
    if (cbProperties >= end_type && (p.dwSampleFlags & AM_SAMPLE_TYPECHANGED)) {
        HRESULT hr = SetMediaType(p.pMediaType);
        if (FAILED(hr)) return hr;
    }
    if (cbProperties >= end_flags) {
        m_dwTypeSpecificFlags = p.dwTypeSpecificFlags;
        m_dwFlags = (m_dwFlags & Sample_MediaTimeValid) | (p.dwSampleFlags & ~Sample_MediaTimeValid);
    }
    if (cbProperties >= end_actual) {
        if (p.lActual < 0 || p.lActual > m_cbBuffer) return VFW_E_BUFFER_OVERFLOW;
        m_lActual = p.lActual;
    }
    if (cbProperties >= end_times) {
        m_Start = p.tStart;
        m_End = p.tStop;
    }
    if (cbProperties >= end_stream) m_dwStreamId = p.dwStreamId;
    return S_OK;
}

// ---- CBaseAllocator ----

void CBaseAllocator::CSampleList::Remove(CMediaSample* pSample) {
    CMediaSample** pp = &m_List;
    while (*pp != NULL) {
        if (*pp == pSample) {
            *pp = NextSample(pSample);
            m_nOnList--;
            return;
        }
        pp = &NextSample(*pp);
    }
}

CBaseAllocator::CBaseAllocator(LPCTSTR pName, LPUNKNOWN pUnk, HRESULT* phr, BOOL bEvent, BOOL fEnableReleaseCallback)
    : CUnknown(pName, pUnk),
      m_hSem(NULL),
      m_lWaiting(0),
      m_lCount(0),
      m_lAllocated(0),
      m_lSize(0),
      m_lAlignment(0),
      m_lPrefix(0),
      m_bChanged(FALSE),
      m_bCommitted(FALSE),
      m_bDecommitInProgress(FALSE),
      m_pNotify(NULL),
      m_fEnableReleaseCallback(fEnableReleaseCallback) {
    if (bEvent) {
        m_hSem = CreateSemaphoreW(NULL, 0, 0x7FFFFFFF, NULL);
        if (m_hSem == NULL && phr != NULL) *phr = E_OUTOFMEMORY;
    }
}

CBaseAllocator::CBaseAllocator(LPCSTR, LPUNKNOWN pUnk, HRESULT* phr, BOOL bEvent, BOOL fEnableReleaseCallback)
    : CBaseAllocator(static_cast<LPCTSTR>(NULL), pUnk, phr, bEvent, fEnableReleaseCallback) {}

CBaseAllocator::~CBaseAllocator() {
    if (m_pNotify) m_pNotify->Release();
    if (m_hSem) CloseHandle(m_hSem);
}

STDMETHODIMP CBaseAllocator::NonDelegatingQueryInterface(REFIID riid, void** ppv) {
    CheckPointer(ppv, E_POINTER);
    if (IsEqualIID(riid, IID_IMemAllocator) ||
        (m_fEnableReleaseCallback && IsEqualIID(riid, IID_IMemAllocatorCallbackTemp)))
        return GetInterface(static_cast<IMemAllocatorCallbackTemp*>(this), ppv);
    return CUnknown::NonDelegatingQueryInterface(riid, ppv);
}

STDMETHODIMP CBaseAllocator::SetProperties(ALLOCATOR_PROPERTIES* pRequest, ALLOCATOR_PROPERTIES* pActual) {
    CheckPointer(pRequest, E_POINTER);
    CheckPointer(pActual, E_POINTER);
    CAutoLock lock(this);
    ZeroMemory(pActual, sizeof(*pActual));
    if (m_bCommitted) return VFW_E_ALREADY_COMMITTED;
    if (m_lAllocated != m_lFree.GetCount()) return VFW_E_BUFFERS_OUTSTANDING;
    *pActual = *pRequest;
    m_lSize = pRequest->cbBuffer;
    m_lCount = pRequest->cBuffers;
    m_lAlignment = pRequest->cbAlign;
    m_lPrefix = pRequest->cbPrefix;
    m_bChanged = TRUE;
    return NOERROR;
}

STDMETHODIMP CBaseAllocator::GetProperties(ALLOCATOR_PROPERTIES* pActual) {
    CheckPointer(pActual, E_POINTER);
    CAutoLock lock(this);
    pActual->cbBuffer = m_lSize;
    pActual->cBuffers = m_lCount;
    pActual->cbAlign = m_lAlignment;
    pActual->cbPrefix = m_lPrefix;
    return NOERROR;
}

HRESULT CBaseAllocator::Alloc() {
    if (m_lCount <= 0 || m_lSize <= 0 || m_lAlignment <= 0) return VFW_E_SIZENOTSET;
    return m_bChanged ? S_OK : S_FALSE;
}

STDMETHODIMP CBaseAllocator::Commit() {
    CAutoLock lock(this);
    if (m_bCommitted) return NOERROR;
    m_bCommitted = TRUE;
    if (m_bDecommitInProgress) {
        // Samples still out from before: keep them and the memory.
        m_bDecommitInProgress = FALSE;
        return NOERROR;
    }
    HRESULT hr = Alloc();
    if (FAILED(hr)) {
        m_bCommitted = FALSE;
        return hr;
    }
    // Held while committed or while samples are out after a Decommit.
    AddRef();
    return NOERROR;
}

STDMETHODIMP CBaseAllocator::Decommit() {
    BOOL bRelease = FALSE;
    {
        CAutoLock lock(this);
        if (!m_bCommitted) return NOERROR;
        m_bCommitted = FALSE;
        if (m_lFree.GetCount() < m_lAllocated) {
            m_bDecommitInProgress = TRUE;
        } else {
            m_bDecommitInProgress = FALSE;
            Free();
            bRelease = TRUE;
        }
        // Every waiter wakes and finds the allocator decommitted.
        NotifySample();
    }
    if (bRelease) Release();
    return NOERROR;
}

void CBaseAllocator::NotifySample() {
    if (m_lWaiting != 0 && m_hSem != NULL) {
        ReleaseSemaphore(m_hSem, m_lWaiting, NULL);
        m_lWaiting = 0;
    }
}

STDMETHODIMP CBaseAllocator::GetBuffer(IMediaSample** ppBuffer, REFERENCE_TIME*, REFERENCE_TIME*, DWORD dwFlags) {
    CheckPointer(ppBuffer, E_POINTER);
    *ppBuffer = NULL;
    CMediaSample* pSample = NULL;
    for (;;) {
        {
            CAutoLock lock(this);
            if (!m_bCommitted) return VFW_E_NOT_COMMITTED;
            pSample = m_lFree.RemoveHead();
            if (pSample == NULL) {
                if ((dwFlags & AM_GBF_NOWAIT) || m_hSem == NULL) return VFW_E_TIMEOUT;
                SetWaiting();
            }
        }
        if (pSample != NULL) break;
        WaitForSingleObject(m_hSem, INFINITE);
    }
    pSample->m_cRef = 1;
    *ppBuffer = pSample;
    return NOERROR;
}

STDMETHODIMP CBaseAllocator::ReleaseBuffer(IMediaSample* pSample) {
    CheckPointer(pSample, E_POINTER);
    BOOL bRelease = FALSE;
    IMemAllocatorNotifyCallbackTemp* pNotify = NULL;
    {
        CAutoLock lock(this);
        m_lFree.Add(static_cast<CMediaSample*>(pSample));
        NotifySample();
        if (m_bDecommitInProgress && m_lFree.GetCount() == m_lAllocated) {
            Free();
            m_bDecommitInProgress = FALSE;
            bRelease = TRUE;
        }
        pNotify = m_pNotify;
        if (pNotify) pNotify->AddRef();
    }
    if (pNotify) {
        pNotify->NotifyRelease();
        pNotify->Release();
    }
    if (bRelease) Release();
    return NOERROR;
}

STDMETHODIMP CBaseAllocator::SetNotify(IMemAllocatorNotifyCallbackTemp* pNotify) {
    CAutoLock lock(this);
    if (pNotify) pNotify->AddRef();
    if (m_pNotify) m_pNotify->Release();
    m_pNotify = pNotify;
    return S_OK;
}

STDMETHODIMP CBaseAllocator::GetFreeCount(LONG* plBuffersFree) {
    CheckPointer(plBuffersFree, E_POINTER);
    CAutoLock lock(this);
    *plBuffersFree = m_lFree.GetCount();
    return S_OK;
}

// ---- CMemAllocator ----

CMemAllocator::CMemAllocator(LPCTSTR pName, LPUNKNOWN pUnk, HRESULT* phr)
    : CBaseAllocator(pName, pUnk, phr, TRUE, TRUE), m_pBuffer(NULL) {}

CMemAllocator::CMemAllocator(LPCSTR, LPUNKNOWN pUnk, HRESULT* phr)
    : CMemAllocator(static_cast<LPCTSTR>(NULL), pUnk, phr) {}

CMemAllocator::~CMemAllocator() {
    Decommit();
    ReallyFree();
}

CUnknown* WINAPI CMemAllocator::CreateInstance(LPUNKNOWN pUnk, HRESULT* phr) {
    CUnknown* p = new (std::nothrow) CMemAllocator(NAME("CMemAllocator"), pUnk, phr);
    if (p == NULL && phr != NULL) *phr = E_OUTOFMEMORY;
    return p;
}

STDMETHODIMP CMemAllocator::SetProperties(ALLOCATOR_PROPERTIES* pRequest, ALLOCATOR_PROPERTIES* pActual) {
    CheckPointer(pRequest, E_POINTER);
    CheckPointer(pActual, E_POINTER);
    SYSTEM_INFO si;
    GetSystemInfo(&si);
    LONG align = pRequest->cbAlign;
    if (align <= 0 || (align & (align - 1)) != 0 || (si.dwAllocationGranularity & static_cast<DWORD>(align - 1)) != 0)
        return VFW_E_BADALIGN;
    if (pRequest->cBuffers < 0 || pRequest->cbBuffer < 0 || pRequest->cbPrefix < 0) return E_INVALIDARG;

    CAutoLock lock(this);
    ZeroMemory(pActual, sizeof(*pActual));
    if (m_bCommitted) return VFW_E_ALREADY_COMMITTED;
    if (m_lAllocated != m_lFree.GetCount()) return VFW_E_BUFFERS_OUTSTANDING;

    // The prefix plus buffer is a whole number of alignment units.
    LONGLONG size = static_cast<LONGLONG>(pRequest->cbBuffer) + pRequest->cbPrefix;
    if (size % align) size += align - size % align;
    if (size > 0x7FFFFFFF) return E_OUTOFMEMORY;

    pActual->cbBuffer = m_lSize = static_cast<LONG>(size) - pRequest->cbPrefix;
    pActual->cBuffers = m_lCount = pRequest->cBuffers;
    pActual->cbAlign = m_lAlignment = align;
    pActual->cbPrefix = m_lPrefix = pRequest->cbPrefix;
    m_bChanged = TRUE;
    return NOERROR;
}

HRESULT CMemAllocator::Alloc() {
    CAutoLock lock(this);
    HRESULT hr = CBaseAllocator::Alloc();
    if (FAILED(hr)) return hr;
    if (hr == S_FALSE && m_pBuffer != NULL) return NOERROR;  // same properties: reuse
    if (m_pBuffer) ReallyFree();

    LONGLONG slice = static_cast<LONGLONG>(m_lSize) + m_lPrefix;
    if (slice % m_lAlignment) slice += m_lAlignment - slice % m_lAlignment;
    LONGLONG total = slice * m_lCount;
    if (total > 0x7FFFFFFF) return E_OUTOFMEMORY;
    m_pBuffer = static_cast<LPBYTE>(VirtualAlloc(NULL, static_cast<SIZE_T>(total), MEM_COMMIT, PAGE_READWRITE));
    if (m_pBuffer == NULL) return E_OUTOFMEMORY;

    LPBYTE pNext = m_pBuffer;
    for (LONG i = 0; i < m_lCount; i++, pNext += slice) {
        HRESULT hrSample = S_OK;
        CMediaSample* pSample = new (std::nothrow)
            CMediaSample(NAME("Default memory media sample"), this, &hrSample, pNext + m_lPrefix, m_lSize);
        if (pSample == NULL) return E_OUTOFMEMORY;
        m_lFree.Add(pSample);
        m_lAllocated++;
    }
    m_bChanged = FALSE;
    return NOERROR;
}

void CMemAllocator::Free() {}

void CMemAllocator::ReallyFree() {
    // Only samples that are back on the free list can go.
    CMediaSample* pSample;
    while ((pSample = m_lFree.RemoveHead()) != NULL) {
        delete pSample;
        m_lAllocated--;
    }
    if (m_lAllocated == 0 && m_pBuffer != NULL) {
        VirtualFree(m_pBuffer, 0, MEM_RELEASE);
        m_pBuffer = NULL;
    }
}

HRESULT WINAPI CreateMemoryAllocator(IMemAllocator** ppAllocator) {
    CheckPointer(ppAllocator, E_POINTER);
    *ppAllocator = NULL;
    HRESULT hr = S_OK;
    CMemAllocator* p = new (std::nothrow) CMemAllocator(NAME("CMemAllocator"), NULL, &hr);
    if (p == NULL) return E_OUTOFMEMORY;
    if (FAILED(hr)) {
        delete p;
        return hr;
    }
    return p->NonDelegatingQueryInterface(IID_IMemAllocator, reinterpret_cast<void**>(ppAllocator));
}
