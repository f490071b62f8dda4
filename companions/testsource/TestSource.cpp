#include "companions/testsource/TestSource.h"

#include <cstring>
#include <new>
#include <vector>

#include "companions/kit/ComServer.h"
#include "companions/kit/MediaType.h"

namespace {

const wchar_t kPinName[] = L"Output";
constexpr long kBufferCount = 4;

HRESULT CopyString(const std::wstring& text, LPWSTR* out) {
    const size_t bytes = (text.size() + 1) * sizeof(wchar_t);
    *out = static_cast<LPWSTR>(CoTaskMemAlloc(bytes));
    if (!*out) return E_OUTOFMEMORY;
    memcpy(*out, text.c_str(), bytes);
    return S_OK;
}

HRESULT LastError() {
    const DWORD error = GetLastError();
    return error ? HRESULT_FROM_WIN32(error) : E_FAIL;
}

}  // namespace

// ---------------------------------------------------------------------------
// Output pin

CTestOutputPin::~CTestOutputPin() {
    if (allocator_) allocator_->Release();
    if (input_) input_->Release();
    if (connected_) connected_->Release();
}

STDMETHODIMP CTestOutputPin::QueryInterface(REFIID riid, void** ppv) {
    if (!ppv) return E_POINTER;
    if (riid == IID_IUnknown || riid == IID_IPin) {
        *ppv = static_cast<IPin*>(this);
        AddRef();
        return S_OK;
    }
    *ppv = nullptr;
    return E_NOINTERFACE;
}

STDMETHODIMP_(ULONG) CTestOutputPin::AddRef() { return filter_->AddRef(); }
STDMETHODIMP_(ULONG) CTestOutputPin::Release() { return filter_->Release(); }

void CTestOutputPin::MakeType(AM_MEDIA_TYPE* mt, const GUID& subtype) const {
    *mt = AM_MEDIA_TYPE{};
    mt->majortype = MEDIATYPE_Stream;
    mt->subtype = subtype;
    mt->bFixedSizeSamples = TRUE;
    mt->bTemporalCompression = FALSE;
    mt->lSampleSize = filter_->sampleBytes_;
    mt->formattype = FORMAT_None;
}

STDMETHODIMP CTestOutputPin::Connect(IPin* receivePin, const AM_MEDIA_TYPE* proposed) {
    if (!receivePin) return E_POINTER;
    std::lock_guard<std::mutex> lock(filter_->lock_);
    if (connected_) return VFW_E_ALREADY_CONNECTED;
    if (filter_->state_ != State_Stopped) return VFW_E_NOT_STOPPED;
    GUID subtype = filter_->loadedSubtype_;
    if (proposed) {
        if (proposed->majortype != GUID_NULL && proposed->majortype != MEDIATYPE_Stream)
            return VFW_E_TYPE_NOT_ACCEPTED;
        if (proposed->subtype != GUID_NULL) subtype = proposed->subtype;
    }
    AM_MEDIA_TYPE mt;
    MakeType(&mt, subtype);
    HRESULT hr = receivePin->ReceiveConnection(this, &mt);
    if (FAILED(hr)) return hr;

    IMemInputPin* input = nullptr;
    IMemAllocator* allocator = nullptr;
    hr = receivePin->QueryInterface(IID_IMemInputPin, reinterpret_cast<void**>(&input));
    if (SUCCEEDED(hr) && FAILED(input->GetAllocator(&allocator))) {
        hr = CoCreateInstance(CLSID_MemoryAllocator, nullptr, CLSCTX_INPROC_SERVER, IID_IMemAllocator,
                              reinterpret_cast<void**>(&allocator));
    }
    if (SUCCEEDED(hr)) {
        ALLOCATOR_PROPERTIES wanted{};
        input->GetAllocatorRequirements(&wanted);
        wanted.cBuffers = wanted.cBuffers > kBufferCount ? wanted.cBuffers : kBufferCount;
        wanted.cbBuffer = static_cast<long>(filter_->sampleBytes_);
        if (wanted.cbAlign <= 0) wanted.cbAlign = 1;
        ALLOCATOR_PROPERTIES actual{};
        hr = allocator->SetProperties(&wanted, &actual);
        if (SUCCEEDED(hr) && actual.cbBuffer < wanted.cbBuffer) hr = VFW_E_SIZENOTSET;
    }
    if (SUCCEEDED(hr)) hr = input->NotifyAllocator(allocator, FALSE);
    if (FAILED(hr)) {
        if (allocator) allocator->Release();
        if (input) input->Release();
        receivePin->Disconnect();
        return hr;
    }
    connected_ = receivePin;
    connected_->AddRef();
    input_ = input;
    allocator_ = allocator;
    subtype_ = subtype;
    return S_OK;
}

STDMETHODIMP CTestOutputPin::ReceiveConnection(IPin*, const AM_MEDIA_TYPE*) {
    return E_UNEXPECTED;  // an output pin connects, it is not connected to
}

STDMETHODIMP CTestOutputPin::Disconnect() {
    std::lock_guard<std::mutex> lock(filter_->lock_);
    if (filter_->state_ != State_Stopped) return VFW_E_NOT_STOPPED;
    if (!connected_) return S_FALSE;
    allocator_->Release();
    allocator_ = nullptr;
    input_->Release();
    input_ = nullptr;
    connected_->Release();
    connected_ = nullptr;
    return S_OK;
}

STDMETHODIMP CTestOutputPin::ConnectedTo(IPin** pin) {
    if (!pin) return E_POINTER;
    std::lock_guard<std::mutex> lock(filter_->lock_);
    *pin = connected_;
    if (!connected_) return VFW_E_NOT_CONNECTED;
    connected_->AddRef();
    return S_OK;
}

STDMETHODIMP CTestOutputPin::ConnectionMediaType(AM_MEDIA_TYPE* mt) {
    if (!mt) return E_POINTER;
    std::lock_guard<std::mutex> lock(filter_->lock_);
    if (!connected_) {
        *mt = AM_MEDIA_TYPE{};
        return VFW_E_NOT_CONNECTED;
    }
    MakeType(mt, subtype_);
    return S_OK;
}

STDMETHODIMP CTestOutputPin::QueryPinInfo(PIN_INFO* info) {
    if (!info) return E_POINTER;
    info->pFilter = static_cast<IBaseFilter*>(filter_);
    info->pFilter->AddRef();
    info->dir = PINDIR_OUTPUT;
    lstrcpynW(info->achName, kPinName, MAX_PIN_NAME);
    return S_OK;
}

STDMETHODIMP CTestOutputPin::QueryDirection(PIN_DIRECTION* dir) {
    if (!dir) return E_POINTER;
    *dir = PINDIR_OUTPUT;
    return S_OK;
}

STDMETHODIMP CTestOutputPin::QueryId(LPWSTR* id) {
    if (!id) return E_POINTER;
    return CopyString(kPinName, id);
}

STDMETHODIMP CTestOutputPin::QueryAccept(const AM_MEDIA_TYPE* mt) {
    if (!mt) return E_POINTER;
    return mt->majortype == MEDIATYPE_Stream ? S_OK : S_FALSE;
}

STDMETHODIMP CTestOutputPin::EnumMediaTypes(IEnumMediaTypes** types) {
    if (!types) return E_POINTER;
    AM_MEDIA_TYPE mt;
    MakeType(&mt, filter_->loadedSubtype_);
    *types = new (std::nothrow) kit::MediaTypeEnumerator({mt});
    return *types ? S_OK : E_OUTOFMEMORY;
}

STDMETHODIMP CTestOutputPin::QueryInternalConnections(IPin**, ULONG*) { return E_NOTIMPL; }
STDMETHODIMP CTestOutputPin::EndOfStream() { return E_UNEXPECTED; }
STDMETHODIMP CTestOutputPin::BeginFlush() { return E_UNEXPECTED; }
STDMETHODIMP CTestOutputPin::EndFlush() { return E_UNEXPECTED; }
STDMETHODIMP CTestOutputPin::NewSegment(REFERENCE_TIME, REFERENCE_TIME, double) { return S_OK; }

// ---------------------------------------------------------------------------
// Filter

HRESULT CTestFileSource::CreateInstance(IUnknown** out) {
    auto* source = new (std::nothrow) CTestFileSource();
    *out = source ? static_cast<IBaseFilter*>(source) : nullptr;
    return source ? S_OK : E_OUTOFMEMORY;
}

CTestFileSource::CTestFileSource() : pin_(this) {
    stopEvent_ = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    kit::ModuleAddRef();
}

CTestFileSource::~CTestFileSource() {
    Stop();
    if (clock_) clock_->Release();
    if (stopEvent_) CloseHandle(stopEvent_);
    kit::ModuleRelease();
}

STDMETHODIMP CTestFileSource::QueryInterface(REFIID riid, void** ppv) {
    if (!ppv) return E_POINTER;
    if (riid == IID_IUnknown || riid == IID_IPersist || riid == IID_IMediaFilter ||
        riid == IID_IBaseFilter) {
        *ppv = static_cast<IBaseFilter*>(this);
    } else if (riid == IID_IFileSourceFilter) {
        *ppv = static_cast<IFileSourceFilter*>(this);
    } else if (riid == IID_ITestSourceControl) {
        *ppv = static_cast<ITestSourceControl*>(this);
    } else {
        *ppv = nullptr;
        return E_NOINTERFACE;
    }
    AddRef();
    return S_OK;
}

STDMETHODIMP_(ULONG) CTestFileSource::AddRef() { return ++refs_; }

STDMETHODIMP_(ULONG) CTestFileSource::Release() {
    const long left = --refs_;
    if (left == 0) delete this;
    return left;
}

STDMETHODIMP CTestFileSource::GetClassID(CLSID* clsid) {
    if (!clsid) return E_POINTER;
    *clsid = CLSID_KorvellTestFileSource;
    return S_OK;
}

STDMETHODIMP CTestFileSource::Stop() {
    std::lock_guard<std::mutex> lock(lock_);
    if (state_ == State_Stopped) return S_OK;
    state_ = State_Stopped;
    // Decommit releases a thread waiting in GetBuffer; the event one that
    // sleeps between samples.
    SetEvent(stopEvent_);
    if (pin_.allocator_) pin_.allocator_->Decommit();
    if (thread_.joinable()) thread_.join();
    return S_OK;
}

STDMETHODIMP CTestFileSource::Pause() {
    std::lock_guard<std::mutex> lock(lock_);
    if (state_ == State_Stopped && pin_.connected_) {
        if (fileName_.empty()) return E_UNEXPECTED;
        HANDLE file = CreateFileW(fileName_.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                  OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
        if (file == INVALID_HANDLE_VALUE) return LastError();
        HRESULT hr = pin_.allocator_->Commit();
        if (FAILED(hr)) {
            CloseHandle(file);
            return hr;
        }
        ResetEvent(stopEvent_);
        delivered_ = 0;
        IMemAllocator* allocator = pin_.allocator_;
        IMemInputPin* input = pin_.input_;
        IPin* peer = pin_.connected_;
        allocator->AddRef();
        input->AddRef();
        peer->AddRef();
        thread_ = std::thread(&CTestFileSource::StreamLoop, this, file, allocator, input, peer);
    }
    state_ = State_Paused;
    return S_OK;
}

STDMETHODIMP CTestFileSource::Run(REFERENCE_TIME) {
    if (state_ == State_Stopped) {
        HRESULT hr = Pause();
        if (FAILED(hr)) return hr;
    }
    state_ = State_Running;
    return S_OK;
}

STDMETHODIMP CTestFileSource::GetState(DWORD, FILTER_STATE* state) {
    if (!state) return E_POINTER;
    *state = state_;
    return S_OK;
}

STDMETHODIMP CTestFileSource::SetSyncSource(IReferenceClock* clock) {
    std::lock_guard<std::mutex> lock(lock_);
    if (clock) clock->AddRef();
    if (clock_) clock_->Release();
    clock_ = clock;
    return S_OK;
}

STDMETHODIMP CTestFileSource::GetSyncSource(IReferenceClock** clock) {
    if (!clock) return E_POINTER;
    std::lock_guard<std::mutex> lock(lock_);
    *clock = clock_;
    if (clock_) clock_->AddRef();
    return S_OK;
}

STDMETHODIMP CTestFileSource::EnumPins(IEnumPins** pins) {
    if (!pins) return E_POINTER;
    *pins = new (std::nothrow)
        kit::PinEnumerator(static_cast<IBaseFilter*>(this), {static_cast<IPin*>(&pin_)});
    return *pins ? S_OK : E_OUTOFMEMORY;
}

STDMETHODIMP CTestFileSource::FindPin(LPCWSTR id, IPin** pin) {
    if (!id || !pin) return E_POINTER;
    if (wcscmp(id, kPinName) != 0) {
        *pin = nullptr;
        return VFW_E_NOT_FOUND;
    }
    *pin = &pin_;
    pin_.AddRef();
    return S_OK;
}

STDMETHODIMP CTestFileSource::QueryFilterInfo(FILTER_INFO* info) {
    if (!info) return E_POINTER;
    std::lock_guard<std::mutex> lock(lock_);
    lstrcpynW(info->achName, name_.c_str(), MAX_FILTER_NAME);
    info->pGraph = graph_;
    if (graph_) graph_->AddRef();
    return S_OK;
}

STDMETHODIMP CTestFileSource::JoinFilterGraph(IFilterGraph* graph, LPCWSTR name) {
    std::lock_guard<std::mutex> lock(lock_);
    graph_ = graph;
    name_ = name ? name : L"";
    return S_OK;
}

STDMETHODIMP CTestFileSource::QueryVendorInfo(LPWSTR*) { return E_NOTIMPL; }

STDMETHODIMP CTestFileSource::Load(LPCOLESTR fileName, const AM_MEDIA_TYPE* mt) {
    if (!fileName) return E_POINTER;
    std::lock_guard<std::mutex> lock(lock_);
    if (state_ != State_Stopped) return VFW_E_NOT_STOPPED;
    if (GetFileAttributesW(fileName) == INVALID_FILE_ATTRIBUTES) return LastError();
    fileName_ = fileName;
    loadedSubtype_ = mt ? mt->subtype : GUID_NULL;
    return S_OK;
}

STDMETHODIMP CTestFileSource::GetCurFile(LPOLESTR* fileName, AM_MEDIA_TYPE* mt) {
    if (!fileName) return E_POINTER;
    std::lock_guard<std::mutex> lock(lock_);
    *fileName = nullptr;
    if (fileName_.empty()) return E_FAIL;
    if (mt) pin_.MakeType(mt, loadedSubtype_);
    return CopyString(fileName_, fileName);
}

HRESULT STDMETHODCALLTYPE CTestFileSource::SetPacing(ULONG sampleBytes, ULONG delayMs) {
    std::lock_guard<std::mutex> lock(lock_);
    const ULONG bytes = sampleBytes ? sampleBytes : kTestSourceDefaultSampleBytes;
    if (bytes != sampleBytes_) {
        if (pin_.connected_) return VFW_E_ALREADY_CONNECTED;
        sampleBytes_ = bytes;
    }
    delayMs_ = delayMs;
    return S_OK;
}

HRESULT STDMETHODCALLTYPE CTestFileSource::GetDelivered(ULONG* samples) {
    if (!samples) return E_POINTER;
    *samples = delivered_;
    return S_OK;
}

// The streaming thread: one sample per read until the end of the file,
// then end of stream; a refused sample or a stop ends it early.
void CTestFileSource::StreamLoop(HANDLE file, IMemAllocator* allocator, IMemInputPin* input,
                                 IPin* peer) {
    for (;;) {
        if (WaitForSingleObject(stopEvent_, 0) == WAIT_OBJECT_0) break;
        IMediaSample* sample = nullptr;
        if (FAILED(allocator->GetBuffer(&sample, nullptr, nullptr, 0))) break;
        BYTE* data = nullptr;
        DWORD got = 0;
        const long room = sample->GetSize();
        if (FAILED(sample->GetPointer(&data)) ||
            !ReadFile(file, data, static_cast<DWORD>(room), &got, nullptr)) {
            sample->Release();
            break;
        }
        if (got == 0) {
            sample->Release();
            peer->EndOfStream();
            break;
        }
        sample->SetActualDataLength(static_cast<long>(got));
        sample->SetSyncPoint(TRUE);
        const HRESULT hr = input->Receive(sample);
        sample->Release();
        if (hr != S_OK) break;
        ++delivered_;
        const ULONG delay = delayMs_;
        if (delay && WaitForSingleObject(stopEvent_, delay) == WAIT_OBJECT_0) break;
    }
    CloseHandle(file);
    peer->Release();
    input->Release();
    allocator->Release();
}
