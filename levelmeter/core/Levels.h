// Left and right level in decibels of one buffer of interleaved 16-bit
// stereo samples.
#pragma once

#include <cstddef>
#include <cstdint>

namespace wavrel {

// The capture format: 16-bit stereo PCM at 44,100 Hz, 16,384-byte buffers.
constexpr int kSampleRate = 44100;
constexpr int kChannels = 2;
constexpr int kBitsPerSample = 16;
constexpr std::size_t kBufferBytes = 16384;

struct Levels {
    double left = 0;
    double right = 0;
};

// 20 x log10 of the RMS over the complete frames in `bytes` bytes; below 0
// (silence included) gives 0. A full-scale square wave reads about 90.3.
// `valid` is false when the buffer holds no complete frame.
Levels ComputeLevels(const std::int16_t* samples, std::size_t bytes, bool* valid = nullptr);

}  // namespace wavrel
