#include "levelmeter/core/Layout.h"

namespace wavrel {

namespace {

constexpr int kFullLevel = 82;   // a level of 82 dB fills the bar
constexpr int kFillReserve = 8;  // the fill stops this far below the top
constexpr int kBarSpacing = 20;  // from the left bar to the right one
constexpr int kAudioTestMargin = 10;
constexpr int kAbovePanel = 30;

}  // namespace

Rect CompressionButtonRect() {
    return {4, 197, 24, 214};
}
Rect PeakResetButtonRect() {
    return {4, 216, 24, 236};
}
Rect HideButtonRect(int clientWidth) {
    return {clientWidth - 34, 0, clientWidth, 22};
}
Rect ReadoutRect() {
    return {2, 2, 50, 18};
}

Rect SliderRect(int clientWidth, int clientHeight) {
    const int x = static_cast<int>(clientWidth * 0.7);
    const int y = static_cast<int>(clientHeight * 0.13);
    return {x, y, x + 16, y + 142};
}

Bar LevelBar(int clientWidth, int clientHeight, bool right) {
    Bar bar;
    bar.x = clientWidth * 2 / 17 + (right ? kBarSpacing : 0);
    bar.top = clientHeight / 2 - clientHeight * 5 / 13;
    bar.height = static_cast<int>(clientHeight * 0.625);
    bar.bottom = bar.top + bar.height;
    return bar;
}

int FillHeight(int level, int barHeight) {
    const int h = level * barHeight / kFullLevel;
    return h > barHeight - kFillReserve ? barHeight - kFillReserve : h;
}

PressTarget HitPress(int x, int y) {
    if (x > 4 && x < 24 && y > 217 && y < 237) return PressTarget::PeakReset;
    if (x > 73 && x < 93 && y > 2 && y < 22) return PressTarget::Hide;
    return PressTarget::None;
}

ReleaseTarget HitRelease(int x, int y) {
    if (x > 4 && x < 24 && y > 196 && y < 216) return ReleaseTarget::Compression;
    if (x >= 5 && x <= 23 && y >= 218 && y <= 236) return ReleaseTarget::PeakReset;
    return ReleaseTarget::None;
}

Placement PlaceMeter(const PlacementInput& in) {
    Placement p;
    if (in.audioTestWindow) {
        p.x = in.audioTest.right - kAudioTestMargin - in.windowWidth;
        p.y = in.audioTest.bottom - kAudioTestMargin - in.windowHeight;
        p.topMost = true;
    } else if (in.showMode && in.panelWindow) {
        const int panelWidth = in.panel.right - in.panel.left;
        p.x = in.panel.left + panelWidth / 2 - in.clientWidth / 2;
        p.y = in.panel.top - in.clientHeight - kAbovePanel;
    } else {
        p.x = in.desktopWidth / 2 - 50;
        p.y = in.desktopHeight / 2 - 200;
        p.topMost = true;
    }
    return p;
}

}  // namespace wavrel
