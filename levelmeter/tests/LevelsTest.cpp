#include "levelmeter/core/Levels.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace wavrel {
namespace {

constexpr std::size_t kFrames = kBufferBytes / 4;  // one capture buffer
const double kPi = std::acos(-1.0);

std::vector<std::int16_t> Stereo(double (*wave)(std::size_t, double), double amplitude) {
    std::vector<std::int16_t> samples(kFrames * 2);
    for (std::size_t i = 0; i < kFrames; ++i)
        samples[2 * i] = samples[2 * i + 1] = static_cast<std::int16_t>(wave(i, amplitude));
    return samples;
}
double Sine(std::size_t i, double amplitude) {
    return amplitude * std::sin(2 * kPi * 1000.0 * static_cast<double>(i) / kSampleRate);
}
double Square(std::size_t i, double) {
    return (i / 22) % 2 ? -32768.0 : 32767.0;
}

// The RMS level in dBFS that ffmpeg's astats reports for the same samples;
// NAN when ffmpeg is not there.
double ToolRmsDbfs(const std::vector<std::int16_t>& samples) {
    char path[] = "/tmp/levelmeter-XXXXXX";
    const int fd = mkstemp(path);
    if (fd < 0) return NAN;
    FILE* out = fdopen(fd, "wb");
    if (!out) return NAN;
    std::fwrite(samples.data(), sizeof(std::int16_t), samples.size(), out);
    std::fclose(out);
    const std::string command =
        std::string("ffmpeg -hide_banner -nostats -f s16le -ar 44100 -ac 2 -i ") + path + " -af astats -f null - 2>&1";
    FILE* pipe = popen(command.c_str(), "r");
    double last = NAN;
    if (pipe) {
        char line[512];
        while (std::fgets(line, sizeof line, pipe)) {
            const char* at = std::strstr(line, "RMS level dB: ");
            if (at) last = std::atof(at + 14);  // the overall value comes last
        }
        pclose(pipe);
    }
    std::remove(path);
    return last;
}

TEST(Levels, SilenceReadsZero) {
    const std::vector<std::int16_t> silence(kFrames * 2, 0);
    bool valid = false;
    const Levels l = ComputeLevels(silence.data(), kBufferBytes, &valid);
    EXPECT_TRUE(valid);
    EXPECT_EQ(l.left, 0);
    EXPECT_EQ(l.right, 0);
}

TEST(Levels, FullScaleSquareReads90Point3WithoutOverflow) {
    // 4096 squares of 32768 exceed 32 bits: a narrow sum reads far too low.
    const Levels l = ComputeLevels(Stereo(Square, 0).data(), kBufferBytes);
    EXPECT_NEAR(l.left, 90.3, 0.05);
    EXPECT_NEAR(l.right, 90.3, 0.05);
}

TEST(Levels, SinesMatchTheRmsOfAnOutsideTool) {
    for (const double dbfs : {-6.0, -20.0, -40.0}) {
        const std::vector<std::int16_t> s = Stereo(Sine, 32767.0 * std::pow(10.0, dbfs / 20));
        const Levels l = ComputeLevels(s.data(), kBufferBytes);
        // A sine's RMS lies 3.01 dB under its peak; 0 dBFS is 32768.
        const double expected = 20 * std::log10(32768.0) + dbfs - 3.0103;
        EXPECT_NEAR(l.left, expected, 0.1) << dbfs;
        EXPECT_EQ(l.left, l.right);
        const double tool = ToolRmsDbfs(s);
        if (std::isnan(tool)) continue;
        EXPECT_NEAR(l.left, tool + 20 * std::log10(32768.0), 0.1) << dbfs;
    }
}

TEST(Levels, ChannelsApartAndOnlyCompleteFramesCount) {
    // Left loud, right quiet; a trailing half frame is left out.
    std::vector<std::int16_t> s = {1000, 10, -1000, -10, 7};
    bool valid = false;
    const Levels l = ComputeLevels(s.data(), s.size() * 2, &valid);
    EXPECT_TRUE(valid);
    EXPECT_NEAR(l.left, 60.0, 1e-9);
    EXPECT_NEAR(l.right, 20.0, 1e-9);
    // A buffer without a whole frame has no level.
    ComputeLevels(s.data(), 3, &valid);
    EXPECT_FALSE(valid);
    // Quiet input below 0 dB (RMS under 1) reads 0, not a negative level.
    const std::vector<std::int16_t> faint = {1, 0, 0, 0, 0, 0, 0, 0};
    EXPECT_EQ(ComputeLevels(faint.data(), 16).left, 0);
}

}  // namespace
}  // namespace wavrel
