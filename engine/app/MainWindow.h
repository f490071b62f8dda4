// The hidden frame "ScreenCap": the control program finds and stops the
// engine through it; its one-second timer is the engine's watchdog.
#pragma once

#include <windows.h>

namespace zelbov {

// Creates the frame (never shown) and starts the watchdog; null on failure.
HWND CreateMainWindow(HINSTANCE instance);

}  // namespace zelbov
