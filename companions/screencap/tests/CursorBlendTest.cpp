// The cursor drawn from its copied image: the AND/XOR rules of monochrome
// and colour cursors, alpha blending, the hotspot, clipping at the frame's
// edges and bottom-up frames of 24 and 32 bits.
#include <gtest/gtest.h>

#include <vector>

#include "companions/screencap/CursorBlend.h"

namespace screencap {
namespace {

constexpr uint32_t kWhite = 0xFFFFFF, kBlack = 0;
constexpr uint32_t kScreen = 0x204060;  // the frame's colour before the cursor

// A frame of one colour; pixels read back by (x, y) from its top-left.
struct Frame {
    Frame(int w, int h, int bpp, bool bottomUp) : width(w), height(h), bytesPerPixel(bpp), bottomUp(bottomUp) {
        stride = (w * bpp + 3) & ~3;
        bytes.assign(static_cast<size_t>(stride) * h, 0);
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x) Set(x, y, kScreen);
    }
    uint8_t* At(int x, int y) {
        const int row = bottomUp ? height - 1 - y : y;
        return bytes.data() + row * stride + x * bytesPerPixel;
    }
    void Set(int x, int y, uint32_t rgb) {
        for (int c = 0; c < 3; ++c) At(x, y)[c] = static_cast<uint8_t>(rgb >> (8 * c));
    }
    uint32_t Get(int x, int y) { return At(x, y)[0] | At(x, y)[1] << 8 | At(x, y)[2] << 16; }
    FrameView View() {
        uint8_t* top = bottomUp ? bytes.data() + (height - 1) * stride : bytes.data();
        return {top, bottomUp ? -stride : static_cast<std::ptrdiff_t>(stride), width, height, bytesPerPixel};
    }
    int width, height, bytesPerPixel;
    bool bottomUp;
    std::ptrdiff_t stride;
    std::vector<uint8_t> bytes;
};

// A 2 x 2 monochrome cursor with the four AND/XOR pairs: transparent,
// inverted, black, white (hotspot at its top-left).
CursorImage FourRuleCursor() {
    const std::vector<uint32_t> mask = {kWhite, kWhite, kBlack, kBlack,   // AND half
                                        kBlack, kWhite, kBlack, kWhite};  // XOR half
    CursorImage image;
    EXPECT_TRUE(MakeCursorImage(2, 4, mask, {}, 0, 0, &image));
    return image;
}

TEST(CursorBlend, MonochromeRulesOnBottomUpFramesOfBothDepths) {
    for (int bpp : {3, 4}) {
        SCOPED_TRACE(bpp);
        Frame frame(5, 4, bpp, true);
        DrawCursorImage(FourRuleCursor(), 1, 2, frame.View());
        EXPECT_EQ(kScreen, frame.Get(1, 2)) << "transparent";
        EXPECT_EQ(kScreen ^ kWhite, frame.Get(2, 2)) << "inverted";
        EXPECT_EQ(kBlack, frame.Get(1, 3)) << "black";
        EXPECT_EQ(kWhite, frame.Get(2, 3)) << "white";
        EXPECT_EQ(kScreen, frame.Get(0, 2));
        EXPECT_EQ(kScreen, frame.Get(3, 3));
        EXPECT_EQ(kScreen, frame.Get(1, 1));
    }
}

TEST(CursorBlend, HotspotAndClippingAtEveryEdge) {
    // A 3 x 3 black block with its hotspot in the middle.
    CursorImage block;
    ASSERT_TRUE(MakeCursorImage(3, 6, std::vector<uint32_t>(18, kBlack), {}, 1, 1, &block));
    struct Case {
        int x, y, blackCount;
    };
    const Case cases[] = {{2, 2, 9},  {0, 0, 4},  {4, 3, 4}, {4, 0, 4}, {0, 3, 4},
                          {-1, 1, 3}, {-2, 1, 0}, {1, 5, 0}, {6, 1, 0}};
    for (const Case& c : cases) {
        SCOPED_TRACE(::testing::Message() << c.x << "," << c.y);
        Frame frame(5, 4, 4, true);
        DrawCursorImage(block, c.x, c.y, frame.View());
        int black = 0;
        for (int y = 0; y < 4; ++y)
            for (int x = 0; x < 5; ++x) {
                const bool inBlock = x >= c.x - 1 && x <= c.x + 1 && y >= c.y - 1 && y <= c.y + 1;
                EXPECT_EQ(inBlock ? kBlack : kScreen, frame.Get(x, y)) << x << "," << y;
                black += frame.Get(x, y) == kBlack;
            }
        EXPECT_EQ(c.blackCount, black);
    }
}

TEST(CursorBlend, ColourCursorsByMaskOrByAlpha) {
    // Without alpha: AND with the mask, XOR with the colour.
    CursorImage plain;
    ASSERT_TRUE(MakeCursorImage(2, 1, {kWhite, kBlack}, {kBlack, 0x0000FF}, 0, 0, &plain));
    EXPECT_FALSE(plain.alpha);
    Frame a(2, 1, 4, false);
    DrawCursorImage(plain, 0, 0, a.View());
    EXPECT_EQ(kScreen, a.Get(0, 0));
    EXPECT_EQ(0x0000FFu, a.Get(1, 0));
    // With alpha: opaque, clear and half-covering pixels, the mask unused.
    CursorImage blended;
    ASSERT_TRUE(MakeCursorImage(3, 1, {kBlack, kBlack, kBlack}, {0xFF0000FF, 0x00FFFFFF, 0x80FF0000}, 0, 0, &blended));
    EXPECT_TRUE(blended.alpha);
    Frame b(3, 1, 3, false);
    DrawCursorImage(blended, 0, 0, b.View());
    EXPECT_EQ(0x0000FFu, b.Get(0, 0));
    EXPECT_EQ(kScreen, b.Get(1, 0));
    // 0x80 of 0xFF over 0x20, of 0x00 over 0x40 and 0x60.
    EXPECT_EQ((0x90u << 16) | (0x20u << 8) | 0x30u, b.Get(2, 0));
}

TEST(CursorBlend, ImagesThatDoNotFitAreRefused) {
    CursorImage image;
    EXPECT_FALSE(MakeCursorImage(0, 2, {}, {}, 0, 0, &image));
    EXPECT_FALSE(MakeCursorImage(2, 1, {0, 0}, {}, 0, 0, &image)) << "monochrome mask of one row";
    EXPECT_FALSE(MakeCursorImage(2, 4, {0, 0, 0}, {}, 0, 0, &image)) << "too few mask words";
    EXPECT_FALSE(MakeCursorImage(2, 2, {0, 0, 0, 0}, {0, 0}, 0, 0, &image)) << "too few colour words";
    EXPECT_FALSE(MakeCursorImage(512, 1024, std::vector<uint32_t>(512 * 1024), {}, 0, 0, &image)) << "too large";
}

}  // namespace
}  // namespace screencap
