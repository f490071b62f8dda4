#include "recorder/app/AudioPeers.h"

#include <commctrl.h>
#include <mmsystem.h>
#include <shellapi.h>

#include "platform/mfc/Pump.h"
#include "recorder/app/MainDlg.h"
#include "recorder/app/Program.h"
#include "recorder/app/resource.h"
#include "recorder/core/AudioTest.h"

namespace zelbo {

namespace {

constexpr int kWaitSteps = 20;
constexpr DWORD kWaitStepMs = 1000;
constexpr UINT kSendTimeoutMs = 2000;
// Where the meter window goes when the panel shows it: its bottom left
// this far right of the panel's left edge and above its top edge.
constexpr int kMeterRight = 100;
constexpr int kMeterAbove = 10;

constexpr int kMeterShow = 3;
constexpr int kMeterHide = 4;

bool& MeterStartedOnce() {
    static bool started = false;
    return started;
}

bool Opened(HINSTANCE result) {
    return reinterpret_cast<INT_PTR>(result) > 32;
}

// Looks for the window every second, at most 20 times.
bool WaitForTitled(const char* title, bool pump) {
    for (int i = 0; i < kWaitSteps; ++i) {
        if (FindTitled(title)) return true;
        if (pump)
            mfc::PumpMessagesFor(kWaitStepMs);
        else
            ::Sleep(kWaitStepMs);
    }
    return FindTitled(title) != nullptr;
}

void SendMeterCommand(HWND meter, int code) {
    DWORD_PTR answer = 0;
    if (!::SendMessageTimeoutA(meter, RegisteredMessages().meter, static_cast<WPARAM>(code), 0, SMTO_NORMAL,
                               kSendTimeoutMs, &answer))
        ::OutputDebugStringA("The level meter did not answer\n");
}

}  // namespace

bool StartTonvik() {
    if (!FindTitled("Tonvik")) {
        const bool opened = Opened(::ShellExecuteA(nullptr, "open", InProgramFolder("Tonvik.exe").c_str(), nullptr,
                                                   ProgramFolder().c_str(), SW_SHOWNORMAL));
        if (!opened || !WaitForTitled("Tonvik", true)) {
            ShowMessage(recorder::kTonvikFailedText);
            return false;
        }
    }
    if (recorder::Controller* control = ThePanel().Control()) control->MutableState().engineMode = true;
    HWND tonvik = FindTitled("Tonvik");
    if (tonvik) {
        ::SetWindowPos(tonvik, HWND_TOPMOST, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
        ::ShowWindow(tonvik, SW_HIDE);
    }
    return true;
}

bool StartMeter(const char* arguments, int show, bool pump) {
    const bool opened = Opened(::ShellExecuteA(nullptr, "open", InProgramFolder("Wavrel.exe").c_str(), arguments,
                                               ProgramFolder().c_str(), show));
    return opened && WaitForTitled("Wavrel", pump);
}

void ShowLevelMeter(HWND panel) {
    const recorder::Settings& s = TheSettings();
    if (s.audioSonifer || s.vistaAudio) return;
    HWND meter = FindTitled("Wavrel");
    if (MeterStartedOnce() && meter) {
        if (::IsWindowVisible(meter)) {
            SendMeterCommand(meter, kMeterHide);
            return;
        }
        SendMeterCommand(meter, kMeterShow);
        RECT own;
        RECT panelRect;
        if (::GetWindowRect(meter, &own) && ::GetWindowRect(panel, &panelRect))
            ::SetWindowPos(meter, nullptr, panelRect.left + kMeterRight,
                           panelRect.top - kMeterAbove - (own.bottom - own.top), 0, 0,
                           SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
        return;
    }
    if (meter) {
        MeterStartedOnce() = true;
        return;
    }
    if (!StartMeter(MeterStartedOnce() ? " show_wnd" : " mini_wnd", SW_SHOWNORMAL, true))
        ShowMessage(recorder::kMeterFailedText);
    MeterStartedOnce() = true;
}

void ReadWaveOutVolume(HWND panel) {
    auto status = [panel](const char* text) { ::SetDlgItemTextA(panel, IDC_STATUS, text); };
    if (::waveOutGetNumDevs() == 0) {
        status("Cannot find the audio device");
        return;
    }
    WAVEOUTCAPSA caps{};
    if (::waveOutGetDevCapsA(0, &caps, sizeof caps) != MMSYSERR_NOERROR) {
        status("Cannot read the audio device");
        return;
    }
    DWORD volume = 0;
    bool read = (caps.dwSupport & WAVECAPS_VOLUME) &&
                ::waveOutGetVolume(reinterpret_cast<HWAVEOUT>(static_cast<UINT_PTR>(0)), &volume) == MMSYSERR_NOERROR;
    if (!read && (caps.dwSupport & WAVECAPS_VOLUME)) {
        // Where the platform takes only handles (Wine): a short-lived one.
        WAVEFORMATEX format{WAVE_FORMAT_PCM, 2, 44100, 176400, 4, 16, 0};
        HWAVEOUT out = nullptr;
        if (::waveOutOpen(&out, 0, &format, 0, 0, CALLBACK_NULL) == MMSYSERR_NOERROR) {
            read = ::waveOutGetVolume(out, &volume) == MMSYSERR_NOERROR;
            if (::waveOutClose(out) != MMSYSERR_NOERROR) read = false;
        }
    }
    if (!read) {
        status("Volume not supported");
        return;
    }
    ::SendDlgItemMessageW(panel, IDC_VOLUME, TBM_SETPOS, TRUE,
                          static_cast<LPARAM>(recorder::LouderChannelPercent(volume)));
}

}  // namespace zelbo
