#include "companions/vidova/Dct.h"

#include "companions/vidova/Simd.h"

#include <cmath>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace vidova {
namespace {

// Both passes run on four columns at once: the SSE2 vector and the plain
// four-lane struct below do the same single-precision operations in the same
// order, so the two paths give identical coefficients.
struct Lanes {
    float v[4];
};
inline Lanes operator+(Lanes a, Lanes b) {
    return {{a.v[0] + b.v[0], a.v[1] + b.v[1], a.v[2] + b.v[2], a.v[3] + b.v[3]}};
}
inline Lanes operator-(Lanes a, Lanes b) {
    return {{a.v[0] - b.v[0], a.v[1] - b.v[1], a.v[2] - b.v[2], a.v[3] - b.v[3]}};
}
inline Lanes operator*(Lanes a, float k) {
    return {{a.v[0] * k, a.v[1] * k, a.v[2] * k, a.v[3] * k}};
}
struct PlainOps {
    using V = Lanes;
    using K = float;
    static K constant(float k) { return k; }
    static V load(const float* p) { return {{p[0], p[1], p[2], p[3]}}; }
    static void store(float* p, V a) {
        for (int i = 0; i < 4; i++) p[i] = a.v[i];
    }
    static V add(V a, V b) { return a + b; }
    static V sub(V a, V b) { return a - b; }
    static V mul(V a, K k) { return a * k; }
};

#if defined(__SSE2__)
struct SseOps {
    using V = __m128;
    using K = __m128;  // broadcast once, not at every use
    static K constant(float k) { return _mm_set1_ps(k); }
    static V load(const float* p) { return _mm_load_ps(p); }
    static void store(float* p, V a) { _mm_store_ps(p, a); }
    static V add(V a, V b) { return _mm_add_ps(a, b); }
    static V sub(V a, V b) { return _mm_sub_ps(a, b); }
    static V mul(V a, K k) { return _mm_mul_ps(a, k); }
};
#endif

// Constants with the orthonormal scale folded in: h(k) = cos(k pi / 16) / 2,
// and s = sqrt(1/8) for the DC and the k = 4 terms.
template <class O>
struct Constants {
    typename O::K h1, h2, h3, h5, h6, h7, s;
    Constants() {
        const double pi = 3.14159265358979323846;
        auto h = [&](int k) { return O::constant(float(0.5 * std::cos(k * pi / 16))); };
        h1 = h(1);
        h2 = h(2);
        h3 = h(3);
        h5 = h(5);
        h6 = h(6);
        h7 = h(7);
        s = O::constant(float(std::sqrt(0.125)));
    }
};
template <class O>
const Constants<O>& constants() {
    static const Constants<O> c;
    return c;
}

// One-dimensional DCT of eight vectors (rows r[0..7] of four columns each):
// even/odd split, then the 2x2 even rotation and the symmetric 4x4 odd matrix.
template <class O>
inline void fdct8(typename O::V* r) {
    using V = typename O::V;
    const Constants<O>& c = constants<O>();
    V s0 = O::add(r[0], r[7]), s1 = O::add(r[1], r[6]), s2 = O::add(r[2], r[5]), s3 = O::add(r[3], r[4]);
    V d0 = O::sub(r[0], r[7]), d1 = O::sub(r[1], r[6]), d2 = O::sub(r[2], r[5]), d3 = O::sub(r[3], r[4]);
    V e0 = O::add(s0, s3), e1 = O::add(s1, s2), f0 = O::sub(s0, s3), f1 = O::sub(s1, s2);
    r[0] = O::mul(O::add(e0, e1), c.s);
    r[4] = O::mul(O::sub(e0, e1), c.s);
    r[2] = O::add(O::mul(f0, c.h2), O::mul(f1, c.h6));
    r[6] = O::sub(O::mul(f0, c.h6), O::mul(f1, c.h2));
    r[1] = O::add(O::add(O::mul(d0, c.h1), O::mul(d1, c.h3)), O::add(O::mul(d2, c.h5), O::mul(d3, c.h7)));
    r[3] = O::sub(O::sub(O::mul(d0, c.h3), O::mul(d1, c.h7)), O::add(O::mul(d2, c.h1), O::mul(d3, c.h5)));
    r[5] = O::add(O::sub(O::mul(d0, c.h5), O::mul(d1, c.h1)), O::add(O::mul(d2, c.h7), O::mul(d3, c.h3)));
    r[7] = O::sub(O::sub(O::mul(d0, c.h7), O::mul(d1, c.h5)), O::sub(O::mul(d3, c.h1), O::mul(d2, c.h3)));
}

// The inverse: the odd matrix is its own transpose.
template <class O>
inline void idct8(typename O::V* r) {
    using V = typename O::V;
    const Constants<O>& c = constants<O>();
    V t0 = O::mul(r[0], c.s), t4 = O::mul(r[4], c.s);
    V p0 = O::add(t0, t4), p1 = O::sub(t0, t4);
    V q0 = O::add(O::mul(r[2], c.h2), O::mul(r[6], c.h6));
    V q1 = O::sub(O::mul(r[2], c.h6), O::mul(r[6], c.h2));
    V e0 = O::add(p0, q0), e3 = O::sub(p0, q0), e1 = O::add(p1, q1), e2 = O::sub(p1, q1);
    V o0 = O::add(O::add(O::mul(r[1], c.h1), O::mul(r[3], c.h3)), O::add(O::mul(r[5], c.h5), O::mul(r[7], c.h7)));
    V o1 = O::sub(O::sub(O::mul(r[1], c.h3), O::mul(r[3], c.h7)), O::add(O::mul(r[5], c.h1), O::mul(r[7], c.h5)));
    V o2 = O::add(O::sub(O::mul(r[1], c.h5), O::mul(r[3], c.h1)), O::add(O::mul(r[5], c.h7), O::mul(r[7], c.h3)));
    V o3 = O::sub(O::sub(O::mul(r[1], c.h7), O::mul(r[3], c.h5)), O::sub(O::mul(r[7], c.h1), O::mul(r[5], c.h3)));
    r[0] = O::add(e0, o0);
    r[7] = O::sub(e0, o0);
    r[1] = O::add(e1, o1);
    r[6] = O::sub(e1, o1);
    r[2] = O::add(e2, o2);
    r[5] = O::sub(e2, o2);
    r[3] = O::add(e3, o3);
    r[4] = O::sub(e3, o3);
}

// Applies the 1-D transform down the columns of an 8x8 block in place.
template <class O, bool Inverse>
inline void columns(float* b) {
    for (int half = 0; half < 8; half += 4) {
        typename O::V r[8];
        for (int i = 0; i < 8; i++) r[i] = O::load(b + i * 8 + half);
        if (Inverse)
            idct8<O>(r);
        else
            fdct8<O>(r);
        for (int i = 0; i < 8; i++) O::store(b + i * 8 + half, r[i]);
    }
}

inline void transposePlain(const float* in, float* out) {
    for (int i = 0; i < 8; i++)
        for (int j = 0; j < 8; j++) out[j * 8 + i] = in[i * 8 + j];
}

#if defined(__SSE2__)
inline void transposeSse(const float* in, float* out) {
    for (int bi = 0; bi < 8; bi += 4)
        for (int bj = 0; bj < 8; bj += 4) {
            __m128 a = _mm_load_ps(in + (bi + 0) * 8 + bj), b = _mm_load_ps(in + (bi + 1) * 8 + bj);
            __m128 c = _mm_load_ps(in + (bi + 2) * 8 + bj), d = _mm_load_ps(in + (bi + 3) * 8 + bj);
            _MM_TRANSPOSE4_PS(a, b, c, d);
            _mm_store_ps(out + (bj + 0) * 8 + bi, a);
            _mm_store_ps(out + (bj + 1) * 8 + bi, b);
            _mm_store_ps(out + (bj + 2) * 8 + bi, c);
            _mm_store_ps(out + (bj + 3) * 8 + bi, d);
        }
}
#endif

// Rounds half away from zero, as the reference IDCT does, and saturates.
inline int16_t roundSample(float y) {
    float v = y + (y < 0 ? -0.5f : 0.5f);
    int i = int(v);
    return int16_t(i < -256 ? -256 : (i > 255 ? 255 : i));
}

}  // namespace

void forwardDct(const int16_t* in, float* out) {
    alignas(16) float t[64];
#if defined(__SSE2__)
    if (simdEnabled()) {
        const __m128i z = _mm_setzero_si128();
        alignas(16) float x[64];
        for (int i = 0; i < 64; i += 8) {
            __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(in + i));
            __m128i sign = _mm_cmpgt_epi16(z, v);
            _mm_store_ps(x + i, _mm_cvtepi32_ps(_mm_unpacklo_epi16(v, sign)));
            _mm_store_ps(x + i + 4, _mm_cvtepi32_ps(_mm_unpackhi_epi16(v, sign)));
        }
        transposeSse(x, t);
        columns<SseOps, false>(t);  // rows
        transposeSse(t, out);
        columns<SseOps, false>(out);
        return;
    }
#endif
    for (int i = 0; i < 8; i++)
        for (int j = 0; j < 8; j++) t[j * 8 + i] = float(in[i * 8 + j]);
    columns<PlainOps, false>(t);
    transposePlain(t, out);
    columns<PlainOps, false>(out);
}

float flatBlockDc(int value) {
    // Each pass sums eight equal values (exact in single precision) and
    // scales by s once: the same two roundings as the full transform.
    const float s = constants<PlainOps>().s;
    const float rowDc = float(8 * value) * s;
    return (8.0f * rowDc) * s;
}

void inverseDct(const int32_t* in, int16_t* out) {
    alignas(16) float x[64], t[64];
#if defined(__SSE2__)
    if (simdEnabled()) {
        for (int i = 0; i < 64; i += 4)
            _mm_store_ps(x + i, _mm_cvtepi32_ps(_mm_loadu_si128(reinterpret_cast<const __m128i*>(in + i))));
        columns<SseOps, true>(x);
        transposeSse(x, t);
        columns<SseOps, true>(t);
        transposeSse(t, x);
        const __m128i lo = _mm_set1_epi16(-256), hi = _mm_set1_epi16(255);
        const __m128 half = _mm_set1_ps(0.5f), sign = _mm_set1_ps(-0.0f);
        for (int i = 0; i < 64; i += 8) {
            __m128 a = _mm_load_ps(x + i), c = _mm_load_ps(x + i + 4);
            a = _mm_add_ps(a, _mm_or_ps(half, _mm_and_ps(_mm_cmplt_ps(a, _mm_setzero_ps()), sign)));
            c = _mm_add_ps(c, _mm_or_ps(half, _mm_and_ps(_mm_cmplt_ps(c, _mm_setzero_ps()), sign)));
            __m128i v = _mm_packs_epi32(_mm_cvttps_epi32(a), _mm_cvttps_epi32(c));
            v = _mm_min_epi16(_mm_max_epi16(v, lo), hi);
            _mm_storeu_si128(reinterpret_cast<__m128i*>(out + i), v);
        }
        return;
    }
#endif
    for (int i = 0; i < 64; i++) x[i] = float(in[i]);
    columns<PlainOps, true>(x);
    transposePlain(x, t);
    columns<PlainOps, true>(t);
    transposePlain(t, x);
    for (int i = 0; i < 64; i++) out[i] = roundSample(x[i]);
}

}  // namespace vidova
