// Audio samples per video frame at 48 kHz by MPEG frame-rate code, over the
// five-frame cycle that keeps 29.97 and 59.94 Hz in step.
#pragma once

#include <cstdint>

namespace mexora {

constexpr int kFrameCycle = 5;
constexpr uint32_t kAudioRate = 48000;

// Code 1-8; 0 for another code.
uint32_t SamplesPerFrame(int frameRateCode, int frameInCycle);

}  // namespace mexora
