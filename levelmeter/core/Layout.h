// Geometry of the meter window: its size, the two level bars, the places
// of its controls, the mouse boxes and where the window goes on screen.
#pragma once

namespace wavrel {

constexpr int kWindowWidth = 93;
constexpr int kWindowHeight = 258;

struct Rect {
    int left = 0;
    int top = 0;
    int right = 0;
    int bottom = 0;
};

// Picture buttons and the readout (client pixels).
Rect CompressionButtonRect();
Rect PeakResetButtonRect();
Rect HideButtonRect(int clientWidth);
Rect ReadoutRect();
// The slider: at (trunc(W x 0.7), trunc(H x 0.13)), 16 by 142 pixels.
Rect SliderRect(int clientWidth, int clientHeight);

// One level bar in a client area of W x H pixels.
struct Bar {
    int x = 0;  // left edge of the frame (the frame is 15 pixels wide)
    int top = 0;
    int bottom = 0;  // top + height
    int height = 0;  // B = trunc(H x 0.625)
};
Bar LevelBar(int clientWidth, int clientHeight, bool right);
// The filled height for a level: level x B / 82, at most B - 8.
int FillHeight(int level, int barHeight);

enum class PressTarget { None, PeakReset, Hide };
enum class ReleaseTarget { None, Compression, PeakReset };
PressTarget HitPress(int x, int y);
ReleaseTarget HitRelease(int x, int y);

// Where the meter window goes when it opens.
struct PlacementInput {
    bool audioTestWindow = false;  // a window titled "Audio Test" exists
    Rect audioTest;                // its window rectangle
    bool showMode = false;
    bool panelWindow = false;  // a window titled "Zelbo" exists
    Rect panel;                // its window rectangle
    int clientWidth = 0;       // the meter's client size
    int clientHeight = 0;
    int windowWidth = 0;  // the meter's window size
    int windowHeight = 0;
    int desktopWidth = 0;
    int desktopHeight = 0;
};
struct Placement {
    int x = 0;
    int y = 0;
    bool topMost = false;
};
Placement PlaceMeter(const PlacementInput& in);

}  // namespace wavrel
