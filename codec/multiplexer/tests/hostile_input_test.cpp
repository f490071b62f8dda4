// Inputs the multiplexer must refuse or survive: formats the output cannot
// describe, stream types without a scanner, inputs with nothing to carry,
// bytes of no known kind, and a rate too low for the inputs.
#include "codec/multiplexer/EsDetect.h"
#include "codec/multiplexer/FileMux.h"
#include "codec/multiplexer/Multiplexer.h"
#include "es_builder.h"

#include <gtest/gtest.h>

#include <climits>
#include <cstdio>
#include <random>
#include <stdexcept>
#include <string>

#include <unistd.h>

using namespace muxcore;
using muxtest::Bytes;

namespace {

// Gives up by throwing once a pass writes far more than its inputs hold.
struct BoundedSink : IMuxSink {
    uint64_t bytes = 0;
    uint64_t limit = 4 << 20;
    bool ended = false;
    int overloads = 0;
    OverloadReport first;
    HRESULT_T Deliver(const OutputSample& s) override {
        bytes += s.length;
        if (bytes > limit) throw std::runtime_error("the pass writes without end");
        return kS_OK;
    }
    void EndOfStream() override { ended = true; }
    void OnOverload(const OverloadReport& r) override {
        if (overloads++ == 0) first = r;
    }
};

// A 48-byte WAV file: a PCM format chunk and 4 bytes of data.
Bytes Wav(uint32_t channels, uint32_t rate, uint32_t bits) {
    Bytes b;
    auto le = [&b](uint32_t v, int n) {
        for (int i = 0; i < n; ++i) b.push_back(static_cast<uint8_t>(v >> (8 * i)));
    };
    const uint32_t block = channels * bits / 8;
    b = {'R', 'I', 'F', 'F'};
    le(40, 4);
    muxtest::Append(b, {'W', 'A', 'V', 'E', 'f', 'm', 't', ' '});
    le(16, 4);
    le(1, 2);
    le(channels, 2);
    le(rate, 4);
    le(rate * block, 4);
    le(block, 2);
    le(bits, 2);
    muxtest::Append(b, {'d', 'a', 't', 'a'});
    le(4, 4);
    b.insert(b.end(), 4, 0);
    return b;
}

std::string WriteTemp(const std::string& name, const Bytes& b) {
    const std::string path = std::string(MUX_TEST_WORK_DIR) + "/hostile_" + std::to_string(getpid()) + "_" + name;
    (void)std::system(("mkdir -p '" MUX_TEST_WORK_DIR "'"));
    FILE* f = std::fopen(path.c_str(), "wb");
    EXPECT_NE(f, nullptr);
    if (f) {
        EXPECT_EQ(std::fwrite(b.data(), 1, b.size(), f), b.size());
        std::fclose(f);
    }
    return path;
}

FileMuxResult MuxOne(const std::string& path, int32_t kind = kPinFree, int32_t output = kProgramStream) {
    FileMuxJob job;
    job.settings.output = output;
    job.inputs.push_back({path, kind});
    job.output = path + ".out";
    FileMuxResult r = MuxFiles(job);
    std::remove(job.output.c_str());
    std::remove(path.c_str());
    return r;
}

Bytes RandomBytes(size_t n, unsigned seed) {
    std::mt19937 rng(seed);
    Bytes b(n);
    for (auto& x : b) x = static_cast<uint8_t>(rng());
    return b;
}

}  // namespace

TEST(HostileInput, PcmFormatsTheHeaderCannotCodeAreRefused) {
    struct Case {
        int32_t channels, rate, bits;
        const char* named;
    } cases[] = {
        {2, 0, 16, "sample rate 0 Hz"},    {2, INT32_MAX, 16, "sample rate 2147483647 Hz"},
        {0, 48000, 16, "0 channels"},      {1, 8000, 8, "sample rate 8000 Hz"},
        {1, 8000, 8, "8 bits per sample"}, {2, 22050, 16, "sample rate 22050 Hz"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.named);
        // The core: AddInput refuses, and so does Start when the format
        // changed after the input was added.
        Multiplexer mux;
        mux.Settings().output = kProgramStream;
        StreamSettings s;
        s.streamType = kPinPcm;
        s.pcm.channels = c.channels;
        s.pcm.sampleRate = c.rate;
        s.pcm.bitsPerSample = c.bits;
        EXPECT_EQ(mux.AddInput(s), nullptr);
        EXPECT_NE(mux.LastError().find(c.named), std::string::npos) << mux.LastError();
        Multiplexer later;
        later.Settings().output = kProgramStream;
        StreamSettings good = s;
        good.pcm = PcmFormat();
        InputStream* in = later.AddInput(good);
        ASSERT_NE(in, nullptr);
        in->MutableSettings().pcm = s.pcm;
        BoundedSink sink;
        EXPECT_TRUE(Failed(later.Start(&sink)));
        // The driver's work: a 48-byte WAV file is refused with the value named.
        const FileMuxResult r =
            MuxOne(WriteTemp("pcm.wav", Wav(static_cast<uint32_t>(c.channels), static_cast<uint32_t>(c.rate),
                                            static_cast<uint32_t>(c.bits))));
        EXPECT_FALSE(r.ok);
        EXPECT_NE(r.error.find(c.named), std::string::npos) << r.error;
    }
    // A format the header codes is carried.
    const FileMuxResult ok = MuxOne(WriteTemp("ok.wav", Wav(2, 48000, 16)));
    EXPECT_TRUE(ok.ok) << ok.error;
}

TEST(HostileInput, StreamTypesWithoutAScannerAreRefused) {
    for (int32_t t : {4, 99}) {
        Multiplexer mux;
        StreamSettings s;
        s.streamType = t;
        EXPECT_EQ(mux.AddInput(s), nullptr) << t;
        EXPECT_NE(mux.LastError().find("stream type " + std::to_string(t)), std::string::npos) << mux.LastError();
    }
}

TEST(HostileInput, ATransportStreamOfOnlyAPcrInputEnds) {
    Multiplexer mux;
    mux.Settings().output = kTransportStream;
    StreamSettings s;
    s.streamType = kPinPcrOnly;
    InputStream* in = mux.AddInput(s);
    ASSERT_NE(in, nullptr);
    BoundedSink sink;
    ASSERT_EQ(mux.Start(&sink), kS_OK);
    in->EndOfStream();
    bool finished = false;
    EXPECT_NO_THROW(finished = mux.RunUntilIdle());
    EXPECT_TRUE(finished);
    EXPECT_TRUE(sink.ended);
    EXPECT_LT(sink.bytes, 188u * 16);
}

TEST(HostileInput, BytesOfNoKnownKindAreRefused) {
    // Random bytes, and random bytes that begin with one MPEG audio sync word.
    Bytes stray = RandomBytes(100000, 2);
    const uint8_t sync[] = {0xFF, 0xFD, 0xA4, 0x04};
    std::copy(sync, sync + 4, stray.begin());
    for (const Bytes& b : {RandomBytes(100000, 1), stray}) {
        EXPECT_EQ(DetectElementaryStream(b.data(), b.size()).streamType, kPinFree);
        const FileMuxResult r = MuxOne(WriteTemp("random.bin", b));
        EXPECT_FALSE(r.ok);
        EXPECT_NE(r.error.find("cannot tell the kind"), std::string::npos) << r.error;
        // A kind given for them does not make them that kind.
        for (int32_t kind : {kPinMpeg1Audio, kPinMpeg2Video, kPinAc3, kPinAac, kPinPcm}) {
            const FileMuxResult f = MuxOne(WriteTemp("given.bin", b), kind);
            EXPECT_FALSE(f.ok) << kind;
            EXPECT_NE(f.error.find("not a stream of the given kind"), std::string::npos) << f.error;
        }
    }
    // Three frames in a row are MPEG audio, and so is a shorter whole stream.
    for (int frames : {3, 1}) {
        const Bytes mp2 = muxtest::Mp2Frames(frames);
        EXPECT_EQ(DetectElementaryStream(mp2.data(), mp2.size()).streamType, kPinMpeg1Audio) << frames;
    }
    Bytes broken = muxtest::Mp2Frames(3);
    broken[576] = 0;  // the second frame's sync word
    EXPECT_EQ(DetectElementaryStream(broken.data(), broken.size()).streamType, kPinFree);
    // Names are kinds; numbers are not.
    EXPECT_EQ(StreamTypeFromName("mp2"), kPinMpeg1Audio);
    for (const char* n : {"9", "99", "13", "19", ""}) EXPECT_EQ(StreamTypeFromName(n), kPinFree) << n;
}

TEST(HostileInput, AWaveChunkLongerThanTheFileEndsTheWalk) {
    // A chunk size that would wrap the walk back onto itself in 32 bits, and
    // one that would step past the end of the bytes.
    for (uint32_t size : {0xFFFFFFF8u, 0xFFFFFFFFu, 0x7FFFFFF0u, 13u}) {
        Bytes wav = {'R', 'I', 'F', 'F', 0, 0, 0, 0, 'W', 'A', 'V', 'E', 'j', 'u', 'n', 'k'};
        for (int i = 0; i < 4; ++i) wav.push_back(static_cast<uint8_t>(size >> (8 * i)));
        EXPECT_EQ(DetectElementaryStream(wav.data(), wav.size()).streamType, kPinFree) << size;
    }
}

TEST(HostileInput, ARateTooLowForTheInputsIsReported) {
    for (int output : {kTransportStream, kProgramStream}) {
        SCOPED_TRACE(output);
        Multiplexer mux;
        mux.Settings().output = output;
        InputStream* v = mux.AddInput([] {
            StreamSettings s;
            s.streamType = kPinMpeg2Video;
            return s;
        }());
        ASSERT_NE(v, nullptr);
        // 20 kB pictures at 25 frames/s are 4 Mbit/s: 1 Mbit/s cannot carry them
        // (the program stream's rate comes from the header's 3 Mbit/s).
        if (output == kTransportStream) mux.Settings().requiredBitrate = 1000000;
        BoundedSink sink;
        sink.limit = 64 << 20;
        ASSERT_EQ(mux.Start(&sink), kS_OK);
        const Bytes b = muxtest::SimpleGop(4, output == kTransportStream ? 20000 : 60000);
        ASSERT_EQ(v->Push(b.data(), b.size(), 0), kS_OK);
        v->EndOfStream();
        EXPECT_TRUE(mux.RunUntilIdle());
        EXPECT_GT(mux.LateUnits(), 0u);
        EXPECT_EQ(sink.overloads, 1);
        EXPECT_EQ(sink.first.input, v->Number());
        EXPECT_GT(sink.first.delivered, sink.first.dts);
    }
    // Small pictures fit: nothing is late.
    Multiplexer mux;
    mux.Settings().output = kTransportStream;
    StreamSettings s;
    s.streamType = kPinMpeg2Video;
    InputStream* v = mux.AddInput(s);
    BoundedSink sink;
    ASSERT_EQ(mux.Start(&sink), kS_OK);
    const Bytes b = muxtest::SimpleGop(4);
    ASSERT_EQ(v->Push(b.data(), b.size(), 0), kS_OK);
    v->EndOfStream();
    EXPECT_TRUE(mux.RunUntilIdle());
    EXPECT_EQ(mux.LateUnits(), 0u);
    EXPECT_EQ(sink.overloads, 0);
}
