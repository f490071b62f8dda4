// The capture span against a 1280-pixel screen (and a screen left of the
// main one): in range it is kept, else clamped to the screen.
#include <gtest/gtest.h>

#include "companions/screencap/RegionFit.h"

namespace screencap {
namespace {

struct Case {
    const char* what;
    Span wanted, screen, expected;
    bool fitted;
};

const Case kCases[] = {
    {"in range", {100, 420}, {0, 1280}, {100, 420}, false},
    {"smallest", {0, 8}, {0, 1280}, {0, 8}, false},
    {"largest, mostly off the screen", {0, 8192}, {0, 1280}, {0, 8192}, false},
    {"in range, partly off the screen", {1200, 1400}, {0, 1280}, {1200, 1400}, false},
    {"too wide", {100, 20100}, {0, 1280}, {100, 1280}, true},
    {"too wide from off the screen", {-5000, 9000}, {0, 1280}, {0, 1280}, true},
    {"too wide on a screen wider than the largest", {0, 9000}, {0, 10000}, {0, 8192}, true},
    {"too narrow", {100, 104}, {0, 1280}, {100, 108}, true},
    {"too narrow at the right edge", {1278, 1280}, {0, 1280}, {1272, 1280}, true},
    {"empty", {300, 300}, {0, 1280}, {300, 308}, true},
    {"inverted and too wide", {20000, 50}, {0, 1280}, {50, 1280}, true},
    {"inverted and short", {420, 100}, {0, 1280}, {100, 420}, true},
    {"wholly right of the screen", {2000, 12000}, {0, 1280}, {1272, 1280}, true},
    {"on a screen left of the main one", {-2000, 20000}, {-1920, 1280}, {-1920, 1280}, true},
};

TEST(RegionFit, KeepsASpanInRangeAndClampsAnyOtherToTheScreen) {
    for (const Case& c : kCases) {
        bool fitted = !c.fitted;
        const Span got = FitSpan(c.wanted, c.screen, &fitted);
        EXPECT_EQ(c.expected.lo, got.lo) << c.what;
        EXPECT_EQ(c.expected.hi, got.hi) << c.what;
        EXPECT_EQ(c.fitted, fitted) << c.what;
    }
}

}  // namespace
}  // namespace screencap
