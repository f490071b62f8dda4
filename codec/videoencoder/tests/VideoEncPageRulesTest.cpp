// The settings pages' rules, without a window.
#include <gtest/gtest.h>

#include "codec/videoencoder/VideoEncPageRules.h"
#include "codec/videoencoder/VideoEncParams.h"

#include <climits>
#include <cmath>
#include <limits>

using namespace vidpage;

namespace {

TEST(VideoEncPageLevels, OfferedLevelsFollowTheTableAndTheListOrder) {
    struct Case {
        int profile;
        std::vector<int> levels;
    } cases[] = {
        {1, {4, 6, 8}},      // High: High, High-1440, Main
        {4, {4, 6, 8, 10}},  // Main: every level but "Unspecified"
        {5, {8}},            // Simple: Main only
        {7, {15, 4, 8}},     // 4:2:2: the list's order puts "Unspecified" first
        {3, {}},             // no such profile
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.profile);
        EXPECT_EQ(LevelsForProfile(c.profile), c.levels);
    }
}

TEST(VideoEncPageLevels, ApplyKeepsAPairOrTakesTheLastLevelListed) {
    struct Case {
        int profile, level, applied;
    } cases[] = {
        {1, 10, 8},              // High + Low -> Main
        {1, 6, 6},               // a pair stays
        {4, 15, 10},             // Main + Unspecified -> Low
        {5, 4, 8},               // Simple + High -> Main
        {7, 10, 8},              // 4:2:2 + Low -> Main, the last one its list shows
        {7, 15, 15}, {3, 6, 6},  // unknown profile: level untouched
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.profile << "/" << c.level);
        EXPECT_EQ(LevelToApply(c.profile, c.level), c.applied);
    }
}

TEST(VideoEncPageAspect, ListByVideoType) {
    for (int t : {0, 1, 13, 15}) {
        SCOPED_TRACE(t);
        ASSERT_EQ(AspectNames(t).size(), 14u);
        EXPECT_STREQ(AspectNames(t)[8], "0.9157 - CCIR601 625 lines (PAL)");
    }
    for (int t : {2, 4, 25}) {
        SCOPED_TRACE(t);
        ASSERT_EQ(AspectNames(t).size(), 5u);
        EXPECT_STREQ(AspectNames(t)[3], "16:9");
    }
    EXPECT_TRUE(IsMpeg1Type(13));
    EXPECT_FALSE(IsMpeg1Type(15)) << "MPEG-1 aspects, MPEG-2 controls";
}

TEST(VideoEncPageRates, ModeLabelsAndKbitMapping) {
    for (int mode : {2, 3}) EXPECT_STREQ(LabelsForMode(mode).first, "I-frames quant:");
    for (int mode : {0, 1}) {
        EXPECT_STREQ(LabelsForMode(mode).first, "Bit-rate (Kb/s):");
        EXPECT_STREQ(LabelsForMode(mode).third, "VBV buf. size (16 kbit):");
    }
    EXPECT_STREQ(LabelsForMode(3).third, "B-frames quant:");
    EXPECT_EQ(BitrateFromKbit(4000), 4000000);
    EXPECT_EQ(KbitFromBitrate(4000000), 4000);
    EXPECT_EQ(KbitFromBitrate(1999), 1) << "shown truncated";
    EXPECT_EQ(BitrateFromKbit(10000000), INT32_MAX / 1000 * 1000) << "held inside the field";
    EXPECT_EQ(BitrateFromKbit(-5), -5000);
}

TEST(VideoEncPageUpDown, GopAndBFramesHoldEachOther) {
    struct Case {
        int gop, bFrames, heldGop, heldB;
    } cases[] = {
        {15, 2, 15, 2}, {2, 2, 4, 0},  {1, 0, 1, 0}, {0, 0, 1, 0},     {200, 3, 100, 3},
        {3, 7, 9, 1},   {9, 9, 11, 7}, {2, 1, 3, 0}, {100, 7, 100, 7},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.gop << "/" << c.bFrames);
        EXPECT_EQ(HoldGopLength(c.gop, c.bFrames), c.heldGop);
        EXPECT_EQ(HoldBFrames(c.bFrames, c.gop), c.heldB);
    }
}

TEST(VideoEncPageEnabling, RunningTypeAndSelections) {
    struct Case {
        MainPageState s;
        MainPageEnabling e;
    } cases[] = {
        {{false, 2, 1, 0}, {true, true, true, false, true}},    // interlaced: no pulldown
        {{false, 2, 0, 0}, {true, true, false, true, true}},    // progressive: no field order
        {{false, 2, 0, 1}, {true, true, false, true, false}},   // "Constant": no maximum
        {{false, 0, 1, 0}, {true, false, false, false, true}},  // MPEG-1
        {{false, 13, 1, 0}, {true, false, false, false, true}},
        {{true, 2, 1, 0}, {false, false, false, false, false}},  // running: all greyed
    };
    for (const Case& c : cases) {
        MainPageEnabling e = EnablingFor(c.s);
        SCOPED_TRACE(testing::Message() << c.s.running << " " << c.s.videoType << " " << c.s.pictureTypeIndex << " "
                                        << c.s.modeName);
        EXPECT_EQ(e.settings, c.e.settings);
        EXPECT_EQ(e.mpeg2Fields, c.e.mpeg2Fields);
        EXPECT_EQ(e.fieldOrder, c.e.fieldOrder);
        EXPECT_EQ(e.pulldown, c.e.pulldown);
        EXPECT_EQ(e.maxRate, c.e.maxRate);
    }
}

TEST(VideoEncPageTexts, InformationFields) {
    EXPECT_EQ(ResolutionText(720, 576), "720 x 576");
    EXPECT_EQ(ResolutionText(0, 576), "na");
    EXPECT_EQ(ResolutionText(720, 0), "na");
    EXPECT_EQ(FrameRateText(25), "25.000 fps");
    EXPECT_EQ(FrameRateText(29.97002997), "29.970 fps");
    EXPECT_EQ(FrameRateText(0), "na");
    EXPECT_EQ(FrameRateText(std::numeric_limits<double>::quiet_NaN()), "na");
    EXPECT_EQ(FrameTypeText(0), "Frame");
    EXPECT_EQ(FrameTypeText(1), "Field");
    EXPECT_EQ(FrameTypeText(-1), "na");
    EXPECT_EQ(SpeedText(12.345), "12.35");
    EXPECT_EQ(PsnrText(38.12345), "38.123");
}

TEST(VideoEncPageList, RowsAreTheVisibleWritableParameters) {
    const vidcore::ParamRow* rows = vidcore::kParamRows;
    EXPECT_TRUE(IsListed(rows[vidcore::P_SearchRange].visible, rows[vidcore::P_SearchRange].readOnly));
    EXPECT_FALSE(IsListed(rows[vidcore::P_IsRunning].visible, rows[vidcore::P_IsRunning].readOnly)) << "read-only";
    EXPECT_FALSE(IsListed(rows[vidcore::P_SetDefaults].visible, rows[vidcore::P_SetDefaults].readOnly)) << "hidden";
    EXPECT_FALSE(IsListed(true, true));
    EXPECT_FALSE(IsListed(false, false));
}

TEST(VideoEncPageList, ValueTexts) {
    struct Case {
        Value v;
        const char* text;
    } cases[] = {
        {{ValueKind::Integer, -42, 0, ""}, "-42"},
        {{ValueKind::Int64, 5000000000LL, 0, ""}, "5000000000"},
        {{ValueKind::UInt64, 7, 0, ""}, "7"},
        {{ValueKind::Real8, 0, 29.97, ""}, "29.97"},
        {{ValueKind::Real8, 0, 1.005e3, ""}, "1005.00"},
        {{ValueKind::Bool, 1, 0, ""}, "True"},
        {{ValueKind::Bool, 0, 0, ""}, "False"},
        {{ValueKind::Text, 0, 0, "C:\\stats"}, "C:\\stats"},
    };
    for (const Case& c : cases) EXPECT_EQ(FormatValue(c.v), c.text);
}

TEST(VideoEncPageList, EditorTextParsesByTheValueKind) {
    struct Case {
        ValueKind kind;
        const char* text;
        bool ok;
        int64_t integer;
        double real;
    } cases[] = {
        {ValueKind::Integer, "4000", true, 4000, 0},
        {ValueKind::Integer, " -7 ", true, -7, 0},
        {ValueKind::Integer, "12abc", false, 0, 0},
        {ValueKind::Integer, "", false, 0, 0},
        {ValueKind::Integer, "3000000000", false, 0, 0},  // beyond 32 bits
        {ValueKind::Int64, "3000000000", true, 3000000000LL, 0},
        {ValueKind::UInt64, "-1", false, 0, 0},
        {ValueKind::Real8, "29.97", true, 0, 29.97},
        {ValueKind::Real8, "2,5", false, 0, 0},
        {ValueKind::Real8, "inf", false, 0, 0},
        {ValueKind::Currency, "1.5", true, 0, 1.5},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        std::optional<Value> v = ParseValue(c.kind, c.text);
        ASSERT_EQ(v.has_value(), c.ok);
        if (!c.ok) continue;
        EXPECT_EQ(v->integer, c.integer);
        EXPECT_DOUBLE_EQ(v->real, c.real);
    }
    std::optional<Value> text = ParseValue(ValueKind::Bool, "True");
    ASSERT_TRUE(text);
    EXPECT_EQ(text->kind, ValueKind::Text) << "the parameter converts the text";
    EXPECT_EQ(text->text, "True");
}

}  // namespace
