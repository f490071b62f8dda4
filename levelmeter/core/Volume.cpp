#include "levelmeter/core/Volume.h"

#include <cstdio>

namespace wavrel {

namespace {

// The single-precision values the meter has always used: full volume reads
// 99 %, and 50 % gives 32767.
constexpr float kPercentFactor = 1.5259022e-05f;
constexpr float kHundredth = 0.01f;

}  // namespace

std::uint32_t LowerChannel(std::uint32_t channel) {
    return static_cast<std::uint32_t>(channel * 0.8);
}

std::uint32_t RaiseChannel(std::uint32_t channel) {
    const std::uint32_t raised = static_cast<std::uint32_t>(channel * 1.25);
    return raised > kFullChannel ? kFullChannel : raised;
}

std::uint32_t BothChannels(std::uint32_t channel) {
    if (channel > kFullChannel) channel = kFullChannel;
    return channel | (channel << 16);
}

int VolumePercent(std::uint32_t channel) {
    return static_cast<int>(channel * 100.0 * static_cast<double>(kPercentFactor));
}

int SliderPositionForVolume(std::uint32_t volume) {
    return 100 - VolumePercent(volume & kFullChannel);
}

std::uint32_t ChannelForSliderPosition(int position) {
    const int percent = SliderPercent(position);
    if (percent >= 100) return kFullChannel;
    if (percent <= 0) return 0;
    return static_cast<std::uint32_t>(percent * static_cast<double>(kHundredth) * kFullChannel);
}

std::string SoundFileText(std::uint32_t volume) {
    char text[32];
    std::snprintf(text, sizeof text, "volume=%d", static_cast<int>(static_cast<std::int32_t>(volume)));
    return text;
}

Limiter::Action Limiter::Decide(double left, double right, std::uint64_t now) {
    if (!compression_) return Action::None;
    if (left - kLimiterThreshold > 0 || right - kLimiterThreshold > 0) {
        mark_ = true;
        return Action::Lower;
    }
    if (lowered_ && now > holdUntil_) return Action::Raise;
    return Action::None;
}

void Limiter::VolumeLowered(std::uint64_t now) {
    lowered_ = true;
    holdUntil_ = now + kLimiterHoldMs;
}

}  // namespace wavrel
