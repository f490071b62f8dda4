// What the end-to-end recordings through the control program share: a
// tone player on the default wave output (the null sink), a window that
// shows black or white over the capture region, the settings and region
// they record with, and waits that keep the window's messages moving.
#pragma once

#include <windows.h>

#include <dshow.h>
#include <mmsystem.h>

#include <gtest/gtest.h>

#include <atomic>
#include <cmath>
#include <cstdint>
#include <string>
#include <vector>

#include "recorder/tests/ZelboDriver.h"

namespace e2e {

using namespace zelbotest;

constexpr int kRate = 48000;
constexpr int kChunkFrames = kRate / 200;  // 5 ms: little sound queued ahead of the tone
constexpr int kChunks = 4;

// Streams silence to the default wave output from the start, so that the
// device is running when the tone is asked for; Start() puts a 1 kHz tone
// in the next chunk.
class TonePlayer {
public:
    TonePlayer() {
        done_ = ::CreateEventW(nullptr, FALSE, FALSE, nullptr);
        WAVEFORMATEX f = {WAVE_FORMAT_PCM, 2, kRate, kRate * 4, 4, 16, 0};
        if (::waveOutOpen(&out_, WAVE_MAPPER, &f, reinterpret_cast<DWORD_PTR>(done_), 0, CALLBACK_EVENT) !=
            MMSYSERR_NOERROR)
            out_ = nullptr;
        if (!out_) return;
        chunks_.assign(kChunks, std::vector<int16_t>(kChunkFrames * 2));
        headers_.assign(kChunks, WAVEHDR{});
        for (int i = 0; i < kChunks; ++i) {
            headers_[i].lpData = reinterpret_cast<LPSTR>(chunks_[i].data());
            headers_[i].dwBufferLength = kChunkFrames * 4;
            ::waveOutPrepareHeader(out_, &headers_[i], sizeof(WAVEHDR));
            ::waveOutWrite(out_, &headers_[i], sizeof(WAVEHDR));
        }
        thread_ = ::CreateThread(nullptr, 0, Run, this, 0, nullptr);
    }
    ~TonePlayer() {
        stop_ = true;
        if (thread_) {
            ::WaitForSingleObject(thread_, 5000);
            ::CloseHandle(thread_);
        }
        if (out_) {
            ::waveOutReset(out_);
            for (WAVEHDR& h : headers_) ::waveOutUnprepareHeader(out_, &h, sizeof(WAVEHDR));
            ::waveOutClose(out_);
        }
        ::CloseHandle(done_);
    }
    bool Ready() const { return out_ && thread_; }
    void Start() { playing_ = true; }

private:
    static DWORD WINAPI Run(LPVOID context) {
        static_cast<TonePlayer*>(context)->Loop();
        return 0;
    }
    void Loop() {
        ::SetThreadPriority(::GetCurrentThread(), THREAD_PRIORITY_TIME_CRITICAL);
        size_t next = 0;
        while (!stop_) {
            ::WaitForSingleObject(done_, 5);
            while (headers_[next].dwFlags & WHDR_DONE) {
                std::vector<int16_t>& pcm = chunks_[next];
                for (int i = 0; i < kChunkFrames; ++i) {
                    int16_t v = 0;
                    if (playing_)
                        v = static_cast<int16_t>(12000 * std::sin(2 * 3.14159265358979 * 1000 * phase_++ / kRate));
                    pcm[2 * i] = pcm[2 * i + 1] = v;
                }
                ::waveOutWrite(out_, &headers_[next], sizeof(WAVEHDR));
                next = (next + 1) % headers_.size();
            }
        }
    }

    HWAVEOUT out_ = nullptr;
    HANDLE done_ = nullptr;
    HANDLE thread_ = nullptr;
    std::vector<std::vector<int16_t>> chunks_;
    std::vector<WAVEHDR> headers_;
    std::atomic<bool> playing_{false};
    std::atomic<bool> stop_{false};
    long long phase_ = 0;
};

// A top-most window over the capture region: black, white after Flash().
class Backdrop {
public:
    Backdrop(int left, int top, int width, int height) {
        WNDCLASSW wc{};
        wc.lpfnWndProc = ::DefWindowProcW;
        wc.hInstance = ::GetModuleHandleW(nullptr);
        wc.hbrBackground = static_cast<HBRUSH>(::GetStockObject(BLACK_BRUSH));
        wc.lpszClassName = L"KorvellLipSync";
        ::RegisterClassW(&wc);
        hwnd_ =
            ::CreateWindowExW(WS_EX_TOPMOST | WS_EX_TOOLWINDOW | WS_EX_NOACTIVATE, L"KorvellLipSync", L"",
                              WS_POPUP | WS_VISIBLE, left, top, width, height, nullptr, nullptr, wc.hInstance, nullptr);
        Paint(BLACK_BRUSH);
    }
    ~Backdrop() { ::DestroyWindow(hwnd_); }
    void Flash() { Paint(WHITE_BRUSH); }
    void Pump() {
        MSG msg;
        while (::PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) ::DispatchMessageW(&msg);
    }

private:
    void Paint(int brush) {
        HDC dc = ::GetDC(hwnd_);
        RECT client;
        ::GetClientRect(hwnd_, &client);
        ::FillRect(dc, &client, static_cast<HBRUSH>(::GetStockObject(brush)));
        ::GdiFlush();
        ::ReleaseDC(hwnd_, dc);
    }
    HWND hwnd_ = nullptr;
};

// The recordings' settings: 2 Mbit/s, no size cap.
inline std::string Settings(const std::string& folder, int fps, int maxFileTime = 0) {
    return SettingsText({folder, "Capture", 0, maxFileTime, false, fps, 2000});
}

inline std::string FindRecording(const std::string& folder) {
    WIN32_FIND_DATAA found;
    HANDLE search = ::FindFirstFileA((folder + "\\*.mpg").c_str(), &found);
    if (search == INVALID_HANDLE_VALUE) return folder + "\\none.mpg";
    ::FindClose(search);
    return folder + "\\" + found.cFileName;
}

// Sleeps while keeping the flash window's messages moving.
inline void Hold(Backdrop& window, DWORD ms) {
    const DWORD start = ::GetTickCount();
    while (::GetTickCount() - start < ms) {
        window.Pump();
        ::Sleep(5);
    }
}

}  // namespace e2e
