// The engine's process-wide state: its settings from the command line, its
// windows, registered messages and the flags its threads poll.
#pragma once

#include <winsock2.h>
#include <windows.h>

#include <atomic>
#include <string>

#include "engine/core/CommandLine.h"
#include "engine/core/Lifecycle.h"
#include "recorder/shared/TextCodePage.h"

namespace zelbov {

struct Messages {
    UINT screenCapture;  // "screen capture message"
    UINT packetReady;    // "packet ready": the control program's exit
    UINT wsaSelect;      // "WSASelect message"
    UINT setSonifer;     // "set sonifer record" (never acted on)
};

// The GUI thread's own message: the stop thread asks it to close the
// recording, since the graph lives in its apartment.
const UINT kCloseRecordingMessage = WM_APP + 1;
const UINT_PTR kWatchdogTimer = 1;
const UINT kWatchdogMs = 1000;

struct EngineState {
    engine::EngineSettings settings;
    std::string programFolder;
    std::wstring target;  // UTF-16 copy for the graph
    HWND control = nullptr;
    HWND window = nullptr;
    Messages messages{};
    engine::Lifecycle* life = nullptr;
    std::atomic<SOCKET> accepted{INVALID_SOCKET};
    std::atomic<SOCKET> lastEventSocket{INVALID_SOCKET};
};

EngineState& Engine();
engine::StopFlags& Flags();

// Keeps the last trace line; ZELBOV_TRACE names a file that collects them.
void Trace(const std::string& line);
// "Vantor Message", warning icon, task-modal, top-most.
int ShowEngineMessage(const std::string& text, UINT extra = 0);
// A code to the control program's window (lost when there is none).
void SendCode(int code);
void PostCode(int code);

using capture::Widen;

}  // namespace zelbov
