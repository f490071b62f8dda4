#include "engine/core/CommandLine.h"

#include <gtest/gtest.h>

#include "recorder/core/EngineLaunch.h"

namespace engine {
namespace {

EngineSettings ParseLine(const std::string& line, std::vector<std::string>* refusals = nullptr) {
    WordTable table;
    const std::vector<std::string> words = SplitCommandLine(line, true);
    for (std::size_t i = 0; i < words.size(); ++i) {
        std::string refusal;
        if (!table.Add(words[i], i + 1 == words.size(), refusal) && refusals) refusals->push_back(refusal);
    }
    return PairKeys(table.Words());
}

TEST(EngineCommandLine, RoundTripThroughTheEngineParser) {
    struct Case {
        const char* target;
        const char* source;
        const char* file;    // what the engine reads
        const char* device;  // in the loopback form
    };
    const Case cases[] = {
        {"C:\\rec\\Zelbo.mpg", "Line In", "C:\\rec\\Zelbo.mpg", "Line In"},
        {"C:\\my recordings\\a b  c.mpg", "Mic (USB) [2]", "C:\\my recordings\\a b  c.mpg", "Mic (USB) [2]"},
        // A quote would close the value and let the rest become words.
        {"C:\\r\\x\" -fmt \"7.mpg", "dev\" -vista \"0", "C:\\r\\x_ -fmt _7.mpg", "dev_ -vista _0"},
        {"C:\\r\\[draft] {1}.mpg", "\\\\server\\", "C:\\r\\[draft] {1}.mpg", "\\\\server\\"},
        // A value that looks like a key stays a value, sign included.
        {"-clip.mpg", "-file", "-clip.mpg", "-file"},
        {"/x.mpg", "-fmt", "/x.mpg", "-fmt"},
        {"", "", "", ""},
    };
    for (const Case& c : cases) {
        recorder::Settings s;
        s.protocol = 2;
        s.videoBitrate = 4000;
        s.audioBitrate = 192;
        s.frameRate = 25;
        s.videoAccel = 1;
        s.audioSource = c.source;
        s.audioOnly = 0;
        s.videoOnly = 1;
        const recorder::Region region{-4, 8, 1023, 767, 25};

        s.vistaAudio = 1;
        const EngineSettings b =
            ParseLine("\"C:\\Program Files\\Zelbov.exe\" " + recorder::BuildEngineCommandLine(s, c.target, region));
        EXPECT_EQ(c.file, b.file) << c.target;
        EXPECT_EQ(c.device, b.audioDevice) << c.source;
        EXPECT_TRUE(b.vista);
        EXPECT_FALSE(b.sonifer);
        EXPECT_EQ(2, b.format);
        EXPECT_EQ(4000, b.videoKbps);
        EXPECT_EQ(192, b.audioKbps);
        EXPECT_EQ(25, b.frameRate);
        EXPECT_EQ(1, b.videoAccel);
        EXPECT_EQ(1, b.capture);
        EXPECT_EQ(4, b.left);  // a value word loses its sign
        EXPECT_EQ(8, b.top);
        EXPECT_EQ(1023, b.right);
        EXPECT_EQ(767, b.bottom);
        EXPECT_EQ("Zelbo", b.windowName);
        EXPECT_FALSE(b.audioOnly);
        EXPECT_TRUE(b.videoOnly);

        s.audioSonifer = 1;  // the grabber form, even with VistaAudio set
        const EngineSettings a = ParseLine("Zelbov.exe " + recorder::BuildEngineCommandLine(s, c.target, region));
        EXPECT_EQ(c.file, a.file) << c.target;
        EXPECT_TRUE(a.sonifer);
        EXPECT_FALSE(a.vista);
        EXPECT_EQ("", a.audioDevice);
        EXPECT_FALSE(a.videoOnly);  // not in this form
        EXPECT_EQ(4000, a.videoKbps);
    }
}

TEST(EngineCommandLine, FormsAsWritten) {
    recorder::Settings s;
    s.protocol = 0;
    s.videoBitrate = 1000;
    s.audioBitrate = 64;
    s.frameRate = 30;
    s.audioSource = "Line";
    const recorder::Region region{1, 2, 3, 4, 30};
    EXPECT_EQ(
        "-file \"C:\\a.mpg\" -fmt 0 -kv 1000 -ka 64 -fr 30 -va 0 -cap 1 -asrc \"sonifer\" -vista 0 -show 0 -xT 1 "
        "-yT 2 -xB 3 -yB 4 -wnd \"Zelbo\" -aonly 0",
        recorder::BuildEngineCommandLine(s, "C:\\a.mpg", region));
    s.vistaAudio = 1;
    EXPECT_EQ(
        "-file \"C:\\a.mpg\" -fmt 0 -kv 1000 -ka 64 -fr 30 -ve 0 -va 0 -cap 1 -asrc \"Line\" -vista 1 -show 0 -xT 1 "
        "-yT 2 -xB 3 -yB 4 -wnd \"Zelbo\" -aonly 0 -vonly 0",
        recorder::BuildEngineCommandLine(s, "C:\\a.mpg", region));
}

TEST(EngineCommandLine, SplitsAsTheRuntimeDoes) {
    struct Case {
        const char* line;
        std::vector<std::string> words;
    };
    const Case cases[] = {
        {"a  b\tc", {"a", "b", "c"}}, {"\"a b\" c", {"a b", "c"}}, {"a\\\\b \"c\\\\\" d", {"a\\\\b", "c\\", "d"}},
        {"\"a\\\"b\"", {"a\"b"}},     {"\"\" x", {"", "x"}},       {"ab\"c d\"e", {"abc de"}},
    };
    for (const Case& c : cases) EXPECT_EQ(c.words, SplitCommandLine(c.line, false)) << c.line;
    EXPECT_EQ(std::vector<std::string>{"-x"}, SplitCommandLine("\"C:\\a b\\Zelbov.exe\" -x", true));
}

TEST(EngineCommandLine, ModesAndKeys) {
    EXPECT_TRUE(ParseLine("z -vista 1 -asrc sonifer").vista);
    EXPECT_FALSE(ParseLine("z -vista 1 -asrc sonifer").sonifer);
    EXPECT_FALSE(ParseLine("z -asrc sonifer -vista 1").sonifer);
    EXPECT_TRUE(ParseLine("z -asrc SONIFER-Device").sonifer);
    EXPECT_EQ("", ParseLine("z -asrc SONIFER-Device").audioDevice);
    EXPECT_FALSE(ParseLine("z -asrc Line").Records());
    EXPECT_EQ("", ParseLine("z -fmt 1 -file").file);  // no value follows
    EXPECT_EQ("", ParseLine("z -File a.mpg").file);
    EXPECT_EQ("", ParseLine("z file a.mpg").file);
    EXPECT_EQ("b.mpg", ParseLine("z /file b.mpg").file);
    EXPECT_EQ(0, ParseLine("z -fmt x").format);
    EXPECT_EQ(-3, ParseLine("z -fmt \" -3x\"").format);
    EXPECT_EQ(30, ParseLine("z -ve 5 -show 1").frameRate);  // ignored keys change nothing
    EXPECT_EQ(std::string(kMaxTextValue, 'a'), ParseLine("z -file " + std::string(400, 'a')).file);
}

TEST(EngineCommandLine, FiftyWordsAtMost) {
    std::string line = "z";
    for (int i = 0; i < 24; ++i) line += " -kv " + std::to_string(i);  // 48 words
    line += " -fr 12 -fmt 3 -ka 9";                                    // words 49 to 54
    std::vector<std::string> refusals;
    const EngineSettings s = ParseLine(line, &refusals);
    EXPECT_EQ((std::vector<std::string>{"Too many parameters 50", "Too many parameters 51", "Too many parameters 52",
                                        "Too many parameters 53"}),
              refusals);
    EXPECT_EQ(12, s.frameRate);
    EXPECT_EQ(0, s.format);

    WordTable table;
    std::string refusal;
    EXPECT_TRUE(table.Add(std::string(5000, 'w'), true, refusal));
    EXPECT_EQ(kWordSlot - 1, table.Words()[0].raw.size());
}

}  // namespace
}  // namespace engine
