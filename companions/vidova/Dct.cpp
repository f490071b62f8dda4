#include "companions/vidova/Dct.h"

#include <cmath>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace vidova {
namespace {

struct Basis {
    alignas(16) float c[8][8];   // c[k][n] = a(k) cos((2n+1) k pi / 16)
    alignas(16) float ct[8][8];  // transposed
#if defined(__SSE2__)
    __m128 cb[8][8], ctb[8][8];  // every element broadcast, for the constant passes
#endif
    Basis() {
        const double pi = 3.14159265358979323846;
        for (int k = 0; k < 8; k++)
            for (int n = 0; n < 8; n++) {
                double a = k == 0 ? std::sqrt(0.125) : 0.5;
                c[k][n] = float(a * std::cos((2 * n + 1) * k * pi / 16));
                ct[n][k] = c[k][n];
            }
#if defined(__SSE2__)
        for (int k = 0; k < 8; k++)
            for (int n = 0; n < 8; n++) {
                cb[k][n] = _mm_set1_ps(c[k][n]);
                ctb[k][n] = _mm_set1_ps(ct[k][n]);
            }
#endif
    }
};
const Basis& basis() {
    static const Basis b;
    return b;
}

// out[r][*] = sum_j m[r][j] * rows[j][*]   (8x8 times 8x8, rows of 8 floats)
#if defined(__SSE2__)
inline void mul8(const __m128 (*m)[8], const float* rows, float* out) {
    for (int r = 0; r < 8; r++) {
        __m128 a0 = _mm_setzero_ps(), a1 = _mm_setzero_ps();
        for (int j = 0; j < 8; j++) {
            __m128 v = m[r][j];
            a0 = _mm_add_ps(a0, _mm_mul_ps(v, _mm_loadu_ps(rows + j * 8)));
            a1 = _mm_add_ps(a1, _mm_mul_ps(v, _mm_loadu_ps(rows + j * 8 + 4)));
        }
        _mm_storeu_ps(out + r * 8, a0);
        _mm_storeu_ps(out + r * 8 + 4, a1);
    }
}
#else
inline void mul8(const float (*m)[8], const float* rows, float* out) {
    for (int r = 0; r < 8; r++) {
        float acc[8] = {0, 0, 0, 0, 0, 0, 0, 0};
        for (int j = 0; j < 8; j++) {
            float v = m[r][j];
            for (int i = 0; i < 8; i++) acc[i] += v * rows[j * 8 + i];
        }
        for (int i = 0; i < 8; i++) out[r * 8 + i] = acc[i];
    }
}
#endif

// out[r][*] = sum_j in[r][j] * m[j][*]
inline void mulRight(const float* in, const float (*m)[8], float* out) {
#if defined(__SSE2__)
    for (int r = 0; r < 8; r++) {
        __m128 a0 = _mm_setzero_ps(), a1 = _mm_setzero_ps();
        for (int j = 0; j < 8; j++) {
            __m128 v = _mm_set1_ps(in[r * 8 + j]);
            a0 = _mm_add_ps(a0, _mm_mul_ps(v, _mm_load_ps(&m[j][0])));
            a1 = _mm_add_ps(a1, _mm_mul_ps(v, _mm_load_ps(&m[j][4])));
        }
        _mm_storeu_ps(out + r * 8, a0);
        _mm_storeu_ps(out + r * 8 + 4, a1);
    }
#else
    for (int r = 0; r < 8; r++) {
        float acc[8] = {0, 0, 0, 0, 0, 0, 0, 0};
        for (int j = 0; j < 8; j++) {
            float v = in[r * 8 + j];
            for (int i = 0; i < 8; i++) acc[i] += v * m[j][i];
        }
        for (int i = 0; i < 8; i++) out[r * 8 + i] = acc[i];
    }
#endif
}

}  // namespace

void forwardDct(const int16_t* in, float* out) {
    const Basis& b = basis();
    alignas(16) float x[64], t[64];
    for (int i = 0; i < 64; i++) x[i] = in[i];
#if defined(__SSE2__)
    mul8(b.cb, x, t);  // C * X
#else
    mul8(b.c, x, t);
#endif
    mulRight(t, b.ct, out);  // (C X) C^T
}

void inverseDct(const int32_t* in, int16_t* out) {
    const Basis& b = basis();
    alignas(16) float x[64], t[64], y[64];
#if defined(__SSE2__)
    for (int i = 0; i < 64; i += 4)
        _mm_store_ps(x + i, _mm_cvtepi32_ps(_mm_loadu_si128(reinterpret_cast<const __m128i*>(in + i))));
#else
    for (int i = 0; i < 64; i++) x[i] = float(in[i]);
#endif
#if defined(__SSE2__)
    mul8(b.ctb, x, t);  // C^T * F
#else
    mul8(b.ct, x, t);
#endif
    mulRight(t, b.c, y);  // (C^T F) C
#if defined(__SSE2__)
    const __m128i lo = _mm_set1_epi16(-256), hi = _mm_set1_epi16(255);
    for (int i = 0; i < 64; i += 8) {
        // Round half away from zero, as the reference IDCT does.
        __m128 a = _mm_load_ps(y + i), c = _mm_load_ps(y + i + 4);
        const __m128 half = _mm_set1_ps(0.5f), sign = _mm_set1_ps(-0.0f);
        a = _mm_add_ps(a, _mm_or_ps(half, _mm_and_ps(a, sign)));
        c = _mm_add_ps(c, _mm_or_ps(half, _mm_and_ps(c, sign)));
        __m128i v = _mm_packs_epi32(_mm_cvttps_epi32(a), _mm_cvttps_epi32(c));
        v = _mm_min_epi16(_mm_max_epi16(v, lo), hi);
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out + i), v);
    }
#else
    for (int i = 0; i < 64; i++) {
        float v = y[i] < 0 ? std::ceil(y[i] - 0.5f) : std::floor(y[i] + 0.5f);
        if (v < -256.f) v = -256.f;
        if (v > 255.f) v = 255.f;
        out[i] = int16_t(v);
    }
#endif
}

}  // namespace vidova
