// The meter's capture: one 16,384-byte buffer on the wave mapper's input,
// notified to a window, measured and handed back after every fill.
#pragma once

#include <windows.h>

#include <mmsystem.h>

#include <memory>

namespace wavrel {

class WaveInput {
public:
    // Allocates and opens; failures are reported to the user and leave the
    // meter without levels.
    bool Begin(HWND notify);
    // MM_WIM_OPEN: the buffer goes in and recording starts.
    void OnOpen();
    // MM_WIM_DATA: levels, limiter, reports; the buffer goes in again.
    void OnData(WAVEHDR* header);
    // Stops and gives everything back.
    void Stop();
    bool Recording() const { return recording_; }

private:
    void AddBuffer();

    HWND notify_ = nullptr;
    HWAVEIN device_ = nullptr;
    std::unique_ptr<char[]> buffer_;
    WAVEHDR header_{};
    bool prepared_ = false;
    bool recording_ = false;
};

WaveInput& TheWaveInput();

}  // namespace wavrel
