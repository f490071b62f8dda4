#include "companions/screencap/RegionFit.h"

#include <algorithm>

namespace screencap {

Span FitSpan(Span wanted, Span screen, bool* fitted) {
    *fitted = false;
    if (wanted.Extent() >= kMinExtent && wanted.Extent() <= kMaxExtent) return wanted;
    *fitted = true;
    Span s{std::min(wanted.lo, wanted.hi), std::max(wanted.lo, wanted.hi)};
    // Inside the screen; a span wholly off it shrinks to nothing at its edge.
    s.lo = std::clamp(s.lo, screen.lo, screen.hi);
    s.hi = std::clamp(s.hi, screen.lo, screen.hi);
    if (s.Extent() > kMaxExtent) s.hi = s.lo + kMaxExtent;
    if (s.Extent() < kMinExtent) {
        // Grow to the right (down), or to the left (up) at the screen's edge;
        // a screen narrower than that still gets the smallest frame.
        s.hi = std::min(s.lo + kMinExtent, screen.hi);
        s.lo = std::max(s.hi - kMinExtent, screen.lo);
        s.hi = s.lo + kMinExtent;
    }
    return s;
}

}  // namespace screencap
