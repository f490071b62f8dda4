// Drives Wavrel.exe from a Windows-side test: a tone on the wave output
// (the harness's null sink, whose monitor the meter records), a window
// that stands in for a peer and keeps what it is sent, and waits that keep
// this thread's messages flowing.
#pragma once

#include <windows.h>

#include <mmsystem.h>
#include <shellapi.h>

#include <cmath>
#include <cstdint>
#include <fstream>
#include <string>
#include <vector>

namespace metertest {

constexpr int kRate = 44100;

// Interleaved stereo: `silentSeconds` of silence, then a 1 kHz sine at
// `dbfs` for `toneSeconds`.
inline std::vector<std::int16_t> ToneSamples(double silentSeconds, double toneSeconds, double dbfs) {
    const std::size_t silent = static_cast<std::size_t>(silentSeconds * kRate);
    const std::size_t frames = silent + static_cast<std::size_t>(toneSeconds * kRate);
    std::vector<std::int16_t> samples(frames * 2, 0);
    const double amplitude = 32767.0 * std::pow(10.0, dbfs / 20);
    const double step = 2 * std::acos(-1.0) * 1000.0 / kRate;
    for (std::size_t i = silent; i < frames; ++i)
        samples[2 * i] = samples[2 * i + 1] = static_cast<std::int16_t>(amplitude * std::sin(step * i));
    return samples;
}

inline bool WriteWav(const std::string& path, const std::vector<std::int16_t>& samples) {
    const std::uint32_t data = static_cast<std::uint32_t>(samples.size() * 2);
    WAVEFORMATEX f{WAVE_FORMAT_PCM, 2, kRate, kRate * 4, 4, 16, 0};
    std::ofstream out(path, std::ios::binary);
    const std::uint32_t riff = 4 + 8 + 16 + 8 + data;
    const std::uint32_t fmtSize = 16;
    out.write("RIFF", 4);
    out.write(reinterpret_cast<const char*>(&riff), 4);
    out.write("WAVEfmt ", 8);
    out.write(reinterpret_cast<const char*>(&fmtSize), 4);
    out.write(reinterpret_cast<const char*>(&f), 16);
    out.write("data", 4);
    out.write(reinterpret_cast<const char*>(&data), 4);
    out.write(reinterpret_cast<const char*>(samples.data()), data);
    return out.good();
}

// Plays samples once on the default wave output until destroyed.
class Tone {
public:
    explicit Tone(std::vector<std::int16_t> samples) : samples_(std::move(samples)) {
        WAVEFORMATEX f{WAVE_FORMAT_PCM, 2, kRate, kRate * 4, 4, 16, 0};
        if (::waveOutOpen(&out_, WAVE_MAPPER, &f, 0, 0, CALLBACK_NULL) != MMSYSERR_NOERROR) {
            out_ = nullptr;
            return;
        }
        header_.lpData = reinterpret_cast<LPSTR>(samples_.data());
        header_.dwBufferLength = static_cast<DWORD>(samples_.size() * 2);
        playing_ = ::waveOutPrepareHeader(out_, &header_, sizeof header_) == MMSYSERR_NOERROR &&
                   ::waveOutWrite(out_, &header_, sizeof header_) == MMSYSERR_NOERROR;
    }
    ~Tone() {
        if (!out_) return;
        ::waveOutReset(out_);
        ::waveOutUnprepareHeader(out_, &header_, sizeof header_);
        ::waveOutClose(out_);
    }
    bool Playing() const { return playing_; }

private:
    std::vector<std::int16_t> samples_;
    HWAVEOUT out_ = nullptr;
    WAVEHDR header_{};
    bool playing_ = false;
};

// Pumps this thread's messages for `ms` milliseconds.
inline void Pump(DWORD ms) {
    const DWORD start = ::GetTickCount();
    while (::GetTickCount() - start < ms) {
        MSG msg;
        while (::PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
            ::TranslateMessage(&msg);
            ::DispatchMessageW(&msg);
        }
        ::MsgWaitForMultipleObjects(0, nullptr, FALSE, 20, QS_ALLINPUT);
    }
}

template <typename Done>
bool PumpUntil(Done done, DWORD ms) {
    for (DWORD waited = 0; waited <= ms; waited += 50) {
        if (done()) return true;
        Pump(50);
    }
    return done();
}

// A top-level window of this process with a given title that records the
// registered meter messages and the audio-test answers sent to it.
class PeerWindow {
public:
    struct Message {
        UINT message;
        int wParam;
        int lParam;
    };

    explicit PeerWindow(const wchar_t* title) {
        levelUpdate_ = ::RegisterWindowMessageA("update Zelbo");
        meter_ = ::RegisterWindowMessageA("Zelbo message");
        WNDCLASSW wc{};
        wc.lpfnWndProc = &PeerWindow::Proc;
        wc.hInstance = ::GetModuleHandleW(nullptr);
        wc.lpszClassName = L"MeterTestPeer";
        ::RegisterClassW(&wc);
        hwnd_ = ::CreateWindowExW(0, L"MeterTestPeer", title, WS_OVERLAPPED, 200, 200, 400, 300, nullptr, nullptr,
                                  wc.hInstance, this);
    }
    ~PeerWindow() {
        if (hwnd_) ::DestroyWindow(hwnd_);
    }
    HWND Handle() const { return hwnd_; }
    UINT LevelUpdate() const { return levelUpdate_; }
    UINT Meter() const { return meter_; }
    std::vector<Message>& Received() { return received_; }
    std::vector<Message> Of(UINT message) const {
        std::vector<Message> out;
        for (const Message& m : received_)
            if (m.message == message) out.push_back(m);
        return out;
    }

private:
    static LRESULT CALLBACK Proc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
        if (message == WM_NCCREATE)
            ::SetWindowLongPtrW(hwnd, GWLP_USERDATA,
                                reinterpret_cast<LONG_PTR>(reinterpret_cast<CREATESTRUCTW*>(lParam)->lpCreateParams));
        auto* self = reinterpret_cast<PeerWindow*>(::GetWindowLongPtrW(hwnd, GWLP_USERDATA));
        if (self && (message == self->levelUpdate_ || message == self->meter_ || message == WM_USER + 1 ||
                     message == WM_USER + 2)) {
            self->received_.push_back({message, static_cast<int>(wParam), static_cast<int>(lParam)});
            return 1;
        }
        return ::DefWindowProcW(hwnd, message, wParam, lParam);
    }

    HWND hwnd_ = nullptr;
    UINT levelUpdate_ = 0;
    UINT meter_ = 0;
    std::vector<Message> received_;
};

// Wavrel.exe started the way the control program starts it (shell "open"
// on the program file with one argument); ended when destroyed.
class Meter {
public:
    Meter(const std::string& exe, const char* arguments) {
        info_.cbSize = sizeof info_;
        info_.fMask = SEE_MASK_NOCLOSEPROCESS;
        info_.lpVerb = "open";
        info_.lpFile = exe.c_str();
        info_.lpParameters = arguments;
        info_.nShow = SW_SHOWNORMAL;
        started_ = ::ShellExecuteExA(&info_) != FALSE && info_.hProcess;
    }
    ~Meter() {
        if (!info_.hProcess) return;
        if (::WaitForSingleObject(info_.hProcess, 0) == WAIT_TIMEOUT) {
            ::TerminateProcess(info_.hProcess, 1);
            ::WaitForSingleObject(info_.hProcess, 5000);
        }
        // Its windows go a little after the process: the next meter's
        // lookup by title must not find them.
        PumpUntil([this] { return Windows("Wavrel").empty(); }, 5000);
        ::CloseHandle(info_.hProcess);
    }
    bool Started() const { return started_; }
    DWORD Pid() const { return info_.hProcess ? ::GetProcessId(info_.hProcess) : 0; }
    bool Exited(DWORD ms) const { return info_.hProcess && ::WaitForSingleObject(info_.hProcess, ms) == WAIT_OBJECT_0; }

    // Top-level windows of the meter with the given title.
    std::vector<HWND> Windows(const char* title) const {
        Search search{Pid(), title, {}};
        ::EnumWindows(&Meter::Collect, reinterpret_cast<LPARAM>(&search));
        return search.found;
    }
    // The meter window: the "Wavrel" window with the volume slider.
    HWND Dialog() const {
        for (HWND w : Windows("Wavrel"))
            if (::GetDlgItem(w, 1004)) return w;
        return nullptr;
    }

private:
    struct Search {
        DWORD pid;
        std::string title;
        std::vector<HWND> found;
    };
    static BOOL CALLBACK Collect(HWND hwnd, LPARAM context) {
        auto* search = reinterpret_cast<Search*>(context);
        DWORD pid = 0;
        ::GetWindowThreadProcessId(hwnd, &pid);
        char title[64] = {};
        ::GetWindowTextA(hwnd, title, sizeof title);
        if (pid == search->pid && search->title == title) search->found.push_back(hwnd);
        return TRUE;
    }

    SHELLEXECUTEINFOA info_{};
    bool started_ = false;
};

}  // namespace metertest
