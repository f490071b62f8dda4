// The command-line driver's answers to wrong command lines, to sizes the
// engine cannot code and to failed writes.
#include "companions/vidova/tests/TestUtil.h"

#include <sys/wait.h>

#include <string>

namespace {

struct DriverRun {
    int exitCode;
    std::string output;  // stdout and stderr
};

DriverRun drive(const std::string& args) {
    int status = 0;
    std::string out = vt::shell(std::string(ENCODE_VIDEO_EXE) + " " + args + " 2>&1", &status);
    return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, out};
}

// Grey I420 pictures of a size, as the driver reads them.
std::string greyClip(const std::string& name, int w, int h, int frames) {
    std::string path = vt::tempPath(name);
    vt::writeFile(path, std::vector<uint8_t>(vt::i420Size(w, h) * size_t(frames), 128));
    return path;
}

TEST(VidovaDriver, HelpAndWrongCommandLines) {
    DriverRun help = drive("--help");
    EXPECT_EQ(0, help.exitCode);
    EXPECT_NE(std::string::npos, help.output.find("usage: encode-video")) << help.output;
    const std::string in = greyClip("args.yuv", 16, 16, 1), out = vt::tempPath("args.m2v");
    struct Case {
        const char* args;
        const char* says;
    } cases[] = {
        {"--bogus", "unknown option --bogus"},
        {"--size abc --fps 25 --bitrate 600", "--size wants WxH, not 'abc'"},
        {"--size 16x16 --fps fast --bitrate 600", "--fps wants a positive rate, not 'fast'"},
        {"--size 16x16 --fps 25 --bitrate -3", "--bitrate wants a positive kbit/s figure"},
        {"--size 16x16 --fps 25 --bitrate 600 --gop 0", "--gop wants 1 to"},
        {"--size 16x16 --fps 25 --cq 2", "--cq wants QI,QP"},
        {"--size 16x16 --fps 25", "--bitrate is required"},
    };
    for (const Case& c : cases) {
        DriverRun r = drive(std::string(c.args) + " '" + in + "' '" + out + "'");
        EXPECT_EQ(2, r.exitCode) << c.args;
        EXPECT_NE(std::string::npos, r.output.find(c.says)) << c.args << ": " << r.output;
        EXPECT_NE(std::string::npos, r.output.find("usage:")) << c.args;
    }
    DriverRun last = drive("--size 16x16 --fps 25 --bitrate 600 --gop");
    EXPECT_EQ(2, last.exitCode);
    EXPECT_NE(std::string::npos, last.output.find("--gop needs a value")) << last.output;
    DriverRun oneFile = drive("--size 16x16 --fps 25 --bitrate 600 '" + in + "'");
    EXPECT_EQ(2, oneFile.exitCode);
    EXPECT_NE(std::string::npos, oneFile.output.find("an input and an output file")) << oneFile.output;
}

// Sizes the engine refuses are refused before anything is read or written;
// nothing is counted as coded that was not.
TEST(VidovaDriver, SizesTheEngineCannotCodeAreRefusedUpFront) {
    for (const char* size : {"65x49", "1x1"}) {
        SCOPED_TRACE(size);
        int w = 0, h = 0;
        ASSERT_EQ(2, std::sscanf(size, "%dx%d", &w, &h));
        const std::string in = greyClip(std::string("odd_") + size + ".yuv", w, h, 3);
        const std::string out = vt::tempPath(std::string("odd_") + size + ".m2v");
        std::remove(out.c_str());
        DriverRun r = drive(std::string("--size ") + size + " --fps 25 --bitrate 600 '" + in + "' '" + out + "'");
        EXPECT_EQ(1, r.exitCode) << r.output;
        EXPECT_NE(std::string::npos, r.output.find("width must be even")) << r.output;
        EXPECT_EQ(std::string::npos, r.output.find("frames,")) << r.output;
        EXPECT_TRUE(vt::readFile(out).empty());
    }
    // An even width with an odd height is coded, every picture of it.
    const std::string in = greyClip("even.yuv", 64, 49, 3), out = vt::tempPath("even.m2v");
    DriverRun r = drive("--size 64x49 --fps 25 --bitrate 600 '" + in + "' '" + out + "'");
    EXPECT_EQ(0, r.exitCode) << r.output;
    EXPECT_NE(std::string::npos, r.output.find("encode-video: 3 frames,")) << r.output;
    EXPECT_FALSE(vt::readFile(out).empty());
}

// A full disk is a failure with its reason, not a frame count.
TEST(VidovaDriver, WriteFailuresAreReported) {
    FILE* full = std::fopen("/dev/full", "wb");
    if (!full) GTEST_SKIP() << "no /dev/full";
    std::fclose(full);
    const std::string in = greyClip("full.yuv", 64, 48, 5);
    DriverRun r = drive("--size 64x48 --fps 25 --bitrate 600 '" + in + "' /dev/full");
    EXPECT_EQ(1, r.exitCode) << r.output;
    EXPECT_NE(std::string::npos, r.output.find("writing /dev/full failed: No space left on device")) << r.output;
    EXPECT_EQ(std::string::npos, r.output.find("frames,")) << r.output;
}

// The script in tools/ passes --help through to the driver it builds.
TEST(VidovaDriver, ScriptPrintsUsage) {
    const std::string exe = ENCODE_VIDEO_EXE;
    const std::string build = exe.substr(0, exe.rfind("/bin/"));
    const std::string script = std::string(KORVELL_SOURCE_DIR) + "/tools/encode-video";
    int status = 0;
    std::string out = vt::shell("VIDOVA_BUILD='" + build + "' '" + script + "' --help 2>/dev/null", &status);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    EXPECT_NE(std::string::npos, out.find("usage: encode-video")) << out;
}

}  // namespace
