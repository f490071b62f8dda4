// Search for the next 00 00 01 start-code prefix in a byte range: the inner
// loop of the video scanners. The SSE2 form tests 16 positions at a time;
// the plain form is kept for builds without it and as its reference.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace startcode {

// Next 00 00 01 at or after p with at least 4 bytes from it, else null.
inline uint8_t* FindPlain(uint8_t* p, uint8_t* end) {
    while (end - p >= 4) {
        uint8_t* one = static_cast<uint8_t*>(std::memchr(p + 2, 1, static_cast<size_t>(end - p - 3)));
        if (!one) return nullptr;
        if (one[-1] == 0 && one[-2] == 0) return one - 2;
        p = one - 1;
    }
    return nullptr;
}

#if defined(__SSE2__)
namespace detail {

// Bit i set where byte i of the 16 is zero.
inline unsigned ZeroBits(const uint8_t* p) {
    const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
    return static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi8(b, _mm_setzero_si128())));
}

// Where a prefix may begin among the positions of a zero-bit mask: a zero
// followed by another, or a zero at the last position (its second byte lies
// past the mask). Coded data seldom has either.
inline uint32_t Candidates(uint32_t zeros, uint32_t lastPosition) {
    return zeros & ((zeros >> 1) | lastPosition);
}

// The first prefix that begins among the 16 positions at p (reading 18 bytes).
inline uint8_t* BlockHit(uint8_t* p) {
    const __m128i zero = _mm_setzero_si128();
    const __m128i b0 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
    const __m128i b1 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 1));
    const __m128i b2 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 2));
    const __m128i hit = _mm_and_si128(_mm_and_si128(_mm_cmpeq_epi8(b0, zero), _mm_cmpeq_epi8(b1, zero)),
                                      _mm_cmpeq_epi8(b2, _mm_set1_epi8(1)));
    const int mask = _mm_movemask_epi8(hit);
    return mask ? p + __builtin_ctz(static_cast<unsigned>(mask)) : nullptr;
}

}  // namespace detail
#endif

inline uint8_t* Find(uint8_t* p, uint8_t* end) {
#if defined(__SSE2__)
    // A block of 16 candidate positions reads 18 bytes, and its last
    // position needs 4 bytes of its own: 19 bytes from the block's start.
    constexpr ptrdiff_t kBlockReach = 19;
    // Two blocks at a time are passed over when neither can hold a prefix.
    while (end - p >= 16 + kBlockReach) {
        const uint32_t zeros = detail::ZeroBits(p) | (detail::ZeroBits(p + 16) << 16);
        if (detail::Candidates(zeros, 1u << 31) == 0) {
            p += 32;
            continue;
        }
        if (detail::Candidates(zeros & 0xFFFF, 1u << 15) != 0)
            if (uint8_t* hit = detail::BlockHit(p)) return hit;
        p += 16;
    }
    while (end - p >= kBlockReach) {
        if (detail::Candidates(detail::ZeroBits(p), 1u << 15) != 0)
            if (uint8_t* hit = detail::BlockHit(p)) return hit;
        p += 16;
    }
#endif
    return FindPlain(p, end);
}

}  // namespace startcode
