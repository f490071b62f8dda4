// Program-wide state and helpers of Zelbo.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>

#include "recorder/core/PanelLogic.h"
#include "recorder/core/Settings.h"
#include "recorder/shared/TextCodePage.h"

namespace zelbo {

// Registered window messages, obtained at start in this order.
struct Messages {
    UINT levelUpdate;       // "update Zelbo"
    UINT meter;             // "Zelbo message"
    UINT sliderPos;         // "Slider Pos"
    UINT setSoniferRecord;  // "set sonifer record" (unused)
    UINT packetReady;       // "packet ready"
    UINT engine;            // "screen capture message"
    UINT recordStop;        // "WM_RECORD_STOP_STR"
};
const Messages& RegisteredMessages();
void RegisterMessages();

// The folder of the running program, without a trailing backslash.
const std::string& ProgramFolder();
void StoreProgramFolder();
std::string InProgramFolder(const char* name);

// A modal box without owner, caption "Zelbo Message", warning icon,
// top-most and task-modal; returns the button pressed.
int ShowMessage(const std::string& text, UINT flags = 0);

// Opens a file or folder with the shell's "open"; says so when nothing can.
bool OpenWithShell(const std::string& path);

// Current local time as 100-ns units.
std::uint64_t GetLocalFileTime();

bool Windows60();
const std::string& WindowsVersionText();
void DetectWindowsVersion(recorder::Settings& settings);

void HideTonvikWindow();
void DeleteTemporaryWaves();

HWND FindTitled(const char* title);
void PostToTitled(const char* title, UINT message, WPARAM wParam, LPARAM lParam);

// Program-wide options and capture region.
recorder::Settings& TheSettings();
recorder::Region& TheRegion();
bool& FullScreenRegion();

// "Saved Windows.txt" in the program folder, the window picker's list.
std::string& SavedWindowsPath();
// Where the last press in the window picker's box happened (screen).
POINT& PickerPressPoint();

using capture::Narrow;
using capture::Widen;

}  // namespace zelbo
