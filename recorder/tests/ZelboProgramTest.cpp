// Runs Zelbo.exe under the harness display: start-up, single instance, the
// settings file and registry key, a Record press through posted mouse
// messages, the exit box, and a screenshot of the panel kept as artefact.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace {

const char kSourceKey[] = "SOFTWARE\\Unreal\\Live\\UScreenCapture";

// Unix paths from the build reach Wine through drive Z:.
std::string FromUnix(const std::string& path)
{
    std::string out = "Z:" + path;
    for (char& c : out)
        if (c == '/') c = '\\';
    return out;
}

std::string ReadFile(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    std::ostringstream out;
    out << in.rdbuf();
    return out.str();
}

void WriteFile(const std::string& path, const std::string& text)
{
    std::ofstream out(path, std::ios::binary);
    out << text;
}

std::string GoldenSettings() { return ReadFile(FromUnix(RECORDER_TEST_DATA "/Settings.ini")); }

// A program folder of its own with a copy of Zelbo.exe.
std::string MakeProgramFolder()
{
    static int serial = 0;
    char temp[MAX_PATH];
    ::GetTempPathA(MAX_PATH, temp);
    const std::string folder =
        std::string(temp) + "zelbo-" + std::to_string(::GetCurrentProcessId()) + "-" + std::to_string(++serial);
    ::CreateDirectoryA(folder.c_str(), nullptr);
    EXPECT_TRUE(::CopyFileA(FromUnix(ZELBO_EXE).c_str(), (folder + "\\Zelbo.exe").c_str(), FALSE));
    return folder;
}

struct Program {
    PROCESS_INFORMATION info{};

    explicit Program(const std::string& folder)
    {
        STARTUPINFOA startup{};
        startup.cb = sizeof startup;
        std::string command = "\"" + folder + "\\Zelbo.exe\"";
        EXPECT_TRUE(::CreateProcessA(nullptr, &command[0], nullptr, nullptr, FALSE, 0, nullptr, folder.c_str(),
                                     &startup, &info));
    }
    ~Program()
    {
        if (!info.hProcess) return;
        if (::WaitForSingleObject(info.hProcess, 0) == WAIT_TIMEOUT) {
            ::TerminateProcess(info.hProcess, 1);
            ::WaitForSingleObject(info.hProcess, 5000);
        }
        ::CloseHandle(info.hThread);
        ::CloseHandle(info.hProcess);
    }
    bool Exited(DWORD ms, DWORD& code) const
    {
        if (::WaitForSingleObject(info.hProcess, ms) != WAIT_OBJECT_0) return false;
        ::GetExitCodeProcess(info.hProcess, &code);
        return true;
    }
};

HWND WaitForWindow(const char* title, DWORD ms)
{
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

BOOL CALLBACK FindBox(HWND hwnd, LPARAM context)
{
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
std::string AnswerMessageBox(const Program& program, int button = IDOK, DWORD ms = 20000)
{
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

void Click(HWND panel, int x, int y)
{
    ::PostMessageA(panel, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(x, y));
    ::PostMessageA(panel, WM_LBUTTONUP, 0, MAKELPARAM(x, y));
}

std::string StatusText(HWND panel)
{
    char text[256] = {};
    ::GetDlgItemTextA(panel, 1038, text, sizeof text);
    return text;
}

// Output of "reg query" on the screen source key.
std::string QuerySourceKey()
{
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

bool HasValue(const std::string& query, const std::string& name, const std::string& hex)
{
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
bool SaveWindowShot(HWND window, const std::string& path)
{
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

bool Exists(const std::string& path) { return ::GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

TEST(ZelboProgram, StartsOnceKeepsSettingsAndRecordsThroughThePanel)
{
    ::RegDeleteKeyA(HKEY_LOCAL_MACHINE, kSourceKey);
    const std::string folder = MakeProgramFolder();
    const std::string golden = GoldenSettings();
    ASSERT_FALSE(golden.empty());
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

    // Record: the capture graph reports its missing source and the panel
    // returns to idle.
    Click(panel, 30, 130);
    EXPECT_EQ("Cannot install Screen Capture filter", AnswerMessageBox(first));
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

TEST(ZelboProgram, StartRefusals)
{
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
