#include "companions/audova/Encoder.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "companions/audova/Filterbank.h"
#include "companions/audova/MpegAudioTables.h"

namespace audova {

namespace {

constexpr float kSilence = 1e-12f;  // below the 16-bit quantization floor

int ScaleFactorIndex(float peak) {
    const float* sf = ScaleFactors();
    if (!(peak >= sf[62])) return 62;
    int e = 0;
    std::frexp(peak, &e);  // peak = m 2^e, m in [0.5, 1)
    int i = std::clamp(3 - 3 * e, 0, 62);
    while (i > 0 && sf[i] <= peak) --i;
    while (i < 62 && sf[i + 1] > peak) ++i;
    return i;
}

// The standard's quantizer: floor(levels * (x + 1) / 2) of the normalised
// sample x = sample / scale, which the decoder takes back to the middle of
// its step.
struct Quantizer {
    Quantizer(float scale, int levels) : gain(0.5f * levels / scale), offset(0.5f * levels), top(levels - 1) {}
    uint32_t operator()(float sample) const {
        const float v = sample * gain + offset;
        const int code = v > 0.0f ? static_cast<int>(v) : 0;
        return static_cast<uint32_t>(std::min(code, top));
    }
    float gain, offset;
    int top;
};

class BitWriter {
public:
    BitWriter(uint8_t* p, int bytes) : p_(p), limit_(bytes) {}
    // value < 2^bits, bits <= 16; whole 32-bit words go out at once.
    void Put(uint32_t value, int bits) {
        acc_ = (acc_ << bits) | value;
        pending_ += bits;
        pos_ += bits;
        if (pending_ >= 32) {
            pending_ -= 32;
            const uint32_t word = static_cast<uint32_t>(acc_ >> pending_);
            for (int i = 0; i < 4; ++i, ++byte_)
                if (byte_ < limit_) p_[byte_] = static_cast<uint8_t>(word >> (24 - 8 * i));
        }
    }
    void Flush() {
        while (pending_ > 0) {
            const int take = std::min(pending_, 8);
            pending_ -= take;
            const uint32_t b = static_cast<uint32_t>(acc_ >> pending_) & ((1u << take) - 1);
            if (byte_ < limit_) p_[byte_] = static_cast<uint8_t>(b << (8 - take));
            ++byte_;
        }
    }
    int pos() const { return pos_; }

private:
    uint8_t* p_;
    int limit_;
    uint64_t acc_ = 0;
    int pending_ = 0, pos_ = 0, byte_ = 0;
};

uint16_t Crc16(const uint8_t* p, int fromBit, int toBit, uint16_t crc) {
    for (int i = fromBit; i < toBit; ++i) {
        const int bit = (p[i >> 3] >> (7 - (i & 7))) & 1;
        const int top = (crc >> 15) & 1;
        crc = static_cast<uint16_t>(crc << 1);
        if (top ^ bit) crc ^= 0x8005;
    }
    return crc;
}

}  // namespace

bool ResolveSettings(const AudovaSettings& s, int32_t sampleRate, StreamConfig* out, std::string* why) {
    StreamConfig c;
    auto fail = [why](std::string text) {
        if (why) *why = std::move(text);
        return false;
    };
    c.rateCode = SampleRateCode(sampleRate, &c.lsf);
    if (c.rateCode < 0)
        return fail("Audova: sample rate " + std::to_string(sampleRate) +
                    " Hz is not supported (16000, 22050, 24000, 32000, 44100 or 48000)");
    c.rate = sampleRate;
    if (s.layer != 1 && s.layer != 2) return fail("Audova: layer " + std::to_string(s.layer) + " is not 1 or 2");
    c.layer = s.layer;
    if (s.output_channels != 1 && s.output_channels != 2)
        return fail("Audova: " + std::to_string(s.output_channels) + " output channels (1 or 2 are coded)");
    c.channels = s.output_channels;
    if (c.channels == 1) {
        c.mode = AUDOVA_MONO;
    } else {
        int mode = s.audio_mode;
        if (mode < 0 || mode > 2) mode = s.requested_mode;
        if (mode < 0 || mode > 2)
            return fail("Audova: audio mode " + std::to_string(s.audio_mode) + " does not fit two output channels");
        c.mode = mode;
    }
    c.kbps = BitrateKbps(c.lsf, c.layer, s.bitrate_index);
    if (!BitrateIndexLegal(c.lsf, c.layer, c.channels, s.bitrate_index))
        return fail("Audova: bit-rate index " + std::to_string(s.bitrate_index) +
                    (c.kbps ? " (" + std::to_string(c.kbps) + " kbit/s)" : std::string()) +
                    " is not allowed for Layer " + (c.layer == 1 ? "I" : "II") + ", " +
                    (c.channels == 1 ? "one channel" : "two channels") + " at " + std::to_string(sampleRate) + " Hz");
    c.bitrateIndex = s.bitrate_index;
    if (s.emphasis != 0 && s.emphasis != 1 && s.emphasis != 3)
        return fail("Audova: emphasis " + std::to_string(s.emphasis) + " is reserved (0, 1 or 3)");
    c.emphasis = s.emphasis;
    c.crc = s.crc != 0;
    c.privateBit = s.private_bit != 0;
    c.copyright = s.copyright != 0;
    c.original = s.original != 0;
    c.psyModel = s.psy_model == 1 ? 1 : 2;
    c.frameSamples = c.layer == 1 ? 384 : 1152;
    c.maxFrameBytes = c.layer == 1 ? (12000 * c.kbps / c.rate + 1) * 4 : 144000 * c.kbps / c.rate + 1;
    if (s.buffer_size < c.maxFrameBytes)
        return fail("Audova: output buffer of " + std::to_string(s.buffer_size) + " bytes is below the frame size of " +
                    std::to_string(c.maxFrameBytes) + " bytes");
    c.bufferSize = static_cast<uint32_t>(s.buffer_size);
    *out = c;
    return true;
}

Encoder::Encoder(const StreamConfig& config) : cfg_(config) {
    // Model 1 takes a coarser spectrum than model 2 for Layer II.
    const int fftSize = (cfg_.layer == 1 || cfg_.psyModel == 1) ? 512 : 1024;
    psycho_ = std::make_unique<Psycho>(cfg_.rate, fftSize);
    for (int ch = 0; ch < cfg_.channels; ++ch) pcm_[ch].assign(kHistory + cfg_.frameSamples, 0.0f);
    frameBuf_.resize(cfg_.maxFrameBytes);
}

Encoder::~Encoder() = default;

void Encoder::Start(bufstream* out) {
    out_ = out;
    gotData_ = false;
    fill_ = 0;
    partialBytes_ = 0;
    padRemainder_ = 0;
    for (int ch = 0; ch < cfg_.channels; ++ch) std::fill(pcm_[ch].begin(), pcm_[ch].end(), 0.0f);
}

bool Encoder::Encode(const uint8_t* pcm, size_t bytes) {
    if (bytes == 0) return true;
    gotData_ = true;
    const int stride = 2 * cfg_.channels;
    auto take = [this](const uint8_t* p) -> bool {
        for (int ch = 0; ch < cfg_.channels; ++ch) {
            const int16_t v = static_cast<int16_t>(static_cast<uint16_t>(p[2 * ch] | (p[2 * ch + 1] << 8)));
            pcm_[ch][kHistory + fill_] = v * (1.0f / 32768.0f);
        }
        if (++fill_ == cfg_.frameSamples) return CodeFrame();
        return true;
    };
    while (bytes > 0) {
        // Whole sample frames straight into the frame buffer.
        if (partialBytes_ == 0 && bytes >= static_cast<size_t>(stride)) {
            const size_t n = std::min(bytes / stride, static_cast<size_t>(cfg_.frameSamples - fill_));
            for (int ch = 0; ch < cfg_.channels; ++ch) {
                float* dst = pcm_[ch].data() + kHistory + fill_;
                const uint8_t* src = pcm + 2 * ch;
                for (size_t i = 0; i < n; ++i, src += stride)
                    dst[i] = static_cast<int16_t>(static_cast<uint16_t>(src[0] | (src[1] << 8))) * (1.0f / 32768.0f);
            }
            fill_ += static_cast<int>(n);
            pcm += n * stride;
            bytes -= n * stride;
            if (fill_ == cfg_.frameSamples && !CodeFrame()) return false;
            continue;
        }
        if (partialBytes_ > 0 || bytes < static_cast<size_t>(stride)) {
            const size_t n = std::min(bytes, static_cast<size_t>(stride - partialBytes_));
            std::memcpy(partial_ + partialBytes_, pcm, n);
            partialBytes_ += static_cast<int>(n);
            pcm += n;
            bytes -= n;
            if (partialBytes_ == stride) {
                partialBytes_ = 0;
                if (!take(partial_)) return false;
            }
        }
    }
    return true;
}

bool Encoder::Done(bool abort) {
    bool ok = true;
    if (!abort && gotData_ && (fill_ > 0 || partialBytes_ > 0)) {
        if (partialBytes_ > 0) {
            std::memset(partial_ + partialBytes_, 0, sizeof(partial_) - partialBytes_);
            partialBytes_ = 0;
            for (int ch = 0; ch < cfg_.channels; ++ch) {
                const int16_t v =
                    static_cast<int16_t>(static_cast<uint16_t>(partial_[2 * ch] | (partial_[2 * ch + 1] << 8)));
                pcm_[ch][kHistory + fill_] = v * (1.0f / 32768.0f);
            }
            ++fill_;
        }
        if (fill_ > 0 && fill_ < cfg_.frameSamples) {
            for (int ch = 0; ch < cfg_.channels; ++ch)
                std::fill(pcm_[ch].begin() + kHistory + fill_, pcm_[ch].end(), 0.0f);
            fill_ = cfg_.frameSamples;
        }
        if (fill_ == cfg_.frameSamples) ok = CodeFrame();
    }
    Start(nullptr);
    return ok;
}

int Encoder::NextFrameBytes() {
    const uint32_t num = (cfg_.layer == 1 ? 12000u : 144000u) * static_cast<uint32_t>(cfg_.kbps);
    const uint32_t rate = static_cast<uint32_t>(cfg_.rate);
    int units = static_cast<int>(num / rate);
    padRemainder_ += num % rate;
    if (padRemainder_ >= rate) {
        padRemainder_ -= rate;
        ++units;
    }
    return cfg_.layer == 1 ? units * 4 : units;
}

namespace {

// Sharing a scale factor saves 6 bits but raises the noise of the part that
// takes a larger one by 2 dB a step, which costs about 4 bits to win back.
int ChooseScfsi(const int idx[3], int used[3]) {
    struct Option {
        int scfsi, a, b, c, bits;
    };
    const int m01 = std::min(idx[0], idx[1]), m12 = std::min(idx[1], idx[2]);
    const int m012 = std::min(m01, idx[2]);
    const Option options[4] = {{0, idx[0], idx[1], idx[2], 18},
                               {1, m01, m01, idx[2], 12},
                               {2, m012, m012, m012, 6},
                               {3, idx[0], m12, m12, 12}};
    int best = 0, bestCost = 1 << 30;
    for (int i = 0; i < 4; ++i) {
        const Option& o = options[i];
        const int cost = o.bits + 4 * ((idx[0] - o.a) + (idx[1] - o.b) + (idx[2] - o.c));
        if (cost < bestCost) {
            bestCost = cost;
            best = i;
        }
    }
    used[0] = options[best].a;
    used[1] = options[best].b;
    used[2] = options[best].c;
    return options[best].scfsi;
}

}  // namespace

void Encoder::PrepareIntensity() {
    const float* sf = ScaleFactors();
    const bool layer1 = cfg_.layer == 1;
    const int parts = layer1 ? 1 : 3;
    const int blocks = cfg_.frameSamples / 32;
    for (int sb = 4; sb < 32; ++sb) {
        for (int s = 0; s < blocks; ++s) mid_[s][sb] = 0.5f * (sb_[0][s][sb] + sb_[1][s][sb]);
        int idx[2][3] = {};
        for (int p = 0; p < parts; ++p) {
            float peak = 0.0f, em = 0.0f, e[2] = {0.0f, 0.0f};
            for (int s = 12 * p; s < 12 * p + 12; ++s) {
                peak = std::max(peak, std::fabs(mid_[s][sb]));
                em += mid_[s][sb] * mid_[s][sb];
                for (int c = 0; c < 2; ++c) e[c] += sb_[c][s][sb] * sb_[c][s][sb];
            }
            midSf_[sb][p] = ScaleFactorIndex(peak);
            // Each channel's scale factor carries its level relative to the mid.
            for (int c = 0; c < 2; ++c) {
                if (em <= kSilence * 12 || e[c] <= kSilence * 12) {
                    idx[c][p] = 62;
                    continue;
                }
                const double steps = 1.5 * std::log2(static_cast<double>(e[c]) / em);
                idx[c][p] = std::clamp(midSf_[sb][p] - static_cast<int>(std::lround(steps)), 0, 62);
            }
        }
        for (int c = 0; c < 2; ++c) {
            int* used = isfUsed_[c][sb];
            if (layer1) {
                used[0] = idx[c][0];
                iscfsi_[c][sb] = 0;
            } else {
                iscfsi_[c][sb] = ChooseScfsi(idx[c], used);
            }
            float err = 0.0f;
            for (int s = 0; s < blocks; ++s) {
                const int p = s / 12;
                const float gain = sf[used[p]] / sf[midSf_[sb][p]];
                const float d = sb_[c][s][sb] - gain * mid_[s][sb];
                err += d * d;
            }
            ierr_[c][sb] = err / blocks;
        }
    }
}

float Encoder::Allocate(int bound, int availableBits) {
    const int nch = cfg_.channels;
    const float* sf = ScaleFactors();
    const bool layer1 = cfg_.layer == 1;
    const AllocTable* table = layer1 ? nullptr : &Layer2Table(cfg_.lsf, cfg_.rate, cfg_.kbps / nch);
    const int sblimit = layer1 ? 32 : table->sblimit;
    const int parts = layer1 ? 1 : 3;

    float meanSf2[2][32];
    for (int ch = 0; ch < nch; ++ch)
        for (int sb = 0; sb < sblimit; ++sb) {
            const int* used = sb < bound ? sfUsed_[ch][sb] : isfUsed_[ch][sb];
            float s = 0.0f;
            for (int p = 0; p < parts; ++p) s += sf[used[p]] * sf[used[p]];
            meanSf2[ch][sb] = s / parts;
            alloc_[ch][sb] = 0;
        }

    auto levels = [&](int sb, int a) { return layer1 ? (1 << (a + 1)) - 1 : kQuantClasses[table->cls[sb][a]].levels; };
    auto maxAlloc = [&](int sb) { return layer1 ? 14 : (1 << table->nbal[sb]) - 1; };
    auto sampleBits = [&](int sb, int a) {
        if (a == 0) return 0;
        if (layer1) return 12 * (a + 1);
        const QuantClass& q = kQuantClasses[table->cls[sb][a]];
        return q.grouped ? 12 * q.bits : 36 * q.bits;
    };
    auto sideBits = [&](int ch, int sb) {
        if (layer1) return 6;
        static const int kSfCount[4] = {3, 2, 1, 2};
        return 2 + 6 * kSfCount[sb < bound ? scfsi_[ch][sb] : iscfsi_[ch][sb]];
    };
    auto noise = [&](int ch, int sb, int a) {
        if (a == 0) return energy_[ch][sb];
        const float l = static_cast<float>(levels(sb, a));
        return meanSf2[ch][sb] / (3.0f * l * l) + (sb < bound ? 0.0f : ierr_[ch][sb]);
    };

    // Greedy: each step raises the allocation with the most unmasked noise
    // energy; once everything is masked, the one with the loudest noise.
    struct Candidate {
        int ch, sb, cost;
        bool unmasked;
        float key;
    };
    Candidate cand[64];
    int count = 0;
    auto evaluate = [&](Candidate& c) {
        const int a = alloc_[c.ch][c.sb];
        const bool shared = c.sb >= bound;
        c.unmasked = false;
        c.key = 0.0f;
        if (a >= maxAlloc(c.sb)) return;
        c.cost = sampleBits(c.sb, a + 1) - sampleBits(c.sb, a);
        for (int ch = c.ch; ch < (shared ? nch : c.ch + 1); ++ch) {
            const float n = noise(ch, c.sb, a);
            if (n > kSilence) {
                const float excess = n - allowed_[ch][c.sb];
                if (excess > 0.0f) {
                    c.key = c.unmasked ? std::max(c.key, excess) : excess;
                    c.unmasked = true;
                } else if (!c.unmasked) {
                    c.key = std::max(c.key, n);
                }
            }
            if (a == 0) c.cost += sideBits(ch, c.sb);
        }
    };
    for (int sb = 0; sb < sblimit; ++sb)
        for (int ch = 0; ch < (sb >= bound ? 1 : nch); ++ch) {
            cand[count] = Candidate{ch, sb, 0, false, 0.0f};
            evaluate(cand[count++]);
        }
    // Each candidate's priority as one integer: unmasked first, then the key
    // (a positive float's bits order like its value). The bits left only
    // shrink, so a candidate whose next step does not fit any more never will.
    uint64_t order[64];
    int cost[64];
    auto rank = [&](int i) {
        uint32_t bits;
        std::memcpy(&bits, &cand[i].key, 4);
        order[i] = cand[i].key > 0.0f ? (uint64_t(cand[i].unmasked) << 32) | bits : 0;
        cost[i] = cand[i].cost;
    };
    for (int i = 0; i < count; ++i) rank(i);
    int remaining = availableBits;
    for (;;) {
        int best = -1;
        uint64_t top = 0;
        for (int i = 0; i < count; ++i) {
            if (order[i] > top && cost[i] <= remaining) {
                top = order[i];
                best = i;
            }
        }
        if (best < 0) break;
        Candidate& c = cand[best];
        remaining -= c.cost;
        ++alloc_[c.ch][c.sb];
        if (c.sb >= bound)
            for (int ch = 1; ch < nch; ++ch) alloc_[ch][c.sb] = alloc_[0][c.sb];
        evaluate(c);
        rank(best);
    }
    float excess = 0.0f;
    for (int ch = 0; ch < nch; ++ch) {
        for (int sb = 0; sb < sblimit; ++sb) excess += std::max(0.0f, noise(ch, sb, alloc_[ch][sb]) - allowed_[ch][sb]);
        for (int sb = sblimit; sb < 32; ++sb) alloc_[ch][sb] = 0;
    }
    return excess;
}

bool Encoder::CodeFrame() {
    fill_ = 0;
    const int nch = cfg_.channels;
    const bool layer1 = cfg_.layer == 1;
    const int blocks = cfg_.frameSamples / 32;
    const int parts = layer1 ? 1 : 3;

    // The model looks at one window per channel centred on the frame's
    // subband samples (which lag the input by 256), both channels in one
    // transform; a mono Layer II frame gets a window on either half instead.
    for (int ch = 0; ch < nch; ++ch)
        for (int sb = 0; sb < 32; ++sb) allowed_[ch][sb] = 1e30f;
    const float* x0 = pcm_[0].data() + kHistory;
    const int centre = layer1 ? -49 : 335, half = psycho_->size() / 2;
    if (nch == 2)
        psycho_->Analyze(x0 + centre - half, pcm_[1].data() + kHistory + centre - half, allowed_[0], allowed_[1]);
    else if (layer1)
        psycho_->Analyze(x0 + centre - half, nullptr, allowed_[0], allowed_[0]);
    else
        psycho_->Analyze(x0 + centre - 288 - half, x0 + centre + 288 - half, allowed_[0], allowed_[0]);

    for (int ch = 0; ch < nch; ++ch) {
        const float* x = pcm_[ch].data() + kHistory;
        for (int s = 0; s < blocks; ++s) AnalyzeBlock(x + 32 * s + 31, sb_[ch][s]);
        float* allowed = allowed_[ch];
        for (int sb = 0; sb < 32; ++sb) {
            float e = 0.0f;
            for (int s = 0; s < blocks; ++s) e += sb_[ch][s][sb] * sb_[ch][s][sb];
            energy_[ch][sb] = e / blocks;
            allowed[sb] = std::max(std::min(allowed[sb], energy_[ch][sb]), 1e-20f);
            for (int p = 0; p < parts; ++p) {
                float peak = 0.0f;
                for (int s = 12 * p; s < 12 * p + 12; ++s) peak = std::max(peak, std::fabs(sb_[ch][s][sb]));
                sfIndex_[ch][sb][p] = ScaleFactorIndex(peak);
                sfUsed_[ch][sb][p] = sfIndex_[ch][sb][p];
            }
            scfsi_[ch][sb] = layer1 ? 0 : ChooseScfsi(sfIndex_[ch][sb], sfUsed_[ch][sb]);
        }
    }

    const int frameBytes = NextFrameBytes();
    const AllocTable* table = layer1 ? nullptr : &Layer2Table(cfg_.lsf, cfg_.rate, cfg_.kbps / nch);
    const int sblimit = layer1 ? 32 : table->sblimit;
    auto allocate = [&](int bound) {
        int allocBits = 0;
        for (int sb = 0; sb < sblimit; ++sb) allocBits += (layer1 ? 4 : table->nbal[sb]) * (sb < bound ? nch : 1);
        return Allocate(bound, frameBytes * 8 - 32 - (cfg_.crc ? 16 : 0) - allocBits);
    };
    // Joint stereo: plain stereo while the bits suffice, else the highest
    // intensity bound that masks everything, else the one that leaves the least
    // audible noise.
    int bound = 32;
    float excess = allocate(32);
    if (cfg_.mode == AUDOVA_JOINT_STEREO && nch == 2 && excess > 0.0f) {
        PrepareIntensity();
        float bestExcess = excess;
        int bestBound = 32, last = 32;
        for (int b : {16, 12, 8, 4}) {
            const float e = allocate(b);
            last = b;
            if (e < bestExcess) {
                bestExcess = e;
                bestBound = b;
            }
            if (e <= 0.0f) break;
        }
        bound = bestBound;
        if (last != bound) allocate(bound);
    }

    std::fill(frameBuf_.begin(), frameBuf_.end(), 0);
    WriteFrame(frameBuf_.data(), frameBytes, bound);

    // Keep the last samples as history for the next frame.
    for (int ch = 0; ch < nch; ++ch)
        std::memmove(pcm_[ch].data(), pcm_[ch].data() + cfg_.frameSamples, kHistory * sizeof(float));

    if (!out_ || !out_->request || !out_->commit) return false;
    const uint32_t size = out_->buffer_size ? out_->buffer_size(out_) : cfg_.bufferSize;
    if (size < static_cast<uint32_t>(frameBytes)) return false;
    uint8_t* dst = out_->request(out_, size);
    if (!dst) return false;
    std::memcpy(dst, frameBuf_.data(), frameBytes);
    out_->commit(out_, static_cast<uint32_t>(frameBytes));
    ++frames_;
    return true;
}

int Encoder::WriteFrame(uint8_t* frame, int frameBytes, int bound) {
    const int nch = cfg_.channels;
    const bool layer1 = cfg_.layer == 1;
    const float* sf = ScaleFactors();
    const AllocTable* table = layer1 ? nullptr : &Layer2Table(cfg_.lsf, cfg_.rate, cfg_.kbps / nch);
    const int sblimit = layer1 ? 32 : table->sblimit;
    const bool joint = bound < 32;
    const int padding = frameBytes != (layer1 ? 12000 * cfg_.kbps / cfg_.rate * 4 : 144000 * cfg_.kbps / cfg_.rate);

    BitWriter w(frame, frameBytes);
    w.Put(0xFFF, 12);
    w.Put(cfg_.lsf ? 0 : 1, 1);
    w.Put(layer1 ? 3 : 2, 2);
    w.Put(cfg_.crc ? 0 : 1, 1);
    w.Put(static_cast<uint32_t>(cfg_.bitrateIndex), 4);
    w.Put(static_cast<uint32_t>(cfg_.rateCode), 2);
    w.Put(static_cast<uint32_t>(padding), 1);
    w.Put(cfg_.privateBit ? 1 : 0, 1);
    const int headerMode = cfg_.mode == AUDOVA_MONO ? 3 : (joint ? 1 : (cfg_.mode == AUDOVA_DUAL_CHANNEL ? 2 : 0));
    w.Put(static_cast<uint32_t>(headerMode), 2);
    w.Put(joint ? static_cast<uint32_t>(bound / 4 - 1) : 0u, 2);
    w.Put(cfg_.copyright ? 1 : 0, 1);
    w.Put(cfg_.original ? 1 : 0, 1);
    w.Put(static_cast<uint32_t>(cfg_.emphasis), 2);
    if (cfg_.crc) w.Put(0, 16);
    const int protectedFrom = w.pos();

    for (int sb = 0; sb < sblimit; ++sb)
        for (int ch = 0; ch < (sb < bound ? nch : 1); ++ch)
            w.Put(static_cast<uint32_t>(alloc_[ch][sb]), layer1 ? 4 : table->nbal[sb]);
    if (!layer1)
        for (int sb = 0; sb < sblimit; ++sb)
            for (int ch = 0; ch < nch; ++ch)
                if (alloc_[ch][sb]) w.Put(static_cast<uint32_t>(sb < bound ? scfsi_[ch][sb] : iscfsi_[ch][sb]), 2);
    const int protectedTo = w.pos();

    for (int sb = 0; sb < sblimit; ++sb)
        for (int ch = 0; ch < nch; ++ch) {
            if (!alloc_[ch][sb]) continue;
            const int* u = sb < bound ? sfUsed_[ch][sb] : isfUsed_[ch][sb];
            if (layer1) {
                w.Put(static_cast<uint32_t>(u[0]), 6);
                continue;
            }
            switch (sb < bound ? scfsi_[ch][sb] : iscfsi_[ch][sb]) {
                case 0:
                    w.Put(u[0], 6);
                    w.Put(u[1], 6);
                    w.Put(u[2], 6);
                    break;
                case 1:
                    w.Put(u[0], 6);
                    w.Put(u[2], 6);
                    break;
                case 2:
                    w.Put(u[0], 6);
                    break;
                default:
                    w.Put(u[0], 6);
                    w.Put(u[1], 6);
                    break;
            }
        }

    if (layer1) {
        for (int s = 0; s < 12; ++s)
            for (int sb = 0; sb < 32; ++sb)
                for (int ch = 0; ch < (sb < bound ? nch : 1); ++ch) {
                    const int a = alloc_[ch][sb];
                    if (!a) continue;
                    const float v = sb < bound ? sb_[ch][s][sb] : mid_[s][sb];
                    const float scale = sf[sb < bound ? sfUsed_[ch][sb][0] : midSf_[sb][0]];
                    w.Put(Quantizer(scale, (1 << (a + 1)) - 1)(v), a + 1);
                }
    } else {
        for (int gr = 0; gr < 12; ++gr)
            for (int sb = 0; sb < sblimit; ++sb)
                for (int ch = 0; ch < (sb < bound ? nch : 1); ++ch) {
                    const int a = alloc_[ch][sb];
                    if (!a) continue;
                    const QuantClass& q = kQuantClasses[table->cls[sb][a]];
                    const bool shared = sb >= bound;
                    const float scale = sf[shared ? midSf_[sb][gr / 4] : sfUsed_[ch][sb][gr / 4]];
                    const Quantizer quantize(scale, q.levels);
                    uint32_t c[3];
                    for (int i = 0; i < 3; ++i)
                        c[i] = quantize(shared ? mid_[3 * gr + i][sb] : sb_[ch][3 * gr + i][sb]);
                    if (q.grouped) {
                        const uint32_t l = static_cast<uint32_t>(q.levels);
                        w.Put(c[0] + l * (c[1] + l * c[2]), q.bits);
                    } else {
                        for (int i = 0; i < 3; ++i) w.Put(c[i], q.bits);
                    }
                }
    }

    w.Flush();
    if (cfg_.crc) {
        uint16_t crc = Crc16(frame, 16, 32, 0xFFFF);
        crc = Crc16(frame, protectedFrom, protectedTo, crc);
        frame[4] = static_cast<uint8_t>(crc >> 8);
        frame[5] = static_cast<uint8_t>(crc);
    }
    return w.pos();
}

}  // namespace audova
