// Logos of the property pages: a bitmap resource of the module loaded as a
// DIB section, drawn with per-pixel alpha or with one colour transparent.
#pragma once

#include <windows.h>

// The module's bitmap resource as a DIB section, or null.
HBITMAP LoadPageLogo(int bitmapId);
// Nothing for a null bitmap; else the bitmap 1:1 at (x, y), blended by its
// (premultiplied) alpha.
void DrawAlphaLogo(HDC dc, HBITMAP logo, int x, int y);
// Nothing for a null bitmap; else the bitmap 1:1 at (x, y) with the pixels of
// the key colour left out, composed off screen and copied in one block.
void DrawTransparentLogo(HDC dc, HBITMAP logo, int x, int y, COLORREF key);
// The bitmap's size, {0, 0} for a null one.
SIZE LogoSize(HBITMAP logo);
