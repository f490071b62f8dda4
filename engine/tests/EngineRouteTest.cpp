// The engine route under Wine: the panel records through Zelbov.exe with
// the control program reporting Windows 6.0 (a per-program Wine version, so
// the prefix stays as the other tests expect), with a tone playing into the
// null sink. The recordings are kept for the checks beside this test.
#include <winsock2.h>
#include <windows.h>

#include <dshow.h>
#include <mmsystem.h>

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "recorder/tests/ZelboDriver.h"

namespace {

using namespace zelbotest;

// The control program under a name of its own, so its Windows version is
// set for it alone.
const char kProgramName[] = "ZelboVista.exe";
const char kAppDefaults[] = "Software\\Wine\\AppDefaults\\ZelboVista.exe";

bool WaitGone(const char* title, DWORD ms) {
    for (DWORD waited = 0; waited <= ms; waited += 100) {
        if (!::FindWindowA(nullptr, title)) return true;
        ::Sleep(100);
    }
    return false;
}

// What a second client of the audio server gets within a second.
std::string SecondClient() {
    SOCKET s = ::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    if (s == INVALID_SOCKET) return "(no socket)";
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(7777);
    address.sin_addr.s_addr = ::inet_addr("127.0.0.1");
    std::string got;
    if (::connect(s, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0) {
        const char request[] = "GET / HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n";
        ::send(s, request, sizeof request - 1, 0);
        DWORD timeout = 1000;
        ::setsockopt(s, SOL_SOCKET, SO_RCVTIMEO, reinterpret_cast<const char*>(&timeout), sizeof timeout);
        char buffer[256];
        const int n = ::recv(s, buffer, sizeof buffer, 0);
        if (n > 0) got.assign(buffer, static_cast<std::size_t>(n));
    } else {
        got = "(no connection)";
    }
    ::closesocket(s);
    return got;
}

struct EngineSession {
    std::string folder = MakeProgramFolder();
    PROCESS_INFORMATION info{};
    HWND panel = nullptr;

    bool Start() {
        HKEY key;
        if (::RegCreateKeyExA(HKEY_CURRENT_USER, kAppDefaults, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr) !=
            ERROR_SUCCESS)
            return false;
        ::RegSetValueExA(key, "Version", 0, REG_SZ, reinterpret_cast<const BYTE*>("vista"), 6);
        ::RegCloseKey(key);
        if (!::CopyFileA((folder + "\\Zelbo.exe").c_str(), (folder + "\\" + kProgramName).c_str(), FALSE) ||
            !::CopyFileA(FromUnix(ZELBOV_EXE).c_str(), (folder + "\\Zelbov.exe").c_str(), FALSE))
            return false;
        ::DeleteFileA((folder + "\\Zelbo.exe").c_str());
        WriteFile(folder + "\\Settings.ini", SettingsText({folder, "Capture", 0, 0, false, 25, 4000, 0, true}));
        STARTUPINFOA startup{};
        startup.cb = sizeof startup;
        std::string command = "\"" + folder + "\\" + kProgramName + "\"";
        if (!::CreateProcessA(nullptr, &command[0], nullptr, nullptr, FALSE, 0, nullptr, folder.c_str(), &startup,
                              &info))
            return false;
        panel = WaitForWindow("Zelbo", 30000);
        for (int i = 0; i < 100 && !::FindWindowA(nullptr, "Vantor Settings"); ++i) ::Sleep(100);
        return panel && ::FindWindowA(nullptr, "Vantor Settings");
    }
    std::string Target() const {
        WIN32_FIND_DATAA found;
        HANDLE search = ::FindFirstFileA((folder + "\\*.mpg").c_str(), &found);
        if (search == INVALID_HANDLE_VALUE) return folder + "\\none.mpg";
        ::FindClose(search);
        return folder + "\\" + found.cFileName;
    }
    bool WaitForFile() const {
        for (DWORD waited = 0; waited < 30000; waited += 100) {
            if (FileSize(Target()) > 0) return true;
            ::Sleep(100);
        }
        return false;
    }
    bool Exited(DWORD ms) const { return ::WaitForSingleObject(info.hProcess, ms) == WAIT_OBJECT_0; }
    void Keep(const char* artefact) const {
        const std::string artefacts = FromUnix(ARTEFACT_DIR);
        ::CreateDirectoryA(artefacts.c_str(), nullptr);
        EXPECT_TRUE(::CopyFileA(Target().c_str(), (artefacts + "\\" + artefact).c_str(), FALSE));
    }
    ~EngineSession() {
        ::RegDeleteKeyA(HKEY_CURRENT_USER, kAppDefaults);
        if (!info.hProcess) return;
        if (!Exited(0)) ::TerminateProcess(info.hProcess, 1);
        ::CloseHandle(info.hThread);
        ::CloseHandle(info.hProcess);
        // An engine left behind would hold the port for the next test.
        if (HWND engine = ::FindWindowA(nullptr, "ScreenCap")) {
            DWORD pid = 0;
            ::GetWindowThreadProcessId(engine, &pid);
            if (HANDLE process = ::OpenProcess(PROCESS_TERMINATE, FALSE, pid)) {
                ::TerminateProcess(process, 1);
                ::CloseHandle(process);
            }
        }
    }
};

// Waits for the program's next "Zelbo Message" box, answers it and
// returns its text.
std::string Answer(const EngineSession& session, int button = IDOK, DWORD ms = 20000) {
    for (DWORD waited = 0; waited <= ms; waited += 100) {
        BoxSearch search{session.info.dwProcessId, nullptr};
        ::EnumWindows(FindBox, reinterpret_cast<LPARAM>(&search));
        if (search.found) {
            char text[512] = {};
            ::GetDlgItemTextA(search.found, 0xFFFF, text, sizeof text);
            ::PostMessageA(search.found, WM_COMMAND, static_cast<WPARAM>(button), 0);
            return text;
        }
        ::Sleep(100);
    }
    return "(no message box)";
}

// A window titled "Vantor", standing in for the control program.
class StandInControl {
public:
    StandInControl() {
        WNDCLASSA type{};
        type.lpfnWndProc = ::DefWindowProcA;
        type.hInstance = ::GetModuleHandleA(nullptr);
        type.lpszClassName = "EngineTestVantor";
        ::RegisterClassA(&type);
        window_ = ::CreateWindowExA(0, "EngineTestVantor", "Vantor", WS_OVERLAPPED, 0, 0, 10, 10, nullptr, nullptr,
                                    type.hInstance, nullptr);
    }
    ~StandInControl() {
        if (window_) ::DestroyWindow(window_);
    }
    // Keeps the window answering while the test waits.
    void Pump(DWORD ms) {
        const DWORD end = ::GetTickCount() + ms;
        while (static_cast<LONG>(end - ::GetTickCount()) > 0) {
            MSG message;
            while (::PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) ::DispatchMessageA(&message);
            ::Sleep(20);
        }
    }

private:
    HWND window_ = nullptr;
};

PROCESS_INFORMATION StartEngine(const std::string& folder, const std::string& arguments) {
    PROCESS_INFORMATION info{};
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    std::string command = "\"" + FromUnix(ZELBOV_EXE) + "\" " + arguments;
    EXPECT_TRUE(
        ::CreateProcessA(nullptr, &command[0], nullptr, nullptr, FALSE, 0, nullptr, folder.c_str(), &startup, &info));
    return info;
}

class EngineRoute : public ::testing::Test {
protected:
    void SetUp() override {
        WSADATA data;
        ASSERT_EQ(0, ::WSAStartup(MAKEWORD(2, 2), &data));
        WriteRegion(100, 100, 740, 580, 25);
    }
    void TearDown() override { ::WSACleanup(); }
};

TEST_F(EngineRoute, TenSecondsWithTheToneThroughTheEngine) {
    Tone tone;
    EngineSession session;
    ASSERT_TRUE(session.Start());
    Click(session.panel, 30, 130);
    ASSERT_TRUE(session.WaitForFile()) << "the engine made no recording";
    EXPECT_TRUE(::FindWindowA(nullptr, "ScreenCap"));
    ::Sleep(2000);
    // A second client gets nothing and the recording goes on.
    EXPECT_EQ("", SecondClient());
    const std::uint64_t before = FileSize(session.Target());
    // The engine's own stop (two seconds and the graph's Stop) adds one to
    // three seconds of pictures: ten in all, give or take two.
    ::Sleep(6000);
    EXPECT_GT(FileSize(session.Target()), before);
    Click(session.panel, 30, 130);
    EXPECT_TRUE(WaitGone("ScreenCap", 15000));
    EXPECT_EQ(0u, Answer(session).find("Recording Stopped: "));
    session.Keep("engine_record.mpg");
}

TEST_F(EngineRoute, QuittingMidRecordingEndsTheFileWhole) {
    Tone tone;
    EngineSession session;
    ASSERT_TRUE(session.Start());
    Click(session.panel, 30, 130);
    ASSERT_TRUE(session.WaitForFile()) << "the engine made no recording";
    ::Sleep(4000);
    Click(session.panel, 315, 15);
    EXPECT_EQ("Recording is active. Would you like to close program now?", Answer(session, IDYES));
    EXPECT_TRUE(session.Exited(20000));
    EXPECT_TRUE(WaitGone("ScreenCap", 20000));
    // The file ends with the program end code.
    const std::string bytes = ReadFile(session.Target());
    ASSERT_GE(bytes.size(), 4u);
    EXPECT_EQ(std::string("\x00\x00\x01\xB9", 4), bytes.substr(bytes.size() - 4));
    session.Keep("engine_exit.mpg");
}

// Without a window titled "Vantor" the engine ends at its first tick.
TEST_F(EngineRoute, EngineAloneEndsAtOnce) {
    const std::string folder = MakeProgramFolder();
    PROCESS_INFORMATION info = StartEngine(folder, "-file \"" + folder + "\\alone.mpg\" -vista 1");
    EXPECT_EQ(WAIT_OBJECT_0, ::WaitForSingleObject(info.hProcess, 10000));
    EXPECT_EQ(0u, FileSize(folder + "\\alone.mpg"));
    ::CloseHandle(info.hThread);
    ::CloseHandle(info.hProcess);
}

// The control program's exit posts "packet ready" 100: the engine stops as
// for "screen capture message" 100, so the file ends whole.
// Starts the engine on target, lets it record for recordMs once its file
// has bytes, then stops it with "packet ready" 100 as the control program
// does and waits for it to end.
void RecordAndStop(StandInControl& control, const std::string& folder, const std::string& target,
                   const std::string& arguments, DWORD recordMs) {
    PROCESS_INFORMATION info = StartEngine(folder, "-file \"" + target + "\" " + arguments);
    for (DWORD waited = 0; FileSize(target) == 0 && waited < 30000; waited += 200) control.Pump(200);
    ASSERT_GT(FileSize(target), 0u) << "the engine made no recording";
    control.Pump(recordMs);
    HWND engine = ::FindWindowA(nullptr, "ScreenCap");
    ASSERT_TRUE(engine);
    ::PostMessageA(engine, ::RegisterWindowMessageA("packet ready"), 100, 0);
    for (DWORD waited = 0; ::WaitForSingleObject(info.hProcess, 0) == WAIT_TIMEOUT && waited < 15000; waited += 200)
        control.Pump(200);
    EXPECT_EQ(WAIT_OBJECT_0, ::WaitForSingleObject(info.hProcess, 0));
    if (::WaitForSingleObject(info.hProcess, 0) == WAIT_TIMEOUT) ::TerminateProcess(info.hProcess, 1);
    ::CloseHandle(info.hThread);
    ::CloseHandle(info.hProcess);
}

TEST_F(EngineRoute, PacketReadyStopsAndClosesTheFile) {
    Tone tone;
    StandInControl control;
    const std::string folder = MakeProgramFolder();
    const std::string target = folder + "\\packet.mpg";
    ASSERT_NO_FATAL_FAILURE(
        RecordAndStop(control, folder, target, "-fmt 0 -kv 4000 -fr 25 -asrc \"x\" -vista 1", 3000));
    const std::string bytes = ReadFile(target);
    ASSERT_GE(bytes.size(), 4u);
    EXPECT_EQ(std::string("\x00\x00\x01\xB9", 4), bytes.substr(bytes.size() - 4));
}

// Windows Media through the engine: the profile file in the engine's
// folder, the WM ASF Writer (this prefix's stand-in) on the target, the
// sound of the audio server; stopped by "packet ready" 100 like the MPEG
// recording, the file is kept as `artefact` for check_asf_recording.sh.
void RecordWindowsMedia(int format, const char* name, const char* artefact) {
    Tone tone;
    StandInControl control;
    WriteRegion(100, 100, 420, 340, 25);
    const std::string folder = MakeProgramFolder();
    const std::string target = folder + "\\" + name;
    ASSERT_NO_FATAL_FAILURE(
        RecordAndStop(control, folder, target,
                      "-fmt " + std::to_string(format) + " -kv 1000 -ka 128 -fr 15 -asrc \"x\" -vista 1", 5000));
    const std::string artefacts = FromUnix(ARTEFACT_DIR);
    ::CreateDirectoryA(artefacts.c_str(), nullptr);
    EXPECT_TRUE(::CopyFileA(target.c_str(), (artefacts + "\\" + artefact).c_str(), FALSE));
}

TEST_F(EngineRoute, WindowsMediaThroughTheEngine) {
    RecordWindowsMedia(1, "engine.wmv", "engine_record.wmv");
}

// Format 3 (Windows Media MPEG-4) keeps the ".avi" name; the content is ASF.
TEST_F(EngineRoute, WindowsMediaMpeg4KeepsItsAviName) {
    RecordWindowsMedia(3, "engine.avi", "engine_record_mp4s.avi");
}

}  // namespace
