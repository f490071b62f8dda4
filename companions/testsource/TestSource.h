#pragma once

// COM objects are deleted through their own class, never through an
// interface pointer.
#pragma GCC diagnostic ignored "-Wnon-virtual-dtor"

#include <atomic>
#include <mutex>
#include <string>
#include <thread>

#include "companions/testsource/TestSourceControl.h"

#include <cguid.h>

class CTestFileSource;

class CTestOutputPin : public IPin {
public:
    explicit CTestOutputPin(CTestFileSource* filter) : filter_(filter) {}
    virtual ~CTestOutputPin();

    STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override;
    STDMETHODIMP_(ULONG) AddRef() override;
    STDMETHODIMP_(ULONG) Release() override;

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

private:
    friend class CTestFileSource;
    void MakeType(AM_MEDIA_TYPE* mt, const GUID& subtype) const;

    CTestFileSource* filter_;
    // Guarded by the filter lock.
    IPin* connected_ = nullptr;
    IMemInputPin* input_ = nullptr;
    IMemAllocator* allocator_ = nullptr;
    GUID subtype_ = GUID_NULL;
};

class CTestFileSource : public IBaseFilter, public IFileSourceFilter, public ITestSourceControl {
public:
    static HRESULT CreateInstance(IUnknown** out);

    STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override;
    STDMETHODIMP_(ULONG) AddRef() override;
    STDMETHODIMP_(ULONG) Release() override;

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

    STDMETHODIMP Load(LPCOLESTR fileName, const AM_MEDIA_TYPE* mt) override;
    STDMETHODIMP GetCurFile(LPOLESTR* fileName, AM_MEDIA_TYPE* mt) override;

    HRESULT STDMETHODCALLTYPE SetPacing(ULONG sampleBytes, ULONG delayMs) override;
    HRESULT STDMETHODCALLTYPE GetDelivered(ULONG* samples) override;

private:
    friend class CTestOutputPin;

    CTestFileSource();
    virtual ~CTestFileSource();

    void StreamLoop(HANDLE file, IMemAllocator* allocator, IMemInputPin* input, IPin* peer);

    std::atomic<long> refs_{1};
    std::mutex lock_;
    std::atomic<FILTER_STATE> state_{State_Stopped};
    IFilterGraph* graph_ = nullptr;  // not referenced: the graph owns us
    IReferenceClock* clock_ = nullptr;
    std::wstring name_;
    std::wstring fileName_;
    GUID loadedSubtype_ = GUID_NULL;
    ULONG sampleBytes_ = kTestSourceDefaultSampleBytes;
    std::atomic<ULONG> delayMs_{0};
    std::atomic<ULONG> delivered_{0};
    HANDLE stopEvent_ = nullptr;
    std::thread thread_;
    CTestOutputPin pin_;
};
