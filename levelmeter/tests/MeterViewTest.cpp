#include "levelmeter/core/MeterView.h"

#include <gtest/gtest.h>

namespace wavrel {
namespace {

UpdateResult Feed(MeterView& view, int left, int right) {
    bool mark = false;
    return view.Update(left, right, mark);
}

// Ten updates: nine are summed, the tenth takes the baseline (sum / 10 - 82).
void TakeBaseline(MeterView& view, int left, int right) {
    for (int i = 0; i < 9; ++i) EXPECT_EQ(Feed(view, left, right).verdict, Verdict::None);
    const UpdateResult r = Feed(view, 99, 99);  // not summed, not compared
    EXPECT_EQ(r.verdict, Verdict::None);
    EXPECT_EQ(r.readout, TestReadout(view.BaselineLeft(), view.BaselineRight(), view.PeakRight()));
}

TEST(Verdict, BaselineSumsNineUpdatesOverTen) {
    MeterView view;
    TakeBaseline(view, 40, 30);
    EXPECT_EQ(view.BaselineLeft(), 40 * 9 / 10 - 82);   // -46
    EXPECT_EQ(view.BaselineRight(), 30 * 9 / 10 - 82);  // -55
    // Without audio-test mode nothing is ever compared.
    for (int i = 0; i < 100; ++i) EXPECT_EQ(Feed(view, 90, 90).verdict, Verdict::None);
}

TEST(Verdict, RiseOfMoreThanTenOverTheBaselineIsSound) {
    struct Case {
        int left;
        int right;
        Verdict want;
    };
    // Baseline 40 x 9 / 10 - 82 = -46 on both sides: sound above -36.
    for (const Case c :
         {Case{46, 40, Verdict::None}, Case{47, 40, Verdict::SoundDetected}, Case{40, 47, Verdict::SoundDetected}}) {
        MeterView view;
        view.SetAudioTest(true);
        TakeBaseline(view, 40, 40);
        const UpdateResult r = Feed(view, c.left, c.right);
        EXPECT_EQ(r.verdict, c.want) << c.left << " " << c.right;
        if (c.want == Verdict::SoundDetected) {
            EXPECT_EQ(r.reportLeft, c.left - 82);
            EXPECT_EQ(r.reportRight, c.right - 82);
            EXPECT_FALSE(view.AudioTest());
            EXPECT_EQ(Feed(view, 90, 90).verdict, Verdict::None);  // said once
        }
    }
}

TEST(Verdict, NoSoundAfterSeventySixComparisons) {
    MeterView view;
    view.SetAudioTest(true);
    TakeBaseline(view, 40, 40);
    for (int i = 1; i < 76; ++i) ASSERT_EQ(Feed(view, 41, 41).verdict, Verdict::None) << i;
    const UpdateResult last = Feed(view, 41, 41);
    EXPECT_EQ(last.verdict, Verdict::NoSound);
    EXPECT_EQ(last.reportLeft, -41);
    EXPECT_FALSE(view.AudioTest());
    EXPECT_EQ(Feed(view, 90, 90).verdict, Verdict::None);
}

TEST(Peaks, ReadoutFollowsThePeaksAndTheLimiterResetsThem) {
    MeterView view;
    EXPECT_EQ(Feed(view, 50, 60).readout, " -32 -22");
    EXPECT_EQ(Feed(view, 40, 80).readout, "   -32  -2");  // right peak above -10: wide
    EXPECT_EQ(Feed(view, 0, 80).readout, "");             // a level of 0 shows nothing
    EXPECT_EQ(view.PeakLeft(), -32);
    bool mark = true;
    EXPECT_EQ(view.Update(30, 30, mark).readout, " -52 -52");
    EXPECT_FALSE(mark);
    view.ResetPeaks();
    EXPECT_EQ(view.PeakRight(), -82);
}

TEST(Peaks, TestReadoutSpacing) {
    EXPECT_EQ(TestReadout(-46, -46, -10), "-46 -46");
    EXPECT_EQ(TestReadout(-46, -46, -9), "-46   -46");
    EXPECT_EQ(PeakReadout(-10, -10), " -10 -10");
}

}  // namespace
}  // namespace wavrel
