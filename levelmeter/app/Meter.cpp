#include "levelmeter/app/Meter.h"

#include <mmsystem.h>

#include "levelmeter/app/MeterDialog.h"
#include "platform/mfc/Pump.h"

namespace wavrel {

namespace {

Messages g_messages{};
std::string g_folder;
std::string g_trace;

constexpr DWORD kPumpMs = 100;
constexpr DWORD kPumpSleepMs = 25;
constexpr std::size_t kTraceLimit = 64 * 1024;

}  // namespace

const Messages& RegisteredMessages() {
    return g_messages;
}

void RegisterMessages() {
    g_messages.levelUpdate = ::RegisterWindowMessageA("update Zelbo");
    g_messages.meter = ::RegisterWindowMessageA("Zelbo message");
    g_messages.closeWindows = ::RegisterWindowMessageA("close windows");
}

void StoreProgramFolder() {
    char path[MAX_PATH] = {};
    const DWORD n = ::GetModuleFileNameA(nullptr, path, MAX_PATH);
    std::string module(path, n < MAX_PATH ? n : 0);
    const std::size_t slash = module.find_last_of('\\');
    g_folder = slash == std::string::npos ? std::string() : module.substr(0, slash);
}

std::string InProgramFolder(const char* name) {
    return g_folder + "\\" + name;
}

void ShowMessage(const std::string& text) {
    ::MessageBoxA(nullptr, text.c_str(), "Pexmor Message", MB_OK | MB_ICONWARNING | MB_TOPMOST | MB_TASKMODAL);
}

void Trace(const std::string& line) {
    if (g_trace.size() > kTraceLimit) g_trace.clear();
    g_trace += line;
}

namespace {

// The first output device, through a handle on it kept for the program's
// life: where the platform keeps the volume per handle (Wine), a volume
// set there is the one read back. The device number serves when no handle
// can be had.
template <typename Call>
bool OnFirstOutput(Call call) {
    static HWAVEOUT out = nullptr;
    if (!out) {
        WAVEFORMATEX format{WAVE_FORMAT_PCM, 2, 44100, 176400, 4, 16, 0};
        if (::waveOutOpen(&out, 0, &format, 0, 0, CALLBACK_NULL) != MMSYSERR_NOERROR) out = nullptr;
    }
    return call(out ? out : reinterpret_cast<HWAVEOUT>(static_cast<UINT_PTR>(0))) == MMSYSERR_NOERROR;
}

}  // namespace

bool ReadOutputVolume(std::uint32_t& volume) {
    DWORD value = 0;
    if (!OnFirstOutput([&value](HWAVEOUT out) { return ::waveOutGetVolume(out, &value); })) return false;
    volume = value;
    return true;
}

bool WriteOutputVolume(std::uint32_t volume) {
    return OnFirstOutput([volume](HWAVEOUT out) { return ::waveOutSetVolume(out, volume); });
}

MeterState& State() {
    static MeterState state;
    return state;
}

void ReportVolume(int percent) {
    HWND control = State().controlWindow;
    if (control && ::IsWindow(control))
        ::PostMessageA(control, RegisteredMessages().meter, kVolumeReport, static_cast<LPARAM>(percent));
}

void StepOutputVolume(bool lower) {
    std::uint32_t volume = 0;
    if (!ReadOutputVolume(volume)) Trace("\r\nCannot read the output volume");
    const std::uint32_t left = volume & kFullChannel;
    Trace("\r\n1. volLeft=" + std::to_string(left) + " volRight=" + std::to_string(volume >> 16));
    const std::uint32_t next = lower ? LowerChannel(left) : RaiseChannel(left);
    Trace("\r\n2. volLeft=" + std::to_string(next));
    if (!WriteOutputVolume(BothChannels(next))) Trace("\r\nCannot set the output volume");

    // Other messages (commands, level updates) run meanwhile.
    const DWORD start = ::GetTickCount();
    while (::GetTickCount() - start < kPumpMs) {
        if (!mfc::PumpPendingMessages()) break;
        ::Sleep(kPumpSleepMs);
    }

    const int percent = VolumePercent(next);
    if (State().dialog) State().dialog->SetSliderPosition(100 - percent);
    ReportVolume(percent);
    if (lower)
        State().limiter.VolumeLowered(::GetTickCount64());
    else
        State().limiter.VolumeRaised();
}

}  // namespace wavrel
