// Decisions of the control panel that need no window: hit boxes, status
// texts, the recording route, the stop limits, the panel's sound detection
// and the capture-region rounding.
#pragma once

#include <cstdint>
#include <string>

#include "recorder/core/Settings.h"

namespace recorder {

// The panel's client size.
constexpr int kPanelWidth = 333;
constexpr int kPanelHeight = 163;

enum class HitBox { None, Settings, Picker, Help, Record, Stop, PausePlay, Browser, Region, Minimize, Exit };

// The release boxes, tested in their order (bounds inclusive); the first
// that holds the point wins.
HitBox HitTestRelease(int x, int y);

// What a press does: feedback for the action boxes, a flash for minimise and
// exit, dragging anywhere else.
enum class PressAction { Feedback, FlashMinimize, FlashExit, Drag };
PressAction ClassifyPress(int x, int y);

enum class Route { InProcess, Engine, RefusedHideMode };
Route ChooseRoute(const Settings& settings);

// "hh:mm:ss" with two-digit fields (hours may grow wider).
std::string FormatDuration(std::int64_t seconds);

std::string ReadyText(bool fullScreen, int left, int top, int right, int bottom);
// "Media Type: ..." or empty when both "Video Only" and "Audio Only" are set.
std::string MediaLine(const Settings& settings);
// "MPEG-2, %d, %d, %d" and its kin; empty for an unknown format.
std::string FormatLine(const Settings& settings);
std::string RecordingStatusBox(const Settings& settings, std::uint64_t sizeBytes, std::int64_t elapsedSeconds);
std::string StoppedText(std::uint64_t sizeBytes);

// Stop decisions of one status tick. Sizes are 64-bit and time is a
// monotonic millisecond count.
enum class LimitHit { None, Size, Time };
LimitHit CheckLimits(const Settings& settings, std::uint64_t sizeBytes, std::uint64_t startMs, std::uint64_t nowMs);

// The panel's once-per-run sound detection on "update Zelbo" levels.
class SoundDetector {
public:
    enum class Verdict { None, Detected, NotDetected };
    // Feeds one update; returns a verdict once, on the update that decides.
    // `reportLeft`/`reportRight` then hold the levels to send (level - 88).
    Verdict Update(int left, int right, int& reportLeft, int& reportRight);
    bool Finished() const { return counter_ > kLastStep; }

private:
    static constexpr int kLastStep = 86;  // 10 baseline steps, 76 comparisons
    int counter_ = 1;
    int sumLeft_ = 0;
    int sumRight_ = 0;
    int baseLeft_ = 0;
    int baseRight_ = 0;
};

struct Region {
    int left = 0;
    int top = 0;
    int right = 0;
    int bottom = 0;
    int frameRate = 0;
};

// Width and height rounded toward zero to multiples of 8, keeping left/top.
Region RoundRegion(const Region& region);

// The folder part of a module path, without a trailing backslash
// ("C:\\Zelbo.exe" gives "C:"), cut to 260 characters.
std::string FolderOfModule(const std::string& modulePath);

// Engine ("screen capture message") codes.
constexpr int kEngineStop = 100;
constexpr int kEngineClosed = 102;
constexpr int kEnginePausePlay = 107;
constexpr int kEngineAudioFailed = 200;
constexpr int kEngineGraphFirst = 1000;
constexpr int kEngineGraphLast = 1007;

// The message shown when an engine code ends the recording; empty for codes
// that end nothing.
std::string EngineEndMessage(int code);

}  // namespace recorder
