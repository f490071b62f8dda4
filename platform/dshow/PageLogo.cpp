#include "platform/dshow/PageLogo.h"

#include "platform/dshow/ComBase.h"

namespace {

// The raster operation D AND NOT S.
constexpr DWORD kDestAndNotSource = 0x00220326;

}  // namespace

HBITMAP LoadPageLogo(int bitmapId) {
    return static_cast<HBITMAP>(
        LoadImageW(AMGetModuleInstance(), MAKEINTRESOURCEW(bitmapId), IMAGE_BITMAP, 0, 0, LR_CREATEDIBSECTION));
}

SIZE LogoSize(HBITMAP logo) {
    BITMAP bm = {};
    if (logo == NULL || GetObjectW(logo, sizeof bm, &bm) == 0) return SIZE{0, 0};
    return SIZE{bm.bmWidth, bm.bmHeight};
}

void DrawAlphaLogo(HDC dc, HBITMAP logo, int x, int y) {
    if (logo == NULL || dc == NULL) return;
    const SIZE size = LogoSize(logo);
    HDC mem = CreateCompatibleDC(dc);
    if (mem == NULL) return;
    HGDIOBJ old = SelectObject(mem, logo);
    BLENDFUNCTION blend = {AC_SRC_OVER, 0, 255, AC_SRC_ALPHA};
    (void)AlphaBlend(dc, x, y, size.cx, size.cy, mem, 0, 0, size.cx, size.cy, blend);
    SelectObject(mem, old);
    DeleteDC(mem);
}

void DrawTransparentLogo(HDC dc, HBITMAP logo, int x, int y, COLORREF key) {
    if (logo == NULL || dc == NULL) return;
    const SIZE size = LogoSize(logo);
    HDC image = CreateCompatibleDC(dc);
    HDC mask = CreateCompatibleDC(dc);
    HDC work = CreateCompatibleDC(dc);
    HBITMAP maskBitmap = CreateBitmap(size.cx, size.cy, 1, 1, NULL);
    HBITMAP workBitmap = CreateCompatibleBitmap(dc, size.cx, size.cy);
    if (image && mask && work && maskBitmap && workBitmap) {
        HGDIOBJ oldImage = SelectObject(image, logo);
        HGDIOBJ oldMask = SelectObject(mask, maskBitmap);
        HGDIOBJ oldWork = SelectObject(work, workBitmap);
        // Mask: 1 where the image has the key colour.
        COLORREF oldBack = SetBkColor(image, key);
        BitBlt(mask, 0, 0, size.cx, size.cy, image, 0, 0, SRCCOPY);
        SetBkColor(image, oldBack);
        // What lies under the logo, its key pixels kept and the rest cleared,
        // then the image's other pixels put in.
        BitBlt(work, 0, 0, size.cx, size.cy, dc, x, y, SRCCOPY);
        COLORREF oldText = SetTextColor(work, RGB(0, 0, 0));
        oldBack = SetBkColor(work, RGB(255, 255, 255));
        BitBlt(work, 0, 0, size.cx, size.cy, mask, 0, 0, SRCAND);
        HDC keyed = CreateCompatibleDC(dc);
        HBITMAP keyedBitmap = CreateCompatibleBitmap(dc, size.cx, size.cy);
        if (keyed && keyedBitmap) {
            HGDIOBJ oldKeyed = SelectObject(keyed, keyedBitmap);
            BitBlt(keyed, 0, 0, size.cx, size.cy, image, 0, 0, SRCCOPY);
            // Key pixels become black in the copy of the image.
            SetTextColor(keyed, RGB(0, 0, 0));
            SetBkColor(keyed, RGB(255, 255, 255));
            BitBlt(keyed, 0, 0, size.cx, size.cy, mask, 0, 0, kDestAndNotSource);
            BitBlt(work, 0, 0, size.cx, size.cy, keyed, 0, 0, SRCPAINT);
            SelectObject(keyed, oldKeyed);
        }
        if (keyedBitmap) DeleteObject(keyedBitmap);
        if (keyed) DeleteDC(keyed);
        SetTextColor(work, oldText);
        SetBkColor(work, oldBack);
        BitBlt(dc, x, y, size.cx, size.cy, work, 0, 0, SRCCOPY);
        SelectObject(work, oldWork);
        SelectObject(mask, oldMask);
        SelectObject(image, oldImage);
    }
    if (workBitmap) DeleteObject(workBitmap);
    if (maskBitmap) DeleteObject(maskBitmap);
    if (work) DeleteDC(work);
    if (mask) DeleteDC(mask);
    if (image) DeleteDC(image);
}
