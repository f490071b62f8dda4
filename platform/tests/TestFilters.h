// Small filters built on our base classes, shared by the tests.
#pragma once

#include <vector>

#include "platform/dshow/BaseClasses.h"

// {B5A6D1C0-3F52-4E0A-9C1B-2D7E8F901A01}
DEFINE_GUID(CLSID_TestTransform, 0xb5a6d1c0, 0x3f52, 0x4e0a, 0x9c, 0x1b, 0x2d, 0x7e, 0x8f, 0x90, 0x1a, 0x01);
// {B5A6D1C0-3F52-4E0A-9C1B-2D7E8F901A02}
DEFINE_GUID(CLSID_TestSource, 0xb5a6d1c0, 0x3f52, 0x4e0a, 0x9c, 0x1b, 0x2d, 0x7e, 0x8f, 0x90, 0x1a, 0x02);
// The platform's Null Renderer, {C1F400A4-3F08-11D3-9F0B-006008039E37}.
DEFINE_GUID(CLSID_PlatformNullRenderer, 0xc1f400a4, 0x3f08, 0x11d3, 0x9f, 0x0b, 0x00, 0x60, 0x08, 0x03, 0x9e, 0x37);

// Reference count of an object without changing it.
inline ULONG RefCount(IUnknown* p) {
    p->AddRef();
    return p->Release();
}

// Each sample carries a 32-bit sequence number.
class TestSource : public CSource {
public:
    // count < 0: never ends.
    TestSource(LPUNKNOWN pUnk, LONG count);
    static CUnknown* WINAPI CreateInstance(LPUNKNOWN pUnk, HRESULT* phr);
    LONG Delivered() const { return m_delivered; }
    // One more output pin (the filter's pin set changes).
    void AddOutputPin();

private:
    class Stream : public CSourceStream {
    public:
        Stream(TestSource* pFilter, HRESULT* phr);
        HRESULT FillBuffer(IMediaSample* pSample) override;
        HRESULT GetMediaType(CMediaType* pmt) override;
        HRESULT DecideBufferSize(IMemAllocator* pAlloc, ALLOCATOR_PROPERTIES* pProps) override;
        HRESULT OnThreadStartPlay() override;

    private:
        TestSource* m_pSource;
        LONG m_next = 0;
    };
    friend class Stream;
    LONG m_count;
    volatile LONG m_delivered = 0;
};

// Copies its input and records the sequence numbers it saw.
class TestTransform : public CTransformFilter {
public:
    explicit TestTransform(LPUNKNOWN pUnk);
    static CUnknown* WINAPI CreateInstance(LPUNKNOWN pUnk, HRESULT* phr);

    HRESULT CheckInputType(const CMediaType* mtIn) override;
    HRESULT CheckTransform(const CMediaType* mtIn, const CMediaType* mtOut) override;
    HRESULT DecideBufferSize(IMemAllocator* pAlloc, ALLOCATOR_PROPERTIES* pProps) override;
    HRESULT GetMediaType(int iPosition, CMediaType* pmt) override;
    HRESULT Transform(IMediaSample* pIn, IMediaSample* pOut) override;

    std::vector<DWORD> Seen();
    HANDLE FirstSample() const { return m_firstSample; }

private:
    CCritSec m_seenLock;
    std::vector<DWORD> m_seen;
    CAMEvent m_firstSample{TRUE};
};

// A renderer that records what arrives and how (batch sizes, end of stream).
class TestSink : public CBaseFilter {
public:
    TestSink();
    int GetPinCount() override { return 1; }
    CBasePin* GetPin(int n) override;
    IPin* InputPin();

    std::vector<DWORD> Seen();
    std::vector<long> Batches();
    LONG EndOfStreamCount() const { return m_eos; }
    HANDLE Arrived() const { return m_arrived; }
    // Keep every sample received until ReleaseHeld, even across Stop, so
    // upstream runs out of buffers and only a decommit can wake it.
    void HoldSamples() { m_hold = true; }
    void ReleaseHeld();

private:
    class Pin : public CBaseInputPin {
    public:
        Pin(TestSink* pSink, HRESULT* phr);
        HRESULT CheckMediaType(const CMediaType*) override { return S_OK; }
        STDMETHODIMP Receive(IMediaSample* pSample) override;
        STDMETHODIMP ReceiveMultiple(IMediaSample** pSamples, long nSamples, long* nProcessed) override;
        STDMETHODIMP EndOfStream() override;

    private:
        TestSink* m_pSink;
    };
    CCritSec m_lock;
    CCritSec m_dataLock;
    Pin* m_pPin = nullptr;
    std::vector<DWORD> m_seen;
    std::vector<long> m_batches;
    std::vector<IMediaSample*> m_held;
    bool m_hold = false;
    volatile LONG m_eos = 0;
    CAMEvent m_arrived;
    friend class Pin;

public:
    ~TestSink() override;
};

// A sample's sequence number.
DWORD SequenceOf(IMediaSample* pSample);
