#include "codec/audioencoder/AudioEncFilter.h"

#include "codec/audioencoder/AudioEncIds.h"
#include "codec/audioencoder/BitrateTables.h"
#include "codec/audioencoder/PcmOps.h"

#include <mmreg.h>

#include <cstdio>
#include <cstring>
#include <vector>

using namespace audioenc;

namespace {

constexpr HRESULT kBadFormat = static_cast<HRESULT>(0x80040248);     // VFW_E_TYPE_NOT_ACCEPTED
constexpr HRESULT kBadTransform = static_cast<HRESULT>(0x8004022A);  // VFW_E_INVALIDMEDIATYPE
constexpr HRESULT kNotConnected = static_cast<HRESULT>(0x80040209);  // VFW_E_NOT_CONNECTED
constexpr HRESULT kWrongState = static_cast<HRESULT>(0x80040210);    // VFW_E_WRONG_STATE

// {00000050-0000-0010-8000-00AA00389B71}: MPEG audio as a wave format tag.
const GUID kMpegWaveSubtype = {0x00000050, 0x0000, 0x0010, {0x80, 0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71}};

#pragma pack(push, 1)
struct MpegWaveFormat {
    WAVEFORMATEX wfx;
    WORD headLayer;
    DWORD headBitrate;
    WORD headMode;
    WORD headModeExt;
    WORD headEmphasis;
    WORD headFlags;
    DWORD ptsLow;
    DWORD ptsHigh;
};
#pragma pack(pop)
static_assert(sizeof(MpegWaveFormat) == 40, "MPEG-1 wave format is 40 bytes");

WORD HeadMode(int mode, int outputChannels) {
    if (outputChannels == 1 || mode == AUDOVA_MONO) return 8;  // single channel
    switch (mode) {
        case AUDOVA_JOINT_STEREO:
            return 2;
        case AUDOVA_DUAL_CHANNEL:
            return 4;
        default:
            return 1;
    }
}

}  // namespace

CUnknown* WINAPI AudioEncFilter::CreateInstance(LPUNKNOWN pUnk, HRESULT* phr) {
    HRESULT hr = S_OK;
    auto* filter = new (std::nothrow) AudioEncFilter(pUnk, &hr);
    if (!filter)
        hr = E_OUTOFMEMORY;
    else if (FAILED(hr)) {
        delete filter;
        filter = nullptr;
    }
    if (phr) *phr = hr;
    return filter;
}

AudioEncFilter::AudioEncFilter(LPUNKNOWN pUnk, HRESULT* phr)
    : CTransformFilter("Korvell Layer II Audio Encoder", pUnk, CLSID_KorvellAudioEncoder),
      m_config(this, this, &m_settings) {
    (void)phr;
    m_config.ResetToDefaults();
    std::wstring key = ConfigAudioEncImpl::RegistryKeyPath();
    if (!key.empty()) m_config.LoadFromRegistry(HKEY_CURRENT_USER, key.c_str(), TRUE);
    m_settings.input_channels = 2;
    m_settings.sample_rate = 48000;
    if (m_settings.output_channels == 0) m_settings.output_channels = m_settings.audio_mode == AUDOVA_MONO ? 1 : 2;
    m_config.RebuildBitrateList(m_settings.output_channels, m_settings.layer, m_settings.sample_rate);
    m_config.CommitChanges(nullptr);
}

AudioEncFilter::~AudioEncFilter() {
    std::wstring key = ConfigAudioEncImpl::RegistryKeyPath();
    if (!key.empty()) m_config.SaveToRegistry(HKEY_CURRENT_USER, key.c_str(), TRUE);
    EngineStop(true);
    if (m_heldSample) m_heldSample->Release();
}

STDMETHODIMP AudioEncFilter::NonDelegatingQueryInterface(REFIID riid, void** ppv) {
    CheckPointer(ppv, E_POINTER);
    if (ModuleConfig::IsConfigInterface(riid)) return GetInterface(static_cast<IModuleConfig*>(&m_config), ppv);
    if (riid == IID_ISpecifyPropertyPages) return GetInterface(static_cast<ISpecifyPropertyPages*>(this), ppv);
    return CTransformFilter::NonDelegatingQueryInterface(riid, ppv);
}

STDMETHODIMP AudioEncFilter::GetPages(CAUUID* pPages) {
    CheckPointer(pPages, E_POINTER);
    static const CLSID* const kPages[] = {&CLSID_AudioEncSettingsPage, &CLSID_AudioEncAboutPage};
    pPages->cElems = 0;
    pPages->pElems = static_cast<GUID*>(CoTaskMemAlloc(sizeof kPages / sizeof kPages[0] * sizeof(GUID)));
    if (!pPages->pElems) return E_OUTOFMEMORY;
    for (const CLSID* page : kPages) pPages->pElems[pPages->cElems++] = *page;
    return S_OK;
}

// ---- media types ----

HRESULT AudioEncFilter::CheckInputType(const CMediaType* mt) {
    CheckPointer(mt, E_POINTER);
    if (!IsEqualGUID(*mt->Type(), MEDIATYPE_Audio) || !IsEqualGUID(*mt->Subtype(), MEDIASUBTYPE_PCM))
        return E_UNEXPECTED;
    if (!IsEqualGUID(*mt->FormatType(), FORMAT_WaveFormatEx)) return kBadFormat;
    if (!mt->Format() || mt->FormatLength() < sizeof(WAVEFORMAT) + 2) return E_UNEXPECTED;
    const auto* wfx = reinterpret_cast<const WAVEFORMATEX*>(mt->Format());
    bool tagOk = wfx->wFormatTag == WAVE_FORMAT_PCM || wfx->wFormatTag == WAVE_FORMAT_EXTENSIBLE;
    if (tagOk && wfx->wBitsPerSample == 16 && (wfx->nChannels == 1 || wfx->nChannels == 2) &&
        IsAcceptedInputRate(static_cast<int>(wfx->nSamplesPerSec)))
        return S_OK;
    return kBadFormat;
}

HRESULT AudioEncFilter::CheckTransform(const CMediaType* in, const CMediaType* out) {
    HRESULT hr = CheckInputType(in);
    if (FAILED(hr)) return hr;
    if (!IsEqualGUID(*out->Type(), MEDIATYPE_Audio)) return kBadTransform;
    const GUID& sub = *out->Subtype();
    if (sub == MEDIASUBTYPE_MPEG2_AUDIO || sub == kMpegWaveSubtype || sub == MEDIASUBTYPE_DVD_LPCM_AUDIO) return S_OK;
    return IsEqualGUID(*out->FormatType(), FORMAT_WaveFormatEx) ? S_OK : kBadTransform;
}

HRESULT AudioEncFilter::GetMediaType(int iPosition, CMediaType* mt) {
    if (!mt || iPosition < 0) return E_UNEXPECTED;
    const bool lower = m_settings.sample_rate < 32000;
    const int last = lower ? 1 : 2;
    if (iPosition > last) return VFW_S_NO_MORE_ITEMS;
    mt->InitMediaType();
    mt->SetType(&MEDIATYPE_Audio);
    mt->SetFormatType(&FORMAT_WaveFormatEx);
    mt->SetTemporalCompression(FALSE);
    if (iPosition == last) {
        WAVEFORMATEX wfx = {};
        wfx.wFormatTag = WAVE_FORMAT_PCM;
        wfx.nChannels = static_cast<WORD>(m_settings.input_channels ? m_settings.input_channels : 2);
        wfx.nSamplesPerSec = static_cast<DWORD>(m_settings.sample_rate);
        wfx.wBitsPerSample = 16;
        wfx.nBlockAlign = 1;
        wfx.nAvgBytesPerSec = wfx.wBitsPerSample * wfx.nChannels * wfx.nSamplesPerSec / 8;
        mt->SetSubtype(&MEDIASUBTYPE_DVD_LPCM_AUDIO);
        mt->SetSampleSize(0x80000);
        return mt->SetFormat(reinterpret_cast<BYTE*>(&wfx), sizeof wfx) ? S_OK : E_OUTOFMEMORY;
    }
    // The type states what the stream carries: chosen rate, layer and mode.
    int kbps = KbpsOfIndex(m_settings.sample_rate, m_settings.layer, m_settings.bitrate_index);
    MpegWaveFormat f = {};
    f.wfx.wFormatTag = 0x50;
    f.wfx.nChannels = static_cast<WORD>(m_settings.output_channels ? m_settings.output_channels : 2);
    f.wfx.nSamplesPerSec = static_cast<DWORD>(m_settings.sample_rate);
    f.wfx.nAvgBytesPerSec = static_cast<DWORD>(kbps) * 1000 / 8;
    f.wfx.nBlockAlign = 1;
    f.wfx.cbSize = 22;
    f.headLayer = static_cast<WORD>(m_settings.layer == 1 ? 1 : 2);
    f.headBitrate = static_cast<DWORD>(kbps) * 1000;
    f.headMode = HeadMode(m_settings.audio_mode, m_settings.output_channels);
    mt->SetSubtype(iPosition == 0 ? &MEDIASUBTYPE_MPEG2_AUDIO : &kMpegWaveSubtype);
    mt->SetSampleSize(static_cast<ULONG>(OutSampleSize()));
    return mt->SetFormat(reinterpret_cast<BYTE*>(&f), sizeof f) ? S_OK : E_OUTOFMEMORY;
}

HRESULT AudioEncFilter::TakeInputFormat(const WAVEFORMATEX* wfx) {
    m_inputFormat = *wfx;
    m_settings.sample_rate = static_cast<int32_t>(wfx->nSamplesPerSec);
    m_settings.input_channels = wfx->nChannels;
    m_settings.output_channels = (wfx->nChannels == 1 || m_settings.audio_mode == AUDOVA_MONO) ? 1 : 2;
    m_config.RebuildBitrateList(m_settings.output_channels, m_settings.layer, m_settings.sample_rate);
    return m_config.CommitChanges(nullptr);
}

HRESULT AudioEncFilter::SetMediaType(PIN_DIRECTION direction, const CMediaType* mt) {
    if (direction == PINDIR_OUTPUT) {
        m_passthrough = IsEqualGUID(*mt->Subtype(), MEDIASUBTYPE_DVD_LPCM_AUDIO);
        return S_OK;
    }
    TakeInputFormat(reinterpret_cast<const WAVEFORMATEX*>(mt->Format()));
    if (m_pOutput && m_pOutput->IsConnected()) {
        if (m_State != State_Stopped) {
            CMediaType out;
            if (SUCCEEDED(GetMediaType(0, &out))) ReconnectOutput(out);
        } else if (m_pGraph) {
            m_pGraph->Reconnect(m_pOutput);
        }
    }
    return S_OK;
}

HRESULT AudioEncFilter::DecideBufferSize(IMemAllocator* alloc, ALLOCATOR_PROPERTIES* props) {
    if (!m_pInput || !m_pInput->IsConnected()) return E_UNEXPECTED;
    CheckPointer(alloc, E_POINTER);
    CheckPointer(props, E_POINTER);
    props->cBuffers = 1;
    props->cbAlign = 1;
    props->cbBuffer = OutSampleSize();
    ALLOCATOR_PROPERTIES actual = {};
    HRESULT hr = alloc->SetProperties(props, &actual);
    if (FAILED(hr)) return hr;
    return actual.cBuffers < props->cBuffers || actual.cbBuffer < props->cbBuffer ? E_FAIL : S_OK;
}

// ---- engine ----

namespace {
void ReportToNobody(const char*) {}
}  // namespace

HRESULT AudioEncFilter::EngineStart() {
    const AudovaBinding& engine = Audova();
    if (!engine.Loaded() || m_settings.sample_rate <= 0) return E_FAIL;
    m_samplesPerFrame = m_settings.layer == 1 ? 384 : 1152;
    REFERENCE_TIME duration =
        static_cast<REFERENCE_TIME>(m_settings.output_channels) * 20000000 / m_settings.sample_rate;
    StartTimes();
    AudovaSettings copy = EngineSettings(m_settings);
    m_engine = engine.Create(nullptr, &copy, nullptr, 0xFFFF, m_settings.sample_rate);
    if (!m_engine) return E_FAIL;
    m_record = CreateOutputRecord(this, static_cast<uint32_t>(OutSampleSize()), duration, ReportToNobody);
    if (!m_record || engine.Start(m_engine, m_record) != 0) {
        EngineStop(true);
        return E_FAIL;
    }
    m_running = true;
    return S_OK;
}

void AudioEncFilter::StartTimes() {
    m_bytesPerInputFrame = (m_settings.input_channels ? m_settings.input_channels : 2) * 2;
    m_times.Start(10000000.0 / (m_settings.sample_rate > 0 ? m_settings.sample_rate : 48000));
}

void AudioEncFilter::EngineStop(bool abort) {
    const AudovaBinding& engine = Audova();
    if (m_engine) {
        engine.Done(m_engine, abort ? 1 : 0);
        engine.Free(m_engine);
    }
    if (m_record) BufstreamClose(&m_record, abort ? 1 : 0);
    if (m_heldSample) {
        m_heldSample->Release();
        m_heldSample = nullptr;
    }
    m_engine = nullptr;
    m_record = nullptr;
    m_running = false;
}

// Drains the engine's last frames downstream and starts a fresh instance.
HRESULT AudioEncFilter::EngineRestart() {
    if (m_passthrough || m_idle) return S_OK;
    if (m_record)
        SetOutputRecordDuration(m_record, static_cast<REFERENCE_TIME>(m_samplesPerFrame) * 10000000 /
                                              (m_settings.sample_rate ? m_settings.sample_rate : 48000));
    EngineStop(false);
    m_idle = true;
    return EngineStart();
}

void AudioEncFilter::OnSettingsApplied(bool reconnect) {
    // Settings change only while stopped: the engine starts with streaming.
    if (reconnect && m_pOutput && m_pOutput->IsConnected() && m_State == State_Stopped && m_pGraph)
        m_pGraph->Reconnect(m_pOutput);
}

HRESULT AudioEncFilter::StartStreaming() {
    m_config.CommitChanges(nullptr);
    m_streaming = true;
    m_idle = true;
    m_flushing = false;
    m_times.Reset();
    if (m_passthrough) {
        // No engine, but the pass-through samples are stamped from the same times.
        StartTimes();
        return S_OK;
    }
    EngineStop(false);
    return EngineStart();
}

HRESULT AudioEncFilter::StopStreaming() {
    if (!m_passthrough) EngineStop(true);
    m_streaming = false;
    return S_OK;
}

// ---- output ----

HRESULT AudioEncFilter::GetBuffer(BYTE** buffer, long* size, REFERENCE_TIME) {
    if (m_heldSample) {
        m_heldSample->Release();
        m_heldSample = nullptr;
    }
    if (!m_pOutput) return E_NOINTERFACE;
    HRESULT hr = m_pOutput->GetDeliveryBuffer(&m_heldSample, nullptr, nullptr, 0);
    if (FAILED(hr) || !m_heldSample) {
        m_heldSample = nullptr;
        return E_POINTER;
    }
    hr = m_heldSample->GetPointer(buffer);
    *size = m_heldSample->GetSize();
    return hr;
}

HRESULT AudioEncFilter::Deliver(BYTE*, long used, REFERENCE_TIME, REFERENCE_TIME) {
    if (!m_heldSample) return S_OK;
    HRESULT hr = S_OK;
    if (used > 0) {
        int64_t start = 0, stop = 0;
        m_times.Output(static_cast<uint32_t>(m_samplesPerFrame), &start, &stop);
        REFERENCE_TIME s = start, e = stop;
        m_heldSample->SetTime(&s, &e);
        m_heldSample->SetSyncPoint(TRUE);
        m_heldSample->SetActualDataLength(used);
        hr = m_pOutput->Deliver(m_heldSample);
    }
    m_heldSample->Release();
    m_heldSample = nullptr;
    return hr;
}

HRESULT AudioEncFilter::ReconnectOutput(const CMediaType& mt) {
    if (!m_pOutput || !m_pOutput->IsConnected()) return kNotConnected;
    try {
        IPin* peer = m_pOutput->GetConnected();
        bool accepted = false;
        IPinConnection* dynamic = nullptr;
        if (SUCCEEDED(peer->QueryInterface(IID_IPinConnection, reinterpret_cast<void**>(&dynamic)))) {
            accepted = dynamic->DynamicQueryAccept(&mt) == S_OK;
            dynamic->Release();
        }
        if (!accepted) accepted = peer->QueryAccept(&mt) == S_OK;
        if (!accepted) return E_FAIL;
        HRESULT hr;
        int tries = 0;
        while ((hr = peer->ReceiveConnection(m_pOutput, &mt)) == kWrongState && ++tries < 5000) Sleep(1);
        if (FAILED(hr)) return hr;
        return m_pOutput->SetMediaType(&mt);
    } catch (...) {
        return E_UNEXPECTED;
    }
}

HRESULT AudioEncFilter::DeliverPassthrough(const BYTE* p, long n, IMediaSample*) {
    const long frameBytes = m_bytesPerInputFrame > 0 ? static_cast<long>(m_bytesPerInputFrame) : 4;
    long done = 0;
    while (done < n) {
        IMediaSample* out = nullptr;
        HRESULT hr = m_pOutput->GetDeliveryBuffer(&out, nullptr, nullptr, 0);
        if (FAILED(hr)) return hr;
        BYTE* dst = nullptr;
        hr = out->GetPointer(&dst);
        if (FAILED(hr) || !dst) {
            out->Release();
            return FAILED(hr) ? hr : E_POINTER;
        }
        long piece = n - done < out->GetSize() ? n - done : out->GetSize();
        // Whole sample frames, so that each piece's time covers what it holds.
        if (piece >= frameBytes) piece -= piece % frameBytes;
        CopySwapped16(dst, p + done, static_cast<size_t>(piece));
        out->SetActualDataLength(piece);
        // The multiplexer takes a sample's time as its PTS: stamped as coded
        // frames are, from the input times.
        int64_t start = 0, stop = 0;
        m_times.Output(static_cast<uint32_t>(piece / frameBytes), &start, &stop);
        REFERENCE_TIME s = start, e = stop;
        out->SetTime(&s, &e);
        out->SetSyncPoint(TRUE);
        hr = m_pOutput->Deliver(out);
        out->Release();
        if (FAILED(hr)) return hr;
        done += piece;
    }
    return S_OK;
}

// ---- streaming ----

HRESULT AudioEncFilter::Receive(IMediaSample* sample) {
    AM_MEDIA_TYPE* changed = nullptr;
    if (sample->GetMediaType(&changed) == S_OK && changed) {
        CMediaType mt(*changed);
        DeleteMediaType(changed);
        if (CheckInputType(&mt) == S_OK) {
            const auto* wfx = reinterpret_cast<const WAVEFORMATEX*>(mt.Format());
            if (wfx->nChannels != m_inputFormat.nChannels || wfx->nSamplesPerSec != m_inputFormat.nSamplesPerSec) {
                m_streaming = false;  // the configuration may follow the new input
                TakeInputFormat(wfx);
                m_streaming = true;
                // Stay with MPEG audio: a format change never turns on pass-through.
                CMediaType out;
                if (SUCCEEDED(GetMediaType(0, &out))) ReconnectOutput(out);
                if (!m_passthrough) {
                    EngineStop(false);
                    HRESULT hr = EngineStart();
                    if (FAILED(hr)) return hr;
                } else {
                    StartTimes();
                }
            }
        }
    }
    if (m_flushing) return S_OK;
    BYTE* p = nullptr;
    if (FAILED(sample->GetPointer(&p)) || !p) return S_OK;
    if (sample->IsDiscontinuity() == S_OK) {
        HRESULT hr = EngineRestart();
        if (FAILED(hr)) return hr;
        m_times.Reset();
    }
    long n = sample->GetActualDataLength();
    REFERENCE_TIME start = 0, stop = 0;
    if (n > 0 && SUCCEEDED(sample->GetTime(&start, &stop)))
        m_times.Input(start, static_cast<uint32_t>(n / (m_bytesPerInputFrame ? m_bytesPerInputFrame : 4)));
    if (n < 1) return S_OK;
    m_idle = false;
    if (m_passthrough) return DeliverPassthrough(p, n, sample);
    if (!m_running || !m_engine) return E_FAIL;
    size_t bytes = static_cast<size_t>(n);
    std::vector<BYTE> mixed;
    const BYTE* data = p;
    if (m_settings.output_channels < m_settings.input_channels) {
        mixed.assign(p, p + n);  // the upstream buffer may be read-only
        bytes = DownmixToMono(mixed.data(), bytes);
        data = mixed.data();
    }
    return Audova().Encode(m_engine, data, static_cast<uint32_t>(bytes)) == 0 ? S_OK : E_FAIL;
}

HRESULT AudioEncFilter::EndOfStream() {
    // Whatever came, the engine's last frames go out before the end.
    EngineRestart();
    return CTransformFilter::EndOfStream();
}

HRESULT AudioEncFilter::BeginFlush() {
    m_flushing = true;
    return CTransformFilter::BeginFlush();
}

HRESULT AudioEncFilter::EndFlush() {
    EngineRestart();
    m_times.Reset();
    m_flushing = false;
    return CTransformFilter::EndFlush();
}
