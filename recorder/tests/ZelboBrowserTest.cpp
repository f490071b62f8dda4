// The recordings browser, driven from the panel's browser button as a user
// would: the folder's files listed, a column sort by a header click, a rename
// through the context menu and "Change Item", a refused rename out of the
// folder, two files deleted after the question, and play without a player.
#include <windows.h>

#include <commctrl.h>
#include <gtest/gtest.h>

#include "recorder/tests/ZelboDriver.h"

#include <string>
#include <vector>

namespace {

using namespace zelbotest;

const int kListId = 1045;
const int kPlay = 32809;
const int kDelete = 32776;

// List view messages carry pointers: their records live in the program's
// own memory.
class RemoteList {
public:
    RemoteList(HWND list, DWORD pid) : list_(list) {
        process_ = ::OpenProcess(PROCESS_VM_OPERATION | PROCESS_VM_READ | PROCESS_VM_WRITE, FALSE, pid);
        if (process_) memory_ = ::VirtualAllocEx(process_, nullptr, 4096, MEM_COMMIT, PAGE_READWRITE);
    }
    ~RemoteList() {
        if (memory_) ::VirtualFreeEx(process_, memory_, 0, MEM_RELEASE);
        if (process_) ::CloseHandle(process_);
    }
    bool Ready() const { return memory_ != nullptr; }

    int Count() const { return static_cast<int>(::SendMessageA(list_, LVM_GETITEMCOUNT, 0, 0)); }

    std::string Text(int item, int column) {
        char* text = static_cast<char*>(memory_) + 1024;
        LVITEMA lv{};
        lv.iSubItem = column;
        lv.pszText = text;
        lv.cchTextMax = 256;
        Put(lv);
        ::SendMessageA(list_, LVM_GETITEMTEXTA, static_cast<WPARAM>(item), reinterpret_cast<LPARAM>(memory_));
        char local[256] = {};
        ::ReadProcessMemory(process_, text, local, sizeof local - 1, nullptr);
        return local;
    }

    std::vector<std::string> Column(int column) {
        std::vector<std::string> texts;
        for (int i = 0; i < Count(); ++i) texts.push_back(Text(i, column));
        return texts;
    }

    int Find(const std::string& name) {
        for (int i = 0; i < Count(); ++i)
            if (Text(i, 0) == name) return i;
        return -1;
    }

    // Selects exactly these rows.
    void Select(const std::vector<int>& items) {
        SetState(-1, 0);
        for (int item : items) SetState(item, LVIS_SELECTED | LVIS_FOCUSED);
    }

    RECT HeaderItem(int column) {
        HWND header = reinterpret_cast<HWND>(::SendMessageA(list_, LVM_GETHEADER, 0, 0));
        ::SendMessageA(header, HDM_GETITEMRECT, static_cast<WPARAM>(column), reinterpret_cast<LPARAM>(memory_));
        RECT r{};
        ::ReadProcessMemory(process_, memory_, &r, sizeof r, nullptr);
        return r;
    }

    RECT ItemRect(int item) {
        RECT r{LVIR_BOUNDS, 0, 0, 0};
        Put(r);
        ::SendMessageA(list_, LVM_GETITEMRECT, static_cast<WPARAM>(item), reinterpret_cast<LPARAM>(memory_));
        ::ReadProcessMemory(process_, memory_, &r, sizeof r, nullptr);
        return r;
    }

    void ClickHeader(int column) {
        const RECT r = HeaderItem(column);
        HWND header = reinterpret_cast<HWND>(::SendMessageA(list_, LVM_GETHEADER, 0, 0));
        Click(header, (r.left + r.right) / 2, (r.top + r.bottom) / 2);
        ::Sleep(500);
    }

private:
    template <typename T>
    void Put(const T& value) {
        ::WriteProcessMemory(process_, memory_, &value, sizeof value, nullptr);
    }
    void SetState(int item, UINT state) {
        LVITEMA lv{};
        lv.stateMask = LVIS_SELECTED | LVIS_FOCUSED;
        lv.state = state;
        Put(lv);
        ::SendMessageA(list_, LVM_SETITEMSTATE, static_cast<WPARAM>(item), reinterpret_cast<LPARAM>(memory_));
    }

    HWND list_;
    HANDLE process_ = nullptr;
    void* memory_ = nullptr;
};

void MakeFile(const std::string& path, LONGLONG size, WORD day) {
    HANDLE file = ::CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    ASSERT_NE(INVALID_HANDLE_VALUE, file) << path;
    LARGE_INTEGER end;
    end.QuadPart = size;
    EXPECT_TRUE(::SetFilePointerEx(file, end, nullptr, FILE_BEGIN));
    EXPECT_TRUE(::SetEndOfFile(file));
    SYSTEMTIME local{2008, 3, 0, day, 9, 5, 0, 0};
    FILETIME ft;
    FILETIME utc;
    ::SystemTimeToFileTime(&local, &ft);
    ::LocalFileTimeToFileTime(&ft, &utc);
    EXPECT_TRUE(::SetFileTime(file, nullptr, nullptr, &utc));
    ::CloseHandle(file);
}

struct WindowSearch {
    DWORD pid;
    const char* className;
    HWND found;
};

BOOL CALLBACK MatchWindow(HWND hwnd, LPARAM context) {
    WindowSearch* s = reinterpret_cast<WindowSearch*>(context);
    DWORD owner = 0;
    ::GetWindowThreadProcessId(hwnd, &owner);
    char name[64] = {};
    ::GetClassNameA(hwnd, name, sizeof name);
    if (owner == s->pid && std::string(name) == s->className && ::IsWindowVisible(hwnd)) {
        s->found = hwnd;
        return FALSE;
    }
    return TRUE;
}

HWND FindProcessWindow(DWORD pid, const char* className, DWORD ms) {
    for (DWORD waited = 0; waited <= ms; waited += 100) {
        WindowSearch search{pid, className, nullptr};
        ::EnumWindows(MatchWindow, reinterpret_cast<LPARAM>(&search));
        if (search.found) return search.found;
        ::Sleep(100);
    }
    return nullptr;
}

// Through the row's context menu, "Change File Name", and "Change Item".
void RenameRow(const Program& program, HWND list, RemoteList& rows, int item, const std::string& name) {
    rows.Select({item});
    const RECT r = rows.ItemRect(item);
    const LPARAM at = MAKELPARAM(r.left + 20, (r.top + r.bottom) / 2);
    ::PostMessageA(list, WM_RBUTTONDOWN, MK_RBUTTON, at);
    ::PostMessageA(list, WM_RBUTTONUP, 0, at);
    HWND menu = FindProcessWindow(program.info.dwProcessId, "#32768", 5000);
    ASSERT_NE(nullptr, menu) << "no context menu";
    ::PostMessageA(menu, WM_KEYDOWN, VK_DOWN, 0);
    ::PostMessageA(menu, WM_KEYDOWN, VK_DOWN, 0);
    ::PostMessageA(menu, WM_KEYDOWN, VK_RETURN, 0);
    HWND change = WaitForWindow("Change Item", 5000);
    ASSERT_NE(nullptr, change) << "no Change Item dialog";
    ::SendMessageA(::GetDlgItem(change, 1051), WM_SETTEXT, 0, reinterpret_cast<LPARAM>(name.c_str()));
    ::PostMessageA(change, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0);
    for (int i = 0; i < 50 && ::IsWindow(change); ++i) ::Sleep(100);
}

TEST(ZelboBrowser, ListsSortsRenamesDeletesAndPlays) {
    const std::string folder = MakeProgramFolder();
    const std::string recordings = folder + "\\recordings";
    ASSERT_TRUE(::CreateDirectoryA(recordings.c_str(), nullptr));
    ASSERT_TRUE(::CreateDirectoryA((recordings + "\\sub").c_str(), nullptr));
    MakeFile(recordings + "\\Zelbo.mpg", 3 * 1048576, 7);
    MakeFile(recordings + "\\Zelbo[2].mpg", 5ll << 30, 9);  // sparse: past the low 32 bits
    MakeFile(recordings + "\\notes", 1000, 8);
    MakeFile(recordings + "\\.x", 10, 6);

    std::string settings = GoldenSettings();
    const std::string folderLine = "Recording Folder: C:\\Users\\tester\\Videos\\Zlb Recordings";
    ASSERT_NE(std::string::npos, settings.find(folderLine));
    settings.replace(settings.find(folderLine), folderLine.size(), "Recording Folder: " + recordings);
    WriteFile(folder + "\\Settings.ini", settings);

    Program program(folder);
    HWND panel = WaitForWindow("Zelbo", 30000);
    ASSERT_NE(nullptr, panel);
    ::Sleep(2500);
    Click(panel, 170, 130);  // the browser button
    HWND view = WaitForWindow("Saved recordings", 10000);
    ASSERT_NE(nullptr, view);
    HWND list = ::GetDlgItem(view, kListId);
    RemoteList rows(list, program.info.dwProcessId);
    ASSERT_TRUE(rows.Ready());

    // Newest first; no sub-folder; types after the last '.'.
    EXPECT_EQ((std::vector<std::string>{"Zelbo[2].mpg", "notes", "Zelbo.mpg", ".x"}), rows.Column(0));
    EXPECT_EQ((std::vector<std::string>{"mpg", "", "mpg", "x"}), rows.Column(1));
    EXPECT_EQ((std::vector<std::string>{"5120.000", "0.001", "3.000", "0.000"}), rows.Column(2));
    EXPECT_EQ("Mar/09 09:05", rows.Text(0, 3));
    char line[512] = {};
    ::GetDlgItemTextA(view, 1048, line, sizeof line);
    EXPECT_EQ("Saved recordings folder (" + recordings + ")", std::string(line));

    // "Size (MB)" twice: ascending both times.
    for (int click = 0; click < 2; ++click) {
        rows.ClickHeader(2);
        EXPECT_EQ((std::vector<std::string>{".x", "notes", "Zelbo.mpg", "Zelbo[2].mpg"}), rows.Column(0)) << click;
    }
    const std::string artefacts = FromUnix(ARTEFACT_DIR);
    ::CreateDirectoryA(artefacts.c_str(), nullptr);
    EXPECT_TRUE(SaveWindowShot(view, artefacts + "\\zelbo_browser.bmp"));

    // Renamed in place: the row keeps its place and its other columns.
    RenameRow(program, list, rows, 1, "My [draft] notes.txt");
    EXPECT_EQ("My [draft] notes.txt", rows.Text(1, 0));
    EXPECT_EQ("0.001", rows.Text(1, 2));
    EXPECT_TRUE(Exists(recordings + "\\My [draft] notes.txt"));
    EXPECT_FALSE(Exists(recordings + "\\notes"));
    // A new name never leads out of the folder.
    RenameRow(program, list, rows, 0, "..\\escaped");
    EXPECT_EQ("Could not rename file", AnswerMessageBox(program));
    EXPECT_TRUE(Exists(recordings + "\\.x"));
    EXPECT_FALSE(Exists(folder + "\\escaped"));

    // Two deleted after the question; the list is filled again.
    rows.Select({0, 1});
    ::PostMessageA(view, WM_COMMAND, kDelete, 0);
    EXPECT_EQ("Permanently delete 2 file(s) ?", AnswerMessageBox(program, IDYES));
    ::Sleep(500);
    EXPECT_FALSE(Exists(recordings + "\\.x"));
    EXPECT_FALSE(Exists(recordings + "\\My [draft] notes.txt"));
    EXPECT_TRUE(Exists(recordings + "\\sub"));
    EXPECT_EQ((std::vector<std::string>{"Zelbo[2].mpg", "Zelbo.mpg"}), rows.Column(0));

    // Nothing selected, nothing to play; then play closes the browser and
    // names the file (a missing player is reported, not passed over).
    rows.Select({});
    ::PostMessageA(view, WM_COMMAND, kPlay, 0);
    EXPECT_EQ("No items selected", AnswerMessageBox(program));
    rows.Select({1});
    ::PostMessageA(view, WM_COMMAND, kPlay, 0);
    for (int i = 0; i < 50 && ::IsWindow(view); ++i) ::Sleep(100);
    EXPECT_FALSE(::IsWindow(view));
    EXPECT_EQ("Play: Zelbo.mpg", StatusText(panel));
    EXPECT_EQ("Cannot open " + recordings + "\\Zelbo.mpg", AnswerMessageBox(program));
}

}  // namespace
