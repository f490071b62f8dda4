// Program-wide state of the level meter and the services its two windows
// share: registered messages, the program folder, message boxes, the
// output volume and the limiter's volume steps.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>

#include "levelmeter/core/CommandWords.h"
#include "levelmeter/core/MeterView.h"
#include "levelmeter/core/Volume.h"

namespace wavrel {

struct Messages {
    UINT levelUpdate;   // "update Zelbo"
    UINT meter;         // "Zelbo message"
    UINT closeWindows;  // "close windows" (registered, never acted on)
};
const Messages& RegisteredMessages();
void RegisterMessages();

// Codes of "Zelbo message".
constexpr int kCompressionOn = 1;
constexpr int kCompressionOff = 2;
constexpr int kShow = 3;
constexpr int kHide = 4;
constexpr int kSliderPercent = 5;
constexpr int kVolumeReport = 1;  // meter to control program

// The verdict of the audio test goes to this window.
constexpr UINT kSoundDetected = WM_USER + 1;
constexpr UINT kNoSound = WM_USER + 2;

void StoreProgramFolder();
std::string InProgramFolder(const char* name);

// Warning box with the caption "Pexmor Message", top-most and task-modal.
void ShowMessage(const std::string& text);
// Trace lines go to a buffer that nothing shows.
void Trace(const std::string& line);

// The first wave output device's volume (left in the low word).
bool ReadOutputVolume(std::uint32_t& volume);
bool WriteOutputVolume(std::uint32_t volume);

class MeterDialog;

struct MeterState {
    StartOptions options;
    Limiter limiter;
    MeterView view;
    bool closing = false;
    bool hidden = false;            // the meter window counts as hidden
    HWND controlWindow = nullptr;   // "Zelbo", else "Viterno"; looked up once
    MeterDialog* dialog = nullptr;  // once the meter window exists
    std::string soundFile;          // "Sound.txt" in the program folder
};
MeterState& State();

// Posts "Zelbo message" 1 with the percent to the control program.
void ReportVolume(int percent);

// One limiter step on the output volume: x0.8 or x1.25 in both channels,
// then 100 ms of message pumping, the slider and the control program told.
void StepOutputVolume(bool lower);

}  // namespace wavrel
