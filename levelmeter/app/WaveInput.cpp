#include "levelmeter/app/WaveInput.h"

#include <new>

#include "levelmeter/app/Meter.h"
#include "levelmeter/app/MeterDialog.h"
#include "levelmeter/core/Levels.h"

namespace wavrel {

namespace {

WAVEFORMATEX CaptureFormat() {
    WAVEFORMATEX f{};
    f.wFormatTag = WAVE_FORMAT_PCM;
    f.nChannels = kChannels;
    f.nSamplesPerSec = kSampleRate;
    f.wBitsPerSample = kBitsPerSample;
    f.nBlockAlign = kChannels * kBitsPerSample / 8;
    f.nAvgBytesPerSec = kSampleRate * f.nBlockAlign;
    f.cbSize = 0;
    return f;
}

void Refuse(const char* text) {
    ::MessageBeep(MB_ICONEXCLAMATION);
    ::MessageBoxA(nullptr, text, "Record1", MB_OK | MB_ICONEXCLAMATION);
}

}  // namespace

WaveInput& TheWaveInput() {
    static WaveInput input;
    return input;
}

bool WaveInput::Begin(HWND notify) {
    notify_ = notify;
    buffer_.reset(new (std::nothrow) char[kBufferBytes]);
    if (!buffer_) {
        Refuse("Error allocating memory!");
        return false;
    }
    WAVEFORMATEX format = CaptureFormat();
    if (::waveInOpen(&device_, WAVE_MAPPER, &format, reinterpret_cast<DWORD_PTR>(notify), 0, CALLBACK_WINDOW) !=
        MMSYSERR_NOERROR) {
        device_ = nullptr;
        buffer_.reset();
        Refuse("Error opening waveform audio!");
        return false;
    }
    header_ = WAVEHDR{};
    header_.lpData = buffer_.get();
    header_.dwBufferLength = static_cast<DWORD>(kBufferBytes);
    header_.dwLoops = 1;
    prepared_ = ::waveInPrepareHeader(device_, &header_, sizeof header_) == MMSYSERR_NOERROR;
    if (!prepared_) Trace("\r\nwaveInPrepareHeader failed");
    return prepared_;
}

void WaveInput::AddBuffer() {
    if (device_ && prepared_ && ::waveInAddBuffer(device_, &header_, sizeof header_) != MMSYSERR_NOERROR)
        Trace("\r\nwaveInAddBuffer failed");
}

void WaveInput::OnOpen() {
    if (!device_ || !prepared_) return;
    AddBuffer();
    recording_ = true;
    if (::waveInStart(device_) != MMSYSERR_NOERROR) {
        recording_ = false;
        Trace("\r\nwaveInStart failed");
    }
}

void WaveInput::OnData(WAVEHDR* header) {
    if (!device_ || header != &header_) return;
    MeterState& state = State();
    if (state.closing) return;  // the buffer stays out; the process is ending
    // The meter window has not taken the last limiter action yet.
    if (state.limiter.Mark()) {
        AddBuffer();
        return;
    }
    bool valid = false;
    const Levels levels =
        ComputeLevels(reinterpret_cast<const std::int16_t*>(header_.lpData), header_.dwBytesRecorded, &valid);
    if (!valid) {
        AddBuffer();
        return;
    }
    switch (state.limiter.Decide(levels.left, levels.right, ::GetTickCount64())) {
        case Limiter::Action::Lower:
            StepOutputVolume(true);
            break;
        case Limiter::Action::Raise:
            StepOutputVolume(false);
            break;
        case Limiter::Action::None:
            break;
    }
    if (state.closing) return;
    const WPARAM left = static_cast<WPARAM>(static_cast<int>(levels.left));
    const LPARAM right = static_cast<LPARAM>(static_cast<int>(levels.right));
    if (state.dialog && state.dialog->Exists())
        ::PostMessageA(state.dialog->Handle(), RegisteredMessages().levelUpdate, left, right);
    if (state.controlWindow && ::IsWindow(state.controlWindow))
        ::PostMessageA(state.controlWindow, RegisteredMessages().levelUpdate, left, right);
    AddBuffer();
}

void WaveInput::Stop() {
    if (device_) {
        if (::waveInReset(device_) != MMSYSERR_NOERROR) Trace("\r\nwaveInReset failed");
        if (prepared_ && ::waveInUnprepareHeader(device_, &header_, sizeof header_) != MMSYSERR_NOERROR)
            Trace("\r\nwaveInUnprepareHeader failed");
        if (::waveInClose(device_) != MMSYSERR_NOERROR) Trace("\r\nwaveInClose failed");
        device_ = nullptr;
    }
    prepared_ = false;
    buffer_.reset();
    recording_ = false;
}

}  // namespace wavrel
