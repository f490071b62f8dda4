#include "companions/loopback/LoopbackCapture.h"

#include <cstdarg>
#include <cstdio>
#include <string>

namespace loopback {

namespace {

constexpr REFERENCE_TIME kRequestedDuration = 50000000;                    // 5 s
constexpr HRESULT kWrongEndpointType = static_cast<HRESULT>(0x88890003L);  // AUDCLNT_E_WRONG_ENDPOINT_TYPE

std::string Printf(const char* format, ...) __attribute__((format(printf, 1, 2)));
std::string Printf(const char* format, ...) {
    char text[512];
    va_list args;
    va_start(args, format);
    std::vsnprintf(text, sizeof text, format, args);
    va_end(args);
    return text;
}

void TraceFormat(const engine::TraceSink& trace, const char* heading, const WAVEFORMATEX& f) {
    if (!trace) return;
    trace(
        Printf("\r\n%s\r\nwFormatTag=%u\r\nnChannels=%u\r\nnSamplesPerSec=%lu\r\nnAvgBytesPerSec=%lu\r\n"
               "nBlockAlign=%u\r\nwBitsPerSample=%u\r\ncbSize=%u",
               heading, f.wFormatTag, f.nChannels, static_cast<unsigned long>(f.nSamplesPerSec),
               static_cast<unsigned long>(f.nAvgBytesPerSec), f.nBlockAlign, f.wBitsPerSample, f.cbSize));
}

}  // namespace

LoopbackCapture::~LoopbackCapture() {
    Stop();
}

HRESULT LoopbackCapture::Open(const engine::TraceSink& trace, int& step) {
    step = 0;
    HRESULT hr = ::CoCreateInstance(__uuidof(MMDeviceEnumerator), nullptr, CLSCTX_ALL, __uuidof(IMMDeviceEnumerator),
                                    devices_.PutVoid());
    if (FAILED(hr)) return hr;
    hr = devices_->GetDefaultAudioEndpoint(eRender, eMultimedia, device_.Put());
    if (FAILED(hr)) return hr;
    hr = device_->Activate(__uuidof(IAudioClient), CLSCTX_ALL, nullptr, client_.PutVoid());
    if (FAILED(hr)) return hr;
    WAVEFORMATEX* mix = nullptr;
    hr = client_->GetMixFormat(&mix);
    if (FAILED(hr) || !mix) return FAILED(hr) ? hr : E_POINTER;
    TraceFormat(trace, "---Default Renderer Format---", *mix);
    sampleRate_ = mix->nSamplesPerSec;
    ::CoTaskMemFree(mix);

    format_ = WAVEFORMATEX{};
    format_.wFormatTag = WAVE_FORMAT_PCM;
    format_.nChannels = 2;
    format_.wBitsPerSample = 16;
    format_.nBlockAlign = 4;
    format_.nSamplesPerSec = sampleRate_;
    format_.nAvgBytesPerSec = sampleRate_ * 4;
    TraceFormat(trace, "---Proposed Format---", format_);
    WAVEFORMATEX* closest = nullptr;
    const HRESULT support = client_->IsFormatSupported(AUDCLNT_SHAREMODE_SHARED, &format_, &closest);
    if (trace) trace(support == S_OK ? "\r\nFormat accepted by renderer" : "\r\nFormat NOT accepted by renderer");
    if (closest) {
        TraceFormat(trace, "---Closest Format---", *closest);
        ::CoTaskMemFree(closest);
    }

    hr = Begin(trace, AUDCLNT_STREAMFLAGS_LOOPBACK, step);
    if (hr == kWrongEndpointType) {
        // No loopback here (Wine refuses it on a render endpoint, at the
        // start or when the capture client is asked for): what plays
        // reaches the capture side as the output's monitor.
        if (trace)
            trace("\r\n\r\nLoopback refused (AUDCLNT_E_WRONG_ENDPOINT_TYPE): capturing the default capture endpoint");
        capture_ = nullptr;
        client_ = nullptr;
        device_ = nullptr;
        step = 1;
        hr = devices_->GetDefaultAudioEndpoint(eCapture, eConsole, device_.Put());
        if (SUCCEEDED(hr)) hr = device_->Activate(__uuidof(IAudioClient), CLSCTX_ALL, nullptr, client_.PutVoid());
        if (SUCCEEDED(hr)) hr = Begin(trace, 0, step);
        usedCaptureEndpoint_ = SUCCEEDED(hr);
    }
    return hr;
}

HRESULT LoopbackCapture::Begin(const engine::TraceSink& trace, DWORD flags, int& step) {
    step = 1;
    HRESULT hr = client_->Initialize(AUDCLNT_SHAREMODE_SHARED, flags, kRequestedDuration, 0, &format_, nullptr);
    if (FAILED(hr)) {
        if (trace) trace(Printf("\r\n\r\nCannot initialize Audio Client hr=0x%08lx", static_cast<unsigned long>(hr)));
        return hr;
    }

    step = 2;
    UINT32 frames = 0;
    hr = client_->GetBufferSize(&frames);
    if (FAILED(hr)) return hr;
    const double duration = 10000000.0 * frames / sampleRate_;
    bufferMs_ = static_cast<std::uint64_t>(duration / 10000);
    if (trace) {
        trace(Printf("\r\n\r\nBuff Size (frames): %u", frames * 4));
        trace(Printf("\r\n\r\nRequested Duration: %.0f sec\r\nBuff Actual Duration: %.0f sec",
                     kRequestedDuration / 10000000.0, duration / 10000000.0));
    }

    step = 3;
    hr = client_->GetService(__uuidof(IAudioCaptureClient), capture_.PutVoid());
    if (FAILED(hr)) return hr;
    step = 4;
    hr = client_->Start();
    if (FAILED(hr)) {
        if (trace) trace(Printf("\r\n\r\nStart failed hr=0x%08lx", static_cast<unsigned long>(hr)));
        return hr;
    }
    started_ = true;
    return S_OK;
}

HRESULT LoopbackCapture::Stop() {
    if (!started_ || !client_) return S_OK;
    started_ = false;
    return client_->Stop();
}

long LoopbackCapture::NextPacketSize(std::uint32_t& frames) {
    UINT32 next = 0;
    const HRESULT hr = capture_->GetNextPacketSize(&next);
    frames = next;
    return hr;
}

long LoopbackCapture::GetBuffer(const std::uint8_t*& data, std::uint32_t& frames, bool& silent) {
    BYTE* bytes = nullptr;
    UINT32 count = 0;
    DWORD flags = 0;
    const HRESULT hr = capture_->GetBuffer(&bytes, &count, &flags, nullptr, nullptr);
    data = bytes;
    frames = count;
    silent = (flags & AUDCLNT_BUFFERFLAGS_SILENT) != 0;
    return hr;
}

long LoopbackCapture::ReleaseBuffer(std::uint32_t frames) {
    return capture_->ReleaseBuffer(frames);
}

}  // namespace loopback
