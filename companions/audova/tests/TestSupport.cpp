#include "companions/audova/tests/TestSupport.h"

#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>

#include "companions/audova/MpegAudioTables.h"

namespace audova_test {

constexpr double kPi = 3.14159265358979323846;

bool ParseHeader(const uint8_t* p, size_t n, Header* h) {
    if (n < 4 || p[0] != 0xFF || (p[1] & 0xE0) != 0xE0) return false;
    const uint32_t v = (uint32_t(p[0]) << 24) | (p[1] << 16) | (p[2] << 8) | p[3];
    if (((v >> 20) & 1) == 0) return false;  // MPEG-2.5
    h->lsf = ((v >> 19) & 1) == 0;
    h->layer = 4 - static_cast<int>((v >> 17) & 3);
    h->protection = (v >> 16) & 1;
    h->bitrateIndex = (v >> 12) & 15;
    h->rateCode = (v >> 10) & 3;
    h->padding = (v >> 9) & 1;
    h->privateBit = (v >> 8) & 1;
    h->mode = (v >> 6) & 3;
    h->modeExt = (v >> 4) & 3;
    h->copyright = (v >> 3) & 1;
    h->original = (v >> 2) & 1;
    h->emphasis = v & 3;
    if (h->layer < 1 || h->layer > 2 || h->rateCode == 3) return false;
    static const int kRates[2][3] = {{44100, 48000, 32000}, {22050, 24000, 16000}};
    h->rate = kRates[h->lsf][h->rateCode];
    h->kbps = audova::BitrateKbps(h->lsf, h->layer, h->bitrateIndex);
    if (!h->kbps) return false;
    h->bytes = h->layer == 1 ? (12000 * h->kbps / h->rate + h->padding) * 4 : 144000 * h->kbps / h->rate + h->padding;
    return true;
}

bool SplitFrames(const std::vector<uint8_t>& stream, std::vector<Header>* frames) {
    frames->clear();
    size_t at = 0;
    while (at < stream.size()) {
        Header h;
        if (!ParseHeader(stream.data() + at, stream.size() - at, &h) || at + h.bytes > stream.size()) return false;
        frames->push_back(h);
        at += h.bytes;
    }
    return true;
}

AudovaSettings MakeSettings(int rate, int layer, int channels, int index, int mode) {
    AudovaSettings s{};
    if (mode < 0) mode = channels == 1 ? AUDOVA_MONO : AUDOVA_STEREO;
    s.audio_mode = mode;
    s.requested_mode = mode;
    s.layer = layer;
    s.psy_model = 2;
    s.bitrate_index = index;
    s.bitrate_index_l1 = index;
    s.bitrate_index_l2 = index;
    s.sample_rate = rate;
    s.input_channels = channels;
    s.output_channels = channels;
    s.buffer_size = 40960;
    return s;
}

std::vector<int16_t> Sweep(int rate, int channels, double seconds, double amplitude) {
    const size_t n = static_cast<size_t>(rate * seconds);
    std::vector<int16_t> out(n * channels);
    const double f0 = 40.0, f1 = rate * 0.45;
    double phase = 0.0;
    for (size_t i = 0; i < n; ++i) {
        const double f = f0 * std::pow(f1 / f0, static_cast<double>(i) / n);
        phase += 2.0 * kPi * f / rate;
        for (int c = 0; c < channels; ++c)
            out[i * channels + c] =
                static_cast<int16_t>(std::lround(32767.0 * amplitude * std::sin(phase * (1.0 + 0.1 * c))));
    }
    return out;
}

std::vector<int16_t> Noise(int rate, int channels, double seconds, double amplitude, uint32_t seed) {
    std::mt19937 rng(seed);
    std::uniform_real_distribution<double> u(-1.0, 1.0);
    std::vector<int16_t> out(static_cast<size_t>(rate * seconds) * channels);
    for (auto& v : out) v = static_cast<int16_t>(std::lround(32767.0 * amplitude * u(rng)));
    return out;
}

namespace {
struct BufferStream {
    bufstream bs{};
    std::vector<uint8_t> buffer = std::vector<uint8_t>(40960);
    uint32_t used = 0;
    std::vector<uint8_t>* out;
    static BufferStream* Self(bufstream* b) { return static_cast<BufferStream*>(b->state); }
    static uint8_t* Request(bufstream* b, uint32_t n) {
        BufferStream* s = Self(b);
        if (n > s->buffer.size()) return nullptr;
        if (s->used + n > s->buffer.size()) s->Flush();
        return s->buffer.data() + s->used;
    }
    static uint32_t Commit(bufstream* b, uint32_t n) {
        Self(b)->used += n;
        return n;
    }
    static uint32_t Size(bufstream* b) { return static_cast<uint32_t>(Self(b)->buffer.size()); }
    void Flush() {
        out->insert(out->end(), buffer.begin(), buffer.begin() + used);
        used = 0;
    }
    explicit BufferStream(std::vector<uint8_t>* o) : out(o) {
        bs.request = Request;
        bs.commit = Commit;
        bs.buffer_size = Size;
        bs.state = this;
    }
};
}  // namespace

bool EncodeBuffer(const AudovaSettings& s, const std::vector<int16_t>& pcm, std::vector<uint8_t>* out,
                  size_t chunkBytes) {
    out->clear();
    BufferStream stream(out);
    AudovaHandle h = AudovaCreate(nullptr, &s, nullptr, 0xFFFF, s.sample_rate);
    if (!h) return false;
    bool ok = AudovaStart(h, &stream.bs) == 0;
    std::vector<uint8_t> bytes(pcm.size() * 2);
    for (size_t i = 0; i < pcm.size(); ++i) {
        bytes[2 * i] = static_cast<uint8_t>(pcm[i]);
        bytes[2 * i + 1] = static_cast<uint8_t>(static_cast<uint16_t>(pcm[i]) >> 8);
    }
    for (size_t at = 0; ok && at < bytes.size(); at += chunkBytes)
        ok = AudovaEncode(h, bytes.data() + at, static_cast<uint32_t>(std::min(chunkBytes, bytes.size() - at))) == 0;
    ok = AudovaDone(h, ok ? 0 : 1) == 0 && ok;
    AudovaFree(h);
    stream.Flush();
    return ok;
}

int Shell(const std::string& command, std::string* output) {
    FILE* p = popen((command + " 2>&1").c_str(), "r");
    if (!p) return -1;
    std::string text;
    char buf[4096];
    size_t n;
    while ((n = fread(buf, 1, sizeof buf, p)) > 0) text.append(buf, n);
    const int status = pclose(p);
    if (output) *output = text;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

bool HaveFfmpeg() {
    static const bool have = Shell("ffmpeg -version >/dev/null && ffprobe -version >/dev/null") == 0;
    return have;
}

namespace {
std::string g_tempDir;
void RemoveTempDir() {
    if (g_tempDir.rfind("/tmp/audova-test-", 0) == 0) Shell("rm -rf '" + g_tempDir + "'");
}
}  // namespace

std::string TempDir() {
    if (g_tempDir.empty()) {
        char tmpl[] = "/tmp/audova-test-XXXXXX";
        const char* d = mkdtemp(tmpl);
        g_tempDir = d ? d : "/tmp";
        if (d) std::atexit(RemoveTempDir);
    }
    return g_tempDir;
}

bool WriteFile(const std::string& path, const std::vector<uint8_t>& bytes) {
    FILE* f = std::fopen(path.c_str(), "wb");
    if (!f) return false;
    const bool ok = std::fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
    return std::fclose(f) == 0 && ok;
}

std::vector<uint8_t> ReadFile(const std::string& path) {
    std::vector<uint8_t> out;
    FILE* f = std::fopen(path.c_str(), "rb");
    if (!f) return out;
    uint8_t buf[65536];
    size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, f)) > 0) out.insert(out.end(), buf, buf + n);
    std::fclose(f);
    return out;
}

std::vector<int16_t> ReadRaw(const std::string& path) {
    const std::vector<uint8_t> bytes = ReadFile(path);
    std::vector<int16_t> out(bytes.size() / 2);
    for (size_t i = 0; i < out.size(); ++i) out[i] = static_cast<int16_t>(bytes[2 * i] | (bytes[2 * i + 1] << 8));
    return out;
}

double Snr(const std::vector<int16_t>& reference, const std::vector<int16_t>& decoded, int channels, int maxDelay) {
    const size_t n = reference.size() / channels, m = decoded.size() / channels;
    const size_t skip = 1024, window = 2048;
    if (n < 2 * skip + 2 * window) return -100.0;
    // Find the delay on a stretch in the middle, then measure everywhere.
    auto error = [&](int delay, size_t from, size_t to, double* signal) {
        double s = 0.0, e = 0.0;
        for (size_t i = from; i < to && i + delay < m; ++i)
            for (int c = 0; c < channels; ++c) {
                const double x = reference[i * channels + c], y = decoded[(i + delay) * channels + c];
                s += x * x;
                e += (x - y) * (x - y);
            }
        if (signal) *signal = s;
        return e;
    };
    int best = 0;
    double bestError = -1.0;
    for (int d = 0; d <= maxDelay; ++d) {
        const double e = error(d, n / 2, n / 2 + window, nullptr);
        if (bestError < 0 || e < bestError) {
            bestError = e;
            best = d;
        }
    }
    double signal = 0.0;
    const double e = error(best, skip, n - skip, &signal);
    return 10.0 * std::log10(signal / (e + 1e-9));
}

}  // namespace audova_test
