// encode-video: raw I420 file in, MPEG-1/MPEG-2 elementary stream out.
#include "companions/vidova/FileOutput.h"
#include "companions/vidova/vidova.h"

#include <chrono>
#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

void usage() {
    std::fprintf(
        stderr,
        "usage: encode-video --size WxH --fps F --bitrate KBPS [--gop N] [--bframes N] [--mpeg1] [--cbr | --vbr]\n"
        "                    [--maxrate KBPS] [--cq QI,QP] [--range PELS] [--psnr] IN.yuv OUT.m2v\n");
}

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
    double fps = 0, kbps = 0, maxKbps = 0;
    bool mpeg1 = false, psnr = false;
    int mode = 0;
    std::vector<const char*> files;
    for (int i = 1; i < argc; i++) {
        std::string a = argv[i];
        auto next = [&]() -> const char* {
            if (i + 1 >= argc) {
                usage();
                std::exit(2);
            }
            return argv[++i];
        };
        if (a == "--size") {
            if (std::sscanf(next(), "%dx%d", &width, &height) != 2) width = 0;
        } else if (a == "--fps") {
            fps = std::atof(next());
        } else if (a == "--bitrate") {
            kbps = std::atof(next());
        } else if (a == "--maxrate") {
            maxKbps = std::atof(next());
        } else if (a == "--gop") {
            gop = std::atoi(next());
        } else if (a == "--bframes") {
            bframes = std::atoi(next());
        } else if (a == "--range") {
            range = std::atoi(next());
        } else if (a == "--mpeg1") {
            mpeg1 = true;
        } else if (a == "--cbr") {
            mode = 1;
        } else if (a == "--vbr") {
            mode = 0;
        } else if (a == "--cq") {
            if (std::sscanf(next(), "%d,%d", &qi, &qp) != 2) qi = 0;
            mode = 3;
        } else if (a == "--psnr") {
            psnr = true;
        } else if (a == "-h" || a == "--help") {
            usage();
            return 0;
        } else {
            files.push_back(argv[i]);
        }
    }
    if (files.size() != 2 || width <= 0 || height <= 0 || fps <= 0 || (kbps <= 0 && mode != 3)) {
        usage();
        return 2;
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
    vidova_set_double(&s, VIDOVA_B_MIN_BITRATE, bitrate / 3);
    vidova_set_int(&s, VIDOVA_B_CALC_PSNR, psnr ? 1 : 0);
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
    if (VidovaCheckSettings(lookup, &s, 0, 0) != 0) return 1;
    vidova_handle h = VidovaCreate(lookup, &s, 0, -1, 0, 0);
    if (!h) return 1;
    std::FILE* in = std::fopen(files[0], "rb");
    if (!in) {
        std::fprintf(stderr, "encode-video: cannot open %s\n", files[0]);
        VidovaFree(h);
        return 1;
    }
    std::FILE* outFile = std::fopen(files[1], "wb");
    if (!outFile) {
        std::fprintf(stderr, "encode-video: cannot create %s\n", files[1]);
        std::fclose(in);
        VidovaFree(h);
        return 1;
    }
    vidova::MemoryOutput out(std::max<uint32_t>(uint32_t(width) * uint32_t(height) * 2, 1u << 20));
    out.file = outFile;
    if (VidovaStart(h, &out.bs, 0, nullptr) != 0) return 1;
    const size_t frameBytes = size_t(width) * height + 2 * (size_t((width + 1) / 2) * ((height + 1) / 2));
    std::vector<uint8_t> frame(frameBytes);
    const double frameTime = 1e7 / fps;
    int64_t n = 0;
    auto t0 = std::chrono::steady_clock::now();
    while (std::fread(frame.data(), 1, frameBytes, in) == frameBytes) {
        VidovaTimes times{int64_t(n * frameTime), int64_t((n + 1) * frameTime), 0};
        void* opts[1] = {&times};
        VidovaPutFrame(h, frame.data(), width, width, height, VIDOVA_FOURCC('I', '4', '2', '0'), VIDOVA_FRAME_TIMES,
                       opts);
        n++;
    }
    VidovaDone(h, 0);
    VidovaDone(h, 1);
    double secs = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    VidovaFree(h);
    std::fclose(in);
    long size = std::ftell(outFile);
    std::fclose(outFile);
    double kbit = n ? double(size) * 8 / (double(n) / fps) / 1000 : 0;
    std::fprintf(stderr, "encode-video: %lld frames, %.1f fps, %.1f kbit/s", static_cast<long long>(n),
                 secs > 0 ? double(n) / secs : 0.0, kbit);
    if (psnr) std::fprintf(stderr, ", PSNR-Y %.2f dB", out.lastPsnr);
    std::fprintf(stderr, "\n");
    return n > 0 ? 0 : 1;
}
