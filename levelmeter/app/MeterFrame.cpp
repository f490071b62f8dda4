#include "levelmeter/app/MeterFrame.h"

#include <mmsystem.h>

#include "levelmeter/app/Meter.h"
#include "levelmeter/app/WaveInput.h"
#include "levelmeter/app/resource.h"

namespace wavrel {

namespace {

const UINT_PTR kStartTimer = 1;
const UINT kStartDelayMs = 1000;
const int kOffScreen = -32000;
const DWORD kBeepHz = 1000;
const DWORD kBeepMs = 100;

}  // namespace

bool MeterFrame::Create() {
    HICON icon = ::LoadIconW(::GetModuleHandleW(nullptr), MAKEINTRESOURCEW(IDI_METER));
    if (!mfc::FrameWnd::Create(L"WavrelFrame", L"Wavrel", WS_OVERLAPPEDWINDOW, kOffScreen, kOffScreen, 0, 0, icon))
        return false;
    MeterState& state = State();
    state.soundFile = InProgramFolder("Sound.txt");
    state.controlWindow = ::FindWindowA(nullptr, "Zelbo");
    if (!state.controlWindow) state.controlWindow = ::FindWindowA(nullptr, "Viterno");
    return StartTimer(kStartTimer, kStartDelayMs);
}

void MeterFrame::BeginRecording() {
    State().closing = false;
    if (dialog_.CreateModeless(hwnd_))
        State().dialog = &dialog_;
    else
        Trace("\r\nCannot create the meter window");
    TheWaveInput().Begin(hwnd_);
}

void MeterFrame::OnCommand(int code, LPARAM value) {
    if (!::Beep(kBeepHz, kBeepMs)) Trace("\r\nBeep failed");
    // The meter window acts on every command; whoever found this window
    // by its title reaches it all the same.
    if (dialog_.Exists()) {
        dialog_.OnCommand(code, value);
        return;
    }
    if (code == kCompressionOn) State().limiter.SetCompression(true);
    if (code == kCompressionOff) State().limiter.SetCompression(false);
}

bool MeterFrame::OnMessage(UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result) {
    if (message == RegisteredMessages().meter) {
        OnCommand(static_cast<int>(wParam), lParam);
        result = 1;
        return true;
    }
    switch (message) {
        case WM_TIMER:
            if (wParam != kStartTimer) return false;
            StopTimer(kStartTimer);
            if (!started_) {
                started_ = true;
                BeginRecording();
            }
            return true;
        case MM_WIM_OPEN:
            TheWaveInput().OnOpen();
            return true;
        case MM_WIM_DATA:
            TheWaveInput().OnData(reinterpret_cast<WAVEHDR*>(lParam));
            return true;
        case MM_WIM_CLOSE:
            return true;
        case WM_CLOSE:
            State().closing = true;
            TheWaveInput().Stop();
            ::ExitProcess(0);
        default:
            return false;
    }
}

}  // namespace wavrel
