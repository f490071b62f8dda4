// The core's log lines reach the installed sink with their category and level.
#include "restamp/DemuxCommon/CoreLog.h"
#include "restamp/DemuxCommon/DataDispatcher.h"
#include "restamp/DemuxCommon/TimeProcessor.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

struct Line {
    uint32_t mask;
    int level;
    std::string text;
    bool operator==(const Line& o) const { return mask == o.mask && level == o.level && text == o.text; }
};

std::vector<Line> g_lines;

void Capture(uint32_t mask, int level, const char*, int, const char* text) {
    g_lines.push_back(Line{mask, level, text});
}

class CoreLog : public ::testing::Test {
protected:
    void SetUp() override {
        g_lines.clear();
        chronel::SetCoreLogSink(&Capture);
    }
    void TearDown() override { chronel::SetCoreLogSink(nullptr); }

    static bool Has(uint32_t mask, const std::string& text) {
        for (const Line& l : g_lines)
            if (l.mask == mask && l.level == 1 && l.text == text) return true;
        return false;
    }
};

struct NoTimes : ATimeSink {
    void OnTime(int64_t) override {}
};

constexpr uint32_t kTrace = chronel::kCoreLogTrace;

TEST_F(CoreLog, DetectionTellsWhatItTriedAndWhatFailed) {
    NoTimes sink;
    CDataDispatcher d(&sink);
    std::vector<uint8_t> zeros(100000, 0);
    uint32_t n = uint32_t(zeros.size());
    d.ProcessData(0, zeros.data(), &n);
    const std::vector<Line> expected = {
        {kTrace, 1, "InitWithData 100000"},
        {kTrace, 1, "CMainParser::InitWithData detect type"},
        {chronel::kCoreLogError, 1, " FAILED hr = 0x80004005"},
    };
    EXPECT_EQ(expected, g_lines);
}

TEST_F(CoreLog, EndOfStreamWalksItsStepsAndDetectsShortAudio) {
    NoTimes sink;
    CDataDispatcher d(&sink);
    d.EndOfStream();  // nothing collected
    EXPECT_TRUE(Has(kTrace, "CDataDispatcher::EndOfStream 3"));
    EXPECT_FALSE(Has(kTrace, "CDataDispatcher::EndOfStream 4"));

    // 100 Layer II frames: too short to be taken before the end.
    std::vector<uint8_t> frames;
    for (int i = 0; i < 100; ++i) {
        std::vector<uint8_t> f(576, 0x11);
        f[0] = 0xFF;
        f[1] = 0xFD;
        f[2] = 0xA4;
        f[3] = 0x00;
        frames.insert(frames.end(), f.begin(), f.end());
    }
    uint32_t n = uint32_t(frames.size());
    d.ProcessData(0, frames.data(), &n);
    g_lines.clear();
    d.EndOfStream();
    EXPECT_TRUE(Has(kTrace, "CDataDispatcher::EndOfStream 4"));
    EXPECT_TRUE(Has(kTrace, "InitWithData 57600"));
    EXPECT_TRUE(Has(kTrace, "DetectAudioOnlyStream"));
    EXPECT_TRUE(d.MainParser().IsInitialized());
    g_lines.clear();
    d.EndOfStream();
    EXPECT_EQ(std::vector<Line>{(Line{kTrace, 1, "CDataDispatcher::EndOfStream 1"})}, g_lines);
}

TEST_F(CoreLog, ProgramRuleLinesAreCustomCategory) {
    CTimeProcessor tp;
    tp.ProcessTime(CStreamKey(), 1000000, 0);  // the first time is a jump
    EXPECT_TRUE(Has(chronel::kCoreLogCustom1, "rtTemeMax == _I64_MAX"));
}

}  // namespace
