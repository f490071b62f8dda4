#include "recorder/core/RegionSelect.h"

#include <algorithm>
#include <climits>

namespace recorder {

namespace {

// Grows [low, high] to `size`, rightwards unless the limit is in the way.
void Grow(int& low, int& high, int size, int limit) {
    if (static_cast<long long>(high) - low >= size) return;
    if (limit > 0 && static_cast<long long>(low) + size > limit) {
        high = limit;
        low = limit - size;
    } else {
        high = low > INT_MAX - size ? INT_MAX : low + size;
        if (high - low < size) low = high - size;
    }
}

}  // namespace

Region NormaliseRegion(const Region& region, const Rect& screen) {
    Region r = region;
    if (r.left > r.right) std::swap(r.left, r.right);
    if (r.top > r.bottom) std::swap(r.top, r.bottom);
    const bool bounded = screen.right > screen.left && screen.bottom > screen.top;
    if (bounded) {
        r.left = std::clamp(r.left, screen.left, screen.right);
        r.right = std::clamp(r.right, screen.left, screen.right);
        r.top = std::clamp(r.top, screen.top, screen.bottom);
        r.bottom = std::clamp(r.bottom, screen.top, screen.bottom);
    }
    Grow(r.left, r.right, kMinRegionSize, bounded ? screen.right : 0);
    Grow(r.top, r.bottom, kMinRegionSize, bounded ? screen.bottom : 0);
    return r;
}

Region ClampForMarkers(const Region& region, const Rect& screen) {
    Region r = region;
    const int half = kMarkerSize / 2;
    r.left = std::max(r.left, screen.left + half);
    r.top = std::max(r.top, screen.top + half);
    r.right = std::min(r.right, screen.right - half);
    r.bottom = std::min(r.bottom, screen.bottom - half);
    return r;
}

bool MoveCorner(Region& region, Corner corner, int x, int y, bool guard) {
    auto near = [](int a, int b) { return std::abs(static_cast<long long>(a) - b) < kMarkerGuard; };
    if (corner == Corner::TopLeft) {
        const bool oppositeSet = region.right > 10 && region.bottom > 10;
        if (guard && oppositeSet &&
            (near(x, region.right) || near(y, region.bottom) || x > region.right || y > region.bottom))
            return false;
        region.left = x;
        region.top = y;
    } else {
        const bool oppositeSet = region.left > 0 && region.top > 0;
        if (guard && oppositeSet && (near(x, region.left) || near(y, region.top) || x < region.left || y < region.top))
            return false;
        region.right = x;
        region.bottom = y;
    }
    return true;
}

int ChooseWindow(const std::vector<CandidateRow>& rows, int x, int y, bool hover) {
    for (const CandidateRow& row : rows) {
        long long bestX = 1000;
        long long bestY = 1000;
        int chosen = -1;
        for (const WindowCandidate& c : row) {
            const long long dx = static_cast<long long>(x) - c.rect.left;
            const long long dy = static_cast<long long>(y) - c.rect.top;
            if (dx < 0 || dy < 0 || dy >= bestY || (!hover && dx >= bestX)) continue;
            chosen = c.id;
            bestY = dy;
            if (!hover) bestX = dx;
        }
        if (chosen >= 0) return chosen;
    }
    return -1;
}

bool IsOwnWindowTitle(const std::string& title) {
    return title.find("Zelbo") != std::string::npos || title.find("Vantor") != std::string::npos;
}

}  // namespace recorder
