// The mouse cursor drawn into a grabbed frame from a copy of its image kept
// in memory, so a frame costs no drawing call. Platform-free.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace screencap {

// A cursor image, rows top-down, one 0x00RRGGBB (or 0xAARRGGBB) word per pixel.
struct CursorImage {
    int width = 0, height = 0;
    int hotspotX = 0, hotspotY = 0;
    // Monochrome cursors: the screen is ANDed with `mask`, then XORed with
    // `colour`. Colour cursors without alpha the same way; with alpha (any
    // pixel's top byte set) `colour` is blended over the screen by it.
    std::vector<uint32_t> mask, colour;
    bool alpha = false;
};

// Builds an image from the words of a monochrome cursor's mask (twice the
// height: the AND half above the XOR half) when `colour` is empty, else from
// its mask and colour of the same size. Returns false for sizes that do not fit.
bool MakeCursorImage(int width, int maskHeight, const std::vector<uint32_t>& maskWords,
                     const std::vector<uint32_t>& colourWords, int hotspotX, int hotspotY, CursorImage* out);

// A frame of BGR(A) pixels: `firstRow` points at its top row, `stride` is the
// bytes from a row to the one below (negative for bottom-up bitmaps).
struct FrameView {
    uint8_t* firstRow;
    std::ptrdiff_t stride;
    int width, height, bytesPerPixel;  // 3 or 4
};

// Draws the cursor with its hotspot at (x, y) of the frame, clipped to it.
void DrawCursorImage(const CursorImage& cursor, int x, int y, const FrameView& frame);

}  // namespace screencap
