#include "codec/multiplexer/filter/MuxoraFilter.h"

#include "codec/multiplexer/Descriptors.h"
#include "codec/multiplexer/IdAllocation.h"
#include "codec/multiplexer/LpcmFormat.h"
#include "codec/multiplexer/PesIdRules.h"
#include "codec/multiplexer/StreamSupport.h"
#include "codec/multiplexer/StructureRules.h"
#include "codec/multiplexer/filter/MuxoraIds.h"
#include "codec/paramkit/ParamInterfaces.h"

#include <dvdmedia.h>
#include <mmreg.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <limits>

namespace muxora {

namespace {

// What a removed input answers.
constexpr HRESULT kDeadPin = E_UNEXPECTED;

using namespace muxcore;  // stream types (kPin...), output and compatibility names

bool IsMpeg4Group(long t) {
    return t == kPinMpeg4v4 || t == kPinMpeg4v5 || t == kPinH264 || t == kPinH264Soft || t == kPinMpeg4;
}

HRESULT ToLong(const VARIANT* value, long* out) {
    if (!value) return E_POINTER;
    VARIANT v;
    VariantInit(&v);
    HRESULT hr = VariantChangeType(&v, const_cast<VARIANT*>(value), 0, VT_I4);
    if (FAILED(hr)) return E_INVALIDARG;
    *out = v.lVal;
    return S_OK;
}

HRESULT SetParamNow(ModuleConfig::CModuleConfig& config, const GUID& id, long long value) {
    ModuleConfig::CBaseParam* p = config.FindParam(&id);
    if (!p) return E_UNEXPECTED;
    VARIANT v;
    VariantInit(&v);
    v.vt = VT_I8;
    v.llVal = value;
    return p->SetValue(&v, TRUE);
}

void ShowParam(ModuleConfig::CModuleConfig& config, const GUID& id, bool visible) {
    if (ModuleConfig::CBaseParam* p = config.FindParam(&id)) p->SetVisible(visible ? TRUE : FALSE);
}

// Commits pending values of writable rows only: read-only rows hold what
// the filter stores directly (stream facts, counters), and a visibility
// change must not put their stale pending value back.
void StoreWritable(ModuleConfig::CModuleConfig& config, long count, const GUID* ids) {
    for (long i = 0; i < count; ++i)
        if (ModuleConfig::CBaseParam* p = config.FindParam(&ids[i]))
            if (!p->IsReadOnly()) p->StorePending();
}

// Structure enumeration through GetValue: a variant without an item gets
// the first one, a variant with an item the next; past the last the variant
// is emptied and the call fails. The variant is in and out: the reference it
// brings in is released here and the one it takes out is the caller's, so a
// caller that walks the list with one variant holds nothing at the end.
template <class Item, class Find>
HRESULT HandOutNext(const std::vector<Item*>& items, VARIANT* value, Find find) {
    size_t next = 0;
    if (value->vt == VT_UNKNOWN) {
        Item* current = find(value->punkVal);
        if (!current) return E_FAIL;
        next = static_cast<size_t>(std::find(items.begin(), items.end(), current) - items.begin()) + 1;
    }
    const HRESULT cleared = VariantClear(value);
    if (FAILED(cleared)) return cleared;
    if (next >= items.size()) return E_FAIL;
    value->vt = VT_UNKNOWN;
    value->punkVal = items[next]->Interface();
    value->punkVal->AddRef();
    return S_OK;
}

}  // namespace

// ------------------------------------------------------------- classification

static_assert(sizeof(GUID) == sizeof(muxcore::Guid), "GUID layouts");

muxcore::MediaTypeDesc DescribeMediaType(const AM_MEDIA_TYPE& mt) {
    muxcore::MediaTypeDesc d;
    std::memcpy(&d.major, &mt.majortype, sizeof(GUID));
    std::memcpy(&d.subtype, &mt.subtype, sizeof(GUID));
    std::memcpy(&d.formatType, &mt.formattype, sizeof(GUID));
    d.format = mt.pbFormat;
    d.formatSize = mt.pbFormat ? mt.cbFormat : 0;
    return d;
}

int ClassifyMediaType(const AM_MEDIA_TYPE& mt) {
    return muxcore::ClassifyMediaType(DescribeMediaType(mt)).streamType;
}

// ------------------------------------------------------------- muxer config

ConfigMuxerImpl::ConfigMuxerImpl(CM72* filter, muxcore::MuxerSettings* values, MuxerRows* own, CCritSec* valueLock)
    : CModuleConfigPart<muxcore::MuxerSettings>(filter, &kClsidMuxer, kMuxerSettingsVersion, values, valueLock),
      filter_(filter) {
    BuildMuxerTable(*this, own);
}

void ConfigMuxerImpl::Store(const GUID& id, long long value) {
    SetParamNow(*this, id, value);
}

void ConfigMuxerImpl::ShowOutputDependentRows() {
    const bool ts = Snapshot().output != kProgramStream;
    for (const GUID* id : {&kTransportStreamId, &kUsePadding, &kPcrInterval, &kRequiredBitrate, &kTsPacketsToDeliver,
                           &kTs192, &kPesLengthForVideo})
        ShowParam(*this, *id, ts);
    ShowParam(*this, kCompatibility, !ts);
}

STDMETHODIMP ConfigMuxerImpl::SetValue(const GUID* id, const VARIANT* value) {
    if (!id || !value) return E_POINTER;
    long v = 0;
    if (*id == kOutput || *id == kCompatibility || *id == kDmbCompatibility) {
        HRESULT hr = ToLong(value, &v);
        if (FAILED(hr)) return hr;
        if (*id == kOutput) return SetOutput(v);
        if (*id == kCompatibility) return SetCompatibility(v);
        return SetDmb(v);
    }
    if (*id == kAddProgram) {
        CAutoLock lock(filter_->FilterLock());
        if (!filter_->IsStoppedState()) return E_FAIL;
        // Refused where the core keeps one program.
        CProgram* program = filter_->AddProgram();
        if (!program) return E_FAIL;
        if (value->vt == (VT_BYREF | VT_UNKNOWN) && value->ppunkVal) {
            *value->ppunkVal = program->Interface();
            program->Interface()->AddRef();
        }
        return S_OK;
    }
    if (*id == kRemoveProgram) {
        CAutoLock lock(filter_->FilterLock());
        if (Snapshot().output == kProgramStream) return E_FAIL;
        CProgram* program = value->vt == VT_UNKNOWN ? filter_->FindProgram(value->punkVal) : nullptr;
        return program ? filter_->RemoveProgram(program) : E_FAIL;
    }
    if (*id == kEnumPrograms) return E_FAIL;
    return CModuleConfig::SetValue(id, value);
}

// Program enumeration: without a program in the variant the first one, with
// one the next; past the last E_FAIL.
STDMETHODIMP ConfigMuxerImpl::GetValue(const GUID* id, VARIANT* value) {
    if (id && *id == kEnumPrograms) {
        if (!value) return E_POINTER;
        return HandOutNext(filter_->Programs(), value, [this](IUnknown* u) { return filter_->FindProgram(u); });
    }
    return CModuleConfig::GetValue(id, value);
}

HRESULT ConfigMuxerImpl::SetOutput(long value) {
    CAutoLock lock(filter_->FilterLock());
    if (!filter_->IsStoppedState()) return E_FAIL;
    const long before = Snapshot().output;
    HRESULT hr = filter_->SetOutput(value);
    if (hr != S_OK || before == value) return hr;
    filter_->ReconnectOutput();
    ShowOutputDependentRows();
    return S_OK;
}

HRESULT ConfigMuxerImpl::SetCompatibility(long value) {
    CAutoLock lock(filter_->FilterLock());
    const long output = Snapshot().output;
    if (!CompatibilityFits(value, output)) return E_FAIL;
    if (value != 0)
        for (CPin_In* pin : filter_->Inputs())
            if (pin->StreamType() != kPinFree && !pin->AcceptsCompatibility(value, output)) return S_FALSE;
    CAutoLock values(&ValueLock());
    return muxcore::Failed(filter_->Core().SetCompatibility(value)) ? E_FAIL : S_OK;
}

HRESULT ConfigMuxerImpl::SetDmb(long value) {
    CAutoLock lock(filter_->FilterLock());
    CAutoLock values(&ValueLock());
    const muxcore::HRESULT_T hr = filter_->Core().SetDmbCompatibility(static_cast<int32_t>(value));
    return muxcore::Failed(hr) ? E_FAIL : hr == muxcore::kS_FALSE ? S_FALSE : S_OK;
}

HRESULT ConfigMuxerImpl::ApplyChanges(long count, const GUID* ids, VARIANT*) {
    StoreWritable(*this, count, ids);
    for (long i = 0; i < count; ++i)
        if (ids[i] == kOutput) ShowParam(*this, kPcrInterval, Snapshot().output == kTransportStream);
    return S_OK;
}

// The parameter image, then the programs with a connected input (see
// SaveStructure).
STDMETHODIMP ConfigMuxerImpl::Save(IStream* stream, BOOL clearDirty) {
    if (!stream) return E_POINTER;
    HRESULT hr = CModuleConfig::Save(stream, clearDirty);
    if (FAILED(hr)) return hr;
    return filter_->SaveStructure(stream);
}

STDMETHODIMP ConfigMuxerImpl::Load(IStream* stream) {
    {
        CAutoLock lock(filter_->FilterLock());
        if (!filter_->IsStoppedState()) return VFW_E_NOT_STOPPED;
    }
    if (!stream) return E_POINTER;
    for (CPin_In* pin : filter_->Inputs())
        if (pin->IsConnected()) return VFW_E_ALREADY_CONNECTED;
    HRESULT hr = CModuleConfig::Load(stream);
    if (FAILED(hr)) return hr;
    hr = filter_->LoadStructure(stream);
    if (FAILED(hr)) return hr;
    const long output = Snapshot().output;
    const bool ts = output == kTransportStream || output == kTransportFixedPids;
    ShowParam(*this, kTransportStreamId, ts);
    ShowParam(*this, kRequiredBitrate, ts);
    ShowParam(*this, kCompatibility, !ts);
    return S_OK;
}

// ------------------------------------------------------------- stream config

ConfigStreamImpl::ConfigStreamImpl(CPin_In* pin, muxcore::StreamSettings* values, PinRows* own, CCritSec* valueLock)
    : CModuleConfigPart<muxcore::StreamSettings>(pin, &kClsidStreamConfig, 1, values, valueLock), pin_(pin) {
    BuildStreamTable(*this, own);
}

void ConfigStreamImpl::Store(const GUID& id, long long value) {
    SetParamNow(*this, id, value);
}
void ConfigStreamImpl::Show(const GUID& id, bool visible) {
    ShowParam(*this, id, visible);
}

STDMETHODIMP ConfigStreamImpl::SetValue(const GUID* id, const VARIANT* value) {
    if (!id || !value) return E_POINTER;
    if (pin_->Dead()) return kDeadPin;
    if (*id == kStreamType) {
        long v = 0;
        HRESULT hr = ToLong(value, &v);
        if (FAILED(hr)) return hr;
        if (pin_->IsConnected()) return E_FAIL;
        pin_->SetStreamType(v);
        return S_OK;
    }
    if (*id == kPesPacketSize) {
        long v = 0;
        HRESULT hr = ToLong(value, &v);
        if (FAILED(hr)) return hr;
        ConfigMuxerImpl& muxer = pin_->Muxer()->Config();
        const long compat = muxer.Snapshot().compatibility;
        // Another packet size leaves the compatibility mode.
        if (compat != kCompatNone && v != PesPacketSizeFor(compat)) muxer.Store(kCompatibility, kCompatNone);
    }
    if (*id == kStreamId) {
        long v = 0;
        HRESULT hr = ToLong(value, &v);
        if (FAILED(hr)) return hr;
        long given = 0;
        {
            CAutoLock values(&ValueLock());
            given = pin_->Muxer()->Core().AllocatePid(v, pin_->Core());
        }
        CModuleConfig::SetValue(id, value);
        if (given != v) {
            Store(kStreamId, given);
            return E_FAIL;
        }
        return S_OK;
    }
    if (*id == kEsInfoPointer || *id == kEsInfoLength) return pin_->TakeEsInfo(*id, value);
    if (*id == kStreamPesId) {
        long v = 0;
        HRESULT hr = ToLong(value, &v);
        if (FAILED(hr)) return hr;
        hr = pin_->CheckPesId(v);
        if (FAILED(hr)) return hr;
    }
    if (*id == kAssignProgram) {
        CM72* mux = pin_->Muxer();
        CAutoLock lock(mux->FilterLock());
        CProgram* to = value->vt == VT_UNKNOWN ? mux->FindProgram(value->punkVal) : nullptr;
        if (!to) return E_INVALIDARG;
        if (!mux->IsStoppedState()) return E_FAIL;
        CAutoLock values(&ValueLock());
        return muxcore::Failed(mux->Core().MoveInput(pin_->Core(), to->Core())) ? E_FAIL : S_OK;
    }
    return CModuleConfig::SetValue(id, value);
}

STDMETHODIMP ConfigStreamImpl::GetValue(const GUID* id, VARIANT* value) {
    if (!id || !value) return E_POINTER;
    if (pin_->Dead()) return kDeadPin;
    if (*id == kEndedFlag) {
        VariantInit(value);
        value->vt = VT_INT;
        CAutoLock values(&ValueLock());
        value->intVal = pin_->HasEnded() && pin_->OwnRows().autoCreated == 0 ? 1 : 0;
        return S_OK;
    }
    if (*id == kStreamName) {
        VariantInit(value);
        value->vt = VT_BSTR;
        value->bstrVal = SysAllocString(pin_->Name());
        return value->bstrVal ? S_OK : E_OUTOFMEMORY;
    }
    if (*id == kIsConnected) {
        VariantInit(value);
        value->vt = VT_I4;
        CAutoLock values(&ValueLock());
        value->lVal = pin_->IsConnected() || pin_->OwnRows().autoCreated ? 1 : 0;
        return S_OK;
    }
    if (*id == kStreamSubId) {
        // The sub-stream id AC-3 and LPCM get in private stream 1; it
        // follows the inputs' order, so the core works it out.
        VariantInit(value);
        value->vt = VT_I4;
        CAutoLock values(&ValueLock());
        const muxcore::Program* program = pin_->Core()->GetProgram();
        value->lVal = program ? program->ConfiguredSubStreamId(pin_->Core()) : 0;
        return S_OK;
    }
    return CModuleConfig::GetValue(id, value);
}

HRESULT ConfigStreamImpl::ApplyChanges(long count, const GUID* ids, VARIANT*) {
    StoreWritable(*this, count, ids);
    return S_OK;
}

// ------------------------------------------------------------- input pin

CPin_In::CPin_In(CM72* filter, CCritSec* lock, HRESULT* phr, int number, const wchar_t* name,
                 muxcore::InputStream* input)
    : CBaseInputPin("M72 input", filter, lock, phr, name),
      mux_(filter),
      number_(number),
      core_(input),
      config_(this, &input->MutableSettings(), &own_, filter->ValueLock()) {
    CAutoLock guard(&config_.ValueLock());
    own_.streamNumber = number;
    char text[32];
    std::snprintf(text, sizeof text, "Input%d", number);
    core_->MutableSettings().name = text;
}

CPin_In::~CPin_In() = default;

CProgram* CPin_In::Program() {
    return mux_->FindProgram(core_->GetProgram());
}

int CPin_In::StreamType() {
    CAutoLock guard(&config_.ValueLock());
    return core_->Settings().streamType;
}

STDMETHODIMP CPin_In::NonDelegatingQueryInterface(REFIID riid, void** ppv) {
    if (riid == IID_IModuleConfig) return GetInterface(static_cast<IModuleConfig*>(&config_), ppv);
    return CBaseInputPin::NonDelegatingQueryInterface(riid, ppv);
}

STDMETHODIMP_(ULONG) CPin_In::NonDelegatingAddRef() {
    const long n = ++refs_;
    m_pFilter->AddRef();
    return static_cast<ULONG>(n);
}

STDMETHODIMP_(ULONG) CPin_In::NonDelegatingRelease() {
    // The filter outlives this call: the reference released here held it.
    CBaseFilter* filter = m_pFilter;
    const long n = --refs_;
    if (n == 0) delete this;
    filter->Release();
    return static_cast<ULONG>(n);
}

void CPin_In::Retire(std::unique_ptr<muxcore::InputStream> input) {
    retired_ = std::move(input);
    dead_ = true;
    if (--refs_ == 0) delete this;
}

STDMETHODIMP CPin_In::Connect(IPin* receivePin, const AM_MEDIA_TYPE* mt) {
    return Dead() ? kDeadPin : CBaseInputPin::Connect(receivePin, mt);
}
STDMETHODIMP CPin_In::ConnectedTo(IPin** pin) {
    if (!Dead()) return CBaseInputPin::ConnectedTo(pin);
    if (pin) *pin = nullptr;
    return VFW_E_NOT_CONNECTED;
}
STDMETHODIMP CPin_In::ConnectionMediaType(AM_MEDIA_TYPE* mt) {
    return Dead() ? VFW_E_NOT_CONNECTED : CBaseInputPin::ConnectionMediaType(mt);
}
STDMETHODIMP CPin_In::QueryPinInfo(PIN_INFO* info) {
    return Dead() ? kDeadPin : CBaseInputPin::QueryPinInfo(info);
}
STDMETHODIMP CPin_In::QueryDirection(PIN_DIRECTION* dir) {
    return Dead() ? kDeadPin : CBaseInputPin::QueryDirection(dir);
}
STDMETHODIMP CPin_In::QueryId(LPWSTR* id) {
    return Dead() ? kDeadPin : CBaseInputPin::QueryId(id);
}
STDMETHODIMP CPin_In::QueryAccept(const AM_MEDIA_TYPE* mt) {
    return Dead() ? kDeadPin : CBaseInputPin::QueryAccept(mt);
}
STDMETHODIMP CPin_In::EnumMediaTypes(IEnumMediaTypes** types) {
    return Dead() ? kDeadPin : CBaseInputPin::EnumMediaTypes(types);
}
STDMETHODIMP CPin_In::QueryInternalConnections(IPin** pins, ULONG* count) {
    return Dead() ? kDeadPin : CBaseInputPin::QueryInternalConnections(pins, count);
}
STDMETHODIMP CPin_In::NewSegment(REFERENCE_TIME start, REFERENCE_TIME stop, double rate) {
    return Dead() ? kDeadPin : CBaseInputPin::NewSegment(start, stop, rate);
}
STDMETHODIMP CPin_In::GetAllocator(IMemAllocator** allocator) {
    return Dead() ? kDeadPin : CBaseInputPin::GetAllocator(allocator);
}
STDMETHODIMP CPin_In::NotifyAllocator(IMemAllocator* allocator, BOOL readOnly) {
    return Dead() ? kDeadPin : CBaseInputPin::NotifyAllocator(allocator, readOnly);
}
STDMETHODIMP CPin_In::GetAllocatorRequirements(ALLOCATOR_PROPERTIES* props) {
    return Dead() ? kDeadPin : CBaseInputPin::GetAllocatorRequirements(props);
}
STDMETHODIMP CPin_In::ReceiveMultiple(IMediaSample** samples, long count, long* done) {
    return Dead() ? kDeadPin : CBaseInputPin::ReceiveMultiple(samples, count, done);
}
STDMETHODIMP CPin_In::ReceiveCanBlock() {
    return Dead() ? kDeadPin : CBaseInputPin::ReceiveCanBlock();
}

HRESULT CPin_In::CheckMediaType(const CMediaType* mt) {
    if (!mt) return E_POINTER;
    const muxcore::Classification c = muxcore::ClassifyMediaType(DescribeMediaType(*mt));
    const int t = c.streamType;
    if (t == muxcore::kPinFree) return S_FALSE;
    if ((t == muxcore::kPinIgPes || t == muxcore::kPinPcm) && (!mt->pbFormat || mt->cbFormat == 0)) return S_FALSE;
    // What the core cannot carry is refused here, not at the first Pause.
    if (!muxcore::CheckStreamTypeSupported(t).empty()) return VFW_E_TYPE_NOT_ACCEPTED;
    if (t == muxcore::kPinPcm && mt->formattype == kFmtWaveFormatEx && mt->cbFormat >= sizeof(WAVEFORMATEX)) {
        const auto* wfx = reinterpret_cast<const WAVEFORMATEX*>(mt->pbFormat);
        muxcore::PcmFormat f;
        f.sampleRate = static_cast<int32_t>(wfx->nSamplesPerSec);
        f.channels = wfx->nChannels;
        f.bitsPerSample = wfx->wBitsPerSample;
        if (!muxcore::CheckLpcmFormat(f).empty()) return VFW_E_TYPE_NOT_ACCEPTED;
    }
    return S_OK;
}

HRESULT CPin_In::GetMediaType(int position, CMediaType* mt) {
    if (!mt) return E_POINTER;
    if (position < 0) return E_INVALIDARG;
    struct Offer {
        const GUID* major;
        GUID sub;
    };
    static const Offer kFree[] = {
        {&kMtVideo, FourccSubtype(Fourcc("DIVX"))},
        {&kMtAudio, FourccSubtype(0x55)},
        {&kMtAudio, FourccSubtype(0x50)},
        {&kMtVideo, kStMpeg2Video},
        {&kMtVideo, kStH264},
        {&kMtVideo, kStMpeg1Payload},
        {&kMtAudio, kStDolbyAc3},
        {&kMtAudio, FourccSubtype(0x2000)},
        {&kMtVideo, FourccSubtype(Fourcc("VSSH"))},
        {&kMtVideo, FourccSubtype(Fourcc("WVC1"))},
        {&kMtAudio, FourccSubtype(0xFF)},
        {&kMtStream, GUID_NULL},
    };
    Offer offer{nullptr, GUID_NULL};
    const long type = StreamType();
    if (type == 0 && !IsConnected()) {
        if (position >= 12) return VFW_S_NO_MORE_ITEMS;
        offer = kFree[position];
    } else if (type == 3 && position == 1) {
        offer = {&kMtAudio, FourccSubtype(0x2000)};
    } else if (position == 0) {
        switch (type) {
            case kPinMpeg2Video:
                offer = {&kMtVideo, kStMpeg2Video};
                break;
            case kPinMpeg2Audio:
                offer = {&kMtAudio, FourccSubtype(0x55)};
                break;
            case kPinAc3:
                offer = {&kMtAudio, kStDolbyAc3};
                break;
            case kPinMpeg4v4:
            case kPinMpeg4v5:
                offer = {&kMtVideo, FourccSubtype(Fourcc("DIVX"))};
                break;
            case kPinMpeg1Audio:
                offer = {&kMtAudio, FourccSubtype(0x50)};
                break;
            case kPinMpeg1Video:
                offer = {&kMtVideo, kStMpeg1Payload};
                break;
            case kPinMpeg2Program:
                offer = {&kMtStream, kStMpeg2Program};
                break;
            case kPinH264:
                offer = {&kMtVideo, kStH264};
                break;
            case kPinH264Soft:
                offer = {&kMtVideo, FourccSubtype(Fourcc("VSSH"))};
                break;
            case kPinPcm:
                offer = {&kMtAudio, FourccSubtype(1)};
                break;
            case kPinMpeg4:
                offer = {&kMtVideo, FourccSubtype(Fourcc("divx"))};
                break;
            case kPinDvdSubtitles:
                offer = {&kMtVideo, kStDvdSubpicture};
                break;
            case kPinPrivateData:
                offer = {&kMtStream, GUID_NULL};
                break;
            default:
                return VFW_S_NO_MORE_ITEMS;
        }
    } else {
        return VFW_S_NO_MORE_ITEMS;
    }
    mt->InitMediaType();
    mt->SetType(offer.major);
    mt->SetSubtype(&offer.sub);
    return S_OK;
}

void CPin_In::SetStreamType(long type) {
    {
        CAutoLock guard(&config_.ValueLock());
        core_->MutableSettings().streamType = static_cast<int32_t>(type);
    }
    const bool ts = mux_->CurrentOutput() != kProgramStream;
    const bool video = muxcore::IsVideoType(type);
    config_.Show(kAnnouncedFrameRate, video);
    config_.Show(kRealBitrate, video);
    config_.Show(kInputBufferSize, true);
    // PES size, padding, bitrate, PID, PES id, time shift, current PTS, frequency.
    bool rows[8];
    if (type == kPinFree) {
        std::fill(rows, rows + 8, false);
    } else if (type == kPinMpeg2Program) {
        const bool r[8] = {false, true, false, false, false, false, false, false};
        std::copy(r, r + 8, rows);
    } else if (IsMpeg4Group(type) && type != kPinMpeg4v5) {
        const bool r[8] = {true, true, true, true, true, true, true, false};
        std::copy(r, r + 8, rows);
    } else if (type == kPinAac) {
        std::fill(rows, rows + 8, true);
    } else if (type == kPinPcm) {
        const bool r[8] = {false, false, true, true, true, true, true, true};
        std::copy(r, r + 8, rows);
    } else if (type == kPinDvdSubtitles) {
        const bool r[8] = {true, true, false, true, false, true, true, false};
        std::copy(r, r + 8, rows);
    } else {
        const bool r[8] = {true, true, true, ts, true, true, true, !video};
        std::copy(r, r + 8, rows);
    }
    const GUID* ids[8] = {&kPesPacketSize, &kPaddingSmall,     &kAnnouncedBitrate, &kStreamId,
                          &kStreamPesId,   &kInitialTimeShift, &kCurrentPinPts,    &kFrequency};
    for (int i = 0; i < 8; ++i) config_.Show(*ids[i], rows[i]);
    bool autoCreated = false;
    {
        CAutoLock guard(&config_.ValueLock());
        autoCreated = own_.autoCreated != 0;
    }
    if (autoCreated) {
        config_.Show(kPesPacketSize, false);
        config_.Show(kAnnouncedBitrate, false);
        config_.Show(kInitialTimeShift, false);
        config_.Show(kPaddingSmall, type != kPinFree);
    }
    config_.Store(kChangingType, 1);
}

bool CPin_In::AcceptsCompatibility(long compat, long output) {
    return muxcore::CheckCompatibility(compat, StreamType(), output, facts_);
}

HRESULT CPin_In::CompleteConnect(IPin* receivePin) {
    const muxcore::MediaTypeDesc desc = DescribeMediaType(m_mt);
    const muxcore::Classification kind = muxcore::ClassifyMediaType(desc);
    const int type = kind.streamType;
    const muxcore::MuxerSettings muxer = mux_->Config().Snapshot();
    muxcore::ConnectFacts facts;
    if (muxcore::Failed(muxcore::ReadConnectFacts(desc, type, muxer, facts))) return E_FAIL;
    HRESULT hr = CBaseInputPin::CompleteConnect(receivePin);
    if (FAILED(hr)) return hr;
    facts_ = facts;
    {
        CAutoLock guard(&config_.ValueLock());
        muxcore::StreamSettings& s = core_->MutableSettings();
        own_.isConnected = 1;
        own_.announcedFrameRate = facts.announcedFrameRate;
        s.streamType = type;
        muxcore::ApplyConnectFacts(facts, s);
        if (type == kPinPcm) s.pcm.littleEndian = !kind.dvdLpcm;
        // Raw AAC frames: the core puts an ADTS header made from the
        // AudioSpecificConfig after the wave format in front of each.
        if (type == kPinAac && m_mt.formattype == kFmtWaveFormatEx && m_mt.pbFormat &&
            m_mt.cbFormat >= sizeof(WAVEFORMATEX) + 2 &&
            reinterpret_cast<const WAVEFORMATEX*>(m_mt.pbFormat)->cbSize >= 2) {
            s.aacConfig[0] = m_mt.pbFormat[sizeof(WAVEFORMATEX)];
            s.aacConfig[1] = m_mt.pbFormat[sizeof(WAVEFORMATEX) + 1];
            s.hasAacConfig = true;
        }
    }
    SetStreamType(type);
    long pid = 0;
    {
        CAutoLock guard(&config_.ValueLock());
        pid = mux_->Core().AllocatePid(core_->Settings().streamId, core_);
    }
    config_.Store(kStreamId, pid);
    if (!AcceptsCompatibility(muxer.compatibility, muxer.output)) return E_FAIL;
    {
        CAutoLock guard(&config_.ValueLock());
        core_->GetProgram()->OnInputJoined(core_);
    }
    mux_->OnInputConnected();
    return S_OK;
}

HRESULT CPin_In::BreakConnect() {
    bool wasTyped = false;
    {
        CAutoLock guard(&config_.ValueLock());
        wasTyped = own_.isConnected != 0;
    }
    config_.ResetToDefaults();
    {
        CAutoLock guard(&config_.ValueLock());
        muxcore::StreamSettings& s = core_->MutableSettings();
        own_.isConnected = 0;
        own_.announcedFrameRate = 0;
        s.announcedBitrate = 0;
        s.frequency = 0;
        s.pcm = muxcore::PcmFormat();
        s.aacConfig[0] = s.aacConfig[1] = 0;
        s.hasAacConfig = false;
        s.esInfo.clear();
        esPendingBytes_ = nullptr;
        esPendingLength_ = -1;
    }
    SetStreamType(0);
    facts_ = muxcore::ConnectFacts();
    HRESULT hr = CBaseInputPin::BreakConnect();
    if (wasTyped) {
        CAutoLock guard(&config_.ValueLock());
        core_->GetProgram()->OnInputLeft(core_);
    }
    return hr;
}

HRESULT CPin_In::RefuseWhileRunning() {
    if (mux_->IsStoppedState()) return S_OK;
    if (IMediaEventSink* sink = mux_->EventSink()) sink->Notify(EC_ERRORABORT, E_FAIL, 0);
    return E_FAIL;
}

STDMETHODIMP CPin_In::Disconnect() {
    if (Dead()) return kDeadPin;
    CAutoLock lock(m_pLock);
    HRESULT hr = RefuseWhileRunning();
    if (FAILED(hr)) return hr;
    return CBaseInputPin::Disconnect();
}

STDMETHODIMP CPin_In::ReceiveConnection(IPin* connector, const AM_MEDIA_TYPE* mt) {
    if (Dead()) return kDeadPin;
    {
        CAutoLock lock(m_pLock);
        HRESULT hr = RefuseWhileRunning();
        if (FAILED(hr)) return hr;
    }
    return CBaseInputPin::ReceiveConnection(connector, mt);
}

void CPin_In::Attach(bool attached) {
    CAutoLock lock(&receiveLock_);
    AttachLocked(attached);
}

void CPin_In::AttachLocked(bool attached) {
    attached_ = attached;
    ended_ = false;
    lastTime_ = muxcore::kNoTime;
}

HRESULT CPin_In::TakeEsInfo(const GUID& id, const VARIANT* value) {
    constexpr long kMaxEsInfo = 1023;  // ES_info_length has 12 bits
    CAutoLock guard(&config_.ValueLock());
    if (id == kEsInfoPointer) {
        if (value->vt != VT_PTR && value->vt != (VT_BYREF | VT_UI1)) return E_INVALIDARG;
        esPendingBytes_ = static_cast<const uint8_t*>(value->byref);
        if (!esPendingBytes_) return E_POINTER;
    } else {
        long n = 0;
        HRESULT hr = ToLong(value, &n);
        if (FAILED(hr)) return hr;
        if (n < 2 || n > 257) return E_INVALIDARG;  // tag, length, up to 255 payload bytes
        esPendingLength_ = n;
    }
    if (!esPendingBytes_ || esPendingLength_ < 0) return S_OK;
    const uint8_t* bytes = esPendingBytes_;
    const long n = esPendingLength_;
    esPendingBytes_ = nullptr;
    esPendingLength_ = -1;
    std::vector<uint8_t>& info = core_->MutableSettings().esInfo;
    if (static_cast<long>(info.size()) + n > kMaxEsInfo) return E_FAIL;
    // One descriptor: the tag, then the bytes after the caller's length byte.
    NS_DESCR::CDescriptorBase(bytes[0], bytes + 2, static_cast<size_t>(n - 2)).AppendTo(info);
    return S_OK;
}

HRESULT CPin_In::CheckPesId(long id) {
    const long type = StreamType();
    if (!muxcore::PesIdFitsType(type, static_cast<int32_t>(mux_->CurrentOutput()), id)) return E_FAIL;
    if (!muxcore::PesIdIsExclusive(id)) return S_OK;
    CAutoLock guard(&config_.ValueLock());
    for (const muxcore::InputStream* other : core_->GetProgram()->Inputs())
        if (other != core_ && other->HasStreamType() && other->Settings().streamPesId == id) return E_FAIL;
    return S_OK;
}

// The muxing thread, between passes: the core's lock is free.
void CPin_In::PublishReadouts() {
    const int32_t bitrate = core_->RealBitrate();
    const int64_t pts = core_->CurrentPinPts();
    const std::vector<uint8_t>& format = core_->InternalMediaType();
    CAutoLock guard(&config_.ValueLock());
    own_.realBitrate = bitrate;
    own_.currentPinPts = pts;
    if (!format.empty() && (!own_.mediaTypeInternal || internalType_.FormatLength() != format.size() ||
                            !std::equal(format.begin(), format.end(), internalType_.Format()))) {
        // "mediatype filled internally": the media type the H.264 scanner found.
        internalType_.SetType(&kMtVideo);
        internalType_.SetSubtype(&kStH264);
        internalType_.SetFormatType(&kFmtMpeg2Video);
        internalType_.SetTemporalCompression(TRUE);
        internalType_.SetVariableSize();
        if (internalType_.SetFormat(const_cast<BYTE*>(format.data()), static_cast<ULONG>(format.size())))
            own_.mediaTypeInternal = reinterpret_cast<unsigned char*>(static_cast<AM_MEDIA_TYPE*>(&internalType_));
    }
}

// A streaming thread that waits for room leaves within one step once the
// filter closes, so the receive lock comes free.
void CPin_In::EndInput() {
    CAutoLock lock(&receiveLock_);
    if (attached_ && !ended_) {
        ended_ = true;
        core_->EndOfStream();
    }
}

STDMETHODIMP CPin_In::Receive(IMediaSample* sample) {
    if (Dead()) return kDeadPin;
    CAutoLock lock(&receiveLock_);
    HRESULT hr = CBaseInputPin::Receive(sample);
    if (hr != S_OK) return hr;
    if (mux_->Stopping() || !attached_) return S_FALSE;
    // A closed run drops what arrives until a Run starts the next stream;
    // upstream keeps delivering meanwhile.
    if (mux_->Closing()) return S_OK;
    if (ended_) return S_FALSE;
    BYTE* data = nullptr;
    if (FAILED(sample->GetPointer(&data)) || !data) return S_FALSE;
    const long length = sample->GetActualDataLength();
    REFERENCE_TIME start = 0, stop = 0;
    int64_t time = muxcore::kNoTime;
    if (SUCCEEDED(sample->GetTime(&start, &stop)) && (m_SampleProps.dwSampleFlags & AM_SAMPLE_TIMEVALID)) time = start;
    if (length <= 0) return S_OK;
    PushWaiting(data, static_cast<size_t>(length), time);
    if (time != muxcore::kNoTime) lastTime_ = time;
    return S_OK;
}

// Appends to the core input; while it is full, signals the muxing thread and
// waits in steps, until the data fit or the pin flushes or stops (S_FALSE).
HRESULT CPin_In::PushWaiting(const uint8_t* data, size_t length, int64_t time) {
    for (;;) {
        const muxcore::HRESULT_T r = core_->Push(data, length, time);
        if (r != muxcore::kS_FALSE) {
            mux_->Kick();
            return muxcore::Failed(r) ? S_FALSE : S_OK;
        }
        mux_->Kick();
        WaitForSingleObject(mux_->DataEvent(), 50);
        if (mux_->Closing()) return S_OK;
        if (mux_->Stopping() || IsFlushing()) return mux_->Stopping() && !IsFlushing() ? E_ABORT : S_FALSE;
    }
}

STDMETHODIMP CPin_In::EndOfStream() {
    if (Dead()) return kDeadPin;
    CAutoLock lock(&receiveLock_);
    if (attached_ && !ended_) {
        ended_ = true;
        core_->EndOfStream();
        mux_->Kick();
    }
    return S_OK;
}

STDMETHODIMP CPin_In::BeginFlush() {
    if (Dead()) return kDeadPin;
    {
        CAutoLock lock(m_pLock);
        HRESULT hr = CBaseInputPin::BeginFlush();
        if (FAILED(hr)) return hr;
    }
    SetEvent(mux_->DataEvent());
    mux_->OnInputBeginFlush();
    return S_OK;
}

STDMETHODIMP CPin_In::EndFlush() {
    if (Dead()) return kDeadPin;
    {
        CAutoLock lock(m_pLock);
        HRESULT hr = CBaseInputPin::EndFlush();
        if (FAILED(hr)) return hr;
    }
    mux_->OnInputEndFlush();
    return S_OK;
}

// ------------------------------------------------------------- output pin

CPin_Out::CPin_Out(CM72* filter, CCritSec* lock, HRESULT* phr)
    : CBaseOutputPin("M72 output", filter, lock, phr, L"Out"), mux_(filter) {}

STDMETHODIMP CPin_Out::NonDelegatingQueryInterface(REFIID riid, void** ppv) {
    if (riid == IID_IMediaSeeking || riid == IID_IMediaPosition) {
        if (!ppv) return E_POINTER;
        *ppv = nullptr;
        for (CPin_In* in : mux_->Inputs()) {
            IPin* upstream = in->GetConnected();
            if (upstream && SUCCEEDED(upstream->QueryInterface(riid, ppv))) return S_OK;
        }
        return E_FAIL;
    }
    return CBaseOutputPin::NonDelegatingQueryInterface(riid, ppv);
}

HRESULT CPin_Out::CheckMediaType(const CMediaType* mt) {
    if (!mt) return E_POINTER;
    const GUID& want = mux_->CurrentOutput() == 1 ? kStMpeg2Program : kStMpeg2Transport;
    return mt->majortype == kMtStream && mt->subtype == want ? S_OK : S_FALSE;
}

HRESULT CPin_Out::GetMediaType(int position, CMediaType* mt) {
    if (!mt) return E_POINTER;
    if (position < 0) return E_INVALIDARG;
    if (position > 0) return VFW_S_NO_MORE_ITEMS;
    mt->InitMediaType();
    mt->SetType(&kMtStream);
    mt->SetSubtype(mux_->CurrentOutput() == 1 ? &kStMpeg2Program : &kStMpeg2Transport);
    return S_OK;
}

HRESULT CPin_Out::DecideBufferSize(IMemAllocator* alloc, ALLOCATOR_PROPERTIES* props) {
    props->cBuffers = 10;
    props->cbBuffer = mux_->Config().Snapshot().outputBufferSize;
    props->cbAlign = 1;
    props->cbPrefix = 0;
    ALLOCATOR_PROPERTIES actual = {};
    HRESULT hr = alloc->SetProperties(props, &actual);
    if (FAILED(hr)) return hr;
    return actual.cbBuffer > 0 ? S_OK : E_FAIL;
}

HRESULT CPin_Out::CompleteConnect(IPin* receivePin) {
    toFileWriter_ = false;
    PIN_INFO info = {};
    if (receivePin && SUCCEEDED(receivePin->QueryPinInfo(&info)) && info.pFilter) {
        CLSID clsid = GUID_NULL;
        if (SUCCEEDED(info.pFilter->GetClassID(&clsid))) toFileWriter_ = clsid == kClsidFileWriter;
        info.pFilter->Release();
    }
    return CBaseOutputPin::CompleteConnect(receivePin);
}

HRESULT CPin_Out::Active() {
    flushing_ = false;
    return CBaseOutputPin::Active();
}

void CPin_Out::ReleaseWaiters() {
    if (m_pAllocator) m_pAllocator->Decommit();
}

HRESULT CPin_Out::DeliverBytes(const uint8_t* data, uint32_t length, int64_t start, int64_t stop, bool byteTimes) {
    if (!IsConnected() || !m_pAllocator) return VFW_E_NOT_CONNECTED;
    while (length > 0) {
        IMediaSample* sample = nullptr;
        HRESULT hr = GetDeliveryBuffer(&sample, nullptr, nullptr, 0);
        if (FAILED(hr)) return hr;
        BYTE* dst = nullptr;
        sample->GetPointer(&dst);
        const uint32_t room = static_cast<uint32_t>(std::max(sample->GetSize(), 0L));
        const uint32_t n = std::min(room, length);
        if (n == 0) {
            sample->Release();
            return E_FAIL;
        }
        std::memcpy(dst, data, n);
        sample->SetActualDataLength(static_cast<long>(n));
        REFERENCE_TIME t0 = start, t1 = byteTimes ? start + n : stop;
        sample->SetTime(&t0, &t1);
        hr = Deliver(sample);
        sample->Release();
        if (hr != S_OK) return FAILED(hr) ? hr : E_FAIL;
        data += n;
        length -= n;
        if (byteTimes) start += n;
    }
    return S_OK;
}

HRESULT CPin_Out::PassBeginFlush() {
    if (flushing_) return S_OK;
    flushing_ = true;
    return DeliverBeginFlush();
}

HRESULT CPin_Out::PassEndFlush() {
    if (!flushing_) return S_OK;
    flushing_ = false;
    return DeliverEndFlush();
}

// ------------------------------------------------------------- filter

CUnknown* WINAPI CM72::CreateInstance(LPUNKNOWN outer, HRESULT* phr) {
    auto* f = new (std::nothrow) CM72(outer, phr);
    if (!f && phr) *phr = E_OUTOFMEMORY;
    return f;
}

CM72::CM72(LPUNKNOWN outer, HRESULT* phr)
    : CBaseFilter("M72Muxer", outer, &filterLock_, kClsidMuxer), config_(this, &core_.Settings(), &own_, &valueLock_) {
    dataEvent_ = CreateEventW(nullptr, FALSE, FALSE, nullptr);
    threadDone_ = CreateEventW(nullptr, TRUE, TRUE, nullptr);
    HRESULT hr = S_OK;
    out_ = new CPin_Out(this, &filterLock_, &hr);
    config_.ShowOutputDependentRows();
    FirstProgram();
    MakeSpareInput();
    if (phr && FAILED(hr)) *phr = hr;
}

CM72::~CM72() {
    SignalStop();
    StopThread();
    core_.Reset();
    for (CPin_In* pin : inputs_) pin->Retire(core_.TakeInput(pin->Core()));
    for (CProgram* p : programs_) p->NonDelegatingRelease();
    delete out_;
    CloseHandle(dataEvent_);
    CloseHandle(threadDone_);
}

STDMETHODIMP CM72::NonDelegatingQueryInterface(REFIID riid, void** ppv) {
    if (ModuleConfig::IsConfigInterface(riid)) return GetInterface(static_cast<IModuleConfig*>(&config_), ppv);
    if (riid == IID_ISpecifyPropertyPages) return GetInterface(static_cast<ISpecifyPropertyPages*>(this), ppv);
    return CBaseFilter::NonDelegatingQueryInterface(riid, ppv);
}

STDMETHODIMP CM72::GetPages(CAUUID* pages) {
    if (!pages) return E_POINTER;
    // "About" first, then "Settings" (the parameter editor).
    static const GUID kPages[] = {kClsidAboutPage, kClsidSettingsPage};
    pages->cElems = 0;
    pages->pElems = static_cast<GUID*>(CoTaskMemAlloc(sizeof kPages));
    if (!pages->pElems) return E_OUTOFMEMORY;
    std::memcpy(pages->pElems, kPages, sizeof kPages);
    pages->cElems = sizeof kPages / sizeof kPages[0];
    return S_OK;
}

STDMETHODIMP CM72::QueryVendorInfo(LPWSTR* info) {
    if (!info) return E_POINTER;
    static const wchar_t kVendor[] = L"Korvell";
    *info = static_cast<LPWSTR>(CoTaskMemAlloc(sizeof kVendor));
    if (!*info) return E_OUTOFMEMORY;
    std::memcpy(*info, kVendor, sizeof kVendor);
    return S_OK;
}

int CM72::GetPinCount() {
    CAutoLock lock(&filterLock_);
    return 1 + static_cast<int>(inputs_.size());
}

CBasePin* CM72::GetPin(int n) {
    CAutoLock lock(&filterLock_);
    if (n == 0) return out_;
    if (n >= 1 && n <= static_cast<int>(inputs_.size())) return inputs_[static_cast<size_t>(n - 1)];
    return nullptr;
}

std::vector<CPin_In*> CM72::Inputs() {
    CAutoLock lock(&filterLock_);
    return inputs_;
}

void CM72::MakeSpareInput() {
    CAutoLock lock(&filterLock_);
    for (CPin_In* pin : inputs_)
        if (!pin->IsConnected() && pin->StreamType() == kPinFree) return;
    MakeInput(FirstProgram());
}

CPin_In* CM72::MakeInput(CProgram* program, int number) {
    CAutoLock lock(&filterLock_);
    auto taken = [this](int n) {
        for (CPin_In* pin : inputs_)
            if (pin->Number() == n) return true;
        return false;
    };
    int n = number >= 0 && !taken(number) ? number : 0;
    if (number < 0 || n != number)
        while (taken(n)) ++n;
    wchar_t name[32];
    swprintf(name, 32, L"Input%d", n);
    muxcore::InputStream* input = nullptr;
    {
        CAutoLock values(&valueLock_);
        input = core_.AddInput(muxcore::StreamSettings(), program->Core());
    }
    if (!input) return nullptr;
    HRESULT hr = S_OK;
    auto* pin = new (std::nothrow) CPin_In(this, &filterLock_, &hr, n, name, input);
    if (!pin || FAILED(hr)) {
        CAutoLock values(&valueLock_);
        std::unique_ptr<muxcore::InputStream> gone = core_.TakeInput(input);
        if (pin) pin->Retire(std::move(gone));
        return nullptr;
    }
    inputs_.push_back(pin);
    IncrementPinVersion();
    return pin;
}

HRESULT CM72::RemoveInput(CPin_In* pin) {
    CAutoLock lock(&filterLock_);
    if (!IsStoppedState() || pin->IsConnected()) return E_FAIL;
    auto it = std::find(inputs_.begin(), inputs_.end(), pin);
    if (it == inputs_.end()) return E_INVALIDARG;
    std::unique_ptr<muxcore::InputStream> gone;
    {
        CAutoLock values(&valueLock_);
        gone = core_.TakeInput(pin->Core());
    }
    if (!gone) return E_FAIL;
    inputs_.erase(it);
    IncrementPinVersion();
    pin->Retire(std::move(gone));
    return S_OK;
}

CPin_In* CM72::PinOf(const muxcore::InputStream* in) {
    CAutoLock lock(&filterLock_);
    for (CPin_In* pin : inputs_)
        if (pin->Core() == in) return pin;
    return nullptr;
}

long CM72::CurrentOutput() {
    CAutoLock values(&valueLock_);
    return core_.Settings().output;
}

std::vector<CProgram*> CM72::Programs() {
    CAutoLock lock(&filterLock_);
    return programs_;
}

CProgram* CM72::FirstProgram() {
    CAutoLock lock(&filterLock_);
    return programs_.empty() ? AddProgram() : programs_.front();
}

CProgram* CM72::FindProgram(IUnknown* unknown) {
    if (!unknown) return nullptr;
    CAutoLock lock(&filterLock_);
    IModuleConfig* config = nullptr;
    if (FAILED(unknown->QueryInterface(IID_IModuleConfig, reinterpret_cast<void**>(&config)))) return nullptr;
    config->Release();
    for (CProgram* p : programs_)
        if (p->Interface() == config) return p;
    return nullptr;
}

CProgram* CM72::FindProgram(const muxcore::Program* program) {
    CAutoLock lock(&filterLock_);
    for (CProgram* p : programs_)
        if (p->Core() == program) return p;
    return nullptr;
}

CPin_In* CM72::FindInput(IUnknown* unknown) {
    if (!unknown) return nullptr;
    CAutoLock lock(&filterLock_);
    IModuleConfig* config = nullptr;
    if (FAILED(unknown->QueryInterface(IID_IModuleConfig, reinterpret_cast<void**>(&config)))) return nullptr;
    config->Release();
    for (CPin_In* pin : inputs_)
        if (pin->Interface() == config) return pin;
    return nullptr;
}

CProgram* CM72::AddProgram() {
    CAutoLock lock(&filterLock_);
    muxcore::Program* core = nullptr;
    muxcore::ProgramSettings given;
    {
        CAutoLock values(&valueLock_);
        // "Program #" and "Program ID": the core's lowest free ones.
        core = core_.AddProgram();
        if (core) given = core->Settings();
    }
    if (!core) return nullptr;
    auto* program = new (std::nothrow) CProgram(this, core);
    if (!program) {
        CAutoLock values(&valueLock_);
        core_.RemoveProgram(core);
        return nullptr;
    }
    program->NonDelegatingAddRef();
    // The table starts from its defaults: the core's numbers again.
    program->Store(kProgramNumber, given.programNumber);
    program->Store(kProgramId, given.programId);
    program->ShowTransportRows(CurrentOutput() != kProgramStream);
    programs_.push_back(program);
    return program;
}

HRESULT CM72::RemoveProgram(CProgram* program) {
    CAutoLock lock(&filterLock_);
    if (!IsStoppedState()) return E_FAIL;
    std::unique_ptr<muxcore::Program> gone;
    {
        CAutoLock values(&valueLock_);
        if (muxcore::Failed(core_.RemoveProgram(program->Core(), &gone))) return E_FAIL;
    }
    programs_.erase(std::find(programs_.begin(), programs_.end(), program));
    program->Detach(std::move(gone));
    program->NonDelegatingRelease();
    return S_OK;
}

HRESULT CM72::SetOutput(long output) {
    CAutoLock lock(&filterLock_);
    std::vector<std::unique_ptr<muxcore::Program>> removed;
    {
        CAutoLock values(&valueLock_);
        if (muxcore::Failed(core_.SetOutput(static_cast<int32_t>(output), &removed))) return E_FAIL;
    }
    for (std::unique_ptr<muxcore::Program>& gone : removed) {
        CProgram* program = FindProgram(gone.get());
        if (!program) continue;
        programs_.erase(std::find(programs_.begin(), programs_.end(), program));
        program->Detach(std::move(gone));
        program->NonDelegatingRelease();
    }
    for (CProgram* p : programs_) p->ShowTransportRows(output != kProgramStream);
    return S_OK;
}

namespace {

HRESULT WriteLong(IStream* stream, long v) {
    ULONG done = 0;
    HRESULT hr = stream->Write(&v, sizeof v, &done);
    return SUCCEEDED(hr) && done == sizeof v ? S_OK : STG_E_MEDIUMFULL;
}

HRESULT ReadLong(IStream* stream, long* v) {
    ULONG done = 0;
    HRESULT hr = stream->Read(v, sizeof *v, &done);
    return SUCCEEDED(hr) && done == sizeof *v ? S_OK : E_FAIL;
}

}  // namespace

// After the muxer's image: the programs with a connected input, each with its
// image and its connected inputs (pin number and image).
HRESULT CM72::SaveStructure(IStream* stream) {
    CAutoLock lock(&filterLock_);
    std::vector<CProgram*> used;
    for (CProgram* p : programs_)
        for (CPin_In* pin : inputs_)
            if (pin->Program() == p && pin->IsConnected()) {
                used.push_back(p);
                break;
            }
    HRESULT hr = WriteLong(stream, static_cast<long>(used.size()));
    for (CProgram* p : used) {
        if (FAILED(hr)) return hr;
        hr = p->Save(stream, FALSE);
        std::vector<CPin_In*> pins;
        for (CPin_In* pin : inputs_)
            if (pin->Program() == p && pin->IsConnected()) pins.push_back(pin);
        if (SUCCEEDED(hr)) hr = WriteLong(stream, static_cast<long>(pins.size()));
        for (CPin_In* pin : pins) {
            if (SUCCEEDED(hr)) hr = WriteLong(stream, pin->Number());
            if (SUCCEEDED(hr)) hr = pin->Config().Save(stream, FALSE);
        }
    }
    return hr;
}

// Replaces every (unconnected) input and program by the stored ones.
HRESULT CM72::LoadStructure(IStream* stream) {
    CAutoLock lock(&filterLock_);
    {
        CAutoLock values(&valueLock_);
        for (CPin_In* pin : inputs_) pin->Retire(core_.TakeInput(pin->Core()));
        inputs_.clear();
        // The core keeps one program: the first takes the first stored image.
        while (programs_.size() > 1) {
            std::unique_ptr<muxcore::Program> gone;
            core_.RemoveProgram(programs_.back()->Core(), &gone);
            programs_.back()->Detach(std::move(gone));
            programs_.back()->NonDelegatingRelease();
            programs_.pop_back();
        }
    }
    long count = 0;
    HRESULT hr = ReadLong(stream, &count);
    for (long i = 0; SUCCEEDED(hr) && i < count && i < 1000; ++i) {
        CProgram* program = i == 0 ? FirstProgram() : AddProgram();
        if (!program) return E_OUTOFMEMORY;
        hr = program->Load(stream);
        if (FAILED(hr)) break;
        // Numbers and PIDs stay unique among the programs.
        muxcore::ProgramSettings kept;
        {
            CAutoLock values(&valueLock_);
            core_.KeepProgramIdsUnique(program->Core());
            kept = program->Core()->Settings();
        }
        program->Store(kProgramNumber, kept.programNumber);
        program->Store(kProgramId, kept.programId);
        long pins = 0;
        hr = ReadLong(stream, &pins);
        for (long k = 0; SUCCEEDED(hr) && k < pins && k < 1000; ++k) {
            long number = 0;
            hr = ReadLong(stream, &number);
            CPin_In* pin = SUCCEEDED(hr) ? MakeInput(program, static_cast<int>(number)) : nullptr;
            if (SUCCEEDED(hr) && !pin) hr = E_OUTOFMEMORY;
            if (SUCCEEDED(hr)) hr = pin->Config().Load(stream);
            if (SUCCEEDED(hr)) {
                long pid = 0;
                {
                    CAutoLock values(&valueLock_);
                    pid = core_.AllocatePid(pin->Core()->Settings().streamId, pin->Core());
                }
                pin->Config().Store(kStreamId, pid);
            }
        }
    }
    FirstProgram();
    MakeSpareInput();
    IncrementPinVersion();
    return hr;
}

void CM72::OnInputConnected() {
    MakeSpareInput();
}

void CM72::ReconnectOutput() {
    if (!out_->IsConnected() || !m_pGraph) return;
    IPin* other = out_->GetConnected();
    other->AddRef();
    m_pGraph->Disconnect(out_);
    m_pGraph->Disconnect(other);
    m_pGraph->ConnectDirect(out_, other, nullptr);
    other->Release();
}

void CM72::OnInputBeginFlush() {
    CAutoLock lock(&filterLock_);
    int connected = 0;
    for (CPin_In* pin : inputs_) connected += pin->IsConnected() ? 1 : 0;
    if (++flushingInputs_ < connected) return;
    flushingInputs_ = 0;
    // Downstream lets go of what it holds, so a delivery in progress ends.
    out_->PassBeginFlush();
    if (IsStoppedState() || !core_.Started()) return;
    // What the inputs and the core hold is dropped: the core starts again
    // empty once the inputs end their flush.
    const auto receiving = HoldReceiving();
    SignalStop();
    StopThread();
    bool any = false;
    if (SUCCEEDED(StartCore(&any)) && any) restartAfterFlush_ = true;
    stopping_ = false;
}

void CM72::OnInputEndFlush() {
    CAutoLock lock(&filterLock_);
    out_->PassEndFlush();
    for (CPin_In* pin : inputs_)
        if (pin->IsConnected() && pin->IsFlushing()) return;
    if (restartAfterFlush_ && !IsStoppedState()) {
        restartAfterFlush_ = false;
        StartThread();
    }
}

void CM72::SignalStop() {
    stopping_ = true;
    Kick();
    SetEvent(dataEvent_);
    core_.Interrupt();  // also a wait for the first data
}

void CM72::Kick() {
    {
        std::lock_guard<std::mutex> g(workLock_);
        ++work_;
    }
    workCv_.notify_one();
}

// A graph stops its filters downstream first, after pausing them all: the
// pause from running is the last moment downstream still takes data, so the
// stream is closed there. A Run after it starts a new stream.
STDMETHODIMP CM72::Pause() {
    CAutoLock lock(&filterLock_);
    if (m_State == State_Running) {
        FinishStream();
        closedAtPause_ = closing_.load();
    }
    if (m_State != State_Stopped) return CBaseFilter::Pause();
    StopThread();  // a thread that ended at the end of the last run
    stopping_ = false;
    closing_ = false;
    closedAtPause_ = false;
    flushingInputs_ = 0;
    restartAfterFlush_ = false;
    config_.Store(kFilterState, 1);
    {
        CAutoLock values(&valueLock_);
        own_.muxerTime = 0;
        own_.paddingPackets = 0;
        own_.realOutputBitrate = 0;
    }
    bool any = false;
    HRESULT hr = S_OK;
    {
        const auto receiving = HoldReceiving();
        hr = StartCore(&any);
    }
    if (FAILED(hr)) return hr;
    hr = CBaseFilter::Pause();
    if (FAILED(hr)) return hr;
    if (any) StartThread();
    return hr;
}

void CM72::StartThread() {
    ResetEvent(threadDone_);
    {
        std::lock_guard<std::mutex> g(workLock_);
        work_ = 1;
    }
    thread_ = std::thread(&CM72::ThreadProc, this);
}

std::vector<std::unique_ptr<CAutoLock>> CM72::HoldReceiving() {
    std::vector<std::unique_ptr<CAutoLock>> held;
    for (CPin_In* pin : inputs_) held.push_back(std::make_unique<CAutoLock>(pin->ReceiveLock()));
    return held;
}

HRESULT CM72::StartCore(bool* any) {
    for (CPin_In* pin : inputs_) pin->AttachLocked(false);
    attached_.clear();
    {
        std::lock_guard<std::mutex> g(sink_.lock);
        sink_.pieces.clear();
        sink_.ended = false;
        sink_.overloadDue = false;
    }
    piecesOut_ = 0;
    *any = false;
    for (CPin_In* pin : inputs_)
        if (pin->IsConnected() && pin->StreamType() != kPinFree) attached_.push_back(pin);
    muxcore::HRESULT_T started = muxcore::kS_OK;
    {
        CAutoLock values(&valueLock_);
        core_.Reset();
        started = core_.Start(&sink_, out_->ToFileWriter());
    }
    if (muxcore::Failed(started)) {
        attached_.clear();
        return E_FAIL;
    }
    for (CPin_In* pin : attached_) pin->AttachLocked(true);
    *any = !attached_.empty();
    return S_OK;
}

STDMETHODIMP CM72::Run(REFERENCE_TIME start) {
    CAutoLock lock(&filterLock_);
    if (m_State == State_Paused && closedAtPause_) {
        // Every receive lock while the core starts again: a sample that
        // arrives meanwhile waits for the new run instead of being refused
        // (a refusal ends the upstream thread).
        const auto receiving = HoldReceiving();
        closedAtPause_ = false;
        SignalStop();
        StopThread();
        stopping_ = false;
        closing_ = false;
        bool any = false;
        HRESULT hr = StartCore(&any);
        if (FAILED(hr)) return hr;
        if (any) StartThread();
    }
    return CBaseFilter::Run(start);
}

void CM72::FinishStream() {
    constexpr DWORD kStepMs = 20;
    constexpr DWORD kStallMs = 300;   // downstream took nothing for this long: give up
    constexpr DWORD kLimitMs = 3000;  // the whole close at most
    if (!core_.Started() || !thread_.joinable() || WaitForSingleObject(threadDone_, 0) == WAIT_OBJECT_0) return;
    // A stream that has not begun has nothing to close.
    if (piecesOut_.load() == 0) return;
    // The stream ends where every input still delivering has data: a source
    // faster than real time does not stretch it.
    int64_t end = muxcore::kNoTime;
    for (CPin_In* pin : attached_)
        if (!pin->HasEnded() && pin->LastTime() != muxcore::kNoTime)
            end = end == muxcore::kNoTime ? pin->LastTime() : std::min(end, pin->LastTime());
    closing_ = true;
    for (CPin_In* pin : inputs_) pin->EndInput();
    core_.EndAllInputs(end);
    Kick();
    uint64_t seen = piecesOut_.load();
    DWORD stalled = 0;
    for (DWORD waited = 0; waited < kLimitMs && stalled < kStallMs; waited += kStepMs) {
        if (WaitForSingleObject(threadDone_, kStepMs) == WAIT_OBJECT_0) return;
        const uint64_t now = piecesOut_.load();
        stalled = now == seen ? stalled + kStepMs : 0;
        seen = now;
    }
}

STDMETHODIMP CM72::Stop() {
    CAutoLock lock(&filterLock_);
    config_.Store(kFilterState, 0);
    if (m_State != State_Stopped) {
        FinishStream();
        SignalStop();
        // A wait for a free output buffer ends now; the streaming threads
        // leave their waits for room in the next 50 ms.
        out_->ReleaseWaiters();
        StopThread();
    }
    // The structure may change again: the run ends here.
    for (CPin_In* pin : inputs_) pin->Attach(false);
    attached_.clear();
    {
        CAutoLock values(&valueLock_);
        core_.Reset();
    }
    return CBaseFilter::Stop();
}

void CM72::StopThread() {
    if (!thread_.joinable()) return;
    WaitForSingleObject(threadDone_, 10000);
    thread_.join();
}

muxcore::HRESULT_T CM72::Sink::Deliver(const muxcore::OutputSample& s) {
    Piece p;
    p.bytes.assign(s.data, s.data + s.length);
    p.start = s.start;
    p.stop = s.stop;
    p.byteTimes = s.byteTimes;
    std::lock_guard<std::mutex> g(lock);
    pieces.push_back(std::move(p));
    return muxcore::kS_OK;
}

void CM72::Sink::EndOfStream() {
    std::lock_guard<std::mutex> g(lock);
    ended = true;
}

void CM72::Sink::OnOverload(const muxcore::OverloadReport& r) {
    std::lock_guard<std::mutex> g(lock);
    overload = r;
    overloadDue = true;
}

void CM72::ReportOverload() {
    muxcore::OverloadReport r;
    {
        std::lock_guard<std::mutex> g(sink_.lock);
        if (!sink_.overloadDue) return;
        sink_.overloadDue = false;
        r = sink_.overload;
    }
    const int64_t lateMs = std::max<int64_t>(0, (r.delivered - r.dts) / 10000);
    NotifyEvent(kEcMuxOverload, r.input, static_cast<LONG_PTR>(lateMs));
}

void CM72::DeliverPending() {
    for (;;) {
        Sink::Piece p;
        {
            std::lock_guard<std::mutex> g(sink_.lock);
            if (sink_.pieces.empty()) return;
            p = std::move(sink_.pieces.front());
            sink_.pieces.pop_front();
        }
        if (stopping_) continue;
        const HRESULT hr =
            out_->DeliverBytes(p.bytes.data(), static_cast<uint32_t>(p.bytes.size()), p.start, p.stop, p.byteTimes);
        if (FAILED(hr)) {
            std::lock_guard<std::mutex> g(sink_.lock);
            sink_.pieces.clear();
            return;
        }
        ++piecesOut_;
    }
}

void CM72::ThreadProc() {
    muxcore::Multiplexer* core = &core_;
    while (!stopping_) {
        {
            std::unique_lock<std::mutex> g(workLock_);
            workCv_.wait_for(g, std::chrono::milliseconds(100), [this] { return stopping_.load() || work_ > 0; });
            work_ = 0;
        }
        if (stopping_) break;
        // The first pass waits for a first time stamp on every input (for
        // at most "Initial data waiting mode"), so that the common time base
        // starts at the earliest of them.
        if (!core->WaitFirstData()) break;
        const bool finished = core->RunUntilIdle();
        SetEvent(dataEvent_);
        for (CPin_In* pin : attached_) pin->PublishReadouts();
        ReportOverload();
        DeliverPending();
        const int64_t now = core->MuxerTime();
        const int64_t first = core->Output().FirstDeliveryTime();
        const uint64_t padding = core->PaddingPackets();
        const uint64_t delivered = core->Output().BytesDelivered();
        {
            CAutoLock values(&valueLock_);
            own_.muxerTime = now;
            own_.paddingPackets = static_cast<long long>(padding);
            if (first >= 0 && now > first) {
                const double rate = static_cast<double>(delivered) * 8.0 / (static_cast<double>(now - first) / 1e7);
                own_.realOutputBitrate = rate >= static_cast<double>(std::numeric_limits<long>::max())
                                             ? std::numeric_limits<long>::max()
                                             : static_cast<long>(rate);
            }
        }
        if (finished) {
            // A closed run may go on after a pause: no end of stream then.
            if (!stopping_ && !closing_) out_->DeliverEndOfStream();
            break;
        }
    }
    SetEvent(threadDone_);
}

// ------------------------------------------------------------- programs

CProgram::CProgram(CM72* filter, muxcore::Program* program)
    : CUnknown("M72Program", nullptr),
      CModuleConfigImpl<muxcore::ProgramSettings>(&kClsidProgramConfig, kMuxerSettingsVersion, &program->Settings(),
                                                  filter->ValueLock()),
      filter_(filter),
      program_(program) {
    BuildProgramTable(*this, &own_);
}

STDMETHODIMP CProgram::NonDelegatingQueryInterface(REFIID riid, void** ppv) {
    if (ModuleConfig::IsConfigInterface(riid)) return GetInterface(static_cast<IModuleConfig*>(this), ppv);
    return CUnknown::NonDelegatingQueryInterface(riid, ppv);
}

void CProgram::Detach(std::unique_ptr<muxcore::Program> program) {
    detached_ = std::move(program);
}

void CProgram::Store(const GUID& id, long long value) {
    SetParamNow(*this, id, value);
}

void CProgram::ShowTransportRows(bool visible) {
    ShowParam(*this, kProgramId, visible);
    ShowParam(*this, kPcrPid, visible);
    ShowParam(*this, kUserPcrPid, visible);
}

std::vector<CPin_In*> CProgram::Inputs() {
    std::vector<CPin_In*> mine;
    for (CPin_In* pin : filter_->Inputs())
        if (pin->Core()->GetProgram() == program_) mine.push_back(pin);
    return mine;
}

STDMETHODIMP CProgram::SetValue(const GUID* id, const VARIANT* value) {
    if (!id || !value) return E_POINTER;
    CAutoLock lock(filter_->FilterLock());
    if (*id == kProgramId || *id == kUserPcrPid || *id == kPcrPid) {
        long v = 0;
        HRESULT hr = ToLong(value, &v);
        if (FAILED(hr)) return hr;
        {
            CAutoLock values(&ValueLock());
            if (*id == kProgramId && !program_->ProgramIdFree(v)) return E_FAIL;
            if (*id == kUserPcrPid && v != 0 && filter_->Core().AllocatePid(v, nullptr) != v) return E_FAIL;
            if (*id == kPcrPid && !program_->CarriesPid(v)) return E_FAIL;
        }
        return CModuleConfig::SetValue(id, value);
    }
    if (*id == kAddInput) {
        if (!filter_->IsStoppedState() || detached_) return E_FAIL;
        for (CPin_In* pin : Inputs())
            if (pin->StreamType() == kPinMpeg2Program) return E_FAIL;
        CPin_In* pin = filter_->MakeInput(this);
        if (!pin) return E_OUTOFMEMORY;
        if (value->vt == (VT_BYREF | VT_UNKNOWN) && value->ppunkVal) {
            *value->ppunkVal = pin->Interface();
            pin->Interface()->AddRef();
        }
        return S_OK;
    }
    if (*id == kRemoveInput) {
        if (!filter_->IsStoppedState()) return E_FAIL;
        CPin_In* pin = value->vt == VT_UNKNOWN ? filter_->FindInput(value->punkVal) : nullptr;
        if (!pin || pin->Program() != this) return E_INVALIDARG;
        return filter_->RemoveInput(pin);
    }
    return CModuleConfig::SetValue(id, value);
}

// Input enumeration, as the muxer enumerates programs.
STDMETHODIMP CProgram::GetValue(const GUID* id, VARIANT* value) {
    if (id && *id == kEnumInputs) {
        if (!value) return E_POINTER;
        return HandOutNext(Inputs(), value, [this](IUnknown* u) { return filter_->FindInput(u); });
    }
    return CModuleConfig::GetValue(id, value);
}

// A "PCR PID" of the program's own ends a user-defined one; without a
// user-defined one the first connected input carries the PCRs again.
HRESULT CProgram::ApplyChanges(long count, const GUID* ids, VARIANT*) {
    muxcore::ProgramSettings before;
    {
        CAutoLock values(&ValueLock());
        before = program_->Settings();
    }
    StoreWritable(*this, count, ids);
    muxcore::ProgramSettings after;
    {
        CAutoLock values(&ValueLock());
        after = program_->Settings();
    }
    if (before.userDefinedPcrPid != 0 && after.userDefinedPcrPid == before.userDefinedPcrPid &&
        after.pcrPid != before.pcrPid) {
        Store(kUserPcrPid, 0);
    } else if (before.userDefinedPcrPid != 0 && after.userDefinedPcrPid == 0) {
        long first = 0;
        for (CPin_In* pin : Inputs())
            if (pin->IsConnected()) {
                CAutoLock values(&ValueLock());
                first = pin->Core()->Settings().streamId;
                break;
            }
        Store(kPcrPid, first);
    }
    return S_OK;
}

}  // namespace muxora
