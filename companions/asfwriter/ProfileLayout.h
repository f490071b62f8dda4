// The stream layout of a Windows Media profile, read from the profile XML
// that the recorder generates: what the stand-in runtime reports through
// its profile objects and what the stand-in ASF writer lays its file out by.
#pragma once

#include <optional>
#include <string>
#include <vector>

namespace asfstandin {

struct ProfileStream {
    bool audio = false;
    int number = 0;         // 1..63, unique in the profile
    std::string name;       // "streamname"
    std::string inputName;  // "inputname"
    long bitrate = 0;       // bit/s
    long bufferWindow = 0;  // ms, -1 for the default
    std::string subtype;    // the wmmediatype's subtype GUID text
    // Audio (waveformatex).
    int formatTag = 0;
    int channels = 0;
    int samplesPerSec = 0;
    int avgBytesPerSec = 0;
    int blockAlign = 0;
    int bitsPerSample = 0;
    // Video (videoinfoheader and its bitmapinfoheader).
    int width = 0;
    int height = 0;
    int bitCount = 0;
    std::string fourcc;
    long long avgTimePerFrame = 0;  // 100 ns units
};

struct ProfileLayout {
    std::string name;
    std::string description;
    std::vector<ProfileStream> streams;
};

// None when the text is not well-formed XML, is not a profile, or carries a
// stream whose values are missing or out of range.
std::optional<ProfileLayout> ParseProfileXml(const std::string& text);

}  // namespace asfstandin
