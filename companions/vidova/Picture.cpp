#include "companions/vidova/Picture.h"

#include "companions/vidova/Simd.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace vidova {
namespace {

inline uint8_t clip8(int v) {
    return uint8_t(v < 0 ? 0 : (v > 255 ? 255 : v));
}

// Input at its own resolution: luma w x h, chroma cw x ch.
struct Planar {
    std::vector<uint8_t> y, u, v;
    int w = 0, h = 0, cw = 0, ch = 0;
};

void fromRgb(const uint8_t* pic, int stride, int w, int h, int bpp, Planar& o) {
    o.cw = (w + 1) / 2;
    o.ch = h;
    for (int r = 0; r < h; r++) {
        const uint8_t* s = pic + std::ptrdiff_t(r) * stride;
        uint8_t* yd = o.y.data() + size_t(r) * w;
        uint8_t* ud = o.u.data() + size_t(r) * o.cw;
        uint8_t* vd = o.v.data() + size_t(r) * o.cw;
        for (int x = 0; x < w; x += 2) {
            const uint8_t* p0 = s + x * bpp;
            const uint8_t* p1 = x + 1 < w ? p0 + bpp : p0;
            int b0 = p0[0], g0 = p0[1], r0 = p0[2], b1 = p1[0], g1 = p1[1], r1 = p1[2];
            yd[x] = uint8_t(((66 * r0 + 129 * g0 + 25 * b0 + 128) >> 8) + 16);
            if (x + 1 < w) yd[x + 1] = uint8_t(((66 * r1 + 129 * g1 + 25 * b1 + 128) >> 8) + 16);
            int rs = r0 + r1, gs = g0 + g1, bs = b0 + b1;
            ud[x / 2] = clip8(((-38 * rs - 74 * gs + 112 * bs + 256) >> 9) + 128);
            vd[x / 2] = clip8(((112 * rs - 94 * gs - 18 * bs + 256) >> 9) + 128);
        }
    }
}

// Two rows of RGB straight into 4:2:0: both luma rows, and one chroma row
// that averages the rows' own chroma as fromRgb and place() would. x runs
// over pixel pairs from x0 (even) to w (even).
void rgbPairPlain(const uint8_t* s0, const uint8_t* s1, int x0, int w, int bpp, uint8_t* y0, uint8_t* y1, uint8_t* u,
                  uint8_t* v) {
    for (int x = x0; x < w; x += 2) {
        int cu[2], cv[2];
        const uint8_t* rows[2] = {s0, s1};
        uint8_t* ys[2] = {y0, y1};
        for (int k = 0; k < 2; k++) {
            const uint8_t* p0 = rows[k] + x * bpp;
            const uint8_t* p1 = p0 + bpp;
            const int b0 = p0[0], g0 = p0[1], r0 = p0[2], b1 = p1[0], g1 = p1[1], r1 = p1[2];
            ys[k][x] = uint8_t(((66 * r0 + 129 * g0 + 25 * b0 + 128) >> 8) + 16);
            ys[k][x + 1] = uint8_t(((66 * r1 + 129 * g1 + 25 * b1 + 128) >> 8) + 16);
            const int rs = r0 + r1, gs = g0 + g1, bs = b0 + b1;
            cu[k] = clip8(((-38 * rs - 74 * gs + 112 * bs + 256) >> 9) + 128);
            cv[k] = clip8(((112 * rs - 94 * gs - 18 * bs + 256) >> 9) + 128);
        }
        u[x / 2] = uint8_t((cu[0] + cu[1] + 1) >> 1);
        v[x / 2] = uint8_t((cv[0] + cv[1] + 1) >> 1);
    }
}

#if defined(__SSE2__)
// Weights of a pixel's B, G, R, A words for one output, as madd pairs.
inline __m128i weights(int b, int g, int r) {
    return _mm_setr_epi16(int16_t(b), int16_t(g), int16_t(r), 0, int16_t(b), int16_t(g), int16_t(r), 0);
}
// Sums the two 32-bit halves of each pixel's madd result: [p0 p1] [p2 p3] -> p0..p3.
inline __m128i pairSums(__m128i lo, __m128i hi) {
    const __m128 a = _mm_castsi128_ps(lo), b = _mm_castsi128_ps(hi);
    return _mm_add_epi32(_mm_castps_si128(_mm_shuffle_ps(a, b, _MM_SHUFFLE(2, 0, 2, 0))),
                         _mm_castps_si128(_mm_shuffle_ps(a, b, _MM_SHUFFLE(3, 1, 3, 1))));
}
// Four 32-bit pixels (BGRA) of one row: their luma, and the chroma of the
// two pairs they form (before the vertical average), as 32-bit values.
inline void rgb4(const uint8_t* p, __m128i& y, __m128i& u, __m128i& v) {
    const __m128i z = _mm_setzero_si128();
    const __m128i px = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
    const __m128i lo = _mm_unpacklo_epi8(px, z), hi = _mm_unpackhi_epi8(px, z);
    y = pairSums(_mm_madd_epi16(lo, weights(25, 129, 66)), _mm_madd_epi16(hi, weights(25, 129, 66)));
    y = _mm_add_epi32(_mm_srai_epi32(_mm_add_epi32(y, _mm_set1_epi32(128)), 8), _mm_set1_epi32(16));
    // Pairs of pixels: words 0-3 of lo plus words 4-7, the same for hi.
    const __m128i pairs =
        _mm_unpacklo_epi64(_mm_add_epi16(lo, _mm_srli_si128(lo, 8)), _mm_add_epi16(hi, _mm_srli_si128(hi, 8)));
    const __m128i bias = _mm_set1_epi32(256), mid = _mm_set1_epi32(128);
    u = pairSums(_mm_madd_epi16(pairs, weights(112, -74, -38)), z);
    v = pairSums(_mm_madd_epi16(pairs, weights(-18, -94, 112)), z);
    u = _mm_add_epi32(_mm_srai_epi32(_mm_add_epi32(u, bias), 9), mid);
    v = _mm_add_epi32(_mm_srai_epi32(_mm_add_epi32(v, bias), 9), mid);
}
#endif

// Returns the first pixel pair it left to the plain loop.
int rgbPairSse(const uint8_t* s0, const uint8_t* s1, int w, uint8_t* y0, uint8_t* y1, uint8_t* u, uint8_t* v) {
    int x = 0;
#if defined(__SSE2__)
    // Eight pixels per step: two luma groups of four per row, four chroma pairs.
    const __m128i z = _mm_setzero_si128();
    for (; x + 8 <= w; x += 8) {
        __m128i ya[2][2], ua[2][2], va[2][2];
        for (int k = 0; k < 2; k++)
            for (int half = 0; half < 2; half++)
                rgb4((k ? s1 : s0) + (x + 4 * half) * 4, ya[k][half], ua[k][half], va[k][half]);
        for (int k = 0; k < 2; k++) {
            const __m128i y16 = _mm_packs_epi32(ya[k][0], ya[k][1]);
            _mm_storel_epi64(reinterpret_cast<__m128i*>((k ? y1 : y0) + x), _mm_packus_epi16(y16, y16));
        }
        // Chroma: words 0-1 of each half are the pairs (2 and 3 are zero
        // from the shuffle); clip each row's value to 0..255 first.
        auto rowChroma = [&](const __m128i(&c)[2]) {
            const __m128i both = _mm_unpacklo_epi64(c[0], c[1]);  // pairs 0,1 | 2,3
            const __m128i w16 = _mm_packs_epi32(both, both);
            return _mm_unpacklo_epi8(_mm_packus_epi16(w16, w16), z);  // clipped, as 16-bit words
        };
        const __m128i one = _mm_set1_epi16(1);
        __m128i uu = _mm_srli_epi16(_mm_add_epi16(_mm_add_epi16(rowChroma(ua[0]), rowChroma(ua[1])), one), 1);
        __m128i vv = _mm_srli_epi16(_mm_add_epi16(_mm_add_epi16(rowChroma(va[0]), rowChroma(va[1])), one), 1);
        uu = _mm_packus_epi16(uu, uu);
        vv = _mm_packus_epi16(vv, vv);
        const uint32_t uw = uint32_t(_mm_cvtsi128_si32(uu)), vw = uint32_t(_mm_cvtsi128_si32(vv));
        std::memcpy(u + x / 2, &uw, 4);
        std::memcpy(v + x / 2, &vw, 4);
    }
#else
    (void)s0, (void)s1, (void)w, (void)y0, (void)y1, (void)u, (void)v;
#endif
    return x;
}

// BGR(A) of exactly the stream's visible size into 4:2:0, without the
// intermediate planes; edges are padded as place() pads them.
void rgbTo420(const uint8_t* pic, int stride, int w, int h, int bpp, Frame& dst) {
    const int pairsW = w & ~1;
    for (int r = 0; r < h; r += 2) {
        // An odd last row pairs with itself; its second luma row lands in
        // the padding, which is written again below.
        const uint8_t* s0 = pic + std::ptrdiff_t(r) * stride;
        const uint8_t* s1 = r + 1 < h ? s0 + stride : s0;
        uint8_t* y0 = dst.p[0].row(r);
        uint8_t* y1 = dst.p[0].row(r + 1);
        uint8_t* u = dst.p[1].row(r / 2);
        uint8_t* v = dst.p[2].row(r / 2);
        int x = bpp == 4 && simdEnabled() ? rgbPairSse(s0, s1, pairsW, y0, y1, u, v) : 0;
        rgbPairPlain(s0, s1, x, pairsW, bpp, y0, y1, u, v);
        if (w & 1) {
            // The last column pairs with itself, as fromRgb does.
            const uint8_t* rows[2] = {s0, s1};
            uint8_t* ys[2] = {y0, y1};
            int cu[2], cv[2];
            for (int k = 0; k < 2; k++) {
                const uint8_t* p = rows[k] + (w - 1) * bpp;
                const int b = p[0], g = p[1], rr = p[2];
                ys[k][w - 1] = uint8_t(((66 * rr + 129 * g + 25 * b + 128) >> 8) + 16);
                cu[k] = clip8(((-38 * 2 * rr - 74 * 2 * g + 112 * 2 * b + 256) >> 9) + 128);
                cv[k] = clip8(((112 * 2 * rr - 94 * 2 * g - 18 * 2 * b + 256) >> 9) + 128);
            }
            u[w / 2] = uint8_t((cu[0] + cu[1] + 1) >> 1);
            v[w / 2] = uint8_t((cv[0] + cv[1] + 1) >> 1);
        }
    }
    // Padding: the last column and row repeat, as place() does.
    const int cw = (w + 1) / 2, ch = (h + 1) / 2;
    const int used[3][2] = {{w, h}, {cw, ch}, {cw, ch}};
    for (int i = 0; i < 3; i++) {
        Plane& p = dst.p[i];
        for (int r = 0; r < used[i][1]; r++) {
            uint8_t* d = p.row(r);
            std::memset(d + used[i][0], d[used[i][0] - 1], size_t(p.width - used[i][0]));
        }
        for (int r = used[i][1]; r < p.height; r++) std::memcpy(p.row(r), p.row(used[i][1] - 1), size_t(p.width));
    }
}

void fromPacked(const uint8_t* pic, int stride, int w, int h, bool uyvy, Planar& o) {
    o.cw = (w + 1) / 2;
    o.ch = h;
    const int yo = uyvy ? 1 : 0, uo = uyvy ? 0 : 1, vo = uyvy ? 2 : 3;
    for (int r = 0; r < h; r++) {
        const uint8_t* s = pic + std::ptrdiff_t(r) * stride;
        uint8_t* yd = o.y.data() + size_t(r) * w;
        for (int x = 0; x < w; x++) yd[x] = s[x * 2 + yo + ((x & 1) ? 0 : 0)];
        for (int x = 0; x < o.cw; x++) {
            o.u[size_t(r) * o.cw + x] = s[x * 4 + uo];
            o.v[size_t(r) * o.cw + x] = s[x * 4 + vo];
        }
    }
}

void copyPlane(const uint8_t* src, std::ptrdiff_t stride, int w, int h, uint8_t* dst) {
    for (int r = 0; r < h; r++) std::copy(src + r * stride, src + r * stride + w, dst + size_t(r) * w);
}

// Resamples/crops/pads one plane into dst (dw x dh visible, padded to the plane's size).
void place(const std::vector<uint8_t>& src, int sw, int sh, int vertical, Plane& dst, int dw, int dh) {
    // vertical: 0 same, 1 halve (average pairs), 2 double
    int rows = std::min(dh, vertical == 1 ? (sh + 1) / 2 : vertical == 2 ? sh * 2 : sh);
    int cols = std::min(dw, sw);
    if (rows <= 0 || cols <= 0) return;
    for (int r = 0; r < rows; r++) {
        uint8_t* d = dst.row(r);
        if (vertical == 1) {
            const uint8_t* a = src.data() + size_t(2 * r) * sw;
            const uint8_t* b = 2 * r + 1 < sh ? a + sw : a;
            for (int x = 0; x < cols; x++) d[x] = uint8_t((a[x] + b[x] + 1) >> 1);
        } else {
            const uint8_t* a = src.data() + size_t(vertical == 2 ? r / 2 : r) * sw;
            std::copy(a, a + cols, d);
        }
        std::fill(d + cols, d + dst.width, d[cols - 1]);
    }
    for (int r = rows; r < dst.height; r++) std::copy(dst.row(rows - 1), dst.row(rows - 1) + dst.width, dst.row(r));
}

#if defined(__SSE2__)
// Marks the macroblocks of sixteen samples at x whose equality mask (one bit
// per sample, set where equal) shows a change: one luma macroblock or two
// chroma ones.
inline void markSixteen(int same, int x, int mbCols, uint8_t bit, uint8_t* changed) {
    if (same == 0xFFFF) return;
    if (mbCols == 16) {
        changed[x / 16] |= bit;
    } else {
        if ((same & 0xFF) != 0xFF) changed[x / 8] |= bit;
        if ((same >> 8) != 0xFF) changed[x / 8 + 1] |= bit;
    }
}
#endif

// Marks the macroblocks (mbCols samples wide) where row a differs from row b.
void markChanges(const uint8_t* a, const uint8_t* b, int width, int mbCols, uint8_t bit, uint8_t* changed) {
    int x = 0;
#if defined(__SSE2__)
    if (simdEnabled()) {
        for (; x + 16 <= width; x += 16) {
            const int same =
                _mm_movemask_epi8(_mm_cmpeq_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(a + x)),
                                                 _mm_loadu_si128(reinterpret_cast<const __m128i*>(b + x))));
            markSixteen(same, x, mbCols, bit, changed);
        }
    }
#endif
    for (; x < width; x += mbCols)
        if (std::memcmp(a + x, b + x, size_t(mbCols)) != 0) changed[x / mbCols] |= bit;
}

// Copies row src over dst, marking the macroblocks where it differs from
// prev, in one pass; prev may be dst (each piece is read before it is
// written). width is a multiple of mbCols.
void copyMarking(const uint8_t* src, const uint8_t* prev, uint8_t* dst, int width, int mbCols, uint8_t bit,
                 uint8_t* changed) {
    int x = 0;
#if defined(__SSE2__)
    if (simdEnabled()) {
        for (; x + 16 <= width; x += 16) {
            const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(src + x));
            const int same =
                _mm_movemask_epi8(_mm_cmpeq_epi8(a, _mm_loadu_si128(reinterpret_cast<const __m128i*>(prev + x))));
            _mm_storeu_si128(reinterpret_cast<__m128i*>(dst + x), a);
            markSixteen(same, x, mbCols, bit, changed);
        }
    }
#endif
    for (; x < width; x += mbCols) {
        if (std::memcmp(src + x, prev + x, size_t(mbCols)) != 0) changed[x / mbCols] |= bit;
        std::memcpy(dst + x, src + x, size_t(mbCols));
    }
}

// Where copyInto marks the macroblocks whose samples changed: one flag per
// macroblock, mbW to a macroblock row of rowsPerMb plane rows.
struct ChangeMarks {
    const Plane* previous;  // may be dst itself
    uint8_t* changed;
    int mbW, rowsPerMb;
    uint8_t bit;
    uint8_t* row;  // scratch of dst's width
};

// Copies a plane straight into dst, cropping or replicating edges, and
// marks where the result differs from the previous picture's plane. Each
// row is built and compared before it is written, so the previous picture
// may be dst itself.
void copyInto(const uint8_t* src, std::ptrdiff_t stride, int sw, int sh, Plane& dst, int dw, int dh,
              const ChangeMarks* marks = nullptr) {
    int rows = std::min(dh, sh), cols = std::min(dw, sw);
    if (rows <= 0 || cols <= 0) return;
    const size_t width = size_t(dst.width);
    for (int r = 0; r < dst.height; r++) {
        if (marks && r < rows && cols == dst.width) {  // a whole row as it comes: no scratch
            copyMarking(src + r * stride, marks->previous->row(r), dst.row(r), dst.width, dst.width / marks->mbW,
                        marks->bit, marks->changed + size_t(r / marks->rowsPerMb) * size_t(marks->mbW));
            continue;
        }
        uint8_t* d = marks ? marks->row : dst.row(r);
        if (r < rows) {
            std::memcpy(d, src + r * stride, size_t(cols));
            if (cols < dst.width) std::memset(d + cols, d[cols - 1], width - size_t(cols));
        } else {
            std::memcpy(d, dst.row(rows - 1), width);  // the new last row, already written
        }
        if (marks) {
            markChanges(d, marks->previous->row(r), dst.width, dst.width / marks->mbW, marks->bit,
                        marks->changed + size_t(r / marks->rowsPerMb) * size_t(marks->mbW));
            std::memcpy(dst.row(r), d, width);
        }
    }
}

}  // namespace

bool copiedStraight(uint32_t fourcc, int chroma) {
    const bool planar = fourcc == kFourccI420 || fourcc == kFourccYV12 || fourcc == kFourccYV16;
    return planar && (chroma == 2) == (fourcc == kFourccYV16);
}

bool convertPicture(const uint8_t* pic, int stride, int w, int h, uint32_t fourcc, int width, int height, int chroma,
                    Frame& dst, ChangeMap* changes) {
    if (changes) changes->valid = false;
    if (!pic || w <= 0 || h <= 0 || w > 16384 || h > 16384) return false;
    if (copiedStraight(fourcc, chroma)) {
        // Same chroma layout as the stream: no intermediate copy.
        if (stride == 0) stride = w;
        std::ptrdiff_t cs = stride / 2;
        int cw = (w + 1) / 2, ch = chroma == 2 ? h : (h + 1) / 2;
        if (stride < w || cs < cw) return false;
        const uint8_t* p1 = pic + std::ptrdiff_t(stride) * h;
        const uint8_t* p2 = p1 + cs * ch;
        const uint8_t* up = fourcc == kFourccI420 ? p1 : p2;
        const uint8_t* vp = fourcc == kFourccI420 ? p2 : p1;
        const bool mark = changes && changes->previous;
        const int mbW = dst.p[0].width / 16, mbH = dst.p[0].height / 16;
        if (mark) {
            changes->changed.assign(size_t(mbW) * size_t(mbH), 0);
            changes->row.resize(size_t(dst.p[0].width));
        }
        int cvis = (width + 1) / 2, chvis = chroma == 2 ? height : (height + 1) / 2;
        for (int i = 0; i < 3; i++) {
            const ChangeMarks marks{mark ? &changes->previous->p[i] : nullptr,
                                    mark ? changes->changed.data() : nullptr,
                                    mbW,
                                    dst.p[i].height / mbH,
                                    i ? ChangeMap::kChroma : ChangeMap::kLuma,
                                    mark ? changes->row.data() : nullptr};
            if (i == 0)
                copyInto(pic, stride, w, h, dst.p[0], width, height, mark ? &marks : nullptr);
            else
                copyInto(i == 1 ? up : vp, cs, cw, ch, dst.p[i], cvis, chvis, mark ? &marks : nullptr);
        }
        if (mark) changes->valid = true;
        return true;
    }
    if ((fourcc == kFourccBGR3 || fourcc == kFourccBGR4) && chroma == 1 && w == width && h == height) {
        const int bpp = fourcc == kFourccBGR3 ? 3 : 4;
        if (stride == 0) stride = -((w * bpp + 3) & ~3);
        if (std::abs(stride) < w * bpp) return false;
        rgbTo420(pic, stride, w, h, bpp, dst);
        return true;
    }
    Planar in;
    in.w = w;
    in.h = h;
    in.y.resize(size_t(w) * h);
    in.u.resize(size_t((w + 1) / 2) * h);
    in.v.resize(size_t((w + 1) / 2) * h);
    bool chroma420 = false;
    switch (fourcc) {
        case kFourccBGR3:
        case kFourccBGR4: {
            int bpp = fourcc == kFourccBGR3 ? 3 : 4;
            if (stride == 0) stride = -((w * bpp + 3) & ~3);
            if (std::abs(stride) < w * bpp) return false;
            fromRgb(pic, stride, w, h, bpp, in);
            break;
        }
        case kFourccYUY2:
        case kFourccUYVY:
            if (stride == 0) stride = ((w + 1) / 2) * 4;
            if (std::abs(stride) < ((w + 1) / 2) * 4) return false;
            fromPacked(pic, stride, w, h, fourcc == kFourccUYVY, in);
            break;
        case kFourccYV16:
        case kFourccI420:
        case kFourccYV12: {
            if (stride == 0) stride = w;
            if (stride < w) return false;  // planar inputs are top-down
            chroma420 = fourcc != kFourccYV16;
            int cw = (w + 1) / 2, ch = chroma420 ? (h + 1) / 2 : h;
            std::ptrdiff_t cs = stride / 2;
            if (cs < cw) return false;
            const uint8_t* p1 = pic + std::ptrdiff_t(stride) * h;
            const uint8_t* p2 = p1 + cs * ch;
            const uint8_t* up = fourcc == kFourccI420 ? p1 : p2;
            const uint8_t* vp = fourcc == kFourccI420 ? p2 : p1;
            in.cw = cw;
            in.ch = ch;
            copyPlane(pic, stride, w, h, in.y.data());
            copyPlane(up, cs, cw, ch, in.u.data());
            copyPlane(vp, cs, cw, ch, in.v.data());
            break;
        }
        default:
            return false;
    }
    place(in.y, in.w, in.h, 0, dst.p[0], width, height);
    int cvis = (width + 1) / 2;
    int chvis = chroma == 2 ? height : (height + 1) / 2;
    int vertical = chroma == 2 ? (chroma420 ? 2 : 0) : (chroma420 ? 0 : 1);
    place(in.u, in.cw, in.ch, vertical, dst.p[1], cvis, chvis);
    place(in.v, in.cw, in.ch, vertical, dst.p[2], cvis, chvis);
    return true;
}

void frameToUyvy(const Frame& f, int width, int height, int chroma, uint8_t* out) {
    for (int r = 0; r < height; r++) {
        int cr = chroma == 2 ? r : r / 2;
        const uint8_t* y = f.p[0].row(r);
        const uint8_t* u = f.p[1].row(cr);
        const uint8_t* v = f.p[2].row(cr);
        uint8_t* d = out + size_t(r) * size_t(width) * 2;
        for (int x = 0; x < width; x++) {
            d[2 * x] = (x & 1) ? v[x / 2] : u[x / 2];
            d[2 * x + 1] = y[x];
        }
    }
}

}  // namespace vidova
