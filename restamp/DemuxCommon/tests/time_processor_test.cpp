#include "restamp/DemuxCommon/TimeProcessor.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

TEST(TimeProcessor, KeepsOneContinuousTimeline) {
    struct Case {
        const char* what;
        std::vector<int64_t> in, out;
    };
    const Case cases[] = {
        {"steady", {0, 400000, 800000}, {0, 400000, 800000}},
        {"late start", {90000000, 90400000}, {0, 400000}},
        {"jump forward", {1000000, 1400000, 100000000, 100400000}, {0, 400000, 400000, 800000}},
        {"exactly 2.5 s is no jump", {0, 25000000, 50000001}, {0, 25000000, 25000000}},
        {"backwards jump", {50000000, 24999999, 25399999}, {0, 0, 400000}},
        {"backwards within the window", {50000000, 49000000}, {0, -1000000}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        CTimeProcessor tp;
        std::vector<int64_t> got;
        for (int64_t t : c.in) got.push_back(tp.ProcessTime(CStreamKey(), t, 0));
        EXPECT_EQ(got, c.out);
    }
}

TEST(TimeProcessor, OneRecordTakesEveryKeyAndResetStartsOver) {
    CTimeProcessor tp;
    EXPECT_EQ(tp.ProcessTime(CStreamKey(0, 0, 0, 0, 0), 1000000, 0), 0);
    EXPECT_EQ(tp.ProcessTime(CStreamKey(0, 0xE0, 0, 0, 0), 1500000, 0), 500000);
    EXPECT_EQ(tp.ProcessTime(CStreamKey(0, 0xC0, 0, 0, 0), 1200000, 0), 200000);
    ASSERT_EQ(tp.ProgramCount(), 1u);
    ASSERT_EQ(tp.Program(0)->streams.size(), 1u);
    EXPECT_EQ(tp.Program(0)->streams[0]->key.streamId, 0xC0);  // the key of the latest time
    tp.Reset();
    EXPECT_EQ(tp.ProcessTime(CStreamKey(), 77000000, 0), 0);
    tp.Clear();
    EXPECT_EQ(tp.ProgramCount(), 0u);
}

TEST(TimeProcessor, ExtremeTimesStayDefined) {
    // Runs under UBSan: no signed overflow whatever the values.
    CTimeProcessor tp;
    for (int64_t t : {INT64_MIN, INT64_MAX - 1, int64_t(0), INT64_MIN + 1, INT64_MAX - 1, int64_t(-5)})
        tp.ProcessTime(CStreamKey(), t, 0);
    SUCCEED();
}

TEST(TimeProcessor, AudioSynchroGivesItsOffsetToCloseStreams) {
    CTimeProcessor tp;
    const CStreamKey audio(0, 0xC0, 0, 0, 0), video(0, 0xE0, 0, 0, 0);
    EXPECT_EQ(tp.ProcessTime(audio, 1000000, 1), 0);
    EXPECT_EQ(tp.ProcessTime(audio, 1400000, 1), 400000);
    EXPECT_EQ(tp.ProcessTime(video, 1200000, 2), 0);  // its own first time, then the audio offset
    EXPECT_EQ(tp.ProcessTime(audio, 1800000, 1), 800000);
    EXPECT_EQ(tp.ProcessTime(video, 1600000, 2), 600000);  // runs on the audio offset
    EXPECT_EQ(tp.ProcessTime(video, 2000000, 2), 1000000);
}

}  // namespace
