#include "companions/vidova/Encoder.h"

#include "companions/vidova/BitWriter.h"
#include "companions/vidova/Dct.h"
#include "companions/vidova/Simd.h"
#include "companions/vidova/Tables.h"

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstdlib>
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace vidova {

// ---------------------------------------------------------------- rate control

void RateControl::init(const Config& c) {
    mode_ = c.rcMode;
    fps_ = c.fps;
    rate_ = c.bitrate > 0 ? c.bitrate : c.maxBitrate;
    maxRate_ = mode_ == 1 ? rate_ : std::max(c.maxBitrate, rate_);
    perFrame_ = rate_ / fps_;
    vbvSize_ = double(c.vbvSize16k) * 16384.0;
    vbv_ = vbvSize_ * c.vbvInitialPercent / 100.0;
    // Starting complexities (bits x quantiser) per luma sample, typical of
    // camera-like content; the first pictures correct them.
    const double pixels = double(c.width) * c.height;
    x_[kPictureI] = 3.0 * pixels;
    x_[kPictureP] = 1.2 * pixels;
    x_[kPictureB] = 0.8 * pixels;
    minRate_ = mode_ == 0 ? std::min(c.minBitrate, rate_) : 0;
    window_.assign(size_t(std::max(1L, std::lround(fps_))), 0.0);
    windowNext_ = windowFill_ = 0;
    windowSum_ = 0;
    qI_ = c.qI;
    qP_ = c.qP;
    qB_ = c.qB;
}

namespace {
// Quantiser of each picture type relative to the others in a planned pass.
double planFactor(int type) {
    return type == kPictureB ? 1.4 : 1.0;
}
}  // namespace

void RateControl::setPlan(const std::vector<PassPicture>& plan) {
    plan_.clear();
    planWeight_.clear();
    planNext_ = 0;
    planSpent_ = 0;
    if (mode_ != 0 || plan.empty()) return;
    plan_ = plan;
    planWeight_.assign(plan_.size() + 1, 0.0);
    for (size_t i = plan_.size(); i-- > 0;)
        planWeight_[i] = planWeight_[i + 1] + std::max(plan_[i].complexity, 1.0) / planFactor(plan_[i].type);
    planBudget_ = rate_ * double(plan_.size()) / fps_;
}

void RateControl::setTarget(double bitrate, double minBitrate) {
    if (mode_ >= 2 || !(bitrate >= 16000)) return;
    if (mode_ == 1) return;  // the stream's rate is fixed in its headers
    rate_ = std::min(bitrate, maxRate_);
    perFrame_ = rate_ / fps_;
    if (minBitrate > 0) minRate_ = std::min(minBitrate, rate_);
    minRate_ = std::min(minRate_, rate_);
}

void RateControl::startGop(int pictures, int refDistance) {
    gopN_ = std::max(1, pictures);
    // Unused bits of a static stretch are not carried beyond half a GOP.
    rgop_ = std::min(rgop_, 0.5 * gopN_ * perFrame_) + gopN_ * perFrame_;
    n_[kPictureI] = 1;
    n_[kPictureP] = n_[kPictureB] = 0;
    for (int i = 1; i < gopN_; i++) {
        if (i % refDistance == 0 || i == gopN_ - 1)
            n_[kPictureP]++;
        else
            n_[kPictureB]++;
    }
}

void RateControl::endGopEarly() {
    rgop_ -= double(n_[kPictureP] + n_[kPictureB]) * perFrame_;
    n_[kPictureP] = n_[kPictureB] = 0;
}

double RateControl::startPicture(PictureType type) {
    if (mode_ >= 2) {
        q0_ = type == kPictureI ? qI_ : type == kPictureP ? qP_ : qB_;
        target_ = perFrame_;
        return q0_;
    }
    planCurrent_ = false;
    if (planned() && plan_[planNext_].type != type) planNext_ = plan_.size();  // another pattern: no plan
    if (planned()) {
        // One quantiser for what is left of the clip, solved again at every
        // picture from what is left of the budget: bits ~ complexity / q.
        const size_t left = plan_.size() - planNext_;
        const double floor = 0.05 * perFrame_ * double(left);
        const double remaining = std::max(planBudget_ - planSpent_, floor);
        const double q = planWeight_[planNext_] / remaining * planFactor(type);
        double t = std::max(plan_[planNext_].complexity, 1.0) / q;
        double qq = q;
        // The VBV buffer still has the last word.
        const double room = 0.85 * vbv_;
        if (t > room) {
            t = room;
            qq = std::max(qq, plan_[planNext_].complexity / std::max(t, 1.0));
        }
        planCurrent_ = true;
        target_ = std::max(t, 1.0);
        q0_ = std::min(31.0, std::max(1.0, qq));
        return q0_;
    }
    const double kp = 1.0, kb = 1.4;
    const double xi = std::max(x_[kPictureI], 1.0), xp = std::max(x_[kPictureP], 1.0),
                 xb = std::max(x_[kPictureB], 1.0);
    const double np = n_[kPictureP], nb = n_[kPictureB], ni = n_[kPictureI];
    double rg = std::max(rgop_, perFrame_ * 0.25);
    double t;
    if (type == kPictureI)
        t = rg / (1.0 + np * xp / (xi * kp) + nb * xb / (xi * kb));
    else if (type == kPictureP)
        t = rg / (np + nb * kp * xb / (kb * xp) + ni * kp * xi / xp);
    else
        t = rg / (nb + np * kb * xp / (kp * xb) + ni * kb * xi / xb);
    t = std::max(t, perFrame_ / 8);
    double x = x_[type];
    double q = x / t;
    // Even quality: the quantiser moves slowly from picture to picture.
    double last = lastQ_[type];
    double step = type == kPictureI ? 1.3 : 1.12;
    if (last > 0) q = std::min(last * step, std::max(last / step, q));
    // Every picture of the GOP predicts from the I picture: on still content
    // its quality is what the P pictures keep.
    constexpr double kIntraShare = 0.6;
    if (type == kPictureI && lastQ_[kPictureP] > 0) q = std::min(q, kIntraShare * lastQ_[kPictureP]);
    if (type == kPictureB && lastQ_[kPictureP] > 0) q = std::max(q, lastQ_[kPictureP]);
    // The VBV buffer overrides smoothness.
    double room = 0.85 * vbv_;
    if (t > room) {
        t = room;
        q = std::max(q, x / std::max(t, 1.0));
    }
    if (mode_ == 1) t = std::max(t, std::min(vbv_ + perFrame_ - vbvSize_, room));
    target_ = std::max(t, 1.0);
    q0_ = std::min(31.0, std::max(1.0, q));
    return q0_;
}

double RateControl::sliceQuant(double base, uint64_t bitsSoFar, double fraction) const {
    if (mode_ >= 2) return base;
    // Deviation from the share of the target that the previous picture of the
    // same type spent up to this row; the gain is kept low so that the
    // quantiser stays even across the picture.
    double expected = target_ * fraction;
    double r = 8.0 * perFrame_;
    double q = base + (double(bitsSoFar) - expected) * 31.0 / r;
    return std::min(31.0, std::max(1.0, q));
}

uint64_t RateControl::endPicture(PictureType type, uint64_t bits, double avgQuant) {
    const bool inPlan = planCurrent_;
    if (planCurrent_) {
        planSpent_ += double(bits);
        ++planNext_;
        planCurrent_ = false;
    }
    if (mode_ < 2) {
        double x = double(bits) * avgQuant;
        double keep = type == kPictureI ? 0.3 : 0.4;
        x_[type] = lastQ_[type] > 0 ? (1 - keep) * x + keep * x_[type] : x;
        lastQ_[type] = avgQuant;
    }
    rgop_ -= double(bits);
    n_[type] = std::max(0, n_[type] - 1);
    vbv_ -= double(bits);
    if (vbv_ < 0) vbv_ = 0;
    uint64_t stuffing = 0;
    if (mode_ == 1) {
        vbv_ += perFrame_;
        if (vbv_ > vbvSize_) {
            stuffing = uint64_t(std::ceil((vbv_ - vbvSize_) / 8.0)) * 8;
            vbv_ -= double(stuffing);
            rgop_ -= double(stuffing);
        }
    } else {
        if (minRate_ > 0) {
            // The minimum holds over every second of pictures: when the
            // last second (or what there is of it) falls short, this picture
            // is padded with zero bytes, as far as the VBV buffer allows.
            const size_t n = window_.size();
            if (windowFill_ == n) windowSum_ -= window_[windowNext_];
            const double inWindow = double(std::min(windowFill_ + 1, n));
            const double shortfall = minRate_ * inWindow / fps_ - (windowSum_ + double(bits));
            if (shortfall > 0) {
                const double room = std::max(0.0, vbv_);  // the picture has already left the buffer
                stuffing = uint64_t(std::min(std::ceil(shortfall / 8.0) * 8, std::floor(room / 8.0) * 8));
                vbv_ -= double(stuffing);
                // Padding is spent like any bits: the pictures after it get
                // less, so the stream keeps its average.
                rgop_ -= double(stuffing);
                if (inPlan) planSpent_ += double(stuffing);
            }
            window_[windowNext_] = double(bits + stuffing);
            windowSum_ += window_[windowNext_];
            windowNext_ = (windowNext_ + 1) % n;
            windowFill_ = std::min(windowFill_ + 1, n);
        }
        vbv_ = std::min(vbvSize_, vbv_ + maxRate_ / fps_);
    }
    return stuffing;
}

uint16_t RateControl::vbvDelay() const {
    if (mode_ != 1) return 0xFFFF;
    double d = vbv_ * 90000.0 / rate_;
    return uint16_t(std::min(65534.0, std::max(0.0, d)));
}

// ---------------------------------------------------------------- pixel helpers

namespace {

inline int sad16(const uint8_t* a, int as, const uint8_t* b, int bs) {
#if defined(__SSE2__)
    if (simdEnabled()) {
        __m128i acc = _mm_setzero_si128();
        for (int i = 0; i < 16; i++) {
            __m128i x = _mm_loadu_si128(reinterpret_cast<const __m128i*>(a + i * as));
            __m128i y = _mm_loadu_si128(reinterpret_cast<const __m128i*>(b + i * bs));
            acc = _mm_add_epi64(acc, _mm_sad_epu8(x, y));
        }
        return _mm_cvtsi128_si32(acc) + _mm_cvtsi128_si32(_mm_srli_si128(acc, 8));
    }
#endif
    int s = 0;
    for (int i = 0; i < 16; i++)
        for (int j = 0; j < 16; j++) s += std::abs(a[i * as + j] - b[i * bs + j]);
    return s;
}

// Half-pel prediction of a w x h block from the reference at half-pel
// position (hx, hy), rounded as the standard prescribes.
void predict(const Plane& ref, int hx, int hy, int w, int h, uint8_t* out) {
    int ix = hx >> 1, iy = hy >> 1, fx = hx & 1, fy = hy & 1;
    // Callers keep vectors inside the picture; clamp anyway so that no input
    // can make us read outside the plane.
    ix = std::max(0, std::min(ix, ref.width - w - fx));
    iy = std::max(0, std::min(iy, ref.height - h - fy));
    const int st = ref.width;
    const uint8_t* s = ref.row(iy) + ix;
    if (!fx && !fy) {
        // Fixed-size row copies: a library call per row costs more than the row.
        if (w == 16) {
            for (int r = 0; r < h; r++) std::memcpy(out + r * 16, s + r * st, 16);
        } else if (w == 8) {
            for (int r = 0; r < h; r++) std::memcpy(out + r * 8, s + r * st, 8);
        } else {
            for (int r = 0; r < h; r++) std::memcpy(out + r * w, s + r * st, size_t(w));
        }
        return;
    }
#if defined(__SSE2__)
    if (simdEnabled()) {
        if (fx && fy && (w == 16 || w == 8)) {
            const __m128i z = _mm_setzero_si128(), two = _mm_set1_epi16(2);
            for (int r = 0; r < h; r++) {
                const uint8_t* a = s + r * st;
                for (int x = 0; x < w; x += 8) {
                    __m128i p0 = _mm_unpacklo_epi8(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(a + x)), z);
                    __m128i p1 = _mm_unpacklo_epi8(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(a + x + 1)), z);
                    __m128i p2 = _mm_unpacklo_epi8(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(a + st + x)), z);
                    __m128i p3 =
                        _mm_unpacklo_epi8(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(a + st + x + 1)), z);
                    __m128i sum = _mm_add_epi16(_mm_add_epi16(p0, p1), _mm_add_epi16(p2, p3));
                    sum = _mm_srli_epi16(_mm_add_epi16(sum, two), 2);
                    _mm_storel_epi64(reinterpret_cast<__m128i*>(out + r * w + x), _mm_packus_epi16(sum, sum));
                }
            }
            return;
        }
        if (w == 8 && !(fx && fy)) {
            int d = fx ? 1 : st;
            for (int r = 0; r < h; r++) {
                __m128i a = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(s + r * st));
                __m128i b = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(s + r * st + d));
                _mm_storel_epi64(reinterpret_cast<__m128i*>(out + r * w), _mm_avg_epu8(a, b));
            }
            return;
        }
        if (w == 16 && !(fx && fy)) {
            int d = fx ? 1 : st;
            for (int r = 0; r < h; r++) {
                __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(s + r * st));
                __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(s + r * st + d));
                _mm_storeu_si128(reinterpret_cast<__m128i*>(out + r * w), _mm_avg_epu8(a, b));
            }
            return;
        }
    }
#endif
    if (fx && fy) {
        for (int r = 0; r < h; r++) {
            const uint8_t* a = s + r * st;
            const uint8_t* b = a + st;
            for (int x = 0; x < w; x++) out[r * w + x] = uint8_t((a[x] + a[x + 1] + b[x] + b[x + 1] + 2) >> 2);
        }
    } else {
        int d = fx ? 1 : st;
        for (int r = 0; r < h; r++) {
            const uint8_t* a = s + r * st;
            for (int x = 0; x < w; x++) out[r * w + x] = uint8_t((a[x] + a[x + d] + 1) >> 1);
        }
    }
}

inline int activity16(const uint8_t* p, int st) {
#if defined(__SSE2__)
    if (simdEnabled()) {
        const __m128i z = _mm_setzero_si128();
        __m128i acc = z;
        for (int r = 0; r < 16; r++)
            acc = _mm_add_epi64(acc, _mm_sad_epu8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p + r * st)), z));
        const int mean = (_mm_cvtsi128_si32(acc) + _mm_cvtsi128_si32(_mm_srli_si128(acc, 8)) + 128) >> 8;
        const __m128i m = _mm_set1_epi8(char(mean));
        acc = z;
        for (int r = 0; r < 16; r++)
            acc = _mm_add_epi64(acc, _mm_sad_epu8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p + r * st)), m));
        return _mm_cvtsi128_si32(acc) + _mm_cvtsi128_si32(_mm_srli_si128(acc, 8));
    }
#endif
    int sum = 0;
    for (int r = 0; r < 16; r++)
        for (int x = 0; x < 16; x++) sum += p[r * st + x];
    int mean = (sum + 128) >> 8;
    int act = 0;
    for (int r = 0; r < 16; r++)
        for (int x = 0; x < 16; x++) act += std::abs(p[r * st + x] - mean);
    return act;
}

// 8x8 block helpers: residual (or plain samples when pred is null), sum of
// magnitudes, and reconstruction with saturation.
inline void blockIn(const uint8_t* s, int ss, const uint8_t* p, int ps, int16_t* out) {
#if defined(__SSE2__)
    if (simdEnabled()) {
        const __m128i z = _mm_setzero_si128();
        for (int r = 0; r < 8; r++) {
            __m128i a = _mm_unpacklo_epi8(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(s + r * ss)), z);
            if (p)
                a = _mm_sub_epi16(a,
                                  _mm_unpacklo_epi8(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(p + r * ps)), z));
            _mm_storeu_si128(reinterpret_cast<__m128i*>(out + r * 8), a);
        }
        return;
    }
#endif
    for (int r = 0; r < 8; r++)
        for (int x = 0; x < 8; x++) out[r * 8 + x] = int16_t(s[r * ss + x] - (p ? p[r * ps + x] : 0));
}

inline int sumAbs64(const int16_t* v) {
#if defined(__SSE2__)
    if (simdEnabled()) {
        __m128i acc = _mm_setzero_si128();
        for (int i = 0; i < 64; i += 8) {
            __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(v + i));
            __m128i m = _mm_srai_epi16(a, 15);
            a = _mm_sub_epi16(_mm_xor_si128(a, m), m);
            acc = _mm_add_epi32(acc, _mm_madd_epi16(a, _mm_set1_epi16(1)));
        }
        acc = _mm_add_epi32(acc, _mm_srli_si128(acc, 8));
        acc = _mm_add_epi32(acc, _mm_srli_si128(acc, 4));
        return _mm_cvtsi128_si32(acc);
    }
#endif
    int sum = 0;
    for (int i = 0; i < 64; i++) sum += std::abs(v[i]);
    return sum;
}

inline void blockOut(const uint8_t* p, int ps, const int16_t* res, uint8_t* d, int ds) {
#if defined(__SSE2__)
    if (simdEnabled()) {
        const __m128i z = _mm_setzero_si128();
        for (int r = 0; r < 8; r++) {
            __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(res + r * 8));
            if (p)
                a = _mm_add_epi16(a,
                                  _mm_unpacklo_epi8(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(p + r * ps)), z));
            _mm_storel_epi64(reinterpret_cast<__m128i*>(d + r * ds), _mm_packus_epi16(a, a));
        }
        return;
    }
#endif
    for (int r = 0; r < 8; r++)
        for (int x = 0; x < 8; x++) {
            int v = res[r * 8 + x] + (p ? p[r * ps + x] : 0);
            d[r * ds + x] = uint8_t(v < 0 ? 0 : (v > 255 ? 255 : v));
        }
}

// True when all 64 values equal the first (a flat area, or an exact
// prediction of one).
inline bool flatBlock(const int16_t* v) {
#if defined(__SSE2__)
    if (simdEnabled()) {
        const __m128i first = _mm_set1_epi16(v[0]);
        __m128i same = _mm_cmpeq_epi16(_mm_loadu_si128(reinterpret_cast<const __m128i*>(v)), first);
        for (int i = 8; i < 64; i += 8)
            same =
                _mm_and_si128(same, _mm_cmpeq_epi16(_mm_loadu_si128(reinterpret_cast<const __m128i*>(v + i)), first));
        return _mm_movemask_epi8(same) == 0xFFFF;
    }
#endif
    for (int i = 1; i < 64; i++)
        if (v[i] != v[0]) return false;
    return true;
}

// Bit p set when coefficient p (natural order) is not zero.
inline uint64_t nonzeroMask(const int16_t* v) {
#if defined(__SSE2__)
    if (simdEnabled()) {
        uint64_t m = 0;
        const __m128i z = _mm_setzero_si128();
        for (int i = 0; i < 64; i += 16) {
            __m128i a = _mm_cmpeq_epi16(_mm_loadu_si128(reinterpret_cast<const __m128i*>(v + i)), z);
            __m128i b = _mm_cmpeq_epi16(_mm_loadu_si128(reinterpret_cast<const __m128i*>(v + i + 8)), z);
            m |= uint64_t(uint32_t(~_mm_movemask_epi8(_mm_packs_epi16(a, b))) & 0xFFFFu) << i;
        }
        return m;
    }
#endif
    uint64_t m = 0;
    for (int i = 0; i < 64; i++)
        if (v[i]) m |= uint64_t(1) << i;
    return m;
}

// Motion search tries a coarse pattern around the best candidate when its
// SAD (16x16) is above this: 2 per pel, where a candidate that only nearly
// fits still leaves a residual worth coding.
constexpr int kCoarseSearchSad = 256 * 2;

// Rounding of quantisation (level = |f| / step + bias): intra levels round
// up from 5/8; non-intra ones keep a dead zone a little wider than the step,
// where a lone small level costs more bits than the error it removes.
constexpr float kIntraBias = 0.375f, kInterBias = -0.1f;
// In a block of 1s, a level at frequency u + v weighs 3 (up to 1), 2 (up to
// 3) or 1 (beyond).
constexpr int kLoneLevelScore = 2;

// |coefficient| <= sum of |residual| / 4: below this every one quantises to zero.
inline bool sumQuantisesToZero(int sum, int qscale) {
    return float(sum) * (1 - kInterBias) < float(4 * qscale);
}

// True when the block codes nothing at qscale: every level quantise() finds
// is zero, or (dropLone) only lone small levels that are dropped.
inline bool quantisesToNothing(const ResidualSize& r, int qscale, bool dropLone) {
    if (sumQuantisesToZero(r.sum, qscale)) return true;
    if (!r.transformed) return false;
    // Larger magnitudes have larger levels (the rounding is monotonic).
    const float inv = 1.0f / float(qscale);
    auto level = [&](float m) { return int(m * inv + kInterBias); };
    if (level(r.low) != 0) return false;
    const int top = std::max(level(r.mid[0]), level(r.high[0]));
    if (!dropLone || top == 0) return top == 0;
    if (top > 1) return false;
    const int score = 2 * ((level(r.mid[0]) > 0) + (level(r.mid[1]) > 0)) + (level(r.high[0]) > 0) +
                      (level(r.high[1]) > 0) + (level(r.high[2]) > 0);
    return score <= kLoneLevelScore;
}

// Keeps a, b, c the three largest of themselves and m.
inline void keepTopThree(float m, float& a, float& b, float& c) {
    if (m <= c) return;
    if (m > a) {
        c = b;
        b = a;
        a = m;
    } else if (m > b) {
        c = b;
        b = m;
    } else {
        c = m;
    }
}

// Natural positions of frequency u + v from 2 to 3, where a lone level weighs 2.
constexpr int kMidPositions[7] = {2, 9, 16, 3, 10, 17, 24};

// The magnitudes of a block's coefficients that quantisesToNothing() needs.
void measureResidual(const float* f, bool flat, ResidualSize& r) {
    r.transformed = true;
    r.low = std::fabs(f[0]);
    r.mid[0] = r.mid[1] = r.high[0] = r.high[1] = r.high[2] = 0;
    if (flat) return;
    r.low = std::max(r.low, std::max(std::fabs(f[1]), std::fabs(f[8])));
    float unused = 0;
    for (int p : kMidPositions) keepTopThree(std::fabs(f[p]), r.mid[0], r.mid[1], unused);
#if defined(__SSE2__)
    if (simdEnabled()) {
        // The three largest in each lane, then of those twelve.
        static const struct HighMask {
            alignas(16) uint32_t bits[64];
            HighMask() {
                for (int p = 0; p < 64; p++) bits[p] = (p & 7) + (p >> 3) > 3 ? 0xFFFFFFFFu : 0;
            }
        } mask;
        const __m128 sign = _mm_set1_ps(-0.0f);
        __m128 a = _mm_setzero_ps(), b = a, c = a;
        for (int i = 0; i < 64; i += 4) {
            const __m128 m = _mm_and_ps(_mm_andnot_ps(sign, _mm_load_ps(f + i)),
                                        _mm_load_ps(reinterpret_cast<const float*>(mask.bits + i)));
            const __m128 lowerA = _mm_min_ps(a, m);
            a = _mm_max_ps(a, m);
            const __m128 lowerB = _mm_min_ps(b, lowerA);
            b = _mm_max_ps(b, lowerA);
            c = _mm_max_ps(c, lowerB);
        }
        alignas(16) float lanes[12];
        _mm_store_ps(lanes, a);
        _mm_store_ps(lanes + 4, b);
        _mm_store_ps(lanes + 8, c);
        for (float m : lanes) keepTopThree(m, r.high[0], r.high[1], r.high[2]);
        return;
    }
#endif
    for (int p = 1; p < 64; p++)
        if ((p & 7) + (p >> 3) > 3) keepTopThree(std::fabs(f[p]), r.high[0], r.high[1], r.high[2]);
}

// Scan position of each natural position.
struct ScanIndex {
    uint8_t of[64];
    explicit ScanIndex(const uint8_t* scan) {
        for (int k = 0; k < 64; k++) of[scan[k]] = uint8_t(k);
    }
};
const ScanIndex kZigzagIndex(kZigzag);
const ScanIndex kAlternateIndex(kAlternateScan);

// One level as quantise() below computes it, in both its paths.
inline int16_t quantiseOne(float f, float inv, float bias, int maxLevel) {
    const int l = std::min(maxLevel, int(std::fabs(f) * inv + bias));
    return int16_t(f < 0 ? -l : l);
}

// Natural-order quantisation: level = sign(f) * min(max, trunc(|f| * inv + bias)),
// inv per coefficient (intra) or one value for all.
void quantise(const float* f, const float* invTable, float inv, float bias, int maxLevel, int16_t* out) {
#if defined(__SSE2__)
    if (simdEnabled()) {
        const __m128 signMask = _mm_set1_ps(-0.0f), b = _mm_set1_ps(bias), one = _mm_set1_ps(inv);
        const __m128i lim = _mm_set1_epi16(int16_t(maxLevel)), zero = _mm_setzero_si128();
        for (int i = 0; i < 64; i += 8) {
            __m128 a0 = _mm_load_ps(f + i), a1 = _mm_load_ps(f + i + 4);
            __m128 m0 = invTable ? _mm_loadu_ps(invTable + i) : one,
                   m1 = invTable ? _mm_loadu_ps(invTable + i + 4) : one;
            __m128 q0 = _mm_add_ps(_mm_mul_ps(_mm_andnot_ps(signMask, a0), m0), b);
            __m128 q1 = _mm_add_ps(_mm_mul_ps(_mm_andnot_ps(signMask, a1), m1), b);
            __m128i l = _mm_packs_epi32(_mm_cvttps_epi32(q0), _mm_cvttps_epi32(q1));
            l = _mm_min_epi16(l, lim);
            // negate where f < 0
            __m128i neg = _mm_packs_epi32(_mm_castps_si128(_mm_cmplt_ps(a0, _mm_setzero_ps())),
                                          _mm_castps_si128(_mm_cmplt_ps(a1, _mm_setzero_ps())));
            l = _mm_sub_epi16(_mm_xor_si128(l, neg), neg);
            (void)zero;
            _mm_storeu_si128(reinterpret_cast<__m128i*>(out + i), l);
        }
        return;
    }
#endif
    for (int i = 0; i < 64; i++) out[i] = quantiseOne(f[i], invTable ? invTable[i] : inv, bias, maxLevel);
}

}  // namespace

// ---------------------------------------------------------------- encoder

struct Encoder::Mb {
    bool intra = false;
    int dir = 1;                      // prediction: 1 forward, 2 backward, 3 both
    int mv[2][2] = {{0, 0}, {0, 0}};  // [forward/backward][x/y], half-pel
    int cbp = 0;                      // bit (blocks - 1 - i) set when block i has coefficients
    int16_t levels[8][64];
    int last[8];
    uint64_t coded[8];             // bit k set when the level at scan position k is not zero
    int qcode = 1;                 // quantiser_scale_code its blocks were quantised with
    bool exact = false;            // its reconstruction equals its source
    uint8_t zeroQ = 0, dropQ = 0;  // see zeroQ_ and dropQ_
};

Encoder::Encoder(const Config& c) : c_(c) {
    mbW_ = (c_.width + 15) / 16;
    mbH_ = c_.progressiveSeq ? (c_.height + 15) / 16 : 2 * ((c_.height + 31) / 32);
    codedW_ = mbW_ * 16;
    codedH_ = mbH_ * 16;
    blocks_ = c_.chroma == 2 ? 8 : 6;
    refDistance_ = std::max(1, c_.refDistance);
    int range = std::min(c_.searchRange, c_.level == 10 ? 31 : 63);
    fcode_ = 1;
    while (fcode_ < 7 && (8 << (fcode_ - 1)) - 1 < range) fcode_++;
    // src_ waits for an input that needs it (see source()).
    for (Frame* f : {&ref_, &cur_, &anchorSrc_}) f->allocate(codedW_, codedH_, c_.chroma);
    if (refDistance_ > 1) {
        past_.allocate(codedW_, codedH_, c_.chroma);
        pastSrc_.allocate(codedW_, codedH_, c_.chroma);
        held_.resize(size_t(refDistance_ - 1));
        for (Held& h : held_) h.frame.allocate(codedW_, codedH_, c_.chroma);
    }
    mvCur_.assign(size_t(mbW_) * mbH_ * 2, 0);
    mvPrev_.assign(size_t(mbW_) * mbH_ * 2, 0);
    mvB_.assign(size_t(mbW_) * mbH_ * 4, 0);
    skipQ_.assign(size_t(mbW_) * mbH_, 0);
    zeroQ_.assign(size_t(mbW_) * mbH_, 0);
    dropQ_.assign(size_t(mbW_) * mbH_, 0);
    copiedPrev_.assign(size_t(mbW_) * mbH_, 0);
    copiedCur_.assign(size_t(mbW_) * mbH_, 0);
    rc_.init(c_);
    selectCoefficientCoding(kPictureI);
}

int Encoder::qscaleOf(int code) const {
    return c_.qscaleType ? kNonLinearScale[code] : 2 * code;
}

int Encoder::codeForQuant(double q) const {
    // q in linear units (quantiser_scale / 2)
    if (!c_.qscaleType) return std::max(1, std::min(31, int(q + 0.5)));
    int best = 1;
    double bestErr = 1e9;
    for (int i = 1; i < 32; i++) {
        double e = std::fabs(kNonLinearScale[i] - 2 * q);
        if (e < bestErr) {
            bestErr = e;
            best = i;
        }
    }
    return best;
}

double Encoder::overallPsnr() const {
    if (!psnrFrames_) return 0;
    double mse = mseSum_ / psnrFrames_;
    if (mse <= 1e-10) return 99.0;
    return 10.0 * std::log10(255.0 * 255.0 / mse);
}

void Encoder::accumulatePsnr(const Frame& recon) {
    double sse = 0;
    for (int r = 0; r < c_.height; r++) {
        const uint8_t* a = codeSrc_->p[0].row(r);
        const uint8_t* b = recon.p[0].row(r);
        for (int x = 0; x < c_.width; x++) {
            int d = a[x] - b[x];
            sse += d * d;
        }
    }
    mseSum_ += sse / (double(c_.width) * c_.height);
    psnrFrames_++;
}

void Encoder::writeSequenceHeader(BitWriter& bw) const {
    bool vbr = c_.rcMode != 1;
    double rate = vbr ? c_.maxBitrate : c_.bitrate;
    uint32_t rateValue = uint32_t(std::ceil(rate / 400.0));
    if (c_.mpeg1 && vbr) rateValue = 0x3FFFF;
    if (rateValue == 0) rateValue = 1;
    bool constrained = c_.mpeg1 && c_.constrained && c_.width <= 768 && c_.height <= 576 && mbW_ * mbH_ <= 396 &&
                       mbW_ * mbH_ * c_.fps <= 396 * 25 && c_.fps <= 30 && rate <= 1856000 && c_.vbvSize16k <= 20 &&
                       fcode_ <= 4;
    bw.startCode(0xB3);
    bw.put(uint32_t(c_.width) & 0xFFF, 12);
    bw.put(uint32_t(c_.height) & 0xFFF, 12);
    bw.put(uint32_t(c_.aspect), 4);
    bw.put(uint32_t(c_.pulldown ? c_.frameRateCode + 3 : c_.frameRateCode), 4);
    bw.put(rateValue & 0x3FFFF, 18);
    bw.put(1, 1);
    bw.put(uint32_t(c_.vbvSize16k) & 0x3FF, 10);
    bw.put(constrained ? 1 : 0, 1);
    bw.put(0, 1);  // default intra matrix
    bw.put(0, 1);  // default non-intra matrix
    if (c_.mpeg1) return;
    uint32_t pl;
    if (c_.profile == 7)
        pl = (c_.level == 8 || c_.level == 10) ? 0x85 : 0x82;
    else
        pl = uint32_t(((c_.profile & 7) << 4) | (c_.level & 15));
    bw.startCode(0xB5);
    bw.put(1, 4);
    bw.put(pl, 8);
    bw.put(c_.progressiveSeq ? 1 : 0, 1);
    bw.put(uint32_t(c_.chroma), 2);
    bw.put(uint32_t(c_.width >> 12) & 3, 2);
    bw.put(uint32_t(c_.height >> 12) & 3, 2);
    bw.put((rateValue >> 18) & 0xFFF, 12);
    bw.put(1, 1);
    bw.put(uint32_t(c_.vbvSize16k >> 10) & 0xFF, 8);
    bw.put(refDistance_ == 1 ? 1 : 0, 1);  // low_delay without B pictures
    bw.put(0, 2);
    bw.put(0, 5);
    if (c_.displayExt) {
        bool colour = c_.colourPrimaries >= 1 && c_.colourPrimaries <= 255 && c_.transfer >= 1 && c_.transfer <= 255 &&
                      c_.matrix >= 1 && c_.matrix <= 255;
        bw.startCode(0xB5);
        bw.put(2, 4);
        bw.put(uint32_t(c_.videoFormat), 3);
        bw.put(colour ? 1 : 0, 1);
        if (colour) {
            bw.put(uint32_t(c_.colourPrimaries), 8);
            bw.put(uint32_t(c_.transfer), 8);
            bw.put(uint32_t(c_.matrix), 8);
        }
        bw.put(uint32_t(c_.displayWidth) & 0x3FFF, 14);
        bw.put(1, 1);
        bw.put(uint32_t(c_.displayHeight) & 0x3FFF, 14);
    }
}

void Encoder::writeGopHeader(BitWriter& bw) const {
    static const int nominal[9] = {30, 24, 24, 25, 30, 30, 50, 60, 60};
    int code = c_.pulldown ? c_.frameRateCode + 3 : c_.frameRateCode;
    int fps = nominal[code];
    // With pulldown the time code counts displayed frames: five per four pictures.
    int64_t n = int64_t(c_.timecodeStart) + (c_.pulldown ? int64_t(codingAbs_) * 5 / 4 : int64_t(codingAbs_));
    if (c_.dropFrame) {
        // 29.97 drop-frame: two numbers dropped each minute except every tenth.
        int64_t d = n / 17982, m = n % 17982;
        n += 18 * d + (m >= 2 ? 2 * ((m - 2) / 1798) : 0);
    }
    int pics = int(n % fps);
    int64_t secs = n / fps;
    bw.startCode(0xB8);
    bw.put(c_.dropFrame ? 1 : 0, 1);
    bw.put(uint32_t((secs / 3600) % 24), 5);
    bw.put(uint32_t((secs / 60) % 60), 6);
    bw.put(1, 1);
    bw.put(uint32_t(secs % 60), 6);
    bw.put(uint32_t(pics), 6);
    bw.put(1, 1);  // closed_gop: no picture refers to an earlier GOP
    bw.put(0, 1);
}

void Encoder::writePictureHeaders(BitWriter& bw, PictureType type, uint32_t display, uint16_t vbvDelay) const {
    bw.startCode(0x00);
    bw.put(display & 1023, 10);
    bw.put(uint32_t(type), 3);
    bw.put(vbvDelay, 16);
    for (int dir = 0; dir < (type == kPictureB ? 2 : type == kPictureP ? 1 : 0); dir++) {
        bw.put(0, 1);  // half-pel vectors
        bw.put(c_.mpeg1 ? uint32_t(fcode_) : 7, 3);
    }
    bw.put(0, 1);
    if (c_.mpeg1) return;
    bw.startCode(0xB5);
    bw.put(8, 4);
    uint32_t f0 = type == kPictureI ? 15 : uint32_t(fcode_);
    uint32_t f1 = type == kPictureB ? uint32_t(fcode_) : 15;
    bw.put(f0, 4);
    bw.put(f0, 4);
    bw.put(f1, 4);
    bw.put(f1, 4);
    bw.put(uint32_t(c_.intraDcPrecision), 2);
    bw.put(3, 2);  // frame picture
    bool tff = c_.topFieldFirst, rff = false;
    if (c_.pulldown) {
        // Four film pictures fill ten fields, in display order.
        static const bool kTff[4] = {true, false, false, true}, kRff[4] = {true, false, true, false};
        int phase = int((codingAbs_ + (c_.pulldown == 1 ? 3 : 0)) % 4);
        tff = kTff[phase];
        rff = kRff[phase];
    }
    bw.put(tff ? 1 : 0, 1);
    bw.put(1, 1);  // frame_pred_frame_dct
    bw.put(0, 1);  // concealment vectors
    bw.put(uint32_t(c_.qscaleType), 1);
    bw.put(intraVlc_ ? 1 : 0, 1);
    bw.put(scan_ == kAlternateScan ? 1 : 0, 1);
    bw.put(rff ? 1 : 0, 1);
    bw.put(c_.chroma == 1 && c_.progressiveFrame ? 1 : 0, 1);
    bw.put(c_.progressiveFrame ? 1 : 0, 1);
    bw.put(0, 1);
}

void Encoder::writeEndCode(std::vector<uint8_t>& out) const {
    const uint8_t end[4] = {0, 0, 1, 0xB7};
    out.insert(out.end(), end, end + 4);
}

int Encoder::motionSearch(const Frame& ref, const Frame* refSrc, const std::vector<int16_t>& field, int fieldDir,
                          int mbx, int mby, int qscale, int& bestX, int& bestY) {
    const int x0 = mbx * 16, y0 = mby * 16;
    const Plane& rp = ref.p[0];
    const Plane& sp = codeSrc_->p[0];
    const int st = rp.width;
    const uint8_t* s = sp.row(y0) + x0;
    const int lim = std::min(c_.searchRange, (8 << (fcode_ - 1)) - 1);
    const int minX = std::max(-x0, -lim), maxX = std::min(codedW_ - 16 - x0, lim);
    const int minY = std::max(-y0, -lim), maxY = std::min(codedH_ - 16 - y0, lim);
    auto cost = [&](int dx, int dy) { return sad16(s, st, rp.row(y0 + dy) + x0 + dx, st); };

    int best = cost(0, 0);
    int bx = 0, by = 0;
    bestX = bestY = 0;
    // Content that did not change since the reference was taken keeps its place.
    if (lumaUnchanged(refSrc, mbx, mby)) return best;
    // Unchanged areas (most of a desktop) stop here.
    if (best <= 128 + 16 * qscale || lim == 0) return best;

    auto tryFull = [&](int dx, int dy) {
        if (dx < minX || dx > maxX || dy < minY || dy > maxY) return;
        int c = cost(dx, dy);
        if (c < best) {
            best = c;
            bx = dx;
            by = dy;
        }
    };
    // Candidates from the neighbours and the previous anchor (full-pel).
    const size_t idx = size_t(mby) * mbW_ + mbx;
    const size_t per = field.size() / (size_t(mbW_) * mbH_), off = size_t(fieldDir) * 2;
    auto fromField = [&](size_t m) { tryFull(field[per * m + off] >> 1, field[per * m + off + 1] >> 1); };
    if (mbx > 0) fromField(idx - 1);
    if (mby > 0) {
        size_t up = idx - size_t(mbW_);
        fromField(up);
        if (mbx + 1 < mbW_) fromField(up + 1);
    }
    tryFull(mvPrev_[2 * idx] >> 1, mvPrev_[2 * idx + 1] >> 1);
    // Coarse pattern when the candidates did not find a good match.
    if (best > kCoarseSearchSad) {
        // Steps of powers of two from the largest within the range: each
        // level halves the last, so the pattern reaches every even offset.
        int first = 2;
        while (first * 2 <= lim) first *= 2;
        for (int step = first; step >= 2; step /= 2) {
            int cx = bx, cy = by;
            static const int pat[8][2] = {{-1, 0}, {1, 0}, {0, -1}, {0, 1}, {-1, -1}, {1, -1}, {-1, 1}, {1, 1}};
            for (auto& p : pat) tryFull(cx + p[0] * step, cy + p[1] * step);
        }
    }
    // Small diamond until no improvement.
    for (int it = 0; it < 32; it++) {
        int cx = bx, cy = by;
        tryFull(cx - 1, cy);
        tryFull(cx + 1, cy);
        tryFull(cx, cy - 1);
        tryFull(cx, cy + 1);
        if (bx == cx && by == cy) break;
    }
    int hx = 2 * bx, hy = 2 * by;
    if (c_.halfpel) {
        alignas(16) uint8_t tmp[256];
        int cx = hx, cy = hy;
        const int hmin = -(16 << (fcode_ - 1)), hmax = (16 << (fcode_ - 1)) - 1;
        for (int dy = -1; dy <= 1; dy++)
            for (int dx = -1; dx <= 1; dx++) {
                if (!dx && !dy) continue;
                int mx = cx + dx, my = cy + dy;
                int px = 2 * x0 + mx, py = 2 * y0 + my;
                if (mx < hmin || mx > hmax || my < hmin || my > hmax) continue;
                if (px < 0 || py < 0 || px > 2 * (codedW_ - 16) || py > 2 * (codedH_ - 16)) continue;
                predict(rp, px, py, 16, 16, tmp);
                int c = sad16(s, st, tmp, 16);
                if (c < best) {
                    best = c;
                    hx = mx;
                    hy = my;
                }
            }
    }
    bestX = hx;
    bestY = hy;
    return best;
}

void Encoder::dequantise(const int16_t* nat, uint64_t nz, int dcLevel, int qscale, int qcode, int32_t* coef) const {
    const bool intra = dcLevel >= 0;
    int64_t sum = 0;
    if (intra) {
        coef[0] = dcLevel * (8 >> c_.intraDcPrecision);
        sum = coef[0];
    }
    for (; nz; nz &= nz - 1) {
        const int p = __builtin_ctzll(nz);
        const int l = nat[p];
        const int w = intra ? kDefaultIntraMatrix[p] : 16;
        int v;
        if (c_.mpeg1) {
            v = intra ? (2 * l * qcode * w) / 16 : ((2 * l + (l > 0 ? 1 : -1)) * qcode * w) / 16;
            if ((v & 1) == 0) v -= v > 0 ? 1 : -1;
            v = std::max(-2048, std::min(2047, v));
        } else {
            v = intra ? (l * w * qscale * 2) / 32 : ((2 * l + (l > 0 ? 1 : -1)) * w * qscale) / 32;
            v = std::max(-2048, std::min(2047, v));
            sum += v;
        }
        coef[p] = v;
    }
    if (!c_.mpeg1 && (sum & 1) == 0) coef[63] += (coef[63] & 1) ? -1 : 1;
}

double Encoder::activity(int mbx, int mby) const {
    const Plane& p = codeSrc_->p[0];
    const int st = p.width;
    int64_t sum[4] = {0, 0, 0, 0}, sq[4] = {0, 0, 0, 0};
    for (int half = 0; half < 2; half++) {
        const uint8_t* row0 = p.row(mby * 16 + half * 8) + mbx * 16;
#if defined(__SSE2__)
        if (simdEnabled()) {
            const __m128i z = _mm_setzero_si128();
            __m128i s = z, ql = z, qh = z;
            for (int r = 0; r < 8; r++) {
                const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(row0 + r * st));
                s = _mm_add_epi64(s, _mm_sad_epu8(v, z));
                const __m128i lo = _mm_unpacklo_epi8(v, z), hi = _mm_unpackhi_epi8(v, z);
                ql = _mm_add_epi32(ql, _mm_madd_epi16(lo, lo));
                qh = _mm_add_epi32(qh, _mm_madd_epi16(hi, hi));
            }
            ql = _mm_add_epi32(ql, _mm_srli_si128(ql, 8));
            ql = _mm_add_epi32(ql, _mm_srli_si128(ql, 4));
            qh = _mm_add_epi32(qh, _mm_srli_si128(qh, 8));
            qh = _mm_add_epi32(qh, _mm_srli_si128(qh, 4));
            sum[half * 2] = _mm_cvtsi128_si32(s);
            sum[half * 2 + 1] = _mm_cvtsi128_si32(_mm_srli_si128(s, 8));
            sq[half * 2] = _mm_cvtsi128_si32(ql);
            sq[half * 2 + 1] = _mm_cvtsi128_si32(qh);
            continue;
        }
#endif
        for (int r = 0; r < 8; r++)
            for (int x = 0; x < 16; x++) {
                const int v = row0[r * st + x];
                sum[half * 2 + x / 8] += v;
                sq[half * 2 + x / 8] += v * v;
            }
    }
    // 4096 x the variance of each 8x8 block, in integers.
    int64_t least = INT64_MAX;
    for (int b = 0; b < 4; b++) least = std::min(least, 64 * sq[b] - sum[b] * sum[b]);
    return 1.0 + double(least) / 4096.0;
}

bool Encoder::sceneCut() {
    const Plane& p = input_->p[0];
    const int st = p.width;
    mbSums_.resize(size_t(mbW_) * mbH_);
    for (int mby = 0; mby < mbH_; mby++)
        for (int mbx = 0; mbx < mbW_; mbx++) {
            const uint8_t* m = p.row(mby * 16) + mbx * 16;
            uint32_t sum = 0;
#if defined(__SSE2__)
            if (simdEnabled()) {
                const __m128i z = _mm_setzero_si128();
                __m128i acc = z;
                for (int r = 0; r < 16; r++)
                    acc = _mm_add_epi64(acc,
                                        _mm_sad_epu8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(m + r * st)), z));
                sum = uint32_t(_mm_cvtsi128_si32(acc) + _mm_cvtsi128_si32(_mm_srli_si128(acc, 8)));
            } else
#endif
            {
                for (int r = 0; r < 16; r++)
                    for (int x = 0; x < 16; x++) sum += m[r * st + x];
            }
            mbSums_[size_t(mby) * mbW_ + mbx] = sum;
        }
    bool cut = false;
    if (havePrevSums_) {
        // A macroblock has changed when no macroblock around its place in
        // the previous picture (motion up to about 16 pels) has a mean
        // within kMeanStep of its own; a cut changes most of them.
        constexpr uint32_t kMeanStep = 12 * 256;
        size_t changed = 0;
        for (int mby = 0; mby < mbH_; mby++)
            for (int mbx = 0; mbx < mbW_; mbx++) {
                const uint32_t cur = mbSums_[size_t(mby) * mbW_ + mbx];
                bool near = false;
                for (int dy = -1; dy <= 1 && !near; dy++)
                    for (int dx = -1; dx <= 1 && !near; dx++) {
                        const int x = mbx + dx, y = mby + dy;
                        if (x < 0 || y < 0 || x >= mbW_ || y >= mbH_) continue;
                        const uint32_t old = prevMbSums_[size_t(y) * mbW_ + x];
                        near = (cur > old ? cur - old : old - cur) < kMeanStep;
                    }
                if (!near) changed++;
            }
        cut = changed * 2 > mbSums_.size();
    }
    mbSums_.swap(prevMbSums_);
    havePrevSums_ = true;
    return cut;
}

bool Encoder::lumaUnchanged(const Frame* other, int mbx, int mby) const {
    if (!other) return false;
    if (other == codeSrc_)  // the input was written over the anchor's source
        return inputChanges_.valid &&
               !(inputChanges_.changed[size_t(mby) * size_t(mbW_) + size_t(mbx)] & ChangeMap::kLuma);
    const int st = codeSrc_->p[0].width;
    return sad16(codeSrc_->p[0].row(mby * 16) + mbx * 16, st, other->p[0].row(mby * 16) + mbx * 16, st) == 0;
}

bool Encoder::unchangedMb(int mbx, int mby) const {
    if (codeSrc_ == input_ && inputChanges_.valid)
        return !inputChanges_.changed[size_t(mby) * size_t(mbW_) + size_t(mbx)];
    if (codeSrc_ == &anchorSrc_) return false;  // nothing left to compare with
    const int x0 = mbx * 16, y0 = mby * 16;
    const int cx0 = mbx * 8, cy0 = c_.chroma == 2 ? mby * 16 : mby * 8, ch = c_.chroma == 2 ? 16 : 8;
    const Plane* a = codeSrc_->p;
    const Plane* b = anchorSrc_.p;
    // All rows at once: most macroblocks that reach here are unchanged, so an
    // early exit saves little.
#if defined(__SSE2__)
    if (simdEnabled()) {
        __m128i diff = _mm_setzero_si128();
        for (int r = 0; r < 16; r++)
            diff = _mm_or_si128(
                diff, _mm_xor_si128(_mm_loadu_si128(reinterpret_cast<const __m128i*>(a[0].row(y0 + r) + x0)),
                                    _mm_loadu_si128(reinterpret_cast<const __m128i*>(b[0].row(y0 + r) + x0))));
        for (int c = 1; c < 3; c++)
            for (int r = 0; r < ch; r++)
                diff = _mm_or_si128(
                    diff, _mm_xor_si128(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(a[c].row(cy0 + r) + cx0)),
                                        _mm_loadl_epi64(reinterpret_cast<const __m128i*>(b[c].row(cy0 + r) + cx0))));
        return _mm_movemask_epi8(_mm_cmpeq_epi8(diff, _mm_setzero_si128())) == 0xFFFF;
    }
#endif
    uint64_t diff = 0;
    for (int r = 0; r < 16; r++) {
        uint64_t u[2], v[2];
        std::memcpy(u, a[0].row(y0 + r) + x0, 16);
        std::memcpy(v, b[0].row(y0 + r) + x0, 16);
        diff |= (u[0] ^ v[0]) | (u[1] ^ v[1]);
    }
    for (int c = 1; c < 3; c++)
        for (int r = 0; r < ch; r++) {
            uint64_t u, v;
            std::memcpy(&u, a[c].row(cy0 + r) + cx0, 8);
            std::memcpy(&v, b[c].row(cy0 + r) + cx0, 8);
            diff |= u ^ v;
        }
    return diff == 0;
}

void Encoder::analyseMb(int mbx, int mby, PictureType type, int qscale, Mb& mb) {
    const int x0 = mbx * 16, y0 = mby * 16;
    const int cx0 = mbx * 8, cy0 = c_.chroma == 2 ? mby * 16 : mby * 8;
    const int ch = c_.chroma == 2 ? 16 : 8;
    const float invInter = 1.0f / float(qscale);
    alignas(16) uint8_t predY[256], predC[2][128];
    const Frame& src = *codeSrc_;

    auto buildPred = [&](const Frame& ref, int mvx, int mvy, uint8_t* py, uint8_t(*pc)[128]) {
        predict(ref.p[0], 2 * x0 + mvx, 2 * y0 + mvy, 16, 16, py);
        int cmx = mvx / 2, cmy = c_.chroma == 2 ? mvy : mvy / 2;
        predict(ref.p[1], 2 * cx0 + cmx, 2 * cy0 + cmy, 8, ch, pc[0]);
        predict(ref.p[2], 2 * cx0 + cmx, 2 * cy0 + cmy, 8, ch, pc[1]);
    };
    mb.intra = type == kPictureI;
    mb.dir = 1;
    mb.mv[0][0] = mb.mv[0][1] = mb.mv[1][0] = mb.mv[1][1] = 0;
    const size_t idx = size_t(mby) * mbW_ + mbx;
    int sad = 0;
    copiedCur_[idx] = 0;
    mb.zeroQ = mb.dropQ = 0;
    const uint8_t emptyQ = dropLoneLevels_ ? dropQ_[idx] : zeroQ_[idx];
    const bool unchanged = type == kPictureP && haveAnchorSrc_ && (skipQ_[idx] || emptyQ) && unchangedMb(mbx, mby);
    // The source is the one the reference was coded from, and the reference
    // holds there what the last anchor predicted without motion: either
    // that was coded at a quantiser as fine or finer, so what is left of the
    // residual quantises to nothing, or the very same residual was measured
    // and quantises to nothing from zeroQ_ on. The macroblock is then
    // skipped before any search.
    const bool keep = unchanged && skipQ_[idx] && qscale >= skipQ_[idx];
    if (keep || (unchanged && emptyQ && qscale >= emptyQ)) {
        // The copy into the new reconstruction is not needed when the last
        // picture copied it too: that buffer holds the same pixels.
        if (!(reuseCur_ && copiedPrev_[idx])) {
            for (int r = 0; r < 16; r++) std::memcpy(cur_.p[0].row(y0 + r) + x0, ref_.p[0].row(y0 + r) + x0, 16);
            for (int c = 1; c < 3; c++)
                for (int r = 0; r < ch; r++) std::memcpy(cur_.p[c].row(cy0 + r) + cx0, ref_.p[c].row(cy0 + r) + cx0, 8);
        }
        copiedCur_[idx] = 1;
        mvCur_[2 * idx] = mvCur_[2 * idx + 1] = 0;
        mb.cbp = 0;
        mb.exact = keep && skipQ_[idx] == kExactSkipQ;
        mb.zeroQ = zeroQ_[idx];  // the residual stays what it was
        mb.dropQ = dropQ_[idx];
        for (int b = 0; b < blocks_; b++) mb.last[b] = -1;
        return;
    }
    if (type == kPictureP) {
        sad = motionSearch(ref_, haveAnchorSrc_ ? &anchorSrc_ : nullptr, mvCur_, 0, mbx, mby, qscale, mb.mv[0][0],
                           mb.mv[0][1]);
    } else if (type == kPictureB) {
        int sf = motionSearch(past_, havePastSrc_ ? &pastSrc_ : nullptr, mvB_, 0, mbx, mby, qscale, mb.mv[0][0],
                              mb.mv[0][1]);
        int sb = motionSearch(ref_, haveAnchorSrc_ ? &anchorSrc_ : nullptr, mvB_, 1, mbx, mby, qscale, mb.mv[1][0],
                              mb.mv[1][1]);
        alignas(16) uint8_t fy[256], fc[2][128], by[256], bc[2][128];
        buildPred(past_, mb.mv[0][0], mb.mv[0][1], fy, fc);
        buildPred(ref_, mb.mv[1][0], mb.mv[1][1], by, bc);
        for (int i = 0; i < 256; i++) predY[i] = uint8_t((fy[i] + by[i] + 1) >> 1);
        int si = sad16(src.p[0].row(y0) + x0, src.p[0].width, predY, 16);
        if (si <= sf && si <= sb) {
            mb.dir = 3;
            sad = si;
            for (int c = 0; c < 2; c++)
                for (int i = 0; i < 128; i++) predC[c][i] = uint8_t((fc[c][i] + bc[c][i] + 1) >> 1);
        } else if (sb < sf) {
            mb.dir = 2;
            sad = sb;
            std::memcpy(predY, by, sizeof predY);
            std::memcpy(predC, bc, sizeof predC);
        } else {
            mb.dir = 1;
            sad = sf;
            std::memcpy(predY, fy, sizeof predY);
            std::memcpy(predC, fc, sizeof predC);
        }
    }
    if (type != kPictureI && sad > 256 * 3) {
        int act = activity16(src.p[0].row(y0) + x0, src.p[0].width);
        if (act + 384 < sad) mb.intra = true;
    }
    if (mb.intra) mb.mv[0][0] = mb.mv[0][1] = mb.mv[1][0] = mb.mv[1][1] = 0;
    if (type == kPictureP) {
        if (!mb.intra) buildPred(ref_, mb.mv[0][0], mb.mv[0][1], predY, predC);
        mvCur_[2 * idx] = int16_t(mb.mv[0][0]);
        mvCur_[2 * idx + 1] = int16_t(mb.mv[0][1]);
    } else if (type == kPictureB) {
        for (int k = 0; k < 4; k++) mvB_[4 * idx + size_t(k)] = int16_t(mb.mv[k >> 1][k & 1]);
    }
    if (mb.intra && intraInvQ_ != qscale) {
        for (int p = 0; p < 64; p++) intraInv_[p] = 16.0f / float(kDefaultIntraMatrix[p] * qscale);
        intraInvQ_ = qscale;
    }
    const float* intraInv = intraInv_;

    const int maxLevel = c_.mpeg1 ? 255 : 2047;
    const int dcMult = 8 >> c_.intraDcPrecision;
    const int dcMax = (256 << c_.intraDcPrecision) - 1;
    const int qcode = curQcode_;
    mb.cbp = 0;
    bool exact = true;      // the reconstruction equals the source so far
    ResidualSize sizes[8];  // filled in block by block, while measuring
    const bool measure = type == kPictureP && !mb.intra && !mb.mv[0][0] && !mb.mv[0][1];
    for (int b = 0; b < blocks_; b++) {
        int plane, bx, by;
        const uint8_t* pred;
        int predStride;
        if (b < 4) {
            plane = 0;
            bx = x0 + (b & 1) * 8;
            by = y0 + (b >> 1) * 8;
            pred = predY + (b >> 1) * 8 * 16 + (b & 1) * 8;
            predStride = 16;
        } else {
            plane = (b & 1) ? 2 : 1;
            bx = cx0;
            by = cy0 + (b >= 6 ? 8 : 0);
            pred = predC[plane - 1] + (b >= 6 ? 64 : 0);
            predStride = 8;
        }
        const Plane& sp = src.p[plane];
        Plane& dp = cur_.p[plane];
        alignas(16) int16_t blk[64];
        blockIn(sp.row(by) + bx, sp.width, mb.intra ? nullptr : pred, predStride, blk);
        int16_t* lv = mb.levels[b];
        int last = -1;
        mb.coded[b] = 0;
        if (!mb.intra) {
            // |coefficient| <= sum of |residual| / 4: below this every one quantises to zero.
            const int sum = sumAbs64(blk);
            sizes[b].sum = sum;
            sizes[b].transformed = false;
            if (sumQuantisesToZero(sum, qscale)) {
                mb.last[b] = -1;
                exact = exact && sum == 0;
                for (int r = 0; r < 8; r++) std::memcpy(dp.row(by + r) + bx, pred + r * predStride, 8);
                continue;
            }
        }
        // A flat block has only a DC coefficient: no transform needed.
        const bool flat = flatBlock(blk);
        alignas(16) float f[64];
        alignas(16) int16_t nat[64];
        uint64_t nz;
        if (flat) {
            f[0] = flatBlockDc(blk[0]);
            nat[0] = quantiseOne(f[0], mb.intra ? intraInv[0] : invInter, mb.intra ? kIntraBias : kInterBias, maxLevel);
            nz = nat[0] ? 1 : 0;
        } else {
            forwardDct(blk, f);
            quantise(f, mb.intra ? intraInv : nullptr, invInter, mb.intra ? kIntraBias : kInterBias, maxLevel, nat);
            nz = nonzeroMask(nat);
        }
        // Measured only while the macroblock may still code nothing.
        if (measure && !mb.cbp) measureResidual(f, flat, sizes[b]);
        if (mb.intra) {
            int dc = int(std::floor(f[0] / float(dcMult) + 0.5f));
            lv[0] = int16_t(std::max(0, std::min(dcMax, dc)));
            last = 0;
            nz &= ~uint64_t(1);
        }
        if (nz) {
            // Only the nonzero levels are read later: scatter them into scan
            // order and note where they are.
            uint64_t coded = 0;
            const uint8_t* scanOf = scanOf_;
            for (uint64_t m = nz; m; m &= m - 1) {
                const int p = __builtin_ctzll(m), k = scanOf[p];  // read once: the store may alias it
                lv[k] = nat[p];
                coded |= uint64_t(1) << k;
            }
            mb.coded[b] = coded;
            last = 63 - __builtin_clzll(coded);
            // A non-intra block holding only a lone 1 (or two of them at
            // high frequencies) costs more bits than the error it removes.
            // Judged by frequency, not scan position: the scan must not
            // change the picture. Not where activity masking asked for a
            // finer quantiser: those small levels are what it wants.
            if (!mb.intra && dropLoneLevels_) {
                int score = 0;
                bool ones = true;
                for (uint64_t m = nz; m && ones; m &= m - 1) {
                    const int p = __builtin_ctzll(m), freq = (p & 7) + (p >> 3);
                    ones = std::abs(nat[p]) == 1;
                    score += freq <= 1 ? 3 : freq <= 3 ? 2 : 1;
                }
                if (ones && score <= kLoneLevelScore) {
                    nz = 0;
                    mb.coded[b] = 0;
                    last = -1;
                }
            }
        }
        mb.last[b] = last;
        if (!mb.intra && last < 0) {
            exact = false;  // the residual was not zero
            for (int r = 0; r < 8; r++) std::memcpy(dp.row(by + r) + bx, pred + r * predStride, 8);
            continue;
        }
        if (!mb.intra) mb.cbp |= 1 << (blocks_ - 1 - b);
        int32_t* coef = coefScratch_;
        dequantise(nat, nz, mb.intra ? lv[0] : -1, qscale, qcode, coef);
        const int16_t* res;
        alignas(16) int16_t full[64];
        if ((nz & ~uint64_t(1)) == 0) {
            // The DC and at most the mismatch bit: flat areas, where the same
            // few blocks come again and again.
            const DcOnlyBlock& d = dcOnlyBlock(coef[0], coef[63]);
            res = d.res;
            // An intra flat block that comes back as it was.
            exact = exact && mb.intra && flat && d.uniform == blk[0];
        } else {
            inverseDct(coef, full);
            res = full;
            exact = false;
        }
        // Back to all zeros for the next block: only these were written.
        coef[0] = coef[63] = 0;
        for (uint64_t m = nz; m; m &= m - 1) coef[__builtin_ctzll(m)] = 0;
        blockOut(mb.intra ? nullptr : pred, predStride, res, dp.row(by) + bx, dp.width);
    }
    mb.exact = exact;
    if (measure && !mb.cbp) {
        // Lone levels are kept only where activity masking made the quantiser finer.
        mb.zeroQ = c_.adaptiveQuant ? finestEmptyQuant(sizes, false) : 0;
        mb.dropQ = finestEmptyQuant(sizes, true);
    }
}

uint8_t Encoder::finestEmptyQuant(const ResidualSize* sizes, bool dropLone) const {
    // Levels only shrink as the quantiser grows: a binary search over the
    // quantiser codes finds where the macroblock starts to code nothing.
    auto allZero = [&](int code) {
        for (int b = 0; b < blocks_; b++)
            if (!quantisesToNothing(sizes[b], qscaleOf(code), dropLone)) return false;
        return true;
    };
    if (!allZero(31)) return 0;
    int lo = 1, hi = 31;  // allZero(hi) holds
    while (lo < hi) {
        const int mid = (lo + hi) / 2;
        if (allZero(mid))
            hi = mid;
        else
            lo = mid + 1;
    }
    return uint8_t(qscaleOf(hi));
}

const Encoder::DcOnlyBlock& Encoder::dcOnlyBlock(int32_t dc, int32_t last) {
    DcOnlyBlock& d = dcOnly_[(uint32_t(dc) * 2654435761u) >> (32 - kDcOnlyBits)];
    if (d.dc != dc || d.last != last || !d.valid) {
        alignas(16) int32_t coef[64] = {};
        coef[0] = dc;
        coef[63] = last;
        inverseDct(coef, d.res);
        d.dc = dc;
        d.last = last;
        d.valid = true;
        d.uniform = d.res[0];
        for (int i = 1; i < 64; i++)
            if (d.res[i] != d.res[0]) d.uniform = INT_MIN;
    }
    return d;
}

namespace {

void putMvComponent(BitWriter& bw, int delta, int fcode) {
    const int rsize = fcode - 1, f = 1 << rsize;
    if (delta > 16 * f - 1)
        delta -= 32 * f;
    else if (delta < -16 * f)
        delta += 32 * f;
    if (delta == 0) {
        bw.put(1, 1);
        return;
    }
    int a = std::abs(delta) - 1;
    int code = (a >> rsize) + 1;
    bw.put(kMotionCode[code].code, kMotionCode[code].len);
    bw.put(delta < 0 ? 1 : 0, 1);
    if (rsize) bw.put(uint32_t(a & (f - 1)), rsize);
}

}  // namespace

void Encoder::writeBlock(BitWriter& bw, const int16_t* lv, uint64_t coded, bool intra, int comp) {
    const CoefVlcTable& tab = intra && intraVlc_ ? coefTableOne() : coefTable();
    int k = 0;
    if (intra) {
        int diff = lv[0] - dcPred_[comp];
        dcPred_[comp] = lv[0];
        int a = std::abs(diff), size = 0;
        while (a >> size) size++;
        const Vlc& v = comp == 0 ? kDcSizeLuma[size] : kDcSizeChroma[size];
        bw.put(v.code, v.len);
        if (size) bw.put(uint32_t(diff > 0 ? diff : diff + (1 << size) - 1), size);
        k = 1;
        coded &= ~uint64_t(1);
    }
    bool first = !intra;
    for (; coded; coded &= coded - 1) {
        const int pos = __builtin_ctzll(coded);
        const int run = pos - k;
        k = pos + 1;
        const int l = lv[pos];
        const uint32_t sign = l < 0 ? 1 : 0;
        const int a = std::abs(l);
        if (first && run == 0 && a == 1) {
            bw.put(2 | sign, 2);
        } else if (a <= 40 && run < 32 && tab.code[run][a].len) {
            bw.put((uint32_t(tab.code[run][a].code) << 1) | sign, tab.code[run][a].len + 1);
        } else {
            bw.put(1, 6);  // escape
            bw.put(uint32_t(run), 6);
            if (!c_.mpeg1) {
                bw.put(uint32_t(l) & 0xFFF, 12);
            } else if (a < 128) {
                bw.put(uint32_t(l) & 0xFF, 8);
            } else {
                bw.put(l > 0 ? 0x00 : 0x80, 8);
                bw.put(uint32_t(l) & 0xFF, 8);
            }
        }
        first = false;
    }
    bw.put(tab.endOfBlock.code, tab.endOfBlock.len);
}

void Encoder::writeMb(BitWriter& bw, const Mb& mb, PictureType type, int increment) {
    while (increment > 33) {
        bw.put(kMbAddrInc[0].code, kMbAddrInc[0].len);
        increment -= 33;
    }
    bw.put(kMbAddrInc[increment].code, kMbAddrInc[increment].len);
    const int dcReset = 1 << (7 + c_.intraDcPrecision);
    // Only a macroblock with coefficients may change the quantiser.
    const bool quant = (mb.intra || mb.cbp) && mb.qcode != txQcode_;
    auto putQuant = [&] {
        if (!quant) return;
        bw.put(uint32_t(mb.qcode), 5);
        txQcode_ = mb.qcode;
    };
    if (mb.intra) {
        if (type == kPictureI)
            bw.put(1, quant ? 2 : 1);  // 01 with quantiser, 1 without
        else if (type == kPictureP)
            bw.put(kMbTypeP[quant ? kPIntraQ : kPIntra].code, kMbTypeP[quant ? kPIntraQ : kPIntra].len);
        else
            bw.put(quant ? 1 : 3, quant ? 6 : 5);  // B intra: 000001 with quantiser, 00011 without
        putQuant();
        pmv_[0][0] = pmv_[0][1] = pmv_[1][0] = pmv_[1][1] = 0;
        for (int b = 0; b < blocks_; b++)
            writeBlock(bw, mb.levels[b], mb.coded[b], true, b < 4 ? 0 : ((b & 1) ? 2 : 1));
        return;
    }
    dcPred_[0] = dcPred_[1] = dcPred_[2] = dcReset;
    int dir;
    if (type == kPictureP) {
        bool motion = mb.mv[0][0] || mb.mv[0][1] || !mb.cbp;
        int t =
            motion ? (mb.cbp ? (quant ? kPMcCodedQ : kPMcCoded) : kPMcNotCoded) : (quant ? kPNoMcCodedQ : kPNoMcCoded);
        bw.put(kMbTypeP[t].code, kMbTypeP[t].len);
        putQuant();
        dir = motion ? 1 : 0;
        if (!motion) pmv_[0][0] = pmv_[0][1] = 0;
    } else {
        // interpolated 1x, backward 01x, forward 001x; x = coded
        static const Vlc kTypeB[4] = {{0, 0}, {1, 4}, {1, 3}, {1, 2}};
        dir = mb.dir;
        // and with a quantiser (always coded): 00010, 000010, 000011
        static const Vlc kTypeBQuant[4] = {{0, 0}, {3, 6}, {2, 6}, {2, 5}};
        if (quant)
            bw.put(kTypeBQuant[dir].code, kTypeBQuant[dir].len);
        else
            bw.put(uint32_t(kTypeB[dir].code << 1) | (mb.cbp ? 1u : 0u), kTypeB[dir].len);
        putQuant();
    }
    for (int d = 0; d < 2; d++) {
        if (!(dir & (1 << d))) continue;
        putMvComponent(bw, mb.mv[d][0] - pmv_[d][0], fcode_);
        putMvComponent(bw, mb.mv[d][1] - pmv_[d][1], fcode_);
        pmv_[d][0] = mb.mv[d][0];
        pmv_[d][1] = mb.mv[d][1];
    }
    if (!mb.cbp) return;
    if (blocks_ == 6) {
        bw.put(kCbp[mb.cbp].code, kCbp[mb.cbp].len);
    } else {
        bw.put(kCbp[mb.cbp >> 2].code, kCbp[mb.cbp >> 2].len);
        bw.put(uint32_t(mb.cbp & 3), 2);
    }
    for (int b = 0; b < blocks_; b++)
        if (mb.cbp & (1 << (blocks_ - 1 - b))) writeBlock(bw, mb.levels[b], mb.coded[b], false, 0);
}

void Encoder::codeSlices(BitWriter& bw, PictureType type, bool allSkip, double baseQ, double& quantSum) {
    const uint64_t startBits = bw.bitCount();
    std::vector<double>& share = rowShare_[type];
    if (share.size() != size_t(mbH_) + 1) {
        share.resize(size_t(mbH_) + 1);
        for (int i = 0; i <= mbH_; i++) share[size_t(i)] = double(i) / mbH_;
    }
    std::vector<uint64_t> rowEnd(size_t(mbH_), 0);
    const int dcReset = 1 << (7 + c_.intraDcPrecision);
    Mb mb, prev;
    quantSum = 0;
    actSum_ = 0;
    actCount_ = 0;
    const bool adaptive = c_.adaptiveQuant && !allSkip;
    for (int mby = 0; mby < mbH_; mby++) {
        double q = rc_.constantQuant() ? baseQ : rc_.sliceQuant(baseQ, bw.bitCount() - startBits, share[size_t(mby)]);
        const int rowQcode = codeForQuant(q);
        const int rowQscale = qscaleOf(rowQcode);
        if (codedH_ > 2800) {
            bw.startCode(uint8_t((mby & 127) + 1));
            bw.put(uint32_t(mby >> 7), 3);
        } else {
            bw.startCode(uint8_t(mby + 1));
        }
        bw.put(uint32_t(rowQcode), 5);
        bw.put(0, 1);
        txQcode_ = rowQcode;
        dcPred_[0] = dcPred_[1] = dcPred_[2] = dcReset;
        pmv_[0][0] = pmv_[0][1] = pmv_[1][0] = pmv_[1][1] = 0;
        int lastCoded = -1;
        for (int mbx = 0; mbx < mbW_; mbx++) {
            bool edge = mbx == 0 || mbx == mbW_ - 1;
            // Busy macroblocks hide coarser quantisation than flat ones
            // (activity masking): the row's quantiser is scaled by the
            // activity against the last picture's average, 0.5x to 2x.
            int qcode = rowQcode, qscale = rowQscale;
            if (adaptive) {
                const double act = activity(mbx, mby);
                actSum_ += act;
                actCount_++;
                if (avgAct_ > 0) {
                    qcode = codeForQuant(q * (2 * act + avgAct_) / (act + 2 * avgAct_));
                    qscale = qscaleOf(qcode);
                }
            }
            curQcode_ = qcode;
            mb.qcode = qcode;
            dropLoneLevels_ = qscale >= rowQscale;
            // The rate model follows the row's quantiser: the masking only
            // moves bits within the picture.
            quantSum += rowQscale / 2.0;
            if (allSkip) {
                size_t idx = size_t(mby) * mbW_ + mbx;
                mvCur_[2 * idx] = mvCur_[2 * idx + 1] = 0;
                if (!edge) continue;
                mb.intra = false;
                mb.dir = 1;
                mb.mv[0][0] = mb.mv[0][1] = 0;
                mb.cbp = 0;
            } else {
                analyseMb(mbx, mby, type, qscale, mb);
                if (type != kPictureB) {
                    const size_t idx = size_t(mby) * mbW_ + mbx;
                    bool empty = type == kPictureP && !mb.intra && !mb.mv[0][0] && !mb.mv[0][1];
                    skipQ_[idx] = mb.exact ? kExactSkipQ : empty ? uint8_t(qscale) : 0;
                    zeroQ_[idx] = mb.zeroQ;
                    dropQ_[idx] = mb.dropQ;
                }
                bool skip = false;
                if (!edge && !mb.intra && !mb.cbp) {
                    if (type == kPictureP) skip = !mb.mv[0][0] && !mb.mv[0][1];
                    // A skipped B macroblock repeats the previous one's prediction.
                    if (type == kPictureB && mbx > 0 && !prev.intra && prev.dir == mb.dir &&
                        (!(mb.dir & 1) || (prev.mv[0][0] == mb.mv[0][0] && prev.mv[0][1] == mb.mv[0][1])) &&
                        (!(mb.dir & 2) || (prev.mv[1][0] == mb.mv[1][0] && prev.mv[1][1] == mb.mv[1][1])))
                        skip = true;
                }
                if (skip) {
                    dcPred_[0] = dcPred_[1] = dcPred_[2] = dcReset;
                    if (type == kPictureP) pmv_[0][0] = pmv_[0][1] = 0;
                    continue;
                }
            }
            writeMb(bw, mb, type, mbx - lastCoded);
            lastCoded = mbx;
            prev.intra = mb.intra;
            prev.dir = mb.dir;
            std::memcpy(prev.mv, mb.mv, sizeof prev.mv);
        }
        rowEnd[size_t(mby)] = bw.bitCount() - startBits;
    }
    const double total = double(std::max<uint64_t>(1, rowEnd.back()));
    share[0] = 0;
    for (int i = 0; i < mbH_; i++)
        share[size_t(i) + 1] = 0.5 * share[size_t(i) + 1] + 0.5 * double(rowEnd[size_t(i)]) / total;
    if (allSkip) {
        for (int i = 0; i < 3; i++) cur_.p[i].pix = ref_.p[i].pix;
        std::fill(copiedCur_.begin(), copiedCur_.end(), uint8_t(1));
    }
}

void Encoder::selectCoefficientCoding(PictureType type) {
    intraVlc_ = c_.intraVlc[type];
    scan_ = c_.alternateScan[type] ? kAlternateScan : kZigzag;
    scanOf_ = c_.alternateScan[type] ? kAlternateIndex.of : kZigzagIndex.of;
}

void Encoder::encodePicture(PictureType type, uint32_t display, bool repeat, const uint8_t* userData, int userDataLen,
                            std::vector<uint8_t>& out) {
    const bool allSkip = repeat && type == kPictureP && pictures_ > 0;
    selectCoefficientCoding(type);
    double baseQ = rc_.startPicture(type);
    const uint16_t vbvDelay = rc_.vbvDelay();
    std::vector<uint8_t>& pic = picBuf_;  // kept: no reallocation per picture
    double quantSum = 0;
    for (int attempt = 0; attempt < 4; attempt++) {
        // A second attempt may skip what the first one coded into cur_.
        reuseCur_ = refDistance_ == 1 && attempt == 0;
        pic.clear();
        BitWriter bw(pic);
        if (type == kPictureI) {
            if (!sequenceStarted_ || c_.seqHeaderEveryGop) writeSequenceHeader(bw);
            writeGopHeader(bw);
        }
        writePictureHeaders(bw, type, display, vbvDelay);
        if (userData && userDataLen > 0) {
            bw.startCode(0xB2);
            for (int i = 0; i < userDataLen; i++) bw.put(userData[i], 8);
        }
        codeSlices(bw, type, allSkip, baseQ, quantSum);
        bw.finish();
        // A picture that would empty the decoder's buffer is coded again, coarser.
        if (c_.rcMode == 3) break;
        if (double(pic.size()) * 8 <= rc_.maxPictureBits() || baseQ >= 31 || allSkip) break;
        baseQ = std::min(31.0, baseQ * 1.6 + 1);
    }
    const double avgQ = quantSum / double(mbW_ * mbH_);
    if (actCount_) avgAct_ = actSum_ / actCount_;
    uint64_t bits = uint64_t(pic.size()) * 8;
    uint64_t stuffing = rc_.endPicture(type, bits, avgQ);
    pic.resize(pic.size() + size_t(stuffing / 8), 0);
    if (onCoded_) onCoded_(type, uint64_t(pic.size()) * 8, avgQ);
    totalBits_ += uint64_t(pic.size()) * 8;
    // The picture leaves by a swap; out's own buffer is the next one to code into.
    out.clear();
    out.swap(pic);
    if (c_.calcPsnr) accumulatePsnr(cur_);
    if (type != kPictureB) {
        if (refDistance_ > 1) {
            std::swap(past_, ref_);
            std::swap(ref_, cur_);
            std::swap(pastSrc_, anchorSrc_);
            havePastSrc_ = haveAnchorSrc_;
        } else {
            std::swap(ref_, cur_);
        }
        // The source becomes the anchor's by a swap, not a copy: the input
        // frame is written afresh by the next picture (a repeat restores it).
        if (codeSrc_ != &anchorSrc_) std::swap(anchorSrc_, *codeSrc_);
        inputChanges_.valid = false;  // made against the anchor that just left
        if (codeSrc_ == &src_) srcMoved_ = true;
        haveAnchorSrc_ = true;
        mvPrev_.swap(mvCur_);
        copiedPrev_.swap(copiedCur_);
        lastRecon_ = &ref_;
    } else {
        lastRecon_ = &cur_;
    }
    sequenceStarted_ = true;
    pictures_++;
}

void Encoder::submit(bool repeat, const uint8_t* userData, int userDataLen, uint64_t tag, std::vector<Coded>& out) {
    if (repeat) inputChanges_.valid = false;
    if (!repeat) {
        srcMoved_ = false;
    } else if (srcMoved_) {
        for (int i = 0; i < 3; i++) src_.p[i].pix = anchorSrc_.p[i].pix;
        srcMoved_ = false;
    }
    const uint32_t gop = uint32_t(c_.gopLength);
    if (c_.sceneDetect && !repeat && sceneCut() && gopIndex_ != 0 && sinceIntra_ >= uint32_t(c_.sceneMinGop)) {
        // A new scene starts a new GOP: pictures held for a backward
        // reference that would lie in the new scene are coded forward only.
        codeHeldForward(out);
        rc_.endGopEarly();
        gopIndex_ = 0;
        sceneCuts_++;
    }
    const uint32_t display = gopIndex_;
    PictureType type = kPictureP;
    if (display == 0)
        type = kPictureI;
    else if (display % uint32_t(refDistance_) != 0 && display != gop - 1)
        type = kPictureB;
    if (type == kPictureI) rc_.startGop(int(gop), refDistance_);
    const uint32_t abs = inputs_++;
    gopIndex_ = (gopIndex_ + 1) % gop;
    sinceIntra_ = type == kPictureI ? 1 : sinceIntra_ + 1;
    if (type == kPictureB && heldCount_ < held_.size()) {
        Held& h = held_[heldCount_++];
        for (int i = 0; i < 3; i++)
            std::memcpy(h.frame.p[i].pix.data(), input_->p[i].pix.data(), input_->p[i].pix.size());
        h.userData.assign(userData, userData + (userData ? userDataLen : 0));
        h.tag = tag;
        h.display = display;
        h.abs = abs;
        return;
    }
    if (type == kPictureB) type = kPictureP;  // cannot happen: the pattern holds at most refDistance - 1
    codeSrc_ = input_;
    codingAbs_ = abs;
    out.push_back(newCoded(tag));
    encodePicture(type, display, repeat && refDistance_ == 1, userData, userDataLen, out.back().bytes);
    if (onPicture_) onPicture_(tag, *lastRecon_);
    for (size_t i = 0; i < heldCount_; i++) {
        Held& h = held_[i];
        codeSrc_ = &h.frame;
        codingAbs_ = h.abs;
        out.push_back(newCoded(h.tag));
        encodePicture(kPictureB, h.display, false, h.userData.data(), int(h.userData.size()), out.back().bytes);
        if (onPicture_) onPicture_(h.tag, *lastRecon_);
    }
    heldCount_ = 0;
    codeSrc_ = input_;
}

Frame& Encoder::source(bool copiedStraight) {
    if (copiedStraight && refDistance_ == 1) {
        input_ = &anchorSrc_;
    } else {
        if (src_.p[0].pix.empty()) src_.allocate(codedW_, codedH_, c_.chroma);
        input_ = &src_;
    }
    return *input_;
}

Encoder::Coded Encoder::newCoded(uint64_t tag) {
    Coded c{{}, tag};
    if (!spare_.empty()) {
        c.bytes.swap(spare_.back());
        spare_.pop_back();
    }
    return c;
}

void Encoder::recycle(std::vector<uint8_t>&& bytes) {
    // Enough for a picture and the ones held for reordering.
    if (spare_.size() < size_t(refDistance_) + 1) spare_.push_back(std::move(bytes));
}

void Encoder::flush(std::vector<Coded>& out) {
    codeHeldForward(out);
}

void Encoder::codeHeldForward(std::vector<Coded>& out) {
    // Pictures still waiting for a backward reference are coded forward only.
    for (size_t i = 0; i < heldCount_; i++) {
        Held& h = held_[i];
        codeSrc_ = &h.frame;
        codingAbs_ = h.abs;
        out.push_back(newCoded(h.tag));
        encodePicture(kPictureP, h.display, false, h.userData.data(), int(h.userData.size()), out.back().bytes);
        if (onPicture_) onPicture_(h.tag, *lastRecon_);
    }
    heldCount_ = 0;
    codeSrc_ = input_;
}

}  // namespace vidova
