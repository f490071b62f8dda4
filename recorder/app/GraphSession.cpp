#include "recorder/app/GraphSession.h"

#include <utility>
#include <vector>

#include <oleauto.h>

#include <cstdio>
#include <cwchar>

#include "codec/paramkit/ParamInterfaces.h"
#include "platform/mfc/Pump.h"
#include "recorder/app/Program.h"
#include "recorder/app/SettingsStore.h"
#include "recorder/shared/DeviceLookup.h"
#include "recorder/shared/ModuleConfigCalls.h"
#include "recorder/shared/WmvSetup.h"
#include "recorder/core/WmvProfile.h"

namespace zelbo {

namespace {

using capture::Commit;
using capture::ConfigOf;
using capture::GetInt;
using capture::SetAndCommit;
using capture::SetInt;
using recorder::GraphFilter;

// The session whose Windows Media set-up is under way: its messages go
// where the session's own go.
GraphSession* g_wmvSession = nullptr;

void ShowWmvMessage(const std::string& text) {
    if (g_wmvSession)
        g_wmvSession->ShowMessage(text);
    else
        zelbo::ShowMessage(text);
}

class WmvMessages {
public:
    explicit WmvMessages(GraphSession* session) {
        g_wmvSession = session;
        capture::SetWmvMessageSink(ShowWmvMessage);
    }
    ~WmvMessages() { g_wmvSession = nullptr; }
    WmvMessages(const WmvMessages&) = delete;
    WmvMessages& operator=(const WmvMessages&) = delete;
};

void TraceFailure(const char* format, HRESULT hr) {
    char text[1023];
    std::snprintf(text, sizeof text, format, static_cast<unsigned>(hr));
    ::OutputDebugStringA(text);
}

REFCLSID CategoryOf(recorder::FilterCategory category) {
    switch (category) {
        case recorder::FilterCategory::VideoInput:
            return CLSID_VideoInputDeviceCategory;
        case recorder::FilterCategory::AudioInput:
            return CLSID_AudioInputDeviceCategory;
        case recorder::FilterCategory::Legacy:
            break;
    }
    return CLSID_LegacyAmFilterCategory;
}

// The offered values of a parameter with their names read as numbers.
bool OfferedValues(IModuleConfig* config, const GUID& id, std::vector<int>& values, std::vector<int>& numbers) {
    com::ComPtr<IParamConfig> param;
    if (FAILED(config->GetParamConfig(&id, param.Put())) || !param) return false;
    long count = 0;
    if (FAILED(param->EnumValidValues(&count, nullptr, nullptr)) || count <= 0) return false;
    std::vector<VARIANT> raw(static_cast<std::size_t>(count));
    std::vector<BSTR> names(static_cast<std::size_t>(count), nullptr);
    for (VARIANT& v : raw) ::VariantInit(&v);
    bool ok = SUCCEEDED(param->EnumValidValues(&count, raw.data(), names.data()));
    for (std::size_t i = 0; ok && i < raw.size(); ++i) {
        ok = SUCCEEDED(::VariantChangeType(&raw[i], &raw[i], 0, VT_I4)) && names[i];
        if (!ok) break;
        values.push_back(raw[i].lVal);
        numbers.push_back(static_cast<int>(std::wcstol(names[i], nullptr, 10)));
    }
    for (VARIANT& v : raw) ::VariantClear(&v);
    for (BSTR name : names) ::SysFreeString(name);
    return ok && !values.empty();
}

}  // namespace

bool ListAudioSourcePins(IBaseFilter* filter, PinNames& names) {
    names = PinNames{};
    com::ComPtr<IEnumPins> pins;
    if (!filter || FAILED(filter->EnumPins(pins.Put())) || !pins) return false;
    com::ComPtr<IPin> pin;
    while (pins->Next(1, pin.Put(), nullptr) == S_OK) {
        PIN_INFO info{};
        if (FAILED(pin->QueryPinInfo(&info))) continue;
        if (info.pFilter) info.pFilter->Release();
        std::vector<std::string>& list = info.dir == PINDIR_INPUT ? names.inputs : names.outputs;
        const std::size_t limit = info.dir == PINDIR_INPUT ? 10 : 12;
        if (list.size() < limit) list.push_back(Narrow(info.achName).substr(0, 255));
    }
    return true;
}

GraphSession::GraphSession() = default;

GraphSession::~GraphSession() {
    ReleaseGraphFilters();
    ReleaseGraph();
}

HRESULT GraphSession::CreateFilterGraph(HWND notifyWindow) {
    HRESULT hr =
        ::CoCreateInstance(CLSID_FilterGraph, nullptr, CLSCTX_INPROC_SERVER, IID_IGraphBuilder, graph_.PutVoid());
    if (FAILED(hr) || !graph_) return FAILED(hr) ? hr : E_NOINTERFACE;
    hr = ::CoCreateInstance(CLSID_CaptureGraphBuilder2, nullptr, CLSCTX_INPROC_SERVER, IID_ICaptureGraphBuilder2,
                            builder_.PutVoid());
    if (FAILED(hr) || !builder_) return FAILED(hr) ? hr : E_NOINTERFACE;
    hr = builder_->SetFiltergraph(graph_.Get());
    if (FAILED(hr)) return hr;
    struct Query {
        REFIID iid;
        void** slot;
        const char* trace;
    } queries[] = {
        {IID_IMediaControl, control_.PutVoid(),
         "FAILED(0x%x) hr = m_pGB->QueryInterface(IID_IMediaControl, (void **)&m_pMC)\n"},
        {IID_IMediaEventEx, events_.PutVoid(),
         "FAILED(0x%x) hr = m_pGB->QueryInterface(IID_IMediaEventEx, (void **)&m_pME)\n"},
        {IID_IVideoWindow, videoWindow_.PutVoid(),
         "FAILED(0x%x) hr = m_pGB->QueryInterface(IID_IVideoWindow, (void **)&pVW)\n"},
        {IID_IBasicVideo, basicVideo_.PutVoid(),
         "FAILED(0x%x) hr = m_pGB->QueryInterface(IID_IBasicVideo, (void **)&pBV)\n"},
        {IID_IMediaPosition, position_.PutVoid(),
         "FAILED(0x%x) hr = m_pGB->QueryInterface(IID_IMediaPosition, (void **)&pMP)\n"},
        {IID_IMediaSeeking, seeking_.PutVoid(), nullptr},
    };
    for (const Query& q : queries) {
        hr = graph_->QueryInterface(q.iid, q.slot);
        if (FAILED(hr)) {
            if (q.trace) TraceFailure(q.trace, hr);
            return hr;
        }
    }
    if (notifyWindow) {
        hr = events_->SetNotifyWindow(reinterpret_cast<OAHWND>(notifyWindow), kGraphEventMessage, 0);
        if (FAILED(hr)) return hr;
    }
    events_->CancelDefaultHandling(EC_REPAINT);
    completed_ = false;
    failure_ = Failure{};
    return S_OK;
}

void GraphSession::ReleaseGraph() {
    if (events_) events_->SetNotifyWindow(0, 0, 0);
    seeking_ = nullptr;
    position_ = nullptr;
    basicVideo_ = nullptr;
    videoWindow_ = nullptr;
    events_ = nullptr;
    control_ = nullptr;
    builder_ = nullptr;
    graph_ = nullptr;
}

void GraphSession::Drop(GraphFilter filter) {
    com::ComPtr<IBaseFilter>& slot = filters_[static_cast<int>(filter)];
    if (!slot) return;
    if (graph_) graph_->RemoveFilter(slot.Get());
    slot = nullptr;
}

void GraphSession::ReleaseGraphFilters() {
    sink_ = nullptr;
    // The Windows Media writer and profile belong to the recording.
    capture::ReleaseWmWriter();
    capture::ReleaseHeldProfile();
    // Every filter of every graph, the multiplexer and audio encoder included.
    for (int i = 0; i < static_cast<int>(GraphFilter::Count); ++i) Drop(static_cast<GraphFilter>(i));
    videoWindow_ = nullptr;
    basicVideo_ = nullptr;
}

HRESULT GraphSession::ResetGraph(HWND notifyWindow) {
    ReleaseGraph();
    return CreateFilterGraph(notifyWindow);
}

namespace {

// The connected output pins of a capture source that can end their stream
// on request; false when the filter has a connected pin that cannot.
bool CollectStreamControls(IBaseFilter* filter, std::vector<com::ComPtr<IAMStreamControl>>& controls) {
    if (!filter) return true;
    com::ComPtr<IEnumPins> pins;
    if (FAILED(filter->EnumPins(pins.Put())) || !pins) return false;
    bool all = true;
    com::ComPtr<IPin> pin;
    while (pins->Next(1, pin.Put(), nullptr) == S_OK) {
        PIN_DIRECTION dir = PINDIR_INPUT;
        com::ComPtr<IPin> peer;
        if (FAILED(pin->QueryDirection(&dir)) || dir != PINDIR_OUTPUT || FAILED(pin->ConnectedTo(peer.Put()))) continue;
        com::ComPtr<IAMStreamControl> control;
        if (SUCCEEDED(control.QueryFrom(pin.Get(), IID_IAMStreamControl)))
            controls.push_back(control);
        else
            all = false;
    }
    return all;
}

const unsigned kEndOfStreamWaitMs = 3000;

struct EndWait {
    GraphSession* session;
    // A failure reported before the end was asked for (a disk nearly full)
    // leaves the stream's end to come still: wait for its completion.
    bool failedBefore;
};

bool EndSeen(void* context) {
    const EndWait* wait = static_cast<const EndWait*>(context);
    long code = 0;
    while (wait->session->TakeEvent(code)) {}
    return wait->session->Completed() || (wait->session->Failed() && !wait->failedBefore);
}

}  // namespace

// A graph Stop drops what the filters still hold, which would cut the file
// in the middle of a packet. When every capture pin can end its stream,
// the end of stream runs through the encoders, the multiplexer and the
// time marker first, so the file ends whole (with its end code).
void GraphSession::EndCaptureStreams() {
    std::vector<com::ComPtr<IAMStreamControl>> controls;
    const bool all = CollectStreamControls(Filter(GraphFilter::Screen), controls) &&
                     CollectStreamControls(Filter(GraphFilter::AudioSource), controls);
    if (!all || controls.empty()) return;
    for (const com::ComPtr<IAMStreamControl>& c : controls) c->StopAt(nullptr, FALSE, 0);
    // The end runs on the streaming threads. The window keeps answering
    // meanwhile; the completion is remembered by TakeEvent, whoever takes it.
    EndWait wait{this, Failed()};
    mfc::PumpMessagesUntil(EndSeen, &wait, kEndOfStreamWaitMs);
}

void GraphSession::StopAllFilters() {
    if (!graph_) return;
    com::ComPtr<IEnumFilters> filters;
    if (FAILED(graph_->EnumFilters(filters.Put())) || !filters) return;
    com::ComPtr<IBaseFilter> filter;
    while (filters->Next(1, filter.Put(), nullptr) == S_OK) filter->Stop();
}

GraphSession::Failure GraphSession::StopCaptureGraph(HWND notifyWindow) {
    EndCaptureStreams();
    // A graph whose Run failed half way may not stop its filters itself.
    if (!control_ || FAILED(control_->Stop()) || runFailed_) StopAllFilters();
    runFailed_ = false;
    Wait(1000);
    long code = 0;
    while (TakeEvent(code)) {}
    const Failure failure = failure_;
    ReleaseGraphFilters();
    JoinSegment();
    ReleaseGraph();
    CreateFilterGraph(notifyWindow);
    return failure;
}

bool GraphSession::TakeEvent(long& code) {
    if (!events_) return false;
    LONG_PTR p1 = 0;
    LONG_PTR p2 = 0;
    if (events_->GetEvent(&code, &p1, &p2, 0) != S_OK) return false;
    if (code == EC_COMPLETE || code == EC_USERABORT) completed_ = true;
    if ((code == EC_ERRORABORT || code == EC_ERRORABORTEX || code == EC_STREAM_ERROR_STOPPED) && !Failed()) {
        failure_.code = code;
        failure_.result = static_cast<HRESULT>(p1);
    }
    events_->FreeEventParams(code, p1, p2);
    return true;
}

bool GraphSession::HasGraph() {
    return static_cast<bool>(graph_);
}

bool GraphSession::AddFilter(GraphFilter filter, const std::string& friendlyName) {
    if (!graph_ || friendlyName.empty()) return false;
    const std::wstring name = Widen(friendlyName);
    com::ComPtr<IBaseFilter> found = FindFilterByFriendlyName(CategoryOf(recorder::NameOf(filter).category), name);
    if (!found) return false;
    Drop(filter);
    if (FAILED(graph_->AddFilter(found.Get(), name.c_str()))) return false;
    filters_[static_cast<int>(filter)] = std::move(found);
    return true;
}

bool GraphSession::AdoptFilter(GraphFilter filter, IBaseFilter* instance, const std::string& name) {
    if (!graph_ || !instance) return false;
    Drop(filter);
    if (FAILED(graph_->AddFilter(instance, Widen(name).c_str()))) return false;
    filters_[static_cast<int>(filter)] = com::ComPtr<IBaseFilter>(instance);
    return true;
}

bool GraphSession::Connect(GraphFilter from, const std::string& outPin, GraphFilter to, const std::string& inPin) {
    if (!graph_) return false;
    com::ComPtr<IPin> out = FindPinByName(Filter(from), PINDIR_OUTPUT, Widen(outPin));
    // The stored pin name of an audio device need not be the one it has
    // today (another driver, another platform): its first output will do.
    if (!out && from == GraphFilter::AudioSource) out = FindPinByIndex(Filter(from), PINDIR_OUTPUT, 0);
    const com::ComPtr<IPin> in = FindPinByName(Filter(to), PINDIR_INPUT, Widen(inPin));
    return out && in && SUCCEEDED(graph_->ConnectDirect(out.Get(), in.Get(), nullptr));
}

namespace {

// The recording file through a Win32 handle, for the segment join.
class HandleFile : public recorder::ByteFile {
public:
    explicit HandleFile(const std::wstring& path)
        : handle_(::CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                FILE_ATTRIBUTE_NORMAL, nullptr)) {}
    ~HandleFile() override {
        if (Open()) ::CloseHandle(handle_);
    }
    HandleFile(const HandleFile&) = delete;
    HandleFile& operator=(const HandleFile&) = delete;
    bool Open() const { return handle_ != INVALID_HANDLE_VALUE; }

    uint64_t Size() override {
        LARGE_INTEGER size{};
        return ::GetFileSizeEx(handle_, &size) ? static_cast<uint64_t>(size.QuadPart) : 0;
    }
    bool Read(uint64_t offset, uint8_t* data, size_t size) override {
        DWORD done = 0;
        return Seek(offset) && ::ReadFile(handle_, data, static_cast<DWORD>(size), &done, nullptr) && done == size;
    }
    bool Write(uint64_t offset, const uint8_t* data, size_t size) override {
        DWORD done = 0;
        return Seek(offset) && ::WriteFile(handle_, data, static_cast<DWORD>(size), &done, nullptr) && done == size;
    }
    bool Truncate(uint64_t size) override { return Seek(size) && ::SetEndOfFile(handle_); }

private:
    bool Seek(uint64_t offset) {
        LARGE_INTEGER to;
        to.QuadPart = static_cast<LONGLONG>(offset);
        return ::SetFilePointerEx(handle_, to, nullptr, FILE_BEGIN) != FALSE;
    }
    HANDLE handle_;
};

}  // namespace

void GraphSession::PrepareJoin(const std::wstring& target) {
    joinTarget_ = target;
    continuation_ = recorder::Continuation{};
    HandleFile file(target);
    if (file.Open()) continuation_ = recorder::PrepareContinuation(file);
}

void GraphSession::JoinSegment() {
    if (!continuation_.active) return;
    HandleFile file(joinTarget_);
    if (!file.Open() || !recorder::JoinContinuation(file, continuation_))
        ::OutputDebugStringA("The resumed part of the recording could not be joined to the part before it\n");
    continuation_ = recorder::Continuation{};
}

recorder::SinkNameResult GraphSession::SetSinkFileName(const std::string& target) {
    sink_ = nullptr;
    PrepareJoin(Widen(target));
    IBaseFilter* writer = Filter(GraphFilter::FileWriter);
    if (!writer || FAILED(sink_.QueryFrom(writer, IID_IFileSinkFilter)) || !sink_)
        return recorder::SinkNameResult::NoInterface;
    target_ = target;
    return SUCCEEDED(sink_->SetFileName(Widen(target).c_str(), nullptr)) ? recorder::SinkNameResult::Ok
                                                                         : recorder::SinkNameResult::Failed;
}

bool GraphSession::ConfigureSink() {
    return SetAndCommit(Filter(GraphFilter::FileWriter), capture::kSinkWriteMode, 2);
}

bool GraphSession::ConfigureMux() {
    return SetAndCommit(Filter(GraphFilter::Mux), capture::kMuxOutput, 1);
}

bool GraphSession::ConfigureVideoEncoder(int bits) {
    return capture::ConfigureVideoEncoderBitrate(Filter(GraphFilter::VideoEncoder), bits);
}

bool GraphSession::ConfigureAudioEncoder(int kbps) {
    const com::ComPtr<IModuleConfig> config = ConfigOf(Filter(GraphFilter::AudioEncoder));
    if (!config) return false;
    // The encoder's "Bit rate" takes an index; its names are the kbit/s.
    std::vector<int> values;
    std::vector<int> offered;
    if (!OfferedValues(config.Get(), capture::kBitrate, values, offered)) return false;
    const int at = recorder::NearestOffered(offered, kbps);
    if (at < 0) return false;
    const bool set = SUCCEEDED(SetInt(config.Get(), capture::kBitrate, values[static_cast<std::size_t>(at)]));
    return Commit(config.Get()) && set;
}

bool GraphSession::AddAsfWriter(const std::string& target) {
    if (!graph_) return false;
    Drop(GraphFilter::AsfWriter);
    WmvMessages messages(this);
    com::ComPtr<IBaseFilter> writer;
    const HRESULT hr = capture::AddAsfWriter(ProgramFolder(), target, graph_.Get(), writer);
    // A writer that made it into the graph is taken out with the others.
    if (writer) filters_[static_cast<int>(GraphFilter::AsfWriter)] = std::move(writer);
    if (FAILED(hr)) {
        TraceFailure("AddAsfWriter failed: 0x%x\n", hr);
        return false;
    }
    target_ = target;
    return true;
}

bool GraphSession::RenderScreenToAsfWriter() {
    if (!builder_) return false;
    return SUCCEEDED(
        builder_->RenderStream(nullptr, nullptr, Filter(GraphFilter::Screen), nullptr, Filter(GraphFilter::AsfWriter)));
}

bool GraphSession::WriteWmvProfile(const recorder::Settings& settings, const recorder::Region& rounded) {
    WmvMessages messages(this);
    const std::string& folder = ProgramFolder();
    const int width = rounded.right - rounded.left;
    const int height = rounded.bottom - rounded.top;
    if (settings.audioOnly) return capture::WriteAudioProfile(folder, settings.audioBitrate) != 0;
    if (settings.videoOnly)
        return capture::WriteVideoProfile(folder, width, height, settings.videoBitrate, settings.frameRate,
                                          recorder::kControlProgramWmvCodec) != 0;
    return capture::WriteAvProfile(folder, width, height, settings.videoBitrate, settings.audioBitrate,
                                   settings.frameRate, recorder::kControlProgramWmvCodec) != 0;
}

bool GraphSession::ReadRegion(recorder::Region& region) {
    return ReadSourceRegion(region) != 0;
}
bool GraphSession::WriteRegion(recorder::Region& region) {
    return WriteSourceRegion(region) != 0;
}
void GraphSession::Wait(unsigned milliseconds) {
    mfc::PumpMessagesFor(milliseconds);
}

recorder::GraphOps::RunResult GraphSession::Run() {
    if (!control_) return RunResult::NoControl;
    if (SUCCEEDED(control_->Run())) return RunResult::Ok;
    // Filters that did start stay running where the graph's own Stop may
    // not reach them; they are stopped one by one before anything goes.
    runFailed_ = true;
    StopAllFilters();
    return RunResult::Failed;
}

void GraphSession::ShowMessage(const std::string& text) {
    zelbo::ShowMessage(text);
}

bool GraphSession::BuildAudioTestGraph() {
    recorder::Settings& settings = TheSettings();
    if (!graph_) {
        ShowMessage("Cannot query FilterGraph");
        return false;
    }
    if (!AddFilter(GraphFilter::AudioSource, settings.audioSource)) {
        ShowMessage("Cannot install audio " + settings.audioSource + " filter");
        return false;
    }
    if (!AddFilter(GraphFilter::WavDest, "WAV Dest")) {
        ShowMessage("Cannot install WAV Dest filter");
        return false;
    }
    const com::ComPtr<IPin> in = FindPinByName(Filter(GraphFilter::WavDest), PINDIR_INPUT, L"In");
    PinNames names;
    if (!ListAudioSourcePins(Filter(GraphFilter::AudioSource), names)) {
        ShowMessage("Cannot find audio source pins (" + settings.audioSource + ")");
        return false;
    }
    if (names.outputs.empty()) {
        ShowMessage("Cannot find output audio source pins (" + settings.audioSource + ")");
        return false;
    }
    const com::ComPtr<IPin> out =
        FindPinByName(Filter(GraphFilter::AudioSource), PINDIR_OUTPUT, Widen(names.outputs.front()));
    settings.audioOutput = names.outputs.front();
    const bool ok = out && in && SUCCEEDED(graph_->ConnectDirect(out.Get(), in.Get(), nullptr));
    if (!ok) {
        ShowMessage("Cannot connect test Audio Source to WAV Dest");
        return false;
    }
    SaveSettings();
    return true;
}

}  // namespace zelbo
