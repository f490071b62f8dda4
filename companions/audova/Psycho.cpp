#include "companions/audova/Psycho.h"

#include <algorithm>
#include <cmath>

namespace audova {

constexpr double kPi = 3.14159265358979323846;

namespace {

double Bark(double hz) { return 13.0 * std::atan(0.00076 * hz) + 3.5 * std::atan((hz / 7500.0) * (hz / 7500.0)); }

// Threshold in quiet, dB SPL; a full-scale sinusoid is taken as 96 dB.
double QuietThresholdDb(double hz) {
  const double f = std::max(hz, 20.0) / 1000.0;
  return 3.64 * std::pow(f, -0.8) - 6.5 * std::exp(-0.6 * (f - 3.3) * (f - 3.3)) + 1e-3 * f * f * f * f;
}

double SpreadDb(double dz) {
  const double t = dz + 0.474;
  return std::max(-100.0, 15.81 + 7.5 * t - 17.5 * std::sqrt(1.0 + t * t));
}

}  // namespace

Psycho::Psycho(int sampleRate, int fftSize) : n_(fftSize), rate_(sampleRate) {
  window_.resize(n_);
  double sumSq = 0.0;
  for (int i = 0; i < n_; ++i) {
    window_[i] = static_cast<float>(0.5 - 0.5 * std::cos(2.0 * kPi * (i + 0.5) / n_));
    sumSq += window_[i] * window_[i];
  }
  // Power per line: one-sided |X|^2 * 2 / (N * sum w^2) adds up to the
  // signal's mean power.
  const float norm = static_cast<float>(2.0 / (n_ * sumSq));
  for (auto& w : window_) w *= std::sqrt(norm);

  cosTable_.resize(n_ / 2);
  sinTable_.resize(n_ / 2);
  for (int i = 0; i < n_ / 2; ++i) {
    cosTable_[i] = static_cast<float>(std::cos(2.0 * kPi * i / n_));
    sinTable_[i] = static_cast<float>(-std::sin(2.0 * kPi * i / n_));
  }
  int bits = 0;
  while ((1 << bits) < n_) ++bits;
  bitrev_.resize(n_);
  for (int i = 0; i < n_; ++i) {
    int r = 0;
    for (int b = 0; b < bits; ++b)
      if (i & (1 << b)) r |= 1 << (bits - 1 - b);
    bitrev_[i] = r;
  }

  const int lines = n_ / 2;
  ath_.resize(lines);
  partOfLine_.resize(lines);
  double startBark = -1.0;
  for (int k = 0; k < lines; ++k) {
    const double hz = static_cast<double>(k) * rate_ / n_;
    ath_[k] = static_cast<float>(0.5 * std::pow(10.0, (QuietThresholdDb(hz) - 96.0) / 10.0));
    const double z = Bark(hz);
    if (partFirst_.empty() || z - startBark >= 0.33) {
      partFirst_.push_back(k);
      partCount_.push_back(0);
      partBark_.push_back(0.0f);
      startBark = z;
    }
    partOfLine_[k] = static_cast<int>(partFirst_.size()) - 1;
    partCount_.back()++;
  }
  const int parts = static_cast<int>(partFirst_.size());
  for (int p = 0; p < parts; ++p) {
    const double mid = (partFirst_[p] + 0.5 * (partCount_[p] - 1)) * rate_ / n_;
    partBark_[p] = static_cast<float>(Bark(mid));
  }
  spread_.resize(static_cast<size_t>(parts) * parts);
  for (int p = 0; p < parts; ++p) {
    double sum = 0.0;
    for (int q = 0; q < parts; ++q) {
      const double v = std::pow(10.0, SpreadDb(partBark_[p] - partBark_[q]) / 10.0);
      spread_[static_cast<size_t>(p) * parts + q] = static_cast<float>(v);
      sum += v;
    }
    for (int q = 0; q < parts; ++q) spread_[static_cast<size_t>(p) * parts + q] /= static_cast<float>(sum);
  }
  energy_.resize(lines);
  re_.resize(n_);
  im_.resize(n_);
  partEnergy_.resize(parts);
  partTonal_.resize(parts);
}

void Psycho::Fft(std::vector<float>& re, std::vector<float>& im) const {
  for (int i = 0; i < n_; ++i) {
    const int j = bitrev_[i];
    if (j > i) {
      std::swap(re[i], re[j]);
      std::swap(im[i], im[j]);
    }
  }
  for (int len = 2; len <= n_; len <<= 1) {
    const int half = len / 2, step = n_ / len;
    for (int i = 0; i < n_; i += len) {
      for (int k = 0; k < half; ++k) {
        const float wr = cosTable_[k * step], wi = sinTable_[k * step];
        const int a = i + k, b = a + half;
        const float tr = re[b] * wr - im[b] * wi;
        const float ti = re[b] * wi + im[b] * wr;
        re[b] = re[a] - tr;
        im[b] = im[a] - ti;
        re[a] += tr;
        im[a] += ti;
      }
    }
  }
}

void Psycho::Analyze(const float* x, float allowed[32]) {
  const int lines = n_ / 2;
  for (int i = 0; i < n_; ++i) {
    re_[i] = x[i] * window_[i];
    im_[i] = 0.0f;
  }
  Fft(re_, im_);
  for (int k = 0; k < lines; ++k) energy_[k] = re_[k] * re_[k] + im_[k] * im_[k];
  energy_[0] = 0.0f;

  // Tonal lines: local maxima standing 7 dB above their neighbourhood.
  const int parts = static_cast<int>(partFirst_.size());
  std::fill(partEnergy_.begin(), partEnergy_.end(), 0.0f);
  std::fill(partTonal_.begin(), partTonal_.end(), 0.0f);
  for (int k = 0; k < lines; ++k) partEnergy_[partOfLine_[k]] += energy_[k];
  const int scale = n_ / 512;
  for (int k = 3; k < lines - 13 * scale; ++k) {
    const float e = energy_[k];
    if (!(e > energy_[k - 1] && e >= energy_[k + 1])) continue;
    int reach = 2;
    if (k >= 63 * scale) reach = 3;
    if (k >= 127 * scale) reach = 6;
    if (k >= 255 * scale) reach = 12;
    bool tonal = true;
    for (int j = 2; j <= reach && tonal; ++j)
      if (k - j >= 0 && e <= 5.0f * energy_[k - j]) tonal = false;
    for (int j = 2; j <= reach && tonal; ++j)
      if (e <= 5.0f * energy_[k + j]) tonal = false;
    if (tonal) partTonal_[partOfLine_[k]] += energy_[k - 1] + e + energy_[k + 1];
  }

  // Spread each partition's energy with a masking offset between that of a
  // tone (14.5 + z dB) and of noise (5.5 dB) by its tonality.
  float masker[128];
  for (int q = 0; q < parts; ++q) {
    const float e = partEnergy_[q];
    const float t = e > 0.0f ? std::min(1.0f, partTonal_[q] / e) : 0.0f;
    const float offsetDb = t * (14.5f + partBark_[q]) + (1.0f - t) * 5.5f;
    masker[q] = e * std::pow(10.0f, -offsetDb / 10.0f);
  }
  float lineThr[512];
  for (int p = 0; p < parts; ++p) {
    const float* row = &spread_[static_cast<size_t>(p) * parts];
    float thr = 0.0f;
    for (int q = 0; q < parts; ++q) thr += row[q] * masker[q];
    thr /= static_cast<float>(partCount_[p]);
    for (int k = partFirst_[p]; k < partFirst_[p] + partCount_[p]; ++k) lineThr[k] = std::max(thr, ath_[k]);
  }
  const int perBand = lines / 32;
  for (int sb = 0; sb < 32; ++sb) {
    float lowest = lineThr[std::max(1, sb * perBand)];
    for (int k = std::max(1, sb * perBand); k < (sb + 1) * perBand; ++k) lowest = std::min(lowest, lineThr[k]);
    allowed[sb] = std::min(allowed[sb], lowest * static_cast<float>(perBand));
  }
}

}  // namespace audova
