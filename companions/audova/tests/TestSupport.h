// Helpers of the Audova tests: signals, WAV files, frame headers, outside
// decoder runs and signal-to-noise measurement.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "codec/common/engine/Audova.h"

namespace audova_test {

struct Header {
    bool lsf;
    int layer, protection, bitrateIndex, rateCode, padding, privateBit, mode, modeExt, copyright, original, emphasis;
    int kbps, rate, bytes;
};
// Parses a frame header; false when p does not start with one.
bool ParseHeader(const uint8_t* p, size_t n, Header* h);
// Splits a stream into frames; false when it does not split cleanly.
bool SplitFrames(const std::vector<uint8_t>& stream, std::vector<Header>* frames);

AudovaSettings MakeSettings(int rate, int layer, int channels, int index, int mode = -1);

// Interleaved 16-bit signals.
std::vector<int16_t> Sweep(int rate, int channels, double seconds, double amplitude);
std::vector<int16_t> Noise(int rate, int channels, double seconds, double amplitude, uint32_t seed);

// Codes PCM through the C interface into one buffer; false on any failure.
bool EncodeBuffer(const AudovaSettings& s, const std::vector<int16_t>& pcm, std::vector<uint8_t>* out,
                  size_t chunkBytes = 4000);

// Shell helpers.
int Shell(const std::string& command, std::string* output = nullptr);
bool HaveFfmpeg();
std::string TempDir();
bool WriteFile(const std::string& path, const std::vector<uint8_t>& bytes);
std::vector<uint8_t> ReadFile(const std::string& path);
std::vector<int16_t> ReadRaw(const std::string& path);

// Signal-to-noise ratio in dB of decoded against reference (interleaved, same
// channel count), at the delay in 0..maxDelay that fits best.
double Snr(const std::vector<int16_t>& reference, const std::vector<int16_t>& decoded, int channels,
           int maxDelay = 1200);

}  // namespace audova_test
