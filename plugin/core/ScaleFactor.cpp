#include "plugin/core/ScaleFactor.h"

#include <cctype>
#include <cmath>
#include <cstdio>
#include <cstdlib>

namespace plugin {

namespace {

bool StartsWithWord(const char* p, const char* word) {
    for (; *word; ++p, ++word)
        if (std::tolower(static_cast<unsigned char>(*p)) != *word) return false;
    return true;
}

}  // namespace

std::optional<double> ParseScaleFactor(const char* text) {
    if (text == nullptr) return 1.0;
    const char* p = text;
    while (std::isspace(static_cast<unsigned char>(*p))) ++p;
    const char* number = p;
    if (*p == '+' || *p == '-') ++p;
    // Runtimes differ on whether "nan" and "inf" are numbers; here they are
    // numbers out of range on every one.
    if (StartsWithWord(p, "nan") || StartsWithWord(p, "inf")) return std::nullopt;
    char* end = nullptr;
    double v = std::strtod(number, &end);
    if (end == number) return 1.0;
    if (!std::isfinite(v) || v < 0.0 || v > 1.0) return std::nullopt;
    return v;
}

uint32_t ScaleToRegistry(double factor) {
    if (!(factor >= 0.0)) return 0;
    if (factor > 1.0) factor = 1.0;
    return static_cast<uint32_t>(factor * kScaleOne);
}

double ScaleFromRegistry(uint32_t value) {
    return value / kScaleOne;
}

std::string FormatScaleFactor(double factor) {
    char text[64];
    int n = std::snprintf(text, sizeof text, "%0.2f", factor);
    if (n < 0) return "1.00";
    return text;
}

}  // namespace plugin
