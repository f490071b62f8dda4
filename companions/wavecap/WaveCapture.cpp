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
    : CSource("Korvell Audio Capture", pUnk, CLSID_KorvellAudioCapture, phr) {
    if (!new (std::nothrow) WaveCaptureStream(this, phr) && phr) *phr = E_OUTOFMEMORY;
}

WaveCaptureStream::WaveCaptureStream(WaveCaptureSource* filter, HRESULT* phr)
    : CLiveSourceStream("Korvell Audio Capture stream", phr, filter, L"Capture"), m_source(filter) {
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

HRESULT WaveCaptureStream::OnThreadCreate() {
    m_filled = CreateEventW(nullptr, FALSE, FALSE, nullptr);
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
    return waveInStart(m_device) == MMSYSERR_NOERROR ? S_OK : E_FAIL;
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
    m_frames = 0;
    ResetStreamEnd();
    return S_OK;
}

// Copies the next captured block; its time follows the frames sent.
HRESULT WaveCaptureStream::FillBuffer(IMediaSample* sample) {
    WAVEHDR& h = m_headers[m_next];
    BYTE* p = nullptr;
    HRESULT hr = sample->GetPointer(&p);
    if (FAILED(hr)) return hr;
    long n = static_cast<long>(h.dwBytesRecorded);
    if (n > sample->GetSize()) n = sample->GetSize();
    std::memcpy(p, h.lpData, static_cast<size_t>(n));
    sample->SetActualDataLength(n);
    unsigned long long frames = static_cast<unsigned long long>(n) / m_format.nBlockAlign;
    REFERENCE_TIME start = static_cast<REFERENCE_TIME>(m_frames * 10000000ULL / kRate);
    REFERENCE_TIME stop = static_cast<REFERENCE_TIME>((m_frames + frames) * 10000000ULL / kRate);
    sample->SetTime(&start, &stop);
    sample->SetSyncPoint(TRUE);
    m_frames += frames;
    return S_OK;
}

// A live source: blocks captured before Run are dropped.
HRESULT WaveCaptureStream::DoBufferProcessingLoop() {
    OnThreadStartPlay();
    Command com;
    do {
        while (!CheckRequest(&com)) {
            if (WaitForSingleObject(m_filled, 20) != WAIT_OBJECT_0 && !(m_headers[m_next].dwFlags & WHDR_DONE))
                continue;
            while (!m_headers.empty() && (m_headers[m_next].dwFlags & WHDR_DONE)) {
                WAVEHDR& h = m_headers[m_next];
                HRESULT hr = S_OK;
                if (StreamEndDue(static_cast<REFERENCE_TIME>(m_frames * 10000000ULL / kRate)))
                    DeliverEndOfStream();  // downstream can finish its data
                if (!StreamEnded() && m_source->IsRunning() && h.dwBytesRecorded > 0) {
                    IMediaSample* sample = nullptr;
                    hr = GetDeliveryBuffer(&sample, nullptr, nullptr, 0);
                    if (SUCCEEDED(hr)) {
                        hr = FillBuffer(sample);
                        if (hr == S_OK) hr = Deliver(sample);
                        sample->Release();
                    }
                }
                h.dwFlags &= ~WHDR_DONE;
                h.dwBytesRecorded = 0;
                waveInAddBuffer(m_device, &h, sizeof(WAVEHDR));
                m_next = (m_next + 1) % m_headers.size();
                if (FAILED(hr) && hr != VFW_E_NOT_COMMITTED) {
                    DeliverEndOfStream();
                    m_pFilter->NotifyEvent(EC_ERRORABORT, hr, 0);
                    return hr;
                }
            }
        }
    } while (AnswerLoopCommand(com));
    return S_FALSE;
}
