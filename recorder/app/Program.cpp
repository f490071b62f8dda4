#include "recorder/app/Program.h"

#include <shellapi.h>

#include <cstdio>
#include <vector>

namespace zelbo {

namespace {

Messages g_messages{};
std::string g_programFolder;
bool g_windows60 = false;
std::string g_windowsText;

}  // namespace

const Messages& RegisteredMessages() {
    return g_messages;
}

void RegisterMessages() {
    g_messages.levelUpdate = ::RegisterWindowMessageA("update Zelbo");
    g_messages.meter = ::RegisterWindowMessageA("Zelbo message");
    g_messages.sliderPos = ::RegisterWindowMessageA("Slider Pos");
    g_messages.setSoniferRecord = ::RegisterWindowMessageA("set sonifer record");
    g_messages.packetReady = ::RegisterWindowMessageA("packet ready");
    g_messages.engine = ::RegisterWindowMessageA("screen capture message");
    g_messages.recordStop = ::RegisterWindowMessageA("WM_RECORD_STOP_STR");
}

const std::string& ProgramFolder() {
    return g_programFolder;
}

void StoreProgramFolder() {
    char path[MAX_PATH + 1] = {};
    ::GetModuleFileNameA(nullptr, path, MAX_PATH);
    g_programFolder = recorder::FolderOfModule(path);
}

std::string InProgramFolder(const char* name) {
    return g_programFolder + "\\" + name;
}

int ShowMessage(const std::string& text, UINT flags) {
    return ::MessageBoxA(nullptr, text.c_str(), "Zelbo Message", flags | MB_TOPMOST | MB_TASKMODAL | MB_ICONWARNING);
}

bool OpenWithShell(const std::string& path) {
    const HINSTANCE done = ::ShellExecuteA(nullptr, "open", path.c_str(), nullptr, nullptr, SW_SHOWNORMAL);
    // Above 32 is success; anything else names why it failed.
    if (reinterpret_cast<INT_PTR>(done) > 32) return true;
    ShowMessage("Cannot open " + path);
    return false;
}

std::uint64_t GetLocalFileTime() {
    SYSTEMTIME local;
    ::GetLocalTime(&local);
    FILETIME ft;
    ::SystemTimeToFileTime(&local, &ft);
    return (static_cast<std::uint64_t>(ft.dwHighDateTime) << 32) | ft.dwLowDateTime;
}

bool Windows60() {
    return g_windows60;
}
const std::string& WindowsVersionText() {
    return g_windowsText;
}

void DetectWindowsVersion(recorder::Settings& settings) {
    OSVERSIONINFOA info{};
    info.dwOSVersionInfoSize = sizeof info;
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
    ::GetVersionExA(&info);
#pragma GCC diagnostic pop
    g_windows60 = info.dwMajorVersion == 6 && info.dwMinorVersion == 0;
    if (g_windows60) settings.audioSonifer = 0;
    char text[64];
    std::snprintf(text, sizeof text, "Windows: %d.%d", static_cast<int>(info.dwMajorVersion),
                  static_cast<int>(info.dwMinorVersion));
    g_windowsText = text;
}

HWND FindTitled(const char* title) {
    return ::FindWindowA(nullptr, title);
}

void PostToTitled(const char* title, UINT message, WPARAM wParam, LPARAM lParam) {
    if (HWND w = FindTitled(title)) ::PostMessageA(w, message, wParam, lParam);
}

void HideTonvikWindow() {
    if (HWND w = FindTitled("Tonvik")) ::ShowWindow(w, SW_HIDE);
}

void DeleteTemporaryWaves() {
    WIN32_FIND_DATAA found;
    HANDLE find = ::FindFirstFileA(InProgramFolder("*.*").c_str(), &found);
    if (find == INVALID_HANDLE_VALUE) return;
    std::vector<std::string> doomed;
    do {
        if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) continue;
        if (std::string(found.cFileName).find("_100.wav") != std::string::npos)
            doomed.push_back(InProgramFolder(found.cFileName));
    } while (::FindNextFileA(find, &found));
    ::FindClose(find);
    for (const std::string& path : doomed) ::DeleteFileA(path.c_str());
}

recorder::Settings& TheSettings() {
    static recorder::Settings settings;
    return settings;
}

recorder::Region& TheRegion() {
    static recorder::Region region;
    return region;
}

bool& FullScreenRegion() {
    static bool fullScreen = false;
    return fullScreen;
}

std::string& SavedWindowsPath() {
    static std::string path;
    return path;
}

POINT& PickerPressPoint() {
    static POINT point{};
    return point;
}

}  // namespace zelbo
