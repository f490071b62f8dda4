#include "levelmeter/core/Volume.h"

#include <gtest/gtest.h>

namespace wavrel {
namespace {

TEST(Volume, LowerAndRaiseRoundTripAtFullVolume) {
    EXPECT_EQ(LowerChannel(65535), 52428u);
    EXPECT_EQ(RaiseChannel(52428), 65535u);
    EXPECT_EQ(LowerChannel(LowerChannel(65535)), 41942u);
    // Two lowerings and one raise do not come back: the ratchet is intended.
    EXPECT_EQ(RaiseChannel(41942), 52427u);
}

TEST(Volume, RaiseAboveFullStopsAtFullAndStaysInItsChannel) {
    // Set higher by hand meanwhile: 60000 x 1.25 would be 75000.
    EXPECT_EQ(RaiseChannel(60000), kFullChannel);
    EXPECT_EQ(BothChannels(RaiseChannel(60000)), 0xFFFFFFFFu);
    EXPECT_EQ(BothChannels(75000), 0xFFFFFFFFu);
    EXPECT_EQ(BothChannels(32767), 0x7FFF7FFFu);
}

TEST(Volume, PercentAndSliderMappings) {
    struct Case {
        std::uint32_t channel;
        int percent;
    };
    // The single-precision factor makes full volume 99.
    for (const Case c : {Case{65535, 99}, Case{52428, 79}, Case{32767, 49}, Case{0, 0}})
        EXPECT_EQ(VolumePercent(c.channel), c.percent) << c.channel;
    // Only the left channel (low word) positions the slider.
    EXPECT_EQ(SliderPositionForVolume(0x0000FFFF), 1);
    EXPECT_EQ(SliderPositionForVolume(0xFFFF0000), 100);

    struct Slide {
        int position;
        std::uint32_t channel;
        int reported;
    };
    for (const Slide s : {Slide{50, 32767, 50}, Slide{0, 0xFFFF, 100}, Slide{-5, 0xFFFF, 105}, Slide{100, 0, 0},
                          Slide{99, 655, 1}, Slide{1, 64879, 99}}) {
        EXPECT_EQ(ChannelForSliderPosition(s.position), s.channel) << s.position;
        EXPECT_EQ(SliderPercent(s.position), s.reported) << s.position;
    }
}

TEST(Volume, SoundFileHoldsTheSignedVolume) {
    EXPECT_EQ(SoundFileText(0xFFFFFFFF), "volume=-1");
    EXPECT_EQ(SoundFileText(0x7FFF7FFF), "volume=2147450879");
    EXPECT_EQ(SoundFileText(0), "volume=0");
}

TEST(Limiter, FiresStrictlyAbove82AndOnlyWithCompression) {
    Limiter off;
    EXPECT_EQ(off.Decide(90, 90, 0), Limiter::Action::None);
    EXPECT_FALSE(off.Mark());

    Limiter l;
    l.SetCompression(true);
    EXPECT_EQ(l.Decide(82.0, 82.0, 0), Limiter::Action::None);
    EXPECT_FALSE(l.Mark());
    EXPECT_EQ(l.Decide(10, 82.01, 0), Limiter::Action::Lower);
    EXPECT_TRUE(l.Mark());
}

TEST(Limiter, RaisesOnceAfterTheHold) {
    Limiter l;
    l.SetCompression(true);
    ASSERT_EQ(l.Decide(83, 0, 1000), Limiter::Action::Lower);
    l.VolumeLowered(1100);  // after the 100 ms pump
    l.ClearMark();
    EXPECT_EQ(l.Decide(50, 50, 1200), Limiter::Action::None);
    EXPECT_EQ(l.Decide(50, 50, 1250), Limiter::Action::None);  // the hold ends after 150 ms
    EXPECT_EQ(l.Decide(50, 50, 1251), Limiter::Action::Raise);
    l.VolumeRaised();
    EXPECT_FALSE(l.Lowered());
    EXPECT_EQ(l.Decide(50, 50, 5000), Limiter::Action::None);
}

}  // namespace
}  // namespace wavrel
