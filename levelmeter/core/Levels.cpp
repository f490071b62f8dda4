#include "levelmeter/core/Levels.h"

#include <cmath>

namespace wavrel {

namespace {

double Decibels(double sumOfSquares, std::size_t frames) {
    const double level = 20.0 * std::log10(std::sqrt(sumOfSquares / static_cast<double>(frames)));
    // log10(0) is minus infinity: silence reads 0 like any level below 0.
    return level > 0 ? level : 0;
}

}  // namespace

Levels ComputeLevels(const std::int16_t* samples, std::size_t bytes, bool* valid) {
    const std::size_t frames = bytes / 2 / kChannels;
    if (valid) *valid = frames > 0;
    if (frames == 0 || !samples) return {};
    // 4096 squares of 32768 do not fit 32 bits: the sums are 64-bit.
    std::uint64_t left = 0;
    std::uint64_t right = 0;
    for (std::size_t i = 0; i < frames; ++i) {
        const std::int64_t l = samples[2 * i];
        const std::int64_t r = samples[2 * i + 1];
        left += static_cast<std::uint64_t>(l * l);
        right += static_cast<std::uint64_t>(r * r);
    }
    return {Decibels(static_cast<double>(left), frames), Decibels(static_cast<double>(right), frames)};
}

}  // namespace wavrel
