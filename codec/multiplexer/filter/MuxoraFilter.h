// "Korvell MPEG Muxteron": the DirectShow shell around the multiplexer core.
// The filter owns one core for its lifetime: its programs and input pins are
// views on the core's programs and inputs, and their parameters are the
// core's configured settings (plus a few rows of the filter's own: read-outs
// and connection facts). The structure rules are the core's. Input pins copy
// samples into the core's inputs; one muxing thread runs the core's passes
// and hands the finished samples to the output pin outside the core's lock,
// so a downstream filter that holds its buffers never blocks a streaming
// thread or Stop.
#pragma once

#include "platform/dshow/BaseClasses.h"

#include "codec/multiplexer/MediaClassify.h"
#include "codec/multiplexer/Multiplexer.h"
#include "codec/multiplexer/filter/MuxoraConfig.h"

#include <atomic>
#include <condition_variable>
#include <deque>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

namespace muxora {

class CM72;
class CPin_In;
class CProgram;

// The PinType a media type stands for (0: not accepted).
int ClassifyMediaType(const AM_MEDIA_TYPE& mt);

class ConfigMuxerImpl : public ModuleConfig::CModuleConfigPart<muxcore::MuxerSettings> {
public:
    ConfigMuxerImpl(CM72* filter, muxcore::MuxerSettings* values, MuxerRows* own, CCritSec* valueLock);
    STDMETHODIMP SetValue(const GUID* id, const VARIANT* value) override;
    STDMETHODIMP GetValue(const GUID* id, VARIANT* value) override;
    STDMETHODIMP Load(IStream* stream) override;
    STDMETHODIMP Save(IStream* stream, BOOL clearDirty) override;
    HRESULT CheckVersion() override { return SettingsVersion() == kMuxerSettingsVersion ? S_OK : E_FAIL; }
    HRESULT ApplyChanges(long count, const GUID* ids, VARIANT* errorInfo) override;

    // Stores a value at once, read-only rows included (no change notice).
    void Store(const GUID& id, long long value);
    void ShowOutputDependentRows();

private:
    HRESULT SetOutput(long value);
    HRESULT SetCompatibility(long value);
    HRESULT SetDmb(long value);
    CM72* filter_;
};

class ConfigStreamImpl : public ModuleConfig::CModuleConfigPart<muxcore::StreamSettings> {
public:
    ConfigStreamImpl(CPin_In* pin, muxcore::StreamSettings* values, PinRows* own, CCritSec* valueLock);
    STDMETHODIMP SetValue(const GUID* id, const VARIANT* value) override;
    STDMETHODIMP GetValue(const GUID* id, VARIANT* value) override;
    HRESULT CheckVersion() override { return S_OK; }
    HRESULT ApplyChanges(long count, const GUID* ids, VARIANT* errorInfo) override;

    void Store(const GUID& id, long long value);
    void Show(const GUID& id, bool visible);

private:
    CPin_In* pin_;
};

// One program of the core: its numbers and PIDs as parameters; its inputs are
// the pins of the core's inputs in it. The filter holds one reference; a
// program the core gave up lives on with a caller's reference, detached.
class CProgram : public CUnknown, public ModuleConfig::CModuleConfigImpl<muxcore::ProgramSettings> {
public:
    CProgram(CM72* filter, muxcore::Program* program);
    DECLARE_IUNKNOWN
    STDMETHODIMP NonDelegatingQueryInterface(REFIID riid, void** ppv) override;
    STDMETHODIMP SetValue(const GUID* id, const VARIANT* value) override;
    STDMETHODIMP GetValue(const GUID* id, VARIANT* value) override;
    HRESULT CheckVersion() override { return SettingsVersion() == kMuxerSettingsVersion ? S_OK : E_FAIL; }
    HRESULT ApplyChanges(long count, const GUID* ids, VARIANT* errorInfo) override;

    // Stores a value at once (no change notice).
    void Store(const GUID& id, long long value);
    void ShowTransportRows(bool visible);
    IModuleConfig* Interface() { return static_cast<IModuleConfig*>(this); }
    muxcore::Program* Core() const { return program_; }
    std::vector<CPin_In*> Inputs();
    // The core let go of the program: this object keeps it for its callers.
    void Detach(std::unique_ptr<muxcore::Program> program);

private:
    CM72* filter_;
    muxcore::Program* program_;
    std::unique_ptr<muxcore::Program> detached_;
    ProgramRows own_{};
};

// An input pin counts its own references: a caller may hold it after the
// filter removed it (Load, "remove input"). The filter holds one reference
// while the pin is listed; every outside reference also holds the filter.
// A removed pin is dead and answers every call with an error; it keeps the
// core input the core let go of, so its parameters stay valid.
class CPin_In : public CBaseInputPin {
public:
    CPin_In(CM72* filter, CCritSec* lock, HRESULT* phr, int number, const wchar_t* name, muxcore::InputStream* input);
    ~CPin_In() override;

    DECLARE_IUNKNOWN
    STDMETHODIMP NonDelegatingQueryInterface(REFIID riid, void** ppv) override;
    STDMETHODIMP_(ULONG) NonDelegatingAddRef() override;
    STDMETHODIMP_(ULONG) NonDelegatingRelease() override;
    // The filter lets go of the pin and of its core input: dead from now on.
    void Retire(std::unique_ptr<muxcore::InputStream> input);
    bool Dead() const { return dead_.load(); }

    // IPin and IMemInputPin: a dead pin refuses; otherwise the base pin.
    STDMETHODIMP Connect(IPin* receivePin, const AM_MEDIA_TYPE* mt) override;
    STDMETHODIMP ConnectedTo(IPin** pin) override;
    STDMETHODIMP ConnectionMediaType(AM_MEDIA_TYPE* mt) override;
    STDMETHODIMP QueryPinInfo(PIN_INFO* info) override;
    STDMETHODIMP QueryDirection(PIN_DIRECTION* dir) override;
    STDMETHODIMP QueryId(LPWSTR* id) override;
    STDMETHODIMP QueryAccept(const AM_MEDIA_TYPE* mt) override;
    STDMETHODIMP EnumMediaTypes(IEnumMediaTypes** types) override;
    STDMETHODIMP QueryInternalConnections(IPin** pins, ULONG* count) override;
    STDMETHODIMP NewSegment(REFERENCE_TIME start, REFERENCE_TIME stop, double rate) override;
    STDMETHODIMP GetAllocator(IMemAllocator** allocator) override;
    STDMETHODIMP NotifyAllocator(IMemAllocator* allocator, BOOL readOnly) override;
    STDMETHODIMP GetAllocatorRequirements(ALLOCATOR_PROPERTIES* props) override;
    STDMETHODIMP ReceiveMultiple(IMediaSample** samples, long count, long* done) override;
    STDMETHODIMP ReceiveCanBlock() override;

    HRESULT CheckMediaType(const CMediaType* mt) override;
    HRESULT GetMediaType(int position, CMediaType* mt) override;
    HRESULT CompleteConnect(IPin* receivePin) override;
    HRESULT BreakConnect() override;
    STDMETHODIMP Disconnect() override;
    STDMETHODIMP ReceiveConnection(IPin* connector, const AM_MEDIA_TYPE* mt) override;
    STDMETHODIMP Receive(IMediaSample* sample) override;
    STDMETHODIMP EndOfStream() override;
    STDMETHODIMP BeginFlush() override;
    STDMETHODIMP EndFlush() override;

    int Number() const { return number_; }
    CM72* Muxer() const { return mux_; }
    muxcore::InputStream* Core() const { return core_; }
    // The program whose core program holds this pin's core input.
    CProgram* Program();
    IModuleConfig* Interface() { return static_cast<IModuleConfig*>(&config_); }
    int StreamType();
    bool HasEnded() const { return ended_.load(); }
    // The start time of the last timed sample received (kNoTime: none yet).
    int64_t LastTime() const { return lastTime_.load(); }
    ConfigStreamImpl& Config() { return config_; }
    // The pin's rows of its own, under the value lock.
    PinRows& OwnRows() { return own_; }
    // Whether the pin feeds its core input (while the filter runs); the
    // first takes the receive lock, the second needs it held.
    void Attach(bool attached);
    void AttachLocked(bool attached);
    CCritSec* ReceiveLock() { return &receiveLock_; }
    // Takes no more data: the input counts as ended (a stop without end of stream).
    void EndInput();
    // "Pointer to ES info" and "ES Info Length", in either order: the second
    // of the pair appends one descriptor to the input's PMT entry.
    HRESULT TakeEsInfo(const GUID& id, const VARIANT* value);
    // "Stream PES ID": refused when the type cannot carry it or another
    // input of the program has it.
    HRESULT CheckPesId(long id);
    // Copies the core input's read-outs ("Real Bitrate", "Current Pin PTS").
    void PublishReadouts();
    // CheckCompatibility of the stream with a compatibility mode.
    bool AcceptsCompatibility(long compat, long output);
    void SetStreamType(long type);

private:
    HRESULT RefuseWhileRunning();
    HRESULT PushWaiting(const uint8_t* data, size_t length, int64_t time);

    CM72* mux_;
    int number_;
    muxcore::InputStream* core_;
    std::unique_ptr<muxcore::InputStream> retired_;  // once the core let go of it
    std::atomic<long> refs_{1};                      // the filter's own reference
    std::atomic<bool> dead_{false};
    PinRows own_{};
    ConfigStreamImpl config_;
    // Receive, end of stream and the attachment (see CM72's lock order).
    CCritSec receiveLock_;
    bool attached_ = false;
    std::atomic<bool> ended_{false};
    std::atomic<int64_t> lastTime_{muxcore::kNoTime};
    // Half of an ES-info descriptor pair, under the value lock; the
    // descriptors themselves are the core input's.
    const uint8_t* esPendingBytes_ = nullptr;
    long esPendingLength_ = -1;
    // What the connection's media type says (picture, rates, format block).
    muxcore::ConnectFacts facts_;
    // What "mediatype filled internally" points at, under the value lock.
    CMediaType internalType_;
};

class CPin_Out : public CBaseOutputPin {
public:
    CPin_Out(CM72* filter, CCritSec* lock, HRESULT* phr);
    DECLARE_IUNKNOWN
    // Seeking is answered by the first connected input's upstream pin.
    STDMETHODIMP NonDelegatingQueryInterface(REFIID riid, void** ppv) override;

    HRESULT CheckMediaType(const CMediaType* mt) override;
    HRESULT GetMediaType(int position, CMediaType* mt) override;
    HRESULT DecideBufferSize(IMemAllocator* alloc, ALLOCATOR_PROPERTIES* props) override;
    HRESULT CompleteConnect(IPin* receivePin) override;
    HRESULT Active() override;
    STDMETHODIMP Notify(IBaseFilter*, Quality) override { return E_NOTIMPL; }

    // One output sample of the core, split over media samples when needed.
    // Only the muxing thread delivers: no lock of its own.
    HRESULT DeliverBytes(const uint8_t* data, uint32_t length, int64_t start, int64_t stop, bool byteTimes);
    HRESULT PassBeginFlush();
    HRESULT PassEndFlush();
    bool ToFileWriter() const { return toFileWriter_; }
    // Ends a wait for a free buffer: the allocator refuses from now on.
    void ReleaseWaiters();

private:
    CM72* mux_;
    bool toFileWriter_ = false;
    bool flushing_ = false;
};

class CM72 : public CBaseFilter, public ISpecifyPropertyPages {
public:
    static CUnknown* WINAPI CreateInstance(LPUNKNOWN outer, HRESULT* phr);
    CM72(LPUNKNOWN outer, HRESULT* phr);
    ~CM72() override;

    DECLARE_IUNKNOWN
    STDMETHODIMP NonDelegatingQueryInterface(REFIID riid, void** ppv) override;
    STDMETHODIMP GetPages(CAUUID* pages) override;
    STDMETHODIMP QueryVendorInfo(LPWSTR* info) override;

    int GetPinCount() override;
    CBasePin* GetPin(int n) override;
    STDMETHODIMP Stop() override;
    STDMETHODIMP Pause() override;
    STDMETHODIMP Run(REFERENCE_TIME start) override;

    ConfigMuxerImpl& Config() { return config_; }
    CCritSec* FilterLock() { return &filterLock_; }
    CCritSec* ValueLock() { return &valueLock_; }
    muxcore::Multiplexer& Core() { return core_; }
    CPin_Out* Output() { return out_; }
    bool IsStoppedState() const { return m_State == State_Stopped; }
    bool Stopping() const { return stopping_.load(); }
    // The run is being closed: the inputs take no more data.
    bool Closing() const { return closing_.load(); }
    HANDLE DataEvent() { return dataEvent_; }
    IMediaEventSink* EventSink() { return m_pSink; }

    // Calls from the input pins.
    void Kick();
    void OnInputConnected();
    void OnInputBeginFlush();
    void OnInputEndFlush();
    std::vector<CPin_In*> Inputs();
    std::vector<CProgram*> Programs();
    CProgram* FirstProgram();
    CProgram* FindProgram(IUnknown* unknown);
    CProgram* FindProgram(const muxcore::Program* program);
    CPin_In* FindInput(IUnknown* unknown);
    CProgram* AddProgram();
    HRESULT RemoveProgram(CProgram* program);
    // A new input pin in the program ("Input%d" with the lowest free number, or the given one).
    CPin_In* MakeInput(CProgram* program, int number = -1);
    HRESULT RemoveInput(CPin_In* pin);
    // "Output" through the core, which keeps one program for a program stream.
    HRESULT SetOutput(long output);
    // Load: programs and their inputs from a stream.
    HRESULT LoadStructure(IStream* stream);
    HRESULT SaveStructure(IStream* stream);
    long CurrentOutput();
    // The pin of a core input (null: the run's own).
    CPin_In* PinOf(const muxcore::InputStream* in);
    // Re-negotiates the output after "Output" changed.
    void ReconnectOutput();

private:
    class Sink : public muxcore::IMuxSink {
    public:
        muxcore::HRESULT_T Deliver(const muxcore::OutputSample& s) override;
        void EndOfStream() override;
        // Kept for the muxing thread, which tells the graph outside the core's lock.
        void OnOverload(const muxcore::OverloadReport& r) override;
        struct Piece {
            std::vector<uint8_t> bytes;
            int64_t start, stop;
            bool byteTimes;
        };
        std::mutex lock;  // last in the filter's lock order
        std::deque<Piece> pieces;
        bool ended = false;
        bool overloadDue = false;
        muxcore::OverloadReport overload;
    };

    void MakeSpareInput();
    // Tells the muxing thread to leave its waits and end.
    void SignalStop();
    void ThreadProc();
    void StartThread();
    void StopThread();
    // A run that ends without end of stream still closes its stream (bounded in time).
    void FinishStream();
    // Every pin's receive lock, held while the run changes (see the lock order).
    std::vector<std::unique_ptr<CAutoLock>> HoldReceiving();
    // Ends the core's last run and starts the next with the connected inputs;
    // the caller holds every receive lock.
    HRESULT StartCore(bool* any);
    void DeliverPending();
    // Tells the graph once per run that the output rate cannot carry the inputs.
    void ReportOverload();

    // Lock order: take a lock on the left only before one on its right, never
    // the reverse:
    //   filterLock_ -> a pin's receive lock -> valueLock_ -> the core's lock -> sink_.lock
    // Only HoldReceiving takes several receive locks at once, under filterLock_.
    // workLock_ is a leaf: nothing else is taken while it is held. The
    // muxing thread holds none of these while it delivers downstream, so a
    // downstream filter that blocks in Receive never holds up a streaming
    // thread or Stop.
    CCritSec filterLock_;  // state changes, structure, pins (the base classes' lock)
    // Every parameter value of the filter, its programs and its pins, which
    // are the core's configured settings: one lock for all of them.
    CCritSec valueLock_;
    muxcore::Multiplexer core_;
    MuxerRows own_{};
    ConfigMuxerImpl config_;
    CPin_Out* out_ = nullptr;
    std::vector<CPin_In*> inputs_;
    std::vector<CProgram*> programs_;
    int flushingInputs_ = 0;
    bool restartAfterFlush_ = false;

    // The pins that feed the run, for the muxing thread's read-outs.
    std::vector<CPin_In*> attached_;
    Sink sink_;
    std::thread thread_;
    std::atomic<bool> stopping_{false};
    std::atomic<bool> closing_{false};
    // Set when a pause closed the stream: a later Run starts a new one.
    bool closedAtPause_ = false;
    // Output pieces handed downstream since the core started.
    std::atomic<uint64_t> piecesOut_{0};
    std::mutex workLock_;  // a leaf: guards work_ only
    std::condition_variable workCv_;
    int work_ = 0;
    HANDLE dataEvent_ = nullptr;
    HANDLE threadDone_ = nullptr;
};

}  // namespace muxora
