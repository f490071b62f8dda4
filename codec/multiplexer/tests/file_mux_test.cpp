// Multiplexing files: the file holds exactly the bytes the muxing pass
// delivers, however the inputs are read and whatever sizes the samples have.
#include "codec/multiplexer/FileMux.h"
#include "codec/multiplexer/Multiplexer.h"
#include "es_builder.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

using namespace muxcore;
using muxtest::Bytes;

namespace {

struct MemorySink : IMuxSink {
    Bytes bytes;
    HRESULT_T Deliver(const OutputSample& s) override {
        bytes.insert(bytes.end(), s.data, s.data + s.length);
        return kS_OK;
    }
};

std::string TempPath(const std::string& name) {
    mkdir(MUX_TEST_WORK_DIR, 0755);  // may exist already
    return std::string(MUX_TEST_WORK_DIR) + "/file_mux_" + std::to_string(getpid()) + "_" + name;
}

bool WriteFile(const std::string& path, const Bytes& b) {
    FILE* f = std::fopen(path.c_str(), "wb");
    if (!f) return false;
    const bool ok = std::fwrite(b.data(), 1, b.size(), f) == b.size();
    return std::fclose(f) == 0 && ok;
}

Bytes ReadFile(const std::string& path) {
    Bytes b;
    if (FILE* f = std::fopen(path.c_str(), "rb")) {
        uint8_t buf[65536];
        size_t n;
        while ((n = std::fread(buf, 1, sizeof buf, f)) > 0) b.insert(b.end(), buf, buf + n);
        std::fclose(f);
    }
    return b;
}

// The same pass with every byte pushed at once, delivered into memory.
Bytes MuxInMemory(const MuxerSettings& settings, const Bytes& video, const Bytes& audio) {
    Multiplexer mux;
    mux.Settings() = settings;
    StreamSettings v, a;
    v.streamType = kPinMpeg2Video;
    a.streamType = kPinMpeg1Audio;
    InputStream* vin = mux.AddInput(v);
    InputStream* ain = mux.AddInput(a);
    MemorySink sink;
    if (!vin || !ain || Failed(mux.Start(&sink))) return {};
    EXPECT_EQ(vin->Push(video.data(), video.size()), kS_OK);
    EXPECT_EQ(ain->Push(audio.data(), audio.size()), kS_OK);
    vin->EndOfStream();
    ain->EndOfStream();
    for (int i = 0; i < 100 && !mux.RunUntilIdle(); ++i) {}
    return sink.bytes;
}

}  // namespace

TEST(FileMux, FileHoldsTheDeliveredBytesForEveryChunkSize) {
    // About 5 s of each: several rounds of reading at every chunk size.
    const Bytes video = muxtest::SimpleGop(30, 3000);
    const Bytes audio = muxtest::Mp2Frames(210);
    const std::string vpath = TempPath("v.m2v"), apath = TempPath("a.mp2"), out = TempPath("out");
    ASSERT_TRUE(WriteFile(vpath, video));
    ASSERT_TRUE(WriteFile(apath, audio));
    struct Case {
        const char* name;
        int32_t output;
        int32_t ts192;
    };
    const Case cases[] = {{"program stream", kProgramStream, 0},
                          {"transport stream", kTransportStream, 0},
                          {"192-byte packets", kTransportStream, 1},
                          {"fixed PIDs", kTransportFixedPids, 0}};
    for (const Case& c : cases) {
        MuxerSettings s;
        s.output = c.output;
        s.ts192 = c.ts192;
        const Bytes expected = MuxInMemory(s, video, audio);
        ASSERT_GT(expected.size(), video.size()) << c.name;
        for (size_t chunk : {size_t{1000}, size_t{65536}, size_t{1} << 20}) {
            FileMuxJob job;
            job.settings = s;
            job.chunkSize = chunk;
            job.output = out;
            job.inputs = {{vpath, kPinFree}, {apath, kPinFree}};
            const FileMuxResult r = MuxFiles(job);
            ASSERT_TRUE(r.ok) << c.name << ": " << r.error;
            EXPECT_EQ(r.bytesOut, expected.size()) << c.name << ", chunks of " << chunk;
            EXPECT_TRUE(ReadFile(out) == expected) << c.name << ", chunks of " << chunk;
        }
    }
    std::remove(vpath.c_str());
    std::remove(apath.c_str());
    std::remove(out.c_str());
}

TEST(FileMux, AnEarlierFileAtTheOutputIsReplacedWhole) {
    // The output is written over in place: what a longer earlier file held
    // past the new stream's end is cut off, a shorter one is outgrown (and
    // without one the file is made).
    const Bytes video = muxtest::SimpleGop(12, 3000);
    const Bytes audio = muxtest::Mp2Frames(84);
    const std::string vpath = TempPath("v.m2v"), apath = TempPath("a.mp2"), out = TempPath("out");
    ASSERT_TRUE(WriteFile(vpath, video));
    ASSERT_TRUE(WriteFile(apath, audio));
    MuxerSettings s;
    s.output = kTransportStream;
    const Bytes expected = MuxInMemory(s, video, audio);
    ASSERT_FALSE(expected.empty());
    for (size_t earlier : {expected.size() * 3, expected.size() / 2, size_t{0}}) {
        std::remove(out.c_str());
        if (earlier > 0) {
            ASSERT_TRUE(WriteFile(out, Bytes(earlier, 0xAB)));
        }
        FileMuxJob job;
        job.settings = s;
        job.output = out;
        job.inputs = {{vpath, kPinFree}, {apath, kPinFree}};
        const FileMuxResult r = MuxFiles(job);
        ASSERT_TRUE(r.ok) << r.error;
        EXPECT_TRUE(ReadFile(out) == expected) << "earlier file of " << earlier << " bytes";
    }
    // An input is never the output.
    FileMuxJob job;
    job.settings = s;
    job.output = vpath;
    job.inputs = {{vpath, kPinFree}, {apath, kPinFree}};
    EXPECT_FALSE(MuxFiles(job).ok);
    EXPECT_TRUE(ReadFile(vpath) == video);
    std::remove(vpath.c_str());
    std::remove(apath.c_str());
    std::remove(out.c_str());
}
