// The log writes only what its switches admit, in its line format.
#include "restamp/FilterStuff/DebugLog.h"

#include <gtest/gtest.h>

#include <vector>

namespace chronel {
namespace {

struct CapturingOutput : LogOutput {
    void Write(const std::string& line) override { lines.push_back(line); }
    void LocalTime(int* h, int* m, int* s) override { *h = 9, *m = 5, *s = 7; }
    double SecondFraction() override { return fraction; }
    uint32_t ThreadId() override { return 0x1F; }
    std::vector<std::string> lines;
    double fraction = -1;
};

LogSettings With(std::initializer_list<std::pair<int, uint32_t>> levels, bool inRelease = true) {
    LogSettings s;
    for (auto& l : levels) s.thresholds[l.first] = l.second;
    s.enableInRelease = inRelease;
    return s;
}

TEST(DebugLog, OnlyAdmittedCategoriesAndLevelsAreWritten) {
    CapturingOutput out;
    ELogDebug log("Chronel.ax", With({{4, 1}}), &out);
    const int line = __LINE__ + 1;
    DMX_LOG(LOG_ERROR, 1, "failed %d", 3);
    DMX_LOG(LOG_TRACE, 1, "state");
    DMX_LOG(LOG_ERROR, 2, "too detailed");
    DMX_LOG(LOG_ERROR, 0, "level zero");
    ASSERT_EQ(1u, out.lines.size());
    EXPECT_EQ("Chronel.ax 9:5:7 ERROR:1\t DebugLogTest.cpp:" + std::to_string(line) + " (tid 0x1F)\tfailed 3\n",
              out.lines[0]);
}

TEST(DebugLog, TraceLevelSevenAddsBookkeepingLines) {
    CapturingOutput out;
    ELogDebug log("m", With({{1, 7}}), &out);
    out.fraction = 0.25;
    DMX_LOG(LOG_TRACE, 7, "AddBuffer(%d) - valid %d", 1000, 1000);
    ASSERT_EQ(1u, out.lines.size());
    EXPECT_NE(std::string::npos, out.lines[0].find(" 0.250000 TRACE:7\t"));
}

TEST(DebugLog, NothingWithoutEnableInRelease) {
    CapturingOutput out;
    ELogDebug log("m", With({{1, 1}}, false), &out);
    DMX_LOG(LOG_TRACE, 1, "x");
    EXPECT_TRUE(out.lines.empty());
}

TEST(DebugLog, LongTextIsCut) {
    CapturingOutput out;
    ELogDebug log("m", With({{0, 1}}), &out);
    std::string big(20000, 'a');
    DMX_LOG(LOG_TIMING, 1, "%s", big.c_str());
    ASSERT_EQ(1u, out.lines.size());
    size_t tab = out.lines[0].rfind('\t');
    EXPECT_EQ(10239u + 1u, out.lines[0].size() - tab - 1);  // text plus the newline
}

TEST(DebugLog, CurrentLoggerIsTheNewestThenTheFirstLeft) {
    CapturingOutput a, b, c;
    ELogDebug first("a", With({{0, 1}}), &a);
    {
        ELogDebug second("b", With({{0, 1}}), &b);
        ELogDebug third("c", With({{0, 1}}), &c);
        DMX_LOG(LOG_TIMING, 1, "to c");
    }
    DMX_LOG(LOG_TIMING, 1, "to a");
    EXPECT_EQ(1u, a.lines.size());
    EXPECT_TRUE(b.lines.empty());
    EXPECT_EQ(1u, c.lines.size());
}

}  // namespace
}  // namespace chronel
