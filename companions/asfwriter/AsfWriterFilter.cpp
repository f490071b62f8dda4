#include "companions/asfwriter/AsfWriterFilter.h"

#include <mmreg.h>
#include <wmsdkidl.h>

#include <algorithm>
#include <cstring>
#include <new>

#include "platform/dshow/FileIo.h"

namespace {

const GUID kWmAsfWriter = {0x7c23220e, 0x55bb, 0x11d3, {0x8b, 0x16, 0x00, 0xc0, 0x4f, 0xb6, 0xbd, 0x3d}};
const LONGLONG kHundredNsPerMs = 10000;
const int kMaxPins = 16;

std::wstring PinName(bool audio, int serial) {
    const wchar_t tens = static_cast<wchar_t>(L'0' + serial / 10 % 10);
    const wchar_t units = static_cast<wchar_t>(L'0' + serial % 10);
    return std::wstring(audio ? L"Audio" : L"Video") + L" Input " + tens + units;
}

// The stream as this writer stores it, from the profile's stream.
HRESULT StreamOf(IWMStreamConfig* config, asfstandin::AsfStream& stream) {
    GUID type{};
    WORD number = 0;
    DWORD bitrate = 0;
    HRESULT hr = config->GetStreamType(&type);
    if (SUCCEEDED(hr)) hr = config->GetStreamNumber(&number);
    if (SUCCEEDED(hr)) hr = config->GetBitrate(&bitrate);
    if (FAILED(hr)) return hr;
    IWMMediaProps* props = nullptr;
    hr = config->QueryInterface(__uuidof(IWMMediaProps), reinterpret_cast<void**>(&props));
    if (FAILED(hr)) return hr;
    DWORD size = 0;
    hr = props->GetMediaType(nullptr, &size);
    std::vector<BYTE> block(size >= sizeof(WM_MEDIA_TYPE) ? size : sizeof(WM_MEDIA_TYPE));
    WM_MEDIA_TYPE* mt = reinterpret_cast<WM_MEDIA_TYPE*>(block.data());
    if (SUCCEEDED(hr)) hr = props->GetMediaType(mt, &size);
    props->Release();
    if (FAILED(hr)) return hr;
    stream.number = number;
    stream.bitrate = bitrate;
    if (type == MEDIATYPE_Audio && mt->formattype == FORMAT_WaveFormatEx && mt->cbFormat >= sizeof(WAVEFORMATEX)) {
        const WAVEFORMATEX* wave = reinterpret_cast<const WAVEFORMATEX*>(mt->pbFormat);
        stream.audio = true;
        stream.channels = wave->nChannels;
        stream.samplesPerSec = static_cast<int>(wave->nSamplesPerSec);
        return stream.channels > 0 && stream.samplesPerSec > 0 ? S_OK : VFW_E_INVALIDMEDIATYPE;
    }
    if (type == MEDIATYPE_Video && mt->formattype == FORMAT_VideoInfo && mt->cbFormat >= sizeof(VIDEOINFOHEADER)) {
        const VIDEOINFOHEADER* info = reinterpret_cast<const VIDEOINFOHEADER*>(mt->pbFormat);
        stream.width = info->bmiHeader.biWidth;
        stream.height = std::abs(info->bmiHeader.biHeight);
        stream.timePerFrame = info->AvgTimePerFrame;
        return stream.width > 0 && stream.height > 0 && stream.timePerFrame > 0 ? S_OK : VFW_E_INVALIDMEDIATYPE;
    }
    return VFW_E_INVALIDMEDIATYPE;
}

}  // namespace

class CAsfWriterFilter::HandleSink : public asfstandin::ByteSink {
public:
    explicit HandleSink(HANDLE file) : file_(file) {}
    ~HandleSink() override {
        if (file_ != INVALID_HANDLE_VALUE) ::CloseHandle(file_);
    }
    HandleSink(const HandleSink&) = delete;
    HandleSink& operator=(const HandleSink&) = delete;
    bool Append(const std::uint8_t* data, std::size_t size) override {
        LARGE_INTEGER end{};
        return ::SetFilePointerEx(file_, end, nullptr, FILE_END) &&
               SUCCEEDED(WriteAllBytes(file_, data, static_cast<DWORD>(size)));
    }
    bool Rewrite(std::uint64_t offset, const std::uint8_t* data, std::size_t size) override {
        LARGE_INTEGER at{};
        at.QuadPart = static_cast<LONGLONG>(offset);
        return ::SetFilePointerEx(file_, at, nullptr, FILE_BEGIN) &&
               SUCCEEDED(WriteAllBytes(file_, data, static_cast<DWORD>(size)));
    }
    bool Close() {
        const bool closed = ::CloseHandle(file_) != FALSE;
        file_ = INVALID_HANDLE_VALUE;
        return closed;
    }

private:
    HANDLE file_;
};

CAsfInputPin::CAsfInputPin(CAsfWriterFilter* filter, CCritSec* lock, HRESULT* phr, const std::wstring& name,
                           const asfstandin::AsfStream& stream)
    : CTerminalInputPin(NAME("ASF writer input"), filter, lock, phr, name.c_str()),
      filter_(filter),
      name_(name),
      stream_(stream) {
    // The base pin keeps the pointer it was given: point it at our copy.
    m_pName = &name_[0];
}

HRESULT CAsfInputPin::CheckMediaType(const CMediaType* pmt) {
    if (stream_.audio) {
        if (*pmt->Type() != MEDIATYPE_Audio || *pmt->FormatType() != FORMAT_WaveFormatEx ||
            pmt->FormatLength() < sizeof(WAVEFORMATEX) || !pmt->Format())
            return VFW_E_TYPE_NOT_ACCEPTED;
        const WAVEFORMATEX* w = reinterpret_cast<const WAVEFORMATEX*>(pmt->Format());
        const bool ok = w->wFormatTag == WAVE_FORMAT_PCM && w->wBitsPerSample == 16 && w->nChannels >= 1 &&
                        w->nChannels <= 8 && w->nSamplesPerSec > 0 && w->nBlockAlign == w->nChannels * 2;
        return ok ? S_OK : VFW_E_TYPE_NOT_ACCEPTED;
    }
    if (*pmt->Type() != MEDIATYPE_Video || *pmt->FormatType() != FORMAT_VideoInfo ||
        pmt->FormatLength() < sizeof(VIDEOINFOHEADER) || !pmt->Format())
        return VFW_E_TYPE_NOT_ACCEPTED;
    const BITMAPINFOHEADER& bmi = reinterpret_cast<const VIDEOINFOHEADER*>(pmt->Format())->bmiHeader;
    const bool rgb24 = *pmt->Subtype() == MEDIASUBTYPE_RGB24 && bmi.biBitCount == 24;
    const bool rgb32 = *pmt->Subtype() == MEDIASUBTYPE_RGB32 && bmi.biBitCount == 32;
    // The picture size is the profile's: the file's header says so.
    const bool ok = (rgb24 || rgb32) && bmi.biCompression == BI_RGB && bmi.biWidth == stream_.width &&
                    bmi.biHeight == stream_.height;
    return ok ? S_OK : VFW_E_TYPE_NOT_ACCEPTED;
}

HRESULT CAsfInputPin::GetMediaType(int position, CMediaType* pmt) {
    CheckPointer(pmt, E_POINTER);
    if (position < 0) return E_INVALIDARG;
    if (position > 0) return VFW_S_NO_MORE_ITEMS;
    pmt->InitMediaType();
    if (stream_.audio) {
        WAVEFORMATEX* w = reinterpret_cast<WAVEFORMATEX*>(pmt->AllocFormatBuffer(sizeof(WAVEFORMATEX)));
        if (!w) return E_OUTOFMEMORY;
        ZeroMemory(w, sizeof *w);
        w->wFormatTag = WAVE_FORMAT_PCM;
        w->nChannels = static_cast<WORD>(stream_.channels);
        w->nSamplesPerSec = static_cast<DWORD>(stream_.samplesPerSec);
        w->wBitsPerSample = 16;
        w->nBlockAlign = static_cast<WORD>(stream_.channels * 2);
        w->nAvgBytesPerSec = w->nSamplesPerSec * w->nBlockAlign;
        pmt->SetType(&MEDIATYPE_Audio);
        pmt->SetSubtype(&MEDIASUBTYPE_PCM);
        pmt->SetFormatType(&FORMAT_WaveFormatEx);
        pmt->SetSampleSize(w->nBlockAlign);
        return S_OK;
    }
    VIDEOINFOHEADER* v = reinterpret_cast<VIDEOINFOHEADER*>(pmt->AllocFormatBuffer(sizeof(VIDEOINFOHEADER)));
    if (!v) return E_OUTOFMEMORY;
    ZeroMemory(v, sizeof *v);
    v->AvgTimePerFrame = stream_.timePerFrame;
    v->bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
    v->bmiHeader.biWidth = stream_.width;
    v->bmiHeader.biHeight = stream_.height;
    v->bmiHeader.biPlanes = 1;
    v->bmiHeader.biBitCount = 24;
    v->bmiHeader.biCompression = BI_RGB;
    v->bmiHeader.biSizeImage = static_cast<DWORD>(stream_.width * stream_.height * 3);
    pmt->SetType(&MEDIATYPE_Video);
    pmt->SetSubtype(&MEDIASUBTYPE_RGB24);
    pmt->SetFormatType(&FORMAT_VideoInfo);
    pmt->SetSampleSize(v->bmiHeader.biSizeImage);
    return S_OK;
}

void CAsfInputPin::Restart() {
    ended_ = false;
    converter_.reset();
    if (stream_.audio && IsConnected()) {
        const WAVEFORMATEX* w = reinterpret_cast<const WAVEFORMATEX*>(m_mt.Format());
        converter_.reset(new (std::nothrow) asfstandin::PcmConverter(static_cast<int>(w->nSamplesPerSec), w->nChannels,
                                                                     stream_.samplesPerSec, stream_.channels));
    }
}

bool CAsfInputPin::Convert(IMediaSample* sample, std::vector<std::uint8_t>& out, std::uint32_t& durationMs) {
    BYTE* data = nullptr;
    if (FAILED(sample->GetPointer(&data)) || !data) return false;
    const long length = sample->GetActualDataLength();
    if (length <= 0) return false;
    if (stream_.audio) {
        if (!converter_) return false;
        const WAVEFORMATEX* w = reinterpret_cast<const WAVEFORMATEX*>(m_mt.Format());
        const std::size_t frames = static_cast<std::size_t>(length) / w->nBlockAlign;
        converter_->Convert(reinterpret_cast<const std::int16_t*>(data), frames, pcm_);
        out.resize(pcm_.size() * 2);
        if (!pcm_.empty()) std::memcpy(out.data(), pcm_.data(), out.size());
        durationMs = static_cast<std::uint32_t>(pcm_.size() / static_cast<std::size_t>(stream_.channels) * 1000 /
                                                static_cast<std::size_t>(stream_.samplesPerSec));
        return true;
    }
    const BITMAPINFOHEADER& bmi = reinterpret_cast<const VIDEOINFOHEADER*>(m_mt.Format())->bmiHeader;
    const std::size_t inPixel = bmi.biBitCount / 8;
    const std::size_t inStride = (static_cast<std::size_t>(stream_.width) * inPixel + 3) & ~static_cast<std::size_t>(3);
    const std::size_t outStride = static_cast<std::size_t>(stream_.width) * 3;
    if (static_cast<std::size_t>(length) < inStride * static_cast<std::size_t>(stream_.height)) return false;
    out.resize(outStride * static_cast<std::size_t>(stream_.height));
    for (int y = 0; y < stream_.height; ++y) {
        const BYTE* row = data + inStride * static_cast<std::size_t>(y);
        std::uint8_t* to = out.data() + outStride * static_cast<std::size_t>(y);
        if (inPixel == 3) {
            std::memcpy(to, row, outStride);
            continue;
        }
        for (int x = 0; x < stream_.width; ++x, row += 4, to += 3) {
            to[0] = row[0];
            to[1] = row[1];
            to[2] = row[2];
        }
    }
    durationMs = static_cast<std::uint32_t>(stream_.timePerFrame / kHundredNsPerMs);
    return true;
}

STDMETHODIMP CAsfInputPin::Receive(IMediaSample* sample) {
    HRESULT hr = CBaseInputPin::Receive(sample);
    if (hr != S_OK) return hr;
    return filter_->Write(this, sample);
}

STDMETHODIMP CAsfInputPin::EndOfStream() {
    {
        CAutoLock stream(&filter_->receiveLock_);
        if (IsStopped()) return VFW_E_WRONG_STATE;
        if (IsFlushing()) return S_FALSE;
        ended_ = true;
    }
    filter_->PinEnded();
    return S_OK;
}

STDMETHODIMP CAsfInputPin::BeginFlush() {
    CAutoLock lock(&filter_->receiveLock_);
    return CBaseInputPin::BeginFlush();
}

STDMETHODIMP CAsfInputPin::EndFlush() {
    CAutoLock lock(&filter_->receiveLock_);
    return CBaseInputPin::EndFlush();
}

CUnknown* WINAPI CAsfWriterFilter::CreateInstance(LPUNKNOWN unk, HRESULT* phr) {
    CAsfWriterFilter* filter = new (std::nothrow) CAsfWriterFilter(unk, phr);
    if (!filter) *phr = E_OUTOFMEMORY;
    return filter;
}

CAsfWriterFilter::CAsfWriterFilter(LPUNKNOWN unk, HRESULT*)
    : CBaseFilter(NAME("WM ASF Writer"), unk, &filterLock_, kWmAsfWriter) {}

CAsfWriterFilter::~CAsfWriterFilter() {
    {
        CAutoLock stream(&receiveLock_);
        CloseTarget();
    }
    DropPins();
    if (profile_) profile_->Release();
}

STDMETHODIMP CAsfWriterFilter::NonDelegatingQueryInterface(REFIID riid, void** ppv) {
    CheckPointer(ppv, E_POINTER);
    if (riid == IID_IFileSinkFilter) return GetInterface(static_cast<IFileSinkFilter*>(this), ppv);
    if (riid == IID_IConfigAsfWriter) return GetInterface(static_cast<IConfigAsfWriter*>(this), ppv);
    if (riid == IID_IAMFilterMiscFlags) return GetInterface(static_cast<IAMFilterMiscFlags*>(this), ppv);
    return CBaseFilter::NonDelegatingQueryInterface(riid, ppv);
}

int CAsfWriterFilter::GetPinCount() {
    return static_cast<int>(pins_.size());
}

CBasePin* CAsfWriterFilter::GetPin(int n) {
    return n >= 0 && n < GetPinCount() ? pins_[static_cast<std::size_t>(n)] : nullptr;
}

void CAsfWriterFilter::DropPins() {
    for (CAsfInputPin* pin : pins_) delete pin;
    pins_.clear();
    IncrementPinVersion();
}

STDMETHODIMP CAsfWriterFilter::ConfigureFilterUsingProfileId(DWORD) {
    return E_NOTIMPL;
}
STDMETHODIMP CAsfWriterFilter::GetCurrentProfileId(DWORD*) {
    return E_NOTIMPL;
}
STDMETHODIMP CAsfWriterFilter::ConfigureFilterUsingProfileGuid(REFGUID) {
    return E_NOTIMPL;
}
STDMETHODIMP CAsfWriterFilter::GetCurrentProfileGuid(GUID*) {
    return E_NOTIMPL;
}

STDMETHODIMP CAsfWriterFilter::ConfigureFilterUsingProfile(IWMProfile* profile) {
    CheckPointer(profile, E_POINTER);
    CAutoLock lock(&filterLock_);
    if (m_State != State_Stopped) return VFW_E_NOT_STOPPED;
    for (CAsfInputPin* pin : pins_)
        if (pin->IsConnected()) return VFW_E_ALREADY_CONNECTED;
    DWORD count = 0;
    HRESULT hr = profile->GetStreamCount(&count);
    if (FAILED(hr)) return hr;
    if (count == 0 || count > kMaxPins) return E_INVALIDARG;
    std::vector<asfstandin::AsfStream> streams;
    for (DWORD i = 0; i < count; ++i) {
        IWMStreamConfig* config = nullptr;
        hr = profile->GetStream(i, &config);
        if (FAILED(hr)) return hr;
        if (!config) return E_POINTER;
        asfstandin::AsfStream stream;
        hr = StreamOf(config, stream);
        config->Release();
        if (FAILED(hr)) return hr;
        streams.push_back(stream);
    }
    DropPins();
    int audio = 0;
    int video = 0;
    for (const asfstandin::AsfStream& s : streams) {
        HRESULT made = S_OK;
        CAsfInputPin* pin = new (std::nothrow)
            CAsfInputPin(this, &filterLock_, &made, PinName(s.audio, s.audio ? ++audio : ++video), s);
        if (!pin || FAILED(made)) {
            delete pin;
            DropPins();
            return pin ? made : E_OUTOFMEMORY;
        }
        pins_.push_back(pin);
    }
    profile->AddRef();
    if (profile_) profile_->Release();
    profile_ = profile;
    return S_OK;
}

STDMETHODIMP CAsfWriterFilter::GetCurrentProfile(IWMProfile** profile) {
    CheckPointer(profile, E_POINTER);
    CAutoLock lock(&filterLock_);
    *profile = profile_;
    if (!profile_) return E_FAIL;
    profile_->AddRef();
    return S_OK;
}

STDMETHODIMP CAsfWriterFilter::SetIndexMode(BOOL index) {
    CAutoLock lock(&filterLock_);
    index_ = index;
    return S_OK;
}

STDMETHODIMP CAsfWriterFilter::GetIndexMode(BOOL* index) {
    CheckPointer(index, E_POINTER);
    CAutoLock lock(&filterLock_);
    *index = index_;
    return S_OK;
}

STDMETHODIMP CAsfWriterFilter::SetFileName(LPCOLESTR name, const AM_MEDIA_TYPE*) {
    CheckPointer(name, E_POINTER);
    if (*name == 0) return E_INVALIDARG;
    CAutoLock lock(&filterLock_);
    if (m_State != State_Stopped) return VFW_E_NOT_STOPPED;
    fileName_ = name;
    return S_OK;
}

STDMETHODIMP CAsfWriterFilter::GetCurFile(LPOLESTR* name, AM_MEDIA_TYPE* pmt) {
    CheckPointer(name, E_POINTER);
    CAutoLock lock(&filterLock_);
    *name = nullptr;
    if (fileName_.empty()) return E_FAIL;
    if (pmt) {
        ZeroMemory(pmt, sizeof(*pmt));
        pmt->majortype = MEDIATYPE_Stream;
    }
    return AMGetWideString(fileName_.c_str(), name);
}

HRESULT CAsfWriterFilter::OpenTarget() {
    CloseTarget();
    if (fileName_.empty()) return VFW_E_NOT_CONNECTED;
    std::vector<asfstandin::AsfStream> streams;
    for (CAsfInputPin* pin : pins_) {
        // Every stream of the profile is in the file: each needs its input.
        if (!pin->IsConnected()) return VFW_E_NOT_CONNECTED;
        pin->Restart();
        streams.push_back(pin->Stream());
    }
    if (streams.empty()) return VFW_E_NOT_CONNECTED;
    HANDLE file = ::CreateFileW(fileName_.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_ALWAYS,
                                FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return LastErrorResult();
    sink_.reset(new (std::nothrow) HandleSink(file));
    if (!sink_) {
        ::CloseHandle(file);
        return E_OUTOFMEMORY;
    }
    GUID id{};
    if (FAILED(::CoCreateGuid(&id))) id = GUID{};
    asfstandin::AsfFileWriter::FileId fileId{};
    std::memcpy(fileId.data(), &id, fileId.size());
    file_.reset(new (std::nothrow) asfstandin::AsfFileWriter(*sink_, streams, fileId));
    if (!file_ || !file_->Begin()) {
        const HRESULT hr = file_ ? LastErrorResult() : E_OUTOFMEMORY;
        file_.reset();
        sink_.reset();
        return hr;
    }
    return S_OK;
}

HRESULT CAsfWriterFilter::CloseTarget() {
    HRESULT hr = S_OK;
    if (file_ && !file_->Finish()) hr = E_FAIL;
    file_.reset();
    if (sink_ && !sink_->Close() && SUCCEEDED(hr)) hr = LastErrorResult();
    sink_.reset();
    return hr;
}

STDMETHODIMP CAsfWriterFilter::Stop() {
    CAutoLock lock(&filterLock_);
    HRESULT hr = CBaseFilter::Stop();
    CAutoLock stream(&receiveLock_);
    const HRESULT closed = CloseTarget();
    completePending_ = false;
    return FAILED(hr) ? hr : closed;
}

STDMETHODIMP CAsfWriterFilter::Pause() {
    CAutoLock lock(&filterLock_);
    if (m_State == State_Stopped) {
        CAutoLock stream(&receiveLock_);
        completePending_ = false;
        const HRESULT hr = OpenTarget();
        if (FAILED(hr)) return hr;
    }
    return CBaseFilter::Pause();
}

STDMETHODIMP CAsfWriterFilter::Run(REFERENCE_TIME start) {
    bool complete;
    {
        CAutoLock lock(&filterLock_);
        const HRESULT hr = CBaseFilter::Run(start);
        if (FAILED(hr)) return hr;
        CAutoLock stream(&receiveLock_);
        complete = completePending_;
        completePending_ = false;
    }
    if (complete) NotifyEvent(EC_COMPLETE, S_OK, reinterpret_cast<LONG_PTR>(static_cast<IBaseFilter*>(this)));
    return S_OK;
}

HRESULT CAsfWriterFilter::Write(CAsfInputPin* pin, IMediaSample* sample) {
    HRESULT hr = S_OK;
    {
        CAutoLock stream(&receiveLock_);
        if (pin->IsFlushing()) return S_FALSE;
        if (pin->Ended()) return VFW_E_SAMPLE_REJECTED_EOS;
        if (!file_) return VFW_E_WRONG_STATE;
        std::vector<std::uint8_t> data;
        std::uint32_t durationMs = 0;
        if (!pin->Convert(sample, data, durationMs)) return S_OK;  // nothing this stream can store
        if (data.empty()) return S_OK;
        REFERENCE_TIME start = 0;
        REFERENCE_TIME end = 0;
        if (FAILED(sample->GetTime(&start, &end)) || start < 0) start = 0;
        const std::uint32_t timeMs = static_cast<std::uint32_t>(start / kHundredNsPerMs);
        if (file_->WriteObject(pin->Stream().number, timeMs, durationMs, data.data(), data.size())) return S_OK;
        hr = LastErrorResult();
        CloseTarget();
    }
    NotifyEvent(EC_ERRORABORT, hr, 0);
    return hr;
}

void CAsfWriterFilter::PinEnded() {
    bool running;
    {
        CAutoLock stream(&receiveLock_);
        for (CAsfInputPin* pin : pins_)
            if (!pin->Ended()) return;
        if (!file_) return;
        CloseTarget();
        running = m_State == State_Running;
        if (!running) completePending_ = true;
    }
    if (running) NotifyEvent(EC_COMPLETE, S_OK, reinterpret_cast<LONG_PTR>(static_cast<IBaseFilter*>(this)));
}
