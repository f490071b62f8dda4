// The scale factor as the property page reads, checks, stores and shows it.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace plugin {

constexpr double kScaleOne = 65536.0;  // registry value of a factor of 1.0

// The factor a page text stands for: a text that is no number counts as
// 1.0; nothing (refused) for a value outside 0.0..1.0 or not finite.
std::optional<double> ParseScaleFactor(const char* text);

// "ScaleFactor" registry value: factor x 65,536, truncated.
uint32_t ScaleToRegistry(double factor);
double ScaleFromRegistry(uint32_t value);

// The text the page shows ("%0.2f").
std::string FormatScaleFactor(double factor);

}  // namespace plugin
