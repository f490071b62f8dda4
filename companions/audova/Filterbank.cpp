#include "companions/audova/Filterbank.h"

#include <cmath>

namespace audova {

constexpr double kPi = 3.14159265358979323846;

namespace {

double BesselI0(double x) {
    double sum = 1.0, term = 1.0;
    for (int k = 1; k < 60; ++k) {
        term *= (x / (2.0 * k)) * (x / (2.0 * k));
        sum += term;
        if (term < sum * 1e-17) break;
    }
    return sum;
}

// Kaiser-windowed sinc of 513 taps (the outermost pair is zero), with the
// cut-off chosen so that |H(pi/64)|^2 is half of |H(0)|^2: adjacent bands
// then add up to a flat response and their aliasing cancels.
struct Prototype {
    double h[257];  // h[m] = tap 256 +- m

    void Design(double wc, double beta) {
        const double i0b = BesselI0(beta);
        for (int m = 0; m <= 256; ++m) {
            const double r = m / 256.0;
            const double w = BesselI0(beta * std::sqrt(std::fmax(0.0, 1.0 - r * r))) / i0b;
            h[m] = (m == 0 ? wc / kPi : std::sin(wc * m) / (kPi * m)) * w;
        }
        h[256] = 0.0;
    }
    double Response(double w) const {
        double s = h[0];
        for (int m = 1; m <= 256; ++m) s += 2.0 * h[m] * std::cos(w * m);
        return s;
    }
};

struct Tables {
    float window[512];
    float reversed[512];
    float dctScale[33][16];  // [N][i] = 1 / 2cos(pi (2i + 1) / 2N)

    Tables() {
        Prototype p;
        const double beta = 10.7;
        double lo = 0.7 * kPi / 64, hi = 1.3 * kPi / 64;
        for (int it = 0; it < 60; ++it) {
            const double mid = 0.5 * (lo + hi);
            p.Design(mid, beta);
            const double ratio = p.Response(kPi / 64) / p.Response(0.0);
            if (ratio * ratio < 0.5)
                lo = mid;
            else
                hi = mid;
        }
        // A cut-off a trifle above the half-power point matched the standard's
        // synthesis window best (alias residue below -50 dB at the band edges).
        p.Design(0.5 * (lo + hi) * 1.001, beta);
        // A band-centre sinusoid comes out of its band with its own amplitude.
        const double scale = 2.0 / p.Response(0.0);
        for (int n = 0; n < 512; ++n) {
            const int m = n >= 256 ? n - 256 : 256 - n;
            const double sign = ((n / 64) & 1) ? -1.0 : 1.0;
            window[n] = static_cast<float>(p.h[m] * scale * sign);
        }
        for (int n = 0; n < 512; ++n) reversed[n] = window[511 - n];
        for (int n = 2; n <= 32; n *= 2)
            for (int i = 0; i < n / 2; ++i)
                dctScale[n][i] = static_cast<float>(0.5 / std::cos(kPi * (2 * i + 1) / (2.0 * n)));
    }
};

const Tables& GetTables() {
    static const Tables t;
    return t;
}

// out[i] = sum_m in[m] cos(pi m (2i + 1) / 2N), split into the even terms (a
// transform of half the size, mirrored) and the odd terms (folded pairwise
// into another half-size transform and scaled back by 1 / 2cos).
template <int N>
void Dct3(const float* in, float* out, const Tables& t) {
    float even[N / 2], odd[N / 2], e[N / 2], o[N / 2];
    even[0] = in[0];
    odd[0] = in[1];
    for (int m = 1; m < N / 2; ++m) {
        even[m] = in[2 * m];
        odd[m] = in[2 * m + 1] + in[2 * m - 1];
    }
    Dct3<N / 2>(even, e, t);
    Dct3<N / 2>(odd, o, t);
    const float* scale = t.dctScale[N];
    for (int i = 0; i < N / 2; ++i) {
        const float v = o[i] * scale[i];
        out[i] = e[i] + v;
        out[N - 1 - i] = e[i] - v;
    }
}

template <>
void Dct3<1>(const float* in, float* out, const Tables&) {
    out[0] = in[0];
}

}  // namespace

const float* AnalysisWindow() {
    return GetTables().window;
}

void AnalyzeBlock(const float* x, float out[32]) {
    const Tables& t = GetTables();
    // With r the oldest of the 512 samples, C[n] x[-n] = C'[m] r[m] for
    // m = 511 - n, C' the reversed window: one contiguous product, and the 64
    // partial sums come out in reverse order.
    const float* r = x - 511;
    const float* c = t.reversed;
    float u[64];
    for (int k = 0; k < 64; ++k) u[k] = c[k] * r[k];
    for (int i = 64; i < 512; i += 64)
        for (int k = 0; k < 64; ++k) u[k] += c[i + k] * r[i + k];
    // y[k] = u[63 - k]; fold the 64 partial sums onto 32 cosine terms (the
    // matrix's symmetries).
    float a[32];
    a[0] = u[47];
    for (int m = 1; m <= 16; ++m) a[m] = u[47 - m] + u[47 + m];
    for (int m = 17; m < 32; ++m) a[m] = u[47 - m] - u[m - 17];
    Dct3<32>(a, out, t);
}

}  // namespace audova
