#include "levelmeter/core/Layout.h"

#include <gtest/gtest.h>

namespace wavrel {
namespace {

TEST(Bars, GeometryAndFill) {
    // A client area of 87 x 229 (the 93 x 258 window less its frame).
    const Bar left = LevelBar(87, 229, false);
    const Bar right = LevelBar(87, 229, true);
    EXPECT_EQ(left.x, 10);  // 87 x 2 / 17
    EXPECT_EQ(right.x, 30);
    EXPECT_EQ(left.top, 114 - 88);  // 229 / 2 - 229 x 5 / 13
    EXPECT_EQ(left.height, 143);    // trunc(229 x 0.625)
    EXPECT_EQ(left.bottom, left.top + 143);

    const int b = left.height;
    EXPECT_EQ(FillHeight(82, b), b - 8);
    EXPECT_EQ(FillHeight(90, b), b - 8);
    EXPECT_EQ(FillHeight(41, b), b / 2);
    EXPECT_EQ(FillHeight(0, b), 0);
}

TEST(Mouse, PressAndReleaseBoxes) {
    struct Press {
        int x, y;
        PressTarget want;
    };
    for (const Press p :
         {Press{5, 218, PressTarget::PeakReset}, Press{4, 218, PressTarget::None},
          Press{23, 236, PressTarget::PeakReset}, Press{23, 237, PressTarget::None}, Press{74, 3, PressTarget::Hide},
          Press{93, 3, PressTarget::None}, Press{74, 22, PressTarget::None}})
        EXPECT_EQ(HitPress(p.x, p.y), p.want) << p.x << "," << p.y;
    struct Release {
        int x, y;
        ReleaseTarget want;
    };
    for (const Release r : {Release{5, 197, ReleaseTarget::Compression}, Release{5, 196, ReleaseTarget::None},
                            Release{23, 215, ReleaseTarget::Compression}, Release{5, 218, ReleaseTarget::PeakReset},
                            Release{23, 236, ReleaseTarget::PeakReset}, Release{24, 230, ReleaseTarget::None},
                            Release{10, 217, ReleaseTarget::None}})
        EXPECT_EQ(HitRelease(r.x, r.y), r.want) << r.x << "," << r.y;
}

TEST(Placement, AudioTestThenPanelThenDesktop) {
    PlacementInput in;
    in.clientWidth = 87;
    in.clientHeight = 229;
    in.windowWidth = 93;
    in.windowHeight = 258;
    in.desktopWidth = 1280;
    in.desktopHeight = 720;
    in.showMode = true;
    in.panelWindow = true;
    in.panel = {900, 500, 1233, 663};
    in.audioTestWindow = true;
    in.audioTest = {100, 100, 500, 400};

    Placement p = PlaceMeter(in);
    EXPECT_EQ(p.x, 500 - 10 - 93);
    EXPECT_EQ(p.y, 400 - 10 - 258);
    EXPECT_TRUE(p.topMost);

    in.audioTestWindow = false;
    p = PlaceMeter(in);
    EXPECT_EQ(p.x, 900 + 333 / 2 - 87 / 2);
    EXPECT_EQ(p.y, 500 - 229 - 30);
    EXPECT_FALSE(p.topMost);

    in.showMode = false;  // mini mode: the panel does not count
    p = PlaceMeter(in);
    EXPECT_EQ(p.x, 590);
    EXPECT_EQ(p.y, 160);
    EXPECT_TRUE(p.topMost);
}

TEST(Controls, SliderFollowsTheClientSize) {
    const Rect s = SliderRect(87, 229);
    EXPECT_EQ(s.left, 60);
    EXPECT_EQ(s.top, 29);
    EXPECT_EQ(s.right - s.left, 16);
    EXPECT_EQ(s.bottom - s.top, 142);
    EXPECT_EQ(HideButtonRect(87).left, 53);
}

}  // namespace
}  // namespace wavrel
