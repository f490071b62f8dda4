#include "recorder/core/PanelLogic.h"

#include <algorithm>
#include <cstdarg>
#include <cstdio>

namespace recorder {

namespace {

struct Box {
    HitBox box;
    int x0, x1, y0, y1;
};

const Box kReleaseBoxes[] = {
    {HitBox::Settings, 240, 320, 45, 60},  {HitBox::Picker, 240, 320, 75, 100}, {HitBox::Help, 312, 327, 142, 157},
    {HitBox::Record, 8, 53, 110, 157},     {HitBox::Stop, 60, 80, 140, 165},    {HitBox::PausePlay, 78, 123, 110, 157},
    {HitBox::Browser, 148, 193, 111, 158}, {HitBox::Region, 10, 180, 37, 105},  {HitBox::Minimize, 286, 302, 6, 23},
    {HitBox::Exit, 308, 327, 6, 23},
};

std::string Printf(const char* format, ...) __attribute__((format(printf, 1, 2)));
std::string Printf(const char* format, ...) {
    char buffer[1024];
    va_list args;
    va_start(args, format);
    std::vsnprintf(buffer, sizeof buffer, format, args);
    va_end(args);
    return buffer;
}

}  // namespace

HitBox HitTestRelease(int x, int y) {
    for (const Box& b : kReleaseBoxes)
        if (x >= b.x0 && x <= b.x1 && y >= b.y0 && y <= b.y1) return b.box;
    return HitBox::None;
}

PressAction ClassifyPress(int x, int y) {
    switch (HitTestRelease(x, y)) {
        case HitBox::None:
            return PressAction::Drag;
        case HitBox::Minimize:
            return PressAction::FlashMinimize;
        case HitBox::Exit:
            return PressAction::FlashExit;
        default:
            return PressAction::Feedback;
    }
}

Route ChooseRoute(const Settings& s) {
    // "Video Only" has no sound to fetch, so the driver and loopback
    // settings do not matter for it at all.
    if (s.videoOnly) return Route::InProcess;
    if (s.audioSonifer) return s.hide ? Route::RefusedHideMode : Route::Engine;
    return s.vistaAudio != 0 ? Route::Engine : Route::InProcess;
}

std::string FormatDuration(std::int64_t seconds) {
    if (seconds < 0) seconds = 0;
    return Printf("%02lld:%02lld:%02lld", static_cast<long long>(seconds / 3600),
                  static_cast<long long>(seconds / 60 % 60), static_cast<long long>(seconds % 60));
}

std::string ReadyText(bool fullScreen, int left, int top, int right, int bottom) {
    if (fullScreen) return "Ready (Full Screen)";
    return Printf("Ready (%d,%d,%d,%d)", left, top, right, bottom);
}

std::string MediaLine(const Settings& s) {
    if (!s.videoOnly && !s.audioOnly) return "Media Type: video/audio";
    if (s.audioOnly && !s.videoOnly) return "Media Type: audio";
    if (s.videoOnly && !s.audioOnly) return "Media Type: video";
    return "";
}

std::string FormatLine(const Settings& s) {
    static const char* const kNames[] = {"MPEG-2", "WM9", "MPEG-1", "WM-MP4"};
    if (s.protocol < 0 || s.protocol > 3) return "";
    return Printf("%s, %d, %d, %d", kNames[s.protocol], s.videoBitrate, s.audioBitrate, s.frameRate);
}

std::string RecordingStatusBox(const Settings& s, std::uint64_t sizeBytes, std::int64_t elapsedSeconds) {
    return Printf(" %s\r\n %s\r\n File Size: %.02f MB\r\n File Time: %s", FormatLine(s).c_str(), MediaLine(s).c_str(),
                  static_cast<double>(sizeBytes) / 1048576.0, FormatDuration(elapsedSeconds).c_str());
}

std::string StoppedText(std::uint64_t sizeBytes) {
    return Printf("Recording Stopped: %.2f MB", static_cast<double>(sizeBytes) / 1048576.0);
}

LimitHit CheckLimits(const Settings& s, std::uint64_t sizeBytes, std::uint64_t startMs, std::uint64_t nowMs) {
    const std::uint64_t limit = s.MaxFileBytes();
    if (limit != 0 && sizeBytes >= limit) return LimitHit::Size;
    if (s.maxFileTime > 0 && nowMs >= startMs && nowMs - startMs >= static_cast<std::uint64_t>(s.maxFileTime) * 1000u)
        return LimitHit::Time;
    return LimitHit::None;
}

SoundDetector::Verdict SoundDetector::Update(int left, int right, int& reportLeft, int& reportRight) {
    if (Finished()) return Verdict::None;
    const int step = counter_++;
    if (step < 10) {
        sumLeft_ += left;
        sumRight_ += right;
        return Verdict::None;
    }
    if (step == 10) {
        // The baseline divides the nine sums by ten, as the meter's own
        // calibration does; it only needs to sit below speech level.
        baseLeft_ = sumLeft_ / 10 - 88;
        baseRight_ = sumRight_ / 10 - 88;
        return Verdict::None;
    }
    reportLeft = left - 88;
    reportRight = right - 88;
    if (reportLeft > baseLeft_ + 20 || reportRight > baseRight_ + 20) {
        counter_ = kLastStep + 1;
        return Verdict::Detected;
    }
    if (step == kLastStep) return Verdict::NotDetected;
    return Verdict::None;
}

Region RoundRegion(const Region& r) {
    Region out = r;
    // 64-bit arithmetic: any pair of 32-bit edges stays defined.
    const long long width = (static_cast<long long>(r.right) - r.left) / 8 * 8;
    const long long height = (static_cast<long long>(r.bottom) - r.top) / 8 * 8;
    out.right = static_cast<int>(r.left + width);
    out.bottom = static_cast<int>(r.top + height);
    return out;
}

std::string FolderOfModule(const std::string& modulePath) {
    const std::size_t slash = modulePath.find_last_of("\\/");
    if (slash == std::string::npos) {
        // A bare drive ("C:name") still names its drive.
        const std::size_t colon = modulePath.find(':');
        return colon == std::string::npos ? std::string() : modulePath.substr(0, colon + 1);
    }
    return modulePath.substr(0, std::min<std::size_t>(slash, 260));
}

std::string EngineEndMessage(int code) {
    if (code == kEngineClosed) return "Recording stopped. Please restart.";
    if (code == kEngineStop) return "Recording stopped. The recording engine received no audio stream.";
    if (code == kEngineAudioFailed) return "Recording stopped. The loopback audio capture failed.";
    if (code >= kEngineGraphFirst && code <= kEngineGraphLast)
        return Printf("Recording stopped. The recording engine could not build or run its graph (code %d).", code);
    return "";
}

}  // namespace recorder
