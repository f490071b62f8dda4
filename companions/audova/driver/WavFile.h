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

// Reads a file in blocks: Open parses the header and stops at the data.
class WavReader {
public:
    ~WavReader();
    // false with *why on anything but 16-bit PCM with one or two channels.
    bool Open(const std::string& path, std::string* why);
    // Up to maxFrames sample frames of interleaved little-endian bytes; 0 at the end.
    size_t Read(uint8_t* bytes, size_t maxFrames);
    int rate() const { return rate_; }
    int channels() const { return channels_; }

private:
    void* file_ = nullptr;
    int rate_ = 0, channels_ = 0;
    uint64_t left_ = 0;
};

// The whole file at once.
bool ReadWav(const std::string& path, WavData* out, std::string* why);
bool WriteWav(const std::string& path, const WavData& wav);

}  // namespace audova
