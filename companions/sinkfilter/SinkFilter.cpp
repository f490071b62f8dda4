#include "companions/sinkfilter/SinkFilter.h"

#include <cstring>
#include <new>
#include <vector>

#include "companions/kit/ComServer.h"
#include "companions/kit/MediaType.h"

namespace {

const wchar_t kPinName[] = L"Input";

// A failure code that is never a success, even when the system gave none.
HRESULT LastError() {
    const DWORD error = GetLastError();
    return error ? HRESULT_FROM_WIN32(error) : E_FAIL;
}

HRESULT CopyString(const std::wstring& text, LPWSTR* out) {
    const size_t bytes = (text.size() + 1) * sizeof(wchar_t);
    *out = static_cast<LPWSTR>(CoTaskMemAlloc(bytes));
    if (!*out) return E_OUTOFMEMORY;
    memcpy(*out, text.c_str(), bytes);
    return S_OK;
}

}  // namespace

// ---------------------------------------------------------------------------
// Input pin

CSinkInputPin::~CSinkInputPin() {
    if (connected_) connected_->Release();
    if (allocator_) allocator_->Release();
    kit::FreeMediaTypeFields(mt_);
}

STDMETHODIMP CSinkInputPin::QueryInterface(REFIID riid, void** ppv) {
    if (!ppv) return E_POINTER;
    if (riid == IID_IUnknown || riid == IID_IPin) {
        *ppv = static_cast<IPin*>(this);
    } else if (riid == IID_IMemInputPin) {
        *ppv = static_cast<IMemInputPin*>(this);
    } else {
        *ppv = nullptr;
        return E_NOINTERFACE;
    }
    AddRef();
    return S_OK;
}

STDMETHODIMP_(ULONG) CSinkInputPin::AddRef() { return filter_->AddRef(); }
STDMETHODIMP_(ULONG) CSinkInputPin::Release() { return filter_->Release(); }

STDMETHODIMP CSinkInputPin::Connect(IPin*, const AM_MEDIA_TYPE*) {
    return E_UNEXPECTED;  // an input pin only receives connections
}

STDMETHODIMP CSinkInputPin::ReceiveConnection(IPin* connector, const AM_MEDIA_TYPE* mt) {
    if (!connector || !mt) return E_POINTER;
    std::lock_guard<std::mutex> lock(filter_->filterLock_);
    if (connected_) return VFW_E_ALREADY_CONNECTED;
    if (filter_->state_ != State_Stopped) return VFW_E_NOT_STOPPED;
    PIN_DIRECTION dir;
    if (FAILED(connector->QueryDirection(&dir)) || dir != PINDIR_OUTPUT) return VFW_E_INVALID_DIRECTION;
    // Any byte stream is stored as it comes, so every type is taken.
    HRESULT hr = kit::CopyMediaTypeFields(&mt_, *mt);
    if (FAILED(hr)) return hr;
    connected_ = connector;
    connected_->AddRef();
    return S_OK;
}

STDMETHODIMP CSinkInputPin::Disconnect() {
    std::lock_guard<std::mutex> lock(filter_->filterLock_);
    if (filter_->state_ != State_Stopped) return VFW_E_NOT_STOPPED;
    if (!connected_) return S_FALSE;
    connected_->Release();
    connected_ = nullptr;
    if (allocator_) {
        allocator_->Release();
        allocator_ = nullptr;
    }
    kit::FreeMediaTypeFields(mt_);
    mt_ = AM_MEDIA_TYPE{};
    return S_OK;
}

STDMETHODIMP CSinkInputPin::ConnectedTo(IPin** pin) {
    if (!pin) return E_POINTER;
    std::lock_guard<std::mutex> lock(filter_->filterLock_);
    *pin = connected_;
    if (!connected_) return VFW_E_NOT_CONNECTED;
    connected_->AddRef();
    return S_OK;
}

STDMETHODIMP CSinkInputPin::ConnectionMediaType(AM_MEDIA_TYPE* mt) {
    if (!mt) return E_POINTER;
    std::lock_guard<std::mutex> lock(filter_->filterLock_);
    if (!connected_) {
        *mt = AM_MEDIA_TYPE{};
        return VFW_E_NOT_CONNECTED;
    }
    return kit::CopyMediaTypeFields(mt, mt_);
}

STDMETHODIMP CSinkInputPin::QueryPinInfo(PIN_INFO* info) {
    if (!info) return E_POINTER;
    info->pFilter = static_cast<IBaseFilter*>(filter_);
    info->pFilter->AddRef();
    info->dir = PINDIR_INPUT;
    lstrcpynW(info->achName, kPinName, MAX_PIN_NAME);
    return S_OK;
}

STDMETHODIMP CSinkInputPin::QueryDirection(PIN_DIRECTION* dir) {
    if (!dir) return E_POINTER;
    *dir = PINDIR_INPUT;
    return S_OK;
}

STDMETHODIMP CSinkInputPin::QueryId(LPWSTR* id) {
    if (!id) return E_POINTER;
    return CopyString(kPinName, id);
}

STDMETHODIMP CSinkInputPin::QueryAccept(const AM_MEDIA_TYPE* mt) {
    return mt ? S_OK : E_POINTER;
}

STDMETHODIMP CSinkInputPin::EnumMediaTypes(IEnumMediaTypes** types) {
    if (!types) return E_POINTER;
    // No preferred type: the upstream pin proposes its own.
    *types = new (std::nothrow) kit::MediaTypeEnumerator({});
    return *types ? S_OK : E_OUTOFMEMORY;
}

STDMETHODIMP CSinkInputPin::QueryInternalConnections(IPin**, ULONG*) { return E_NOTIMPL; }

STDMETHODIMP CSinkInputPin::EndOfStream() { return filter_->EndOfStream(); }
STDMETHODIMP CSinkInputPin::BeginFlush() { return filter_->BeginFlush(); }
STDMETHODIMP CSinkInputPin::EndFlush() { return filter_->EndFlush(); }
STDMETHODIMP CSinkInputPin::NewSegment(REFERENCE_TIME, REFERENCE_TIME, double) { return S_OK; }

STDMETHODIMP CSinkInputPin::GetAllocator(IMemAllocator** allocator) {
    if (!allocator) return E_POINTER;
    std::lock_guard<std::mutex> lock(filter_->filterLock_);
    if (!allocator_) {
        HRESULT hr = CoCreateInstance(CLSID_MemoryAllocator, nullptr, CLSCTX_INPROC_SERVER,
                                      IID_IMemAllocator, reinterpret_cast<void**>(&allocator_));
        if (FAILED(hr)) {
            *allocator = nullptr;
            return hr;
        }
    }
    *allocator = allocator_;
    allocator_->AddRef();
    return S_OK;
}

STDMETHODIMP CSinkInputPin::NotifyAllocator(IMemAllocator* allocator, BOOL) {
    if (!allocator) return E_POINTER;
    std::lock_guard<std::mutex> lock(filter_->filterLock_);
    allocator->AddRef();
    if (allocator_) allocator_->Release();
    allocator_ = allocator;
    return S_OK;
}

STDMETHODIMP CSinkInputPin::GetAllocatorRequirements(ALLOCATOR_PROPERTIES*) { return E_NOTIMPL; }

STDMETHODIMP CSinkInputPin::Receive(IMediaSample* sample) {
    if (!sample) return E_POINTER;
    return filter_->WriteSample(sample);
}

STDMETHODIMP CSinkInputPin::ReceiveMultiple(IMediaSample** samples, long count, long* processed) {
    if (!samples || !processed) return E_POINTER;
    *processed = 0;
    HRESULT hr = S_OK;
    while (*processed < count) {
        hr = Receive(samples[*processed]);
        if (hr != S_OK) break;
        ++*processed;
    }
    return hr;
}

STDMETHODIMP CSinkInputPin::ReceiveCanBlock() { return S_FALSE; }

// ---------------------------------------------------------------------------
// Filter

HRESULT CKorvellSink::CreateInstance(IUnknown** out) {
    auto* sink = new (std::nothrow) CKorvellSink();
    *out = sink ? static_cast<IBaseFilter*>(sink) : nullptr;
    return sink ? S_OK : E_OUTOFMEMORY;
}

CKorvellSink::CKorvellSink() : pin_(this) { kit::ModuleAddRef(); }

CKorvellSink::~CKorvellSink() {
    CloseTarget();
    if (clock_) clock_->Release();
    if (hasFileType_) kit::FreeMediaTypeFields(fileType_);
    kit::ModuleRelease();
}

STDMETHODIMP CKorvellSink::QueryInterface(REFIID riid, void** ppv) {
    if (!ppv) return E_POINTER;
    if (riid == IID_IUnknown || riid == IID_IPersist || riid == IID_IMediaFilter ||
        riid == IID_IBaseFilter) {
        *ppv = static_cast<IBaseFilter*>(this);
    } else if (riid == IID_IFileSinkFilter) {
        *ppv = static_cast<IFileSinkFilter*>(this);
    } else if (riid == IID_IAMFilterMiscFlags) {
        *ppv = static_cast<IAMFilterMiscFlags*>(this);
    } else {
        // IModuleConfig is answered here once the parameter framework exists.
        *ppv = nullptr;
        return E_NOINTERFACE;
    }
    AddRef();
    return S_OK;
}

STDMETHODIMP_(ULONG) CKorvellSink::AddRef() { return ++refs_; }

STDMETHODIMP_(ULONG) CKorvellSink::Release() {
    const long left = --refs_;
    if (left == 0) delete this;
    return left;
}

STDMETHODIMP CKorvellSink::GetClassID(CLSID* clsid) {
    if (!clsid) return E_POINTER;
    *clsid = CLSID_KorvellSinkFilter;
    return S_OK;
}

STDMETHODIMP CKorvellSink::Stop() {
    std::lock_guard<std::mutex> lock(filterLock_);
    if (state_ == State_Stopped) return S_OK;
    state_ = State_Stopped;
    HRESULT closed;
    bool report;
    {
        // Waits for a Receive in progress; nothing is written after this.
        std::lock_guard<std::mutex> stream(streamLock_);
        closed = CloseTarget();
        report = FAILED(closed) && SUCCEEDED(failure_);
        if (report) failure_ = closed;
    }
    if (report) Notify(EC_ERRORABORT, closed, 0);
    return S_OK;
}

STDMETHODIMP CKorvellSink::Pause() {
    std::lock_guard<std::mutex> lock(filterLock_);
    if (state_ == State_Stopped) {
        HRESULT opened = S_OK;
        {
            std::lock_guard<std::mutex> stream(streamLock_);
            failure_ = S_OK;
            endOfStream_ = false;
            flushing_ = false;
            if (pin_.IsConnected()) {
                opened = OpenTarget();
                failure_ = opened;
            }
        }
        // The state change itself succeeds: the graph learns of the failure
        // from the event, and every sample is refused with it.
        if (FAILED(opened)) Notify(EC_ERRORABORT, opened, 0);
    }
    state_ = State_Paused;
    return S_OK;
}

STDMETHODIMP CKorvellSink::Run(REFERENCE_TIME) {
    if (state_ == State_Stopped) {
        HRESULT hr = Pause();
        if (FAILED(hr)) return hr;
    }
    std::lock_guard<std::mutex> lock(filterLock_);
    state_ = State_Running;
    return S_OK;
}

STDMETHODIMP CKorvellSink::GetState(DWORD, FILTER_STATE* state) {
    if (!state) return E_POINTER;
    *state = state_;
    return S_OK;
}

STDMETHODIMP CKorvellSink::SetSyncSource(IReferenceClock* clock) {
    std::lock_guard<std::mutex> lock(filterLock_);
    if (clock) clock->AddRef();
    if (clock_) clock_->Release();
    clock_ = clock;
    return S_OK;
}

STDMETHODIMP CKorvellSink::GetSyncSource(IReferenceClock** clock) {
    if (!clock) return E_POINTER;
    std::lock_guard<std::mutex> lock(filterLock_);
    *clock = clock_;
    if (clock_) clock_->AddRef();
    return S_OK;
}

STDMETHODIMP CKorvellSink::EnumPins(IEnumPins** pins) {
    if (!pins) return E_POINTER;
    *pins = new (std::nothrow)
        kit::PinEnumerator(static_cast<IBaseFilter*>(this), {static_cast<IPin*>(&pin_)});
    return *pins ? S_OK : E_OUTOFMEMORY;
}

STDMETHODIMP CKorvellSink::FindPin(LPCWSTR id, IPin** pin) {
    if (!id || !pin) return E_POINTER;
    if (wcscmp(id, kPinName) != 0) {
        *pin = nullptr;
        return VFW_E_NOT_FOUND;
    }
    *pin = &pin_;
    pin_.AddRef();
    return S_OK;
}

STDMETHODIMP CKorvellSink::QueryFilterInfo(FILTER_INFO* info) {
    if (!info) return E_POINTER;
    std::lock_guard<std::mutex> lock(filterLock_);
    lstrcpynW(info->achName, name_.c_str(), MAX_FILTER_NAME);
    info->pGraph = graph_;
    if (graph_) graph_->AddRef();
    return S_OK;
}

STDMETHODIMP CKorvellSink::JoinFilterGraph(IFilterGraph* graph, LPCWSTR name) {
    std::lock_guard<std::mutex> lock(filterLock_);
    graph_ = graph;
    eventSink_ = nullptr;
    if (graph && SUCCEEDED(graph->QueryInterface(IID_IMediaEventSink,
                                                 reinterpret_cast<void**>(&eventSink_)))) {
        // Kept without a reference: holding one would keep the graph alive.
        eventSink_->Release();
    }
    name_ = name ? name : L"";
    return S_OK;
}

STDMETHODIMP CKorvellSink::QueryVendorInfo(LPWSTR*) { return E_NOTIMPL; }

STDMETHODIMP CKorvellSink::SetFileName(LPCOLESTR fileName, const AM_MEDIA_TYPE* mt) {
    if (!fileName) return E_POINTER;
    if (!*fileName) return E_INVALIDARG;
    std::lock_guard<std::mutex> lock(filterLock_);
    if (state_ != State_Stopped) return VFW_E_NOT_STOPPED;
    AM_MEDIA_TYPE copy{};
    if (mt) {
        HRESULT hr = kit::CopyMediaTypeFields(&copy, *mt);
        if (FAILED(hr)) return hr;
    }
    if (hasFileType_) kit::FreeMediaTypeFields(fileType_);
    fileType_ = copy;
    hasFileType_ = mt != nullptr;
    fileName_ = fileName;
    return S_OK;
}

STDMETHODIMP CKorvellSink::GetCurFile(LPOLESTR* fileName, AM_MEDIA_TYPE* mt) {
    if (!fileName) return E_POINTER;
    std::lock_guard<std::mutex> lock(filterLock_);
    *fileName = nullptr;
    if (fileName_.empty()) return E_FAIL;
    HRESULT hr = S_OK;
    if (mt) {
        if (hasFileType_) {
            hr = kit::CopyMediaTypeFields(mt, fileType_);
        } else {
            *mt = AM_MEDIA_TYPE{};
        }
        if (FAILED(hr)) return hr;
    }
    hr = CopyString(fileName_, fileName);
    if (FAILED(hr) && mt && hasFileType_) kit::FreeMediaTypeFields(*mt);
    return hr;
}

STDMETHODIMP_(ULONG) CKorvellSink::GetMiscFlags() { return AM_FILTER_MISC_FLAGS_IS_RENDERER; }

HRESULT CKorvellSink::WriteSample(IMediaSample* sample) {
    HRESULT hr = S_OK;
    {
        std::lock_guard<std::mutex> stream(streamLock_);
        if (state_ == State_Stopped) return VFW_E_WRONG_STATE;
        if (FAILED(failure_)) return failure_;
        if (flushing_) return S_FALSE;
        if (endOfStream_) return VFW_E_SAMPLE_REJECTED_EOS;
        if (file_ == INVALID_HANDLE_VALUE) return VFW_E_WRONG_STATE;
        BYTE* data = nullptr;
        hr = sample->GetPointer(&data);
        const long length = sample->GetActualDataLength();
        if (FAILED(hr)) return hr;
        if (length < 0) return E_INVALIDARG;
        DWORD done = 0;
        while (done < static_cast<DWORD>(length)) {
            DWORD written = 0;
            if (!WriteFile(file_, data + done, static_cast<DWORD>(length) - done, &written, nullptr)) {
                hr = LastError();
                break;
            }
            if (written == 0) {
                hr = HRESULT_FROM_WIN32(ERROR_DISK_FULL);
                break;
            }
            done += written;
        }
        if (SUCCEEDED(hr)) return S_OK;
        failure_ = hr;
        CloseTarget();
    }
    // Outside the stream lock: the graph may stop us from within Notify.
    Notify(EC_ERRORABORT, hr, 0);
    return hr;
}

HRESULT CKorvellSink::EndOfStream() {
    HRESULT hr;
    {
        std::lock_guard<std::mutex> stream(streamLock_);
        if (state_ == State_Stopped) return VFW_E_WRONG_STATE;
        if (flushing_) return S_FALSE;
        if (FAILED(failure_)) return failure_;  // the error was reported already
        if (endOfStream_) return S_OK;
        endOfStream_ = true;
        hr = CloseTarget();
        if (FAILED(hr)) failure_ = hr;
    }
    if (FAILED(hr)) {
        Notify(EC_ERRORABORT, hr, 0);
        return hr;
    }
    Notify(EC_COMPLETE, S_OK, reinterpret_cast<LONG_PTR>(static_cast<IBaseFilter*>(this)));
    return S_OK;
}

HRESULT CKorvellSink::BeginFlush() {
    std::lock_guard<std::mutex> stream(streamLock_);
    flushing_ = true;
    return S_OK;
}

HRESULT CKorvellSink::EndFlush() {
    std::lock_guard<std::mutex> stream(streamLock_);
    flushing_ = false;
    return S_OK;
}

HRESULT CKorvellSink::OpenTarget() {
    CloseTarget();
    if (fileName_.empty()) return E_UNEXPECTED;
    // Readers may look at the growing file (the recorder shows its size).
    file_ = CreateFileW(fileName_.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_ALWAYS,
                        FILE_ATTRIBUTE_NORMAL | FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
    return file_ == INVALID_HANDLE_VALUE ? LastError() : S_OK;
}

HRESULT CKorvellSink::CloseTarget() {
    if (file_ == INVALID_HANDLE_VALUE) return S_OK;
    HRESULT hr = FlushFileBuffers(file_) ? S_OK : LastError();
    if (!CloseHandle(file_) && SUCCEEDED(hr)) hr = LastError();
    file_ = INVALID_HANDLE_VALUE;
    return hr;
}

void CKorvellSink::Notify(long code, LONG_PTR param1, LONG_PTR param2) {
    IMediaEventSink* sink = eventSink_;
    if (sink) sink->Notify(code, param1, param2);
}
