// Transport streams under pressure: small output samples, and PCR inputs
// whose transport buffer fills in bursts. PCRs must stay within "PCR
// Interval (ms)" (ISO/IEC 13818-1 allows 100 ms at most).
#include "codec/multiplexer/FileMux.h"
#include "stream_check.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>

#include <unistd.h>

using namespace muxtest;

namespace {

// A folder of this process, removed at exit (kept with MUX_TEST_KEEP).
struct WorkDir {
    std::string path = std::string(MUX_TEST_WORK_DIR) + "/pressure-" + std::to_string(getpid());
    WorkDir() { (void)std::system(("mkdir -p '" + path + "'").c_str()); }
    ~WorkDir() {
        if (!std::getenv("MUX_TEST_KEEP")) (void)std::system(("rm -rf '" + path + "'").c_str());
    }
};

std::string WorkPath(const std::string& name) {
    static const WorkDir dir;
    return dir.path + "/" + name;
}

bool Ffmpeg(const std::string& args) {
    return std::system(("ffmpeg -hide_banner -loglevel error -nostdin -y " + args).c_str()) == 0;
}

Bytes ReadAll(const std::string& path) {
    std::ifstream f(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>());
}

struct PressureCase {
    const char* what;
    int32_t bufferSize;
    int32_t packetsPerSample;
    bool padding;
    bool ts192;
    int32_t pcrIntervalMs;
    int32_t bitrate;
    bool audioOnly;
};

}  // namespace

TEST(MuxOutputPressure, PcrIntervalHoldsUnderOutputPressure) {
    if (std::system("ffmpeg -version >/dev/null 2>&1") != 0) GTEST_SKIP() << "ffmpeg is not installed";
    const std::string video = WorkPath("v.m2v");
    const std::string audio = WorkPath("a.mp2");
    ASSERT_TRUE(
        Ffmpeg("-f lavfi -i testsrc=size=352x288:rate=25 -t 2 -c:v mpeg2video -b:v 3M -maxrate 3M "
               "-bufsize 1835k -g 12 -bf 2 -f mpeg2video '" +
               video + "'"));
    ASSERT_TRUE(Ffmpeg("-f lavfi -i sine=frequency=440:sample_rate=48000 -ac 2 -t 2 -c:a mp2 -b:a 192k -f mp2 '" +
                       audio + "'"));
    // A PCR input that sends in bursts fills its transport buffer; a PCR
    // due then must not wait there for room.
    const PressureCase cases[] = {
        {"one packet per sample, smallest buffer", 2047, 1, false, false, 50, 0, false},
        {"192-byte packets, buffer of one", 192, 100, false, true, 50, 0, false},
        {"audio alone at a high rate", 2047, 1, false, false, 10, 20000000, true},
        {"audio alone at a high rate, padding", 2047, 5, true, false, 10, 20000000, true},
        {"audio alone at a high rate, padding, longest interval", 2047, 5, true, false, 100, 20000000, true},
        {"video and audio at a high rate", 2047, 1, false, false, 10, 30000000, false},
    };
    for (const PressureCase& c : cases) {
        SCOPED_TRACE(c.what);
        muxcore::FileMuxJob job;
        job.settings.output = muxcore::kTransportStream;
        job.settings.outputBufferSize = c.bufferSize;
        job.settings.tsPacketsToDeliver = c.packetsPerSample;
        job.settings.usePadding = c.padding;
        job.settings.ts192 = c.ts192;
        job.settings.pcrIntervalMs = c.pcrIntervalMs;
        job.settings.requiredBitrate = c.bitrate;
        job.inputs = {{audio, muxcore::kPinFree}};
        if (!c.audioOnly) job.inputs.insert(job.inputs.begin(), {video, muxcore::kPinFree});
        job.output = WorkPath("pressure.ts");
        const muxcore::FileMuxResult r = muxcore::MuxFiles(job);
        ASSERT_TRUE(r.ok) << r.error;
        std::string error;
        const auto packets = ParseTransportStream(ReadAll(job.output), c.ts192 ? 192 : 188, error);
        ASSERT_EQ(error, "");
        uint64_t last = 0;
        size_t count = 0;
        uint64_t widest = 0;
        for (const TsPacket& t : packets) {
            if (!t.hasPcr) continue;
            if (count++ > 0) widest = std::max(widest, t.pcr - last);
            last = t.pcr;
        }
        EXPECT_GT(count, 2u * 1000 / static_cast<unsigned>(c.pcrIntervalMs) - 2);
        EXPECT_LE(widest, static_cast<uint64_t>(c.pcrIntervalMs) * 27000) << "PCRs further apart than the interval";
    }
}
