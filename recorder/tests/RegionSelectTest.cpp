#include "recorder/core/RegionSelect.h"

#include <gtest/gtest.h>

namespace recorder {
namespace {

const Rect kScreen{0, 0, 1280, 720};

TEST(RegionSelect, NormaliseSwapsGrowsAndBounds) {
    struct Case {
        Region in;
        Region out;
    };
    const Case cases[] = {
        {{100, 100, 740, 580, 0}, {100, 100, 740, 580, 0}},
        {{740, 580, 100, 100, 0}, {100, 100, 740, 580, 0}},      // dragged past each other
        {{300, 300, 303, 301, 0}, {300, 300, 316, 316, 0}},      // below the minimum size
        {{1275, 715, 1278, 719, 0}, {1264, 704, 1280, 720, 0}},  // grown inwards at the screen's edge
        {{-50, -20, 2000, 900, 0}, {0, 0, 1280, 720, 0}},
    };
    for (const Case& c : cases) {
        const Region r = NormaliseRegion(c.in, kScreen);
        EXPECT_EQ(c.out.left, r.left);
        EXPECT_EQ(c.out.top, r.top);
        EXPECT_EQ(c.out.right, r.right);
        EXPECT_EQ(c.out.bottom, r.bottom);
    }
    // Extreme values stay defined.
    const Region wide = NormaliseRegion({2147483640, 0, 2147483647, 0, 0}, Rect{});
    EXPECT_GE(static_cast<long long>(wide.right) - wide.left, kMinRegionSize);
}

TEST(RegionSelect, MarkersKeepHalfAMarkerFromTheScreenEdges) {
    const Region r = ClampForMarkers({0, 2, 1280, 720, 0}, kScreen);
    EXPECT_EQ(6, r.left);
    EXPECT_EQ(6, r.top);
    EXPECT_EQ(1274, r.right);
    EXPECT_EQ(714, r.bottom);
}

// A second monitor left of and above the first one gives the virtual screen
// negative coordinates; a window picked there keeps its place and size.
TEST(RegionSelect, RegionsOnAnotherMonitorKeepTheirPlace) {
    const Rect virtualScreen{-1920, -200, 1280, 880};
    const Region window{-1800, -100, -1000, 500, 0};
    const Region normalised = NormaliseRegion(window, virtualScreen);
    const Region shown = ClampForMarkers(normalised, virtualScreen);
    for (const Region& r : {normalised, shown}) {
        EXPECT_EQ(-1800, r.left);
        EXPECT_EQ(-100, r.top);
        EXPECT_EQ(-1000, r.right);
        EXPECT_EQ(500, r.bottom);
    }
    const Region edge = ClampForMarkers({-1920, -200, -1500, 100, 0}, virtualScreen);
    EXPECT_EQ(-1914, edge.left);
    EXPECT_EQ(-194, edge.top);
    // Grown inwards at the far edge of the second monitor.
    const Region small = NormaliseRegion({-1919, -199, -1918, -198, 0}, virtualScreen);
    EXPECT_EQ(-1919 + kMinRegionSize, small.right);
    EXPECT_EQ(-199 + kMinRegionSize, small.bottom);
}

TEST(RegionSelect, MarkerGuard) {
    Region r{100, 100, 400, 300, 0};
    EXPECT_FALSE(MoveCorner(r, Corner::TopLeft, 395, 150, true));
    EXPECT_FALSE(MoveCorner(r, Corner::TopLeft, 150, 295, true));
    EXPECT_FALSE(MoveCorner(r, Corner::BottomRight, 105, 250, true));
    EXPECT_EQ(100, r.left);
    EXPECT_EQ(400, r.right);
    EXPECT_TRUE(MoveCorner(r, Corner::TopLeft, 389, 150, true));
    EXPECT_EQ(389, r.left);
    // Without the guard (just after a window pick) anything goes.
    EXPECT_TRUE(MoveCorner(r, Corner::BottomRight, 390, 151, false));
    EXPECT_EQ(390, r.right);
}

TEST(RegionSelect, WindowSearch) {
    // Row 0: the upper window with two children; row 1: a window below it.
    const std::vector<CandidateRow> rows = {
        {{{100, 100, 600, 500}, 1}, {{120, 150, 580, 480}, 2}, {{300, 300, 400, 400}, 3}},
        {{{0, 0, 1280, 720}, 9}},
    };
    EXPECT_EQ(3, ChooseWindow(rows, 350, 350, false));  // nearest top-left corner
    EXPECT_EQ(2, ChooseWindow(rows, 200, 200, false));
    EXPECT_EQ(1, ChooseWindow(rows, 110, 110, false));
    EXPECT_EQ(9, ChooseWindow({rows[1]}, 50, 50, false));
    EXPECT_EQ(-1, ChooseWindow({}, 50, 50, false));
    // Hovering tightens only the vertical distance: the last entry nearer in
    // y wins even when it is further in x.
    const std::vector<CandidateRow> hover = {{{{100, 100, 600, 500}, 1}, {{110, 150, 580, 480}, 2}}};
    EXPECT_EQ(2, ChooseWindow(hover, 500, 200, true));
    EXPECT_TRUE(IsOwnWindowTitle("Zelbo"));
    EXPECT_TRUE(IsOwnWindowTitle("Vantor Settings"));
    EXPECT_FALSE(IsOwnWindowTitle("Notepad"));
}

}  // namespace
}  // namespace recorder
