#include "codec/audioencoder/PcmOps.h"

#include <cstring>

namespace audioenc {

size_t DownmixToMono(uint8_t* pcm, size_t bytes) {
    size_t frames = bytes / 4;
    for (size_t i = 0; i < frames; ++i) {
        int16_t l, r;
        std::memcpy(&l, pcm + 4 * i, 2);
        std::memcpy(&r, pcm + 4 * i + 2, 2);
        int16_t m = static_cast<int16_t>((static_cast<int32_t>(l) + static_cast<int32_t>(r)) >> 1);
        std::memcpy(pcm + 2 * i, &m, 2);
    }
    return frames * 2;
}

void CopySwapped16(uint8_t* dst, const uint8_t* src, size_t n) {
    size_t i = 0;
    for (; i + 1 < n; i += 2) {
        dst[i] = src[i + 1];
        dst[i + 1] = src[i];
    }
    if (i < n) dst[i] = src[i];
}

}  // namespace audioenc
