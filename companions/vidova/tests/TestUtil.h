// Helpers shared by the engine tests: settings, encoding into memory, and
// the ffmpeg/ffprobe oracle.
#pragma once
#include "companions/vidova/FileOutput.h"
#include "codec/common/engine/vidova.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include <unistd.h>

namespace vt {

inline VidovaSettings settings(int type, int w, int h, int rateCode, double bitrate, int mode = 0) {
    VidovaSettings s{};
    VidovaDefaults(&s, type, 1);
    vidova_set_int(&s, VIDOVA_B_WIDTH, w);
    vidova_set_int(&s, VIDOVA_B_HEIGHT, h);
    s.w[VIDOVA_W_DISPLAY_WIDTH] = uint32_t(w);
    s.w[VIDOVA_W_DISPLAY_HEIGHT] = uint32_t(h);
    s.w[VIDOVA_W_FRAME_RATE_CODE] = uint32_t(rateCode);
    s.w[VIDOVA_W_RC_MODE] = uint32_t(mode);
    vidova_set_double(&s, VIDOVA_B_BITRATE, bitrate);
    vidova_set_double(&s, VIDOVA_B_RC_BITRATE, bitrate);
    vidova_set_double(&s, VIDOVA_B_MAX_BITRATE, bitrate * 1.5);
    vidova_set_double(&s, VIDOVA_B_MIN_BITRATE, bitrate / 3);
    return s;
}

inline std::string shell(const std::string& cmd, int* rc = nullptr) {
    std::string out;
    FILE* p = popen(cmd.c_str(), "r");
    if (!p) return out;
    char buf[4096];
    size_t n;
    while ((n = fread(buf, 1, sizeof buf, p)) > 0) out.append(buf, n);
    int status = pclose(p);
    if (rc) *rc = status;
    return out;
}

inline bool haveFfmpeg() {
    static int have = -1;
    if (have < 0) have = std::system("ffmpeg -version >/dev/null 2>&1 && ffprobe -version >/dev/null 2>&1") == 0;
    return have == 1;
}

// Per process (several test runs may share the temporary folder), removed at exit.
struct TempFiles {
    std::vector<std::string> paths;
    ~TempFiles() {
        for (const auto& p : paths) std::remove(p.c_str());
    }
};
inline TempFiles g_tempFiles;
inline std::string tempPath(const std::string& name) {
    std::string p = ::testing::TempDir() + "vidova_" + std::to_string(getpid()) + "_" + name;
    g_tempFiles.paths.push_back(p);
    return p;
}

inline std::vector<uint8_t> readFile(const std::string& path) {
    std::ifstream f(path, std::ios::binary);
    return std::vector<uint8_t>(std::istreambuf_iterator<char>(f), {});
}

inline void writeFile(const std::string& path, const std::vector<uint8_t>& data) {
    std::ofstream f(path, std::ios::binary);
    f.write(reinterpret_cast<const char*>(data.data()), std::streamsize(data.size()));
}

inline size_t i420Size(int w, int h) {
    return size_t(w) * h + 2 * size_t((w + 1) / 2) * ((h + 1) / 2);
}

// Luma PSNR between two I420 frame sequences of the same geometry.
inline double psnrY(const std::vector<uint8_t>& a, const std::vector<uint8_t>& b, int w, int h) {
    size_t fs = i420Size(w, h), frames = std::min(a.size(), b.size()) / fs;
    double sse = 0;
    for (size_t f = 0; f < frames; f++)
        for (size_t i = 0; i < size_t(w) * h; i++) {
            double d = double(a[f * fs + i]) - b[f * fs + i];
            sse += d * d;
        }
    if (!frames) return 0;
    double mse = sse / (double(frames) * w * h);
    return mse <= 1e-12 ? 99 : 10 * std::log10(255.0 * 255.0 / mse);
}

// Encodes I420 frames through the engine into memory.
struct Encoded {
    vidova::MemoryOutput out;
    std::vector<uint8_t> stream() const {
        std::vector<uint8_t> s;
        for (const auto& u : out.units) s.insert(s.end(), u.begin(), u.end());
        return s;
    }
};

inline void encodeI420(const VidovaSettings& s, const std::vector<uint8_t>& yuv, int w, int h, Encoded& e,
                       double fps = 25) {
    vidova_handle hd = VidovaCreate(nullptr, &s, 0, -1, 0, 0);
    ASSERT_NE(hd, nullptr);
    ASSERT_EQ(VidovaStart(hd, &e.out.bs, 0, nullptr), 0);
    size_t fs = i420Size(w, h);
    for (size_t f = 0; f * fs + fs <= yuv.size(); f++) {
        VidovaTimes t{int64_t(f * 1e7 / fps), int64_t((f + 1) * 1e7 / fps), 0};
        void* opts[1] = {&t};
        ASSERT_EQ(VidovaPutFrame(hd, yuv.data() + f * fs, w, w, h, VIDOVA_FOURCC('I', '4', '2', '0'),
                                 VIDOVA_FRAME_TIMES, opts),
                  0);
    }
    EXPECT_EQ(VidovaDone(hd, 0), 0);
    VidovaFree(hd);
}

// Decodes a stream with ffmpeg in its strictest mode; returns its messages.
inline std::string decode(const std::string& stream, const std::string& yuvOut) {
    return shell("ffmpeg -nostdin -v error -err_detect explode -i '" + stream +
                 "' -vsync passthrough -f rawvideo -pix_fmt yuv420p -y '" + yuvOut + "' 2>&1");
}

inline std::string lavfi(const std::string& graph, int w, int h, int fps, double secs, const std::string& out) {
    char cmd[1024];
    std::snprintf(
        cmd, sizeof cmd,
        "ffmpeg -nostdin -v error -f lavfi -i '%s' -s %dx%d -r %d -t %.2f -pix_fmt yuv420p -f rawvideo -y '%s' "
        "2>&1",
        graph.c_str(), w, h, fps, secs, out.c_str());
    return shell(cmd);
}

// A desktop: static windows with hard edges and a grid of text-like marks, and
// one area that moves.
inline std::string screenGraph(int w, int h, int fps) {
    char g[768];
    std::snprintf(g, sizeof g,
                  "color=c=0xD8D8D8:s=%dx%d:r=%d,drawbox=x=16:y=16:w=%d:h=%d:c=white:t=fill,"
                  "drawbox=x=16:y=16:w=%d:h=14:c=0x203080:t=fill,drawgrid=x=20:y=36:w=7:h=11:t=1:c=black@0.8,"
                  "drawbox=x=%d:y=%d:w=%d:h=%d:c=0x303030:t=fill[bg];"
                  "testsrc2=s=%dx%d:r=%d[mv];[bg][mv]overlay=x=%d:y=%d",
                  w, h, fps, w / 2, h * 2 / 3, w / 2, w / 2 + 40, 20, w / 2 - 60, h / 3, w / 4, h / 4, fps, w / 2 + 50,
                  h / 2);
    return g;
}

}  // namespace vt
