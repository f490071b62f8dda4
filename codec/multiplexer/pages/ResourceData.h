// Reading the module's own resources without the platform: the file version
// in a version resource, and a 32-bit image made ready for alpha blending.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>

namespace muxpages {

// The four fields of the fixed file version (major, minor, build, revision)
// of a version resource's bytes; none when the fixed block is missing or cut.
std::optional<std::array<unsigned, 4>> FindFileVersion(const uint8_t* data, size_t size);

// Per-pixel alpha blending takes colours already scaled by their alpha:
// scales each blue, green and red byte of 32-bit BGRA pixels by the pixel's alpha.
void PremultiplyAlpha(uint8_t* bgra, size_t pixels);

}  // namespace muxpages
