// Runs Zelbo.exe under the harness display: start-up, single instance, the
// settings file and registry key, a Record press through posted mouse
// messages, the exit box, and a screenshot of the panel kept as artefact.
#include <windows.h>

#include <gtest/gtest.h>

#include "recorder/tests/ZelboDriver.h"

#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace {

using namespace zelbotest;

TEST(ZelboProgram, StartsOnceKeepsSettingsAndRecordsThroughThePanel) {
    ::RegDeleteKeyA(HKEY_LOCAL_MACHINE, kSourceKey);
    const std::string folder = MakeProgramFolder();
    std::string golden = GoldenSettings();
    ASSERT_FALSE(golden.empty());
    // Recordings go to the program folder of this run.
    const std::string folderLine = "Recording Folder: C:\\Users\\tester\\Videos\\Zlb Recordings";
    ASSERT_NE(std::string::npos, golden.find(folderLine));
    golden.replace(golden.find(folderLine), folderLine.size(), "Recording Folder: " + folder);
    WriteFile(folder + "\\Settings.ini", golden);

    Program first(folder);
    HWND panel = WaitForWindow("Zelbo", 30000);
    ASSERT_NE(nullptr, panel);
    EXPECT_NE(nullptr, ::FindWindowA(nullptr, "Vantor"));

    // Read and written back unchanged.
    EXPECT_EQ(golden, ReadFile(folder + "\\Settings.ini"));
    // The screen source key is created with its defaults.
    const std::string query = QuerySourceKey();
    EXPECT_TRUE(HasValue(query, "Left", "0xc8")) << query;
    EXPECT_TRUE(HasValue(query, "Top", "0xc8")) << query;
    EXPECT_TRUE(HasValue(query, "Right", "0x258")) << query;
    EXPECT_TRUE(HasValue(query, "Bottom", "0x258")) << query;
    EXPECT_TRUE(HasValue(query, "FrameRate", "0x1e")) << query;
    EXPECT_EQ("Ready (200,200,600,600)", StatusText(panel));

    {
        Program second(folder);
        EXPECT_EQ("Vantor is already running", AnswerMessageBox(second));
        DWORD code = 1;
        EXPECT_TRUE(second.Exited(10000, code));
        EXPECT_EQ(0u, code);
    }

    // Let the first ticks create the options dialog, then keep the look.
    ::Sleep(2500);
    EXPECT_NE(nullptr, ::FindWindowA(nullptr, "Vantor Settings"));
    const std::string artefacts = FromUnix(ARTEFACT_DIR);
    ::CreateDirectoryA(artefacts.c_str(), nullptr);
    EXPECT_TRUE(SaveWindowShot(panel, artefacts + "\\zelbo_panel.bmp"));

    // A press outside every box drags the panel.
    RECT before;
    ::GetWindowRect(panel, &before);
    ::PostMessageA(panel, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(200, 20));
    ::PostMessageA(panel, WM_MOUSEMOVE, MK_LBUTTON, MAKELPARAM(160, 10));
    ::PostMessageA(panel, WM_LBUTTONUP, 0, MAKELPARAM(160, 10));
    RECT after{};
    for (int i = 0; i < 50; ++i) {
        ::Sleep(100);
        ::GetWindowRect(panel, &after);
        if (after.left != before.left) break;
    }
    EXPECT_EQ(before.left - 40, after.left);
    EXPECT_EQ(before.top - 10, after.top);
    EXPECT_EQ(before.right - before.left, after.right - after.left);

    // Record: the capture graph stops at the first filter it cannot find
    // (at the latest the audio device named in the settings, which this
    // machine lacks) and the panel returns to idle.
    Click(panel, 30, 130);
    const std::string failure = AnswerMessageBox(first);
    EXPECT_EQ(0u, failure.find("Cannot install ")) << failure;
    EXPECT_EQ(failure.size() - 7, failure.rfind(" filter")) << failure;
    EXPECT_EQ("Recording Stopped: 0.00 MB", AnswerMessageBox(first));
    EXPECT_EQ("Recording Stopped: 0.00 MB", StatusText(panel));
    EXPECT_EQ("Zelbo", [&] {
        char title[64] = {};
        ::GetWindowTextA(panel, title, sizeof title);
        return std::string(title);
    }());

    // The settings box shows the options dialog, which was created hidden.
    HWND options = ::FindWindowA(nullptr, "Vantor Settings");
    ASSERT_NE(nullptr, options);
    EXPECT_FALSE(::IsWindowVisible(options));
    Click(panel, 280, 50);
    for (int i = 0; i < 50 && !::IsWindowVisible(options); ++i) ::Sleep(100);
    EXPECT_TRUE(::IsWindowVisible(options));
    EXPECT_EQ(4000u, ::GetDlgItemInt(options, 1034, nullptr, FALSE));
    EXPECT_EQ(25u, ::GetDlgItemInt(options, 1035, nullptr, FALSE));
    char format[32] = {};
    ::GetDlgItemTextA(options, 1054, format, sizeof format);
    EXPECT_STREQ("MPEG-2", format);

    // A refused OK keeps the dialog open and changes nothing; a valid one
    // stores every field and hides the dialog.
    const std::string stored = ReadFile(folder + "\\Settings.ini");
    ::SetDlgItemTextA(options, 1056, "1:00:00");
    ::SetDlgItemTextA(options, 1055, "7");
    ::PostMessageA(options, WM_COMMAND, IDOK, 0);
    EXPECT_EQ("Unknown stop time format! (hh:mm:ss)", AnswerMessageBox(first));
    EXPECT_TRUE(::IsWindowVisible(options));
    EXPECT_EQ(stored, ReadFile(folder + "\\Settings.ini"));
    ::SetDlgItemTextA(options, 1056, "00:02:05");
    ::PostMessageA(options, WM_COMMAND, IDOK, 0);
    for (int i = 0; i < 50 && ::IsWindowVisible(options); ++i) ::Sleep(100);
    EXPECT_FALSE(::IsWindowVisible(options));
    std::string saved;
    // The file is rewritten in place: read until the new text is whole.
    for (int i = 0; i < 50; ++i) {
        saved = ReadFile(folder + "\\Settings.ini");
        if (saved != stored && saved.find(" alter\n") != std::string::npos &&
            saved.find("VistaAudio: ") != std::string::npos)
            break;
        ::Sleep(100);
    }
    EXPECT_NE(std::string::npos, saved.find("\nMax File Time: 125\n")) << saved;
    EXPECT_NE(std::string::npos, saved.find("\nMax File Size: 7\n")) << saved;
    EXPECT_EQ("Ready (200,200,600,600)", StatusText(panel));

    // Exit box: temporary waves go, a directory of such a name stays.
    WriteFile(folder + "\\take_100.wav", "RIFF");
    ::CreateDirectoryA((folder + "\\dir_100.wav").c_str(), nullptr);
    Click(panel, 315, 15);
    DWORD code = 1;
    ASSERT_TRUE(first.Exited(15000, code));
    EXPECT_EQ(0u, code);
    EXPECT_FALSE(Exists(folder + "\\take_100.wav"));
    EXPECT_TRUE(Exists(folder + "\\dir_100.wav"));
}

TEST(ZelboProgram, StartRefusals) {
    struct Case {
        const char* name;
        bool settingsFile;
        bool textLeft;  // "Left" stored as a string
        std::string message;
    };
    const Case cases[] = {
        {"no settings file", false, false, "Cannot find or open file %s\\Settings.ini. Cannot read settings"},
        {"wrong value type", true, true, "Cannot read screen coordinates in the registry. Cannot continue"},
    };
    for (const Case& c : cases) {
        ::RegDeleteKeyA(HKEY_LOCAL_MACHINE, kSourceKey);
        if (c.textLeft) {
            HKEY key;
            ASSERT_EQ(ERROR_SUCCESS, ::RegCreateKeyExA(HKEY_LOCAL_MACHINE, kSourceKey, 0, nullptr, 0, KEY_ALL_ACCESS,
                                                       nullptr, &key, nullptr));
            const DWORD values[] = {200, 600, 600, 30};
            const char* names[] = {"Right", "Top", "Bottom", "FrameRate"};
            for (int i = 0; i < 4; ++i)
                ::RegSetValueExA(key, names[i], 0, REG_DWORD, reinterpret_cast<const BYTE*>(&values[i]), 4);
            ::RegSetValueExA(key, "Left", 0, REG_SZ, reinterpret_cast<const BYTE*>("200"), 4);
            ::RegCloseKey(key);
        }
        const std::string folder = MakeProgramFolder();
        if (c.settingsFile) WriteFile(folder + "\\Settings.ini", GoldenSettings());
        std::string expected = c.message;
        const std::size_t at = expected.find("%s");
        if (at != std::string::npos) expected.replace(at, 2, folder);

        Program program(folder);
        EXPECT_EQ(expected, AnswerMessageBox(program, IDOK, 30000)) << c.name;
        if (!c.settingsFile) {
            DWORD code = 1;
            EXPECT_TRUE(program.Exited(10000, code)) << c.name;
            EXPECT_EQ(0u, code) << c.name;
        }
    }
    ::RegDeleteKeyA(HKEY_LOCAL_MACHINE, kSourceKey);
}

}  // namespace

namespace {

using namespace zelbotest;

struct ClassSearch {
    DWORD pid;
    const char* cls;
    std::vector<HWND> found;
};

BOOL CALLBACK FindByClass(HWND hwnd, LPARAM context) {
    ClassSearch* search = reinterpret_cast<ClassSearch*>(context);
    DWORD pid = 0;
    ::GetWindowThreadProcessId(hwnd, &pid);
    char cls[64] = {};
    ::GetClassNameA(hwnd, cls, sizeof cls);
    if (pid == search->pid && std::string(cls) == search->cls && ::IsWindowVisible(hwnd)) search->found.push_back(hwnd);
    return TRUE;
}

std::vector<HWND> WindowsOfClass(const Program& program, const char* cls) {
    ClassSearch search{program.info.dwProcessId, cls, {}};
    ::EnumWindows(FindByClass, reinterpret_cast<LPARAM>(&search));
    return search.found;
}

// Waits until the panel's status line reads `text`.
bool WaitStatus(HWND panel, const std::string& text) {
    for (int i = 0; i < 100; ++i) {
        if (StatusText(panel) == text) return true;
        ::Sleep(100);
    }
    return false;
}

TEST(ZelboProgram, RegionByMarkersAndByWindowPicker) {
    ::RegDeleteKeyA(HKEY_LOCAL_MACHINE, kSourceKey);
    const std::string folder = MakeProgramFolder();
    std::string settings = GoldenSettings();
    const std::string folderLine = "Recording Folder: C:\\Users\\tester\\Videos\\Zlb Recordings";
    settings.replace(settings.find(folderLine), folderLine.size(), "Recording Folder: " + folder);
    WriteFile(folder + "\\Settings.ini", settings);

    // A window of another program for the picker to choose.
    HWND target = ::CreateWindowExA(WS_EX_TOPMOST, "STATIC", "Picker target", WS_POPUP | WS_VISIBLE | WS_BORDER, 300,
                                    250, 417, 233, nullptr, nullptr, nullptr, nullptr);
    ASSERT_NE(nullptr, target);

    Program program(folder);
    HWND panel = WaitForWindow("Zelbo", 30000);
    ASSERT_NE(nullptr, panel);
    // The markers come with the options dialog, on the panel's second tick.
    ASSERT_NE(nullptr, WaitForWindow("Vantor Settings", 15000));

    // The region box puts the markers on the region's corners.
    Click(panel, 50, 90);
    std::vector<HWND> markers;
    for (int i = 0; i < 50; ++i) {
        markers = WindowsOfClass(program, "ZelboMarker");
        RECT r{};
        if (markers.size() == 2 && ::GetWindowRect(markers[0], &r) && (r.left == 188 || r.left == 600)) break;
        ::Sleep(100);
    }
    ASSERT_EQ(2u, markers.size());
    HWND bottomRight = nullptr;
    for (HWND m : markers) {
        RECT r;
        ::GetWindowRect(m, &r);
        if (r.left == 600 && r.top == 600)
            bottomRight = m;
        else
            EXPECT_TRUE(r.left == 188 && r.top == 188) << r.left << "," << r.top;
    }
    ASSERT_NE(nullptr, bottomRight);
    // The frame bars follow the markers; give them the same time to show.
    size_t bars = 0;
    for (int i = 0; i < 50 && (bars = WindowsOfClass(program, "ZelboFrameBar").size()) != 4; ++i) ::Sleep(100);
    EXPECT_EQ(4u, bars);

    // Dragging the bottom-right marker by (-100, -50) commits a region
    // rounded to multiples of 8.
    ::PostMessageA(bottomRight, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(6, 6));
    ::PostMessageA(bottomRight, WM_MOUSEMOVE, MK_LBUTTON, MAKELPARAM(-94, -44));
    ::PostMessageA(bottomRight, WM_LBUTTONUP, 0, MAKELPARAM(6, 6));
    EXPECT_TRUE(WaitStatus(panel, "200,200,496,544")) << StatusText(panel);
    std::string query = QuerySourceKey();
    EXPECT_TRUE(HasValue(query, "Right", "0x1f0")) << query;
    EXPECT_TRUE(HasValue(query, "Bottom", "0x220")) << query;

    // The picker: pressed on the panel, released over the other window.
    Click(panel, 280, 90);
    std::vector<HWND> pickers;
    for (int i = 0; i < 50 && pickers.empty(); ++i) {
        pickers = WindowsOfClass(program, "ZelboPicker");
        ::Sleep(100);
    }
    ASSERT_EQ(1u, pickers.size());
    RECT picker;
    ::GetWindowRect(pickers[0], &picker);
    const int dx = 450 - picker.left - 6;
    const int dy = 300 - picker.top - 6;
    ::PostMessageA(pickers[0], WM_MOUSEMOVE, MK_LBUTTON, MAKELPARAM(dx, dy));
    // The picker follows the pointer: released at its centre.
    ::PostMessageA(pickers[0], WM_LBUTTONUP, 0, MAKELPARAM(6, 6));
    // 417 x 233 is kept as 416 x 232.
    EXPECT_TRUE(WaitStatus(panel, "300,250,716,482")) << "[" << StatusText(panel) << "]";
    query = QuerySourceKey();
    EXPECT_TRUE(HasValue(query, "Left", "0x12c")) << query;
    EXPECT_TRUE(HasValue(query, "Right", "0x2cc")) << query;

    ::DestroyWindow(target);
    Click(panel, 315, 15);
    DWORD code = 1;
    EXPECT_TRUE(program.Exited(15000, code));
}

}  // namespace
