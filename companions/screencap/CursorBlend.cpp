#include "companions/screencap/CursorBlend.h"

#include <algorithm>

namespace screencap {

namespace {

constexpr int kMaxCursorSide = 256;
constexpr uint32_t kRgb = 0x00FFFFFFu;
constexpr int kAlphaShift = 24;
constexpr uint32_t kOpaque = 255;

uint8_t Blend(uint32_t over, uint32_t under, uint32_t alpha) {
    return static_cast<uint8_t>((over * alpha + under * (kOpaque - alpha) + kOpaque / 2) / kOpaque);
}

}  // namespace

bool MakeCursorImage(int width, int maskHeight, const std::vector<uint32_t>& maskWords,
                     const std::vector<uint32_t>& colourWords, int hotspotX, int hotspotY, CursorImage* out) {
    const bool monochrome = colourWords.empty();
    const int height = monochrome ? maskHeight / 2 : maskHeight;
    if (width <= 0 || height <= 0 || width > kMaxCursorSide || height > kMaxCursorSide) return false;
    const size_t pixels = static_cast<size_t>(width) * static_cast<size_t>(height);
    if (maskWords.size() != (monochrome ? 2 * pixels : pixels) || (!monochrome && colourWords.size() != pixels))
        return false;
    CursorImage image;
    image.width = width;
    image.height = height;
    image.hotspotX = hotspotX;
    image.hotspotY = hotspotY;
    image.mask.assign(maskWords.begin(), maskWords.begin() + static_cast<std::ptrdiff_t>(pixels));
    image.colour = monochrome
                       ? std::vector<uint32_t>(maskWords.begin() + static_cast<std::ptrdiff_t>(pixels), maskWords.end())
                       : colourWords;
    for (uint32_t& m : image.mask) m &= kRgb;
    image.alpha = !monochrome && std::any_of(image.colour.begin(), image.colour.end(),
                                             [](uint32_t c) { return (c >> kAlphaShift) != 0; });
    if (!image.alpha)
        for (uint32_t& c : image.colour) c &= kRgb;
    *out = std::move(image);
    return true;
}

void DrawCursorImage(const CursorImage& cursor, int x, int y, const FrameView& frame) {
    const int left = x - cursor.hotspotX, top = y - cursor.hotspotY;
    const int x0 = std::max(0, -left), x1 = std::min(cursor.width, frame.width - left);
    const int y0 = std::max(0, -top), y1 = std::min(cursor.height, frame.height - top);
    const int bpp = frame.bytesPerPixel;
    for (int cy = y0; cy < y1; ++cy) {
        uint8_t* row = frame.firstRow + static_cast<std::ptrdiff_t>(top + cy) * frame.stride;
        const size_t at = static_cast<size_t>(cy) * static_cast<size_t>(cursor.width);
        for (int cx = x0; cx < x1; ++cx) {
            uint8_t* px = row + static_cast<std::ptrdiff_t>(left + cx) * bpp;
            const uint32_t colour = cursor.colour[at + static_cast<size_t>(cx)];
            const uint32_t under =
                static_cast<uint32_t>(px[0]) | static_cast<uint32_t>(px[1]) << 8 | static_cast<uint32_t>(px[2]) << 16;
            if (cursor.alpha) {
                const uint32_t a = colour >> kAlphaShift;
                for (int c = 0; c < 3; ++c) px[c] = Blend((colour >> (8 * c)) & 0xFF, (under >> (8 * c)) & 0xFF, a);
            } else {
                const uint32_t out = (under & cursor.mask[at + static_cast<size_t>(cx)]) ^ colour;
                for (int c = 0; c < 3; ++c) px[c] = static_cast<uint8_t>(out >> (8 * c));
            }
        }
    }
}

}  // namespace screencap
