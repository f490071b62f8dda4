#include "companions/vidova/Picture.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>

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

// Copies a plane straight into dst, cropping or replicating edges.
void copyInto(const uint8_t* src, std::ptrdiff_t stride, int sw, int sh, Plane& dst, int dw, int dh) {
    int rows = std::min(dh, sh), cols = std::min(dw, sw);
    if (rows <= 0 || cols <= 0) return;
    for (int r = 0; r < rows; r++) {
        uint8_t* d = dst.row(r);
        std::memcpy(d, src + r * stride, size_t(cols));
        std::memset(d + cols, d[cols - 1], size_t(dst.width - cols));
    }
    for (int r = rows; r < dst.height; r++) std::memcpy(dst.row(r), dst.row(rows - 1), size_t(dst.width));
}

}  // namespace

bool convertPicture(const uint8_t* pic, int stride, int w, int h, uint32_t fourcc, int width, int height, int chroma,
                    Frame& dst) {
    if (!pic || w <= 0 || h <= 0 || w > 16384 || h > 16384) return false;
    const bool planar = fourcc == kFourccI420 || fourcc == kFourccYV12 || fourcc == kFourccYV16;
    if (planar && (chroma == 2) == (fourcc == kFourccYV16)) {
        // Same chroma layout as the stream: no intermediate copy.
        if (stride == 0) stride = w;
        std::ptrdiff_t cs = stride / 2;
        int cw = (w + 1) / 2, ch = chroma == 2 ? h : (h + 1) / 2;
        if (stride < w || cs < cw) return false;
        const uint8_t* p1 = pic + std::ptrdiff_t(stride) * h;
        const uint8_t* p2 = p1 + cs * ch;
        const uint8_t* up = fourcc == kFourccI420 ? p1 : p2;
        const uint8_t* vp = fourcc == kFourccI420 ? p2 : p1;
        copyInto(pic, stride, w, h, dst.p[0], width, height);
        int cvis = (width + 1) / 2, chvis = chroma == 2 ? height : (height + 1) / 2;
        copyInto(up, cs, cw, ch, dst.p[1], cvis, chvis);
        copyInto(vp, cs, cw, ch, dst.p[2], cvis, chvis);
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
