#include "codec/videoencoder/VideoEncFilter.h"

#include "codec/videoencoder/VideoEncIds.h"

#include <dvdmedia.h>
#include <mmsystem.h>

#include <cstring>
#include <new>

using namespace vidcore;

namespace {

constexpr HRESULT kTypeNotAccepted = static_cast<HRESULT>(0x8004022A);  // VFW_E_TYPE_NOT_ACCEPTED

// {E06D8026-DB46-11CF-B4D1-00805F6CBBEA}
const GUID kMpeg2VideoSubtype = {0xE06D8026, 0xDB46, 0x11CF, {0xB4, 0xD1, 0x00, 0x80, 0x5F, 0x6C, 0xBB, 0xEA}};
// {E06D80E3-DB46-11CF-B4D1-00805F6CBBEA}
const GUID kMpeg2VideoFormat = {0xE06D80E3, 0xDB46, 0x11CF, {0xB4, 0xD1, 0x00, 0x80, 0x5F, 0x6C, 0xBB, 0xEA}};

const BITMAPINFOHEADER* HeaderOf(const CMediaType* mt, bool* v2) {
    if (!mt->Format()) return nullptr;
    if (IsEqualGUID(*mt->FormatType(), FORMAT_VideoInfo) && mt->FormatLength() >= sizeof(VIDEOINFOHEADER)) {
        *v2 = false;
        return &reinterpret_cast<const VIDEOINFOHEADER*>(mt->Format())->bmiHeader;
    }
    if (IsEqualGUID(*mt->FormatType(), FORMAT_VideoInfo2) && mt->FormatLength() >= sizeof(VIDEOINFOHEADER2)) {
        *v2 = true;
        return &reinterpret_cast<const VIDEOINFOHEADER2*>(mt->Format())->bmiHeader;
    }
    return nullptr;
}

REFERENCE_TIME AvgTimeOf(const CMediaType* mt, bool v2) {
    return v2 ? reinterpret_cast<const VIDEOINFOHEADER2*>(mt->Format())->AvgTimePerFrame
              : reinterpret_cast<const VIDEOINFOHEADER*>(mt->Format())->AvgTimePerFrame;
}

// The subtype as a colour code: RGB by name, FOURCC subtypes by their code.
uint32_t SubtypeCode(const GUID& g) {
    if (IsEqualGUID(g, MEDIASUBTYPE_RGB24)) return kBGR3;
    if (IsEqualGUID(g, MEDIASUBTYPE_RGB32)) return kBGR4;
    static const BYTE tail[8] = {0x80, 0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71};
    if (g.Data2 == 0 && g.Data3 == 0x10 && std::memcmp(g.Data4, tail, 8) == 0) return g.Data1;
    return 0;
}

InputDescription Describe(const CMediaType* mt, const BITMAPINFOHEADER* bih) {
    return InputDescription{SubtypeCode(*mt->Subtype()),
                            bih->biCompression,
                            bih->biWidth,
                            bih->biHeight,
                            bih->biBitCount,
                            bih->biSizeImage};
}

}  // namespace

CUnknown* WINAPI Mpeg2EncFilter::CreateInstance(LPUNKNOWN pUnk, HRESULT* phr) {
    HRESULT hr = S_OK;
    auto* filter = new (std::nothrow) Mpeg2EncFilter(pUnk, &hr);
    if (!filter) hr = E_OUTOFMEMORY;
    if (phr) *phr = hr;
    return filter;
}

Mpeg2EncFilter::Mpeg2EncFilter(LPUNKNOWN pUnk, HRESULT*)
    : CTransformFilter("Korvell MPEG-2 Video Encoder", pUnk, CLSID_KorvellVideoEncoder), m_config(this, &m_settings) {
    m_config.RunPreset(Rec(), 2, 1);
    Rec().SetW(W_ENCODED_FRAMES, 0);
    Rec().SetD(B_ENCODING_SPEED, 0);
    Rec().SetW(W_ORIG_FRAME_TYPE, -1);
    Rec().SetW(W_ORIG_COLOR_SPACE, -1);
    std::wstring key = ConfigVideoEncImpl::RegistryKeyPath();
    if (!key.empty()) m_config.LoadFromRegistry(HKEY_CURRENT_USER, key.c_str(), TRUE);
    m_config.SetPendingText(P_StatsFile, ConfigVideoEncImpl::DefaultStatsFileName());
}

Mpeg2EncFilter::~Mpeg2EncFilter() {
    std::wstring key = ConfigVideoEncImpl::RegistryKeyPath();
    if (!key.empty()) m_config.SaveToRegistry(HKEY_CURRENT_USER, key.c_str(), TRUE);
    EngineFinish(true);
    delete m_ccPin;
}

STDMETHODIMP Mpeg2EncFilter::NonDelegatingQueryInterface(REFIID riid, void** ppv) {
    CheckPointer(ppv, E_POINTER);
    if (ModuleConfig::IsConfigInterface(riid)) return GetInterface(static_cast<IModuleConfig*>(&m_config), ppv);
    if (riid == IID_ISpecifyPropertyPages) return GetInterface(static_cast<ISpecifyPropertyPages*>(this), ppv);
    return CTransformFilter::NonDelegatingQueryInterface(riid, ppv);
}

STDMETHODIMP Mpeg2EncFilter::QueryFilterInfo(FILTER_INFO* pInfo) {
    CheckPointer(pInfo, E_POINTER);
    lstrcpynW(pInfo->achName, L"Korvell MPEG-2 Video Encoder", 128);
    pInfo->pGraph = m_pGraph;
    if (m_pGraph) m_pGraph->AddRef();
    return S_OK;
}

STDMETHODIMP Mpeg2EncFilter::GetPages(CAUUID* pPages) {
    CheckPointer(pPages, E_POINTER);
    // The class table's entries after the filter's own are its pages.
    pPages->cElems = 0;
    pPages->pElems = nullptr;
    const int count = g_cTemplates - 1;
    if (count <= 0) return S_OK;
    pPages->pElems = static_cast<GUID*>(CoTaskMemAlloc(static_cast<size_t>(count) * sizeof(GUID)));
    if (!pPages->pElems) return E_OUTOFMEMORY;
    for (int i = 1; i < g_cTemplates; ++i) pPages->pElems[pPages->cElems++] = *g_Templates[i].m_ClsID;
    return S_OK;
}

CBasePin* Mpeg2EncFilter::GetPin(int n) {
    if (!m_pInput) {
        HRESULT hr = S_OK;
        m_pInput = new (std::nothrow) CTransformInputPin(NAME("Video encoder input"), this, &hr, L"Input");
        if (!m_pInput || FAILED(hr)) {
            delete m_pInput;
            m_pInput = nullptr;
            return nullptr;
        }
        m_pOutput = new (std::nothrow) CTransformOutputPin(NAME("Video encoder output"), this, &hr, L"Output");
        if (!m_pOutput || FAILED(hr)) {
            delete m_pInput;
            delete m_pOutput;
            m_pInput = nullptr;
            m_pOutput = nullptr;
            return nullptr;
        }
    }
    if (n == 0) return m_pInput;
    if (n == 1) return m_pOutput;
    if (n == kCaptionPinIndex) {
        if (!m_ccPin) {
            HRESULT hr = S_OK;
            m_ccPin =
                new (std::nothrow) Mpeg2EncCCPin(this, &m_csFilter, &hr, [this] { return Rec().W(W_CLOSED_CAPTION); });
            if (m_ccPin && FAILED(hr)) {
                delete m_ccPin;
                m_ccPin = nullptr;
            }
        }
        return m_ccPin;
    }
    return nullptr;
}

STDMETHODIMP Mpeg2EncFilter::FindPin(LPCWSTR Id, IPin** ppPin) {
    CheckPointer(ppPin, E_POINTER);
    *ppPin = nullptr;
    CheckPointer(Id, E_POINTER);
    CBasePin* pin = nullptr;
    if (wcscmp(Id, L"In") == 0 || wcscmp(Id, L"Input") == 0)
        pin = GetPin(0);
    else if (wcscmp(Id, L"Out") == 0 || wcscmp(Id, L"Output") == 0)
        pin = GetPin(1);
    else if (wcscmp(Id, L"CC Input") == 0)
        pin = GetPin(kCaptionPinIndex);
    if (!pin) return VFW_E_NOT_FOUND;
    pin->AddRef();
    *ppPin = pin;
    return S_OK;
}

// ---- media types ----

HRESULT Mpeg2EncFilter::CheckInputType(const CMediaType* mt) {
    CheckPointer(mt, E_POINTER);
    if (!IsEqualGUID(*mt->Type(), MEDIATYPE_Video)) return E_FAIL;
    bool v2 = false;
    const BITMAPINFOHEADER* bih = HeaderOf(mt, &v2);
    if (!bih) return E_INVALIDARG;
    const int32_t maxSide = MaxPictureSide(Rec().W(W_VIDEO_TYPE));
    return CheckInput(Describe(mt, bih), Rec().W(W_CHROMA), maxSide) == 0 ? S_OK : E_FAIL;
}

HRESULT Mpeg2EncFilter::CheckTransform(const CMediaType* in, const CMediaType* out) {
    if (!in || !out) return E_POINTER;
    const GUID& major = *out->Type();
    const GUID& sub = *out->Subtype();
    if (!IsEqualGUID(major, MEDIATYPE_Stream) && !IsEqualGUID(major, MEDIATYPE_Video)) return kTypeNotAccepted;
    const int type = Rec().W(W_VIDEO_TYPE);
    const bool mpeg1Out = IsEqualGUID(sub, MEDIASUBTYPE_MPEG1Video) || IsEqualGUID(sub, MEDIASUBTYPE_MPEG1Payload);
    const bool wantMpeg1 = type == 0 || type == 1;
    if (wantMpeg1 ? !mpeg1Out : !IsEqualGUID(sub, kMpeg2VideoSubtype)) return kTypeNotAccepted;
    bool v2 = false;
    const BITMAPINFOHEADER* bih = HeaderOf(in, &v2);
    if (!bih || InputFourcc(SubtypeCode(*in->Subtype()), bih->biCompression) == 0) return kTypeNotAccepted;
    return S_OK;
}

HRESULT Mpeg2EncFilter::GetMediaType(int pos, CMediaType* mt) {
    if (!InputConnected()) return E_UNEXPECTED;
    if (pos < 0) return E_INVALIDARG;
    CheckPointer(mt, E_POINTER);
    const int type = Rec().W(W_VIDEO_TYPE);
    const bool mpeg1 = type == 0 || type == 1;
    if (pos > (mpeg1 ? 3 : 1)) return VFW_S_NO_MORE_ITEMS;
    const double fps = Rec().D(B_FPS) > 0 ? Rec().D(B_FPS) : 25.0;
    const DWORD bitrate =
        static_cast<DWORD>(Rec().W(W_BITRATE_MODE) == 1 ? Rec().W(W_BITRATE) : Rec().W(W_MAX_BITRATE));
    mt->InitMediaType();
    mt->SetType(pos % 2 == 0 ? &MEDIATYPE_Video : &MEDIATYPE_Stream);
    mt->SetTemporalCompression(TRUE);
    mt->SetVariableSize();
    BITMAPINFOHEADER bih = {};
    bih.biSize = 40;
    bih.biWidth = m_width;
    bih.biHeight = m_height;
    bih.biPlanes = 1;
    if (mpeg1) {
        MPEG1VIDEOINFO info = {};
        info.hdr.dwBitRate = bitrate;
        info.hdr.AvgTimePerFrame = static_cast<REFERENCE_TIME>(10000000.0 / fps);
        info.hdr.bmiHeader = bih;
        mt->SetSubtype(pos < 2 ? &MEDIASUBTYPE_MPEG1Payload : &MEDIASUBTYPE_MPEG1Video);
        mt->SetFormatType(&FORMAT_MPEGVideo);
        // The size of the samples to come, which still vary: not SetSampleSize,
        // which would mark them fixed.
        mt->lSampleSize = static_cast<ULONG>(Rec().W(W_OUT_SAMPLE_SIZE));
        return mt->SetFormat(reinterpret_cast<BYTE*>(&info), sizeof info) ? S_OK : E_OUTOFMEMORY;
    }
    MPEG2VIDEOINFO info = {};
    info.hdr.dwBitRate = bitrate;
    info.hdr.AvgTimePerFrame = static_cast<REFERENCE_TIME>(10000000.0 / fps);
    info.hdr.bmiHeader = bih;
    info.dwProfile = static_cast<DWORD>(Rec().W(W_PROFILE));
    info.dwLevel = static_cast<DWORD>(Rec().W(W_LEVEL));
    mt->SetSubtype(&kMpeg2VideoSubtype);
    mt->SetFormatType(&kMpeg2VideoFormat);
    return mt->SetFormat(reinterpret_cast<BYTE*>(&info), sizeof info) ? S_OK : E_OUTOFMEMORY;
}

HRESULT Mpeg2EncFilter::DecideBufferSize(IMemAllocator* alloc, ALLOCATOR_PROPERTIES* props) {
    if (!InputConnected()) return E_UNEXPECTED;
    CheckPointer(alloc, E_POINTER);
    CheckPointer(props, E_POINTER);
    int32_t size = Rec().W(W_OUT_SAMPLE_SIZE);
    if (size <= 0) size = DefaultOutSampleSize(m_width, m_height, Rec().W(W_BITRATE), Rec().D(B_FPS));
    props->cBuffers = 1;
    props->cbAlign = 1;
    props->cbBuffer = size;
    ALLOCATOR_PROPERTIES actual = {};
    HRESULT hr = alloc->SetProperties(props, &actual);
    if (FAILED(hr)) return hr;
    return actual.cBuffers < props->cBuffers || actual.cbBuffer < props->cbBuffer ? E_FAIL : S_OK;
}

HRESULT Mpeg2EncFilter::TakeInputType(const CMediaType* mt) {
    bool v2 = false;
    const BITMAPINFOHEADER* bih = HeaderOf(mt, &v2);
    if (!bih) return E_INVALIDARG;
    const InputDescription in = Describe(mt, bih);
    const uint32_t fourcc = InputFourcc(in.subtype, in.compression);
    Rec().SetW(W_ORIG_COLOR_SPACE, ColorSpaceOf(fourcc));
    m_aspectX = m_aspectY = 1;
    if (v2) {
        const auto* vih2 = reinterpret_cast<const VIDEOINFOHEADER2*>(mt->Format());
        Rec().SetW(W_ORIG_FRAME_TYPE, static_cast<int32_t>(vih2->dwInterlaceFlags & 1));
        if (vih2->dwPictAspectRatioX > 0 && vih2->dwPictAspectRatioY > 0 && vih2->dwPictAspectRatioX < 0x10000 &&
            vih2->dwPictAspectRatioY < 0x10000) {
            m_aspectX = static_cast<int>(vih2->dwPictAspectRatioX);
            m_aspectY = static_cast<int>(vih2->dwPictAspectRatioY);
        }
    } else {
        Rec().SetW(W_ORIG_FRAME_TYPE, -1);
    }
    int32_t stride = SourceStride(in);
    const int32_t w = in.width < 0 ? -in.width : in.width;
    const int32_t h = in.height < 0 ? -in.height : in.height;
    m_width = w;
    m_height = h;
    Rec().SetW(W_DISPLAY_W, w);
    Rec().SetW(W_DISPLAY_H, h);
    Rec().SetInt(B_WIDTH, w);
    Rec().SetInt(B_HEIGHT, h);
    m_fourcc = fourcc;
    m_frameBytes = FrameBytes(fourcc, stride, h);
    if (IsBottomUp(fourcc, in.height)) {
        m_firstLineOffset = stride * (h - 1);
        m_stride = -stride;
    } else {
        m_firstLineOffset = 0;
        m_stride = stride;
    }
    m_config.SetPendingInt(P_TwoPass, 0);
    DetectedRate rate = DetectFrameRate(AvgTimeOf(mt, v2), h, Rec().W(W_PULLDOWN));
    Rec().SetD(B_INPUT_RATE, rate.inputRate);
    m_detectedCode = rate.code;
    if (Rec().W(W_FRAME_RATE) == 0) {
        Rec().SetW(W_FRAME_RATE_CODE, rate.code);
        Rec().SetD(B_FPS, RateOfCode(rate.code));
    }
    if (Rec().W(W_ASPECT) == 0) {
        const int vf = m_config.PendingInt(P_VideoFormat);
        Rec().SetW(W_ASPECT_CODE,
                   AutoAspectRatio(m_config.PendingInt(P_VideoType), vf ? vf : Rec().W(W_VIDEO_FORMAT_CODE),
                                   m_config.PendingInt(P_FrameRate), w, h, m_aspectX, m_aspectY));
    }
    if (Rec().W(W_OUT_SAMPLE_SIZE) == 0)
        Rec().SetW(W_OUT_SAMPLE_SIZE, DefaultOutSampleSize(w, h, Rec().W(W_BITRATE), Rec().D(B_FPS)));
    if (Rec().W(W_VIDEO_FORMAT) == 0)
        Rec().SetW(W_VIDEO_FORMAT_CODE, AutoVideoFormat(Rec().W(W_FRAME_RATE_CODE), w, h));
    m_takingType = true;
    m_config.CommitChanges(nullptr);
    m_takingType = false;
    return S_OK;
}

HRESULT Mpeg2EncFilter::SetMediaType(PIN_DIRECTION direction, const CMediaType* mt) {
    if (direction == PINDIR_OUTPUT) return S_OK;
    return TakeInputType(mt);
}

HRESULT Mpeg2EncFilter::BreakConnect(PIN_DIRECTION direction) {
    if (direction == PINDIR_INPUT) {
        Rec().SetW(W_ORIG_FRAME_TYPE, -1);
        Rec().SetW(W_ORIG_COLOR_SPACE, -1);
        Rec().SetD(B_INPUT_RATE, 0);
        Rec().SetW(W_DISPLAY_W, 0);
        Rec().SetW(W_DISPLAY_H, 0);
        Rec().SetInt(B_WIDTH, 0);
        Rec().SetInt(B_HEIGHT, 0);
        m_detectedCode = 3;
    }
    return S_OK;
}

HRESULT Mpeg2EncFilter::CompleteConnect(PIN_DIRECTION direction, IPin* peer) {
    if (direction != PINDIR_OUTPUT || !peer) return S_OK;
    m_toFileWriter = false;
    PIN_INFO info = {};
    if (SUCCEEDED(peer->QueryPinInfo(&info)) && info.pFilter) {
        CLSID id = GUID_NULL;
        m_toFileWriter = SUCCEEDED(info.pFilter->GetClassID(&id)) && IsEqualGUID(id, CLSID_KorvellFileWriterPeer);
        info.pFilter->Release();
    }
    return S_OK;
}

void Mpeg2EncFilter::Reconnect(bool input, bool output) {
    // Never from inside a connection or while streaming.
    if (m_takingType || m_State != State_Stopped || !m_pGraph) return;
    if (input && m_pInput && m_pInput->IsConnected()) ReconnectPin(m_pInput, nullptr);
    if (output && m_pOutput && m_pOutput->IsConnected()) ReconnectPin(m_pOutput, nullptr);
}

// ---- engine ----

std::string Mpeg2EncFilter::StatsBasePath(bool* ok) {
    *ok = false;
    VARIANT v;
    if (FAILED(m_config.Param(P_StatsFile)->GetValue(&v, TRUE))) return std::string();
    std::string path;
    if (v.vt == VT_BSTR && v.bstrVal && *v.bstrVal) {
        char ansi[257] = {};
        BOOL usedDefault = FALSE;
        int n = WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, v.bstrVal, -1, ansi, 256, " ", &usedDefault);
        if (n > 0) {  // 0: too long or not convertible
            path = ansi;
            *ok = true;
        }
    }
    VariantClear(&v);
    return path;
}

HRESULT Mpeg2EncFilter::EngineStart() {
    EngineFinish(false);
    const VidovaBinding& eng = Vidova();
    if (!eng.Loaded()) return E_FAIL;
    CAutoLock lock(&m_engineLock);
    m_output = CreateBitstreamOutput(this, static_cast<uint32_t>(Rec().W(W_OUT_SAMPLE_SIZE)), nullptr);
    if (!m_output) return E_OUTOFMEMORY;
    m_engine = eng.Create(nullptr, reinterpret_cast<const VidovaSettings*>(Rec().bytes), 0, -1, 0, 0);
    if (!m_engine) return E_FAIL;
    const int mode = Rec().W(W_TWO_PASS);
    uint32_t flags = mode == 1 ? VIDOVA_START_ANALYSIS : mode == 2 ? VIDOVA_START_ENCODE_PASS : 0;
    void* options[2] = {nullptr, nullptr};
    if (mode == 1 || mode == 2) {
        bool ok = false;
        std::string base = StatsBasePath(&ok);
        if (!ok) return E_FAIL;
        m_stats = CreateStatsFile(base.c_str());
        if (!m_stats) return E_FAIL;
        options[0] = m_stats;
    }
    if (eng.Start(m_engine, m_output, flags, options) != 0) return E_FAIL;
    m_running = true;
    return S_OK;
}

void Mpeg2EncFilter::EngineFinish(bool final) {
    const VidovaBinding& eng = Vidova();
    CAutoLock lock(&m_engineLock);
    if (m_running) {
        eng.Done(m_engine, 1);
        m_running = false;
    }
    if (m_output) BufstreamClose(&m_output, 1);
    if (m_engine) eng.Free(m_engine);
    m_engine = nullptr;
    if (m_held) {
        m_held->Release();
        m_held = nullptr;
    }
    if (m_stats) {
        // Only the end of the second pass deletes its statistics: a flush in
        // the middle restarts a pass that must read them again.
        if (final && Rec().W(W_TWO_PASS) == 2) {
            m_stats->info(m_stats, 0, kStatsClose, nullptr, 0);
            m_stats->info(m_stats, 0, kStatsDelete, nullptr, 0);
        }
        BufstreamClose(&m_stats, 0);
    }
}

HRESULT Mpeg2EncFilter::StartStreaming() {
    Rec().SetW(W_ENCODED_FRAMES, 0);
    m_startTick = timeGetTime();
    m_bytesOut = 0;
    VARIANT reason;
    VariantInit(&reason);
    HRESULT hr = m_config.CommitChanges(&reason);
    VariantClear(&reason);
    if (FAILED(hr)) return E_FAIL;
    m_inFrames = m_outFrames = 0;
    m_nextStart = 0;
    m_outputRate = OutputRate(Rec().W(W_FRAME_RATE_CODE), Rec().W(W_PULLDOWN));
    if (Rec().W(W_TWO_PASS) == 1) {
        bool ok = false;
        std::string base = StatsBasePath(&ok);
        if (ok) {
            DeleteStatsFile(base.c_str(), 0);
            DeleteStatsFile(base.c_str(), 1);
        }
    }
    hr = EngineStart();
    if (FAILED(hr)) {
        EngineFinish(false);
        return hr == E_OUTOFMEMORY ? hr : E_FAIL;
    }
    Rec().SetW(W_IS_RUNNING, 1);
    m_config.CommitChanges(nullptr);
    return S_OK;
}

HRESULT Mpeg2EncFilter::StopStreaming() {
    EngineFinish(true);
    m_stopTick = timeGetTime();
    Rec().SetW(W_IS_RUNNING, 0);
    m_config.CommitChanges(nullptr);
    return S_OK;
}

// ---- streaming ----

void Mpeg2EncFilter::FlushAndRestart() {
    {
        CAutoLock lock(&m_engineLock);
        if (m_running) Vidova().Done(m_engine, 0);
    }
    EngineFinish(false);
    if (FAILED(EngineStart())) EngineFinish(false);
}

HRESULT Mpeg2EncFilter::Receive(IMediaSample* sample) {
    if (!m_running) return E_FAIL;
    const VidovaBinding& eng = Vidova();
    AM_MEDIA_TYPE* changed = nullptr;
    if (sample->GetMediaType(&changed) == S_OK && changed) {
        CMediaType mt(*changed);
        DeleteMediaType(changed);
        {
            CAutoLock lock(&m_engineLock);
            if (m_running) eng.Done(m_engine, 0);
        }
        EngineFinish(false);
        if (CheckInputType(&mt) == S_OK) {
            m_pInput->SetMediaType(&mt);
            if (FAILED(EngineStart())) EngineFinish(false);
        }
        // A refused type leaves no engine to call.
        if (!m_running) return E_FAIL;
    }
    ++m_inFrames;
    const double r1 = Rec().D(B_INPUT_RATE);
    if (DropFrame(m_inFrames, m_outFrames, r1, m_outputRate)) return S_OK;
    BYTE* data = nullptr;
    if (FAILED(sample->GetPointer(&data)) || !data) return S_OK;
    // A short buffer is not coded: the engine would read past it.
    if (m_frameBytes <= 0 || sample->GetActualDataLength() < m_frameBytes) return S_OK;
    const double fps = Rec().D(B_FPS) > 0 ? Rec().D(B_FPS) : 25.0;
    REFERENCE_TIME start = 0, stop = 0;
    HRESULT timed = sample->GetTime(&start, &stop);
    const REFERENCE_TIME kFar = REFERENCE_TIME(1) << 62;  // beyond any real stream
    if (FAILED(timed) || start > kFar || start < -kFar || stop > kFar) {
        start = m_nextStart;
        stop = start + static_cast<REFERENCE_TIME>(10000000.0 / fps);
    } else if (timed == VFW_S_NO_STOP_TIME || stop < start) {
        stop = start + static_cast<REFERENCE_TIME>(10000000.0 / fps);
    }
    // A flush on the application thread finishes and restarts the engine.
    CAutoLock engineLock(&m_engineLock);
    if (!m_running) return E_FAIL;
    if (Rec().W(W_PAD_SKIPPED) && m_outFrames > 0) {
        PadPlan plan = PlanPadding(start, m_nextStart, r1, fps, m_inFrames);
        for (int i = 0; i < plan.repeats; ++i) {
            VidovaTimes t = {m_nextStart, m_nextStart + plan.step, SkippedFrames(start, m_nextStart, r1)};
            void* options[1] = {&t};
            eng.PutFrame(m_engine, nullptr, m_stride, m_width, m_height, m_fourcc,
                         VIDOVA_FRAME_TIMES | VIDOVA_FRAME_REPEAT, options);
            m_nextStart = t.stop;
            ++m_outFrames;
            // A repeat stands in for a frame that never came: counting it on the
            // input side too keeps the next frames from being dropped for it.
            ++m_inFrames;
            Rec().SetW(W_ENCODED_FRAMES, Rec().W(W_ENCODED_FRAMES) + 1);
        }
    }
    VidovaTimes times = {start, stop, 0};
    VidovaRates rates = {Rec().W(W_MAX_BITRATE), Rec().W(W_BITRATE), Rec().W(W_MIN_BITRATE)};
    uint32_t flags = Rec().W(W_SKIP_MODE) == 1 ? 0x3000000Fu : 0x30000000u;
    // The engine copies the caption bytes within PutFrame.
    VidovaCaption caption = {};
    std::optional<std::vector<uint8_t>> captionBytes;
    const int captionMode = Rec().W(W_CLOSED_CAPTION);
    if (captionMode != 0 && m_ccPin && m_ccPin->IsConnected())
        captionBytes = m_ccPin->BuildCcUserData(start, stop, static_cast<videoenc::CaptionForm>(captionMode));
    void* options[3] = {&times, &rates, nullptr};
    if (captionBytes && !captionBytes->empty()) {
        caption.count = static_cast<int32_t>(captionBytes->size());
        caption.bytes = captionBytes->data();
        options[0] = &caption;
        options[1] = &times;
        options[2] = &rates;
        flags |= VIDOVA_FRAME_CAPTION;
    }
    eng.PutFrame(m_engine, data + m_firstLineOffset, m_stride, m_width, m_height, m_fourcc, flags, options);
    Rec().SetW(W_ENCODED_FRAMES, Rec().W(W_ENCODED_FRAMES) + 1);
    ++m_outFrames;
    m_nextStart = stop;
    return S_OK;
}

// The input pin calls this under the receive lock.
HRESULT Mpeg2EncFilter::EndOfStream() {
    FlushAndRestart();
    return CTransformFilter::EndOfStream();
}

// The input pin calls this under the filter lock.
HRESULT Mpeg2EncFilter::EndFlush() {
    FlushAndRestart();
    m_inFrames = m_outFrames = 0;
    return CTransformFilter::EndFlush();
}

// ---- output ----

bool Mpeg2EncFilter::GetBuffer(uint8_t** data, uint32_t* size) {
    if (m_held) {
        m_held->Release();
        m_held = nullptr;
    }
    if (!m_pOutput || FAILED(m_pOutput->GetDeliveryBuffer(&m_held, nullptr, nullptr, 0)) || !m_held) {
        m_held = nullptr;
        return false;
    }
    BYTE* p = nullptr;
    if (FAILED(m_held->GetPointer(&p)) || !p) {
        m_held->Release();
        m_held = nullptr;
        return false;
    }
    *data = p;
    *size = static_cast<uint32_t>(m_held->GetSize());
    return true;
}

void Mpeg2EncFilter::Deliver(uint8_t*, uint32_t used, const int32_t times[4]) {
    if (!m_held) return;
    IMediaSample* s = m_held;
    m_held = nullptr;
    if (used > 0) {
        if (m_toFileWriter) {
            REFERENCE_TIME a = static_cast<REFERENCE_TIME>(m_bytesOut), b = a + used;
            s->SetTime(&a, &b);
        } else {
            int64_t start, stop;
            std::memcpy(&start, times, 8);
            std::memcpy(&stop, times + 2, 8);
            if (start < 0) {
                s->SetTime(nullptr, nullptr);
                s->SetSyncPoint(FALSE);
            } else {
                REFERENCE_TIME a = start, b = stop >= start ? stop : start;
                s->SetTime(&a, &b);
                s->SetSyncPoint(TRUE);
            }
        }
        m_bytesOut += used;
        s->SetActualDataLength(static_cast<long>(used));
        s->SetDiscontinuity(FALSE);
        m_pOutput->Deliver(s);
    }
    s->Release();
    const DWORD elapsed = timeGetTime() - m_startTick;
    Rec().SetD(B_ENCODING_SPEED, elapsed ? Rec().W(W_ENCODED_FRAMES) * 1000.0 / elapsed : 0.0);
}

void Mpeg2EncFilter::Notify(uint32_t id, const void* data, uint32_t size) {
    if (id != kInfoStats || !data || size < sizeof(VidovaStats)) return;
    VidovaStats stats;
    std::memcpy(&stats, data, sizeof stats);
    Rec().SetD(B_OVERALL_PSNR, stats.overallPsnr);
    Rec().SetD(B_REAL_BITRATE, stats.realBitrate);
}
