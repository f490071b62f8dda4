// The output volume: the limiter that lowers it while the input runs too
// loud, and the mappings between volume, percent and the meter's slider.
// A volume value holds the left channel in its low word and the right one
// in its high word, 0 to 0xFFFF each.
#pragma once

#include <cstdint>
#include <string>

namespace wavrel {

constexpr std::uint32_t kFullChannel = 0xFFFF;
constexpr double kLimiterThreshold = 82.0;  // dB; strictly above it fires
constexpr std::uint64_t kLimiterHoldMs = 150;

// trunc(v x 0.8) and trunc(v x 1.25); the raise stops at full volume, so a
// channel never spills into the other one.
std::uint32_t LowerChannel(std::uint32_t channel);
std::uint32_t RaiseChannel(std::uint32_t channel);
// The same channel value in both channels.
std::uint32_t BothChannels(std::uint32_t channel);

// trunc(channel x 100 x 1.5259022e-05) with the single-precision factor
// nearest 1/65535: full volume reports 99, as stored settings expect.
int VolumePercent(std::uint32_t channel);
// The slider runs upside down: position = 100 - percent of the left channel.
int SliderPositionForVolume(std::uint32_t volume);
// The volume per channel for a slider position: 0xFFFF for 100 % or more,
// 0 for 0 or less, trunc(percent x 0.01 x 65535) between.
std::uint32_t ChannelForSliderPosition(int position);
inline int SliderPercent(int position) {
    return 100 - position;
}

// "Sound.txt": the 32-bit volume as a signed decimal ("volume=-1" at full).
std::string SoundFileText(std::uint32_t volume);

// The limiter's decisions for one buffer while compression is on.
class Limiter {
public:
    enum class Action { None, Lower, Raise };

    bool Compression() const { return compression_; }
    void SetCompression(bool on) { compression_ = on; }
    // The limiter fired since the meter window last reset its peaks; while
    // set, buffers are not measured.
    bool Mark() const { return mark_; }
    void ClearMark() { mark_ = false; }
    bool Lowered() const { return lowered_; }

    // Levels of one buffer at tick count `now`. Lower sets the mark; the
    // caller lowers the volume and then calls VolumeLowered.
    Action Decide(double left, double right, std::uint64_t now);
    void VolumeLowered(std::uint64_t now);
    void VolumeRaised() { lowered_ = false; }

private:
    bool compression_ = false;
    bool mark_ = false;
    bool lowered_ = false;
    std::uint64_t holdUntil_ = 0;
};

}  // namespace wavrel
