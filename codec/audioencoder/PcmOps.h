// Sample operations of the audio encoder filter.
#pragma once

#include <cstddef>
#include <cstdint>

namespace audioenc {

// Stereo s16le to mono in place, (L + R) >> 1; returns the new byte count.
size_t DownmixToMono(uint8_t* pcm, size_t bytes);
// Copies n bytes swapping the two bytes of each 16-bit word (DVD LPCM is
// big-endian); an odd last byte is copied as it is.
void CopySwapped16(uint8_t* dst, const uint8_t* src, size_t n);

}  // namespace audioenc
