// 24-bit PCM in a program stream: the LPCM payload is laid out the way DVD
// LPCM decoders read it, so ffmpeg's pcm_dvd gives back the input samples.
#include "codec/multiplexer/FileMux.h"
#include "codec/multiplexer/LpcmFormat.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include <unistd.h>

namespace {

using Bytes = std::vector<uint8_t>;

// A folder of this process, removed at exit (kept with MUX_TEST_KEEP).
struct WorkDir {
    std::string path = std::string(MUX_TEST_WORK_DIR) + "/lpcm-" + std::to_string(getpid());
    WorkDir() { (void)std::system(("mkdir -p '" + path + "'").c_str()); }
    ~WorkDir() {
        if (!std::getenv("MUX_TEST_KEEP")) (void)std::system(("rm -rf '" + path + "'").c_str());
    }
};

std::string WorkPath(const std::string& name) {
    static const WorkDir dir;
    return dir.path + "/" + name;
}

void PutLe(Bytes& b, uint32_t v, int n) {
    for (int i = 0; i < n; ++i) b.push_back(static_cast<uint8_t>(v >> (8 * i)));
}

// A WAV file of 24-bit samples in which every byte of every sample differs
// from its neighbours', so a misplaced byte cannot go unnoticed.
Bytes Wav24(int channels, int frames, Bytes& samples) {
    samples.clear();
    for (int i = 0; i < frames; ++i)
        for (int c = 0; c < channels; ++c) {
            const uint32_t v = (static_cast<uint32_t>(i) * 0x10307 + static_cast<uint32_t>(c) * 0x51A3B) & 0xFFFFFF;
            PutLe(samples, v, 3);
        }
    const uint32_t rate = 48000;
    const uint32_t align = static_cast<uint32_t>(channels) * 3;
    Bytes w = {'R', 'I', 'F', 'F'};
    PutLe(w, static_cast<uint32_t>(36 + samples.size()), 4);
    w.insert(w.end(), {'W', 'A', 'V', 'E', 'f', 'm', 't', ' '});
    PutLe(w, 16, 4);
    PutLe(w, 1, 2);  // PCM
    PutLe(w, static_cast<uint32_t>(channels), 2);
    PutLe(w, rate, 4);
    PutLe(w, rate * align, 4);
    PutLe(w, align, 2);
    PutLe(w, 24, 2);
    w.insert(w.end(), {'d', 'a', 't', 'a'});
    PutLe(w, static_cast<uint32_t>(samples.size()), 4);
    w.insert(w.end(), samples.begin(), samples.end());
    return w;
}

Bytes ReadAll(const std::string& path) {
    std::ifstream f(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>());
}

}  // namespace

TEST(MuxLpcm, TwentyFourBitSamplesDecodeAsTheInput) {
    if (std::system("ffmpeg -version >/dev/null 2>&1") != 0) GTEST_SKIP() << "ffmpeg is not installed";
    // Frame counts leave a short last unit (of whole sample pairs). ffmpeg
    // reads more than two channels of 24 bits in groups of its own, so
    // those layouts are checked byte by byte below.
    const struct {
        int channels;
        int frames;
    } cases[] = {{1, 9000}, {2, 9000}};
    for (const auto& c : cases) {
        SCOPED_TRACE(std::to_string(c.channels) + " channels");
        Bytes samples;
        const Bytes wav = Wav24(c.channels, c.frames, samples);
        const std::string in = WorkPath("in.wav");
        std::ofstream(in, std::ios::binary).write(reinterpret_cast<const char*>(wav.data()), wav.size());
        muxcore::FileMuxJob job;
        job.settings.output = muxcore::kProgramStream;
        job.inputs = {{in, muxcore::kPinFree}};
        job.output = WorkPath("out.mpg");
        const muxcore::FileMuxResult r = muxcore::MuxFiles(job);
        ASSERT_TRUE(r.ok) << r.error;
        const std::string back = WorkPath("back.raw");
        ASSERT_EQ(0, std::system(("ffmpeg -hide_banner -loglevel error -nostdin -y -i '" + job.output +
                                  "' -map 0:a -c:a pcm_s24le -f s24le '" + back + "'")
                                     .c_str()));
        const Bytes decoded = ReadAll(back);
        ASSERT_EQ(decoded.size(), samples.size());
        size_t firstBad = decoded.size();
        for (size_t i = 0; i < decoded.size() && firstBad == decoded.size(); ++i)
            if (decoded[i] != samples[i]) firstBad = i;
        EXPECT_EQ(firstBad, decoded.size()) << "decoded samples differ from byte " << firstBad;
    }
}

// Each group holds two sample frames: the upper two bytes of every sample
// (big-endian, frame by frame), then every low byte in the same order. A
// unit that ends inside a pair packs its last frame as a group of one.
TEST(MuxLpcm, TwentyFourBitGroupsOfThreeChannels) {
    muxcore::PcmFormat f;
    f.channels = 3;
    f.bitsPerSample = 24;
    f.sampleRate = 48000;
    f.littleEndian = true;
    // Sample s (frame s / 3, channel s % 3) has the bytes 0xLs, 0xMs, 0xHs.
    Bytes in;
    for (uint8_t s = 0; s < 9; ++s) in.insert(in.end(), {uint8_t(0x10 + s), uint8_t(0x20 + s), uint8_t(0x30 + s)});
    Bytes out(in.size());
    muxcore::PackLpcmPayload(f, in.data(), static_cast<int32_t>(in.size()), out.data());
    const Bytes want = {
        0x30, 0x20, 0x31, 0x21, 0x32, 0x22, 0x33, 0x23, 0x34, 0x24, 0x35, 0x25,  // frames 0 and 1, upper
        0x10, 0x11, 0x12, 0x13, 0x14, 0x15,                                      // their low bytes
        0x36, 0x26, 0x37, 0x27, 0x38, 0x28, 0x16, 0x17, 0x18,                    // frame 2 alone
    };
    EXPECT_EQ(out, want);
    // Samples that arrive in LPCM order already pass unchanged.
    f.littleEndian = false;
    muxcore::PackLpcmPayload(f, in.data(), static_cast<int32_t>(in.size()), out.data());
    EXPECT_EQ(out, in);
}
