// The control program's side of its peer programs around sound: the audio
// driver program Tonvik, the level meter Wavrel (started, shown and
// hidden by title) and the panel's view of the output volume.
#pragma once

#include <windows.h>

namespace zelbo {

// Starts "Tonvik.exe" unless its window exists and waits for it; true when
// it runs (the recording then goes through the engine).
bool StartTonvik();

// The panel's level meter button: starts Wavrel the first time (" mini_wnd",
// later " show_wnd"), else shows or hides its window by command.
void ShowLevelMeter(HWND panel);

// Sets the panel's volume slider to the louder output channel in percent,
// or says in the status line why it cannot.
void ReadWaveOutVolume(HWND panel);

// Starts "Wavrel.exe" from the program folder with `arguments` and waits
// for its window (1 s steps, at most 20, messages pumped when `pump`).
bool StartMeter(const char* arguments, int show, bool pump);

}  // namespace zelbo
