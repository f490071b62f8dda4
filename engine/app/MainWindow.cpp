#include "engine/app/MainWindow.h"

#include <winsock2.h>

#include <cstring>

#include "engine/app/AudioServerWin.h"
#include "engine/app/EngineGraph.h"
#include "engine/app/EngineState.h"
#include "platform/mfc/Pump.h"

namespace zelbov {

namespace {

const char kWindowClass[] = "ZelbovScreenCap";
const char kWindowTitle[] = "ScreenCap";
constexpr int kOffScreen = -32000;
constexpr int kTitleLength = 255;

BOOL CALLBACK FindVantor(HWND window, LPARAM found) {
    char title[kTitleLength + 1] = {};
    ::GetWindowTextA(window, title, sizeof title);
    if (std::strstr(title, "Vantor")) {
        *reinterpret_cast<bool*>(found) = true;
        return FALSE;
    }
    return TRUE;
}

bool ControlProgramPresent() {
    bool found = false;
    ::EnumWindows(FindVantor, reinterpret_cast<LPARAM>(&found));
    return found;
}

DWORD WINAPI EngineStopThread(void*) {
    engine::StopFlags& flags = Flags();
    flags.streamingStopped = true;
    ::Sleep(engine::kStopThreadWaitMs);
    flags.closing = true;
    flags.stop = true;
    Engine().settings.capture = 0;
    ShutdownAudioSockets();
    // The graph belongs to the GUI thread's apartment: it closes it there.
    ::PostMessageA(Engine().window, kCloseRecordingMessage, 0, 0);
    return 0;
}

// After Lifecycle accepted a stop: a second of messages, then the counter
// and the stop thread.
void RunStop(HWND window) {
    mfc::PumpMessagesFor(engine::kStopPumpMs);
    Engine().life->ArmStopCounter();
    ::SetTimer(window, kWatchdogTimer, kWatchdogMs, nullptr);
    if (HANDLE thread = ::CreateThread(nullptr, 0, EngineStopThread, nullptr, 0, nullptr)) ::CloseHandle(thread);
}

void OnStopRequest(HWND window, WPARAM code) {
    if (Engine().life->OnStopRequest(static_cast<unsigned>(code))) RunStop(window);
}

void StartNetworkRecording() {
    WSADATA data;
    if (::WSAStartup(MAKEWORD(1, 1), &data) != 0) Trace("\r\nWSAStartup failed");
    StartAudioServer();
    StartEngineRecording();
}

void OnWatchdogTimer(HWND window) {
    switch (Engine().life->OnTick(ControlProgramPresent())) {
        case engine::Lifecycle::Tick::None:
            return;
        case engine::Lifecycle::Tick::StartRecording:
            StartNetworkRecording();
            return;
        case engine::Lifecycle::Tick::Exit:
            ::KillTimer(window, kWatchdogTimer);
            ::ExitProcess(0);
        case engine::Lifecycle::Tick::BeginStop:
            Trace("\r\nControl program gone: closing the recording");
            RunStop(window);
            return;
        case engine::Lifecycle::Tick::NotClosed:
            ::KillTimer(window, kWatchdogTimer);
            ShowEngineMessage("Recording not properly closed");
            ::ExitProcess(0);
    }
}

LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    const Messages& m = Engine().messages;
    if (message == m.screenCapture && m.screenCapture) {
        OnStopRequest(window, wParam);
        return 1;
    }
    if (message == m.packetReady && m.packetReady) {
        // The control program's exit: the same stop, so the file ends whole.
        OnStopRequest(window, wParam);
        return 1;
    }
    if (message == m.wsaSelect && m.wsaSelect) {
        OnSocketEvent(wParam, lParam);
        return 0;
    }
    switch (message) {
        case WM_TIMER:
            if (wParam == kWatchdogTimer) OnWatchdogTimer(window);
            return 0;
        case kCloseRecordingMessage:
            CloseRecording();
            Trace("\r\nENGINE END");
            ::ExitProcess(0);
        case WM_CLOSE:
            if (!Engine().settings.vista) {
                if (HWND tonvik = ::FindWindowA(nullptr, "Tonvik")) ::SendMessageA(tonvik, WM_CLOSE, 0, 0);
            }
            ::DestroyWindow(window);
            ::ExitProcess(0);
        default:
            return ::DefWindowProcA(window, message, wParam, lParam);
    }
}

}  // namespace

HWND CreateMainWindow(HINSTANCE instance) {
    WNDCLASSA type{};
    type.lpfnWndProc = WindowProc;
    type.hInstance = instance;
    type.lpszClassName = kWindowClass;
    if (!::RegisterClassA(&type)) return nullptr;
    HWND window = ::CreateWindowExA(0, kWindowClass, kWindowTitle, WS_OVERLAPPEDWINDOW, kOffScreen, kOffScreen, 0, 0,
                                    nullptr, nullptr, instance, nullptr);
    if (!window) return nullptr;
    Engine().window = window;
    Trace("\r\n" + engine::ParameterTrace(Engine().settings));
    ::SetTimer(window, kWatchdogTimer, kWatchdogMs, nullptr);
    return window;
}

}  // namespace zelbov
