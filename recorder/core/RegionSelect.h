// Capture-region rules of the markers and the window picker: normalising a
// rectangle, keeping the markers on the screen, the minimum distance between
// the two corners, and which window lies under the picker.
#pragma once

#include <string>
#include <vector>

#include "recorder/core/PanelLogic.h"

namespace recorder {

constexpr int kMarkerSize = 12;
constexpr int kFrameBarThickness = 4;
// The smallest region recorded: two 8-pixel blocks each way survive the
// rounding to multiples of 8.
constexpr int kMinRegionSize = 16;
// Closest the markers may come to each other while dragged.
constexpr int kMarkerGuard = 10;

struct Rect {
    int left = 0;
    int top = 0;
    int right = 0;
    int bottom = 0;
};

// Left above right and top above bottom (swapped when not), at least
// kMinRegionSize each way (grown right and down, or left and up where the
// screen ends), inside the screen when one is given (screen.right > 0).
Region NormaliseRegion(const Region& region, const Rect& screen);

// The region as the markers show it: each edge half a marker from the
// screen's edges.
Region ClampForMarkers(const Region& region, const Rect& screen);

// A marker drag moves one corner. While the guard is on and the opposite
// corner is set, a move that brings the corner within kMarkerGuard of it on
// either axis is refused (false, region unchanged).
enum class Corner { TopLeft, BottomRight };
bool MoveCorner(Region& region, Corner corner, int x, int y, bool guard);

// One candidate of the window search: a top-level window and the child
// windows of it that hold the point.
struct WindowCandidate {
    Rect rect;
    int id = 0;  // the caller's handle for it
};
using CandidateRow = std::vector<WindowCandidate>;  // the top-level window first

// The window chosen at `x`, `y`: the first row (top-level windows in Z
// order) that yields an entry decides; within it the entry whose top-left
// corner is nearest above-left of the point. `hover` tightens only the
// vertical distance. Returns the id, or -1 when nothing is found.
int ChooseWindow(const std::vector<CandidateRow>& rows, int x, int y, bool hover);

// Titles the picker never chooses (the program's own windows).
bool IsOwnWindowTitle(const std::string& title);

}  // namespace recorder
