// An output pin of the time marker: delivers copies of the input chunks,
// re-stamped, through its own output queue thread.
#pragma once

#include "platform/dshow/BaseClasses.h"
#include "platform/dshow/OutputQueue.h"

#include <vector>

struct DmxStreamDescriptor {
    GUID majorType;
    DWORD group;
    DWORD number;
};

class CDmxOutPin : public CDynamicOutputPin {
public:
    CDmxOutPin(CBaseFilter* pFilter, CCritSec* pLock, HRESULT* phr, LPCWSTR pName, const DmxStreamDescriptor& stream);
    ~CDmxOutPin() override;

    // The one type the pin offers: that of the input connection.
    void SetMediaTypes(const CMediaType& mt);
    const DmxStreamDescriptor& Stream() const { return m_stream; }
    void SetMajorType(const GUID& major) { m_stream.majorType = major; }

    HRESULT CheckMediaType(const CMediaType* pmt) override;
    HRESULT GetMediaType(int iPosition, CMediaType* pMediaType) override;
    HRESULT DecideBufferSize(IMemAllocator* pAlloc, ALLOCATOR_PROPERTIES* pProps) override;
    // Always our own allocator, marked read-only for the peer.
    HRESULT DecideAllocator(IMemInputPin* pPin, IMemAllocator** ppAlloc) override;

    HRESULT Active() override;
    HRESULT Inactive() override;
    HRESULT DeliverEndOfStream() override;
    HRESULT DeliverBeginFlush() override;
    HRESULT DeliverEndFlush() override;

    // Copies cb bytes into a sample stamped t (kNoTime: unstamped) and queues
    // it. S_FALSE when not connected.
    HRESULT DeliverChunk(const BYTE* p, long cb, REFERENCE_TIME t);
    // Makes the queue send all it holds and waits until it has, at most timeoutMs.
    void DrainQueue(DWORD timeoutMs);

private:
    CCritSec m_queueLock;
    COutputQueue* m_pQueue = nullptr;
    bool m_discontinuityPending = false;
    LONGLONG m_bytesSent = 0;
    DmxStreamDescriptor m_stream;
    std::vector<CMediaType> m_types;
};
