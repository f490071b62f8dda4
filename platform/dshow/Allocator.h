// Media samples and the allocators that hand them out.
#pragma once

#include "platform/dshow/ComBase.h"
#include "platform/dshow/Sync.h"

class CBaseAllocator;

class CMediaSample : public IMediaSample2 {
public:
    CMediaSample(LPCTSTR pName, CBaseAllocator* pAllocator, HRESULT* phr, LPBYTE pBuffer = NULL, LONG length = 0);
    CMediaSample(LPCSTR pName, CBaseAllocator* pAllocator, HRESULT* phr, LPBYTE pBuffer = NULL, LONG length = 0);
    CMediaSample(const CMediaSample&) = delete;
    CMediaSample& operator=(const CMediaSample&) = delete;
    virtual ~CMediaSample();

    STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override;
    STDMETHODIMP_(ULONG) AddRef() override;
    // At zero the sample goes back to its allocator (it is not deleted).
    STDMETHODIMP_(ULONG) Release() override;

    HRESULT SetPointer(BYTE* ptr, LONG cBytes);

    STDMETHODIMP GetPointer(BYTE** ppBuffer) override;
    STDMETHODIMP_(LONG) GetSize() override;
    STDMETHODIMP GetTime(REFERENCE_TIME* pTimeStart, REFERENCE_TIME* pTimeEnd) override;
    STDMETHODIMP SetTime(REFERENCE_TIME* pTimeStart, REFERENCE_TIME* pTimeEnd) override;
    STDMETHODIMP IsSyncPoint() override;
    STDMETHODIMP SetSyncPoint(BOOL bIsSyncPoint) override;
    STDMETHODIMP IsPreroll() override;
    STDMETHODIMP SetPreroll(BOOL bIsPreroll) override;
    STDMETHODIMP_(LONG) GetActualDataLength() override;
    STDMETHODIMP SetActualDataLength(LONG lActual) override;
    STDMETHODIMP GetMediaType(AM_MEDIA_TYPE** ppMediaType) override;
    STDMETHODIMP SetMediaType(AM_MEDIA_TYPE* pMediaType) override;
    STDMETHODIMP IsDiscontinuity() override;
    STDMETHODIMP SetDiscontinuity(BOOL bDiscontinuity) override;
    STDMETHODIMP GetMediaTime(LONGLONG* pTimeStart, LONGLONG* pTimeEnd) override;
    STDMETHODIMP SetMediaTime(LONGLONG* pTimeStart, LONGLONG* pTimeEnd) override;
    STDMETHODIMP GetProperties(DWORD cbProperties, BYTE* pbProperties) override;
    STDMETHODIMP SetProperties(DWORD cbProperties, const BYTE* pbProperties) override;

protected:
    friend class CBaseAllocator;

    enum {
        Sample_SyncPoint = 0x01,
        Sample_Preroll = 0x02,
        Sample_Discontinuity = 0x04,
        Sample_TypeChanged = 0x08,
        Sample_TimeValid = 0x10,
        Sample_MediaTimeValid = 0x20,
        Sample_TimeDiscontinuity = 0x40,
        Sample_StopValid = 0x100,
        Sample_ValidFlags = 0x1FF
    };

    DWORD m_dwFlags;
    DWORD m_dwTypeSpecificFlags;
    LPBYTE m_pBuffer;
    LONG m_lActual;
    LONG m_cbBuffer;
    CBaseAllocator* m_pAllocator;
    CMediaSample* m_pNext;
    REFERENCE_TIME m_Start;
    REFERENCE_TIME m_End;
    LONGLONG m_MediaStart;
    LONG m_MediaEnd;  // stop minus start
    AM_MEDIA_TYPE* m_pMediaType;
    DWORD m_dwStreamId;

public:
    LONG m_cRef;
};

class AM_NOVTABLE CBaseAllocator : public CUnknown, public IMemAllocatorCallbackTemp, public CCritSec {
public:
    // A LIFO list of free samples linked through the samples themselves.
    class CSampleList {
    public:
        CSampleList() : m_List(NULL), m_nOnList(0) {}
        CMediaSample* Head() const { return m_List; }
        static CMediaSample* Next(CMediaSample* pSample) { return NextSample(pSample); }
        int GetCount() const { return m_nOnList; }
        void Add(CMediaSample* pSample) {
            NextSample(pSample) = m_List;
            m_List = pSample;
            m_nOnList++;
        }
        CMediaSample* RemoveHead() {
            CMediaSample* pSample = m_List;
            if (pSample != NULL) {
                m_List = NextSample(pSample);
                m_nOnList--;
            }
            return pSample;
        }
        void Remove(CMediaSample* pSample);

    public:
        CMediaSample* m_List;
        int m_nOnList;
    };

    CBaseAllocator(LPCTSTR pName, LPUNKNOWN pUnk, HRESULT* phr, BOOL bEvent = TRUE,
                   BOOL fEnableReleaseCallback = FALSE);
    CBaseAllocator(LPCSTR pName, LPUNKNOWN pUnk, HRESULT* phr, BOOL bEvent = TRUE, BOOL fEnableReleaseCallback = FALSE);
    ~CBaseAllocator() override;

    DECLARE_IUNKNOWN
    STDMETHODIMP NonDelegatingQueryInterface(REFIID riid, void** ppv) override;

    STDMETHODIMP SetProperties(ALLOCATOR_PROPERTIES* pRequest, ALLOCATOR_PROPERTIES* pActual) override;
    STDMETHODIMP GetProperties(ALLOCATOR_PROPERTIES* pProps) override;
    STDMETHODIMP Commit() override;
    // Wakes every GetBuffer waiter (they then fail with VFW_E_NOT_COMMITTED);
    // the memory goes when the last outstanding sample comes back.
    STDMETHODIMP Decommit() override;
    STDMETHODIMP GetBuffer(IMediaSample** ppBuffer, REFERENCE_TIME* pStartTime, REFERENCE_TIME* pEndTime,
                           DWORD dwFlags) override;
    STDMETHODIMP ReleaseBuffer(IMediaSample* pBuffer) override;

    STDMETHODIMP SetNotify(IMemAllocatorNotifyCallbackTemp* pNotify) override;
    STDMETHODIMP GetFreeCount(LONG* plBuffersFree) override;

    void NotifySample();
    void SetWaiting() { m_lWaiting++; }

protected:
    static CMediaSample*& NextSample(CMediaSample* pSample) { return pSample->m_pNext; }

    // Allocates the samples at Commit; the base checks the properties:
    // VFW_E_SIZENOTSET when unset, S_FALSE when nothing changed.
    virtual HRESULT Alloc();
    // Frees the samples once all are back after a Decommit.
    virtual void Free() = 0;

    CSampleList m_lFree;
    HANDLE m_hSem;
    long m_lWaiting;
    long m_lCount;
    long m_lAllocated;
    long m_lSize;
    long m_lAlignment;
    long m_lPrefix;
    BOOL m_bChanged;
    BOOL m_bCommitted;
    BOOL m_bDecommitInProgress;
    IMemAllocatorNotifyCallbackTemp* m_pNotify;
    BOOL m_fEnableReleaseCallback;
};

// Samples over one block of memory.
class CMemAllocator : public CBaseAllocator {
public:
    CMemAllocator(LPCTSTR pName, LPUNKNOWN pUnk, HRESULT* phr);
    CMemAllocator(LPCSTR pName, LPUNKNOWN pUnk, HRESULT* phr);
    ~CMemAllocator() override;

    static CUnknown* WINAPI CreateInstance(LPUNKNOWN pUnk, HRESULT* phr);

    STDMETHODIMP SetProperties(ALLOCATOR_PROPERTIES* pRequest, ALLOCATOR_PROPERTIES* pActual) override;

protected:
    HRESULT Alloc() override;
    // Keeps the block for the next Commit; ReallyFree releases it.
    void Free() override;
    void ReallyFree();

    LPBYTE m_pBuffer;
};

// A new memory allocator of ours (one reference).
HRESULT WINAPI CreateMemoryAllocator(IMemAllocator** ppAllocator);
