#include "codec/multiplexer/filter/MuxoraFilter.h"

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
// the first one, a variant with an item the next; past the last E_FAIL.
template <class Item, class Find>
HRESULT HandOutNext(const std::vector<Item*>& items, VARIANT* value, Find find) {
    size_t next = 0;
    if (value->vt == VT_UNKNOWN) {
        Item* current = find(value->punkVal);
        if (!current) return E_FAIL;
        next = static_cast<size_t>(std::find(items.begin(), items.end(), current) - items.begin()) + 1;
    }
    if (next >= items.size()) return E_FAIL;
    VariantInit(value);
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

ConfigMuxerImpl::ConfigMuxerImpl(CM72* filter, ConfigElMux* values)
    : CModuleConfigPart<ConfigElMux>(filter, &kClsidMuxer, kMuxerSettingsVersion, values), filter_(filter) {
    BuildMuxerTable(*this);
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
        const ConfigElMux m = Snapshot();
        if (m.output == kProgramStream || (m.output == kTransportStream && m.dmbCompatibility == 1) ||
            !filter_->IsStoppedState())
            return E_FAIL;
        CProgram* program = filter_->AddProgram();
        if (!program) return E_OUTOFMEMORY;
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
    if (!OutputSettable(value)) return E_FAIL;
    const std::vector<CPin_In*> pins = filter_->Inputs();
    if (value == kTransportStream)
        for (CPin_In* pin : pins)
            if (!TransportCarries(pin->StreamType())) return E_FAIL;
    if (value == kTransportStream) Store(kCompatibility, kCompatNone);
    if (Snapshot().output == value) return S_OK;
    Store(kOutput, value);
    filter_->ReconnectOutput();
    filter_->ApplyOutputStructure(value);
    ShowOutputDependentRows();
    return S_OK;
}

HRESULT ConfigMuxerImpl::SetCompatibility(long value) {
    CAutoLock lock(filter_->FilterLock());
    const ConfigElMux m = Snapshot();
    if (!CompatibilityFits(value, m.output)) return E_FAIL;
    const std::vector<CPin_In*> pins = filter_->Inputs();
    if (value != 0)
        for (CPin_In* pin : pins)
            if (pin->StreamType() != kPinFree && !pin->AcceptsCompatibility(value, m.output)) return S_FALSE;
    Store(kCompatibility, value);
    for (CPin_In* pin : pins) {
        if (pin->StreamType() == kPinFree) continue;
        pin->Config().Store(kPesPacketSize, PesPacketSizeFor(value));
        pin->Config().Store(kPaddingSmall, PaddingInSmallPacketsFor(value));
    }
    return S_OK;
}

HRESULT ConfigMuxerImpl::SetDmb(long value) {
    CAutoLock lock(filter_->FilterLock());
    if (value != 0 && value != 1) return E_FAIL;
    if (value == 1)
        for (CPin_In* pin : filter_->Inputs()) {
            const int t = pin->StreamType();
            if (t != kPinFree && t != kPinH264 && t != kPinAac) return S_FALSE;
        }
    Store(kDmbCompatibility, value);
    return S_OK;
}

HRESULT ConfigMuxerImpl::ApplyChanges(long count, const GUID* ids, VARIANT*) {
    StoreWritable(*this, count, ids);
    for (long i = 0; i < count; ++i)
        if (ids[i] == kOutput) ShowParam(*this, kPcrInterval, Snapshot().output == kTransportStream);
    return S_OK;
}

// The parameter image, then the count of programs with a connected input and
// their images. The only program keeps no parameters of its own yet, so its
// image is empty.
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

ConfigStreamImpl::ConfigStreamImpl(CPin_In* pin, ConfigStream* values)
    : CModuleConfigPart<ConfigStream>(pin, &kClsidStreamConfig, 1, values), pin_(pin) {
    BuildStreamTable(*this);
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
        const long given = pin_->Muxer()->AllocatePid(v, pin_);
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
        CProgram* from = pin_->Program();
        if (from == to) return S_OK;
        pin_->SetProgram(to);
        if (pin_->IsConnected()) {
            from->OnInputLeft(pin_);
            to->OnInputJoined(pin_);
        }
        return S_OK;
    }
    return CModuleConfig::SetValue(id, value);
}

STDMETHODIMP ConfigStreamImpl::GetValue(const GUID* id, VARIANT* value) {
    if (!id || !value) return E_POINTER;
    if (pin_->Dead()) return kDeadPin;
    if (*id == kEndedFlag) {
        VariantInit(value);
        value->vt = VT_INT;
        value->intVal = pin_->HasEnded() && Snapshot().autoCreated == 0 ? 1 : 0;
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
        value->lVal = pin_->IsConnected() || Snapshot().autoCreated ? 1 : 0;
        return S_OK;
    }
    return CModuleConfig::GetValue(id, value);
}

HRESULT ConfigStreamImpl::ApplyChanges(long count, const GUID* ids, VARIANT*) {
    StoreWritable(*this, count, ids);
    return S_OK;
}

// ------------------------------------------------------------- input pin

CPin_In::CPin_In(CM72* filter, CCritSec* lock, HRESULT* phr, int number, const wchar_t* name, CProgram* program)
    : CBaseInputPin("M72 input", filter, lock, phr, name),
      mux_(filter),
      number_(number),
      program_(program),
      config_(this, &values_) {
    CAutoLock guard(&config_.ValueLock());
    values_.streamNumber = number;
}

CPin_In::~CPin_In() = default;

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

void CPin_In::Retire() {
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
    const long type = config_.Snapshot().streamType;
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
        values_.streamType = type;
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
    if (config_.Snapshot().autoCreated) {
        config_.Show(kPesPacketSize, false);
        config_.Show(kAnnouncedBitrate, false);
        config_.Show(kInitialTimeShift, false);
        config_.Show(kPaddingSmall, type != kPinFree);
    }
    config_.Store(kChangingType, 1);
}

bool CPin_In::AcceptsCompatibility(long compat, long output) {
    return muxcore::CheckCompatibility(compat, config_.Snapshot().streamType, output, facts_);
}

HRESULT CPin_In::CompleteConnect(IPin* receivePin) {
    const muxcore::MediaTypeDesc desc = DescribeMediaType(m_mt);
    const int type = muxcore::ClassifyMediaType(desc).streamType;
    const ConfigElMux muxer = mux_->Config().Snapshot();
    muxcore::MuxerSettings ms;
    ms.output = muxer.output;
    ms.dmbCompatibility = muxer.dmbCompatibility;
    muxcore::ConnectFacts facts;
    if (muxcore::Failed(muxcore::ReadConnectFacts(desc, type, ms, facts))) return E_FAIL;
    HRESULT hr = CBaseInputPin::CompleteConnect(receivePin);
    if (FAILED(hr)) return hr;
    facts_ = facts;
    {
        CAutoLock guard(&config_.ValueLock());
        values_.isConnected = 1;
        values_.announcedBitrate = facts.announcedBitrate;
        values_.frequency = facts.frequency;
        values_.announcedFrameRate = facts.announcedFrameRate;
    }
    SetStreamType(type);
    config_.Store(kStreamId, mux_->AllocatePid(config_.Snapshot().streamId, this));
    if (!AcceptsCompatibility(muxer.compatibility, muxer.output)) return E_FAIL;
    program_->OnInputJoined(this);
    mux_->OnInputConnected();
    return S_OK;
}

HRESULT CPin_In::BreakConnect() {
    const bool wasTyped = config_.Snapshot().isConnected != 0;
    config_.ResetToDefaults();
    {
        CAutoLock guard(&config_.ValueLock());
        values_.isConnected = 0;
        values_.announcedBitrate = 0;
        values_.frequency = 0;
        values_.announcedFrameRate = 0;
    }
    SetStreamType(0);
    facts_ = muxcore::ConnectFacts();
    {
        CAutoLock guard(&config_.ValueLock());
        esInfo_.clear();
        esPendingBytes_ = nullptr;
        esPendingLength_ = -1;
    }
    HRESULT hr = CBaseInputPin::BreakConnect();
    if (wasTyped) program_->OnInputLeft(this);
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

void CPin_In::Attach(muxcore::InputStream* in) {
    CAutoLock lock(&receiveLock_);
    in_ = in;
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
    if (static_cast<long>(esInfo_.size()) + n > kMaxEsInfo) return E_FAIL;
    esInfo_.push_back(bytes[0]);
    esInfo_.push_back(static_cast<uint8_t>(n - 2));
    esInfo_.insert(esInfo_.end(), bytes + 2, bytes + n);
    return S_OK;
}

HRESULT CPin_In::CheckPesId(long id) {
    const long type = StreamType();
    if (!muxcore::PesIdFitsType(type, static_cast<int32_t>(mux_->CurrentOutput()), id)) return E_FAIL;
    if (!muxcore::PesIdIsExclusive(id)) return S_OK;
    for (CPin_In* other : program_->Inputs())
        if (other != this && other->IsConnected() && other->Config().Snapshot().streamPesId == id) return E_FAIL;
    return S_OK;
}

void CPin_In::PublishReadouts() {
    muxcore::InputStream* in = in_;
    if (!in) return;
    CAutoLock guard(&config_.ValueLock());
    values_.realBitrate = in->RealBitrate();
    values_.currentPinPts = in->CurrentPinPts();
}

// A streaming thread that waits for room leaves within one step once the
// filter closes, so the receive lock comes free.
void CPin_In::EndInput() {
    CAutoLock lock(&receiveLock_);
    if (in_ && !ended_) {
        ended_ = true;
        in_->EndOfStream();
    }
}

muxcore::StreamSettings CPin_In::CoreSettings() {
    const ConfigStream c = config_.Snapshot();
    muxcore::StreamSettings s;
    s.streamType = c.streamType;
    s.pesPacketSize = c.pesPacketSize;
    s.paddingInSmallPackets = c.paddingInSmallPackets;
    s.putPcr = c.putPcr;
    s.inputBufferSize = c.inputBufferSize;
    s.initialTimeShiftMs = c.initialTimeShiftMs;
    s.streamId = c.streamId;
    s.streamPesId = c.streamPesId;
    s.announcedBitrate = c.announcedBitrate;
    s.correctBitrate = c.correctBitrate;
    s.correctEbSize = c.correctEbSize;
    s.frequency = c.frequency;
    muxcore::ApplyConnectFacts(facts_, s);
    s.announcedBitrate = c.announcedBitrate;
    s.frequency = c.frequency;
    const muxcore::MediaTypeDesc desc = DescribeMediaType(m_mt);
    if (c.streamType == kPinPcm) s.pcm.littleEndian = !muxcore::ClassifyMediaType(desc).dvdLpcm;
    // Raw AAC frames: the core puts an ADTS header made from the
    // AudioSpecificConfig after the wave format in front of each.
    if (c.streamType == kPinAac && m_mt.formattype == kFmtWaveFormatEx && m_mt.pbFormat &&
        m_mt.cbFormat >= sizeof(WAVEFORMATEX) + 2 &&
        reinterpret_cast<const WAVEFORMATEX*>(m_mt.pbFormat)->cbSize >= 2) {
        s.aacConfig[0] = m_mt.pbFormat[sizeof(WAVEFORMATEX)];
        s.aacConfig[1] = m_mt.pbFormat[sizeof(WAVEFORMATEX) + 1];
        s.hasAacConfig = true;
    }
    {
        CAutoLock guard(&config_.ValueLock());
        s.esInfo = esInfo_;
    }
    char name[32];
    std::snprintf(name, sizeof name, "Input%d", number_);
    s.name = name;
    return s;
}

STDMETHODIMP CPin_In::Receive(IMediaSample* sample) {
    if (Dead()) return kDeadPin;
    CAutoLock lock(&receiveLock_);
    HRESULT hr = CBaseInputPin::Receive(sample);
    if (hr != S_OK) return hr;
    if (mux_->Stopping() || !in_) return S_FALSE;
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
        const muxcore::HRESULT_T r = in_->Push(data, length, time);
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
    if (in_ && !ended_) {
        ended_ = true;
        in_->EndOfStream();
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
    : CBaseFilter("M72Muxer", outer, &filterLock_, kClsidMuxer), config_(this, &values_) {
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
    core_.reset();
    for (CPin_In* pin : inputs_) pin->Retire();
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
    // The "About" and "Settings" pages are not part of this build: listing
    // their class ids would send hosts to objects that do not exist.
    pages->cElems = 0;
    pages->pElems = nullptr;
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
    HRESULT hr = S_OK;
    auto* pin = new (std::nothrow) CPin_In(this, &filterLock_, &hr, n, name, program);
    if (!pin) return nullptr;
    if (FAILED(hr)) {
        pin->Retire();
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
    inputs_.erase(it);
    IncrementPinVersion();
    pin->Retire();
    return S_OK;
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
    auto* program = new (std::nothrow) CProgram(this);
    if (!program) return nullptr;
    program->NonDelegatingAddRef();
    // "Program #": the lowest number from 1 that no program has.
    program->Store(kProgramNumber,
                   AllocateProgramNumber(0, [this](int32_t n) { return ProgramNumberTaken(n, nullptr); }));
    program->Store(kProgramId, AllocatePid(0, nullptr, program));
    program->ShowTransportRows(CurrentOutput() != kProgramStream);
    programs_.push_back(program);
    return program;
}

HRESULT CM72::RemoveProgram(CProgram* program) {
    CAutoLock lock(&filterLock_);
    if (!IsStoppedState() || programs_.size() <= 1) return E_FAIL;
    for (CPin_In* pin : inputs_)
        if (pin->Program() == program && pin->IsConnected()) return E_FAIL;
    // Free inputs of the program move to the first remaining one.
    programs_.erase(std::find(programs_.begin(), programs_.end(), program));
    for (CPin_In* pin : inputs_)
        if (pin->Program() == program) pin->SetProgram(programs_.front());
    program->NonDelegatingRelease();
    return S_OK;
}

void CM72::ApplyOutputStructure(long output) {
    CAutoLock lock(&filterLock_);
    if (output != kProgramStream) {
        for (CProgram* p : programs_) p->ShowTransportRows(true);
        return;
    }
    CProgram* first = FirstProgram();
    for (CPin_In* pin : inputs_) {
        CProgram* from = pin->Program();
        if (from == first) continue;
        pin->SetProgram(first);
        if (pin->IsConnected()) {
            from->OnInputLeft(pin);
            first->OnInputJoined(pin);
        }
    }
    while (programs_.size() > 1) {
        programs_.back()->NonDelegatingRelease();
        programs_.pop_back();
    }
    first->Store(kProgramNumber, 1);
    first->ShowTransportRows(false);
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
    for (CPin_In* pin : inputs_) pin->Retire();
    inputs_.clear();
    for (CProgram* p : programs_) p->NonDelegatingRelease();
    programs_.clear();
    long count = 0;
    HRESULT hr = ReadLong(stream, &count);
    for (long i = 0; SUCCEEDED(hr) && i < count && i < 1000; ++i) {
        CProgram* program = AddProgram();
        if (!program) return E_OUTOFMEMORY;
        hr = program->Load(stream);
        if (FAILED(hr)) break;
        // Numbers and PIDs stay unique among the programs.
        const ConfigProgram c = program->Snapshot();
        program->Store(kProgramNumber,
                       AllocateProgramNumber(static_cast<int32_t>(c.programNumber),
                                             [this, program](int32_t n) { return ProgramNumberTaken(n, program); }));
        program->Store(kProgramId, AllocatePid(c.programId, nullptr, program));
        long pins = 0;
        hr = ReadLong(stream, &pins);
        for (long k = 0; SUCCEEDED(hr) && k < pins && k < 1000; ++k) {
            long number = 0;
            hr = ReadLong(stream, &number);
            CPin_In* pin = SUCCEEDED(hr) ? MakeInput(program, static_cast<int>(number)) : nullptr;
            if (SUCCEEDED(hr) && !pin) hr = E_OUTOFMEMORY;
            if (SUCCEEDED(hr)) hr = pin->Config().Load(stream);
            if (SUCCEEDED(hr)) pin->Config().Store(kStreamId, AllocatePid(pin->Config().Snapshot().streamId, pin));
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

bool CM72::ProgramNumberTaken(long number, const CProgram* self) {
    CAutoLock lock(&filterLock_);
    for (CProgram* p : programs_)
        if (p != self && p->Snapshot().programNumber == number) return true;
    return false;
}

long CM72::AllocatePid(long request, const CPin_In* self, const CProgram* selfProgram) {
    const std::vector<CProgram*> programs = Programs();
    const std::vector<CPin_In*> pins = Inputs();
    auto taken = [&](long pid) {
        for (CProgram* p : programs)
            if (p != selfProgram && p->Snapshot().programId == pid) return true;
        for (CPin_In* pin : pins)
            if (pin != self && pin->IsConnected() && pin->Config().Snapshot().streamId == pid) return true;
        return false;
    };
    return muxcore::AllocatePid(static_cast<int32_t>(request), taken);
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
    if (IsStoppedState() || !core_) return;
    // What the inputs and the core hold is dropped: a new core starts empty
    // once the inputs end their flush.
    SignalStop();
    StopThread();
    bool any = false;
    if (SUCCEEDED(BuildCore(&any)) && any) restartAfterFlush_ = true;
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
    if (core_) core_->Interrupt();  // also a wait for the first data
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
        CAutoLock values(&config_.ValueLock());
        values_.muxerTime = 0;
        values_.paddingPackets = 0;
        values_.realOutputBitrate = 0;
    }
    bool any = false;
    HRESULT hr = BuildCore(&any);
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

// A fresh core for the connected inputs, with the committed parameters.
HRESULT CM72::BuildCore(bool* any) {
    const ConfigElMux c = config_.Snapshot();
    for (CPin_In* pin : inputs_) pin->Attach(nullptr);
    attached_.clear();
    core_ = std::make_unique<muxcore::Multiplexer>();
    muxcore::MuxerSettings& s = core_->Settings();
    s.output = c.output;
    s.requiredBitrate = c.requiredBitrate;
    s.pcrIntervalMs = c.pcrIntervalMs;
    s.compatibility = c.output == kProgramStream ? static_cast<int32_t>(c.compatibility) : kCompatNone;
    s.transportStreamId = c.transportStreamId;
    s.outputBufferSize = c.outputBufferSize;
    s.createPinsAutomatically = c.createPinsAutomatically;
    s.usePadding = c.usePadding;
    s.tsPacketsToDeliver = c.tsPacketsToDeliver;
    s.timingMode = c.timingMode;
    s.dmbCompatibility = c.dmbCompatibility;
    s.initialDataWaitMs = c.initialDataWaitMs;
    s.allowMissingInputs = c.allowMissingInputs;
    s.ts192 = c.ts192;
    s.writePesLengthForVideo = c.writePesLengthForVideo;
    s.noDtsForVideo = c.noDtsForVideo;
    std::vector<std::pair<CProgram*, muxcore::Program*>> programs;
    for (CProgram* p : programs_) {
        const ConfigProgram pc = p->Snapshot();
        muxcore::ProgramSettings ps;
        ps.programId = pc.programId;
        ps.programNumber = pc.programNumber;
        ps.pcrPid = pc.pcrPid;
        ps.userDefinedPcrPid = pc.userDefinedPcrPid;
        muxcore::Program* program = core_->AddProgram(ps);
        if (!program) return E_FAIL;
        programs.emplace_back(p, program);
    }
    *any = false;
    for (CPin_In* pin : inputs_) {
        if (!pin->IsConnected() || pin->StreamType() == kPinFree) continue;
        muxcore::Program* target = nullptr;
        for (const auto& pair : programs)
            if (pair.first == pin->Program()) target = pair.second;
        muxcore::InputStream* in = core_->AddInput(pin->CoreSettings(), target);
        if (!in) return E_FAIL;
        pin->Attach(in);
        attached_.push_back(pin);
        *any = true;
    }
    // A user-defined PCR PID rides on an input of its own that carries only PCRs.
    for (const auto& pair : programs) {
        const int32_t pid = pair.second->Settings().userDefinedPcrPid;
        if (pid <= 0 || c.output == muxcore::kProgramStream || !pair.second->HasConnectedInput()) continue;
        muxcore::StreamSettings pcr;
        pcr.streamType = muxcore::kPinPcrOnly;
        pcr.streamId = pid;
        pcr.name = "PCR only internal pin";
        muxcore::InputStream* in = core_->AddInput(pcr, pair.second);
        if (!in) return E_FAIL;
        pair.second->Settings().pcrPid = in->Settings().streamId;
    }
    {
        std::lock_guard<std::mutex> g(sink_.lock);
        sink_.pieces.clear();
        sink_.ended = false;
        sink_.overloadDue = false;
    }
    piecesOut_ = 0;
    return muxcore::Failed(core_->Start(&sink_, out_->ToFileWriter())) ? E_FAIL : S_OK;
}

STDMETHODIMP CM72::Run(REFERENCE_TIME start) {
    CAutoLock lock(&filterLock_);
    if (m_State == State_Paused && closedAtPause_) {
        closedAtPause_ = false;
        SignalStop();
        StopThread();
        stopping_ = false;
        closing_ = false;
        bool any = false;
        HRESULT hr = BuildCore(&any);
        if (FAILED(hr)) return hr;
        if (any) StartThread();
    }
    return CBaseFilter::Run(start);
}

void CM72::FinishStream() {
    constexpr DWORD kStepMs = 20;
    constexpr DWORD kStallMs = 300;   // downstream took nothing for this long: give up
    constexpr DWORD kLimitMs = 3000;  // the whole close at most
    if (!core_ || !thread_.joinable() || WaitForSingleObject(threadDone_, 0) == WAIT_OBJECT_0) return;
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
    core_->EndAllInputs(end);
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
    muxcore::Multiplexer* core = core_.get();
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
        {
            CAutoLock values(&config_.ValueLock());
            values_.muxerTime = now;
            values_.paddingPackets = static_cast<long long>(core->PaddingPackets());
            if (first >= 0 && now > first) {
                const double rate = static_cast<double>(core->Output().BytesDelivered()) * 8.0 /
                                    (static_cast<double>(now - first) / 1e7);
                values_.realOutputBitrate = rate >= static_cast<double>(std::numeric_limits<long>::max())
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

CProgram::CProgram(CM72* filter)
    : CUnknown("M72Program", nullptr),
      CModuleConfigImpl<ConfigProgram>(&kClsidProgramConfig, kMuxerSettingsVersion, &values_),
      filter_(filter) {
    BuildProgramTable(*this);
}

STDMETHODIMP CProgram::NonDelegatingQueryInterface(REFIID riid, void** ppv) {
    if (ModuleConfig::IsConfigInterface(riid)) return GetInterface(static_cast<IModuleConfig*>(this), ppv);
    return CUnknown::NonDelegatingQueryInterface(riid, ppv);
}

ConfigProgram CProgram::Snapshot() {
    CAutoLock guard(&ValueLock());
    return values_;
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
        if (pin->Program() == this) mine.push_back(pin);
    return mine;
}

void CProgram::OnInputJoined(CPin_In* pin) {
    if (Snapshot().pcrPid == 0) Store(kPcrPid, pin->Config().Snapshot().streamId);
}

void CProgram::OnInputLeft(CPin_In* pin) {
    const long pid = pin->Config().Snapshot().streamId;
    if (Snapshot().pcrPid != pid) return;
    long next = 0;
    for (CPin_In* other : Inputs())
        if (other != pin && other->IsConnected()) {
            next = other->Config().Snapshot().streamId;
            break;
        }
    Store(kPcrPid, next);
}

STDMETHODIMP CProgram::SetValue(const GUID* id, const VARIANT* value) {
    if (!id || !value) return E_POINTER;
    CAutoLock lock(filter_->FilterLock());
    if (*id == kProgramId || *id == kUserPcrPid || *id == kPcrPid) {
        long v = 0;
        HRESULT hr = ToLong(value, &v);
        if (FAILED(hr)) return hr;
        if (*id == kProgramId && filter_->AllocatePid(v, nullptr, this) != v) return E_FAIL;
        if (*id == kUserPcrPid && v != 0 && filter_->AllocatePid(v, nullptr, nullptr) != v) return E_FAIL;
        if (*id == kPcrPid) {
            bool found = false;
            for (CPin_In* pin : Inputs())
                found = found || (pin->IsConnected() && pin->Config().Snapshot().streamId == v);
            if (!found) return E_FAIL;
        }
        return CModuleConfig::SetValue(id, value);
    }
    if (*id == kAddInput) {
        if (!filter_->IsStoppedState()) return E_FAIL;
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
    const ConfigProgram before = Snapshot();
    StoreWritable(*this, count, ids);
    const ConfigProgram after = Snapshot();
    if (before.userDefinedPcrPid != 0 && after.userDefinedPcrPid == before.userDefinedPcrPid &&
        after.pcrPid != before.pcrPid) {
        Store(kUserPcrPid, 0);
    } else if (before.userDefinedPcrPid != 0 && after.userDefinedPcrPid == 0) {
        long first = 0;
        for (CPin_In* pin : Inputs())
            if (pin->IsConnected()) {
                first = pin->Config().Snapshot().streamId;
                break;
            }
        Store(kPcrPid, first);
    }
    return S_OK;
}

}  // namespace muxora
