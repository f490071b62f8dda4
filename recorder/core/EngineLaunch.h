// What the control program hands the engine program: its command line, and
// how long a launch waits for an engine that was asked to stop.
#pragma once

#include <functional>
#include <string>

#include "recorder/core/PanelLogic.h"
#include "recorder/core/Settings.h"

namespace recorder {

// The engine's command line for a recording into `target` over `region`.
// Sonifer set or VistaAudio clear gives the audio-grabber form (no -ve and
// -vonly, -asrc "sonifer", -vista 0); otherwise the loopback form.
// Quoted values cannot break out of their quotes: '"' becomes '_' and a
// value's trailing backslashes are doubled.
std::string BuildEngineCommandLine(const Settings& settings, const std::string& target, const Region& region);

// The longest an engine takes to go after "screen capture message" 100: its
// second of message pumping, its stop thread's second, the graph's Stop and,
// should that hang, the watchdog's exit at the ninth tick.
constexpr unsigned kEngineCloseLimitMs = 12000;
constexpr unsigned kEngineCloseFirstWaitMs = 1000;
constexpr unsigned kEngineClosePollMs = 100;

// Sleeps a first second, then polls `present` every 100 ms until it is false
// or `limitMs` have passed; true when the engine went.
bool WaitEngineClose(const std::function<bool()>& present, const std::function<void(unsigned)>& sleep,
                     unsigned limitMs = kEngineCloseLimitMs);

}  // namespace recorder
