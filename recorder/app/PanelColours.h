// The control panel's colour scheme, matched to its bitmaps; the recordings
// browser's list wears it too.
#pragma once

#include <windows.h>

namespace zelbo {

const COLORREF kStripColour = RGB(18, 24, 32);
const COLORREF kStripText = RGB(156, 220, 255);
const COLORREF kBoxColour = RGB(12, 16, 22);
const COLORREF kBoxText = RGB(214, 226, 236);
const COLORREF kSliderBack = RGB(28, 34, 43);  // the background gradient at the slider

}  // namespace zelbo
