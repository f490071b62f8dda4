// Drives Zelbo.exe from a Windows-side test: a program folder of its own,
// the process, its windows and message boxes, posted clicks, the screen
// source's registry values and screenshots.
#pragma once

#include <windows.h>

#include <mmsystem.h>

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace zelbotest {

constexpr char kSourceKey[] = "SOFTWARE\\Unreal\\Live\\UScreenCapture";

// Unix paths from the build reach Wine through drive Z:.
inline std::string FromUnix(const std::string& path) {
    std::string out = "Z:" + path;
    for (char& c : out)
        if (c == '/') c = '\\';
    return out;
}

inline std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream out;
    out << in.rdbuf();
    return out.str();
}

inline void WriteFile(const std::string& path, const std::string& text) {
    std::ofstream out(path, std::ios::binary);
    out << text;
}

inline std::string GoldenSettings() {
    return ReadFile(FromUnix(RECORDER_TEST_DATA "/Settings.ini"));
}

// A program folder of its own with a copy of Zelbo.exe.
inline std::string MakeProgramFolder() {
    static int serial = 0;
    char temp[MAX_PATH];
    ::GetTempPathA(MAX_PATH, temp);
    // Process ids repeat from one prefix boot to the next: a folder left by
    // an earlier run would hand its old recordings to this one.
    std::string folder;
    do {
        folder =
            std::string(temp) + "zelbo-" + std::to_string(::GetCurrentProcessId()) + "-" + std::to_string(++serial);
    } while (!::CreateDirectoryA(folder.c_str(), nullptr) && ::GetLastError() == ERROR_ALREADY_EXISTS);
    EXPECT_TRUE(::CopyFileA(FromUnix(ZELBO_EXE).c_str(), (folder + "\\Zelbo.exe").c_str(), FALSE));
#ifdef WAVREL_EXE
    // The panel starts its level meter from its own folder.
    EXPECT_TRUE(::CopyFileA(FromUnix(WAVREL_EXE).c_str(), (folder + "\\Wavrel.exe").c_str(), FALSE));
#endif
    return folder;
}

struct Program {
    PROCESS_INFORMATION info{};

    explicit Program(const std::string& folder) {
        STARTUPINFOA startup{};
        startup.cb = sizeof startup;
        std::string command = "\"" + folder + "\\Zelbo.exe\"";
        EXPECT_TRUE(::CreateProcessA(nullptr, &command[0], nullptr, nullptr, FALSE, 0, nullptr, folder.c_str(),
                                     &startup, &info));
    }
    ~Program() {
        if (!info.hProcess) return;
        if (::WaitForSingleObject(info.hProcess, 0) == WAIT_TIMEOUT) {
            ::TerminateProcess(info.hProcess, 1);
            ::WaitForSingleObject(info.hProcess, 5000);
        }
#ifdef WAVREL_EXE
        // The level meter it started outlives a program ended by force.
        for (int i = 0; i < 50; ++i) {
            HWND meter = ::FindWindowA(nullptr, "Wavrel");
            if (!meter) break;
            ::PostMessageA(meter, WM_CLOSE, 0, 0);
            ::Sleep(100);
        }
#endif
        ::CloseHandle(info.hThread);
        ::CloseHandle(info.hProcess);
    }
    bool Exited(DWORD ms, DWORD& code) const {
        if (::WaitForSingleObject(info.hProcess, ms) != WAIT_OBJECT_0) return false;
        ::GetExitCodeProcess(info.hProcess, &code);
        return true;
    }
};

inline HWND WaitForWindow(const char* title, DWORD ms) {
    for (DWORD waited = 0; waited <= ms; waited += 100) {
        if (HWND w = ::FindWindowA(nullptr, title)) return w;
        ::Sleep(100);
    }
    return nullptr;
}

struct BoxSearch {
    DWORD pid;
    HWND found;
};

inline BOOL CALLBACK FindBox(HWND hwnd, LPARAM context) {
    BoxSearch* search = reinterpret_cast<BoxSearch*>(context);
    DWORD pid = 0;
    ::GetWindowThreadProcessId(hwnd, &pid);
    char title[64] = {};
    ::GetWindowTextA(hwnd, title, sizeof title);
    if (pid == search->pid && std::string(title) == "Zelbo Message" && ::IsWindowVisible(hwnd)) {
        search->found = hwnd;
        return FALSE;
    }
    return TRUE;
}

// Waits for the program's next message box, answers it and returns its text.
inline std::string AnswerMessageBox(const Program& program, int button = IDOK, DWORD ms = 20000) {
    for (DWORD waited = 0; waited <= ms; waited += 100) {
        BoxSearch search{program.info.dwProcessId, nullptr};
        ::EnumWindows(FindBox, reinterpret_cast<LPARAM>(&search));
        if (search.found) {
            char text[512] = {};
            ::GetDlgItemTextA(search.found, 0xFFFF, text, sizeof text);
            ::PostMessageA(search.found, WM_COMMAND, static_cast<WPARAM>(button), 0);
            for (int i = 0; i < 50 && ::IsWindow(search.found); ++i) ::Sleep(100);
            return text;
        }
        ::Sleep(100);
    }
    return "(no message box)";
}

inline void Click(HWND panel, int x, int y) {
    ::PostMessageA(panel, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(x, y));
    ::PostMessageA(panel, WM_LBUTTONUP, 0, MAKELPARAM(x, y));
}

inline std::string StatusText(HWND panel) {
    char text[256] = {};
    ::GetDlgItemTextA(panel, 1038, text, sizeof text);
    return text;
}

// Output of "reg query" on the screen source key.
inline std::string QuerySourceKey() {
    SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
    HANDLE readEnd = nullptr;
    HANDLE writeEnd = nullptr;
    if (!::CreatePipe(&readEnd, &writeEnd, &inherit, 0)) return {};
    ::SetHandleInformation(readEnd, HANDLE_FLAG_INHERIT, 0);
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdOutput = writeEnd;
    startup.hStdError = writeEnd;
    PROCESS_INFORMATION info{};
    std::string command = std::string("reg.exe query \"HKLM\\") + kSourceKey + "\"";
    std::string out;
    if (::CreateProcessA(nullptr, &command[0], nullptr, nullptr, TRUE, CREATE_NO_WINDOW, nullptr, nullptr, &startup,
                         &info)) {
        ::CloseHandle(writeEnd);
        writeEnd = nullptr;
        char buffer[512];
        DWORD n = 0;
        while (::ReadFile(readEnd, buffer, sizeof buffer, &n, nullptr) && n > 0) out.append(buffer, n);
        ::WaitForSingleObject(info.hProcess, 10000);
        ::CloseHandle(info.hThread);
        ::CloseHandle(info.hProcess);
    }
    if (writeEnd) ::CloseHandle(writeEnd);
    ::CloseHandle(readEnd);
    return out;
}

inline bool HasValue(const std::string& query, const std::string& name, const std::string& hex) {
    std::istringstream lines(query);
    std::string line;
    while (std::getline(lines, line)) {
        std::istringstream words(line);
        std::string n, type, value;
        if (words >> n >> type >> value && n == name && type == "REG_DWORD" && value == hex) return true;
    }
    return false;
}

// The panel's pixels as a 24-bit BMP.
inline bool SaveWindowShot(HWND window, const std::string& path) {
    RECT r;
    ::GetWindowRect(window, &r);
    const int w = r.right - r.left;
    const int h = r.bottom - r.top;
    HDC screen = ::GetDC(nullptr);
    HDC memory = ::CreateCompatibleDC(screen);
    BITMAPINFO info{};
    info.bmiHeader.biSize = sizeof info.bmiHeader;
    info.bmiHeader.biWidth = w;
    info.bmiHeader.biHeight = h;
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 24;
    void* bits = nullptr;
    HBITMAP bitmap = ::CreateDIBSection(screen, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
    HGDIOBJ old = ::SelectObject(memory, bitmap);
    ::BitBlt(memory, 0, 0, w, h, screen, r.left, r.top, SRCCOPY);
    ::GdiFlush();
    const DWORD stride = static_cast<DWORD>((w * 3 + 3) & ~3);
    BITMAPFILEHEADER file{};
    file.bfType = 0x4D42;
    file.bfOffBits = sizeof file + sizeof info.bmiHeader;
    file.bfSize = file.bfOffBits + stride * static_cast<DWORD>(h);
    std::ofstream out(path, std::ios::binary);
    out.write(reinterpret_cast<const char*>(&file), sizeof file);
    out.write(reinterpret_cast<const char*>(&info.bmiHeader), sizeof info.bmiHeader);
    out.write(static_cast<const char*>(bits), stride * static_cast<DWORD>(h));
    ::SelectObject(memory, old);
    ::DeleteObject(bitmap);
    ::DeleteDC(memory);
    ::ReleaseDC(nullptr, screen);
    return out.good();
}

// A looping 1 kHz tone through the default wave output (the null sink).
class Tone {
public:
    Tone() {
        const std::uint32_t rate = 44100;
        const std::uint32_t frames = rate;  // one second, a whole number of periods
        const std::uint32_t dataBytes = frames * 4;
        wave_.resize(44 + dataBytes);
        auto put32 = [&](std::size_t at, std::uint32_t v) {
            for (int i = 0; i < 4; ++i) wave_[at + i] = static_cast<char>(v >> (8 * i));
        };
        auto put16 = [&](std::size_t at, std::uint16_t v) {
            wave_[at] = static_cast<char>(v);
            wave_[at + 1] = static_cast<char>(v >> 8);
        };
        std::memcpy(&wave_[0], "RIFF", 4);
        put32(4, 36 + dataBytes);
        std::memcpy(&wave_[8], "WAVEfmt ", 8);
        put32(16, 16);
        put16(20, 1);
        put16(22, 2);
        put32(24, rate);
        put32(28, rate * 4);
        put16(32, 4);
        put16(34, 16);
        std::memcpy(&wave_[36], "data", 4);
        put32(40, dataBytes);
        for (std::uint32_t i = 0; i < frames; ++i) {
            const auto s = static_cast<std::int16_t>(12000 * std::sin(2 * 3.14159265358979 * 1000 * i / rate));
            put16(44 + i * 4, static_cast<std::uint16_t>(s));
            put16(46 + i * 4, static_cast<std::uint16_t>(s));
        }
        playing_ = ::PlaySoundA(wave_.data(), nullptr, SND_MEMORY | SND_ASYNC | SND_LOOP | SND_NODEFAULT) != FALSE;
    }
    ~Tone() { ::PlaySoundA(nullptr, nullptr, 0); }
    bool Playing() const { return playing_; }

private:
    std::vector<char> wave_;
    bool playing_ = false;
};

// What a test's "Settings.ini" says; the rest is fixed: no caps on the
// files' size and time unless given, on top, no messages.
struct SettingsFile {
    std::string folder;  // the "Recording Folder"
    std::string audioOutput = "Capture";
    int maxSize = 0;
    int maxTime = 0;
    bool videoOnly = false;
    int fps = 25;
    int kbps = 4000;
    int protocol = 0;  // 1: Windows Media
    bool vistaAudio = false;
};

inline std::string SettingsText(const SettingsFile& s) {
    return "Vantor Settings -- Do not delete or alter\n"
           "*****************************************************\n"
           "Recording Folder: " +
           s.folder + "\nProtocol: " + std::to_string(s.protocol) + "\nVideo Bitrate: " + std::to_string(s.kbps) +
           "\nAudio Bitrate: " + (s.protocol == 1 ? "128" : "256") + "\nFrame Rate: " + std::to_string(s.fps) +
           "\nAudio Source: Korvell Audio Capture\nAudio Input: \nAudio Output: " + s.audioOutput +
           "\nMax File Size: " + std::to_string(s.maxSize) + "\nMax File Time: " + std::to_string(s.maxTime) +
           "\nAudio Test Done: 1\nHide: 0\nAudio Only: 0\nVideo Only: " + (s.videoOnly ? "1" : "0") +
           "\nVideo Accel: 0\nOnTop: 1\n"
           "Audio Message: 0\nVideo Message: 0\nPlayer: 0\nAudio_Sonifer: 0\nAudio Compression: 0\n"
           "AutoWnd: 0\nDelay: 0\nVistaAudio: " +
           (s.vistaAudio ? "1" : "0") +
           "\n*****************************************************\n"
           "end";
}

// The screen source's capture rectangle and frame rate.
inline void WriteRegion(DWORD left, DWORD top, DWORD right, DWORD bottom, DWORD fps) {
    HKEY key;
    ASSERT_EQ(ERROR_SUCCESS,
              ::RegCreateKeyExA(HKEY_LOCAL_MACHINE, kSourceKey, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr));
    const DWORD values[] = {left, right, top, bottom, fps};
    const char* names[] = {"Left", "Right", "Top", "Bottom", "FrameRate"};
    for (int i = 0; i < 5; ++i)
        EXPECT_EQ(ERROR_SUCCESS,
                  ::RegSetValueExA(key, names[i], 0, REG_DWORD, reinterpret_cast<const BYTE*>(&values[i]), 4));
    ::RegCloseKey(key);
}

// 0 when the file is not there.
inline std::uint64_t FileSize(const std::string& path) {
    WIN32_FILE_ATTRIBUTE_DATA data{};
    if (!::GetFileAttributesExA(path.c_str(), GetFileExInfoStandard, &data)) return 0;
    return (static_cast<std::uint64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
}

inline bool Exists(const std::string& path) {
    return ::GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

}  // namespace zelbotest
