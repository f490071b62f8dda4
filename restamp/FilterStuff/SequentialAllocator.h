// The time marker's input allocator: buffers are consecutive slices of one
// block handed out strictly in ring order, so the parser reads the unparsed
// input as one contiguous span without a second copy.
#pragma once

#include "platform/dshow/BaseClasses.h"
#include "restamp/FilterStuff/SequentialRing.h"

#include <vector>

class CSequentialAllocator : public CMemAllocator {
public:
    CSequentialAllocator(LPUNKNOWN pUnk, HRESULT* phr);
    ~CSequentialAllocator() override;

    STDMETHODIMP SetProperties(ALLOCATOR_PROPERTIES* pRequest, ALLOCATOR_PROPERTIES* pActual) override;
    STDMETHODIMP Commit() override;
    STDMETHODIMP Decommit() override;
    // Serves the slice at the next-buffer address, waiting while it is in use.
    STDMETHODIMP GetBuffer(IMediaSample** ppBuffer, REFERENCE_TIME* pStart, REFERENCE_TIME* pEnd,
                           DWORD dwFlags) override;
    STDMETHODIMP ReleaseBuffer(IMediaSample* pBuffer) override;

    // The unparsed span.
    HRESULT AddBuffer(IMediaSample* pSample);
    const BYTE* GetValid(DWORD* pValid);
    HRESULT Advance(DWORD cb);
    // Unparsed bytes the ring dropped to keep the input flowing since the
    // last call (see SequentialRing::TakeDropped).
    DWORD TakeDropped();
    // Drops the unparsed span.
    void Reset();

    // Holds or drops a slice for a sample that points into it.
    void AddSliceRef(const BYTE* p);
    void ReleaseSliceRef(const BYTE* p);

protected:
    HRESULT Alloc() override;
    void Free() override;

private:
    bool OwnsPointer(const BYTE* p) const;
    // Frees the block once decommitted and nothing holds a slice.
    void FreeIfDone();
    bool AnySliceInUse() const;

    chronel::SequentialRing m_ring;
    BYTE* m_pBlock = nullptr;
    DWORD m_cbBlock = 0;
    std::vector<CMediaSample*> m_samples;
    CAMEvent m_evSliceFree;
};

// Samples that point into the sequential allocator's memory, each holding
// the slice it lies in for as long as it lives.
class CSubAllocator : public CBaseAllocator {
public:
    CSubAllocator(CSequentialAllocator* pSource, HRESULT* phr);
    ~CSubAllocator() override;

    // A referenced sample over [p, p + cb), or null when out of memory.
    IMediaSample* GetSample(BYTE* p, LONG cb);
    STDMETHODIMP ReleaseBuffer(IMediaSample* pBuffer) override;

protected:
    void Free() override {}

private:
    CSequentialAllocator* m_pSource;
};
