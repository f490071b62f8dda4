// Core Audio capture of what the computer plays, as the engine's streaming
// loop reads it. Loopback on the default render endpoint where the platform
// offers it; where it refuses loopback on a render endpoint (Wine), the
// default capture endpoint instead: on a PulseAudio system that is the
// monitor of the output, which carries exactly what plays.
#pragma once

#include <audioclient.h>
#include <mmdeviceapi.h>
#include <windows.h>

#include <cstdint>

#include "engine/core/StreamLoop.h"
#include "platform/com/ComPtr.h"

namespace loopback {

class LoopbackCapture : public engine::CaptureClient {
public:
    LoopbackCapture() = default;
    ~LoopbackCapture() override;
    LoopbackCapture(const LoopbackCapture&) = delete;
    LoopbackCapture& operator=(const LoopbackCapture&) = delete;

    // Opens and starts the capture in 16-bit stereo at the mix rate. On
    // failure `step` names the step (0 device, 1 initialise, 2 buffer size,
    // 3 capture client, 4 start).
    HRESULT Open(const engine::TraceSink& trace, int& step);
    HRESULT Stop();

    std::uint32_t SampleRate() const { return sampleRate_; }
    std::uint64_t BufferMs() const { return bufferMs_; }
    bool UsedCaptureEndpoint() const { return usedCaptureEndpoint_; }

    long NextPacketSize(std::uint32_t& frames) override;
    long GetBuffer(const std::uint8_t*& data, std::uint32_t& frames, bool& silent) override;
    long ReleaseBuffer(std::uint32_t frames) override;

private:
    // Initialise, buffer, capture client and start on the current client.
    HRESULT Begin(const engine::TraceSink& trace, DWORD flags, int& step);

    com::ComPtr<IMMDeviceEnumerator> devices_;
    com::ComPtr<IMMDevice> device_;
    com::ComPtr<IAudioClient> client_;
    com::ComPtr<IAudioCaptureClient> capture_;
    WAVEFORMATEX format_{};
    std::uint32_t sampleRate_ = 0;
    std::uint64_t bufferMs_ = 0;
    bool started_ = false;
    bool usedCaptureEndpoint_ = false;
};

}  // namespace loopback
