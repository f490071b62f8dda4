// Minimal RIFF WAVE reader and writer for 16-bit PCM.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace audova {

struct WavData {
  int rate = 0;
  int channels = 0;
  std::vector<int16_t> samples;  // interleaved
};

// false with *why on anything but 16-bit PCM with one or two channels.
bool ReadWav(const std::string& path, WavData* out, std::string* why);
bool WriteWav(const std::string& path, const WavData& wav);

}  // namespace audova
