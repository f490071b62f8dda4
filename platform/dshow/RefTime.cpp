#include "platform/dshow/RefTime.h"

#include <climits>
#include <cstdint>

namespace {

struct U128 {
    uint64_t hi, lo;
};

U128 Mul64(uint64_t a, uint64_t b) {
    uint64_t a0 = a & 0xFFFFFFFFu, a1 = a >> 32, b0 = b & 0xFFFFFFFFu, b1 = b >> 32;
    uint64_t p00 = a0 * b0, p01 = a0 * b1, p10 = a1 * b0, p11 = a1 * b1;
    uint64_t mid = (p00 >> 32) + (p01 & 0xFFFFFFFFu) + (p10 & 0xFFFFFFFFu);
    U128 r;
    r.lo = (p00 & 0xFFFFFFFFu) | (mid << 32);
    r.hi = p11 + (p01 >> 32) + (p10 >> 32) + (mid >> 32);
    return r;
}

bool Less(const U128& x, const U128& y) {
    return x.hi < y.hi || (x.hi == y.hi && x.lo < y.lo);
}

U128 Sub(const U128& x, const U128& y) {
    U128 r;
    r.lo = x.lo - y.lo;
    r.hi = x.hi - y.hi - (x.lo < y.lo ? 1 : 0);
    return r;
}

U128 Add(const U128& x, const U128& y) {
    U128 r;
    r.lo = x.lo + y.lo;
    r.hi = x.hi + y.hi + (r.lo < x.lo ? 1 : 0);
    return r;
}

// Long division, 128 by 64 bits.
U128 Div(U128 n, uint64_t d) {
    U128 q = {0, 0};
    U128 rem = {0, 0};
    for (int i = 127; i >= 0; --i) {
        rem.hi = (rem.hi << 1) | (rem.lo >> 63);
        rem.lo <<= 1;
        uint64_t bit = i >= 64 ? (n.hi >> (i - 64)) & 1 : (n.lo >> i) & 1;
        rem.lo |= bit;
        U128 dd = {0, d};
        if (!Less(rem, dd)) {
            rem = Sub(rem, dd);
            if (i >= 64)
                q.hi |= uint64_t(1) << (i - 64);
            else
                q.lo |= uint64_t(1) << i;
        }
    }
    return q;
}

uint64_t Mag(LONGLONG v) {
    return v < 0 ? 0 - static_cast<uint64_t>(v) : static_cast<uint64_t>(v);
}

}  // namespace

LONGLONG WINAPI llMulDiv(LONGLONG a, LONGLONG b, LONGLONG c, LONGLONG d) {
    bool neg = (a < 0) != (b < 0);
    U128 m = Mul64(Mag(a), Mag(b));
    U128 md = {0, Mag(d)};
    if (m.hi == 0 && m.lo == 0) neg = d < 0;
    if ((d < 0) == neg) {
        m = Add(m, md);
    } else if (Less(m, md)) {
        m = Sub(md, m);
        neg = !neg;
    } else {
        m = Sub(m, md);
    }
    if (c == 0) return neg ? LLONG_MIN : LLONG_MAX;
    if (c < 0) neg = !neg;
    U128 q = Div(m, Mag(c));
    if (q.hi != 0) return neg ? LLONG_MIN : LLONG_MAX;
    if (neg) return q.lo > uint64_t(LLONG_MAX) ? LLONG_MIN : -static_cast<LONGLONG>(q.lo);
    return q.lo > uint64_t(LLONG_MAX) ? LLONG_MAX : static_cast<LONGLONG>(q.lo);
}

LONGLONG WINAPI Int64x32Div32(LONGLONG a, LONG b, LONG c, LONG d) {
    return llMulDiv(a, b, c, d);
}
