// encode-video: raw I420 file in, MPEG-1/MPEG-2 elementary stream out.
#include "companions/vidova/Config.h"
#include "companions/vidova/FileOutput.h"
#include "companions/vidova/Simd.h"
#include "codec/common/engine/vidova.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

namespace {

const char kUsage[] =
    "usage: encode-video --size WxH --fps F --bitrate KBPS [--gop N] [--bframes N] [--mpeg1] [--cbr | --vbr]\n"
    "                    [--maxrate KBPS] [--minrate KBPS] [--cq QI,QP] [--range PELS] [--scene] [--aq]\n"
    "                    [--plain] [--psnr] IN.yuv OUT.m2v\n"
    "  IN.yuv holds I420 pictures of WxH (the width even), one after the other.\n"
    "  --cq codes with constant quantisers (1 to 31) and needs no --bitrate.\n"
    "  --minrate is the least rate of VBR (default a third of --bitrate, 0 none); --scene starts a GOP at\n"
    "  each scene cut; --aq turns on adaptive quantisation (activity masking); --plain runs the plain C++\n"
    "  kernels instead of the SSE2 ones (the same stream, slower).\n";

// Exit codes: 1 the coding failed, 2 the command line is wrong.
constexpr int kFailed = 1;
constexpr int kBadArguments = 2;
constexpr int kMaxGop = 1000, kMaxBFrames = 7, kMaxRange = 31, kMaxQuant = 31;

int BUFSTREAM_CALL printError(const char* fmt, ...) {
    std::va_list ap;
    va_start(ap, fmt);
    std::fputs("encode-video: ", stderr);
    int n = std::vfprintf(stderr, fmt, ap);
    std::fputc('\n', stderr);
    va_end(ap);
    return n;
}

void* BUFSTREAM_CALL lookup(const char* name) {
    return std::strcmp(name, "err_printf") == 0 ? reinterpret_cast<void*>(&printError) : nullptr;
}

[[noreturn]] void badArguments(const std::string& why) {
    std::fprintf(stderr, "encode-video: %s\n%s", why.c_str(), kUsage);
    std::exit(kBadArguments);
}

bool parseInt(const char* text, int lo, int hi, int* out) {
    char* end = nullptr;
    errno = 0;
    long v = std::strtol(text, &end, 10);
    if (errno || end == text || *end || v < lo || v > hi) return false;
    *out = int(v);
    return true;
}

bool parsePositive(const char* text, double* out) {
    char* end = nullptr;
    double v = std::strtod(text, &end);
    if (end == text || *end || !std::isfinite(v) || v <= 0) return false;
    *out = v;
    return true;
}

int frameRateCode(double fps) {
    static const double rates[9] = {0, 24000.0 / 1001, 24, 25, 30000.0 / 1001, 30, 50, 60000.0 / 1001, 60};
    int best = 3;
    for (int i = 1; i <= 8; i++)
        if (std::fabs(rates[i] - fps) < std::fabs(rates[best] - fps)) best = i;
    return best;
}

}  // namespace

int main(int argc, char** argv) {
    int width = 0, height = 0, gop = 12, range = 31, qi = 0, qp = 0, bframes = 0;
    double fps = 0, kbps = 0, maxKbps = 0, minKbps = 0;
    bool mpeg1 = false, psnr = false, scene = false, aq = false;
    int mode = 0;
    std::vector<const char*> files;
    for (int i = 1; i < argc; i++) {
        const std::string a = argv[i];
        auto next = [&]() -> const char* {
            if (i + 1 >= argc) badArguments(a + " needs a value");
            return argv[++i];
        };
        if (a == "--size") {
            const char* v = next();
            char tail = 0;
            if (std::sscanf(v, "%dx%d%c", &width, &height, &tail) != 2 || width <= 0 || height <= 0)
                badArguments(std::string("--size wants WxH, not '") + v + "'");
        } else if (a == "--fps") {
            const char* v = next();
            if (!parsePositive(v, &fps)) badArguments(std::string("--fps wants a positive rate, not '") + v + "'");
        } else if (a == "--bitrate" || a == "--maxrate" || a == "--minrate") {
            const char* v = next();
            if (a == "--minrate" && std::strcmp(v, "0") == 0)
                minKbps = -1;  // no minimum
            else if (!parsePositive(v, a == "--bitrate" ? &kbps : a == "--maxrate" ? &maxKbps : &minKbps))
                badArguments(a + " wants a positive kbit/s figure, not '" + v + "'");
        } else if (a == "--gop") {
            const char* v = next();
            if (!parseInt(v, 1, kMaxGop, &gop))
                badArguments(std::string("--gop wants 1 to ") + std::to_string(kMaxGop) + ", not '" + v + "'");
        } else if (a == "--bframes") {
            const char* v = next();
            if (!parseInt(v, 0, kMaxBFrames, &bframes))
                badArguments(std::string("--bframes wants 0 to ") + std::to_string(kMaxBFrames) + ", not '" + v + "'");
        } else if (a == "--range") {
            const char* v = next();
            if (!parseInt(v, 0, kMaxRange, &range))
                badArguments(std::string("--range wants 0 to ") + std::to_string(kMaxRange) + ", not '" + v + "'");
        } else if (a == "--mpeg1") {
            mpeg1 = true;
        } else if (a == "--cbr") {
            mode = 1;
        } else if (a == "--vbr") {
            mode = 0;
        } else if (a == "--cq") {
            const char* v = next();
            char tail = 0;
            if (std::sscanf(v, "%d,%d%c", &qi, &qp, &tail) != 2 || qi < 1 || qi > kMaxQuant || qp < 1 || qp > kMaxQuant)
                badArguments(std::string("--cq wants QI,QP, each 1 to 31, not '") + v + "'");
            mode = 3;
        } else if (a == "--psnr") {
            psnr = true;
        } else if (a == "--scene") {
            scene = true;
        } else if (a == "--aq") {
            aq = true;
        } else if (a == "--plain") {
            vidova::setSimdEnabled(false);
        } else if (a == "-h" || a == "--help") {
            std::fputs(kUsage, stdout);
            return 0;
        } else if (a.size() > 1 && a[0] == '-') {
            badArguments("unknown option " + a);
        } else {
            files.push_back(argv[i]);
        }
    }
    if (files.size() != 2) badArguments("wants an input and an output file, got " + std::to_string(files.size()));
    if (!width) badArguments("--size is required");
    if (fps <= 0) badArguments("--fps is required");
    if (kbps <= 0 && mode != 3) badArguments("--bitrate is required (or --cq)");
    // The engine reads I420 chroma lines of half the luma line: an odd width
    // has no such layout, and every picture would be refused.
    if (width % 2 != 0) {
        std::fprintf(stderr, "encode-video: %dx%d cannot be coded from I420: the width must be even\n", width, height);
        return kFailed;
    }
    VidovaSettings s{};
    int type = mpeg1 ? 0 : 2;
    VidovaDefaults(&s, type, 1);
    vidova_set_int(&s, VIDOVA_B_WIDTH, width);
    vidova_set_int(&s, VIDOVA_B_HEIGHT, height);
    s.w[VIDOVA_W_DISPLAY_WIDTH] = uint32_t(width);
    s.w[VIDOVA_W_DISPLAY_HEIGHT] = uint32_t(height);
    int code = frameRateCode(fps);
    s.w[VIDOVA_W_FRAME_RATE_CODE] = uint32_t(code);
    s.w[VIDOVA_W_VIDEO_FORMAT] = (code == 3 || code == 6) ? 1 : (code == 4 || code == 7) ? 2 : 5;
    s.w[VIDOVA_W_GOP_LENGTH] = uint32_t(gop);
    s.w[VIDOVA_W_RC_MODE] = uint32_t(mode);
    s.w[VIDOVA_W_ASPECT] = 1;
    s.w[VIDOVA_W_SEARCH_RANGE] = uint32_t(range);
    s.w[VIDOVA_W_REF_DISTANCE] = uint32_t(bframes + 1);
    double bitrate = kbps * 1000, maxrate = maxKbps > 0 ? maxKbps * 1000 : bitrate * 1.5;
    if (mode == 3) {
        s.w[VIDOVA_W_QUANTISERS] = (uint32_t(qi) + uint32_t(qp) * 256u + uint32_t(qp + 2) * 65536u) * 256u;
        if (bitrate <= 0) bitrate = maxrate = 15e6;
    }
    vidova_set_double(&s, VIDOVA_B_BITRATE, bitrate);
    vidova_set_double(&s, VIDOVA_B_RC_BITRATE, bitrate);
    vidova_set_double(&s, VIDOVA_B_MAX_BITRATE, maxrate);
    vidova_set_double(&s, VIDOVA_B_MIN_BITRATE, minKbps > 0 ? minKbps * 1000 : minKbps < 0 ? 0 : bitrate / 3);
    vidova_set_int(&s, VIDOVA_B_CALC_PSNR, psnr ? 1 : 0);
    if (scene) s.w[VIDOVA_W_FLAGS] |= 0x10;  // "Scene change detection" Fast
    if (aq) s.w[VIDOVA_W_FLAGS] |= vidova::kFlagAdaptiveQuant;
    if (!mpeg1) {
        // Smallest Main-profile level that holds the picture and rate; 4:2:2 profile beyond.
        double top = mode == 1 ? bitrate : maxrate;
        int level = 8;
        if (width > 720 || height > 576 || code > 5 || top > 15e6) level = 6;
        if (width > 1440 || top > 60e6) level = 4;
        s.w[VIDOVA_W_PROFILE] = 4;
        s.w[VIDOVA_W_LEVEL] = uint32_t(level);
        if (width > 1920 || height > 1152 || top > 80e6) {
            s.w[VIDOVA_W_PROFILE] = 7;
            s.w[VIDOVA_W_LEVEL] = 15;
        }
    }
    if (VidovaCheckSettings(lookup, &s, 0, 0) != 0) return kFailed;
    vidova_handle h = VidovaCreate(lookup, &s, 0, -1, 0, 0);
    if (!h) return kFailed;
    std::FILE* in = std::fopen(files[0], "rb");
    if (!in) {
        std::fprintf(stderr, "encode-video: cannot open %s: %s\n", files[0], std::strerror(errno));
        VidovaFree(h);
        return kFailed;
    }
    std::FILE* outFile = std::fopen(files[1], "wb");
    if (!outFile) {
        std::fprintf(stderr, "encode-video: cannot create %s: %s\n", files[1], std::strerror(errno));
        std::fclose(in);
        VidovaFree(h);
        return kFailed;
    }
    vidova::MemoryOutput out(std::max<uint32_t>(uint32_t(width) * uint32_t(height) * 2, 1u << 20));
    out.file = outFile;
    if (VidovaStart(h, &out.bs, 0, nullptr) != 0) {
        std::fprintf(stderr, "encode-video: the engine did not start\n");
        std::fclose(in);
        std::fclose(outFile);
        VidovaFree(h);
        return kFailed;
    }
    const size_t frameBytes = size_t(width) * height + 2 * (size_t((width + 1) / 2) * ((height + 1) / 2));
    // Not cleared: the reads fill it. Whole pictures are read straight into
    // it, without passing through a stdio buffer.
    std::unique_ptr<uint8_t[]> frame(new uint8_t[frameBytes]);
    std::setvbuf(in, nullptr, _IONBF, 0);
    const double frameTime = 1e7 / fps;
    int64_t coded = 0;
    bool refused = false;
    auto t0 = std::chrono::steady_clock::now();
    while (!out.writeError && std::fread(frame.get(), 1, frameBytes, in) == frameBytes) {
        VidovaTimes times{int64_t(coded * frameTime), int64_t((coded + 1) * frameTime), 0};
        void* opts[1] = {&times};
        if (VidovaPutFrame(h, frame.get(), width, width, height, VIDOVA_FOURCC('I', '4', '2', '0'), VIDOVA_FRAME_TIMES,
                           opts) != 0) {
            std::fprintf(stderr, "encode-video: the engine refused picture %lld\n", static_cast<long long>(coded));
            refused = true;
            break;
        }
        coded++;
    }
    const bool readError = std::ferror(in) != 0;
    const bool finished = VidovaDone(h, refused ? 1 : 0) == 0;
    double secs = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    VidovaFree(h);
    std::fclose(in);
    // Buffered bytes reach the file only here: a full disk may show up now.
    errno = 0;
    if (std::fflush(outFile) != 0 && !out.writeError) out.writeError = errno ? errno : EIO;
    long size = std::ftell(outFile);
    errno = 0;
    if (std::fclose(outFile) != 0 && !out.writeError) out.writeError = errno ? errno : EIO;
    if (out.writeError) {
        std::fprintf(stderr, "encode-video: writing %s failed: %s\n", files[1], std::strerror(out.writeError));
        return kFailed;
    }
    if (readError) {
        std::fprintf(stderr, "encode-video: reading %s failed\n", files[0]);
        return kFailed;
    }
    if (refused || !finished) return kFailed;
    if (coded == 0) {
        std::fprintf(stderr, "encode-video: %s holds no whole %dx%d picture\n", files[0], width, height);
        return kFailed;
    }
    double kbit = double(size) * 8 / (double(coded) / fps) / 1000;
    std::fprintf(stderr, "encode-video: %lld frames, %.1f fps, %.1f kbit/s", static_cast<long long>(coded),
                 secs > 0 ? double(coded) / secs : 0.0, kbit);
    if (psnr) std::fprintf(stderr, ", PSNR-Y %.2f dB", out.lastPsnr);
    std::fprintf(stderr, "\n");
    return 0;
}
