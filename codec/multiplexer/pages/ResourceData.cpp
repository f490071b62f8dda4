#include "codec/multiplexer/pages/ResourceData.h"

namespace muxpages {

namespace {

constexpr uint32_t kFixedInfoSignature = 0xFEEF04BD;
// Signature, structure version, then the file version's high and low words.
constexpr size_t kFileVersionEnd = 16;

uint32_t Le32(const uint8_t* p) {
    return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 | static_cast<uint32_t>(p[2]) << 16 |
           static_cast<uint32_t>(p[3]) << 24;
}

}  // namespace

std::optional<std::array<unsigned, 4>> FindFileVersion(const uint8_t* data, size_t size) {
    if (!data) return std::nullopt;
    // The fixed block sits 32-bit aligned after the resource's key.
    for (size_t at = 0; at + kFileVersionEnd <= size; at += 4) {
        if (Le32(data + at) != kFixedInfoSignature) continue;
        const uint32_t ms = Le32(data + at + 8);
        const uint32_t ls = Le32(data + at + 12);
        return std::array<unsigned, 4>{ms >> 16, ms & 0xFFFF, ls >> 16, ls & 0xFFFF};
    }
    return std::nullopt;
}

void PremultiplyAlpha(uint8_t* bgra, size_t pixels) {
    for (size_t i = 0; i < pixels; ++i) {
        uint8_t* p = bgra + i * 4;
        const unsigned alpha = p[3];
        for (int c = 0; c < 3; ++c) p[c] = static_cast<uint8_t>((p[c] * alpha + 127) / 255);
    }
}

}  // namespace muxpages
