// The exported interface's core, driven with a recording writer double.
#include "mxf/mux/MuxInterface.h"
#include "mxf/mux/ByteStreams.h"
#include "mxf/mux/tests/TestSupport.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <unistd.h>

namespace {

using mexora_test::Messages;
using mexora_test::ReadFile;
using mexora_test::TempDir;
using mexora_test::WriteFile;

constexpr int32_t kVideoId = 10000;

struct Mux {
    explicit Mux(int32_t profile = 0, int32_t mplex = 32, mexora_test::DoubleOptions o = {}) {
        Messages().clear();
        mexora_test::SetYieldStop(-1);
        mexora::Settings s;
        s.profile = profile;
        s.mplexType = mplex;
        mexora::MuxServices services;
        services.makeWriter = mexora_test::RecordingWriter(&rec, o);
        inst = mexora::New(mexora_test::GetCallback, &s, services);
    }
    ~Mux() {
        mexora::Free(inst);
        mexora_test::SetYieldStop(-1);
    }
    mexora_test::Recording rec;
    mexora::Instance* inst = nullptr;
};

int Count(const std::string& prefix) {
    return static_cast<int>(std::count_if(Messages().begin(), Messages().end(),
                                          [&](const std::string& m) { return m.rfind(prefix, 0) == 0; }));
}

std::vector<uint8_t> Data(size_t n, uint8_t seed) {
    std::vector<uint8_t> v(n);
    for (size_t i = 0; i < n; i++) v[i] = static_cast<uint8_t>(seed + i * 13);
    return v;
}

std::string DataFile(const std::string& dir, const std::string& name, const std::vector<uint8_t>& bytes) {
    const std::string path = dir + "/" + name;
    WriteFile(path, bytes);
    return path;
}

TEST(MuxInterface, PresetsAndTheSettingsCheck) {
    struct Preset {
        int32_t preset, profile, mplex;
        const char* name;
    };
    const Preset presets[] = {
        {0x10116, 0, 32, "Sony XDCAM HD, MXF Muxer"},       {41, 0, 32, "Default, MXF Muxer"},
        {30, 0, 28, "Sony XDCAM IMX, MXF Muxer"},           {0x11001, 3, 100, "Panasonic P2 DVCPRO, MXF Muxer"},
        {0x11002, 3, 101, "Panasonic P2 AVC-I, MXF Muxer"},
    };
    for (const Preset& p : presets) {
        mexora::Settings s;
        s.fileNumber = 9;
        EXPECT_STREQ(mexora::Defaults(&s, p.preset), p.name);
        EXPECT_EQ(s.profile, p.profile);
        EXPECT_EQ(s.mplexType, p.mplex);
        EXPECT_EQ(s.fileNumber, 0);
    }
    EXPECT_EQ(mexora::Defaults(nullptr, 32), nullptr);

    struct Check {
        int32_t profile, mplex, result;
        const char* message;
    };
    const Check checks[] = {
        {0, 28, 1, "M433:Mux type XDCAM IMX, XDCAM DV or P2 AVCI not yet supported"},
        {3, 101, 1, "M433:Mux type XDCAM IMX, XDCAM DV or P2 AVCI not yet supported"},
        {5, 32, 1, "M426:Invalid format type (5), must be 0 or 3"},
        {3, 32, 1, "M426:Invalid combination of profile (3) and mplex_type 32"},
        {0, 100, 1, "M426:Invalid combination of profile (0) and mplex_type 100"},
        {3, 50, 0, ""},
        {0, 32, 0, ""},
    };
    for (const Check& c : checks) {
        Messages().clear();
        mexora::Settings s;
        s.profile = c.profile;
        s.mplexType = c.mplex;
        EXPECT_EQ(mexora::CheckSettings(mexora_test::GetCallback, &s), c.result);
        EXPECT_EQ(Messages().empty() ? std::string() : Messages().back(), c.message);
    }
    Messages().clear();
    EXPECT_EQ(mexora::CheckSettings(mexora_test::GetCallback, nullptr), 1);
    EXPECT_EQ(Messages(), std::vector<std::string>{"M428:Invalid mxf_m_settings parameter"});

    // Profile 3 with type 50 runs as XDCAM HD.
    Mux m(3, 50);
    ASSERT_NE(m.inst, nullptr);
    mexora::EngineSettings e;
    mexora::EngineOf(m.inst)->get_settings(&e);
    EXPECT_EQ(e.profile, 0);
}

TEST(MuxInterface, TheThirtyThirdInputIsRefusedAndTheInstanceStaysUsable) {
    Mux m;
    const std::string dir = TempDir();
    const std::string in = DataFile(dir, "in.bin", Data(100, 1));
    for (int i = 0; i < 32; i++) ASSERT_EQ(mexora::AddInputFile(m.inst, 0, in.c_str()), 0);
    EXPECT_EQ(mexora::AddInputFile(m.inst, 0, in.c_str()), 1);
    EXPECT_EQ(Messages(), std::vector<std::string>{"M423:Maximum input streams have been added"});
    const std::string out = dir + "/out.bin";
    ASSERT_EQ(mexora::AddOutputFile(m.inst, 0, out.c_str()), 0);
    EXPECT_EQ(mexora::Mux(m.inst), 0);
    EXPECT_EQ(m.rec.ended.size(), 32u);
    EXPECT_EQ(mexora::Done(m.inst, 0), 0);
    EXPECT_EQ(ReadFile(out).size(), 32u * 100);
}

TEST(MuxInterface, ArgumentMessages) {
    Mux m;
    EXPECT_EQ(mexora::AddInputFile(m.inst, 0, ""), 1);
    EXPECT_EQ(mexora::AddInputFile(m.inst, 0, (TempDir() + "/none").c_str()), 1);
    EXPECT_EQ(mexora::AddInputFileBS(m.inst, 0, nullptr), 1);
    EXPECT_EQ(mexora::AddInputStream(m.inst, 0, nullptr), 1);
    EXPECT_EQ(mexora::AddOutputFile(m.inst, 0, nullptr), 1);
    EXPECT_EQ(mexora::AddOutputFile(m.inst, 0, (TempDir() + "/no/such/dir/o.mxf").c_str()), 1);
    EXPECT_EQ(mexora::AddOutputFileBS(m.inst, 0, nullptr), 1);
    EXPECT_EQ(mexora::AddOutputStream(m.inst, 0, nullptr), 1);
    EXPECT_EQ(mexora::Mux(m.inst), 1);
    const std::vector<std::string> expected = {
        "M405:Invalid input filename parameter",   "M425:Unable to open input file",
        "M406:Invalid input bufstream parameter",  "M413:Invalid input stream parameter",
        "M405:Invalid output filename parameter",  "M425:Unable to open output file",
        "M406:Invalid output bufstream parameter", "M413:Invalid output stream parameter",
        "M410:No input streams were specified",
    };
    EXPECT_EQ(Messages(), expected);
    EXPECT_EQ(mexora::Mux(nullptr), 1);
    EXPECT_EQ(mexora::AddInputFile(nullptr, 0, "x"), 1);
    EXPECT_EQ(Messages().size(), expected.size());  // a null instance says nothing
}

class WavRun : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        dir = new std::string(TempDir());
        wav = new std::string(mexora_test::MakeWav(*dir, "eight.wav", 8, 24, 0.3));
        pcm = new std::vector<uint8_t>(mexora_test::RawPcm(*wav, 24));
        m2v = new std::string(mexora_test::MakeM2v(*dir, "video.m2v", "30000/1001"));
    }
    static void TearDownTestSuite() {
        delete dir;
        delete wav;
        delete pcm;
        delete m2v;
    }
    static std::string *dir, *wav, *m2v;
    static std::vector<uint8_t>* pcm;
};
std::string* WavRun::dir;
std::string* WavRun::wav;
std::string* WavRun::m2v;
std::vector<uint8_t>* WavRun::pcm;

TEST_F(WavRun, EightChannelsAndVideoReachTheWriterAsTenStreams) {
    ASSERT_FALSE(m2v->empty());
    ASSERT_FALSE(pcm->empty());
    Mux m;
    ASSERT_EQ(mexora::AddInputFile(m.inst, 0, m2v->c_str()), 0);
    ASSERT_EQ(mexora::AddInputFile(m.inst, 0, wav->c_str()), 0);
    ASSERT_EQ(mexora::AddOutputFile(m.inst, 0, (*dir + "/o.mxf").c_str()), 0);
    ASSERT_EQ(mexora::Mux(m.inst), 0) << (Messages().empty() ? "" : Messages().back());
    std::vector<int32_t> ids;
    for (int32_t id = 10000; id <= 10008; id++) ids.push_back(id);
    EXPECT_EQ(m.rec.order, ids);
    EXPECT_EQ(m.rec.bytes[kVideoId], ReadFile(*m2v));
    const size_t samples = pcm->size() / (8 * 3);
    for (int c = 0; c < 8; c++) {
        const std::vector<uint8_t>& got = m.rec.bytes[10001 + c];
        ASSERT_GT(got.size(), 8u + samples * 3) << c;
        EXPECT_EQ(std::memcmp(got.data(), "AES3\x0c", 5), 0);
        EXPECT_EQ(got[5], (3 << 5) | (2 << 3));  // 29.97 Hz, 24 bits, one channel
        std::vector<uint8_t> channel;
        for (size_t j = 0; j < samples; j++) {
            const uint8_t* s = pcm->data() + (j * 8 + c) * 3;
            channel.insert(channel.end(), s, s + 3);
        }
        EXPECT_TRUE(std::equal(channel.begin(), channel.end(), got.begin() + 8)) << "channel " << c;
        EXPECT_TRUE(std::all_of(got.begin() + 8 + channel.size(), got.end(), [](uint8_t b) { return b == 0; }));
        EXPECT_EQ(m.rec.ended.count(10001 + c), 1u);
    }
    EXPECT_EQ(mexora::Done(m.inst, 0), 0);
}

TEST_F(WavRun, FrameRateDetectionFailsBeforeAnySampleReachesTheEngine) {
    std::vector<uint8_t> video = ReadFile(*m2v);
    ASSERT_GT(video.size(), 64u);
    std::vector<uint8_t> code0 = video, code9 = video;
    code0[7] = static_cast<uint8_t>(code0[7] & 0xF0);
    code9[7] = static_cast<uint8_t>((code9[7] & 0xF0) | 9);
    struct Case {
        std::vector<std::string> inputs;
        const char* why;
    };
    const Case cases[] = {
        {{*wav}, "no video input"},
        {{DataFile(*dir, "c0.m2v", code0), *wav}, "frame-rate code 0"},
        {{DataFile(*dir, "c9.m2v", code9), *wav}, "frame-rate code 9"},
        {{DataFile(*dir, "short.bin", Data(40, 3)), *m2v, *wav}, "a short input before the video"},
    };
    for (const Case& c : cases) {
        Mux m;
        for (const std::string& in : c.inputs) ASSERT_EQ(mexora::AddInputFile(m.inst, 0, in.c_str()), 0);
        ASSERT_EQ(mexora::AddOutputFile(m.inst, 0, (*dir + "/o.mxf").c_str()), 0);
        EXPECT_EQ(mexora::Mux(m.inst), 1) << c.why;
        EXPECT_EQ(Count("M411:"), 1) << c.why;
        EXPECT_TRUE(m.rec.bytes.empty()) << c.why;
        EXPECT_EQ(mexora::Done(m.inst, 0), 0);
    }
}

TEST_F(WavRun, TheWavExtensionIsMatchedAtTheEndInAnyCase) {
    const std::string upper = *dir + "/LOUD.WAV";
    ASSERT_EQ(std::system(("cp '" + *wav + "' '" + upper + "'").c_str()), 0);
    const std::string inside = *dir + "/a.wav.bin";
    ASSERT_EQ(std::system(("cp '" + *wav + "' '" + inside + "'").c_str()), 0);
    {
        // Upper case is a WAV input: without video the run fails on the frame rate.
        Mux m;
        ASSERT_EQ(mexora::AddInputFile(m.inst, 0, upper.c_str()), 0);
        EXPECT_EQ(mexora::Mux(m.inst), 1);
        EXPECT_EQ(Count("M411:"), 1);
    }
    struct Plain {
        std::string path;
        int32_t profile, mplex;
    };
    for (const Plain& p : {Plain{inside, 0, 32}, Plain{*wav, 3, 100}}) {
        // Read as a plain file: its bytes pass unchanged.
        Mux m(p.profile, p.mplex);
        ASSERT_EQ(mexora::AddInputFile(m.inst, 0, p.path.c_str()), 0);
        ASSERT_EQ(mexora::AddOutputFile(m.inst, 0, (*dir + "/o.mxf").c_str()), 0);
        EXPECT_EQ(mexora::Mux(m.inst), 0) << p.path;
        EXPECT_EQ(m.rec.bytes[kVideoId], ReadFile(*wav)) << p.path;
        EXPECT_EQ(mexora::Done(m.inst, 0), 0);
    }
}

TEST(MuxInterface, YieldOneEndsTheRunAndASecondRunWorksAfterDone) {
    Mux m;
    const std::string dir = TempDir();
    const std::string in = DataFile(dir, "in.bin", Data(200000, 5));
    ASSERT_EQ(mexora::AddInputFile(m.inst, 0, in.c_str()), 0);
    ASSERT_EQ(mexora::AddOutputFile(m.inst, 0, (dir + "/a.bin").c_str()), 0);
    mexora_test::SetYieldStop(0);
    EXPECT_EQ(mexora::Mux(m.inst), 1);
    EXPECT_EQ(m.rec.bytes[kVideoId].size(), 65536u);  // stopped after the first step
    EXPECT_EQ(mexora::Done(m.inst, 0), 0);

    // Second run: new inputs and outputs, same callbacks, a fresh writer.
    ASSERT_EQ(mexora::AddInputFile(m.inst, 0, in.c_str()), 0);
    ASSERT_EQ(mexora::AddOutputFile(m.inst, 0, (dir + "/b.bin").c_str()), 0);
    m.rec.bytes.clear();
    EXPECT_EQ(mexora::Mux(m.inst), 0);
    EXPECT_EQ(m.rec.starts, 2);
    EXPECT_EQ(m.rec.bytes[kVideoId].size(), 200000u);
    EXPECT_EQ(mexora::Done(m.inst, 0), 0);
    std::vector<uint8_t> expected = ReadFile(in);
    std::memcpy(expected.data(), "MXF!", 4);
    EXPECT_EQ(ReadFile(dir + "/b.bin"), expected);
}

TEST(MuxInterface, AMuxerThatNeverFinishesEndsTheRunWithOneMessage) {
    const std::string dir = TempDir();
    for (const std::vector<uint8_t>& content : {std::vector<uint8_t>(), Data(1000, 2)}) {
        mexora_test::DoubleOptions never;
        never.finishes = false;
        Mux m(0, 32, never);
        ASSERT_EQ(mexora::AddInputFile(m.inst, 0, DataFile(dir, "in.bin", content).c_str()), 0);
        ASSERT_EQ(mexora::AddOutputFile(m.inst, 0, (dir + "/o.bin").c_str()), 0);
        // Once every input ended nothing yields any more: a loop that never
        // notices would spin forever, so the alarm ends the test run instead.
        alarm(60);
        EXPECT_EQ(mexora::Mux(m.inst), 1);
        alarm(0);
        EXPECT_EQ(Messages(), std::vector<std::string>{"M421:All inputs ended but the muxer did not finish"});
        EXPECT_EQ(mexora::Done(m.inst, 0), 0);
    }
}

// A host feeding a pipe and announcing each unit.
void Feed(bs_pipe* pipe, const std::vector<uint8_t>& data, uint32_t id = BS_INFO_UNIT) {
    std::vector<uint8_t> copy = data;
    ASSERT_EQ(pipe->writer.copy_bytes(&pipe->writer, copy.data(), static_cast<uint32_t>(copy.size())), copy.size());
    uint32_t count = static_cast<uint32_t>(data.size());
    EXPECT_EQ(pipe->writer.info(&pipe->writer, 0, id, &count, 4), 0);
}

TEST(MuxInterface, HostFedInputsIntoFileOutputsAreFinishedByDone) {
    Mux m;
    const std::string dir = TempDir();
    bs_pipe* a = bs_pipe_open(1 << 20, 65537);
    bs_pipe* b = bs_pipe_open(1 << 20, 65537);
    ASSERT_EQ(mexora::AddInputStream(m.inst, 0, &a->reader), 0);
    ASSERT_EQ(mexora::AddInputStream(m.inst, 0, &b->reader), 0);
    const std::string out = dir + "/o.bin";
    ASSERT_EQ(mexora::AddOutputFile(m.inst, 0, out.c_str()), 0);
    Feed(a, Data(100, 1));
    EXPECT_TRUE(m.rec.bytes.empty());  // waits until every input has started
    Feed(b, Data(50, 2));
    Feed(a, Data(70000, 3));  // more than one engine piece
    EXPECT_EQ(m.rec.order, (std::vector<int32_t>{10000, 10001}));
    EXPECT_EQ(mexora::Done(m.inst, 0), 0);
    EXPECT_EQ(m.rec.ended, (std::set<int32_t>{10000, 10001}));
    // A step hands over its own input's bytes: b's first, then all of a's.
    std::vector<uint8_t> expected = Data(50, 2);
    for (uint8_t x : Data(100, 1)) expected.push_back(x);
    for (uint8_t x : Data(70000, 3)) expected.push_back(x);
    std::memcpy(expected.data(), "MXF!", 4);
    EXPECT_EQ(ReadFile(out), expected);
    // The host's records are its own again.
    EXPECT_EQ(a->reader.owner, nullptr);
    bs_pipe_close(a);
    bs_pipe_close(b);
}

TEST(MuxInterface, HostRecordsSurviveDoneAndFree) {
    const std::string dir = TempDir();
    bs_pipe* pipe = bs_pipe_open(1 << 20, 65537);
    const std::string in = DataFile(dir, "in.bin", Data(300, 4));
    bufstream* reader = bs_file_reader_open(in.c_str(), 4096, nullptr);
    const std::string outPath = dir + "/host.bin";
    bufstream* writer = bs_file_writer_open(outPath.c_str(), 4096, nullptr);
    {
        Mux m;
        ASSERT_EQ(mexora::AddInputStream(m.inst, 0, &pipe->reader), 0);
        ASSERT_EQ(mexora::AddInputFileBS(m.inst, 0, reader), 0);
        ASSERT_EQ(mexora::AddOutputFileBS(m.inst, 0, writer), 0);
        Feed(pipe, Data(10, 9));
        EXPECT_EQ(mexora::Done(m.inst, 0), 0);
    }
    // Still the host's: usable, and closed by the host.
    uint8_t more[3] = {1, 2, 3};
    EXPECT_EQ(writer->copy_bytes(writer, more, 3), 3u);
    EXPECT_NE(reader->request(reader, 1), nullptr);
    EXPECT_EQ(pipe->reader.info(&pipe->reader, 0, BS_INFO_UNIT, nullptr, 0), 0);
    BufstreamClose(&writer, 0);
    BufstreamClose(&reader, 0);
    bs_pipe_close(pipe);
}

TEST(MuxInterface, StreamOutputStillClosesWhatTheLibraryOpened) {
    // Under LeakSanitizer a reader left open here fails the run.
    const std::string dir = TempDir();
    bs_pipe* sink = bs_pipe_open(1 << 20, 65537);
    Mux m;
    ASSERT_EQ(mexora::AddInputFile(m.inst, 0, DataFile(dir, "in.bin", Data(500, 6)).c_str()), 0);
    ASSERT_EQ(mexora::AddOutputStream(m.inst, 0, &sink->writer), 0);
    EXPECT_EQ(mexora::Mux(m.inst), 0);
    EXPECT_EQ(mexora::Done(m.inst, 0), 0);
    // Appended bytes came through; the rewrite went to the host's record.
    EXPECT_EQ(sink->reader.bytes_available(&sink->reader), 500u);
    bs_pipe_close(sink);
}

TEST(MuxInterface, RewritesReachHostWritersThatNameTheirFile) {
    const std::string dir = TempDir();
    const std::string in = DataFile(dir, "in.bin", Data(100000, 8));
    auto run = [&](bool hostWriter) {
        Mux m;
        const std::string out = dir + (hostWriter ? "/host.mxf" : "/lib.mxf");
        bufstream* writer = hostWriter ? bs_file_writer_open(out.c_str(), 256 * 1024, nullptr) : nullptr;
        EXPECT_EQ(mexora::AddInputFile(m.inst, 0, in.c_str()), 0);
        EXPECT_EQ(
            hostWriter ? mexora::AddOutputFileBS(m.inst, 0, writer) : mexora::AddOutputFile(m.inst, 0, out.c_str()), 0);
        EXPECT_EQ(mexora::Mux(m.inst), 0);
        EXPECT_EQ(mexora::Done(m.inst, 0), 0);
        if (writer) {
            EXPECT_EQ(writer->done(writer, 0), 0);
            writer->free(writer);
        }
        return ReadFile(out);
    };
    const std::vector<uint8_t> library = run(false), host = run(true);
    ASSERT_EQ(library.size(), 100000u);
    EXPECT_EQ(std::memcmp(library.data(), "MXF!", 4), 0);
    EXPECT_EQ(host, library);
}

TEST(MuxInterface, WriteFailuresReachDone) {
    const std::string dir = TempDir();
    const std::string in = DataFile(dir, "in.bin", Data(1000, 1));
    std::vector<std::string> outputs = {dir + "/deleted.mxf"};
    if (access("/dev/full", W_OK) == 0) outputs.push_back("/dev/full");
    for (const std::string& out : outputs) {
        Mux m;
        ASSERT_EQ(mexora::AddInputFile(m.inst, 0, in.c_str()), 0);
        ASSERT_EQ(mexora::AddOutputFile(m.inst, 0, out.c_str()), 0);
        EXPECT_EQ(mexora::Mux(m.inst), 0);
        const bool file = out != "/dev/full";
        if (file) {
            ASSERT_EQ(unlink(out.c_str()), 0);
        }
        EXPECT_EQ(mexora::Done(m.inst, 0), 1) << out;
        EXPECT_EQ(Count("M432:"), 1) << out;
        if (file) {
            EXPECT_NE(access(out.c_str(), F_OK), 0) << "made again";
        }
    }
}

TEST(MuxInterface, P2SplitChannelsGoToOneOutputEach) {
    const std::string dir = TempDir();
    // "AES3", planar, two 16-bit channels.
    const std::vector<uint8_t> header = {'A', 'E', 'S', '3', 0x0C, 0x01, 0, 0};
    std::vector<uint8_t> block = Data(40, 1);  // 20 bytes of channel 0, then 20 of channel 1
    for (int outputs : {2, 1}) {
        Mux m(3, 100);
        bs_pipe* pipe = bs_pipe_open(1 << 20, 65537);
        ASSERT_EQ(mexora::AddInputStream(m.inst, 0, &pipe->reader), 0);
        for (int o = 0; o < outputs; o++) {
            ASSERT_EQ(mexora::AddOutputFile(m.inst, 0, (dir + "/p" + std::to_string(o) + ".mxf").c_str()), 0);
        }
        std::vector<uint8_t> h = header;
        ASSERT_EQ(pipe->writer.copy_bytes(&pipe->writer, h.data(), 8), 8u);
        uint32_t count = 8;
        const int32_t headerResult = pipe->writer.info(&pipe->writer, 0, BS_INFO_AES3_UNIT, &count, 4);
        if (outputs == 1) {
            EXPECT_EQ(headerResult, -1);
            EXPECT_EQ(Count("M417:"), 1);
            EXPECT_EQ(mexora::Done(m.inst, 0), 1);
            bs_pipe_close(pipe);
            continue;
        }
        ASSERT_EQ(headerResult, 0);
        ASSERT_EQ(pipe->writer.copy_bytes(&pipe->writer, block.data(), 40), 40u);
        count = 40;
        ASSERT_EQ(pipe->writer.info(&pipe->writer, 0, BS_INFO_AES3_UNIT, &count, 4), 0);
        EXPECT_EQ(mexora::Done(m.inst, 0), 0);
        EXPECT_EQ(m.rec.streams, (std::map<int32_t, int32_t>{{10000, 0}, {10001, 1}}));
        for (int c = 0; c < 2; c++) {
            std::vector<uint8_t> want = {'A', 'E', 'S', '3', 0x0C, 0x00, 0, 0};
            want.insert(want.end(), block.begin() + 20 * c, block.begin() + 20 * (c + 1));
            EXPECT_EQ(m.rec.bytes[10000 + c], want) << c;
        }
        bs_pipe_close(pipe);
    }
}

}  // namespace
