#include "companions/audova/Psycho.h"

#include <algorithm>
#include <cmath>

namespace audova {

constexpr double kPi = 3.14159265358979323846;

namespace {

double Bark(double hz) {
    return 13.0 * std::atan(0.00076 * hz) + 3.5 * std::atan((hz / 7500.0) * (hz / 7500.0));
}

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

    cosTable_.resize(n_);
    sinTable_.resize(n_);
    for (int half = 1; half < n_; half <<= 1)
        for (int k = 0; k < half; ++k) {
            cosTable_[half - 1 + k] = static_cast<float>(std::cos(kPi * k / half));
            sinTable_[half - 1 + k] = static_cast<float>(-std::sin(kPi * k / half));
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
        int lo = parts, hi = 0;
        for (int q = 0; q < parts; ++q) {
            float& v = spread_[static_cast<size_t>(p) * parts + q];
            v /= static_cast<float>(sum);
            if (v > 1e-7f) {
                lo = std::min(lo, q);
                hi = std::max(hi, q + 1);
            }
        }
        spreadFrom_.push_back(lo);
        spreadTo_.push_back(std::max(lo, hi));
    }
    energy_.resize(lines);
    energy2_.resize(lines);
    re_.resize(n_);
    im_.resize(n_);
    partEnergy_.resize(parts);
    masker_.resize(parts);
    partTonal_.resize(parts);
}

void Psycho::Fft(std::vector<float>& re, std::vector<float>& im) const {
    // Input comes in bit-reversed order. The first two stages need no
    // twiddles: one pass of four-point butterflies.
    for (int i = 0; i < n_; i += 4) {
        float* r = &re[i];
        float* m = &im[i];
        const float r0 = r[0] + r[1], i0 = m[0] + m[1], r1 = r[0] - r[1], i1 = m[0] - m[1];
        const float r2 = r[2] + r[3], i2 = m[2] + m[3], r3 = r[2] - r[3], i3 = m[2] - m[3];
        r[0] = r0 + r2;
        m[0] = i0 + i2;
        r[2] = r0 - r2;
        m[2] = i0 - i2;
        // times -i
        r[1] = r1 + i3;
        m[1] = i1 - r3;
        r[3] = r1 - i3;
        m[3] = i1 + r3;
    }
    // Twiddles of each stage lie side by side (stage of half h at offset h - 1).
    for (int half = 4; half < n_; half <<= 1) {
        const float* wr = &cosTable_[half - 1];
        const float* wi = &sinTable_[half - 1];
        for (int i = 0; i < n_; i += 2 * half) {
            float* ar = &re[i];
            float* ai = &im[i];
            float* br = &re[i + half];
            float* bi = &im[i + half];
            for (int k = 0; k < half; ++k) {
                const float tr = br[k] * wr[k] - bi[k] * wi[k];
                const float ti = br[k] * wi[k] + bi[k] * wr[k];
                br[k] = ar[k] - tr;
                bi[k] = ai[k] - ti;
                ar[k] += tr;
                ai[k] += ti;
            }
        }
    }
}

void Psycho::Analyze(const float* x, const float* y, float allowedX[32], float allowedY[32]) {
    const int lines = n_ / 2;
    // Two real blocks share one complex transform: x in the real part, y in
    // the imaginary part, separated by the transform's symmetry.
    for (int i = 0; i < n_; ++i) {
        const int j = bitrev_[i];
        re_[j] = x[i] * window_[i];
        im_[j] = y ? y[i] * window_[i] : 0.0f;
    }
    Fft(re_, im_);
    if (!y) {
        for (int k = 0; k < lines; ++k) energy_[k] = re_[k] * re_[k] + im_[k] * im_[k];
        Threshold(allowedX);
        return;
    }
    for (int k = 0; k < lines; ++k) {
        const int m = (n_ - k) & (n_ - 1);
        const float ar = re_[k] + re_[m], ai = im_[k] - im_[m];
        const float br = im_[k] + im_[m], bi = re_[k] - re_[m];
        energy_[k] = 0.25f * (ar * ar + ai * ai);
        energy2_[k] = 0.25f * (br * br + bi * bi);
    }
    Threshold(allowedX);
    energy_.swap(energy2_);
    Threshold(allowedY);
}

void Psycho::Threshold(float allowed[32]) {
    const int lines = n_ / 2;
    energy_[0] = 0.0f;

    // Tonal lines: local maxima standing 7 dB above their neighbourhood.
    const int parts = static_cast<int>(partFirst_.size());
    std::fill(partTonal_.begin(), partTonal_.end(), 0.0f);
    for (int p = 0; p < parts; ++p) {
        float sum = 0.0f;
        for (int k = partFirst_[p]; k < partFirst_[p] + partCount_[p]; ++k) sum += energy_[k];
        partEnergy_[p] = sum;
    }
    const int scale = n_ / 512;
    for (int k = 3; k < lines - 13 * scale; ++k) {
        const float e = energy_[k];
        // Most lines fail the cheap 7 dB test against k - 2 first.
        if (e <= 5.0f * energy_[k - 2] || !(e > energy_[k - 1] && e >= energy_[k + 1])) continue;
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
    float* masker = masker_.data();
    for (int q = 0; q < parts; ++q) {
        const float e = partEnergy_[q];
        const float t = e > 0.0f ? std::min(1.0f, partTonal_[q] / e) : 0.0f;
        const float offsetDb = t * (14.5f + partBark_[q]) + (1.0f - t) * 5.5f;
        masker[q] = e * std::exp(-0.2302585f * offsetDb);
    }
    float lineThr[512];
    for (int p = 0; p < parts; ++p) {
        const float* row = &spread_[static_cast<size_t>(p) * parts];
        float thr = 0.0f;
        for (int q = spreadFrom_[p]; q < spreadTo_[p]; ++q) thr += row[q] * masker[q];
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
