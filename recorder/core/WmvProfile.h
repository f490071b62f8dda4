// The Windows Media profile a WMV recording is written with: XML text for a
// video, an audio, or an audio-and-video stream layout, and the 20000-byte
// UTF-16LE image of it that the profile file holds.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace recorder {

constexpr char kWmvProfileFileName[] = "ParvProf.prx";
constexpr std::size_t kWmvProfileFileBytes = 20000;
constexpr int kControlProgramWmvCodec = 0;  // "WMV3"

struct WmvVideo {
    int width = 0;  // the rounded capture size
    int height = 0;
    int kbps = 0;                         // 32..6000
    int fps = 0;                          // 5..30
    int codec = kControlProgramWmvCodec;  // 0 WMV3, 1 MP4S, 2 WVC1, 3 WMV2
};

// None when a value is outside what a profile may carry: a size of 0, a
// video rate outside 32..6000 kbit/s or 5..30 frames per second, an audio
// rate other than 32, 64, 96, 128, 192 or 256 kbit/s, or an unknown codec.
std::optional<std::string> VideoProfileXml(const WmvVideo& video);
std::optional<std::string> AudioProfileXml(int audioKbps);
std::optional<std::string> AvProfileXml(const WmvVideo& video, int audioKbps);

// The text as UTF-16LE without a byte-order mark, zero-filled to exactly
// 20000 bytes; none when it would not fit with its terminating zero.
std::optional<std::vector<std::uint8_t>> ProfileFileImage(const std::string& xml);

}  // namespace recorder
