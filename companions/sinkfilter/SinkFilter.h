// "Korvell Sink Filter": a file writer that stores every sample it receives in
// arrival order, ignoring sample times. The file is opened (truncated) when
// the filter leaves Stopped and flushed and closed at Stop and at end of
// stream. A failed open or write goes to the graph as EC_ERRORABORT; the
// failing call returns the error and every later sample is refused.
#pragma once

// COM objects are deleted through their own class, never through an
// interface pointer.
#pragma GCC diagnostic ignored "-Wnon-virtual-dtor"

#include <dshow.h>
#include <windows.h>

#include <atomic>
#include <mutex>
#include <string>

// {20D356CF-03FB-403A-A215-7A5EF796BB9A}
DEFINE_GUID(CLSID_KorvellSinkFilter, 0x20d356cf, 0x03fb, 0x403a, 0xa2, 0x15, 0x7a, 0x5e, 0xf7, 0x96,
            0xbb, 0x9a);

class CKorvellSink;

class CSinkInputPin : public IPin, public IMemInputPin {
public:
    explicit CSinkInputPin(CKorvellSink* filter) : filter_(filter) {}
    virtual ~CSinkInputPin();

    // IUnknown: references go to the filter.
    STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override;
    STDMETHODIMP_(ULONG) AddRef() override;
    STDMETHODIMP_(ULONG) Release() override;

    // IPin
    STDMETHODIMP Connect(IPin* receivePin, const AM_MEDIA_TYPE* mt) override;
    STDMETHODIMP ReceiveConnection(IPin* connector, const AM_MEDIA_TYPE* mt) override;
    STDMETHODIMP Disconnect() override;
    STDMETHODIMP ConnectedTo(IPin** pin) override;
    STDMETHODIMP ConnectionMediaType(AM_MEDIA_TYPE* mt) override;
    STDMETHODIMP QueryPinInfo(PIN_INFO* info) override;
    STDMETHODIMP QueryDirection(PIN_DIRECTION* dir) override;
    STDMETHODIMP QueryId(LPWSTR* id) override;
    STDMETHODIMP QueryAccept(const AM_MEDIA_TYPE* mt) override;
    STDMETHODIMP EnumMediaTypes(IEnumMediaTypes** types) override;
    STDMETHODIMP QueryInternalConnections(IPin** pins, ULONG* count) override;
    STDMETHODIMP EndOfStream() override;
    STDMETHODIMP BeginFlush() override;
    STDMETHODIMP EndFlush() override;
    STDMETHODIMP NewSegment(REFERENCE_TIME start, REFERENCE_TIME stop, double rate) override;

    // IMemInputPin
    STDMETHODIMP GetAllocator(IMemAllocator** allocator) override;
    STDMETHODIMP NotifyAllocator(IMemAllocator* allocator, BOOL readOnly) override;
    STDMETHODIMP GetAllocatorRequirements(ALLOCATOR_PROPERTIES* props) override;
    STDMETHODIMP Receive(IMediaSample* sample) override;
    STDMETHODIMP ReceiveMultiple(IMediaSample** samples, long count, long* processed) override;
    STDMETHODIMP ReceiveCanBlock() override;

    bool IsConnected() const { return connected_ != nullptr; }

private:
    CKorvellSink* filter_;
    IPin* connected_ = nullptr;  // guarded by the filter lock
    AM_MEDIA_TYPE mt_{};
    IMemAllocator* allocator_ = nullptr;
};

class CKorvellSink : public IBaseFilter, public IFileSinkFilter, public IAMFilterMiscFlags {
public:
    static HRESULT CreateInstance(IUnknown** out);

    // IUnknown
    STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override;
    STDMETHODIMP_(ULONG) AddRef() override;
    STDMETHODIMP_(ULONG) Release() override;

    // IPersist / IMediaFilter / IBaseFilter
    STDMETHODIMP GetClassID(CLSID* clsid) override;
    STDMETHODIMP Stop() override;
    STDMETHODIMP Pause() override;
    STDMETHODIMP Run(REFERENCE_TIME start) override;
    STDMETHODIMP GetState(DWORD timeoutMs, FILTER_STATE* state) override;
    STDMETHODIMP SetSyncSource(IReferenceClock* clock) override;
    STDMETHODIMP GetSyncSource(IReferenceClock** clock) override;
    STDMETHODIMP EnumPins(IEnumPins** pins) override;
    STDMETHODIMP FindPin(LPCWSTR id, IPin** pin) override;
    STDMETHODIMP QueryFilterInfo(FILTER_INFO* info) override;
    STDMETHODIMP JoinFilterGraph(IFilterGraph* graph, LPCWSTR name) override;
    STDMETHODIMP QueryVendorInfo(LPWSTR* info) override;

    // IFileSinkFilter
    STDMETHODIMP SetFileName(LPCOLESTR fileName, const AM_MEDIA_TYPE* mt) override;
    STDMETHODIMP GetCurFile(LPOLESTR* fileName, AM_MEDIA_TYPE* mt) override;

    // IAMFilterMiscFlags: a renderer, so the graph waits for its EC_COMPLETE.
    STDMETHODIMP_(ULONG) GetMiscFlags() override;

private:
    friend class CSinkInputPin;

    CKorvellSink();
    virtual ~CKorvellSink();

    // Streaming side, called by the input pin.
    HRESULT WriteSample(IMediaSample* sample);
    HRESULT EndOfStream();
    HRESULT BeginFlush();
    HRESULT EndFlush();

    // Opens the target (truncating); fails when no name is set.
    HRESULT OpenTarget();
    // Flushes and closes the target; the flush result (S_OK when none open).
    HRESULT CloseTarget();
    void Notify(long code, LONG_PTR param1, LONG_PTR param2);

    std::atomic<long> refs_{1};
    std::mutex filterLock_;  // state changes, graph, name, connection
    std::mutex streamLock_;  // the target file and the streaming flags
    std::atomic<FILTER_STATE> state_{State_Stopped};
    IFilterGraph* graph_ = nullptr;         // not referenced: the graph owns us
    IMediaEventSink* eventSink_ = nullptr;  // likewise
    IReferenceClock* clock_ = nullptr;
    std::wstring name_;
    std::wstring fileName_;
    AM_MEDIA_TYPE fileType_{};
    bool hasFileType_ = false;
    CSinkInputPin pin_;

    // Guarded by streamLock_.
    HANDLE file_ = INVALID_HANDLE_VALUE;
    HRESULT failure_ = S_OK;  // first failure of this run; later samples get it too
    bool endOfStream_ = false;
    bool flushing_ = false;

    // Parameters set through IModuleConfig (with the parameter framework)
    // belong here; nothing reads them yet.
};
