// Small elementary streams built byte by byte for the tests.
#pragma once

#include <cstdint>
#include <vector>

namespace muxtest {

using Bytes = std::vector<uint8_t>;

inline void Append(Bytes& b, std::initializer_list<uint8_t> l) {
    b.insert(b.end(), l.begin(), l.end());
}

// 352x288, 4:3, 25 frames/s, 3 Mbit/s, vbv 112 x 2 KiB.
inline void SequenceHeader(Bytes& b) {
    Append(b, {0x00, 0x00, 0x01, 0xB3, 0x16, 0x01, 0x20, 0x23, 0x01, 0xD4, 0xC3, 0x80});
}

// Main profile at main level, progressive 4:2:0.
inline void SequenceExtension(Bytes& b) {
    Append(b, {0x00, 0x00, 0x01, 0xB5, 0x14, 0x8A, 0x00, 0x01, 0x00, 0x00});
}

inline void Gop(Bytes& b) {
    Append(b, {0x00, 0x00, 0x01, 0xB8, 0x00, 0x08, 0x00, 0x00});
}

// type 1 I, 2 P, 3 B; then a picture coding extension and a slice of filler.
inline void Picture(Bytes& b, unsigned temporalRef, unsigned type, size_t sliceBytes = 200, bool rff = false) {
    const uint32_t v = (temporalRef << 22) | (type << 19) | (0xFFFF << 3);
    Append(b, {0x00, 0x00, 0x01, 0x00, static_cast<uint8_t>(v >> 24), static_cast<uint8_t>(v >> 16),
               static_cast<uint8_t>(v >> 8), static_cast<uint8_t>(v), 0xFF, 0xF8});
    // f_codes 0xF, dc precision 0, frame picture, top_field_first 0, ..., repeat_first_field.
    Append(b, {0x00, 0x00, 0x01, 0xB5, 0x8F, 0xFF, 0xF3, static_cast<uint8_t>(rff ? 0x42 : 0x40), 0x80});
    Append(b, {0x00, 0x00, 0x01, 0x01});
    b.insert(b.end(), sliceBytes, 0x55);
}

inline Bytes SimpleGop(int gops, size_t slice = 200) {
    Bytes b;
    for (int g = 0; g < gops; ++g) {
        SequenceHeader(b);
        SequenceExtension(b);
        Gop(b);
        Picture(b, 0, 1, slice);
        Picture(b, 3, 2, slice);
        Picture(b, 1, 3, slice);
        Picture(b, 2, 3, slice);
    }
    Append(b, {0x00, 0x00, 0x01, 0xB7});
    return b;
}

// MPEG-1 Layer II, 192 kbit/s, 48 kHz: 576-byte frames of 1152 samples.
inline Bytes Mp2Frames(int frames) {
    Bytes b;
    for (int i = 0; i < frames; ++i) {
        Append(b, {0xFF, 0xFD, 0xA4, 0x04});
        b.insert(b.end(), 572, static_cast<uint8_t>(0x11 + i % 7));
    }
    return b;
}

}  // namespace muxtest
