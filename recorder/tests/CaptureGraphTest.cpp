#include "recorder/core/CaptureGraph.h"

#include <gtest/gtest.h>

#include <set>
#include <string>
#include <vector>

namespace recorder {
namespace {

// Records every call as a line; fails what it is told to.
class FakeOps : public GraphOps {
public:
    std::vector<std::string> log;
    std::vector<std::string> messages;
    std::set<std::string> missing;  // friendly names not installed, or "ASF"
    std::set<std::string> refused;  // "from.pin" of refused connections
    bool graph = true;
    bool muxConfig = true;
    bool sinkConfig = true;
    SinkNameResult sinkName = SinkNameResult::Ok;
    RunResult run = RunResult::Ok;
    Region stored{10, 20, 651, 499, 30};
    Region written{};

    bool HasGraph() override { return graph; }
    bool AddFilter(GraphFilter, const std::string& name) override {
        log.push_back("add " + name);
        return missing.count(name) == 0;
    }
    bool Connect(GraphFilter, const std::string& out, GraphFilter, const std::string& in) override {
        log.push_back(out + "->" + in);
        return refused.count(out) == 0;
    }
    SinkNameResult SetSinkFileName(const std::string& target) override {
        log.push_back("name " + target);
        return sinkName;
    }
    bool ConfigureSink() override {
        log.push_back("sink config");
        return sinkConfig;
    }
    bool ConfigureMux() override {
        log.push_back("mux config");
        return muxConfig;
    }
    bool ConfigureVideoEncoder(int bits) override {
        log.push_back("encoder " + std::to_string(bits));
        return true;
    }
    // Kept out of `log`, so the order checks above stay as they are.
    std::vector<std::string> audioConfig;  // "<kbps> after <last log line>"
    bool audioConfigures = true;
    bool ConfigureAudioEncoder(int kbps) override {
        audioConfig.push_back(std::to_string(kbps) + " after " + (log.empty() ? "" : log.back()));
        return audioConfigures;
    }
    bool AddAsfWriter(const std::string&) override {
        log.push_back("asf");
        return missing.count("ASF") == 0;
    }
    bool RenderScreenToAsfWriter() override {
        log.push_back("render");
        return true;
    }
    bool WriteWmvProfile(const Settings&, const Region&) override {
        log.push_back("profile");
        return true;
    }
    bool ReadRegion(Region& region) override {
        region = stored;
        return true;
    }
    bool WriteRegion(Region& region) override {
        written = region;
        return true;
    }
    void Wait(unsigned ms) override { log.push_back("wait " + std::to_string(ms)); }
    RunResult Run() override {
        log.push_back("run");
        return run;
    }
    void ShowMessage(const std::string& text) override { messages.push_back(text); }
};

Settings Mpeg2() {
    Settings s;
    s.protocol = 0;
    s.videoBitrate = 4000;
    s.frameRate = 25;
    s.audioSource = "Monitor of Null Output";
    s.audioOutput = "Capture";
    return s;
}

TEST(CaptureGraph, MpegGraphInOrderWithRoundedRegionAndRunAfterASecond) {
    FakeOps ops;
    Region region;
    ASSERT_TRUE(StartCaptureGraph(ops, Mpeg2(), "C:\\r\\a.mpg", region));
    const std::vector<std::string> expected = {
        "add UScreenCapture", "add Korvell MPEG-2 Video Encoder", "add Korvell MPEG Muxteron", "mux config",
        "add Korvell Sink Filter", "name C:\\r\\a.mpg", "sink config", "add Korvell Chronel",
        "add Korvell Layer II Audio Encoder", "add Monitor of Null Output", "Capture->XForm In", "Capture->Input",
        // committed only once the encoder's input is connected
        "encoder 4000000", "Output->Input0", "Out->Input", "Output->Input", "XForm Out->Input1", "wait 1000", "run"};
    EXPECT_EQ(expected, ops.log);
    EXPECT_TRUE(ops.messages.empty());
    // 641 x 479 is recorded as 640 x 472, at the chosen rate.
    EXPECT_EQ(10, ops.written.left);
    EXPECT_EQ(650, ops.written.right);
    EXPECT_EQ(20, ops.written.top);
    EXPECT_EQ(492, ops.written.bottom);
    EXPECT_EQ(25, ops.written.frameRate);
    EXPECT_EQ(650, region.right);
}

TEST(CaptureGraph, StoredRegionIsNormalisedBeforeRounding) {
    FakeOps ops;
    ops.stored = {651, 499, 10, 20, 30};  // corners swapped
    Region region;
    ASSERT_TRUE(StartCaptureGraph(ops, Mpeg2(), "t.mpg", region));
    EXPECT_EQ(10, ops.written.left);
    EXPECT_EQ(650, ops.written.right);
    EXPECT_EQ(492, ops.written.bottom);
    ops.stored = {10, 20, 13, 21, 30};  // smaller than the least region
    ASSERT_TRUE(StartCaptureGraph(ops, Mpeg2(), "t.mpg", region));
    EXPECT_EQ(26, ops.written.right);
    EXPECT_EQ(36, ops.written.bottom);
}

TEST(CaptureGraph, VideoOnlyHasNoAudioBranch) {
    Settings s = Mpeg2();
    s.videoOnly = 1;
    s.protocol = 2;  // MPEG-1 builds the same graph
    FakeOps ops;
    Region region;
    ASSERT_TRUE(StartCaptureGraph(ops, s, "t.mpg", region));
    for (const std::string& line : ops.log) {
        EXPECT_EQ(std::string::npos, line.find("Audio")) << line;
        EXPECT_EQ(std::string::npos, line.find("Null")) << line;
        EXPECT_EQ(std::string::npos, line.find("Input1")) << line;
        EXPECT_EQ(std::string::npos, line.find("XForm")) << line;
    }
}

TEST(CaptureGraph, FailuresStopTheBuildWithTheirMessage) {
    struct Case {
        const char* missing;
        const char* refused;
        const char* message;
        const char* lastStep;
    };
    const Case cases[] = {
        {"UScreenCapture", "", "Cannot install Screen Capture filter", "add UScreenCapture"},
        {"Korvell MPEG-2 Video Encoder", "", "Cannot install MPEG Encoder filter", "add Korvell MPEG-2 Video Encoder"},
        {"Korvell MPEG Muxteron", "", "Cannot install Mux filter", "add Korvell MPEG Muxteron"},
        {"Korvell Sink Filter", "", "Cannot install File Writer filter", "add Korvell Sink Filter"},
        {"Korvell Chronel", "", "Cannot install MPEG Chronel filter", "add Korvell Chronel"},
        {"Korvell Layer II Audio Encoder", "", "Cannot install MPEG Audio Encoder filter",
         "add Korvell Layer II Audio Encoder"},
        {"Monitor of Null Output", "", "Cannot install Monitor of Null Output filter", "add Monitor of Null Output"},
        {"", "Capture", "Cannot connect Audio to Encoder", "Capture->XForm In"},
        {"", "Output", "Cannot connect Encoder to Mux", "Output->Input0"},
        {"", "Out", "Cannot connect Mux to Timer", "Out->Input"},
        {"", "XForm Out", "Cannot connect Audio Encoder to Mux", "XForm Out->Input1"},
    };
    for (const Case& c : cases) {
        FakeOps ops;
        if (*c.missing) ops.missing.insert(c.missing);
        if (*c.refused) ops.refused.insert(c.refused);
        Region region;
        EXPECT_FALSE(StartCaptureGraph(ops, Mpeg2(), "t.mpg", region)) << c.message;
        EXPECT_EQ(std::vector<std::string>{c.message}, ops.messages);
        EXPECT_EQ(c.lastStep, ops.log.back()) << c.message;
    }
}

TEST(CaptureGraph, ConfigurationFailuresAndTargetName) {
    {
        FakeOps ops;
        ops.muxConfig = false;
        ops.sinkConfig = false;
        Region region;
        EXPECT_TRUE(StartCaptureGraph(ops, Mpeg2(), "t.mpg", region));
        EXPECT_EQ((std::vector<std::string>{"MPEG Multiplexer cannot be configured", "Cannot configure MPEG writer"}),
                  ops.messages);
    }
    const std::pair<SinkNameResult, const char*> names[] = {
        {SinkNameResult::NoInterface, "Cannot query File Sink filter"},
        {SinkNameResult::Failed, "Cannot create file C:\\x\\t.mpg"},
    };
    for (const auto& n : names) {
        FakeOps ops;
        ops.sinkName = n.first;
        Region region;
        EXPECT_FALSE(StartCaptureGraph(ops, Mpeg2(), "C:\\x\\t.mpg", region));
        EXPECT_EQ(std::vector<std::string>{n.second}, ops.messages);
        EXPECT_EQ("name C:\\x\\t.mpg", ops.log.back());
    }
}

TEST(CaptureGraph, RunFailuresAndFormats) {
    for (int format : {0, 1}) {
        FakeOps ops;
        ops.run = GraphOps::RunResult::NoControl;
        Settings s = Mpeg2();
        s.protocol = format;
        Region region;
        // No format reports success for a graph it could not run.
        EXPECT_FALSE(StartCaptureGraph(ops, s, "t", region)) << format;
        EXPECT_EQ(std::vector<std::string>{"Cannot run graph (2)"}, ops.messages);
    }
    {
        FakeOps ops;
        ops.run = GraphOps::RunResult::Failed;
        Region region;
        EXPECT_FALSE(StartCaptureGraph(ops, Mpeg2(), "t", region));
        EXPECT_EQ(std::vector<std::string>{"Cannot run graph"}, ops.messages);
    }
    {
        FakeOps ops;
        Settings s = Mpeg2();
        s.protocol = 3;
        Region region;
        EXPECT_FALSE(StartCaptureGraph(ops, s, "t", region));
        EXPECT_TRUE(ops.messages.empty());
        EXPECT_TRUE(ops.log.empty());
    }
    {
        FakeOps ops;
        ops.graph = false;
        Region region;
        EXPECT_FALSE(StartCaptureGraph(ops, Mpeg2(), "t", region));
        EXPECT_EQ(std::vector<std::string>{"Cannot query FilterGraph"}, ops.messages);
    }
}

TEST(CaptureGraph, WmvGraph) {
    Settings s = Mpeg2();
    s.protocol = 1;
    {
        FakeOps ops;
        Region region;
        ASSERT_TRUE(StartCaptureGraph(ops, s, "t.wmv", region));
        EXPECT_EQ((std::vector<std::string>{"profile", "add UScreenCapture", "asf", "add Monitor of Null Output",
                                            "add ACM Wrapper", "Capture->Input", "Output->Audio Input 01", "render",
                                            "wait 1000", "run"}),
                  ops.log);
    }
    {
        // Without the platform's ASF writer the failure is reported, never hidden.
        FakeOps ops;
        ops.missing.insert("ASF");
        Region region;
        EXPECT_FALSE(StartCaptureGraph(ops, s, "t.wmv", region));
        EXPECT_EQ(std::vector<std::string>{"Cannot install ASF Writer"}, ops.messages);
    }
    {
        s.videoOnly = 1;
        FakeOps ops;
        Region region;
        ASSERT_TRUE(StartCaptureGraph(ops, s, "t.wmv", region));
        for (const std::string& line : ops.log) EXPECT_EQ(std::string::npos, line.find("ACM")) << line;
    }
}

TEST(CaptureGraph, VbrLimits) {
    const int b = VideoBitsPerSecond(4000);
    EXPECT_EQ(4000000, b);
    VbrLimits high = VbrLimitsFor(b, 8000000, 6000000);
    EXPECT_TRUE(high.setMinimum);
    EXPECT_EQ(2000000, high.minimum);
    EXPECT_FALSE(high.setMaximum);
    VbrLimits low = VbrLimitsFor(b, 1000000, 3000000);
    EXPECT_FALSE(low.setMinimum);
    EXPECT_TRUE(low.setMaximum);
    EXPECT_EQ(6000000, low.maximum);
    EXPECT_FALSE(VbrLimitsFor(b, b, b).setMinimum);
    EXPECT_FALSE(VbrLimitsFor(b, b, b).setMaximum);
    EXPECT_EQ(2147483647, VideoBitsPerSecond(3000000));
    EXPECT_EQ(2147483647, VbrLimitsFor(2147483647, 0, 0).maximum);
}

}  // namespace
}  // namespace recorder

namespace recorder {
namespace {

// "Audio Bitrate" reaches the audio encoder once its input is connected; a
// refusal is reported and the recording goes on.
TEST(CaptureGraph, AudioBitrateIsSetAfterTheAudioConnection) {
    Settings s = Mpeg2();
    s.audioBitrate = 256;
    FakeOps ops;
    Region region;
    ASSERT_TRUE(StartCaptureGraph(ops, s, "C:\\r\\a.mpg", region));
    EXPECT_EQ(std::vector<std::string>{"256 after Capture->XForm In"}, ops.audioConfig);
    EXPECT_TRUE(ops.messages.empty());

    FakeOps refusing;
    refusing.audioConfigures = false;
    ASSERT_TRUE(StartCaptureGraph(refusing, s, "C:\\r\\a.mpg", region));
    EXPECT_EQ(std::vector<std::string>{"Cannot configure audio encoder"}, refusing.messages);

    s.videoOnly = 1;
    FakeOps videoOnly;
    ASSERT_TRUE(StartCaptureGraph(videoOnly, s, "C:\\r\\a.mpg", region));
    EXPECT_TRUE(videoOnly.audioConfig.empty());
}

TEST(CaptureGraph, FailureTextsNameTheTargetAndTheReason) {
    const std::pair<std::uint32_t, const char*> cases[] = {
        {0x80070070u, "the disk is full"},
        {0x80070005u, "access is denied"},
        {0x80070003u, "the folder does not exist"},
        {0x80004005u, "error 0x80004005"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(
            std::string("Recording failed: D:\\rec\\a.mpg (") + c.second + "). What was recorded until then is kept.",
            GraphFailureText(c.first, "D:\\rec\\a.mpg"));
}

TEST(CaptureGraph, NearestOfferedBitrate) {
    const std::vector<int> layer2 = {32, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320, 384};
    struct Case {
        int kbps;
        int expected;
    };
    const Case cases[] = {{256, 256}, {0, 32}, {-5, 32}, {1000, 384}, {240, 224}, {241, 256}, {144, 128}, {250, 256}};
    for (const Case& c : cases)
        EXPECT_EQ(c.expected, layer2[static_cast<std::size_t>(NearestOffered(layer2, c.kbps))]) << c.kbps;
    EXPECT_EQ(-1, NearestOffered({}, 128));
}

}  // namespace
}  // namespace recorder
