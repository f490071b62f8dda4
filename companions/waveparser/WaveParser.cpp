#include "companions/waveparser/WaveParser.h"

#include <new>
#include <vector>

namespace {

constexpr long kBlocksPerSecond = 20;
constexpr long kBufferCount = 8;
constexpr LONG kHeaderStep = 256;
constexpr LONG kLongestHeader = 65536;
// How much of a live stream's backlog is kept when the graph runs.
constexpr LONGLONG kLiveLeadBlocks = 1;

}  // namespace

const AMOVIESETUP_MEDIATYPE kWaveInTypes[] = {{&MEDIATYPE_Stream, &MEDIASUBTYPE_WAVE}};
const AMOVIESETUP_MEDIATYPE kWaveOutTypes[] = {{&MEDIATYPE_Audio, &MEDIASUBTYPE_PCM}};
const AMOVIESETUP_PIN kWavePins[] = {
    {const_cast<LPWSTR>(L"input pin"), FALSE, FALSE, FALSE, FALSE, &CLSID_NULL, NULL, 1, kWaveInTypes},
    {const_cast<LPWSTR>(L"output"), FALSE, TRUE, FALSE, FALSE, &CLSID_NULL, NULL, 1, kWaveOutTypes}};
EXTERN_C const AMOVIESETUP_FILTER kWaveParserSetup = {&CLSID_KorvellWaveParser, L"Wave Parser", MERIT_UNLIKELY, 2,
                                                      kWavePins};

// ---------------------------------------------------------------------------
// Pins

CWaveInputPin::CWaveInputPin(CWaveParser* filter, CCritSec* lock, HRESULT* phr)
    : CBasePin(NAME("Wave Parser input"), filter, lock, phr, L"input pin", PINDIR_INPUT), parser_(filter) {}

HRESULT CWaveInputPin::CheckMediaType(const CMediaType* pmt) {
    return *pmt->Type() == MEDIATYPE_Stream ? S_OK : S_FALSE;
}

HRESULT CWaveInputPin::CheckConnect(IPin* pin) {
    HRESULT hr = CBasePin::CheckConnect(pin);
    if (FAILED(hr)) return hr;
    com::ComPtr<IAsyncReader> reader;
    return FAILED(reader.QueryFrom(pin, IID_IAsyncReader)) ? VFW_E_NO_TRANSPORT : S_OK;
}

HRESULT CWaveInputPin::CompleteConnect(IPin* pin) {
    if (FAILED(parser_->reader_.QueryFrom(pin, IID_IAsyncReader))) return VFW_E_NO_TRANSPORT;
    const HRESULT hr = parser_->ReadHeader();
    if (FAILED(hr)) parser_->reader_ = nullptr;
    return FAILED(hr) ? hr : CBasePin::CompleteConnect(pin);
}

HRESULT CWaveInputPin::BreakConnect() {
    parser_->reader_ = nullptr;
    parser_->haveFormat_ = false;
    return CBasePin::BreakConnect();
}

CWaveOutputPin::CWaveOutputPin(CWaveParser* filter, CCritSec* lock, HRESULT* phr)
    : CBaseOutputPin(NAME("Wave Parser output"), filter, lock, phr, L"output"), parser_(filter) {}

HRESULT CWaveOutputPin::GetMediaType(int position, CMediaType* pmt) {
    if (position < 0) return E_INVALIDARG;
    if (position > 0 || !parser_->haveFormat_) return VFW_S_NO_MORE_ITEMS;
    const waveparser::PcmFormat& f = parser_->format_;
    WAVEFORMATEX* wave = reinterpret_cast<WAVEFORMATEX*>(pmt->AllocFormatBuffer(sizeof(WAVEFORMATEX)));
    if (!wave) return E_OUTOFMEMORY;
    ZeroMemory(wave, sizeof *wave);
    wave->wFormatTag = WAVE_FORMAT_PCM;
    wave->nChannels = f.channels;
    wave->nSamplesPerSec = f.sampleRate;
    wave->nAvgBytesPerSec = f.byteRate;
    wave->nBlockAlign = f.blockAlign;
    wave->wBitsPerSample = f.bits;
    pmt->SetType(&MEDIATYPE_Audio);
    pmt->SetSubtype(&MEDIASUBTYPE_PCM);
    pmt->SetFormatType(&FORMAT_WaveFormatEx);
    pmt->SetTemporalCompression(FALSE);
    pmt->SetSampleSize(f.blockAlign);
    return S_OK;
}

HRESULT CWaveOutputPin::CheckMediaType(const CMediaType* pmt) {
    CMediaType mine;
    if (GetMediaType(0, &mine) != S_OK) return VFW_E_NOT_CONNECTED;
    return *pmt == mine ? S_OK : S_FALSE;
}

HRESULT CWaveOutputPin::DecideBufferSize(IMemAllocator* allocator, ALLOCATOR_PROPERTIES* request) {
    if (request->cBuffers < kBufferCount) request->cBuffers = kBufferCount;
    request->cbBuffer = parser_->BlockBytes();
    if (request->cbAlign <= 0) request->cbAlign = 1;
    ALLOCATOR_PROPERTIES actual;
    const HRESULT hr = allocator->SetProperties(request, &actual);
    if (FAILED(hr)) return hr;
    return actual.cbBuffer < request->cbBuffer ? E_FAIL : S_OK;
}

// ---------------------------------------------------------------------------
// Filter

CUnknown* WINAPI CWaveParser::CreateInstance(LPUNKNOWN outer, HRESULT* phr) {
    CWaveParser* parser = new (std::nothrow) CWaveParser(outer, phr);
    if (!parser && phr) *phr = E_OUTOFMEMORY;
    return parser;
}

CWaveParser::CWaveParser(LPUNKNOWN outer, HRESULT* phr)
    : CBaseFilter(NAME("Wave Parser"), outer, &lock_, CLSID_KorvellWaveParser),
      input_(this, &lock_, phr),
      output_(this, &lock_, phr) {}

CWaveParser::~CWaveParser() {
    Stop();
}

CBasePin* CWaveParser::GetPin(int n) {
    if (n == 0) return &input_;
    if (n == 1) return &output_;
    return nullptr;
}

long CWaveParser::BlockBytes() const {
    const long frames = format_.sampleRate > 0 ? static_cast<long>(format_.sampleRate) / kBlocksPerSecond : 1;
    return (frames > 0 ? frames : 1) * (format_.blockAlign > 0 ? format_.blockAlign : 1);
}

HRESULT CWaveParser::ReadHeader() {
    std::vector<std::uint8_t> bytes;
    for (LONG size = kHeaderStep; size <= kLongestHeader; size += kHeaderStep) {
        bytes.resize(static_cast<std::size_t>(size));
        const HRESULT hr = reader_->SyncRead(0, size, bytes.data());
        if (FAILED(hr)) return hr;
        std::size_t offset = 0;
        switch (waveparser::ParseWaveHeader(bytes.data(), bytes.size(), format_, offset)) {
            case waveparser::HeaderState::Ok:
                dataOffset_ = static_cast<LONGLONG>(offset);
                haveFormat_ = true;
                return S_OK;
            case waveparser::HeaderState::Invalid:
                return VFW_E_INVALID_FILE_FORMAT;
            case waveparser::HeaderState::NeedMore:
                if (hr == S_FALSE) return VFW_E_INVALID_FILE_FORMAT;  // the stream ended
                break;
        }
    }
    return VFW_E_INVALID_FILE_FORMAT;
}

STDMETHODIMP CWaveParser::Pause() {
    CAutoLock hold(&lock_);
    const bool wasStopped = m_State == State_Stopped;
    const HRESULT hr = CBaseFilter::Pause();
    if (FAILED(hr)) return hr;
    if (wasStopped && reader_ && output_.IsConnected() && !streamer_.joinable()) {
        stopping_ = false;
        running_ = false;
        streamer_ = std::thread([this] { Stream(); });
    }
    return hr;
}

STDMETHODIMP CWaveParser::Run(REFERENCE_TIME start) {
    CAutoLock hold(&lock_);
    const HRESULT hr = CBaseFilter::Run(start);
    if (SUCCEEDED(hr)) running_ = true;
    return hr;
}

STDMETHODIMP CWaveParser::Stop() {
    {
        CAutoLock hold(&lock_);
        stopping_ = true;
        // Frees a read that waits for sound that will not come.
        if (reader_) reader_->BeginFlush();
    }
    if (streamer_.joinable()) streamer_.join();
    CAutoLock hold(&lock_);
    if (reader_) reader_->EndFlush();
    return CBaseFilter::Stop();
}

void CWaveParser::Stream() {
    const long block = BlockBytes();
    LONGLONG position = dataOffset_;
    LONGLONG runPosition = -1;
    while (!stopping_) {
        if (!running_) {
            Sleep(5);
            continue;
        }
        if (runPosition < 0) {
            // Join a live stream at its newest sound: what piled up before
            // the run would put the sound ahead of the pictures.
            LONGLONG total = 0;
            LONGLONG available = 0;
            if (SUCCEEDED(reader_->Length(&total, &available)) && available > position + kLiveLeadBlocks * block) {
                const LONGLONG skip = available - kLiveLeadBlocks * block - position;
                position += skip - skip % format_.blockAlign;
            }
            runPosition = position;
        }
        IMediaSample* sample = nullptr;
        if (FAILED(output_.GetDeliveryBuffer(&sample, nullptr, nullptr, 0)) || !sample) break;
        BYTE* data = nullptr;
        HRESULT hr = sample->GetPointer(&data);
        if (SUCCEEDED(hr)) hr = reader_->SyncRead(position, block, data);
        if (FAILED(hr) || hr == S_FALSE) {
            sample->Release();
            break;
        }
        REFERENCE_TIME begin = (position - runPosition) * UNITS / format_.byteRate;
        REFERENCE_TIME end = (position + block - runPosition) * UNITS / format_.byteRate;
        sample->SetTime(&begin, &end);
        sample->SetActualDataLength(block);
        sample->SetSyncPoint(TRUE);
        position += block;
        hr = output_.Deliver(sample);
        sample->Release();
        if (hr != S_OK) break;
    }
    if (!stopping_) output_.DeliverEndOfStream();
}
