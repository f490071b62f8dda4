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
  float matrix[32][32];

  Tables() {
    Prototype p;
    const double beta = 10.7;
    double lo = 0.7 * kPi / 64, hi = 1.3 * kPi / 64;
    for (int it = 0; it < 60; ++it) {
      const double mid = 0.5 * (lo + hi);
      p.Design(mid, beta);
      const double ratio = p.Response(kPi / 64) / p.Response(0.0);
      if (ratio * ratio < 0.5) lo = mid; else hi = mid;
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
    for (int i = 0; i < 32; ++i)
      for (int m = 0; m < 32; ++m)
        matrix[i][m] = static_cast<float>(std::cos((2 * i + 1) * m * kPi / 64.0));
  }
};

const Tables& GetTables() {
  static const Tables t;
  return t;
}

}  // namespace

const float* AnalysisWindow() { return GetTables().window; }

void AnalyzeBlock(const float* x, float out[32]) {
  const Tables& t = GetTables();
  const float* c = t.window;
  float y[64];
  for (int k = 0; k < 64; ++k) {
    float s = 0.0f;
    for (int j = 0; j < 8; ++j) s += c[k + 64 * j] * x[-(k + 64 * j)];
    y[k] = s;
  }
  // Fold the 64 partial sums onto 32 cosine terms (the matrix's symmetries).
  float a[32];
  a[0] = y[16];
  for (int m = 1; m <= 16; ++m) a[m] = y[16 + m] + y[16 - m];
  for (int m = 17; m < 32; ++m) a[m] = y[16 + m] - y[80 - m];
  for (int i = 0; i < 32; ++i) {
    float s = 0.0f;
    for (int m = 0; m < 32; ++m) s += t.matrix[i][m] * a[m];
    out[i] = s;
  }
}

}  // namespace audova
