// The property pages' logo drawing on a memory bitmap.
#include <gtest/gtest.h>

#include "platform/dshow/PageLogo.h"

namespace {

// A 32-bit top-down DIB section and its pixels.
struct Canvas {
    HBITMAP bitmap = NULL;
    DWORD* pixels = nullptr;
    Canvas(int w, int h, DWORD fill) {
        BITMAPINFO bi = {};
        bi.bmiHeader.biSize = sizeof bi.bmiHeader;
        bi.bmiHeader.biWidth = w;
        bi.bmiHeader.biHeight = -h;
        bi.bmiHeader.biPlanes = 1;
        bi.bmiHeader.biBitCount = 32;
        void* bits = nullptr;
        bitmap = CreateDIBSection(NULL, &bi, DIB_RGB_COLORS, &bits, NULL, 0);
        pixels = static_cast<DWORD*>(bits);
        for (int i = 0; pixels && i < w * h; ++i) pixels[i] = fill;
    }
    ~Canvas() {
        if (bitmap) DeleteObject(bitmap);
    }
};

TEST(PageLogo, NullBitmapDrawsNothing) {
    Canvas target(4, 4, 0x00123456);
    ASSERT_NE(target.pixels, nullptr);
    HDC dc = CreateCompatibleDC(NULL);
    HGDIOBJ old = SelectObject(dc, target.bitmap);
    DrawAlphaLogo(dc, NULL, 0, 0);
    DrawTransparentLogo(dc, NULL, 0, 0, RGB(255, 255, 255));
    GdiFlush();
    EXPECT_EQ(target.pixels[0], 0x00123456u);
    EXPECT_EQ(LogoSize(NULL).cx, 0);
    SelectObject(dc, old);
    DeleteDC(dc);
}

TEST(PageLogo, KeyColourLeavesTheBackgroundAndAlphaBlends) {
    Canvas target(4, 1, 0x00102030);
    Canvas logo(2, 1, 0);
    ASSERT_NE(target.pixels, nullptr);
    ASSERT_NE(logo.pixels, nullptr);
    logo.pixels[0] = 0x00FFFFFF;  // the key colour: left out
    logo.pixels[1] = 0x00C00000;  // red, drawn
    HDC dc = CreateCompatibleDC(NULL);
    HGDIOBJ old = SelectObject(dc, target.bitmap);
    DrawTransparentLogo(dc, logo.bitmap, 1, 0, RGB(255, 255, 255));
    GdiFlush();
    EXPECT_EQ(target.pixels[0] & 0xFFFFFF, 0x102030u);
    EXPECT_EQ(target.pixels[1] & 0xFFFFFF, 0x102030u) << "key pixel";
    EXPECT_EQ(target.pixels[2] & 0xFFFFFF, 0xC00000u);
    EXPECT_EQ(target.pixels[3] & 0xFFFFFF, 0x102030u);

    // Premultiplied: a clear pixel keeps the background, an opaque one replaces it.
    logo.pixels[0] = 0x00000000;
    logo.pixels[1] = 0xFF00C000;
    DrawAlphaLogo(dc, logo.bitmap, 2, 0);
    GdiFlush();
    EXPECT_EQ(target.pixels[2] & 0xFFFFFF, 0xC00000u);
    EXPECT_EQ(target.pixels[3] & 0xFFFFFF, 0x00C000u);
    SelectObject(dc, old);
    DeleteDC(dc);
}

}  // namespace
