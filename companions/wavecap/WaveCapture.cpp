#include "companions/wavecap/WaveCapture.h"

#include <cstring>

extern "C" const CLSID CLSID_KorvellAudioCapture = {
    0x8F3C2B6A, 0x1D4E, 0x4F70, {0xA5, 0xB9, 0xC6, 0xD7, 0xE8, 0xF9, 0x0A, 0x1B}};

namespace {
constexpr DWORD kRate = 48000;
constexpr WORD kChannels = 2;
constexpr DWORD kBlockMs = 20;
constexpr int kBlocks = 16;
}  // namespace

CUnknown* WINAPI WaveCaptureSource::CreateInstance(LPUNKNOWN pUnk, HRESULT* phr) {
    HRESULT hr = S_OK;
    auto* source = new (std::nothrow) WaveCaptureSource(pUnk, &hr);
    if (!source)
        hr = E_OUTOFMEMORY;
    else if (FAILED(hr)) {
        delete source;
        source = nullptr;
    }
    if (phr) *phr = hr;
    return source;
}

WaveCaptureSource::WaveCaptureSource(LPUNKNOWN pUnk, HRESULT* phr)
    : CSource("Korvell Audio Capture", pUnk, CLSID_KorvellAudioCapture, phr),
      m_line(this, &m_cStateLock, phr, L"Stereo Mix") {
    if (!new (std::nothrow) WaveCaptureStream(this, phr) && phr) *phr = E_OUTOFMEMORY;
}

int WaveCaptureSource::GetPinCount() {
    return CSource::GetPinCount() + 1;
}

CBasePin* WaveCaptureSource::GetPin(int n) {
    const int outputs = CSource::GetPinCount();
    if (n >= 0 && n < outputs) return CSource::GetPin(n);
    return n == outputs ? &m_line : nullptr;
}

WaveCaptureStream::WaveCaptureStream(WaveCaptureSource* filter, HRESULT* phr)
    : CLiveSourceStream("Korvell Audio Capture stream", phr, filter, L"Capture"), m_source(filter), m_timeline(kRate) {
    m_format.wFormatTag = WAVE_FORMAT_PCM;
    m_format.nChannels = kChannels;
    m_format.nSamplesPerSec = kRate;
    m_format.wBitsPerSample = 16;
    m_format.nBlockAlign = kChannels * 2;
    m_format.nAvgBytesPerSec = kRate * m_format.nBlockAlign;
}

WaveCaptureStream::~WaveCaptureStream() {
    CloseDevice();
}

HRESULT WaveCaptureStream::GetMediaType(CMediaType* pmt) {
    CheckPointer(pmt, E_POINTER);
    pmt->InitMediaType();
    pmt->SetType(&MEDIATYPE_Audio);
    pmt->SetSubtype(&MEDIASUBTYPE_PCM);
    pmt->SetFormatType(&FORMAT_WaveFormatEx);
    pmt->SetSampleSize(m_format.nBlockAlign);
    WAVEFORMATEX f = m_format;
    f.cbSize = 0;
    return pmt->SetFormat(reinterpret_cast<BYTE*>(&f), sizeof f) ? S_OK : E_OUTOFMEMORY;
}

HRESULT WaveCaptureStream::DecideBufferSize(IMemAllocator* alloc, ALLOCATOR_PROPERTIES* props) {
    CheckPointer(alloc, E_POINTER);
    CheckPointer(props, E_POINTER);
    props->cBuffers = props->cBuffers > 8 ? props->cBuffers : 8;
    props->cbBuffer = static_cast<long>(m_format.nAvgBytesPerSec * kBlockMs / 1000);
    props->cbAlign = props->cbAlign > 0 ? props->cbAlign : 1;
    ALLOCATOR_PROPERTIES actual = {};
    HRESULT hr = alloc->SetProperties(props, &actual);
    if (FAILED(hr)) return hr;
    return actual.cbBuffer < props->cbBuffer ? E_FAIL : S_OK;
}

HRESULT WaveCaptureStream::CompleteConnect(IPin* receivePin) {
    HRESULT hr = CLiveSourceStream::CompleteConnect(receivePin);
    if (FAILED(hr)) return hr;
    // A device that cannot open now may still open when the graph starts.
    if (!m_device) OpenDevice();
    return S_OK;
}

HRESULT WaveCaptureStream::BreakConnect() {
    CloseDevice();
    return CLiveSourceStream::BreakConnect();
}

HRESULT WaveCaptureStream::OpenDevice() {
    if (m_device) return S_OK;
    if (!m_filled) m_filled = CreateEventW(nullptr, FALSE, FALSE, nullptr);
    if (!m_filled) return E_OUTOFMEMORY;
    MMRESULT rc =
        waveInOpen(&m_device, WAVE_MAPPER, &m_format, reinterpret_cast<DWORD_PTR>(m_filled), 0, CALLBACK_EVENT);
    if (rc != MMSYSERR_NOERROR) {
        m_device = nullptr;
        CloseDevice();
        return E_FAIL;
    }
    m_blocks.assign(kBlocks, std::vector<BYTE>(m_format.nAvgBytesPerSec * kBlockMs / 1000));
    m_headers.assign(kBlocks, WAVEHDR{});
    for (int i = 0; i < kBlocks; ++i) {
        m_headers[i].lpData = reinterpret_cast<LPSTR>(m_blocks[i].data());
        m_headers[i].dwBufferLength = static_cast<DWORD>(m_blocks[i].size());
        if (waveInPrepareHeader(m_device, &m_headers[i], sizeof(WAVEHDR)) != MMSYSERR_NOERROR ||
            waveInAddBuffer(m_device, &m_headers[i], sizeof(WAVEHDR)) != MMSYSERR_NOERROR) {
            CloseDevice();
            return E_FAIL;
        }
    }
    m_next = 0;
    if (waveInStart(m_device) != MMSYSERR_NOERROR) {
        CloseDevice();
        return E_FAIL;
    }
    return S_OK;
}

// What the device captured while nobody took it is stale: it goes, and the
// blocks start afresh, from the same settled device.
HRESULT WaveCaptureStream::RestartDevice() {
    if (waveInReset(m_device) != MMSYSERR_NOERROR) return E_FAIL;
    for (WAVEHDR& h : m_headers) {
        h.dwFlags &= ~WHDR_DONE;
        h.dwBytesRecorded = 0;
        if (waveInAddBuffer(m_device, &h, sizeof(WAVEHDR)) != MMSYSERR_NOERROR) return E_FAIL;
    }
    m_next = 0;
    return waveInStart(m_device) == MMSYSERR_NOERROR ? S_OK : E_FAIL;
}

HRESULT WaveCaptureStream::OnThreadCreate() {
    if (m_device) {
        if (SUCCEEDED(RestartDevice())) return S_OK;
        CloseDevice();
    }
    return OpenDevice();
}

void WaveCaptureStream::CloseDevice() {
    if (m_device) {
        waveInReset(m_device);
        for (WAVEHDR& h : m_headers) waveInUnprepareHeader(m_device, &h, sizeof(WAVEHDR));
        waveInClose(m_device);
        m_device = nullptr;
    }
    m_headers.clear();
    m_blocks.clear();
    if (m_filled) CloseHandle(m_filled);
    m_filled = nullptr;
}

HRESULT WaveCaptureStream::OnThreadDestroy() {
    CloseDevice();
    return S_OK;
}

HRESULT WaveCaptureStream::OnThreadStartPlay() {
    m_timeline.Reset();
    m_countedTime = 0;
    ResetStreamEnd();
    return S_OK;
}

bool WaveCaptureStream::StreamNow(REFERENCE_TIME* now) {
    IReferenceClock* clock = m_source->Clock();
    REFERENCE_TIME t = 0;
    if (!clock || FAILED(clock->GetTime(&t))) return false;
    *now = t - m_source->StartTime();
    return true;
}

// Not used: the loop stamps and fills its samples itself (Send).
HRESULT WaveCaptureStream::FillBuffer(IMediaSample*) {
    return E_UNEXPECTED;
}

HRESULT WaveCaptureStream::Send(const BYTE* data, uint32_t frames) {
    const uint32_t perSample = static_cast<uint32_t>(m_format.nAvgBytesPerSec * kBlockMs / 1000) / m_format.nBlockAlign;
    while (frames > 0) {
        const uint32_t n = frames < perSample ? frames : perSample;
        const wavecap::CaptureTimeline::Span span = m_timeline.Next(n);
        const uint32_t kept = n - span.skip;
        const BYTE* from = data ? data + static_cast<size_t>(span.skip) * m_format.nBlockAlign : nullptr;
        if (data) data += static_cast<size_t>(n) * m_format.nBlockAlign;
        frames -= n;
        if (kept == 0) continue;                             // captured before the run
        if (StreamEndDue(span.start)) DeliverEndOfStream();  // downstream can finish its data
        if (StreamEnded()) return S_OK;
        IMediaSample* sample = nullptr;
        HRESULT hr = GetDeliveryBuffer(&sample, nullptr, nullptr, 0);
        if (FAILED(hr)) return hr;
        BYTE* p = nullptr;
        const long bytes = static_cast<long>(kept * m_format.nBlockAlign);
        hr = sample->GetPointer(&p);
        if (SUCCEEDED(hr) && sample->GetSize() < bytes) hr = E_FAIL;
        if (SUCCEEDED(hr)) {
            if (from)
                std::memcpy(p, from, static_cast<size_t>(bytes));
            else
                std::memset(p, 0, static_cast<size_t>(bytes));
            hr = sample->SetActualDataLength(bytes);
        }
        REFERENCE_TIME start = span.start, stop = span.stop;
        if (SUCCEEDED(hr)) hr = sample->SetTime(&start, &stop);
        if (SUCCEEDED(hr)) hr = sample->SetSyncPoint(TRUE);
        if (SUCCEEDED(hr)) hr = Deliver(sample);
        sample->Release();
        if (FAILED(hr)) return hr;
    }
    return S_OK;
}

// A live source: blocks captured before Run are dropped; those after it are
// placed on the graph's clock (CaptureTimeline).
HRESULT WaveCaptureStream::DoBufferProcessingLoop() {
    OnThreadStartPlay();
    Command com;
    do {
        while (!CheckRequest(&com)) {
            if (m_headers.empty()) return E_FAIL;
            if (WaitForSingleObject(m_filled, 20) != WAIT_OBJECT_0 && !(m_headers[m_next].dwFlags & WHDR_DONE))
                continue;
            // Every block ready now arrived together: they are placed as one.
            size_t ready = 0;
            uint64_t frames = 0;
            while (ready < m_headers.size() && (m_headers[(m_next + ready) % m_headers.size()].dwFlags & WHDR_DONE)) {
                frames += m_headers[(m_next + ready) % m_headers.size()].dwBytesRecorded / m_format.nBlockAlign;
                ++ready;
            }
            const bool sending = m_source->IsRunning() && !StreamEnded();
            HRESULT hr = S_OK;
            if (sending && frames > 0) {
                REFERENCE_TIME now = 0;
                if (!StreamNow(&now)) now = m_countedTime += m_timeline.Duration(frames);
                m_timeline.Arrived(frames, now);
                hr = Send(nullptr, static_cast<uint32_t>(m_timeline.TakeLeadingSilence()));
            }
            for (size_t i = 0; i < ready; ++i) {
                WAVEHDR& h = m_headers[m_next];
                if (sending && SUCCEEDED(hr))
                    hr = Send(reinterpret_cast<const BYTE*>(h.lpData), h.dwBytesRecorded / m_format.nBlockAlign);
                h.dwFlags &= ~WHDR_DONE;
                h.dwBytesRecorded = 0;
                if (waveInAddBuffer(m_device, &h, sizeof(WAVEHDR)) != MMSYSERR_NOERROR && SUCCEEDED(hr)) hr = E_FAIL;
                m_next = (m_next + 1) % m_headers.size();
            }
            if (FAILED(hr) && hr != VFW_E_NOT_COMMITTED) {
                DeliverEndOfStream();
                m_pFilter->NotifyEvent(EC_ERRORABORT, hr, 0);
                return hr;
            }
        }
    } while (AnswerLoopCommand(com));
    return S_FALSE;
}
