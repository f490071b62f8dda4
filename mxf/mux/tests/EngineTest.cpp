// The engine facade and its settings file.
#include "mxf/mux/MuxEngine.h"
#include "mxf/mux/tests/TestSupport.h"

#include <gtest/gtest.h>

#include <memory>

namespace {

using mexora::EngineSettings;
using mexora::MuxEngine;
using mexora::SettingsNames;

struct SettingsRun {
    int32_t code;
    EngineSettings settings;
    std::unique_ptr<SettingsNames> names;
};

SettingsRun Read(const std::string& text) {
    const std::string path = mexora_test::TempDir() + "/settings.txt";
    mexora_test::WriteFile(path, std::vector<uint8_t>(text.begin(), text.end()));
    SettingsRun r{0, EngineSettings(), std::make_unique<SettingsNames>()};
    *r.names = SettingsNames{};
    r.code = mexora::ReadSettingsFile(path.c_str(), &r.settings, r.names.get());
    return r;
}

TEST(SettingsFile, ReadsKeysInAnyCaseQuotedValuesAndTriplesOnOneLine) {
    const SettingsRun r = Read(
        "# a comment line\n"
        "profile = 3, LIVEMODE = 1 ; trailing comment\n"
        "SrcFileName = \"my clip, take 1.m2v\"\r\n"
        "SrcFileName = b.wav\n"
        "FileNumber = 7 DestFileName = out.mxf\n"
        "Unknown token here\n");
    ASSERT_EQ(r.code, 0);
    EXPECT_EQ(r.settings.profile, 3);
    EXPECT_EQ(r.settings.liveMode, 1);
    EXPECT_EQ(r.settings.fileNumber, 7);
    EXPECT_STREQ(r.names->sources[0], "my clip, take 1.m2v");
    EXPECT_STREQ(r.names->sources[1], "b.wav");
    EXPECT_STREQ(r.names->destinations[0], "out.mxf");
}

TEST(SettingsFile, MalformedFilesFailAsAWhole) {
    std::string many;
    for (int i = 0; i < 51; i++) many += "SrcFileName = s" + std::to_string(i) + "\n";
    struct Case {
        std::string text;
        const char* why;
    };
    const Case cases[] = {
        {"Profile 3\n", "a key without ="}, {"Profile = x\n", "a number that does not parse"},
        {"Profile =\n", "no value"},        {std::string(60001, ' '), "60,001 bytes"},
        {many, "a 51st source name"},
    };
    for (const Case& c : cases) EXPECT_EQ(Read(c.text).code, mexora::kEngineFileError) << c.why;
    // The 51st source never reaches the destination list.
    const SettingsRun r = Read(many + "DestFileName = keep.mxf\n");
    EXPECT_STREQ(r.names->destinations[0], "");
    EXPECT_EQ(Read(std::string(60000, ' ')).code, 0);
}

TEST(Engine, EmptyQueueAnswers21AndLeavesTheRecordAlone) {
    mexora_test::Recording rec;
    MuxEngine engine(mexora_test::RecordingWriter(&rec), {});
    EXPECT_EQ(engine.get_state(), mexora::kStateCreated);
    ASSERT_EQ(engine.init(), 0);
    EXPECT_EQ(engine.get_state(), mexora::kStateInitialised);
    mexora::OutputInfo info;
    info.length = 1234;
    EXPECT_EQ(engine.get_output_sample_info(&info), mexora::kNothingAvailable);
    EXPECT_EQ(info.length, 1234u);
    EXPECT_EQ(engine.get_output_sample_info(nullptr), mexora::kEngineNullArgument);
    const uint8_t* p = reinterpret_cast<const uint8_t*>(1);
    EXPECT_EQ(engine.get_output_sample_pointer(&p), mexora::kNothingAvailable);
    EXPECT_EQ(p, nullptr);
    EXPECT_EQ(engine.set_settings(nullptr), mexora::kEngineNullArgument);
    EXPECT_EQ(engine.get_statistic(nullptr), mexora::kEngineNullArgument);
}

TEST(Engine, RunsToFinishedOnceTheLastPieceIsTaken) {
    mexora_test::Recording rec;
    MuxEngine engine(mexora_test::RecordingWriter(&rec), {});
    ASSERT_EQ(engine.init(), 0);
    ASSERT_EQ(engine.add_stream(10000, 0), 0);
    const uint8_t data[3] = {1, 2, 3};
    EXPECT_EQ(engine.add_sample(10000, data, 3), 0);
    EXPECT_EQ(engine.get_state(), mexora::kStateRunning);
    EXPECT_EQ(engine.end_of_stream(10000), 0);
    EXPECT_EQ(engine.output_available(), mexora::kOutputAvailable);
    uint8_t copy[3] = {};
    EXPECT_EQ(engine.copy_output_sample(copy), 0);  // the sample's piece
    EXPECT_EQ(copy[2], 3);
    EXPECT_EQ(engine.get_state(), mexora::kStateRunning);
    EXPECT_EQ(engine.drop_output_sample(), 0);  // the rewrite
    EXPECT_EQ(engine.get_state(), mexora::kStateFinished);
    mexora::EngineStatistics stats;
    EXPECT_EQ(engine.get_statistic(&stats), 0);
    EXPECT_EQ(stats.bytesIn, 3);
    EXPECT_EQ(stats.piecesOut, 2);
}

TEST(Engine, WithoutAWriterStreamsAreRefused) {
    MuxEngine engine(nullptr, {});
    EXPECT_EQ(engine.init(), 0);
    EXPECT_EQ(engine.add_stream(10000, 0), mexora::kNoWriter);
    const uint8_t b = 0;
    EXPECT_EQ(engine.add_sample(10000, &b, 1), mexora::kNoWriter);
    EXPECT_EQ(engine.test_output_file((mexora_test::TempDir() + "/t.mxf").c_str()), 0);
    EXPECT_EQ(engine.test_output_file((mexora_test::TempDir() + "/no/such/t.mxf").c_str()), mexora::kEngineFileError);
}

}  // namespace
