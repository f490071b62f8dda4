// Records for real through the panel under Wine: the screen source, the
// MPEG-2 encoder, the multiplexer, the time marker and the file writer, with
// the PulseAudio null sink's monitor as audio source while a tone plays into
// that sink. The recording is kept as artefact for the ffprobe checks of
// check_recording.sh; the stop limits are checked here.
#include <windows.h>

#include <dshow.h>
#include <mmsystem.h>

#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <cstdint>
#include <algorithm>
#include <map>
#include <string>
#include <vector>

#include "tests/support/GraphHelpers.h"
#include "recorder/tests/ZelboDriver.h"

namespace {

using namespace zelbotest;

const wchar_t kAudioDevice[] = L"Korvell Audio Capture";

// A top-most window over the capture region that repaints random blocks
// every 40 ms, so the encoder has pictures that change (a still desktop
// codes to almost nothing).
class Noise {
public:
    Noise(int left, int top, int width, int height) {
        thread_ = ::CreateThread(nullptr, 0, Run, this, 0, nullptr);
        rect_ = {left, top, left + width, top + height};
        ::SetEvent(ready_);
    }
    ~Noise() {
        stop_ = true;
        ::WaitForSingleObject(thread_, 5000);
        ::CloseHandle(thread_);
        ::CloseHandle(ready_);
    }

private:
    static LRESULT CALLBACK Proc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
        if (message == WM_TIMER) {
            HDC dc = ::GetDC(hwnd);
            RECT client;
            ::GetClientRect(hwnd, &client);
            for (int i = 0; i < 200; ++i) {
                const int x = std::rand() % (client.right + 1);
                const int y = std::rand() % (client.bottom + 1);
                RECT block{x, y, x + 8 + std::rand() % 64, y + 8 + std::rand() % 64};
                HBRUSH brush = ::CreateSolidBrush(RGB(std::rand() % 256, std::rand() % 256, std::rand() % 256));
                ::FillRect(dc, &block, brush);
                ::DeleteObject(brush);
            }
            ::ReleaseDC(hwnd, dc);
            return 0;
        }
        return ::DefWindowProcW(hwnd, message, wParam, lParam);
    }
    static DWORD WINAPI Run(LPVOID context) {
        Noise* self = static_cast<Noise*>(context);
        ::WaitForSingleObject(self->ready_, INFINITE);
        WNDCLASSW wc{};
        wc.lpfnWndProc = Proc;
        wc.hInstance = ::GetModuleHandleW(nullptr);
        wc.lpszClassName = L"ZelboTestNoise";
        ::RegisterClassW(&wc);
        const RECT& r = self->rect_;
        HWND hwnd = ::CreateWindowExW(WS_EX_TOPMOST | WS_EX_TOOLWINDOW | WS_EX_NOACTIVATE, L"ZelboTestNoise", L"",
                                      WS_POPUP | WS_VISIBLE, r.left, r.top, r.right - r.left, r.bottom - r.top, nullptr,
                                      nullptr, wc.hInstance, nullptr);
        ::SetTimer(hwnd, 1, 40, nullptr);
        MSG msg;
        while (!self->stop_) {
            while (::PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) ::DispatchMessageW(&msg);
            ::MsgWaitForMultipleObjects(0, nullptr, FALSE, 20, QS_ALLINPUT);
        }
        ::DestroyWindow(hwnd);
        return 0;
    }

    HANDLE ready_ = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
    HANDLE thread_ = nullptr;
    RECT rect_{};
    volatile bool stop_ = false;
};

// What this machine lacks for a recording; empty when all is there.
std::string MissingFilters() {
    const wchar_t* filters[] = {L"Korvell MPEG-2 Video Encoder", L"Korvell MPEG Muxteron", L"Korvell Chronel",
                                L"Korvell Sink Filter", L"Korvell Layer II Audio Encoder"};
    std::string missing;
    graphtest::ComPtr<IBaseFilter> filter;
    for (const wchar_t* name : filters) {
        if (FAILED(graphtest::FindFilterByFriendlyName(graphtest::kLegacyFilterCategory, name, filter.Put())))
            missing += " \"" + std::string(name, name + wcslen(name)) + "\"";
    }
    if (FAILED(graphtest::FindFilterByFriendlyName(CLSID_VideoInputDeviceCategory, L"UScreenCapture", filter.Put())))
        missing += " \"UScreenCapture\"";
    if (FAILED(graphtest::FindFilterByFriendlyName(CLSID_AudioInputDeviceCategory, kAudioDevice, filter.Put())))
        missing += " the audio device \"Korvell Audio Capture\"";
    return missing;
}

// The device's first output pin name, which the settings must name.
std::string AudioOutputPin() {
    graphtest::ComPtr<IBaseFilter> filter;
    if (FAILED(graphtest::FindFilterByFriendlyName(CLSID_AudioInputDeviceCategory, kAudioDevice, filter.Put())))
        return {};
    graphtest::ComPtr<IEnumPins> pins;
    if (FAILED(filter->EnumPins(pins.Put()))) return {};
    IPin* pin = nullptr;
    std::string name;
    while (name.empty() && pins->Next(1, &pin, nullptr) == S_OK) {
        PIN_INFO info{};
        if (SUCCEEDED(pin->QueryPinInfo(&info))) {
            if (info.pFilter) info.pFilter->Release();
            if (info.dir == PINDIR_OUTPUT) {
                char text[128] = {};
                ::WideCharToMultiByte(CP_ACP, 0, info.achName, -1, text, sizeof text, nullptr, nullptr);
                name = text;
            }
        }
        pin->Release();
    }
    return name;
}

// A started program with its panel up and its options dialog created.
struct Session {
    std::string folder = MakeProgramFolder();
    Program* program = nullptr;
    HWND panel = nullptr;

    std::string recordings = folder;  // the "Recording Folder"

    // The recordings' extension: ".wmv" for Windows Media (protocol 1).
    std::string extension = ".mpg";

    bool Start(const std::string& pin, int maxSize, int maxTime, bool videoOnly = false, int fps = 25, int kbps = 4000,
               int protocol = 0) {
        if (protocol == 1) extension = ".wmv";
        WriteFile(folder + "\\Settings.ini",
                  SettingsText({recordings, pin, maxSize, maxTime, videoOnly, fps, kbps, protocol}));
        program = new Program(folder);
        panel = WaitForWindow("Zelbo", 30000);
        // The first ticks create the options dialog with the graph.
        for (int i = 0; i < 100 && !::FindWindowA(nullptr, "Vantor Settings"); ++i) ::Sleep(100);
        return panel && ::FindWindowA(nullptr, "Vantor Settings");
    }
    // The recording's name is made unique against the folder (which holds
    // Zelbo.exe), so it is looked for.
    std::string Target() const {
        WIN32_FIND_DATAA found;
        HANDLE search = ::FindFirstFileA((recordings + "\\*" + extension).c_str(), &found);
        if (search == INVALID_HANDLE_VALUE) return recordings + "\\none" + extension;
        ::FindClose(search);
        return recordings + "\\" + found.cFileName;
    }
    void Exit() {
        Click(panel, 315, 15);
        DWORD code = 1;
        EXPECT_TRUE(program->Exited(15000, code));
    }
    ~Session() { delete program; }
};

class ZelboRecord : public ::testing::Test {
protected:
    void SetUp() override {
        ::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
        // A filter that is not registered is a fault of the installation.
        const std::string missing = MissingFilters();
        ASSERT_TRUE(missing.empty()) << "cannot record, not registered:" << missing;
        pin_ = AudioOutputPin();
    }
    // Wine 8.0's audio capture filter lists the device but has no pins.
    bool NoAudio() const { return pin_.empty(); }
    // Records ten seconds of a 640 x 480 region through the panel and keeps
    // the file as `artefact`.
    void RecordTenSeconds(bool videoOnly, const char* artefact);
    void TearDown() override { ::CoUninitialize(); }
    std::string pin_;
};

void ZelboRecord::RecordTenSeconds(bool videoOnly, const char* artefact) {
    WriteRegion(100, 100, 740, 580, 30);
    Noise noise(100, 100, 640, 480);
    Session session;
    ASSERT_TRUE(session.Start(pin_, 0, 0, videoOnly));

    Click(session.panel, 30, 130);
    // The graph runs a second after the press; the file writer creates the
    // target when the graph starts.
    DWORD waited = 0;
    while (FileSize(session.Target()) == 0 && waited < 20000) {
        ::Sleep(50);
        waited += 50;
    }
    ASSERT_GT(FileSize(session.Target()), 0u) << "no recording appeared";
    ::Sleep(10000);
    Click(session.panel, 30, 130);
    const std::string stopped = AnswerMessageBox(*session.program);
    EXPECT_EQ(0u, stopped.find("Recording Stopped: ")) << stopped;
    const std::string query = QuerySourceKey();
    EXPECT_TRUE(HasValue(query, "Right", "0x2e4")) << query;
    EXPECT_TRUE(HasValue(query, "FrameRate", "0x19")) << query;

    const std::string artefacts = FromUnix(ARTEFACT_DIR);
    ::CreateDirectoryA(artefacts.c_str(), nullptr);
    EXPECT_TRUE(::CopyFileA(session.Target().c_str(), (artefacts + "\\" + artefact).c_str(), FALSE));
    session.Exit();
}

TEST_F(ZelboRecord, TenSecondsOfA640x480RegionWithTheTone) {
    if (NoAudio()) GTEST_SKIP() << "the audio capture filter \"Korvell Audio Capture\" has no output pin";
    Tone tone;
    ASSERT_TRUE(tone.Playing());
    RecordTenSeconds(false, "zelbo_record.mpg");
}

TEST_F(ZelboRecord, TenSecondsOfVideoOnly) {
    RecordTenSeconds(true, "zelbo_record_video.mpg");
}

TEST_F(ZelboRecord, PauseAndResumeWriteOneFile) {
    WriteRegion(100, 100, 420, 340, 30);
    Noise noise(100, 100, 320, 240);
    Session session;
    ASSERT_TRUE(session.Start(pin_, 0, 0, NoAudio()));
    Click(session.panel, 30, 130);
    for (int i = 0; i < 200 && FileSize(session.Target()) == 0; ++i) ::Sleep(100);
    ASSERT_GT(FileSize(session.Target()), 0u);
    ::Sleep(3000);

    Click(session.panel, 100, 130);  // pause: the segment ends and the file is closed
    ::Sleep(3000);
    const std::string target = session.Target();
    const std::uint64_t paused = FileSize(target);
    ::Sleep(1500);
    EXPECT_EQ(paused, FileSize(target)) << "the file grows while paused";

    Click(session.panel, 100, 130);  // resume: the same target goes on
    std::uint64_t resumed = paused;
    for (int i = 0; i < 100 && resumed <= paused; ++i) {
        ::Sleep(100);
        resumed = FileSize(target);
    }
    EXPECT_GT(resumed, paused);
    ::Sleep(2000);
    Click(session.panel, 30, 130);
    const std::string stopped = AnswerMessageBox(*session.program);
    EXPECT_EQ(0u, stopped.find("Recording Stopped: ")) << stopped;
    EXPECT_EQ(target, session.Target()) << "a second file was made";
    EXPECT_GT(FileSize(target), resumed);
    session.Exit();
}

TEST_F(ZelboRecord, LimitsStopTheRecordingByThemselves) {
    struct Case {
        const char* name;
        int maxSize;
        int maxTime;
        const char* reason;
    };
    const Case cases[] = {
        {"time", 0, 10, "Recording Stopped. File time exceeded"},
        {"size", 1, 0, "Recording Stopped. File size exceeded"},
    };
    for (const Case& c : cases) {
        // 641 x 479 is recorded as 640 x 472.
        WriteRegion(100, 100, 741, 579, 30);
        Noise noise(100, 100, 641, 479);
        Session session;
        ASSERT_TRUE(session.Start(pin_, c.maxSize, c.maxTime, NoAudio())) << c.name;
        const DWORD start = ::GetTickCount();
        Click(session.panel, 30, 130);
        const std::string stopped = AnswerMessageBox(*session.program, IDOK, 60000);
        const DWORD elapsed = ::GetTickCount() - start;
        EXPECT_EQ(0u, stopped.find("Recording Stopped: ")) << c.name << ": " << stopped;
        EXPECT_EQ(c.reason, AnswerMessageBox(*session.program)) << c.name;
        const std::string query = QuerySourceKey();
        EXPECT_TRUE(HasValue(query, "Right", "0x2e4")) << query;
        EXPECT_TRUE(HasValue(query, "Bottom", "0x23c")) << query;
        const std::uint64_t size = FileSize(session.Target());
        if (c.maxTime) {
            EXPECT_GE(elapsed, 10000u) << c.name;
            EXPECT_LE(elapsed, 15000u) << c.name;
        } else {
            // Checked once a second: a little over the limit at most.
            EXPECT_GE(size, 1048576u) << c.name;
            EXPECT_LE(size, 1048576u * 2) << c.name;
        }
        session.Exit();
    }
}

// Fills the file system of `folder` up to `leave` bytes with a file of its
// own, whose name is returned.
// The file writer keeps 16 MB free for a recording's end and calls the disk
// full below that: here 2 MB into the recording.
const std::uint64_t kFullDiskLeaves = 18u << 20;

std::string FillDisk(const std::string& folder, std::uint64_t leave) {
    const std::string filler = folder + "\\filler.bin";
    HANDLE file = ::CreateFileA(filler.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    EXPECT_NE(INVALID_HANDLE_VALUE, file);
    const std::vector<char> block(65536, 'x');
    ULARGE_INTEGER free{};
    while (::GetDiskFreeSpaceExA(folder.c_str(), &free, nullptr, nullptr) && free.QuadPart > leave) {
        const std::uint64_t want = free.QuadPart - leave;
        const DWORD size = static_cast<DWORD>(want < block.size() ? want : block.size());
        DWORD written = 0;
        if (!::WriteFile(file, block.data(), size, &written, nullptr) || written == 0) break;
    }
    ::CloseHandle(file);
    return filler;
}

void KeepArtefact(const std::string& path, const char* name) {
    const std::string artefacts = FromUnix(ARTEFACT_DIR);
    ::CreateDirectoryA(artefacts.c_str(), nullptr);
    EXPECT_TRUE(::CopyFileA(path.c_str(), (artefacts + "\\" + name).c_str(), FALSE)) << path;
}

// A target that cannot be written ends the recording at once, with what
// failed and where; one that fills its disk ends when the disk is full and
// keeps a file that decodes.
TEST_F(ZelboRecord, WriteFailuresEndTheRecordingAndSayWhy) {
    const std::string small = FromUnix(SMALL_FOLDERS);
    ULARGE_INTEGER total{};
    ASSERT_TRUE(::GetDiskFreeSpaceExA((small + "\\full").c_str(), nullptr, &total, nullptr));
    ASSERT_LT(total.QuadPart, 64u * 1048576u) << "the small file system is not mounted";
    struct Case {
        const char* name;
        std::string folder;
        const char* reason;
    };
    const Case cases[] = {
        {"missing folder", "", "(the folder does not exist)"},
        {"read-only folder", small + "\\readonly", ""},
        {"full disk", small + "\\full", "(the disk is full)"},
    };
    for (const Case& c : cases) {
        WriteRegion(100, 100, 420, 340, 30);
        Noise noise(100, 100, 320, 240);
        Session session;
        session.recordings = c.folder.empty() ? session.folder + "\\gone" : c.folder;
        std::string filler;
        if (c.folder == small + "\\full") filler = FillDisk(c.folder, kFullDiskLeaves);
        ASSERT_TRUE(session.Start(pin_, 0, 0, NoAudio())) << c.name;
        Click(session.panel, 30, 130);
        std::string message = AnswerMessageBox(*session.program, IDOK, 60000);
        if (message.find("Cannot find directory") == 0) message = AnswerMessageBox(*session.program, IDOK, 60000);
        EXPECT_EQ(0u, message.find("Recording failed: " + session.recordings + "\\")) << c.name << ": " << message;
        EXPECT_NE(std::string::npos, message.find(c.reason)) << c.name << ": " << message;
        EXPECT_EQ(std::string::npos, message.find("Recording Stopped: ")) << c.name;
        ::Sleep(1500);
        EXPECT_EQ("Recording failed", StatusText(session.panel)) << c.name;
        if (!filler.empty()) {
            const std::string target = session.Target();
            EXPECT_GT(FileSize(target), 500000u) << c.name;
            KeepArtefact(target, "zelbo_disk_full.mpg");
            ::DeleteFileA(target.c_str());
            ::DeleteFileA(filler.c_str());
        }
        session.Exit();
    }
}

// Settings that cannot be saved (a full disk) stay as they were on disk.
TEST_F(ZelboRecord, FailedSaveKeepsTheSettingsFile) {
    const std::string full = FromUnix(SMALL_FOLDERS) + "\\full";
    const std::string folder = full + "\\program";
    ::CreateDirectoryA(folder.c_str(), nullptr);
    ASSERT_TRUE(::CopyFileA(FromUnix(ZELBO_EXE).c_str(), (folder + "\\Zelbo.exe").c_str(), FALSE));
    // Written by hand: the program writes it back in its own layout at start.
    const std::string settings = SettingsText({folder, pin_, 0, 0, true}) + "\n";
    WriteFile(folder + "\\Settings.ini", settings);
    const std::string filler = FillDisk(full, 0);
    {
        Program program(folder);
        const std::string message = AnswerMessageBox(program, IDOK, 30000);
        EXPECT_EQ("Cannot find or open file " + folder + "\\Settings.ini. Cannot save settings", message);
        EXPECT_EQ(settings, ReadFile(folder + "\\Settings.ini"));
    }
    ::DeleteFileA(filler.c_str());
    ::DeleteFileA((folder + "\\Settings.ini").c_str());
    ::DeleteFileA((folder + "\\Settings.ini.new").c_str());
    ::DeleteFileA((folder + "\\Zelbo.exe").c_str());
    ::RemoveDirectoryA(folder.c_str());
}

// WCAG contrast of two colours.
double Contrast(COLORREF a, COLORREF b) {
    auto luminance = [](COLORREF c) {
        auto channel = [](int v) {
            const double s = v / 255.0;
            return s <= 0.03928 ? s / 12.92 : std::pow((s + 0.055) / 1.055, 2.4);
        };
        return 0.2126 * channel(GetRValue(c)) + 0.7152 * channel(GetGValue(c)) + 0.0722 * channel(GetBValue(c));
    };
    const double x = luminance(a);
    const double y = luminance(b);
    return (std::max(x, y) + 0.05) / (std::min(x, y) + 0.05);
}

// Exit during a recording: the status box is readable while it runs, and the
// file ends whole.
TEST_F(ZelboRecord, ExitDuringARecordingEndsTheFileWhole) {
    WriteRegion(100, 100, 420, 340, 30);
    Noise noise(100, 100, 320, 240);
    Session session;
    ASSERT_TRUE(session.Start(pin_, 0, 0, NoAudio()));
    Click(session.panel, 30, 130);
    for (int i = 0; i < 200 && FileSize(session.Target()) == 0; ++i) ::Sleep(100);
    ASSERT_GT(FileSize(session.Target()), 0u);
    ::Sleep(4000);

    // The status box (12, 40, 165 x 63 in the panel): its background is the
    // commonest colour, its text the one that stands out most.
    POINT origin{12, 40};
    ::ClientToScreen(session.panel, &origin);
    HDC screen = ::GetDC(nullptr);
    std::vector<COLORREF> pixels;
    for (int y = 2; y < 60; ++y)
        for (int x = 2; x < 145; ++x) pixels.push_back(::GetPixel(screen, origin.x + x, origin.y + y) & 0xFFFFFF);
    ::ReleaseDC(nullptr, screen);
    std::map<COLORREF, int> counts;
    for (COLORREF p : pixels) ++counts[p];
    COLORREF background = 0;
    int most = 0;
    for (const auto& entry : counts)
        if (entry.second > most) {
            most = entry.second;
            background = entry.first;
        }
    double best = 1;
    for (const auto& entry : counts) best = std::max(best, Contrast(entry.first, background));
    EXPECT_GE(best, 4.5) << "status text against its box, background " << std::hex << background;
    const std::string artefacts = FromUnix(ARTEFACT_DIR);
    ::CreateDirectoryA(artefacts.c_str(), nullptr);
    EXPECT_TRUE(SaveWindowShot(session.panel, artefacts + "\\zelbo_status_box.bmp"));

    const std::string target = session.Target();
    Click(session.panel, 315, 15);
    EXPECT_EQ("Recording is active. Would you like to close program now?", AnswerMessageBox(*session.program, IDYES));
    DWORD code = 1;
    ASSERT_TRUE(session.program->Exited(20000, code));
    KeepArtefact(target, "zelbo_exit.mpg");
}

// Windows Media through the panel: the screen and the tone through the WM
// ASF Writer (this prefix's stand-in, see companions/asfwriter) for ten
// seconds, 320 x 240 at 15 pictures a second; check_asf_recording.sh reads
// the file back with ffprobe.
TEST_F(ZelboRecord, TenSecondsOfWindowsMediaWithTheTone) {
    if (NoAudio()) GTEST_SKIP() << "the audio capture filter \"Korvell Audio Capture\" has no output pin";
    Tone tone;
    ASSERT_TRUE(tone.Playing());
    WriteRegion(100, 100, 420, 340, 30);
    Noise noise(100, 100, 320, 240);
    Session session;
    ASSERT_TRUE(session.Start(pin_, 0, 0, false, 15, 1000, 1));
    Click(session.panel, 30, 130);
    for (int i = 0; i < 400 && FileSize(session.Target()) == 0; ++i) ::Sleep(50);
    ASSERT_GT(FileSize(session.Target()), 0u) << "no recording appeared";
    // The profile file did its work and is gone.
    EXPECT_EQ(INVALID_FILE_ATTRIBUTES, ::GetFileAttributesA((session.folder + "\\ParvProf.prx").c_str()));
    ::Sleep(10000);
    Click(session.panel, 30, 130);
    const std::string stopped = AnswerMessageBox(*session.program);
    EXPECT_EQ(0u, stopped.find("Recording Stopped: ")) << stopped;
    KeepArtefact(session.Target(), "zelbo_record.wmv");
    session.Exit();
}

// Quitting mid-recording stops the graph, which finishes the ASF file.
TEST_F(ZelboRecord, ExitDuringAWindowsMediaRecordingLeavesAReadableFile) {
    if (NoAudio()) GTEST_SKIP() << "the audio capture filter \"Korvell Audio Capture\" has no output pin";
    WriteRegion(100, 100, 420, 340, 30);
    Session session;
    ASSERT_TRUE(session.Start(pin_, 0, 0, false, 15, 1000, 1));
    Click(session.panel, 30, 130);
    for (int i = 0; i < 400 && FileSize(session.Target()) == 0; ++i) ::Sleep(50);
    ASSERT_GT(FileSize(session.Target()), 0u);
    ::Sleep(3000);
    const std::string target = session.Target();
    Click(session.panel, 315, 15);
    EXPECT_EQ("Recording is active. Would you like to close program now?", AnswerMessageBox(*session.program, IDYES));
    DWORD code = 1;
    ASSERT_TRUE(session.program->Exited(20000, code));
    KeepArtefact(target, "zelbo_exit.wmv");
}

void Register(const std::string& module) {
    std::string command = "regsvr32.exe /s \"" + module + "\"";
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION info{};
    ASSERT_TRUE(::CreateProcessA(nullptr, &command[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &info));
    ::WaitForSingleObject(info.hProcess, 60000);
    DWORD code = 1;
    ::GetExitCodeProcess(info.hProcess, &code);
    ::CloseHandle(info.hThread);
    ::CloseHandle(info.hProcess);
    EXPECT_EQ(0u, code) << command;
}

// The video encoder registered from a folder without its engine Vidova.dll:
// the graph cannot run, the program says so and keeps answering.
TEST_F(ZelboRecord, MissingVideoEngineIsReportedAndTheProgramAnswers) {
    const std::string exe = FromUnix(ZELBO_EXE);
    const std::string bin = exe.substr(0, exe.find_last_of('\\'));
    const std::string copy = MakeProgramFolder();
    ASSERT_TRUE(::CopyFileA((bin + "\\Vidrel.ax").c_str(), (copy + "\\Vidrel.ax").c_str(), FALSE));
    struct Restore {
        std::string original;
        ~Restore() { Register(original); }
    } restore{bin + "\\Vidrel.ax"};
    Register(copy + "\\Vidrel.ax");

    WriteRegion(100, 100, 420, 340, 30);
    Session session;
    ASSERT_TRUE(session.Start(pin_, 0, 0, NoAudio()));
    Click(session.panel, 30, 130);
    std::vector<std::string> messages;
    for (std::string m = AnswerMessageBox(*session.program, IDOK, 30000); m != "(no message box)";
         m = AnswerMessageBox(*session.program, IDOK, 5000))
        messages.push_back(m);
    ASSERT_FALSE(messages.empty());
    EXPECT_EQ(0u, messages.front().find("Cannot ")) << messages.front();
    DWORD_PTR answer = 0;
    EXPECT_NE(0, ::SendMessageTimeoutA(session.panel, WM_NULL, 0, 0, SMTO_ABORTIFHUNG, 5000, &answer))
        << "the panel does not answer";
    EXPECT_EQ(std::string::npos, StatusText(session.panel).find("Recording:"));
    session.Exit();
}

// Run by bench_record.sh: the whole screen (1280 x 720 unless
// ZELBO_BENCH_WIDTH and ZELBO_BENCH_HEIGHT say otherwise) at 30 fps for
// ZELBO_BENCH_SECONDS (60 by default), kept as zelbo_bench.mpg.
TEST_F(ZelboRecord, DISABLED_Benchmark1280x720At30) {
    auto number = [](const char* name, int fallback) {
        char text[16] = {};
        return ::GetEnvironmentVariableA(name, text, sizeof text) ? std::atoi(text) : fallback;
    };
    const int seconds = number("ZELBO_BENCH_SECONDS", 60);
    const int width = number("ZELBO_BENCH_WIDTH", 1280), height = number("ZELBO_BENCH_HEIGHT", 720);
    WriteRegion(0, 0, width, height, 30);
    Noise noise(0, 0, width, height);
    Session session;
    ASSERT_TRUE(session.Start(pin_, 0, 0, NoAudio(), 30, 8000));
    Click(session.panel, 30, 130);
    for (int i = 0; i < 200 && FileSize(session.Target()) == 0; ++i) ::Sleep(100);
    ASSERT_GT(FileSize(session.Target()), 0u);
    // The benchmark's sampler times the working set from this mark on.
    const std::string artefacts = FromUnix(ARTEFACT_DIR);
    ::CreateDirectoryA(artefacts.c_str(), nullptr);
    HANDLE started = ::CreateFileA((artefacts + "\\zelbo_bench.started").c_str(), GENERIC_WRITE, 0, nullptr,
                                   CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(INVALID_HANDLE_VALUE, started);
    ::CloseHandle(started);
    ::Sleep(static_cast<DWORD>(seconds) * 1000);
    Click(session.panel, 30, 130);
    AnswerMessageBox(*session.program);
    EXPECT_TRUE(::CopyFileA(session.Target().c_str(), (artefacts + "\\zelbo_bench.mpg").c_str(), FALSE));
    session.Exit();
}

}  // namespace
