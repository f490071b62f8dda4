// Fitting one side of the capture rectangle (its left and right, or its top
// and bottom) to the screen. Platform-free.
#pragma once

namespace screencap {

constexpr long kMinExtent = 8;
constexpr long kMaxExtent = 8192;

struct Span {
    long lo, hi;  // hi is one past the last pixel
    long Extent() const { return hi - lo; }
};

// A span of kMinExtent..kMaxExtent pixels is kept as it is (what lies off the
// screen is captured black). Any other is clamped to the screen's span: put
// in order when inverted, cut to the screen and then to kMaxExtent when too
// long, grown to kMinExtent inside the screen when too short. `fitted` tells
// whether it changed.
Span FitSpan(Span wanted, Span screen, bool* fitted);

}  // namespace screencap
