// Base filter, pins and their enumerators.
#pragma once

#include "platform/com/SelfCountedObject.h"
#include "platform/dshow/ComBase.h"
#include "platform/dshow/MediaType.h"
#include "platform/dshow/RefTime.h"
#include "platform/dshow/Setup.h"
#include "platform/dshow/Sync.h"

class CBasePin;

class AM_NOVTABLE CBaseFilter : public CUnknown, public IBaseFilter, public IAMovieSetup {
public:
    CBaseFilter(LPCTSTR pName, LPUNKNOWN pUnk, CCritSec* pLock, REFCLSID clsid);
    CBaseFilter(LPCTSTR pName, LPUNKNOWN pUnk, CCritSec* pLock, REFCLSID clsid, HRESULT* phr);
    CBaseFilter(LPCSTR pName, LPUNKNOWN pUnk, CCritSec* pLock, REFCLSID clsid);
    CBaseFilter(LPCSTR pName, LPUNKNOWN pUnk, CCritSec* pLock, REFCLSID clsid, HRESULT* phr);
    ~CBaseFilter() override;

    DECLARE_IUNKNOWN
    STDMETHODIMP NonDelegatingQueryInterface(REFIID riid, void** ppv) override;

    // IPersist
    STDMETHODIMP GetClassID(CLSID* pClsID) override;

    // IMediaFilter
    STDMETHODIMP GetState(DWORD dwMSecs, FILTER_STATE* State) override;
    STDMETHODIMP SetSyncSource(IReferenceClock* pClock) override;
    STDMETHODIMP GetSyncSource(IReferenceClock** pClock) override;
    // Stop makes every connected pin inactive; Pause from Stopped makes
    // them active; Run passes the start time to every connected pin.
    STDMETHODIMP Stop() override;
    STDMETHODIMP Pause() override;
    STDMETHODIMP Run(REFERENCE_TIME tStart) override;

    // IBaseFilter
    STDMETHODIMP EnumPins(IEnumPins** ppEnum) override;
    STDMETHODIMP FindPin(LPCWSTR Id, IPin** ppPin) override;
    STDMETHODIMP QueryFilterInfo(FILTER_INFO* pInfo) override;
    STDMETHODIMP JoinFilterGraph(IFilterGraph* pGraph, LPCWSTR pName) override;
    STDMETHODIMP QueryVendorInfo(LPWSTR* pVendorInfo) override;

    // IAMovieSetup
    STDMETHODIMP Register() override;
    STDMETHODIMP Unregister() override;
    virtual LPAMOVIESETUP_FILTER GetSetupData() { return NULL; }

    virtual HRESULT StreamTime(CRefTime& rtStream);
    BOOL IsActive() {
        CAutoLock cObjectLock(m_pLock);
        return m_State != State_Stopped;
    }
    BOOL IsStopped() { return m_State == State_Stopped; }
    // Paused and not run since it left Stopped: what a graph whose Run failed
    // leaves behind while it believes every filter stopped.
    bool PausedNeverRun() {
        CAutoLock cObjectLock(m_pLock);
        return m_State == State_Paused && !m_ranSincePause;
    }

    // The pins: the filter owns them; they delegate their lifetime to it.
    virtual int GetPinCount() = 0;
    virtual CBasePin* GetPin(int n) = 0;

    HRESULT NotifyEvent(long EventCode, LONG_PTR EventParam1, LONG_PTR EventParam2);
    IFilterGraph* GetFilterGraph() { return m_pGraph; }
    HRESULT ReconnectPin(IPin* pPin, const AM_MEDIA_TYPE* pmt);

    // Enumerators fail with VFW_E_ENUM_OUT_OF_SYNC once this changes.
    virtual LONG GetPinVersion() { return m_PinVersion; }
    void IncrementPinVersion() { InterlockedIncrement(&m_PinVersion); }

    friend class CBasePin;

protected:
    FILTER_STATE m_State;
    IReferenceClock* m_pClock;
    CRefTime m_tStart;
    CLSID m_clsid;
    CCritSec* m_pLock;
    WCHAR* m_pName;
    IFilterGraph* m_pGraph;    // not referenced: the graph holds us
    IMediaEventSink* m_pSink;  // not referenced either
    volatile LONG m_PinVersion;
    bool m_ranSincePause = false;  // Run came since the filter left Stopped
};

class AM_NOVTABLE CBasePin : public CUnknown, public IPin, public IQualityControl {
public:
    CBasePin(LPCTSTR pObjectName, CBaseFilter* pFilter, CCritSec* pLock, HRESULT* phr, LPCWSTR pName,
             PIN_DIRECTION dir);
    CBasePin(LPCSTR pObjectName, CBaseFilter* pFilter, CCritSec* pLock, HRESULT* phr, LPCWSTR pName, PIN_DIRECTION dir);
    ~CBasePin() override;

    DECLARE_IUNKNOWN
    STDMETHODIMP NonDelegatingQueryInterface(REFIID riid, void** ppv) override;
    // A pin lives as long as its filter.
    STDMETHODIMP_(ULONG) NonDelegatingAddRef() override;
    STDMETHODIMP_(ULONG) NonDelegatingRelease() override;

    // IPin
    STDMETHODIMP Connect(IPin* pReceivePin, const AM_MEDIA_TYPE* pmt) override;
    STDMETHODIMP ReceiveConnection(IPin* pConnector, const AM_MEDIA_TYPE* pmt) override;
    STDMETHODIMP Disconnect() override;
    STDMETHODIMP ConnectedTo(IPin** pPin) override;
    STDMETHODIMP ConnectionMediaType(AM_MEDIA_TYPE* pmt) override;
    STDMETHODIMP QueryPinInfo(PIN_INFO* pInfo) override;
    STDMETHODIMP QueryDirection(PIN_DIRECTION* pPinDir) override;
    STDMETHODIMP QueryId(LPWSTR* Id) override;
    STDMETHODIMP QueryAccept(const AM_MEDIA_TYPE* pmt) override;
    STDMETHODIMP EnumMediaTypes(IEnumMediaTypes** ppEnum) override;
    STDMETHODIMP QueryInternalConnections(IPin** apPin, ULONG* nPin) override;
    STDMETHODIMP EndOfStream() override;
    STDMETHODIMP BeginFlush() override = 0;
    STDMETHODIMP EndFlush() override = 0;
    STDMETHODIMP NewSegment(REFERENCE_TIME tStart, REFERENCE_TIME tStop, double dRate) override;

    // IQualityControl
    STDMETHODIMP Notify(IBaseFilter* pSender, Quality q) override;
    STDMETHODIMP SetSink(IQualityControl* piqc) override;

    BOOL IsConnected() const { return m_Connected != NULL; }
    IPin* GetConnected() const { return m_Connected; }
    BOOL IsStopped() const { return m_pFilter->m_State == State_Stopped; }
    LPWSTR Name() const { return m_pName; }
    BOOL CanReconnectWhenActive() const { return m_bCanReconnectWhenActive; }
    void SetReconnectWhenActive(bool bCanReconnect) { m_bCanReconnectWhenActive = bCanReconnect; }
    const CMediaType& CurrentMediaType() const { return m_mt; }
    REFERENCE_TIME CurrentStartTime() const { return m_tStart; }
    REFERENCE_TIME CurrentStopTime() const { return m_tStop; }
    double CurrentRate() const { return m_dRate; }

    virtual LONG GetMediaTypeVersion() { return m_TypeVersion; }
    void IncrementTypeVersion() { InterlockedIncrement(&m_TypeVersion); }

    // Overridables of the connection process.
    virtual HRESULT CheckMediaType(const CMediaType* pmt) = 0;
    virtual HRESULT SetMediaType(const CMediaType* pmt);
    virtual HRESULT CheckConnect(IPin* pPin);
    virtual HRESULT BreakConnect();
    virtual HRESULT CompleteConnect(IPin* pReceivePin);
    // The types we propose, from 0; VFW_S_NO_MORE_ITEMS past the last.
    virtual HRESULT GetMediaType(int iPosition, CMediaType* pMediaType);
    virtual HRESULT Active() { return NOERROR; }
    virtual HRESULT Inactive() { return NOERROR; }
    virtual HRESULT Run(REFERENCE_TIME tStart);

    virtual HRESULT AttemptConnection(IPin* pReceivePin, const CMediaType* pmt);
    virtual HRESULT TryMediaTypes(IPin* pReceivePin, const CMediaType* pmt, IEnumMediaTypes* pEnum);
    virtual HRESULT AgreeMediaType(IPin* pReceivePin, const CMediaType* pmt);
    HRESULT DisconnectInternal();

protected:
    WCHAR* m_pName;
    IPin* m_Connected;
    PIN_DIRECTION m_dir;
    CCritSec* m_pLock;
    bool m_bRunTimeError;
    bool m_bCanReconnectWhenActive;
    bool m_bTryMyTypesFirst;
    CBaseFilter* m_pFilter;
    IQualityControl* m_pQSink;
    volatile LONG m_TypeVersion;
    CMediaType m_mt;
    CRefTime m_tStart;
    CRefTime m_tStop;
    double m_dRate;

private:
    void Init(CBaseFilter* pFilter, CCritSec* pLock, LPCWSTR pName, PIN_DIRECTION dir);
};

class CEnumPins final : public SelfCountedObject<IEnumPins> {
public:
    CEnumPins(CBaseFilter* pFilter, CEnumPins* pEnumPins);
    CEnumPins(const CEnumPins&) = delete;
    CEnumPins& operator=(const CEnumPins&) = delete;
    ~CEnumPins() override;

    STDMETHODIMP Next(ULONG cPins, IPin** ppPins, ULONG* pcFetched) override;
    STDMETHODIMP Skip(ULONG cPins) override;
    STDMETHODIMP Reset() override;
    STDMETHODIMP Clone(IEnumPins** ppEnum) override;

private:
    BOOL AreWeOutOfSync() const { return m_pFilter->GetPinVersion() != m_Version; }

    int m_Position;
    int m_PinCount;
    CBaseFilter* m_pFilter;
    LONG m_Version;
};

class CEnumMediaTypes final : public SelfCountedObject<IEnumMediaTypes> {
public:
    CEnumMediaTypes(CBasePin* pPin, CEnumMediaTypes* pEnumMediaTypes);
    CEnumMediaTypes(const CEnumMediaTypes&) = delete;
    CEnumMediaTypes& operator=(const CEnumMediaTypes&) = delete;
    ~CEnumMediaTypes() override;

    STDMETHODIMP Next(ULONG cMediaTypes, AM_MEDIA_TYPE** ppMediaTypes, ULONG* pcFetched) override;
    STDMETHODIMP Skip(ULONG cMediaTypes) override;
    STDMETHODIMP Reset() override;
    STDMETHODIMP Clone(IEnumMediaTypes** ppEnum) override;

private:
    BOOL AreWeOutOfSync() const { return m_pPin->GetMediaTypeVersion() != m_Version; }

    int m_Position;
    CBasePin* m_pPin;
    LONG m_Version;
};

class AM_NOVTABLE CBaseOutputPin : public CBasePin {
public:
    CBaseOutputPin(LPCTSTR pObjectName, CBaseFilter* pFilter, CCritSec* pLock, HRESULT* phr, LPCWSTR pName);
    CBaseOutputPin(LPCSTR pObjectName, CBaseFilter* pFilter, CCritSec* pLock, HRESULT* phr, LPCWSTR pName);

    HRESULT CompleteConnect(IPin* pReceivePin) override;
    // The downstream pin's allocator first, else our own; the result is
    // negotiated with DecideBufferSize and told to the downstream pin.
    virtual HRESULT DecideAllocator(IMemInputPin* pPin, IMemAllocator** pAlloc);
    virtual HRESULT DecideBufferSize(IMemAllocator* pAlloc, ALLOCATOR_PROPERTIES* ppropInputRequest) = 0;
    virtual HRESULT InitAllocator(IMemAllocator** ppAlloc);
    virtual HRESULT GetDeliveryBuffer(IMediaSample** ppSample, REFERENCE_TIME* pStartTime, REFERENCE_TIME* pEndTime,
                                      DWORD dwFlags);
    virtual HRESULT Deliver(IMediaSample* pSample);
    virtual HRESULT DeliverEndOfStream();
    virtual HRESULT DeliverBeginFlush();
    virtual HRESULT DeliverEndFlush();
    virtual HRESULT DeliverNewSegment(REFERENCE_TIME tStart, REFERENCE_TIME tStop, double dRate);

    HRESULT CheckConnect(IPin* pPin) override;
    HRESULT BreakConnect() override;
    HRESULT Active() override;
    HRESULT Inactive() override;

    // Input-side calls make no sense on an output pin.
    STDMETHODIMP EndOfStream() override;
    STDMETHODIMP BeginFlush() override;
    STDMETHODIMP EndFlush() override;

protected:
    IMemAllocator* m_pAllocator;
    IMemInputPin* m_pInputPin;
};

class AM_NOVTABLE CBaseInputPin : public CBasePin, public IMemInputPin {
public:
    CBaseInputPin(LPCTSTR pObjectName, CBaseFilter* pFilter, CCritSec* pLock, HRESULT* phr, LPCWSTR pName);
    CBaseInputPin(LPCSTR pObjectName, CBaseFilter* pFilter, CCritSec* pLock, HRESULT* phr, LPCWSTR pName);
    ~CBaseInputPin() override;

    DECLARE_IUNKNOWN
    STDMETHODIMP NonDelegatingQueryInterface(REFIID riid, void** ppv) override;

    // IMemInputPin
    STDMETHODIMP GetAllocator(IMemAllocator** ppAllocator) override;
    STDMETHODIMP NotifyAllocator(IMemAllocator* pAllocator, BOOL bReadOnly) override;
    STDMETHODIMP GetAllocatorRequirements(ALLOCATOR_PROPERTIES* pProps) override;
    // Checks the streaming state and a format change; derived pins process.
    STDMETHODIMP Receive(IMediaSample* pSample) override;
    STDMETHODIMP ReceiveMultiple(IMediaSample** pSamples, long nSamples, long* nSamplesProcessed) override;
    STDMETHODIMP ReceiveCanBlock() override;

    STDMETHODIMP BeginFlush() override;
    STDMETHODIMP EndFlush() override;
    STDMETHODIMP Notify(IBaseFilter* pSender, Quality q) override;

    virtual HRESULT CheckStreaming();
    HRESULT PassNotify(Quality& q);
    BOOL IsReadOnly() const { return m_bReadOnly; }
    BOOL IsFlushing() const { return m_bFlushing; }
    AM_SAMPLE2_PROPERTIES* SampleProps() { return &m_SampleProps; }

    HRESULT BreakConnect() override;
    // Decommits the allocator, which releases a thread waiting in GetBuffer.
    HRESULT Inactive() override;

protected:
    IMemAllocator* m_pAllocator;
    BYTE m_bReadOnly;
    BYTE m_bFlushing;
    AM_SAMPLE2_PROPERTIES m_SampleProps;
};

// The input pin of a filter that ends a graph (a writer). A graph whose Run
// failed may leave such a filter paused while it believes it stopped, so its
// Stop never comes and taking the graph apart would be refused for good.
// Paused but never run, the filter stops itself (closing its target) and lets
// go; once run, only a stopped filter lets go, as usual.
class AM_NOVTABLE CTerminalInputPin : public CBaseInputPin {
public:
    using CBaseInputPin::CBaseInputPin;
    STDMETHODIMP Disconnect() override;
};

// What a writer filter does with the samples and the end its input pin gets.
class CWriterTarget {
public:
    virtual HRESULT WriteSample(IMediaSample* pSample) = 0;
    virtual HRESULT EndOfStreamReached() = 0;
    // Held around the target's writes and by a flush, so a flush waits for
    // a write in progress.
    virtual CCritSec* ReceiveLock() = 0;

protected:
    ~CWriterTarget() = default;
};

// A writer's input pin: samples go to the target as they come, and writing
// never waits for a clock or a downstream filter. The pin checks the type.
class AM_NOVTABLE CWriterInputPin : public CTerminalInputPin {
public:
    CWriterInputPin(LPCTSTR pObjectName, CBaseFilter* pFilter, CWriterTarget* pTarget, CCritSec* pLock, HRESULT* phr,
                    LPCWSTR pName);

    STDMETHODIMP Receive(IMediaSample* pSample) override;
    STDMETHODIMP EndOfStream() override;
    STDMETHODIMP BeginFlush() override;
    STDMETHODIMP EndFlush() override;
    STDMETHODIMP ReceiveCanBlock() override;

private:
    CWriterTarget* m_pTarget;
};

// An output pin whose format may change while the graph runs. Streaming
// code brackets its use of the pin with StartUsingOutputPin and
// StopUsingOutputPin; IPinFlowControl::Block holds it off meanwhile.
class CDynamicOutputPin : public CBaseOutputPin, public IPinFlowControl {
public:
    CDynamicOutputPin(LPCTSTR pObjectName, CBaseFilter* pFilter, CCritSec* pLock, HRESULT* phr, LPCWSTR pName);
    CDynamicOutputPin(LPCSTR pObjectName, CBaseFilter* pFilter, CCritSec* pLock, HRESULT* phr, LPCWSTR pName);
    ~CDynamicOutputPin() override;

    DECLARE_IUNKNOWN
    STDMETHODIMP NonDelegatingQueryInterface(REFIID riid, void** ppv) override;

    STDMETHODIMP Disconnect() override;
    STDMETHODIMP Block(DWORD dwBlockFlags, HANDLE hEvent) override;

    void SetConfigInfo(IGraphConfig* pGraphConfig, HANDLE hStopEvent);

    HRESULT Active() override;
    HRESULT Inactive() override;
    HRESULT CompleteConnect(IPin* pReceivePin) override;

    HRESULT DeliverBeginFlush() override;
    HRESULT DeliverEndFlush() override;
    HRESULT DeliverEndOfStream() override;
    HRESULT DeliverNewSegment(REFERENCE_TIME tStart, REFERENCE_TIME tStop, double dRate) override;

    // Waits while the pin is blocked; S_OK when the caller may use the pin.
    virtual HRESULT StartUsingOutputPin();
    virtual void StopUsingOutputPin();
    virtual bool StreamingThreadUsingOutputPin();

    HRESULT ChangeOutputFormat(const AM_MEDIA_TYPE* pmt, REFERENCE_TIME tSegmentStart, REFERENCE_TIME tSegmentStop,
                               double dSegmentRate);
    HRESULT ChangeMediaType(const CMediaType* pmt);
    HRESULT DynamicReconnect(const CMediaType* pmt);

protected:
    HRESULT SynchronousBlockOutputPin();
    HRESULT AsynchronousBlockOutputPin(HANDLE hNotifyCallerPinBlockedEvent);
    HRESULT UnblockOutputPin();
    void SetBlockingState();
    HRESULT CompleteConnectPeerCheck();

    enum BLOCK_STATE { NOT_BLOCKED, PENDING, BLOCKED };

    CCritSec m_BlockStateLock;
    HANDLE m_hUnblockOutputPinEvent;  // set while the pin is not blocked
    HANDLE m_hNotifyCallerPinBlockedEvent;
    BLOCK_STATE m_BlockState;
    DWORD m_dwBlockCallerThreadID;
    DWORD m_dwNumOutstandingOutputPinUsers;
    HANDLE m_hStopEvent;
    IGraphConfig* m_pGraphConfig;
    BOOL m_bPinUsesReadOnlyAllocator;

private:
    void InitDynamic();
};
