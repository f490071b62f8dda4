// A one-input, one-output filter that turns each input sample into one
// output sample ("XForm In" / "XForm Out").
#pragma once

#include "platform/dshow/Allocator.h"
#include "platform/dshow/Filter.h"

class CTransformFilter;

class CTransformInputPin : public CBaseInputPin {
    friend class CTransformFilter;

public:
    CTransformInputPin(LPCTSTR pObjectName, CTransformFilter* pTransformFilter, HRESULT* phr, LPCWSTR pName);
    CTransformInputPin(LPCSTR pObjectName, CTransformFilter* pTransformFilter, HRESULT* phr, LPCWSTR pName);

    STDMETHODIMP QueryId(LPWSTR* Id) override { return AMGetWideString(L"In", Id); }

    HRESULT CheckConnect(IPin* pPin) override;
    HRESULT BreakConnect() override;
    HRESULT CompleteConnect(IPin* pReceivePin) override;
    HRESULT CheckMediaType(const CMediaType* mtIn) override;
    HRESULT SetMediaType(const CMediaType* mt) override;

    STDMETHODIMP Receive(IMediaSample* pSample) override;
    STDMETHODIMP EndOfStream() override;
    STDMETHODIMP BeginFlush() override;
    STDMETHODIMP EndFlush() override;
    STDMETHODIMP NewSegment(REFERENCE_TIME tStart, REFERENCE_TIME tStop, double dRate) override;

    HRESULT CheckStreaming() override;

protected:
    CTransformFilter* m_pTransformFilter;
};

class CTransformOutputPin : public CBaseOutputPin {
    friend class CTransformFilter;

public:
    CTransformOutputPin(LPCTSTR pObjectName, CTransformFilter* pTransformFilter, HRESULT* phr, LPCWSTR pName);
    CTransformOutputPin(LPCSTR pObjectName, CTransformFilter* pTransformFilter, HRESULT* phr, LPCWSTR pName);
    ~CTransformOutputPin() override;

    STDMETHODIMP NonDelegatingQueryInterface(REFIID riid, void** ppv) override;
    STDMETHODIMP QueryId(LPWSTR* Id) override { return AMGetWideString(L"Out", Id); }

    HRESULT CheckConnect(IPin* pPin) override;
    HRESULT BreakConnect() override;
    HRESULT CompleteConnect(IPin* pReceivePin) override;
    HRESULT DecideBufferSize(IMemAllocator* pAlloc, ALLOCATOR_PROPERTIES* pProp) override;
    HRESULT CheckMediaType(const CMediaType* mtOut) override;
    HRESULT SetMediaType(const CMediaType* pmt) override;
    HRESULT GetMediaType(int iPosition, CMediaType* pMediaType) override;

    STDMETHODIMP Notify(IBaseFilter* pSender, Quality q) override;

protected:
    CTransformFilter* m_pTransformFilter;
    IUnknown* m_pPosition;  // seeking passed to the upstream filter
};

class AM_NOVTABLE CTransformFilter : public CBaseFilter {
public:
    CTransformFilter(LPCTSTR pName, LPUNKNOWN pUnk, REFCLSID clsid);
    CTransformFilter(LPCSTR pName, LPUNKNOWN pUnk, REFCLSID clsid);
    ~CTransformFilter() override;

    int GetPinCount() override { return 2; }
    CBasePin* GetPin(int n) override;
    STDMETHODIMP FindPin(LPCWSTR Id, IPin** ppPin) override;

    STDMETHODIMP Stop() override;
    STDMETHODIMP Pause() override;

    // What a transform must provide.
    virtual HRESULT Transform(IMediaSample* pIn, IMediaSample* pOut);
    virtual HRESULT CheckInputType(const CMediaType* mtIn) = 0;
    virtual HRESULT CheckTransform(const CMediaType* mtIn, const CMediaType* mtOut) = 0;
    virtual HRESULT DecideBufferSize(IMemAllocator* pAllocator, ALLOCATOR_PROPERTIES* pprop) = 0;
    virtual HRESULT GetMediaType(int iPosition, CMediaType* pMediaType) = 0;

    // Optional hooks.
    virtual HRESULT StartStreaming() { return NOERROR; }
    virtual HRESULT StopStreaming() { return NOERROR; }
    virtual HRESULT AlterQuality(Quality) { return S_FALSE; }
    virtual HRESULT SetMediaType(PIN_DIRECTION, const CMediaType*) { return NOERROR; }
    virtual HRESULT CheckConnect(PIN_DIRECTION, IPin*) { return NOERROR; }
    virtual HRESULT BreakConnect(PIN_DIRECTION) { return NOERROR; }
    virtual HRESULT CompleteConnect(PIN_DIRECTION, IPin*) { return NOERROR; }

    // Streaming, on the upstream thread under the receive lock.
    virtual HRESULT Receive(IMediaSample* pSample);
    virtual HRESULT EndOfStream();
    virtual HRESULT BeginFlush();
    virtual HRESULT EndFlush();
    virtual HRESULT NewSegment(REFERENCE_TIME tStart, REFERENCE_TIME tStop, double dRate);

    CCritSec* pStateLock() { return &m_csFilter; }

protected:
    // An output buffer carrying the input sample's times and flags.
    virtual HRESULT InitializeOutputSample(IMediaSample* pSample, IMediaSample** ppOutSample);

    BOOL m_bEOSDelivered;
    BOOL m_bSampleSkipped;
    BOOL m_bQualityChanged;
    CCritSec m_csFilter;   // state changes
    CCritSec m_csReceive;  // streaming
    CTransformInputPin* m_pInput;
    CTransformOutputPin* m_pOutput;

    friend class CTransformInputPin;
    friend class CTransformOutputPin;
};
